// The WAT generator on hand-built syntax trees: exact module text for the main forms, the error of
// every construct outside the subset, and a corpus of modules that the standard assembler must
// accept.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "ast.h"
#include "compiler.h"
#include "wasm_gen.h"

namespace ovra {
namespace {

using Kind = OvraType::Kind;
using Op = BinaryOperator;
using Body = std::vector<Statement>;
using Args = std::vector<Expression>;

// ---- Tree builders ----

Expression ident(std::string name) {
  return Identifier{{}, std::move(name)};
}
Expression num(std::string text) {
  return Literal{{}, NumberValue{std::move(text)}, OvraType(Kind::Int)};
}
Expression str(std::string text) {
  return Literal{{}, StringValue{std::move(text)}, OvraType(Kind::String)};
}
Expression boolean(bool value) {
  return Literal{{}, BooleanValue{value}, OvraType(Kind::Bool)};
}
Expression bin(Expression left, Op op, Expression right) {
  return BinaryExpression{{}, std::move(left), op, std::move(right)};
}
Expression call(std::string name, Args arguments = {}) {
  return FunctionCall{{}, std::move(name), std::move(arguments)};
}
Expression method(Expression object, std::string name, Args arguments = {}) {
  return MethodCall{{}, std::move(object), std::move(name), std::move(arguments)};
}
Expression prop(Expression object, std::string name) {
  return PropertyAccess{{}, std::move(object), std::move(name)};
}
Expression element(Expression array, Expression index) {
  return ArrayAccess{{}, std::move(array), std::move(index)};
}
Expression db() {
  return prop(ident("ovra"), "db");
}

VariableDeclaration declaration(std::string name, std::optional<OvraType> type,
                                std::optional<Expression> value) {
  return VariableDeclaration{{}, false, std::move(name), std::move(type), std::move(value)};
}
Statement let(std::string name, std::optional<OvraType> type, std::optional<Expression> value) {
  return declaration(std::move(name), std::move(type), std::move(value));
}
Statement let_int(std::string name, std::string value) {
  return let(std::move(name), OvraType(Kind::Int), num(std::move(value)));
}
Statement ret(std::optional<Expression> value = std::nullopt) {
  return ReturnStatement{{}, std::move(value)};
}
Statement expr(Expression expression) {
  return ExpressionStatement{{}, std::move(expression)};
}
Statement assign(std::string name, Expression value) {
  return expr(bin(ident(std::move(name)), Op::Equal, std::move(value)));
}
Statement if_(Expression condition, Body then_branch, std::optional<Body> else_branch = {}) {
  return IfStatement{{}, std::move(condition), std::move(then_branch), std::move(else_branch)};
}
Statement while_(Expression condition, Body body) {
  return WhileStatement{{}, std::move(condition), std::move(body)};
}
Statement for_(std::optional<VariableDeclaration> init, std::optional<Expression> condition,
               std::optional<Expression> update, Body body) {
  return ForLoopStatement{
      {}, std::move(init), std::move(condition), std::move(update), std::move(body)};
}

struct Param {
  std::string name;
  Kind kind;
};
FunctionDeclaration function(std::string name, std::vector<Param> params, Kind result, Body body) {
  std::vector<Parameter> parameters;
  for (Param& p : params)
    parameters.push_back({std::move(p.name), OvraType(p.kind)});
  return FunctionDeclaration{
      {}, std::move(name), std::move(parameters), OvraType(result), std::move(body), false};
}

// ---- Expected texts ----

const std::string kHead =
    "(module\n"
    "  ;; Host functions for ovra.db (must be provided by runtime)\n"
    "  (import \"ovra\" \"db_connect\" (func $ovra_db_connect (param i32 i32) (result i32)))\n"
    "  ;; kind_ptr, url_ptr -> result_ptr (JSON string)\n"
    "  (import \"ovra\" \"db_table\" (func $ovra_db_table (param i32) (result i32)))\n"
    "  ;; table_name_ptr -> builder_handle (i32)\n"
    "  (import \"ovra\" \"db_chain\" (func $ovra_db_chain (param i32 i32 i32) (result i32)))\n"
    "  ;; builder_handle, method_name_ptr, args_json_ptr -> result_ptr (JSON string)\n"
    "  (import \"ovra\" \"memory_alloc\" (func $ovra_memory_alloc (param i32) (result i32)))\n"
    "  ;; Allocate memory of given size, return pointer\n"
    "  (import \"ovra\" \"memory_free\" (func $ovra_memory_free (param i32)))\n"
    "  ;; Free allocated memory\n"
    "\n"
    "  (memory 1)\n"
    "  (export \"memory\" (memory 0))\n"
    "\n";

std::string module_text(const Program& program) {
  Result<std::string> text = generate_wasm_module(program);
  if (!text)
    return "ERROR: " + text.error().to_string();
  return text.value();
}

// The text between the module head and the function exports.
std::string functions_text(const Program& program) {
  std::string text = module_text(program);
  if (text.rfind(kHead, 0) != 0)
    return text;
  text.erase(0, kHead.size());
  return text.substr(0, text.find("  (export \""));
}

// The body lines of the only function of a module, without its head and closing lines.
std::string body_of(FunctionDeclaration f) {
  Program program;
  program.push_back(std::move(f));
  std::string text = functions_text(program);
  std::size_t start = text.find("\n") + 1;
  std::size_t end = text.rfind("  )\n");
  if (text.rfind("ERROR", 0) == 0 || end == std::string::npos)
    return text;
  return text.substr(start, end - start);
}

// ---- Module and function layout ----

TEST(WasmModule, ProgramWithoutFunctionsIsHeadAndClosingParenthesis) {
  Program program;
  program.push_back(let_int("x", "1"));
  program.push_back(expr(call("print", {str("top level only")})));
  EXPECT_EQ(module_text(program), kHead + ")\n");
}

TEST(WasmModule, FunctionsAreNumberedInOrderAndExportedAfterTheLast) {
  Program program;
  program.push_back(function("main", {}, Kind::Void, {}));
  program.push_back(let_int("ignored", "3"));
  program.push_back(ExportDeclaration{{}, Statement(function("shared", {}, Kind::Void, {}))});
  EXPECT_EQ(module_text(program), kHead +
                                      "  (func $0\n"
                                      "    nop\n"
                                      "  )\n"
                                      "\n"
                                      "  (func $1\n"
                                      "    nop\n"
                                      "  )\n"
                                      "\n"
                                      "  (export \"main\" (func $0))\n"
                                      "  (export \"shared\" (func $1))\n"
                                      ")\n");
}

TEST(WasmModule, AddWithParametersAndResult) {
  Program program;
  program.push_back(function("add", {{"a", Kind::Int}, {"b", Kind::Int}}, Kind::Int,
                             {ret(bin(ident("a"), Op::Add, ident("b")))}));
  EXPECT_EQ(functions_text(program),
            "  (func $0\n"
            "    (param $a i32)\n"
            "    (param $b i32)\n"
            "\n"
            "  (result i32)\n"
            "\n"
            "    (return (i32.add (local.get $a) (local.get $b)))\n"
            "  )\n"
            "\n");
}

TEST(WasmModule, ValueTypesOfParametersAndResults) {
  Program program;
  program.push_back(function("f", {{"x", Kind::MultiF}, {"s", Kind::Str}, {"v", Kind::Void}},
                             Kind::SingleF, {ret(ident("x"))}));
  program.push_back(function("g", {}, Kind::Bool, {ret(boolean(true))}));
  EXPECT_EQ(functions_text(program),
            "  (func $0\n"
            "    (param $x f64)\n"
            "    (param $s i32)\n"
            "    (param $v i32)\n"
            "\n"
            "  (result f64)\n"
            "\n"
            "    (return (local.get $x))\n"
            "  )\n"
            "\n"
            "  (func $1\n"
            "  (result i32)\n"
            "\n"
            "    (return (i32.const 1))\n"
            "  )\n"
            "\n");
}

TEST(WasmModule, CallsNameTheCalleesNumberAndLaterDeclarationsWin) {
  Program program;
  program.push_back(function("twice", {{"n", Kind::Int}}, Kind::Int,
                             {ret(bin(ident("n"), Op::Multiply, num("2")))}));
  program.push_back(function("main", {}, Kind::Int, {ret(call("twice", {num("21")}))}));
  program.push_back(function("twice", {{"n", Kind::Int}}, Kind::Int, {ret(ident("n"))}));
  std::string text = module_text(program);
  EXPECT_NE(text.find("    (return (call $2 (i32.const 21)))\n"), std::string::npos) << text;
  // Export names are unique: the replaced function is not exported.
  EXPECT_NE(text.find("  (export \"main\" (func $1))\n  (export \"twice\" (func $2))\n)\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("(func $0))"), std::string::npos) << text;
}

TEST(WasmModule, ResultFunctionWhoseEndIsReachableEndsWithZero) {
  struct Case {
    const char* label;
    Body body;
    Kind result;
    std::string last_lines;
  };
  std::vector<Case> cases;
  cases.push_back({"if without else",
                   {if_(ident("c"), {ret(num("1"))})},
                   Kind::Int,
                   "    )\n    (i32.const 0)\n"});
  // The validator treats the end of an if as reachable even when both branches return.
  cases.push_back({"if with both branches returning",
                   {if_(ident("c"), {ret(num("1"))}, Body{ret(num("2"))})},
                   Kind::Int,
                   "    )\n    (i32.const 0)\n"});
  cases.push_back({"return directly in the body",
                   {while_(ident("c"), {}), ret(num("1"))},
                   Kind::Int,
                   "    )\n    (return (i32.const 1))\n"});
  cases.push_back(
      {"while", {while_(ident("c"), {ret(num("1"))})}, Kind::MultiF, "    )\n    (f64.const 0)\n"});
  cases.push_back({"empty body", {}, Kind::Int, "    (i32.const 0)\n"});
  for (Case& c : cases) {
    std::string body = body_of(function("f", {{"c", Kind::Bool}}, c.result, std::move(c.body)));
    ASSERT_GE(body.size(), c.last_lines.size()) << c.label << "\n" << body;
    EXPECT_EQ(body.substr(body.size() - c.last_lines.size()), c.last_lines) << c.label << "\n"
                                                                            << body;
  }
}

// ---- Statements ----

TEST(WasmStatements, LocalsAreDeclaredOnceAtTheHeadInOrderOfFirstDeclaration) {
  Body body;
  body.push_back(assign("p", num("5")));
  body.push_back(let("y", std::nullopt, num("2.5")));
  body.push_back(if_(ident("p"), {let("inner", OvraType(Kind::MultiF), std::nullopt)},
                     Body{let("other", OvraType(Kind::Bool), boolean(false))}));
  body.push_back(while_(ident("p"), {let("y", OvraType(Kind::SingleF), num("1"))}));
  body.push_back(
      for_(declaration("i", OvraType(Kind::Int), num("0")), std::nullopt, std::nullopt,
           {FunctionDeclaration(
               function("nested", {}, Kind::Void, {let("hidden", std::nullopt, std::nullopt)}))}));
  EXPECT_EQ(body_of(function("f", {{"p", Kind::Int}}, Kind::Void, std::move(body))),
            "    (param $p i32)\n"
            "\n"
            "    (local $y i32)\n"
            "    (local $inner f64)\n"
            "    (local $other i32)\n"
            "    (local $i i32)\n"
            "    (local.set $p (i32.const 5))\n"
            "    (local.set $y (i32.trunc_sat_f64_s (f64.const 2.5)))\n"
            "    (if (local.get $p)\n"
            "      (then\n"
            "        (local.set $inner (f64.const 0))\n"
            "      )\n"
            "      (else\n"
            "        (local.set $other (i32.const 0))\n"
            "      )\n"
            "    )\n"
            "    (loop $while_loop\n"
            "      (if (local.get $p)\n"
            "        (then\n"
            "          (local.set $y (i32.const 1))\n"
            "          (br $while_loop)\n"
            "        )\n"
            "      )\n"
            "    )\n"
            "    (local.set $i (i32.const 0))\n"
            "    (loop $for_loop\n"
            "      (if (i32.const 1)\n"
            "        (then\n"
            "          (br $for_loop)\n"
            "        )\n"
            "      )\n"
            "    )\n"
            "    nop\n");
}

TEST(WasmStatements, ReturnIfElseAndForLoopWithUpdate) {
  Body body;
  body.push_back(if_(bin(ident("n"), Op::Less, num("0")), {ret()}, Body{}));
  body.push_back(for_(declaration("i", OvraType(Kind::Int), num("0")),
                      bin(ident("i"), Op::Less, ident("n")),
                      bin(ident("i"), Op::Equal, bin(ident("i"), Op::Add, num("1"))),
                      {expr(call("tick", {ident("i")}))}));
  Program program;
  program.push_back(function("tick", {{"i", Kind::Int}}, Kind::Void, {}));
  program.push_back(function("f", {{"n", Kind::Int}}, Kind::Void, std::move(body)));
  std::string text = functions_text(program);
  EXPECT_NE(text.find("  (func $1\n"
                      "    (param $n i32)\n"
                      "\n"
                      "    (local $i i32)\n"
                      "    (if (i32.lt_s (local.get $n) (i32.const 0))\n"
                      "      (then\n"
                      "        return\n"
                      "      )\n"
                      "      (else\n"
                      "      )\n"
                      "    )\n"
                      "    (local.set $i (i32.const 0))\n"
                      "    (loop $for_loop\n"
                      "      (if (i32.lt_s (local.get $i) (local.get $n))\n"
                      "        (then\n"
                      "          (call $0 (local.get $i))\n"
                      "          (local.set $i (i32.add (local.get $i) (i32.const 1)))\n"
                      "          (br $for_loop)\n"
                      "        )\n"
                      "      )\n"
                      "    )\n"
                      "    nop\n"
                      "  )\n"),
            std::string::npos)
      << text;
}

TEST(WasmStatements, ExpressionStatementsWithAValueAreDropped) {
  Program program;
  program.push_back(function("value", {}, Kind::Int, {ret(num("1"))}));
  program.push_back(function("effect", {}, Kind::Void, {}));
  program.push_back(
      function("f", {{"x", Kind::Int}}, Kind::Void,
               {expr(call("value")), expr(call("effect")), expr(bin(ident("x"), Op::Add, num("1"))),
                expr(method(db(), "table", {str("t")}))}));
  std::string text = functions_text(program);
  EXPECT_NE(text.find("    (call $0)\n"
                      "    drop\n"
                      "    (call $1)\n"
                      "    (i32.add (local.get $x) (i32.const 1))\n"
                      "    drop\n"
                      "    (call $ovra_db_table (i32.const 1))\n"
                      "    drop\n"
                      "    nop\n"),
            std::string::npos)
      << text;
}

TEST(WasmStatements, EqualInsideAnExpressionIsComparison) {
  EXPECT_EQ(body_of(function("f", {{"a", Kind::Int}}, Kind::Bool,
                             {ret(bin(ident("a"), Op::Equal, num("3")))})),
            "    (param $a i32)\n\n  (result i32)\n\n"
            "    (return (i32.eq (local.get $a) (i32.const 3)))\n");
}

// ---- Expressions ----

TEST(WasmExpressions, NumberLiteralForms) {
  struct Case {
    const char* text;
    const char* constant;
  };
  const Case cases[] = {
      {"42", "i32.const 42"},
      {"007", "i32.const 7"},
      {"+5", "i32.const 5"},
      {"-0", "i32.const 0"},
      {"2147483647", "i32.const 2147483647"},
      {"-2147483648", "i32.const -2147483648"},
      {"2147483648", "f64.const 2147483648"},
      {"-2147483649", "f64.const -2147483649"},
      {"99999999999999999999", "f64.const 100000000000000000000"},
      {"3.0", "f64.const 3"},
      {"2.50", "f64.const 2.5"},
      {"1e3", "f64.const 1000"},
      {"1E-2", "f64.const 0.01"},
      {"0.30000000000000004", "f64.const 0.30000000000000004"},
      {"1e21", "f64.const 1000000000000000000000"},
      {".5", "f64.const 0.5"},
  };
  for (const Case& c : cases) {
    Result<std::string> constant = wasm_number_constant(c.text);
    ASSERT_TRUE(constant) << c.text;
    EXPECT_EQ(constant.value(), c.constant) << c.text;
  }
  for (const char* invalid : {"", "abc", "1e", "inf", "nan", "0x10", "1.2.3", "--1", "1e400"}) {
    Result<std::string> constant = wasm_number_constant(invalid);
    ASSERT_FALSE(constant) << invalid;
    EXPECT_EQ(constant.error().to_string(), "Error: Invalid number") << invalid;
  }
}

TEST(WasmExpressions, LiteralsAreFoldedConstants) {
  Body body;
  body.push_back(let("s", std::nullopt, str("h\xC3\xA9llo")));
  body.push_back(
      let("a", std::nullopt, Expression(ArrayLiteral{{}, {num("1"), num("2"), num("3")}})));
  body.push_back(let("e", std::nullopt, Expression(ArrayLiteral{{}, {}})));
  body.push_back(let("t", std::nullopt, boolean(true)));
  body.push_back(let("f", std::nullopt, boolean(false)));
  body.push_back(assign("t", str("")));
  EXPECT_EQ(body_of(function("f", {}, Kind::Void, std::move(body))),
            "    (local $s i32)\n"
            "    (local $a i32)\n"
            "    (local $e i32)\n"
            "    (local $t i32)\n"
            "    (local $f i32)\n"
            "    (local.set $s (i32.const 6))\n"
            "    (local.set $a (i32.const 4))\n"
            "    (local.set $e (i32.const 0))\n"
            "    (local.set $t (i32.const 1))\n"
            "    (local.set $f (i32.const 0))\n"
            "    (local.set $t (i32.const 0))\n"
            "    nop\n");
}

TEST(WasmExpressions, EveryBinaryOperatorIsItsI32Instruction) {
  const std::pair<Op, const char*> cases[] = {
      {Op::Add, "i32.add"},        {Op::Subtract, "i32.sub"},      {Op::Multiply, "i32.mul"},
      {Op::Divide, "i32.div_s"},   {Op::Modulo, "i32.rem_s"},      {Op::Equal, "i32.eq"},
      {Op::NotEqual, "i32.ne"},    {Op::Less, "i32.lt_s"},         {Op::Greater, "i32.gt_s"},
      {Op::LessEqual, "i32.le_s"}, {Op::GreaterEqual, "i32.ge_s"}, {Op::And, "i32.and"},
      {Op::Or, "i32.or"},
  };
  for (const auto& [op, instruction] : cases) {
    EXPECT_EQ(
        body_of(function("f", {{"a", Kind::Int}}, Kind::Int, {ret(bin(ident("a"), op, num("2")))})),
        std::string("    (param $a i32)\n\n  (result i32)\n\n    (return (") + instruction +
            " (local.get $a) (i32.const 2)))\n")
        << instruction;
  }
}

// Float values reach i32 positions (and back) through explicit conversions, so modules with
// float variables still validate.
TEST(WasmExpressions, OperandsAreConvertedToTheTypeTheirConsumerTakes) {
  struct Case {
    const char* label;
    Statement statement;
    std::string line;
  };
  std::vector<Case> cases;
  cases.push_back({"float into an untyped local", let("u", std::nullopt, num("2.5")),
                   "(local.set $u (i32.trunc_sat_f64_s (f64.const 2.5)))"});
  cases.push_back({"integer into a float local", assign("d", num("3")),
                   "(local.set $d (f64.convert_i32_s (i32.const 3)))"});
  cases.push_back({"float operand of an operator", assign("i", bin(ident("d"), Op::Add, num("1"))),
                   "(local.set $i (i32.add (i32.trunc_sat_f64_s (local.get $d)) (i32.const 1)))"});
  cases.push_back({"argument for a float parameter", expr(call("half", {ident("i")})),
                   "(call $0 (f64.convert_i32_s (local.get $i)))"});
  cases.push_back({"void call used as a value", assign("i", call("effect")),
                   "(local.set $i (block (result i32) (call $1) (i32.const 0)))"});
  cases.push_back(
      {"float condition", if_(ident("d"), {}), "(if (i32.trunc_sat_f64_s (local.get $d))"});
  cases.push_back({"increment of a float variable", assign("d", method(ident("d"), "getUp")),
                   "(local.set $d (block (result f64) (i32.trunc_sat_f64_s (local.get $d)) "
                   "(i32.const 1) i32.add f64.convert_i32_s local.tee $d))"});
  cases.push_back({"float returned from an i32 function", ret(ident("d")),
                   "(return (i32.trunc_sat_f64_s (local.get $d)))"});
  for (Case& c : cases) {
    Program program;
    program.push_back(function("half", {{"x", Kind::MultiF}}, Kind::SingleF, {ret(ident("x"))}));
    program.push_back(function("effect", {}, Kind::Void, {}));
    program.push_back(function("f", {{"d", Kind::SingleF}, {"i", Kind::Int}}, Kind::Int,
                               {std::move(c.statement)}));
    std::string text = functions_text(program);
    EXPECT_NE(text.find("    " + c.line + "\n"), std::string::npos) << c.label << "\n" << text;
  }
}

TEST(WasmExpressions, NonAsciiNamesBecomeValidIdentifiers) {
  EXPECT_EQ(
      body_of(function("f", {{"caf\xC3\xA9", Kind::Int}}, Kind::Int, {ret(ident("caf\xC3\xA9"))})),
      "    (param $caf%C3%A9 i32)\n\n  (result i32)\n\n    (return (local.get $caf%C3%A9))\n");
}

// ---- Increments ----

TEST(WasmIncrements, StatementLevelSequences) {
  struct Case {
    const char* label;
    Expression call;
    std::string line;
  };
  std::vector<Case> cases;
  cases.push_back({"toUp", method(ident("count"), "toUp"),
                   "(local.set $__tmp (local.get $count)) (local.get $count) (i32.const 1) i32.add "
                   "local.set $count local.get $__tmp"});
  cases.push_back({"toDn by 3", method(ident("count"), "toDn", {num("3")}),
                   "(local.set $__tmp (local.get $count)) (local.get $count) (i32.const 3) i32.sub "
                   "local.set $count local.get $__tmp"});
  cases.push_back({"getUp", method(ident("count"), "getUp"),
                   "(local.get $count) (i32.const 1) i32.add local.tee $count"});
  cases.push_back({"getDn by 2, extra arguments ignored",
                   method(ident("count"), "getDn", {num("2"), num("9")}),
                   "(local.get $count) (i32.const 2) i32.sub local.tee $count"});
  for (Case& c : cases) {
    const bool scratch = c.label[0] == 't';
    std::string expected = "    (local $count i32)\n";
    if (scratch)
      expected += "    (local $__tmp i32)\n";
    expected += "    (local.set $count (i32.const 0))\n    " + c.line + "\n    drop\n    nop\n";
    EXPECT_EQ(body_of(function(
                  "f", {}, Kind::Void,
                  {let("count", OvraType(Kind::Int), std::nullopt), expr(std::move(c.call))})),
              expected)
        << c.label;
  }
}

TEST(WasmIncrements, InsideExpressionsTheSequenceIsOneBlockOperand) {
  EXPECT_EQ(body_of(function("f", {{"x", Kind::Int}}, Kind::Int,
                             {ret(bin(method(ident("x"), "toUp"), Op::Add,
                                      method(ident("x"), "getDn", {num("2")})))})),
            "    (param $x i32)\n"
            "\n"
            "  (result i32)\n"
            "\n"
            "    (local $__tmp i32)\n"
            "    (return (i32.add (block (result i32) (local.set $__tmp (local.get $x)) "
            "(local.get $x) (i32.const 1) i32.add local.set $x local.get $__tmp) "
            "(block (result i32) (local.get $x) (i32.const 2) i32.sub local.tee $x)))\n");
}

TEST(WasmIncrements, AmountThatUsesTheScratchLocalKeepsTheOldValueOnTheStack) {
  std::string body =
      body_of(function("f", {{"x", Kind::Int}, {"y", Kind::Int}}, Kind::Void,
                       {expr(method(ident("x"), "toUp", {method(ident("y"), "toDn")}))}));
  EXPECT_NE(body.find("    (local $__tmp i32)\n"
                      "    (local.get $x) (local.get $x) (block (result i32) (local.set $__tmp "
                      "(local.get $y)) (local.get $y) (i32.const 1) i32.sub local.set $y "
                      "local.get $__tmp) i32.add local.set $x\n"
                      "    drop\n"),
            std::string::npos)
      << body;
}

// ---- Database lowering ----

TEST(WasmDatabase, TableConnectAndChains) {
  struct Case {
    const char* label;
    Expression call;
    std::string text;
  };
  const std::string step =
      " (call $ovra_memory_alloc (i32.const 64)) (call $ovra_memory_alloc (i32.const 256)))";
  std::vector<Case> cases;
  cases.push_back(
      {"table", method(db(), "table", {str("users")}), "(call $ovra_db_table (i32.const 5))"});
  cases.push_back({"connect", method(db(), "connect", {str("sqlite"), str("file.db")}),
                   "(call $ovra_db_connect (i32.const 6) (i32.const 7))"});
  cases.push_back({"table chain",
                   method(method(method(db(), "table", {str("t")}), "where", {str("f"), num("1")}),
                          "limit", {num("10")}),
                   "(call $ovra_db_chain (call $ovra_db_chain (call $ovra_db_table (i32.const 1))" +
                       step + step});
  cases.push_back({"any method after table", method(method(db(), "table", {str("t")}), "count"),
                   "(call $ovra_db_chain (call $ovra_db_table (i32.const 1))" + step});
  cases.push_back(
      {"chain step after connect",
       method(method(db(), "connect", {str("a"), str("b")}), "where", {str("x")}),
       "(call $ovra_db_chain (call $ovra_db_connect (i32.const 1) (i32.const 1))" + step});
  for (Case& c : cases) {
    EXPECT_EQ(body_of(function("f", {}, Kind::Int, {ret(std::move(c.call))})),
              "  (result i32)\n\n    (return " + c.text + ")\n")
        << c.label;
  }
}

TEST(WasmDatabase, PropertyChainsAndDatabaseCallRecognition) {
  using Chain = std::optional<std::vector<std::string>>;
  EXPECT_EQ(WasmGenerator::extract_ovra_property_chain(ident("ovra")),
            Chain(std::vector<std::string>{}));
  EXPECT_EQ(WasmGenerator::extract_ovra_property_chain(prop(db(), "x")),
            Chain(std::vector<std::string>{"db", "x"}));
  EXPECT_EQ(WasmGenerator::extract_ovra_property_chain(prop(ident("other"), "db")), std::nullopt);
  EXPECT_EQ(WasmGenerator::extract_ovra_property_chain(method(ident("ovra"), "db")), std::nullopt);

  auto is_db = [](Expression e) { return WasmGenerator::is_ovra_db_call(*e.as<MethodCall>()); };
  Expression connect = method(db(), "connect", {str("a"), str("b")});
  EXPECT_TRUE(is_db(method(db(), "anything")));
  EXPECT_TRUE(is_db(method(method(db(), "table", {str("t")}), "anything")));
  EXPECT_TRUE(is_db(method(connect, "where", {ident("x")})));
  EXPECT_FALSE(is_db(method(connect, "count")));
  EXPECT_FALSE(is_db(method(prop(db(), "x"), "table")));
  EXPECT_FALSE(is_db(method(prop(ident("other"), "db"), "table")));
}

// ---- Errors ----

TEST(WasmErrors, EveryConstructOutsideTheSubsetFailsWithItsMessage) {
  ArrayAccess access{{}, ident("xs"), num("0")};
  struct Case {
    Statement statement;
    std::string message;
  };
  std::vector<Case> cases;
  cases.push_back(
      {PushStatement{{}, num("1"), access}, "Array operations not yet supported in WASM"});
  cases.push_back(
      {OutStatement{{}, access, "x", {}}, "Array operations not yet supported in WASM"});
  cases.push_back({RmvStatement{{}, access}, "Array operations not yet supported in WASM"});
  cases.push_back({CrobDeclaration{{}, "o", Expression(NewExpression{{}, "C", {}})},
                   "Object declarations not yet supported in WASM"});
  cases.push_back({CrobEncapsulatedDeclaration{{}, "o", "C", false, {}, {}},
                   "Object declarations not yet supported in WASM"});
  cases.push_back({RemakeStatement{{}, "o", {}, {}}, "Remake not yet supported in WASM"});
  cases.push_back({ContinueStatement{{}}, "Continue not yet supported in WASM"});
  cases.push_back({while_(boolean(true), {if_(ident("x"), {BreakStatement{{}}})}),
                   "Break not yet supported in WASM"});
  cases.push_back({expr(Expression(UnaryExpression{{}, UnaryOperator::Negate, num("1")})),
                   "Unsupported expression in WASM"});
  cases.push_back({expr(Expression(NewExpression{{}, "C", {}})), "Unsupported expression in WASM"});
  cases.push_back({expr(Expression(ArrayAssignment{{}, ident("xs"), num("0"), num("1")})),
                   "Unsupported expression in WASM"});
  cases.push_back(
      {ret(element(ident("xs"), num("0"))), "Array/Property access not yet supported in WASM"});
  cases.push_back(
      {ret(prop(ident("x"), "field")), "Array/Property access not yet supported in WASM"});
  cases.push_back({ret(num("12abc")), "Invalid number"});
  cases.push_back(
      {ret(method(ident("x"), "length")), "Method call 'length' not yet supported in WASM"});
  cases.push_back({ret(method(method(db(), "connect", {str("a"), str("b")}), "count")),
                   "Method call 'count' not yet supported in WASM"});
  cases.push_back(
      {expr(method(bin(ident("x"), Op::Add, num("1")), "toUp")),
       "Increment/decrement method 'toUp' can only be called on assignable expressions"});
  cases.push_back({expr(method(element(ident("xs"), num("0")), "toUp")),
                   "Array/Property access not yet supported in WASM"});
  cases.push_back({expr(method(prop(ident("x"), "n"), "getDn")),
                   "Array/Property access not yet supported in WASM"});
  cases.push_back({expr(method(db(), "table")), "ovra.db.table() requires 1 argument"});
  cases.push_back(
      {expr(method(db(), "table", {str("a"), str("b")})), "ovra.db.table() requires 1 argument"});
  cases.push_back(
      {expr(method(db(), "connect", {str("a")})), "ovra.db.connect() requires 2 arguments"});
  cases.push_back({expr(method(db(), "find")),
                   "ovra.db.find is only available through ovra.db.table() chain in WASM"});
  cases.push_back({expr(method(ident("x"), "toUp",
                               {Expression(UnaryExpression{{}, UnaryOperator::Not, ident("x")})})),
                   "Unsupported expression in WASM"});
  cases.push_back(
      {assign("global", num("1")), "Global variable 'global' not yet supported in WASM"});
  cases.push_back({ret(call("missing")), "Function 'missing' is not defined in WASM"});
  for (Case& c : cases) {
    Program program;
    program.push_back(function("ok", {}, Kind::Void, {}));
    program.push_back(function("f", {{"x", Kind::Int}, {"xs", Kind::Int}}, Kind::Int,
                               {let_int("before", "1"), std::move(c.statement), ret(num("0"))}));
    Result<std::string> text = generate_wasm_module(program);
    ASSERT_FALSE(text) << c.message << "\n" << text.value();
    EXPECT_TRUE(std::holds_alternative<OtherError>(text.error().kind())) << c.message;
    EXPECT_EQ(text.error().to_string(), "Error: " + c.message);
  }
}

TEST(WasmErrors, NestedDeclarationsAndTopLevelStatementsAreNotTranslated) {
  Program program;
  program.push_back(BreakStatement{{}});
  program.push_back(PushStatement{{}, num("1"), ArrayAccess{{}, ident("xs"), num("0")}});
  program.push_back(
      function("f", {}, Kind::Void,
               {FunctionDeclaration(function("g", {}, Kind::Void, {BreakStatement{{}}})),
                ClassDeclaration{{}, "C", {}},
                ImportDeclaration{{}, std::nullopt, {}, "m", std::nullopt, false}}));
  EXPECT_EQ(functions_text(program), "  (func $0\n    nop\n  )\n\n");
}

// Deep trees from the parser: the generator must neither exhaust the pipeline's stack nor copy
// an operand chain once per level.
TEST(WasmModule, DeepTreesFromSourceCompile) {
  constexpr int kTerms = 100000;
  std::string chain = "func f(a: int): int {\n  back a";
  for (int i = 1; i < kTerms; ++i)
    chain += " + a.getUp()";
  chain += ";\n}\n";
  Result<std::string> text = Compiler::compile(CompileTarget::Wasm, chain);
  ASSERT_TRUE(text) << text.error().to_string();
  EXPECT_NE(text.value().find("(return (i32.add (i32.add (i32.add"), std::string::npos);

  constexpr int kLevels = 1000;
  std::string nested = "func g(a: int): int {\n";
  for (int i = 0; i < kLevels; ++i)
    nested += "while (a < 10) {\n";
  nested += "a = a + 1;\n";
  for (int i = 0; i < kLevels; ++i)
    nested += "}\n";
  nested += "back a;\n}\n";
  text = Compiler::compile(CompileTarget::Wasm, nested);
  ASSERT_TRUE(text) << text.error().to_string();
  EXPECT_NE(text.value().find(std::string(2 * (kLevels * 3 + 1), ' ') + "(local.set $a"),
            std::string::npos);
}

// ---- Validity ----

// Assembles and validates the module with the standard text assembler.
bool assembles(const std::string& wat, std::string& diagnostics) {
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("ovra_wasm_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "m.wat") << wat;
  std::string command = "wat2wasm " + (dir / "m.wat").string() + " -o " +
                        (dir / "m.wasm").string() + " > " + (dir / "log").string() + " 2>&1";
  int status = std::system(command.c_str());
  std::ifstream log(dir / "log");
  diagnostics.assign(std::istreambuf_iterator<char>(log), {});
  std::filesystem::remove_all(dir);
  return status == 0;
}

TEST(WasmValidity, EveryFormOfTheSubsetAssembles) {
  ASSERT_EQ(std::system("command -v wat2wasm > /dev/null"), 0) << "wat2wasm is not on the PATH";
  Program program;
  program.push_back(function("add", {{"a", Kind::Int}, {"b", Kind::Int}}, Kind::Int,
                             {ret(bin(ident("a"), Op::Add, ident("b")))}));
  program.push_back(function("noop", {}, Kind::Void, {}));
  Body body;
  body.push_back(let("total", OvraType(Kind::Int), std::nullopt));
  body.push_back(let("n", std::nullopt, ident("limit")));
  body.push_back(while_(
      bin(ident("n"), Op::Greater, num("0")),
      {let("step", OvraType(Kind::Int), std::nullopt),
       for_(declaration("i", OvraType(Kind::Int), num("0")), bin(ident("i"), Op::Less, ident("n")),
            method(ident("i"), "toUp"),
            {assign("step", bin(ident("step"), Op::Add, call("add", {ident("i"), num("1")})))}),
       expr(method(ident("n"), "toDn")), expr(method(ident("total"), "getUp", {ident("step")})),
       if_(bin(ident("step"), Op::Equal, num("0")), {expr(call("noop"))},
           Body{expr(call("add", {num("1"), num("2")}))})}));
  body.push_back(for_(std::nullopt, std::nullopt, std::nullopt, {ret(ident("total"))}));
  program.push_back(function("work", {{"limit", Kind::Int}}, Kind::Int, std::move(body)));
  program.push_back(function(
      "inc", {{"x", Kind::Int}}, Kind::Int,
      {if_(bin(method(ident("x"), "toUp"), Op::Less, method(ident("x"), "getDn", {num("2")})),
           {ret(method(ident("x"), "toDn", {method(ident("x"), "toUp")}))})}));
  program.push_back(function(
      "query", {}, Kind::Void,
      {expr(method(db(), "connect", {str("sqlite"), str("x.db")})),
       let("rows", std::nullopt,
           method(method(method(db(), "table", {str("users")}), "where", {str("id"), num("1")}),
                  "find")),
       expr(method(method(db(), "table", {str("t")}), "delete"))}));
  program.push_back(function("pick", {{"c", Kind::Bool}}, Kind::Int,
                             {if_(ident("c"), {ret(num("1"))}, Body{ret(num("2"))})}));
  program.push_back(function(
      "mix", {{"d", Kind::MultiF}}, Kind::SingleF,
      {let("u", std::nullopt, num("2.5")), let("w", OvraType(Kind::MultiF), ident("u")),
       expr(method(ident("w"), "toUp")), expr(method(ident("d"), "getDn", {ident("w")})),
       assign("u", call("noop")), if_(ident("d"), {ret(bin(ident("d"), Op::Divide, ident("w")))}),
       expr(call("add", {ident("d"), num("0.5")}))}));
  Result<std::string> text = generate_wasm_module(program);
  ASSERT_TRUE(text) << text.error().to_string();
  std::string diagnostics;
  EXPECT_TRUE(assembles(text.value(), diagnostics)) << diagnostics << "\n" << text.value();
}

}  // namespace
}  // namespace ovra
