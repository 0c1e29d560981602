// SSA construction checked through the block listing: labels, versions, phis and renamed uses.
#include "ir/ssa.h"

#include <gtest/gtest.h>

#include "ir_builders.h"

namespace ovra {
namespace {

using namespace testing_ir;

struct SsaCase {
  const char* label;
  IrFunction function;
  const char* listing;
};

std::vector<SsaCase> ssa_cases() {
  std::vector<SsaCase> cases;
  IrParam c{"c", K::Bool};
  IrParam p{"p", K::Bool};
  IrParam q{"q", K::Bool};

  cases.push_back({"an empty function is one entry block returning nothing",
                   function("f", {}, K::Void, {}),
                   "entry:\n"
                   "  ret\n"});

  cases.push_back(
      {"versions chain through straight-line assignments",
       function("f", {}, K::Int32,
                block(let("x", K::Int32, num("0")), assign("x", bin(Op::Add, id("x"), num("1"))),
                      assign("x", bin(Op::Add, id("x"), num("1"))), ret(id("x")))),
       "entry:\n"
       "  x_ssa1: Int32 = 0\n"
       "  x_ssa2: Int32 = (x_ssa1 + 1)\n"
       "  x_ssa3: Int32 = (x_ssa2 + 1)\n"
       "  ret x_ssa3\n"
       "after_ret_1:\n"
       "  ret\n"});

  cases.push_back({"an if without else merges the branch version with the one before it",
                   function("f", {c}, K::Int32,
                            block(let("x", K::Int32, num("0")),
                                  if_(id("c"), block(assign("x", num("1")))), ret(id("x")))),
                   "entry:\n"
                   "  x_ssa1: Int32 = 0\n"
                   "  br c ? then_1 : merge_2\n"
                   "then_1:\n"
                   "  x_ssa2: Int32 = 1\n"
                   "  br merge_2\n"
                   "merge_2:\n"
                   "  phi x_ssa3: Int32 = [entry: x_ssa1, then_1: x_ssa2]\n"
                   "  ret x_ssa3\n"
                   "after_ret_3:\n"
                   "  ret\n"});

  cases.push_back(
      {"an if with else merges both branch versions; else is numbered last",
       function("f", {c}, K::Int32,
                block(let("x", K::Int32, num("0")),
                      if_(id("c"), block(assign("x", num("1"))), block(assign("x", num("2")))),
                      ret(bin(Op::Add, id("x"), num("1"))))),
       "entry:\n"
       "  x_ssa1: Int32 = 0\n"
       "  br c ? then_1 : else_3\n"
       "then_1:\n"
       "  x_ssa2: Int32 = 1\n"
       "  br merge_2\n"
       "merge_2:\n"
       "  phi x_ssa4: Int32 = [then_1: x_ssa2, else_3: x_ssa3]\n"
       "  ret (x_ssa4 + 1)\n"
       "else_3:\n"
       "  x_ssa3: Int32 = 2\n"
       "  br merge_2\n"
       "after_ret_4:\n"
       "  ret\n"});

  cases.push_back({"a while loop reads its header phi in the condition, the body and after",
                   function("f", {}, K::Int32,
                            block(let("i", K::Int32, num("0")),
                                  while_(bin(Op::Less, id("i"), num("3")),
                                         block(assign("i", bin(Op::Add, id("i"), num("1"))))),
                                  ret(id("i")))),
                   "entry:\n"
                   "  i_ssa1: Int32 = 0\n"
                   "  br while_cond_1\n"
                   "while_cond_1:\n"
                   "  phi i_ssa3: Int32 = [entry: i_ssa1, while_body_2: i_ssa2]\n"
                   "  br (i_ssa3 < 3) ? while_body_2 : while_exit_3\n"
                   "while_body_2:\n"
                   "  i_ssa2: Int32 = (i_ssa3 + 1)\n"
                   "  br while_cond_1\n"
                   "while_exit_3:\n"
                   "  ret i_ssa3\n"
                   "after_ret_4:\n"
                   "  ret\n"});

  cases.push_back({"uses before a loop keep the version from before it",
                   function("f", {}, K::Int32,
                            block(let("i", K::Int32, num("0")),
                                  let("j", K::Int32, bin(Op::Add, id("i"), num("5"))),
                                  while_(bin(Op::Less, id("i"), id("j")),
                                         block(assign("i", bin(Op::Add, id("i"), num("1"))))),
                                  ret(id("j")))),
                   "entry:\n"
                   "  i_ssa1: Int32 = 0\n"
                   "  j_ssa1: Int32 = (i_ssa1 + 5)\n"
                   "  br while_cond_1\n"
                   "while_cond_1:\n"
                   "  phi i_ssa3: Int32 = [entry: i_ssa1, while_body_2: i_ssa2]\n"
                   "  br (i_ssa3 < j_ssa1) ? while_body_2 : while_exit_3\n"
                   "while_body_2:\n"
                   "  i_ssa2: Int32 = (i_ssa3 + 1)\n"
                   "  br while_cond_1\n"
                   "while_exit_3:\n"
                   "  ret j_ssa1\n"
                   "after_ret_4:\n"
                   "  ret\n"});

  cases.push_back(
      {"a variable declared inside a loop body gets no phi",
       function("f", {}, K::Void,
                block(let("i", K::Int32, num("0")),
                      while_(bin(Op::Less, id("i"), num("3")),
                             block(let("t", K::Int32, bin(Op::Multiply, id("i"), num("2"))),
                                   assign("i", bin(Op::Add, id("i"), id("t"))))))),
       "entry:\n"
       "  i_ssa1: Int32 = 0\n"
       "  br while_cond_1\n"
       "while_cond_1:\n"
       "  phi i_ssa3: Int32 = [entry: i_ssa1, while_body_2: i_ssa2]\n"
       "  br (i_ssa3 < 3) ? while_body_2 : while_exit_3\n"
       "while_body_2:\n"
       "  t_ssa1: Int32 = (i_ssa3 * 2)\n"
       "  i_ssa2: Int32 = (i_ssa3 + t_ssa1)\n"
       "  br while_cond_1\n"
       "while_exit_3:\n"
       "  ret\n"});

  cases.push_back(
      {"break jumps to the exit and continue to the update; each latch feeds the phis",
       function("f", {}, K::Int32,
                block(let("s", K::Int32, num("0")),
                      for_(let("i", K::Int32, num("0")), bin(Op::Less, id("i"), num("10")),
                           bin(Op::Equal, id("i"), bin(Op::Add, id("i"), num("1"))),
                           block(if_(bin(Op::Equal, id("i"), num("5")), block(brk())),
                                 if_(bin(Op::Equal, id("i"), num("2")), block(cont())),
                                 assign("s", bin(Op::Add, id("s"), id("i"))))),
                      ret(id("s")))),
       "entry:\n"
       "  s_ssa1: Int32 = 0\n"
       "  i_ssa1: Int32 = 0\n"
       "  br for_cond_1\n"
       "for_cond_1:\n"
       "  phi s_ssa3: Int32 = [entry: s_ssa1, for_update_3: s_ssa4]\n"
       "  phi i_ssa3: Int32 = [entry: i_ssa1, for_update_3: i_ssa2]\n"
       "  br (i_ssa3 < 10) ? for_body_2 : for_exit_4\n"
       "for_body_2:\n"
       "  br (i_ssa3 == 5) ? then_5 : merge_6\n"
       "for_update_3:\n"
       "  phi s_ssa4: Int32 = [then_8: s_ssa3, merge_9: s_ssa2]\n"
       "  i_ssa2: Int32 = (i_ssa3 + 1)\n"
       "  br for_cond_1\n"
       "for_exit_4:\n"
       "  ret s_ssa3\n"
       "then_5:\n"
       "  br for_exit_4\n"
       "merge_6:\n"
       "  br (i_ssa3 == 2) ? then_8 : merge_9\n"
       "after_break_7:\n"
       "  br merge_6\n"
       "then_8:\n"
       "  br for_update_3\n"
       "merge_9:\n"
       "  s_ssa2: Int32 = (s_ssa3 + i_ssa3)\n"
       "  br for_update_3\n"
       "after_continue_10:\n"
       "  br merge_9\n"
       "after_ret_11:\n"
       "  ret\n"});

  cases.push_back({"a bool let of || gets short-circuit blocks and a result phi",
                   function("f", {p, q}, K::Bool,
                            block(let("b", K::Bool, bin(Op::Or, id("p"), id("q"))), ret(id("b")))),
                   "entry:\n"
                   "  or_left_ssa1: Bool = p\n"
                   "  br or_left_ssa1 ? or_true_1 : or_false_2\n"
                   "or_true_1:\n"
                   "  or_true_val_ssa1: Bool = true\n"
                   "  br or_merge_3\n"
                   "or_false_2:\n"
                   "  or_right_ssa1: Bool = q\n"
                   "  br or_merge_3\n"
                   "or_merge_3:\n"
                   "  phi or_result_ssa1: Bool = [or_true_1: or_true_val_ssa1, or_false_2: "
                   "or_right_ssa1]\n"
                   "  b_ssa1: Bool = or_result_ssa1\n"
                   "  ret b_ssa1\n"
                   "after_ret_4:\n"
                   "  ret\n"});

  cases.push_back(
      {"a bool let of && evaluates the right side only when the left holds",
       function("f", {p, q}, K::Void, block(let("b", K::Bool, bin(Op::And, id("p"), id("q"))))),
       "entry:\n"
       "  and_left_ssa1: Bool = p\n"
       "  br and_left_ssa1 ? and_true_2 : and_false_1\n"
       "and_false_1:\n"
       "  and_false_val_ssa1: Bool = false\n"
       "  br and_merge_3\n"
       "and_true_2:\n"
       "  and_right_ssa1: Bool = q\n"
       "  br and_merge_3\n"
       "and_merge_3:\n"
       "  phi and_result_ssa1: Bool = [and_false_1: and_false_val_ssa1, and_true_2: "
       "and_right_ssa1]\n"
       "  b_ssa1: Bool = and_result_ssa1\n"
       "  ret\n"});

  cases.push_back(
      {"an int let of || stays one plain value",
       function("f", {p, q}, K::Void, block(let("n", K::Int32, bin(Op::Or, id("p"), id("q"))))),
       "entry:\n"
       "  n_ssa1: Int32 = (p || q)\n"
       "  ret\n"});

  cases.push_back(
      {"code after a return lands in an unreachable after_ret block",
       function("f", {}, K::Int32,
                block(let("x", K::Int32, num("0")), ret(num("1")), assign("x", num("2")))),
       "entry:\n"
       "  x_ssa1: Int32 = 0\n"
       "  ret 1\n"
       "after_ret_1:\n"
       "  x_ssa2: Int32 = 2\n"
       "  ret\n"});

  cases.push_back(
      {"a name that is not a local is a global: it is stored and read in place",
       function("f", {}, K::Void,
                block(assign("g", bin(Op::Add, id("g"), num("1"))), expr(print(id("g"))))),
       "entry:\n"
       "  store g = (g + 1)\n"
       "  expr __ovra_io_print(g)\n"
       "  ret\n"});

  cases.push_back(
      {"a declaration in an inner block hides the outer variable only there",
       function("f", {c}, K::Int32,
                block(let("x", K::Int32, num("1")),
                      if_(id("c"), block(let("x", K::Int32, num("2")), expr(print(id("x"))))),
                      ret(id("x")))),
       "entry:\n"
       "  x_ssa1: Int32 = 1\n"
       "  br c ? then_1 : merge_2\n"
       "then_1:\n"
       "  x_ssa2: Int32 = 2\n"
       "  expr __ovra_io_print(x_ssa2)\n"
       "  br merge_2\n"
       "merge_2:\n"
       "  ret x_ssa1\n"
       "after_ret_3:\n"
       "  ret\n"});

  cases.push_back({"getUp, toDn and a parameter's own name as its first version",
                   function("f", {IrParam{"n", K::Int32}}, K::Int32,
                            block(expr(method(id("n"), "getUp")),
                                  expr(method(id("n"), "toDn", {num("5")})), ret(id("n")))),
                   "entry:\n"
                   "  n_ssa1: Int32 = (n + 1)\n"
                   "  n_ssa2: Int32 = (n_ssa1 - 5)\n"
                   "  ret n_ssa2\n"
                   "after_ret_1:\n"
                   "  ret\n"});

  cases.push_back({"a variable assigned only in one branch of a loop body merges twice",
                   function("f", {c}, K::Int32,
                            block(let("x", K::Int32, num("0")),
                                  while_(id("c"), block(if_(id("c"), block(assign("x", num("1")))),
                                                        expr(print(id("x"))))),
                                  ret(id("x")))),
                   "entry:\n"
                   "  x_ssa1: Int32 = 0\n"
                   "  br while_cond_1\n"
                   "while_cond_1:\n"
                   "  phi x_ssa3: Int32 = [entry: x_ssa1, merge_5: x_ssa4]\n"
                   "  br c ? while_body_2 : while_exit_3\n"
                   "while_body_2:\n"
                   "  br c ? then_4 : merge_5\n"
                   "while_exit_3:\n"
                   "  ret x_ssa3\n"
                   "then_4:\n"
                   "  x_ssa2: Int32 = 1\n"
                   "  br merge_5\n"
                   "merge_5:\n"
                   "  phi x_ssa4: Int32 = [while_body_2: x_ssa3, then_4: x_ssa2]\n"
                   "  expr __ovra_io_print(x_ssa4)\n"
                   "  br while_cond_1\n"
                   "after_ret_6:\n"
                   "  ret\n"});

  cases.push_back({"break and continue outside a loop become comments",
                   function("f", {}, K::Void, block(brk(), cont())),
                   "entry:\n"
                   "  ; break outside loop (ignored)\n"
                   "  ; continue outside loop (ignored)\n"
                   "  ret\n"});
  return cases;
}

TEST(SsaConstruction, BlocksVersionsAndPhis) {
  for (const SsaCase& c : ssa_cases()) {
    SsaFunction ssa = SsaFunction::from_ir(c.function);
    EXPECT_EQ(render_blocks(ssa), c.listing) << c.label;
  }
}

TEST(SsaConstruction, ModuleKeepsFunctionOrderAndCopiesGlobals) {
  IrModule module;
  module.functions.push_back(function("a", {}, K::Void, {}));
  module.functions.push_back(function("b", {}, K::Void, {}));
  module.globals.push_back(IrGlobal{"g", K::Int32, num("1"), false, Span{}});
  SsaModule ssa = SsaModule::from_ir(module);
  ASSERT_EQ(ssa.functions.size(), 2u);
  EXPECT_EQ(ssa.functions[0].name, "a");
  EXPECT_EQ(ssa.functions[1].name, "b");
  ASSERT_EQ(ssa.globals.size(), 1u);
  EXPECT_EQ(ssa.globals[0].name, "g");
  EXPECT_EQ(render(ssa.target), "Generic");
}

// A long straight-line function and a long chain of loops must both build in linear time; a
// quadratic pass would take minutes here.
TEST(SsaConstruction, LargeFunctionsBuildQuickly) {
  IrBlock body;
  body.push_back(let("x", K::Int32, num("0")));
  for (int i = 0; i < 200000; ++i) {
    body.push_back(assign("x", bin(Op::Add, id("x"), num("1"))));
    if (i % 10 == 0) {
      body.push_back(while_(bin(Op::Less, id("x"), num("5")),
                            block(assign("x", bin(Op::Add, id("x"), num("1"))))));
    }
  }
  body.push_back(ret(id("x")));
  SsaFunction ssa = SsaFunction::from_ir(function("big", {}, K::Int32, std::move(body)));
  EXPECT_GT(ssa.blocks.size(), 60000u);
}

}  // namespace
}  // namespace ovra
