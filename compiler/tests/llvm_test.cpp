// LLVM emission from hand-built IR: constants, names, the module frame and instruction forms.
// Every emitted module is also handed to llc-16, which must accept it.
#include "llvm_backend.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "compiler.h"
#include "ir_builders.h"

namespace ovra {
namespace {

using namespace testing_ir;

std::string emit(const IrModule& module) {
  Result<std::string> text = LLVMBackend().emit_module(SsaModule::from_ir(module));
  EXPECT_TRUE(text.ok());
  return text.ok() ? text.value() : std::string();
}

// llc-16's diagnostics for the text, or "" when it accepts it.
std::string llc_rejection(const std::string& text) {
  char path[] = "/tmp/ovra_llvm_test_XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0)
    return "cannot create a temporary file";
  std::string ll = std::string(path) + ".ll";
  std::string log = std::string(path) + ".log";
  std::ofstream(ll) << text;
  std::string command = "llc-16 -filetype=obj " + ll + " -o /dev/null 2> " + log;
  int status = std::system(command.c_str());
  std::ifstream in(log);
  std::string diagnostics((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(ll.c_str());
  std::remove(log.c_str());
  std::remove(path);
  if (status != 0)
    return diagnostics.empty() ? "llc-16 failed" : diagnostics;
  return "";
}

TEST(LlvmConstants, NumberTextInEachType) {
  struct Case {
    const char* text;
    IrType::Kind type;
    const char* constant;
  };
  const Case cases[] = {
      {"42", K::Int32, "42"},
      {"007", K::Int32, "7"},
      {"2147483648", K::Int32, "2147483647"},
      {"2.9", K::Int32, "2"},
      {"3", K::MultiF, "3.0"},
      {"2.5", K::MultiF, "2.5"},
      {"0.1", K::MultiF, "0.1"},
      {"5.", K::MultiF, "5.0"},
      {"2.5", K::SingleF, "2.5"},
      // 0.1 has no exact float; LLVM wants the float's value as the bits of a double.
      {"0.1", K::SingleF, "0x3FB99999A0000000"},
      {"7", K::SingleF, "7.0"},
      {"-2147483648", K::Int32, "-2147483648"},
      {"-2147483648", K::MultiF, "-2147483648.0"},
      {"-0.5", K::SingleF, "-0.5"},
      {"0", K::Bool, "0"},
      {"3", K::Bool, "1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(llvm_number_constant(c.text, c.type), c.constant)
        << c.text << " as " << render(IrType(c.type));
  }
}

TEST(LlvmConstants, IdentifiersLlvmCannotTakeBareAreQuoted) {
  EXPECT_EQ(llvm_identifier("x_ssa1"), "x_ssa1");
  EXPECT_EQ(llvm_identifier(".ovra_str0"), ".ovra_str0");
  EXPECT_EQ(llvm_identifier("caf\xC3\xA9_ssa1"), "\"caf\\C3\\A9_ssa1\"");
  EXPECT_EQ(llvm_identifier("9lives"), "\"9lives\"");
}

TEST(LlvmModule, EmptyModuleIsTheFrameAndAMainThatInitializesTheRuntime) {
  std::string text = emit(IrModule{});
  EXPECT_EQ(text.substr(0, text.find("declare")),
            "; Ovra LLVM IR (target = Generic)\n"
            "target triple = \"x86_64-unknown-linux-gnu\"\n"
            "!llvm.module.flags = !{!0}\n"
            "!0 = !{i32 2, !\"Debug Info Version\", i32 3}\n"
            "!1 = !DIFile(filename: \"ovra_source.ovra\", directory: \".\")\n"
            "!2 = distinct !DICompileUnit(language: DW_LANG_C, file: !1, isOptimized: false, "
            "runtimeVersion: 0, emissionKind: FullDebug, splitDebugInlining: false, "
            "nameTableKind: None)\n"
            "!llvm.dbg.cu = !{!2}\n"
            "\n"
            "%ovra_rt_string = type opaque\n"
            "%ovra_rt_array = type opaque\n"
            "%ovra_rt_object = type opaque\n"
            "%ovra_rt_value = type opaque\n"
            "\n");
  std::size_t first = text.find("declare void @ovra_rt_init()\n");
  std::size_t last = text.find("declare %ovra_rt_value* @ovra_rt_value_from_multif(double)\n\n");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(last, std::string::npos);
  std::string declarations = text.substr(first, last - first);
  EXPECT_EQ(std::count(declarations.begin(), declarations.end(), '\n'), 34);
  EXPECT_EQ(text.substr(last + 60),
            "define i32 @main(i32 %argc, i8** %argv) {\n"
            "  call void @ovra_rt_init()\n"
            "  ret i32 0\n"
            "}\n"
            "\n");
  EXPECT_EQ(llc_rejection(text), "");
}

struct EmissionCase {
  const char* label;
  IrModule module;
  std::vector<const char*> lines;  // each must appear in the output
};

IrModule module_of(std::vector<IrFunction> functions, std::vector<IrGlobal> globals = {}) {
  IrModule module;
  module.functions = std::move(functions);
  module.globals = std::move(globals);
  return module;
}

IrGlobal global(std::string name, IrType type, std::optional<IrValue> value) {
  return IrGlobal{std::move(name), std::move(type), std::move(value), false, Span{1, 1, 0}};
}

std::vector<EmissionCase> emission_cases() {
  std::vector<EmissionCase> cases;
  cases.push_back(
      {"an empty void function is its debug entries, entry and ret void",
       module_of({function("f", {}, K::Void, {}, 3)}),
       {"!3 = !DISubroutineType(types: !{})\n",
        "!4 = distinct !DISubprogram(name: \"f\", scope: !1, file: !1, line: 3, type: !3, "
        "spFlags: DISPFlagDefinition, unit: !2)\n",
        "!5 = !DILocation(line: 3, column: 1, scope: !4)\n",
        "define void @f() !dbg !4 {\nentry:\n  ret void\n}\n"}});

  cases.push_back({"return x + 1 adds into the returned register; an unnamed parameter is tmp0",
                   module_of({function("inc", {IrParam{"", K::Int32}, IrParam{"x", K::Int32}},
                                       K::Int32, block(ret(bin(Op::Add, id("x"), num("1")))))}),
                   {"!3 = !DIBasicType(name: \"int\", size: 32, encoding: DW_ATE_signed)\n",
                    "define i32 @inc(i32 %tmp0, i32 %x) !dbg !5 {\n", "  %tmp1 = add i32 %x, 1\n",
                    "  ret i32 %tmp1\n"}});

  cases.push_back(
      {"globals: constants in place, other values stored by main; writes store, reads load",
       module_of(
           {function("__top_level_2_1", {}, K::Void,
                     block(assign("n", bin(Op::Add, id("n"), num("1"))), expr(print(id("n")))), 2)},
           {global("n", K::Int32, num("5")), global("f", K::Bool, boolean(true)),
            global("s", K::String, str("hi")), global("d", K::MultiF, num("2.5")),
            global("u", K::Unknown, std::nullopt)}),
       {"@n = global i32 5\n@f = global i1 1\n@s = global ptr null\n@d = global double 0.0\n"
        "@u = global ptr null\n\n",
        "  %tmp0 = load i32, ptr @n\n  %tmp1 = add i32 %tmp0, 1\n  store i32 %tmp1, ptr @n\n",
        "  %tmp2 = load i32, ptr @n\n  %tmp3 = call ptr @ovra_rt_value_from_int(i32 %tmp2)\n"
        "  call void @ovra_rt_io_print(ptr %tmp3)\n",
        "  %tmp4 = getelementptr inbounds [3 x i8], ptr @.ovra_str0, i64 0, i64 0\n"
        "  %tmp5 = call ptr @ovra_rt_string_from_utf8(ptr %tmp4, i64 2)\n"
        "  store ptr %tmp5, ptr @s\n  store double 2.5, ptr @d\n"
        "  call void @__top_level_2_1()\n  ret i32 0\n",
        "@.ovra_str0 = private constant [3 x i8] c\"hi\\00\"\n"}});

  cases.push_back(
      {"operands of different numeric types are converted to the wider one",
       module_of({function("mix", {IrParam{"i", K::Int32}, IrParam{"f", K::SingleF}}, K::MultiF,
                           block(let("d", K::MultiF, bin(Op::Multiply, id("i"), id("f"))),
                                 let("e", K::SingleF, bin(Op::Add, id("f"), num("0.1"))),
                                 ret(bin(Op::Add, id("d"), num("1")))))}),
       {"  %tmp0 = sitofp i32 %i to float\n  %tmp1 = fmul float %tmp0, %f\n"
        "  %d_ssa1 = fpext float %tmp1 to double\n",
        "  %e_ssa1 = fadd float %f, 0x3FB99999A0000000\n",
        "  %tmp2 = fadd double %d_ssa1, 1.0\n"}});

  cases.push_back(
      {"comparisons are i1 whatever the operands; && of comparisons combines i1 values",
       module_of({function("sq", {IrParam{"a", K::Int32}}, K::Int32,
                           block(ret(bin(Op::Multiply, id("a"), id("a"))))),
                  function("cmp", {IrParam{"a", K::Int32}, IrParam{"b", K::MultiF}}, K::Bool,
                           block(ret(bin(Op::And, bin(Op::Less, call("sq", {id("a")}), num("4")),
                                         bin(Op::GreaterEqual, id("b"), num("2"))))))}),
       {"  %tmp1 = call i32 @sq(i32 %a), !dbg !10\n  %tmp2 = icmp slt i32 %tmp1, 4\n",
        "  %tmp3 = fcmp oge double %b, 2.0\n  %tmp4 = and i1 %tmp2, %tmp3\n  ret i1 %tmp4\n"}});

  cases.push_back(
      {"copies of pointers, bools and floats are valid instructions",
       module_of(
           {function("copies", {IrParam{"s", K::String}, IrParam{"b", K::Bool}}, K::Void,
                     block(let("t", K::String, id("s")), let("c", K::Bool, id("b")),
                           let("g", K::SingleF, num("1.5")), let("u", K::Unknown, std::nullopt),
                           let("m", K::Int32, method(id("t"), "length"))))}),
       {"  %t_ssa1 = bitcast ptr %s to ptr\n", "  %c_ssa1 = xor i1 0, %b\n",
        "  %g_ssa1 = fadd float 0.0, 1.5\n", "  ; unsupported assign Unknown\n",
        "  %u_ssa1 = bitcast ptr null to ptr\n",
        "call ptr @ovra_rt_object_get_property(ptr %t_ssa1, ptr %tmp1)\n",
        "  %tmp3 = call i32 @ovra_rt_value_to_int(ptr %tmp2)\n  %m_ssa1 = add i32 0, %tmp3\n"}});

  cases.push_back(
      {"strings: + concatenates, == compares contents, a quote and a backslash are escaped",
       module_of({function("strings", {IrParam{"s", K::String}}, K::Bool,
                           block(let("t", K::String, bin(Op::Add, id("s"), str("a\"b\\c"))),
                                 let("u", K::String, bin(Op::Add, id("t"), num("1"))),
                                 ret(bin(Op::Equal, id("u"), str("a\"b\\c")))))}),
       {"  %t_ssa1 = call ptr @ovra_rt_string_concat(ptr %s, ptr %tmp1)\n",
        "  %tmp2 = call ptr @ovra_rt_string_from_int(i32 1)\n"
        "  %u_ssa1 = call ptr @ovra_rt_string_concat(ptr %t_ssa1, ptr %tmp2)\n",
        "  %tmp5 = call i32 @ovra_rt_string_compare(ptr %u_ssa1, ptr %tmp4)\n"
        "  %tmp6 = icmp eq i32 %tmp5, 0\n",
        "@.ovra_str0 = private constant [6 x i8] c\"a\\22b\\5Cc\\00\"\n"}});

  cases.push_back(
      {"printing each kind of value boxes it with the matching runtime call",
       module_of({function(
           "__top_level_1_1", {}, K::Void,
           block(expr(print(str("hello"))), expr(print(num("3"))), expr(print(num("2.5"))),
                 expr(print(boolean(true))), expr(print(call("__ovra_io_readMultif"))),
                 let("n", K::Int32, call("__ovra_io_readInt")),
                 let("l", K::String, call("__ovra_io_readLine")),
                 expr(print(bin(Op::Less, id("n"), num("2"))))))}),
       {"  %tmp0 = getelementptr inbounds [6 x i8], ptr @.ovra_str0, i64 0, i64 0\n"
        "  %tmp1 = call ptr @ovra_rt_string_from_utf8(ptr %tmp0, i64 5)\n"
        "  %tmp2 = call ptr @ovra_rt_value_from_string(ptr %tmp1)\n"
        "  call void @ovra_rt_io_print(ptr %tmp2)\n",
        "  %tmp3 = call ptr @ovra_rt_value_from_int(i32 3)\n",
        "  %tmp4 = call ptr @ovra_rt_value_from_singlef(float 2.5)\n",
        "  %tmp5 = zext i1 1 to i32\n  %tmp6 = call ptr @ovra_rt_value_from_int(i32 %tmp5)\n",
        "  %tmp7 = call double @ovra_rt_io_read_multif()\n"
        "  %tmp8 = call ptr @ovra_rt_value_from_multif(double %tmp7)\n",
        "  %n_ssa1 = call i32 @ovra_rt_io_read_int()\n",
        "  %l_ssa1 = call ptr @ovra_rt_io_read_line()\n", "  %tmp9 = icmp slt i32 %n_ssa1, 2\n"}});

  cases.push_back(
      {"a while loop's phi and a merge phi reach LLVM with their predecessors",
       module_of({function(
           "count", {IrParam{"n", K::Int32}}, K::Int32,
           block(let("i", K::Int32, num("0")), let("s", K::Int32, num("0")),
                 while_(bin(Op::Less, id("i"), id("n")),
                        block(if_(bin(Op::Equal, bin(Op::Modulo, id("i"), num("2")), num("0")),
                                  block(assign("s", bin(Op::Add, id("s"), id("i"))))),
                              assign("i", bin(Op::Add, id("i"), num("1"))))),
                 ret(id("s"))))}),
       {"  %i_ssa3 = phi i32 [ %i_ssa1, %entry ], [ %i_ssa2, %merge_5 ]\n",
        "  %s_ssa4 = phi i32 [ %s_ssa3, %while_body_2 ], [ %s_ssa2, %then_4 ]\n"}});

  cases.push_back(
      {"a user main suppresses the synthesized one",
       module_of({function("main", {}, K::Int32, block(ret(num("0")))),
                  function("__top_level_2_1", {}, K::Void, block(expr(print(num("1")))), 2)}),
       {"define i32 @main() !dbg !5 {\n"}});

  cases.push_back(
      {"out, push and rmv call the array runtime; the out body is not emitted",
       module_of({function("arrays", {IrParam{"a", IrType::array_of(K::Int32)}}, K::Void,
                           block(IrInstruction(IrIntrinsicInstruction{IrPush{
                                     num("4"), IrArrayAccessValue{id("a"), num("0")}, Span{}}}),
                                 IrInstruction(IrIntrinsicInstruction{
                                     IrRmv{IrArrayAccessValue{id("a"), num("1")}, Span{}}}),
                                 IrInstruction(IrIntrinsicInstruction{
                                     IrOut{IrArrayAccessValue{id("a"), num("0")}, "item",
                                           block(expr(print(id("item")))), Span{}}})))}),
       {"  %tmp0 = call ptr @ovra_rt_value_from_int(i32 4)\n"
        "  call void @ovra_rt_array_push(ptr %a, ptr %tmp0)\n",
        "  %tmp1 = sext i32 1 to i64\n  call void @ovra_rt_array_remove(ptr %a, i64 %tmp1)\n",
        "  %tmp2 = call i64 @ovra_rt_array_length(ptr %a)\n"
        "  ; out loop for item (length: %tmp2)\n"}});

  cases.push_back(
      {"a non-ASCII name is quoted wherever it appears",
       module_of({function(
           "caf\xC3\xA9", {IrParam{"\xC3\xA9t\xC3\xA9", K::Int32}}, K::Int32,
           block(let("\xC3\xA0", K::Int32, id("\xC3\xA9t\xC3\xA9")), ret(id("\xC3\xA0"))))}),
       {"define i32 @\"caf\\C3\\A9\"(i32 %\"\\C3\\A9t\\C3\\A9\") !dbg !5 {\n",
        "  %\"\\C3\\A0_ssa1\" = add i32 0, %\"\\C3\\A9t\\C3\\A9\"\n"}});
  return cases;
}

TEST(LlvmModule, InstructionFormsAreValidAndAsExpected) {
  for (const EmissionCase& c : emission_cases()) {
    std::string text = emit(c.module);
    for (const char* line : c.lines) {
      EXPECT_NE(text.find(line), std::string::npos) << c.label << "\nmissing:\n"
                                                    << line << "\nin:\n"
                                                    << text;
    }
    EXPECT_EQ(llc_rejection(text), "") << c.label << "\n" << text;
  }
}

TEST(LlvmModule, UserMainMeansNoSynthesizedEntry) {
  std::string text = emit(module_of({function("main", {}, K::Int32, block(ret(num("0"))))}));
  EXPECT_EQ(text.find("@main(i32 %argc"), std::string::npos);
  EXPECT_EQ(text.find("call void @ovra_rt_init()"), std::string::npos);
}

// A value converted on its way into its variable (boxed here, since an untyped declaration of
// a computed number is `unknown`) must still define the variable: llc rejected the use of the
// never-defined %a_ssa1.
TEST(LlvmModule, ConvertedValuesStillDefineTheirVariable) {
  for (const char* source : {
           "func f(): void {\n  let a = 1.5 + [1].length();\n  ovra.log(a);\n}\n",
           "let t = 2 * [3].length();\nfunc h(): void {\n  let b = t + 0.5;\n  ovra.io.print(b);\n}\n",
       }) {
    Result<std::string> text = Compiler::compile(CompileTarget::Llvm, source);
    ASSERT_TRUE(text.ok()) << text.error().to_string();
    EXPECT_EQ(llc_rejection(text.value()), "") << source << "\n" << text.value();
  }
}

// Operator chains make trees as deep as they are long; the whole LLVM route walks them on the
// pipeline's large stack, and each level must cost constant time.
TEST(LlvmModule, DeepOperatorChainsCompile) {
  constexpr int kTerms = 150000;
  std::string source = "func f(a: int, b: bool): int {\n  let s: int = a";
  for (int i = 1; i < kTerms; ++i) source += " + a";
  source += ";\n  let c: bool = b";
  for (int i = 1; i < kTerms; ++i) source += " && b";
  source += ";\n  back s;\n}\n";
  Result<std::string> text = Compiler::compile(CompileTarget::Llvm, source);
  ASSERT_TRUE(text.ok()) << text.error().to_string();
  EXPECT_NE(text.value().find("add i32"), std::string::npos);
  EXPECT_NE(text.value().find("and i1"), std::string::npos);
}

}  // namespace
}  // namespace ovra
