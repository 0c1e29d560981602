#include "parser.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <variant>

#include "compiler.h"

namespace ovra {
namespace {

// The debug texts of all statements, one per line, or the error's display text.
std::string parse_to_debug_text(const std::string& source) {
  Result<Program> program = parse_program(source);
  if (!program)
    return program.error().to_string();
  std::string text;
  for (const Statement& statement : program.value()) {
    if (!text.empty())
      text += '\n';
    text += debug_text(statement);
  }
  return text;
}

// Spans make the structure hard to read; most rows compare the structure alone.
std::string without_spans(const std::string& text) {
  static const std::regex kSpan(R"(span: Span \{ line: \d+, column: \d+, position: \d+ \}(, )?)");
  return std::regex_replace(text, kSpan, "");
}

struct FormCase {
  const char* source;
  const char* structure;  // debug text without spans
};

TEST(ParserTest, ParsesEveryStatementForm) {
  const FormCase cases[] = {
      {"let x;",
       R"(VariableDeclaration(VariableDeclaration { is_const: false, name: "x", var_type: None, value: None }))"},
      {"const y: arr<arr<int>> = [1, 2,];",
       R"(VariableDeclaration(VariableDeclaration { is_const: true, name: "y", var_type: Some(Arr(Arr(Int))), value: Some(ArrayLiteral(ArrayLiteral { elements: [Literal(Literal { value: Number("1"), literal_type: Int }), Literal(Literal { value: Number("2"), literal_type: Int })] })) }))"},
      {"let s: str = 'a'; let t: arr = 2.5;",
       R"(VariableDeclaration(VariableDeclaration { is_const: false, name: "s", var_type: Some(Str), value: Some(Literal(Literal { value: String("a"), literal_type: String })) }))"
       "\n"
       R"(VariableDeclaration(VariableDeclaration { is_const: false, name: "t", var_type: Some(Arr(Unknown)), value: Some(Literal(Literal { value: Number("2.5"), literal_type: SingleF })) }))"},
      {"func f(a: int, b: string): void { back; }",
       R"(FunctionDeclaration(FunctionDeclaration { name: "f", parameters: [Parameter { name: "a", param_type: Int }, Parameter { name: "b", param_type: String }], return_type: Void, body: [Return(ReturnStatement { value: None })], is_share: false }))"},
      {"func g(): multif {}",
       R"(FunctionDeclaration(FunctionDeclaration { name: "g", parameters: [], return_type: MultiF, body: [], is_share: false }))"},
      {"back f(true);",
       R"(Return(ReturnStatement { value: Some(FunctionCall(FunctionCall { name: "f", arguments: [Literal(Literal { value: Boolean(true), literal_type: Bool })] })) }))"},
      {"if (c) {}",
       R"(If(IfStatement { condition: Identifier(Identifier { name: "c" }), then_branch: [], else_branch: None }))"},
      {"if (c) { break; } esle {}",
       R"(If(IfStatement { condition: Identifier(Identifier { name: "c" }), then_branch: [Break(BreakStatement {  })], else_branch: Some([]) }))"},
      {"if (c) {} else { continue; }",
       R"(If(IfStatement { condition: Identifier(Identifier { name: "c" }), then_branch: [], else_branch: Some([Continue(ContinueStatement {  })]) }))"},
      {"while (go) { x; }",
       R"(While(WhileStatement { condition: Identifier(Identifier { name: "go" }), body: [Expression(ExpressionStatement { expression: Identifier(Identifier { name: "x" }) })] }))"},
      {"forloop (;;) {}",
       R"(ForLoop(ForLoopStatement { init: None, condition: None, update: None, body: [] }))"},
      {"forloop (let i = 0; i; i = 1) { }",
       R"(ForLoop(ForLoopStatement { init: Some(VariableDeclaration { is_const: false, name: "i", var_type: None, value: Some(Literal(Literal { value: Number("0"), literal_type: Int })) }), condition: Some(Identifier(Identifier { name: "i" })), update: Some(Binary(BinaryExpression { left: Identifier(Identifier { name: "i" }), operator: Equal, right: Literal(Literal { value: Number("1"), literal_type: Int }) })), body: [] }))"},
      {"forloop (i = 0; ; ) {}",
       R"(ForLoop(ForLoopStatement { init: None, condition: None, update: None, body: [] }))"},
      {"push 1 => xs[0];",
       R"(Push(PushStatement { value: Literal(Literal { value: Number("1"), literal_type: Int }), array_access: ArrayAccess { array: Identifier(Identifier { name: "xs" }), index: Literal(Literal { value: Number("0"), literal_type: Int }) } }))"},
      {"out xs[i] as item {}",
       R"(Out(OutStatement { array_access: ArrayAccess { array: Identifier(Identifier { name: "xs" }), index: Identifier(Identifier { name: "i" }) }, param_name: "item", body: [] }))"},
      {"rmv xs[i];",
       R"(Rmv(RmvStatement { array_access: ArrayAccess { array: Identifier(Identifier { name: "xs" }), index: Identifier(Identifier { name: "i" }) } }))"},
      {"class P { x: int; y: obj z: unknown }", R"(ClassDeclaration(ClassDeclaration { name: "P", fields: [ClassField { name: "x", field_type: Int }, ClassField { name: "y", field_type: Obj }, ClassField { name: "z", field_type: Unknown }] }))"},
      {"crob p = new P(1, b);",
       R"(CrobDeclaration(CrobDeclaration { name: "p", initializer: New(NewExpression { class_name: "P", arguments: [Literal(Literal { value: Number("1"), literal_type: Int }), Identifier(Identifier { name: "b" })] }) }))"},
      {"crob c (class: P, right: false) { x = 1; func m(a: bool): int { back a; } y = 2; }",
       R"(CrobEncapsulatedDeclaration(CrobEncapsulatedDeclaration { name: "c", class_name: "P", right: false, fields: [ObjectField { name: "x", value: Literal(Literal { value: Number("1"), literal_type: Int }) }, ObjectField { name: "y", value: Literal(Literal { value: Number("2"), literal_type: Int }) }], methods: [ObjectMethod { name: "m", parameters: [Parameter { name: "a", param_type: Bool }], return_type: Int, body: [Return(ReturnStatement { value: Some(Identifier(Identifier { name: "a" })) })] }] }))"},
      {"crob c (class: P, right: true) {}",
       R"(CrobEncapsulatedDeclaration(CrobEncapsulatedDeclaration { name: "c", class_name: "P", right: true, fields: [], methods: [] }))"},
      {"remake c { func n(): void {} y = 'b'; }",
       R"(Remake(RemakeStatement { name: "c", fields: [ObjectField { name: "y", value: Literal(Literal { value: String("b"), literal_type: String }) }], methods: [ObjectMethod { name: "n", parameters: [], return_type: Void, body: [] }] }))"},
      {"cite { a, b } from \"./m.js\";",
       R"(ImportDeclaration(ImportDeclaration { default_import: None, named_imports: ["a", "b"], source: "./m.js", alias: None }))"},
      {"cite {} from lib.util;",
       R"(ImportDeclaration(ImportDeclaration { default_import: None, named_imports: [], source: "lib.util", alias: None }))"},
      {"cite m as n;",
       R"(ImportDeclaration(ImportDeclaration { default_import: Some("m"), named_imports: [], source: "m", alias: Some("n") }))"},
      {"cite ovra.io.print;",
       R"(ImportDeclaration(ImportDeclaration { default_import: Some("print"), named_imports: [], source: "ovra.io.print", alias: None }))"},
      {"cite ovra.io as io;",
       R"(ImportDeclaration(ImportDeclaration { default_import: None, named_imports: [], source: "ovra.io", alias: Some("io") }))"},
      {"cite d, { e } from 'x';",
       R"(ImportDeclaration(ImportDeclaration { default_import: Some("d"), named_imports: ["e"], source: "x", alias: None }))"},
      {"cite d from m;",
       R"(ImportDeclaration(ImportDeclaration { default_import: Some("d"), named_imports: [], source: "m", alias: None }))"},
      {"share func f(): int { back 1; }",
       R"(ExportDeclaration(ExportDeclaration { declaration: FunctionDeclaration(FunctionDeclaration { name: "f", parameters: [], return_type: Int, body: [Return(ReturnStatement { value: Some(Literal(Literal { value: Number("1"), literal_type: Int })) })], is_share: true }) }))"},
      {"share class A {}",
       R"(ExportDeclaration(ExportDeclaration { declaration: ClassDeclaration(ClassDeclaration { name: "A", fields: [] }) }))"},
      {"f(, 1, , 2,);",
       R"(Expression(ExpressionStatement { expression: FunctionCall(FunctionCall { name: "f", arguments: [Literal(Literal { value: Number("1"), literal_type: Int }), Literal(Literal { value: Number("2"), literal_type: Int })] }) }))"},
      {"g(,); h(());",
       R"(Expression(ExpressionStatement { expression: FunctionCall(FunctionCall { name: "g", arguments: [] }) }))"
       "\n"
       R"(Expression(ExpressionStatement { expression: FunctionCall(FunctionCall { name: "h", arguments: [] }) }))"},
      {"o.m(1).p;",
       R"(Expression(ExpressionStatement { expression: PropertyAccess(PropertyAccess { object: MethodCall(MethodCall { object: Identifier(Identifier { name: "o" }), method_name: "m", arguments: [Literal(Literal { value: Number("1"), literal_type: Int })] }), property: "p" }) }))"},
      {"a[i] = -v;",
       R"(Expression(ExpressionStatement { expression: ArrayAssignment(ArrayAssignment { array: Identifier(Identifier { name: "a" }), index: Identifier(Identifier { name: "i" }), value: Unary(UnaryExpression { operator: Negate, operand: Identifier(Identifier { name: "v" }) }) }) }))"},
      {"!!ok;",
       R"(Expression(ExpressionStatement { expression: Unary(UnaryExpression { operator: Not, operand: Unary(UnaryExpression { operator: Not, operand: Identifier(Identifier { name: "ok" }) }) }) }))"},
      {"[];",
       R"(Expression(ExpressionStatement { expression: ArrayLiteral(ArrayLiteral { elements: [] }) }))"},
      {"'a\\nb'.len();",
       R"(Expression(ExpressionStatement { expression: MethodCall(MethodCall { object: Literal(Literal { value: String("a\nb"), literal_type: String }), method_name: "len", arguments: [] }) }))"},
  };
  for (const FormCase& c : cases) {
    EXPECT_EQ(without_spans(parse_to_debug_text(c.source)), c.structure) << c.source;
  }
}

TEST(ParserTest, ImportRemembersAStringSource) {
  for (const auto& [source, is_string] :
       {std::pair{"cite { a } from './m.js';", true}, std::pair{"cite d from lib.m;", false},
        std::pair{"cite m as n;", false}}) {
    Result<Program> program = parse_program(source);
    ASSERT_TRUE(program.ok()) << source;
    const auto* import = program.value().at(0).as<ImportDeclaration>();
    ASSERT_NE(import, nullptr) << source;
    EXPECT_EQ(import->source_is_string, is_string) << source;
  }
}

TEST(ParserTest, SpansFollowTheirTokens) {
  // Statements take their keyword's span; an expression statement its expression's; a binary
  // node the token before its operator; a unary node its operator; postfix nodes the expression
  // they apply to; `name = value` the token before `=`, exactly like `name == value`.
  const FormCase cases[] = {
      {"\n  let v = (a) + -b;",
       "VariableDeclaration(VariableDeclaration { span: Span { line: 2, column: 3, position: 3 }, "
       "is_const: false, name: \"v\", var_type: None, value: Some(Binary(BinaryExpression { span: "
       "Span { line: 2, column: 13, position: 13 }, left: Identifier(Identifier { span: Span { "
       "line: 2, column: 12, position: 12 }, name: \"a\" }), operator: Add, right: "
       "Unary(UnaryExpression { span: Span { line: 2, column: 17, position: 17 }, operator: "
       "Negate, operand: Identifier(Identifier { span: Span { line: 2, column: 18, position: 18 "
       "}, name: \"b\" }) }) })) })"},
      {"x.y[0];",
       "Expression(ExpressionStatement { span: Span { line: 1, column: 1, position: 0 }, "
       "expression: ArrayAccess(ArrayAccess { span: Span { line: 1, column: 1, position: 0 }, "
       "array: PropertyAccess(PropertyAccess { span: Span { line: 1, column: 1, position: 0 }, "
       "object: Identifier(Identifier { span: Span { line: 1, column: 1, position: 0 }, name: "
       "\"x\" }), property: \"y\" }), index: Literal(Literal { span: Span { line: 1, column: 5, "
       "position: 4 }, value: Number(\"0\"), literal_type: Int }) }) })"},
      {"  rmv xs[1];",
       "Rmv(RmvStatement { span: Span { line: 1, column: 3, position: 2 }, array_access: "
       "ArrayAccess { span: Span { line: 1, column: 7, position: 6 }, array: "
       "Identifier(Identifier { span: Span { line: 1, column: 7, position: 6 }, name: \"xs\" }), "
       "index: Literal(Literal { span: Span { line: 1, column: 10, position: 9 }, value: "
       "Number(\"1\"), literal_type: Int }) } })"},
      {"share class A {}",
       "ExportDeclaration(ExportDeclaration { span: Span { line: 1, column: 1, position: 0 }, "
       "declaration: ClassDeclaration(ClassDeclaration { span: Span { line: 1, column: 7, "
       "position: 6 }, name: \"A\", fields: [] }) })"},
  };
  for (const FormCase& c : cases) {
    EXPECT_EQ(parse_to_debug_text(c.source), c.structure) << c.source;
  }
  // Assignment and comparison give the very same tree, spans included.
  EXPECT_EQ(parse_to_debug_text("x = 5;"), parse_to_debug_text("x ==5;"));
}

TEST(ParserTest, PrecedenceAndAssociativity) {
  // Each source must give the same tree as its fully parenthesized form.
  const std::pair<const char*, const char*> cases[] = {
      {"1 + 2 * 3", "1 + (2 * 3)"},
      {"10 - 4 - 3", "(10 - 4) - 3"},
      {"a || b && c", "a || (b && c)"},
      {"a && b || c", "(a && b) || c"},
      {"a < b == c", "(a < b) == c"},
      {"a == b != c", "(a == b) != c"},
      {"a + b < c * d", "(a + b) < (c * d)"},
      {"a * b % c / d", "((a * b) % c) / d"},
      {"a >= b <= c > d", "((a >= b) <= c) > d"},
      {"a || b || c", "(a || b) || c"},
      {"-a * b", "(-a) * b"},
      {"!a && b", "(!a) && b"},
      {"a - -b", "a - (-b)"},
      {"- - a", "-(-a)"},
      {"-a.b", "-(a.b)"},
      {"!f(x)[0]", "!((f(x))[0])"},
      {"o.items[0].name", "((o.items)[0]).name"},
      {"a = b = 1", "a = (b = 1)"},
      {"x = a || b", "x = (a || b)"},
      {"xs[i] = ys[j] = 0", "xs[i] = (ys[j] = 0)"},
  };
  for (const auto& [source, grouped] : cases) {
    std::string parsed = without_spans(parse_to_debug_text(std::string(source) + ";"));
    EXPECT_EQ(parsed, without_spans(parse_to_debug_text(std::string(grouped) + ";"))) << source;
    EXPECT_EQ(parsed.find("error"), std::string::npos) << source << ": " << parsed;
  }
}

TEST(ParserTest, CloningATreeCopiesItDeeply) {
  Result<Program> program = parse_program("func f(): int { back 1; }");
  ASSERT_TRUE(program.ok());
  Statement copy = program.value()[0];
  copy.as<FunctionDeclaration>()->body.clear();
  EXPECT_EQ(program.value()[0].as<FunctionDeclaration>()->body.size(), 1u);
}

struct SyntaxErrorCase {
  const char* source;
  const char* message;
  std::size_t line;
  std::size_t column;
};

TEST(ParserTest, ReportsSyntaxErrorsAtTheCurrentToken) {
  const SyntaxErrorCase cases[] = {
      // Statements.
      {"let x = 1", "Expected Semicolon", 1, 10},
      {"let x = 1\nlet y = 2;", "Expected Semicolon", 2, 1},
      {"let = 1;", "Expected identifier", 1, 5},
      {"let x = ;", "Expected expression after '='", 1, 9},
      {"const c: = 1;", "Expected type", 1, 10},
      {"let p: Point = 1;", "Expected type", 1, 8},
      {"func f() {}", "Expected Colon", 1, 10},
      {"func f(a: int,): int {}", "Expected identifier", 1, 15},
      {"func f(a int): int {}", "Expected Colon", 1, 10},
      {"func (): int {}", "Expected identifier", 1, 6},
      {"func f(): int { back 1;", "Expected RightBrace", 1, 24},
      {"back )", "Expected expression after 'back'", 1, 6},
      {"if () {}", "Expected condition expression", 1, 5},
      {"if x {}", "Expected LeftParen", 1, 4},
      {"if (x) {} else if (y) {}", "Expected LeftBrace", 1, 16},
      {"if (x) y;", "Expected LeftBrace", 1, 8},
      {"while () {}", "Expected condition expression", 1, 8},
      {"while (x {}", "Expected RightParen", 1, 10},
      {"forloop (;) {}", "Expected Semicolon", 1, 11},
      {"forloop (; x; y {}", "Expected RightParen", 1, 17},
      {"push => xs[0];", "Expected value expression after 'push'", 1, 6},
      {"push 1 xs[0];", "Expected Arrow", 1, 8},
      {"push 1 => xs[];", "Expected index expression", 1, 14},
      {"push 1 => 5[0];", "Expected identifier", 1, 11},
      {"out xs[] as x {}", "Expected index expression", 1, 8},
      {"out xs[0] x {}", "Expected As", 1, 11},
      {"rmv xs[];", "Expected index expression", 1, 8},
      {"rmv xs;", "Expected LeftBracket", 1, 7},
      {"class A { x: int, y: int }", "Expected identifier", 1, 17},
      {"class A { x int }", "Expected Colon", 1, 13},
      {"class A { x: int", "Expected RightBrace", 1, 17},
      {"crob p;", "Expected Assign", 1, 7},
      {"crob p = ;", "Expected expression after '='", 1, 10},
      {"crob c (class: P, left: true) {}", "Expected 'right' keyword", 1, 23},
      {"crob c (class: P, right: 1) {}", "Expected true or false for right parameter", 1, 26},
      {"crob c (klass: P, right: true) {}", "Expected Class", 1, 9},
      {"crob c (class: P, right: true) { x = ; }", "Expected expression after '='", 1, 38},
      {"crob c (class: P, right: true) { x = 1 }", "Expected Semicolon", 1, 40},
      {"remake c { 1 }", "Expected identifier", 1, 12},
      {"remake c { x = 1;", "Expected RightBrace", 1, 18},
      {"cite 1;", "Invalid cite syntax", 1, 6},
      {"cite;", "Invalid cite syntax", 1, 5},
      {"cite { a } from 1;", "Expected string path or identifier", 1, 17},
      {"cite { a, } from m;", "Expected identifier", 1, 11},
      {"cite { a } m;", "Expected From", 1, 12},
      {"cite d, e from m;", "Expected LeftBrace", 1, 9},
      {"cite a. as b;", "Expected identifier", 1, 9},
      {"share let x = 1;", "Expected 'func' or 'class' after 'share'", 1, 7},
      {"continue", "Expected Semicolon", 1, 9},
      {"break x;", "Expected Semicolon", 1, 7},
      // Tokens that can begin no statement.
      {"}", "Unexpected token RightBrace", 1, 1},
      {"x;\n;", "Unexpected token Semicolon", 2, 1},
      {"if (c) {} )", "Unexpected token RightParen", 1, 11},
      {"else {}", "Unexpected token Else", 1, 1},
      {"esle {}", "Unexpected token Esle", 1, 1},
      {"put x;", "Unexpected token Put", 1, 1},
      {"func f(): int { typeins; }", "Unexpected token Typeins", 1, 17},
      {"();", "Unexpected token LeftParen", 1, 1},
      // Expressions.
      {"1 + ;", "Expected expression after operator", 1, 5},
      {"a * (b - ) ;", "Expected expression after operator", 1, 10},
      {"- ;", "Expected expression after '-'", 1, 3},
      {"!);", "Expected expression after '!'", 1, 2},
      {"x = ;", "Expected expression after '='", 1, 5},
      {"xs[0] = ;", "Expected expression after '='", 1, 9},
      {"p.x = 1;", "Expected Semicolon", 1, 5},
      {"xs[];", "Expected index expression", 1, 4},
      {"xs[0;", "Expected RightBracket", 1, 5},
      {"a.;", "Expected identifier", 1, 3},
      {"a.b(1;", "Expected RightParen", 1, 6},
      {"new 1;", "Expected identifier", 1, 5},
      {"new Point;", "Expected LeftParen", 1, 10},
      {"f(1;", "Expected RightParen", 1, 4},
      {"f(1 2);", "Expected RightParen", 1, 5},
      {"[1, 2;", "Expected RightBracket", 1, 6},
      {"(1;", "Expected RightParen", 1, 3},
      {"let x: arr<int = 1;", "Expected Greater", 1, 16},
      {"let x: arr<> = 1;", "Expected type", 1, 12},
  };
  for (const SyntaxErrorCase& c : cases) {
    Result<std::string> result = Compiler::compile(CompileTarget::JavaScript, c.source);
    ASSERT_FALSE(result.ok()) << c.source;
    const auto* error = std::get_if<SyntaxError>(&result.error().kind());
    ASSERT_NE(error, nullptr) << c.source << ": " << result.error().to_string();
    EXPECT_EQ(error->message, c.message) << c.source;
    EXPECT_EQ(error->line, c.line) << c.source;
    EXPECT_EQ(error->column, c.column) << c.source;
    // The pipeline attaches the excerpt.
    EXPECT_TRUE(error->source_excerpt.has_value()) << c.source;
  }
}

TEST(ParserTest, SyntaxErrorDisplayCarriesTheExcerpt) {
  Result<std::string> result =
      Compiler::compile(CompileTarget::JavaScript, "let a = 1;\nlet b = a +;\nlet c = 3;\n");
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().to_string(),
            "Syntax error at 2:12: Expected expression after operator\n\n"
            "   1 | let a = 1;\n"
            "   2 | let b = a +;\n"
            "     | ^^^^^^^^^^^^\n"
            "   3 | let c = 3;\n");
}

// ---- Depth ----

std::string repeat(std::string_view text, std::size_t count) {
  std::string out;
  out.reserve(text.size() * count);
  for (std::size_t i = 0; i < count; ++i)
    out += text;
  return out;
}

// `count` nested levels of one kind, as a whole, semantically valid program.
struct NestingKind {
  const char* label;
  std::string (*program)(std::size_t count);
};

const NestingKind kNestingKinds[] = {
    {"parentheses",
     [](std::size_t n) { return "let x = " + repeat("(", n) + "1" + repeat(")", n) + ";"; }},
    {"blocks",
     [](std::size_t n) { return repeat("if (true) {", n) + "let x = 1;" + repeat("}", n); }},
    {"unary operators", [](std::size_t n) { return "let x = " + repeat("- ", n) + "1;"; }},
    {"array literals",
     [](std::size_t n) { return "let x = " + repeat("[", n) + "1" + repeat("]", n) + ";"; }},
    {"calls",
     [](std::size_t n) {
       return "func f(a: int): int { back a; }\nlet x = " + repeat("f(", n) + "1" + repeat(")", n) +
              ";";
     }},
    {"indexing",
     [](std::size_t n) {
       return "let a = [0];\nlet x = " + repeat("a[", n) + "0" + repeat("]", n) + ";";
     }},
    {"array types",
     [](std::size_t n) { return "let x: " + repeat("arr<", n) + "int" + repeat(">", n) + ";"; }},
};

const CompileTarget kTargets[] = {CompileTarget::JavaScript, CompileTarget::TypeScript,
                                  CompileTarget::Wasm, CompileTarget::Llvm};

bool is_syntax_error(const Result<std::string>& result) {
  return !result.ok() && std::holds_alternative<SyntaxError>(result.error().kind());
}

TEST(ParserDepthTest, NestingUpToTheLimitCompilesForEveryTarget) {
  // 1000 levels are promised whatever the limit; at the limit itself every later stage must
  // still cope with the tree.
  for (std::size_t levels : {std::size_t{1000}, kMaxNestingDepth}) {
    for (const NestingKind& kind : kNestingKinds) {
      std::string source = kind.program(levels);
      for (CompileTarget target : kTargets) {
        Result<std::string> result = Compiler::compile(target, source);
        EXPECT_FALSE(is_syntax_error(result))
            << kind.label << " x" << levels << ": " << result.error().to_string();
      }
    }
  }
}

TEST(ParserDepthTest, NestingPastTheLimitIsASyntaxError) {
  for (const NestingKind& kind : kNestingKinds) {
    Result<std::string> result =
        Compiler::compile(CompileTarget::JavaScript, kind.program(kMaxNestingDepth + 1));
    ASSERT_TRUE(is_syntax_error(result)) << kind.label;
    EXPECT_EQ(result.error().message(), "Nesting too deep: more than 10000 levels") << kind.label;
  }
}

TEST(ParserDepthTest, NestingErrorPointsAtTheOpeningTokenPastTheLimit) {
  // `let x = ` takes columns 1 to 8; parenthesis number n is at column 8 + n.
  std::string source = "let x = " + repeat("(", kMaxNestingDepth + 5) + "1" +
                       repeat(")", kMaxNestingDepth + 5) + ";";
  Result<std::string> result = Compiler::compile(CompileTarget::JavaScript, source);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().position(),
            (std::pair<std::size_t, std::size_t>{1, 8 + kMaxNestingDepth + 1}));
}

// `let x = a + a + ... ;` with `operators` operators, one term per line after the first.
std::string operator_chain(std::size_t operators, std::string_view op) {
  std::string source = "let a = 1;\nlet x = a";
  for (std::size_t i = 0; i < operators; ++i) {
    source += ' ';
    source += op;
    source += "\na";
  }
  return source + ";";
}

TEST(ParserDepthTest, LongOperatorChainsCompileForEveryTarget) {
  for (const char* op : {"+", "&&", "=="}) {
    std::string source = operator_chain(99999, op);  // 100,000 terms
    for (CompileTarget target : kTargets) {
      Result<std::string> result = Compiler::compile(target, source);
      EXPECT_FALSE(is_syntax_error(result)) << op << ": " << result.error().to_string();
    }
  }
}

TEST(ParserDepthTest, TreeDepthLimitIsExact) {
  std::string at_limit = operator_chain(kMaxTreeDepth, "+");
  for (CompileTarget target : kTargets) {
    Result<std::string> result = Compiler::compile(target, at_limit);
    EXPECT_FALSE(is_syntax_error(result)) << result.error().to_string();
  }

  Result<std::string> past_limit =
      Compiler::compile(CompileTarget::JavaScript, operator_chain(kMaxTreeDepth + 1, "+"));
  ASSERT_TRUE(is_syntax_error(past_limit));
  EXPECT_EQ(past_limit.error().message().rfind("Nesting too deep", 0), 0u)
      << past_limit.error().message();
  // Reported at the operator that would pass the limit: the last one, on line 2 + limit.
  EXPECT_EQ(past_limit.error().position(),
            (std::pair<std::size_t, std::size_t>{2 + kMaxTreeDepth, 3}));
}

TEST(ParserDepthTest, LongAssignmentAndPostfixChainsNeedNoRecursion) {
  std::string assignments = "let a = 1;\n" + repeat("a = ", 100000) + "1;";
  std::string postfix = "let o = 1;\nlet x = o" + repeat(".p", 100000) + ";";
  for (const std::string& source : {assignments, postfix}) {
    Result<std::string> result = Compiler::compile(CompileTarget::JavaScript, source);
    EXPECT_FALSE(is_syntax_error(result)) << result.error().to_string();
  }
}

}  // namespace
}  // namespace ovra
