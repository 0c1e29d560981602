// The IR data model and lowering from parsed source, checked through the structural rendering.
#include <gtest/gtest.h>

#include "ir/lowering.h"
#include "ir/mod.h"
#include "parser.h"

namespace ovra {
namespace {

IrModule lower_source(std::string_view source) {
  Result<Program> program = parse_program(source);
  EXPECT_TRUE(program.ok()) << (program.ok() ? "" : program.error().to_string());
  if (!program.ok())
    return {};
  return lower_program(program.value());
}

// The rendering of the only instruction of the function named `name`.
std::string only_instruction(const IrModule& module, const std::string& name) {
  for (const IrFunction& function : module.functions) {
    if (function.name != name)
      continue;
    if (function.body.size() != 1)
      return "body of " + std::to_string(function.body.size());
    return render(function.body[0]);
  }
  return "no function " + name;
}

std::vector<std::string> function_names(const IrModule& module) {
  std::vector<std::string> names;
  for (const IrFunction& function : module.functions)
    names.push_back(function.name);
  return names;
}

TEST(IrModel, TypesAndRenderingOfLeafValues) {
  OvraType nested = OvraType::array_of(OvraType::array_of(OvraType(OvraType::Kind::Str)));
  EXPECT_EQ(render(IrType::from_ovra(nested)), "Arr(Arr(String))");
  EXPECT_EQ(render(IrType::from_ovra(OvraType::class_named("Point"))), "Class(\"Point\")");
  EXPECT_EQ(render(IrValue()), "Unknown");
  EXPECT_EQ(render(IrModule().target), "Generic");
  EXPECT_EQ(render(ir_string("say \"hi\"\n")), "Literal(String(\"say \\\"hi\\\"\\n\"))");
}

TEST(IrModel, CopiesAreDeep) {
  IrValue original = ir_binary(IrBinaryOp::Add, ir_identifier("a"), ir_number("1"));
  IrValue copy = original;
  copy.as<IrBinary>()->left->as<IrIdentifier>()->name = "b";
  EXPECT_EQ(render(original),
            "Binary { op: Add, left: Identifier(\"a\"), right: Literal(Number(\"1\")) }");
}

TEST(Lowering, TopLevelStatementsBecomeFunctionsInSourceOrder) {
  IrModule module = lower_source(
      "func a(): void {}\n"
      "let g: int = 5;\n"
      "ovra.io.print(g); ovra.io.print(g);\n"
      "func b(): void {}\n"
      "break;\n");
  EXPECT_EQ(function_names(module),
            (std::vector<std::string>{"a", "__top_level_3_1", "__top_level_3_19", "b",
                                      "__top_level_5_1"}));
  ASSERT_EQ(module.globals.size(), 1u);
  EXPECT_EQ(render(module.globals[0].ty), "Int32");
  std::string todo = only_instruction(module, "__top_level_5_1");
  EXPECT_EQ(todo.rfind("Todo { note: \"Top-level statement Break(BreakStatement { span: ", 0), 0u)
      << todo;
  EXPECT_NE(todo.find(" not lowered yet\", span: Span { line: 5, column: 1"), std::string::npos)
      << todo;
}

TEST(Lowering, InstructionsRenderStructurally) {
  struct Case {
    const char* label;
    const char* source;
    const char* function;
    const char* rendering;
  };
  const Case cases[] = {
      {"print lowers to the io call", "ovra.io.print(x);", "__top_level_1_1",
       "Expression { value: Call { callee: \"__ovra_io_print\", args: [Identifier(\"x\")] }, "
       "span: Span { line: 1, column: 1, position: 0 } }"},
      {"an io method without a mapping stays a method call on the property read",
       "ovra.io.flush();", "__top_level_1_1",
       "Expression { value: MethodCall { object: MethodCall { object: Identifier(\"ovra\"), "
       "method: \"io\", args: [] }, method: \"flush\", args: [] }, "
       "span: Span { line: 1, column: 1, position: 0 } }"},
      {"a property read is a method call without arguments; number text is kept",
       "ovra.io.print(p.x + 3.50);", "__top_level_1_1",
       "Expression { value: Call { callee: \"__ovra_io_print\", args: [Binary { op: Add, left: "
       "MethodCall { object: Identifier(\"p\"), method: \"x\", args: [] }, right: "
       "Literal(Number(\"3.50\")) }] }, span: Span { line: 1, column: 1, position: 0 } }"},
      {"a database chain keeps the table call as the object of the next link",
       "ovra.db.table('users').where(x);", "__top_level_1_1",
       "Expression { value: MethodCall { object: Call { callee: \"__ovra_db_table\", args: "
       "[Literal(String(\"users\"))] }, method: \"where\", args: [Identifier(\"x\")] }, "
       "span: Span { line: 1, column: 1, position: 0 } }"},
      {"a declaration without type or value is an Unknown let with no value",
       "func f(): void { let x; }", "f",
       "Let { name: \"x\", ty: Unknown, value: None, is_const: false, "
       "span: Span { line: 1, column: 18, position: 17 } }"},
      {"an if keeps an absent else as None", "if (c) { x = 1; }", "__top_level_1_1",
       "If { condition: Identifier(\"c\"), then_block: [Expression { value: Binary { op: Equal, "
       "left: Identifier(\"x\"), right: Literal(Number(\"1\")) }, span: Span { line: 1, column: "
       "10, position: 9 } }], else_block: None, span: Span { line: 1, column: 1, position: 0 } }"},
      {"a for loop boxes its init", "forloop (let i: int = 0; i < 2; i = i + 1) { }",
       "__top_level_1_1",
       "For(IrForLoop { init: Some(Let { name: \"i\", ty: Int32, value: "
       "Some(Literal(Number(\"0\"))), is_const: false, span: Span { line: 1, column: 10, "
       "position: 9 } }), condition: Some(Binary { op: Less, left: Identifier(\"i\"), right: "
       "Literal(Number(\"2\")) }), update: Some(Binary { op: Equal, left: Identifier(\"i\"), "
       "right: Binary { op: Add, left: Identifier(\"i\"), right: Literal(Number(\"1\")) } }), "
       "body: [], span: Span { line: 1, column: 1, position: 0 } })"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(only_instruction(lower_source(c.source), c.function), c.rendering) << c.label;
  }
}

TEST(Lowering, NestedFunctionDeclarationIsATodo) {
  IrModule module = lower_source("func outer(): void { func inner(): void {} }");
  std::string todo = only_instruction(module, "outer");
  EXPECT_EQ(todo.rfind("Todo { note: \"Statement FunctionDeclaration(", 0), 0u) << todo;
  EXPECT_NE(todo.find(" not lowered yet\""), std::string::npos) << todo;
}

// A declaration without a written type takes its value's type when it is a plain value type.
TEST(Lowering, UntypedDeclarationsTakeTheirValueType) {
  IrModule module = lower_source(
      "func square(n: int): int { back n * n; }\n"
      "let n = 0;\n"
      "let f = 1.5;\n"
      "let s = \"text\";\n"
      "let b = n < 2;\n"
      "let c = square(3) + n;\n"
      "let m: multif = 2;\n"
      "let w = m * f;\n"
      "let a = [1, 2];\n"
      "let u;\n");
  std::vector<std::string> types;
  for (const IrGlobal& global : module.globals)
    types.push_back(global.name + ": " + render(global.ty));
  EXPECT_EQ(types,
            (std::vector<std::string>{"n: Int32", "f: SingleF", "s: String", "b: Bool", "c: Int32",
                                      "m: MultiF", "w: MultiF", "a: Unknown", "u: Unknown"}));
}

TEST(Lowering, ExportsOfExportsClassesAndImports) {
  Result<Program> parsed = parse_program(
      "class Point { x: int; y: int; }\n"
      "cite { a, b } from lib;\n");
  ASSERT_TRUE(parsed.ok()) << parsed.error().to_string();
  Program program = std::move(parsed.value());
  FunctionDeclaration function{
      Span{3, 1, 40}, "shared", {}, OvraType(OvraType::Kind::Void), {}, true};
  program.push_back(ExportDeclaration{
      Span{3, 1, 40}, Statement(ExportDeclaration{Span{3, 1, 40}, Statement(function)})});
  IrModule module = lower_program(program);
  ASSERT_EQ(module.functions.size(), 1u);
  EXPECT_EQ(module.functions[0].name, "shared");
  EXPECT_TRUE(module.functions[0].is_share);
  ASSERT_EQ(module.classes.size(), 1u);
  EXPECT_EQ(module.classes[0].fields.size(), 2u);
  ASSERT_EQ(module.imports.size(), 1u);
  EXPECT_EQ(module.imports[0].named_imports, (std::vector<std::string>{"a", "b"}));
}

}  // namespace
}  // namespace ovra
