// The JavaScript/TypeScript emitter on hand-built trees: every statement and expression form,
// the method-call and import translations (also shapes the semantic stage would reject), and
// when the runtime prelude is written.
#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>
#include <string>
#include <vector>

#include "codegen.h"

namespace ovra {
namespace {

// ---- Tree builders ----

Expression id(std::string name) {
  return Identifier{{}, std::move(name)};
}
Expression num(std::string text) {
  return Literal{{}, NumberValue{std::move(text)}, OvraType(OvraType::Kind::Int)};
}
Expression str(std::string text) {
  return Literal{{}, StringValue{std::move(text)}, OvraType(OvraType::Kind::String)};
}
Expression boolean(bool value) {
  return Literal{{}, BooleanValue{value}, OvraType(OvraType::Kind::Bool)};
}
Expression bin(Expression left, BinaryOperator op, Expression right) {
  return BinaryExpression{{}, std::move(left), op, std::move(right)};
}
Expression neg(Expression operand) {
  return UnaryExpression{{}, UnaryOperator::Negate, std::move(operand)};
}
Expression logical_not(Expression operand) {
  return UnaryExpression{{}, UnaryOperator::Not, std::move(operand)};
}
Expression call(std::string name, std::vector<Expression> arguments = {}) {
  return FunctionCall{{}, std::move(name), std::move(arguments)};
}
Expression method(Expression receiver, std::string name, std::vector<Expression> arguments = {}) {
  return MethodCall{{}, std::move(receiver), std::move(name), std::move(arguments)};
}
Expression prop(Expression object, std::string property) {
  return PropertyAccess{{}, std::move(object), std::move(property)};
}
Expression at(Expression array, Expression index) {
  return ArrayAccess{{}, std::move(array), std::move(index)};
}
ArrayAccess access(std::string array, Expression index) {
  return ArrayAccess{{}, id(std::move(array)), std::move(index)};
}
Expression array(std::vector<Expression> elements) {
  return ArrayLiteral{{}, std::move(elements)};
}
Expression make_new(std::string class_name, std::vector<Expression> arguments = {}) {
  return NewExpression{{}, std::move(class_name), std::move(arguments)};
}
Expression assign_at(Expression array, Expression index, Expression value) {
  return ArrayAssignment{{}, std::move(array), std::move(index), std::move(value)};
}
// `ovra.a.b` from {"a", "b"}.
Expression ovra_path(std::vector<std::string> names) {
  Expression e = id("ovra");
  for (std::string& name : names)
    e = prop(std::move(e), std::move(name));
  return e;
}

Statement expr_stmt(Expression e) {
  return ExpressionStatement{{}, std::move(e)};
}
VariableDeclaration var(std::string name, std::optional<OvraType> type,
                        std::optional<Expression> value, bool is_const = false) {
  return VariableDeclaration{{}, is_const, std::move(name), std::move(type), std::move(value)};
}
Statement let_value(Expression value) {
  return var("v", std::nullopt, std::move(value));
}
Statement ret(std::optional<Expression> value) {
  return ReturnStatement{{}, std::move(value)};
}

OvraType type(OvraType::Kind kind) {
  return OvraType(kind);
}

std::string emit(const Program& program, CompileTarget target = CompileTarget::JavaScript) {
  return CodeGenerator(target).generate(program);
}
std::string emit_statement(Statement statement, CompileTarget target = CompileTarget::JavaScript) {
  Program program;
  program.push_back(std::move(statement));
  return emit(program, target);
}
bool has_prelude(const std::string& text) {
  return text.compare(0, runtime_prelude(CompileTarget::JavaScript).size(),
                      runtime_prelude(CompileTarget::JavaScript)) == 0;
}
std::string without_prelude(std::string text) {
  for (CompileTarget target : {CompileTarget::JavaScript, CompileTarget::TypeScript}) {
    if (text.starts_with(runtime_prelude(target)))
      text.erase(0, runtime_prelude(target).size());
  }
  return text;
}
// The text of `e` in value position, without the surrounding declaration and the prelude.
std::string emit_value(Expression e) {
  std::string text = without_prelude(emit_statement(let_value(std::move(e))));
  const std::string prefix = "let v = ";
  const std::string suffix = ";\n\n";
  if (text.compare(0, prefix.size(), prefix) != 0 || text.size() < prefix.size() + suffix.size()) {
    return "unexpected: " + text;
  }
  return text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
}

struct ExpressionCase {
  const char* label;
  Expression expression;
  const char* expected;
};

void expect_values(const std::vector<ExpressionCase>& cases) {
  for (const ExpressionCase& c : cases) {
    EXPECT_EQ(emit_value(c.expression), c.expected) << c.label;
  }
}

// ---- Expressions ----

TEST(CodegenExpressions, EveryFormInValuePosition) {
  using Op = BinaryOperator;
  expect_values({
      {"identifier", id("count"), "count"},
      {"number kept as written", num("1.50"), "1.50"},
      {"booleans", array({boolean(true), boolean(false)}), "[true, false]"},
      {"negate", neg(id("a")), "-a"},
      {"not", logical_not(id("a")), "!a"},
      {"double negation is not a decrement", neg(neg(id("a"))), "-(-a)"},
      {"negated negative literal", neg(num("-5")), "-(-5)"},
      {"negated element of negation", neg(at(neg(id("a")), num("0"))), "-(-a[0])"},
      {"negated sum needs no extra parentheses", neg(bin(id("a"), Op::Add, id("b"))), "-(a + b)"},
      {"nested binary", bin(bin(id("a"), Op::Add, id("b")), Op::Multiply, id("c")),
       "((a + b) * c)"},
      {"equal with identifier left is a comparison here", bin(id("x"), Op::Equal, num("5")),
       "(x === 5)"},
      {"equal with other left", bin(num("1"), Op::Equal, id("x")), "(1 === x)"},
      {"element assignment as operand keeps parentheses",
       bin(assign_at(id("a"), num("0"), num("5")), Op::Equal, id("x")), "((a[0] = 5) === x)"},
      {"function call", call("f", {id("a"), num("2")}), "f(a, 2)"},
      {"call without arguments", call("g"), "g()"},
      {"index", at(id("xs"), bin(id("i"), Op::Add, num("1"))), "xs[(i + 1)]"},
      {"property", prop(at(id("xs"), num("0")), "name"), "xs[0].name"},
      {"array literal", array({num("1"), str("a")}), "[1, \"a\"]"},
      {"empty array", array({}), "[]"},
      {"new", make_new("Point", {num("1"), num("2")}), "new Point(1, 2)"},
      {"element assignment", assign_at(id("a"), id("i"), num("5")), "a[i] = 5"},
  });
  const std::pair<BinaryOperator, const char*> operators[] = {
      {Op::Add, "+"},     {Op::Subtract, "-"},   {Op::Multiply, "*"},      {Op::Divide, "/"},
      {Op::Modulo, "%"},  {Op::Equal, "==="},    {Op::NotEqual, "!=="},    {Op::Less, "<"},
      {Op::Greater, ">"}, {Op::LessEqual, "<="}, {Op::GreaterEqual, ">="}, {Op::And, "&&"},
      {Op::Or, "||"},
  };
  for (const auto& [op, text] : operators) {
    EXPECT_EQ(emit_value(bin(num("1"), op, num("2"))), std::string("(1 ") + text + " 2)") << text;
  }
}

TEST(CodegenExpressions, StringLiteralsKeepTheirContent) {
  expect_values({
      {"plain", str("hi"), "\"hi\""},
      {"quote", str("say \"x\""), "\"say \\\"x\\\"\""},
      {"backslash", str("a\\b"), "\"a\\\\b\""},
      {"line feed and carriage return", str("a\nb\rc"), "\"a\\nb\\rc\""},
      {"line and paragraph separators", str("a\u2028b\u2029c"), "\"a\\u2028b\\u2029c\""},
      {"tab and other characters stay", str("\t\u00e9\u2027"), "\"\t\u00e9\u2027\""},
  });
}

TEST(CodegenExpressions, AssignmentOnlyAsWholeStatementOrForUpdate) {
  using Op = BinaryOperator;
  EXPECT_EQ(emit_statement(expr_stmt(bin(id("x"), Op::Equal, num("5")))), "x = 5;\n\n");
  EXPECT_EQ(emit_statement(expr_stmt(bin(id("a"), Op::Equal, bin(id("b"), Op::Equal, num("1"))))),
            "a = (b === 1);\n\n");
  EXPECT_EQ(emit_statement(expr_stmt(bin(num("1"), Op::Equal, id("x")))), "(1 === x);\n\n");
  EXPECT_EQ(emit_statement(IfStatement{{}, bin(id("x"), Op::Equal, num("5")), {}, std::nullopt}),
            "if ((x === 5)) {\n}\n\n");
  EXPECT_EQ(emit_statement(ret(bin(id("x"), Op::Equal, num("5")))), "return (x === 5);\n\n");
  EXPECT_EQ(
      emit_statement(ForLoopStatement{{},
                                      std::nullopt,
                                      bin(id("i"), Op::Equal, num("3")),
                                      bin(id("i"), Op::Equal, bin(id("i"), Op::Add, num("1"))),
                                      {}}),
      "for (; (i === 3); i = (i + 1)) {\n}\n\n");
}

// ---- Statements ----

struct StatementCase {
  const char* label;
  Statement statement;
  const char* javascript;
  const char* typescript;  // nullptr: same as the JavaScript
};

Statement function(std::string name, std::vector<Parameter> parameters, OvraType return_type,
                   std::vector<Statement> body) {
  return FunctionDeclaration{
      {}, std::move(name), std::move(parameters), std::move(return_type), std::move(body), false};
}

std::vector<Statement> body_of(Statement a) {
  std::vector<Statement> body;
  body.push_back(std::move(a));
  return body;
}

TEST(CodegenStatements, EveryFormInBothTargets) {
  using K = OvraType::Kind;
  using Op = BinaryOperator;
  const Statement increment_i = expr_stmt(bin(id("i"), Op::Equal, bin(id("i"), Op::Add, num("1"))));
  std::vector<StatementCase> cases;
  cases.push_back({"let with type and value", var("x", type(K::Int), num("5")), "let x = 5;\n",
                   "let x: number = 5;\n"});
  cases.push_back({"const without type", var("y", std::nullopt, str("a"), true),
                   "const y = \"a\";\n", nullptr});
  cases.push_back({"array annotation", var("xs", OvraType::array_of(type(K::Str)), array({})),
                   "let xs = [];\n", "let xs: string[] = [];\n"});
  const std::pair<OvraType, const char*> defaults[] = {
      {type(K::Str), "\"\""},
      {type(K::String), "\"\""},
      {type(K::Int), "0"},
      {type(K::SingleF), "0"},
      {type(K::MultiF), "0"},
      {type(K::Bool), "false"},
      {OvraType::array_of(type(K::Int)), "[]"},
      {OvraType::class_named("P"), "null"},
      {type(K::Obj), "{}"},
      {type(K::Unknown), "undefined"},
      {type(K::Void), "undefined"},
  };
  for (const auto& [t, value] : defaults) {
    EXPECT_EQ(emit_statement(var("d", t, std::nullopt)), "let d = " + std::string(value) + ";\n\n")
        << t.to_string();
    EXPECT_EQ(emit_statement(var("d", t, std::nullopt), CompileTarget::TypeScript),
              "let d: " + t.to_typescript() + " = " + value + ";\n\n")
        << t.to_string();
  }
  cases.push_back(
      {"no type no value", var("u", std::nullopt, std::nullopt), "let u = undefined;\n", nullptr});
  cases.push_back({"function",
                   function("add", {{"a", type(K::Int)}, {"b", OvraType::array_of(type(K::Bool))}},
                            type(K::Int), body_of(ret(bin(id("a"), Op::Add, num("1"))))),
                   "function add(a, b) {\n  return (a + 1);\n}\n",
                   "function add(a: number, b: boolean[]): number {\n  return (a + 1);\n}\n"});
  cases.push_back({"empty function", function("f", {}, type(K::Void), {}), "function f() {\n}\n",
                   "function f(): void {\n}\n"});
  cases.push_back({"return without value", ret(std::nullopt), "return;\n", nullptr});
  {
    std::vector<Statement> then_branch;
    then_branch.push_back(expr_stmt(call("a")));
    std::vector<Statement> else_branch;
    else_branch.push_back(IfStatement{{}, id("d"), body_of(BreakStatement{{}}), std::nullopt});
    cases.push_back({"if else with nested if",
                     IfStatement{{}, id("c"), std::move(then_branch), std::move(else_branch)},
                     "if (c) {\n  a();\n} else {\n  if (d) {\n    break;\n  }\n}\n", nullptr});
  }
  cases.push_back({"if with empty else", IfStatement{{}, id("c"), {}, std::vector<Statement>{}},
                   "if (c) {\n} else {\n}\n", nullptr});
  cases.push_back(
      {"while",
       WhileStatement{{}, bin(id("i"), Op::Less, num("3")), body_of(ContinueStatement{{}})},
       "while ((i < 3)) {\n  continue;\n}\n", nullptr});
  cases.push_back({"for with all parts",
                   ForLoopStatement{{},
                                    var("i", type(K::Int), num("0")),
                                    bin(id("i"), Op::Less, num("3")),
                                    bin(id("i"), Op::Equal, bin(id("i"), Op::Add, num("1"))),
                                    body_of(expr_stmt(call("f", {id("i")})))},
                   "for (let i = 0; (i < 3); i = (i + 1)) {\n  f(i);\n}\n",
                   "for (let i: number = 0; (i < 3); i = (i + 1)) {\n  f(i);\n}\n"});
  cases.push_back({"for without parts",
                   ForLoopStatement{{}, std::nullopt, std::nullopt, std::nullopt, {}},
                   "for (; ; ) {\n}\n", nullptr});
  cases.push_back(
      {"for init with semicolon in a string",
       ForLoopStatement{{}, var("s", std::nullopt, str("a;b")), std::nullopt, std::nullopt, {}},
       "for (let s = \"a;b\"; ; ) {\n}\n", nullptr});
  cases.push_back(
      {"push", PushStatement{{}, num("1"), access("xs", num("9"))}, "xs.push(1);\n", nullptr});
  cases.push_back({"rmv", RmvStatement{{}, access("xs", id("i"))}, "xs.splice(i, 1);\n", nullptr});
  {
    std::vector<Statement> out_body;
    out_body.push_back(expr_stmt(call("f", {id("x")})));
    out_body.push_back(increment_i);
    std::vector<Statement> loop_body;
    loop_body.push_back(OutStatement{{}, access("xs", id("i")), "x", std::move(out_body)});
    cases.push_back({"out inside a loop binds and runs its body at the same depth",
                     WhileStatement{{}, boolean(true), std::move(loop_body)},
                     "while (true) {\n  const x = xs[i];\n  f(x);\n  i = (i + 1);\n}\n", nullptr});
  }
  {
    std::vector<Statement> out_body;
    out_body.push_back(var("twice", std::nullopt, bin(id("x"), Op::Multiply, num("2"))));
    cases.push_back({"out whose body declares a name puts the body in a block",
                     OutStatement{{}, access("xs", num("0")), "x", std::move(out_body)},
                     "const x = xs[0];\n{\n  let twice = (x * 2);\n}\n", nullptr});
  }
  cases.push_back({"class fields carry no types",
                   ClassDeclaration{{}, "Point", {{"x", type(K::Int)}, {"y", type(K::Str)}}},
                   "class Point {\n  x;\n  y;\n}\n", nullptr});
  cases.push_back({"empty class", ClassDeclaration{{}, "E", {}}, "class E {\n}\n", nullptr});
  cases.push_back(
      {"crob", CrobDeclaration{{}, "o", make_new("P")}, "const o = new P();\n", nullptr});
  {
    std::vector<ObjectField> fields;
    fields.push_back({"x", num("1")});
    fields.push_back({"name", str("n")});
    std::vector<ObjectMethod> methods;
    methods.push_back({"area",
                       {{"k", type(K::Int)}},
                       type(K::Int),
                       body_of(ret(bin(prop(id("o"), "x"), Op::Multiply, id("k"))))});
    methods.push_back({"noop", {}, type(K::Void), {}});
    cases.push_back(
        {"encapsulated crob", CrobEncapsulatedDeclaration{{}, "o", "P", true, fields, methods},
         "const o = new P();\no.x = 1;\no.name = \"n\";\no.area = function(k) {\n  return (o.x * "
         "k);\n};\no.noop = function() {\n};\n",
         nullptr});
    cases.push_back(
        {"remake", RemakeStatement{{}, "o", fields, {}}, "o.x = 1;\no.name = \"n\";\n", nullptr});
  }
  cases.push_back(
      {"export function",
       ExportDeclaration{
           {},
           Statement(FunctionDeclaration{
               {}, "f", {{"a", type(K::Int)}}, type(K::Int), body_of(ret(id("a"))), true})},
       "export function f(a) {\n  return a;\n}\n",
       "export function f(a: number): number {\n  return a;\n}\n"});
  cases.push_back({"export class", ExportDeclaration{{}, Statement(ClassDeclaration{{}, "C", {}})},
                   "export class C {\n}\n", nullptr});
  cases.push_back({"expression statement", expr_stmt(call("main")), "main();\n", nullptr});

  for (const StatementCase& c : cases) {
    EXPECT_EQ(emit_statement(c.statement), std::string(c.javascript) + "\n") << c.label;
    EXPECT_EQ(emit_statement(c.statement, CompileTarget::TypeScript),
              std::string(c.typescript ? c.typescript : c.javascript) + "\n")
        << c.label << " (TypeScript)";
  }
}

TEST(CodegenStatements, ReservedJavaScriptWordsAsNames) {
  using K = OvraType::Kind;
  Program program;
  program.push_back(var("default", type(K::Int), num("1")));
  program.push_back(function("function", {{"this", type(K::Int)}}, type(K::Int),
                             body_of(ret(bin(id("this"), BinaryOperator::Add, id("default"))))));
  program.push_back(
      expr_stmt(bin(id("var"), BinaryOperator::Equal, call("function", {id("null")}))));
  program.push_back(ClassDeclaration{{}, "switch", {{"case", type(K::Int)}}});
  program.push_back(CrobDeclaration{{}, "undefined", make_new("switch")});
  program.push_back(OutStatement{{}, access("in", num("0")), "for", {}});
  program.push_back(expr_stmt(prop(id("undefined"), "case")));
  program.push_back(
      ImportDeclaration{{}, std::nullopt, {"default", "print"}, "ovra.io", std::nullopt, false});
  program.push_back(
      ImportDeclaration{{}, "import", {"default", "a"}, "./m.js", std::nullopt, true});
  EXPECT_EQ(without_prelude(emit(program, CompileTarget::TypeScript)),
            "let default$: number = 1;\n\n"
            "function function$(this$: number): number {\n  return (this$ + default$);\n}\n\n"
            "var$ = function$(null$);\n\n"
            "class switch$ {\n  case;\n}\n\n"
            "const undefined$ = new switch$();\n\n"
            "const for$ = in$[0];\n\n"
            "undefined$.case;\n\n"
            "const default$ = ovra.io.default;\nconst print = ovra.io.print;\n\n"
            "import import$, { default as default$, a } from \"./m.js\";\n\n");
}

TEST(CodegenStatements, TopLevelStatementsAreSeparatedByOneEmptyLine) {
  Program program;
  program.push_back(var("a", std::nullopt, num("1")));
  program.push_back(function("f", {}, type(OvraType::Kind::Void), body_of(ret(std::nullopt))));
  program.push_back(expr_stmt(call("f")));
  EXPECT_EQ(emit(program), "let a = 1;\n\nfunction f() {\n  return;\n}\n\nf();\n\n");
  EXPECT_EQ(emit(Program{}), "");
}

TEST(CodegenStatements, ReplacedTopLevelFunctionsAreLeftOut) {
  // The last declaration of a name is the one every call reaches; modules and TypeScript reject
  // a second declaration, so the earlier ones are not written.
  auto returning = [](const char* value) {
    return function("f", {}, type(OvraType::Kind::Int), body_of(ret(num(value))));
  };
  Program program;
  program.push_back(returning("1"));
  program.push_back(expr_stmt(call("f")));
  program.push_back(returning("2"));
  program.push_back(function("g", {}, type(OvraType::Kind::Void), body_of(ret(std::nullopt))));
  program.push_back(returning("3"));
  EXPECT_EQ(emit(program),
            "f();\n\nfunction g() {\n  return;\n}\n\nfunction f() {\n  return 3;\n}\n\n");
  EXPECT_EQ(
      emit(program, CompileTarget::TypeScript),
      "f();\n\nfunction g(): void {\n  return;\n}\n\nfunction f(): number {\n  return 3;\n}\n\n");
}

// ---- Method calls ----

TEST(CodegenMethodCalls, IncrementsAndDecrements) {
  using Op = BinaryOperator;
  expect_values({
      {"toUp on a variable keeps the old value", method(id("x"), "toUp"),
       "(()=>{const __ovra_tmp_1=x; x=x+1; return __ovra_tmp_1;})()"},
      {"toDn with a step", method(id("x"), "toDn", {num("2"), num("9")}),
       "(()=>{const __ovra_tmp_1=x; x=x-2; return __ovra_tmp_1;})()"},
      {"getDn on an element", method(at(id("a"), id("i")), "getDn", {num("2")}), "(a[i]=a[i]-2)"},
      {"getUp on a property", method(prop(id("p"), "n"), "getUp"), "(p.n=p.n+1)"},
      {"non-assignable receiver is parenthesized", method(bin(id("a"), Op::Add, id("b")), "toUp"),
       "((a + b)+1)"},
      {"call receiver", method(call("f"), "getDn", {id("k")}), "(f()-k)"},
      {"negative step is not a decrement", method(id("x"), "getDn", {neg(num("1"))}), "(x=x-(-1))"},
      {"folded negative step", method(id("x"), "getUp", {num("-2")}), "(x=x+(-2))"},
  });
  // Temporaries are numbered through the whole file, the outer one first.
  Program program;
  program.push_back(expr_stmt(method(id("x"), "toUp")));
  program.push_back(expr_stmt(method(at(id("a"), method(id("i"), "toUp")), "toDn")));
  EXPECT_EQ(
      emit(program),
      "(()=>{const __ovra_tmp_1=x; x=x+1; return __ovra_tmp_1;})();\n\n"
      "(()=>{const __ovra_tmp_2=a[(()=>{const __ovra_tmp_3=i; i=i+1; return "
      "__ovra_tmp_3;})()]; a[(()=>{const __ovra_tmp_3=i; i=i+1; return __ovra_tmp_3;})()]=a[(("
      ")=>{const __ovra_tmp_3=i; i=i+1; return __ovra_tmp_3;})()]-1; return "
      "__ovra_tmp_2;})();\n\n");
}

TEST(CodegenMethodCalls, LanguageMethods) {
  expect_values({
      {"toInt drops arguments", method(id("n"), "toInt", {num("5")}), "parseInt(String(n), 10)"},
      {"round", method(id("n"), "round"), "Math.round(n)"},
      {"cutIt keeps every argument", method(id("s"), "cutIt", {num("0"), num("2"), num("7")}),
       "s.slice(0, 2, 7)"},
      {"endOf takes the first argument", method(id("s"), "endOf", {id("a"), id("b")}),
       "s.endsWith(a)"},
      {"endOf without argument", method(id("s"), "endOf"), "s.endsWith()"},
      {"toBool", method(id("n"), "toBool"), "Boolean(n)"},
      {"length is a property", method(id("s"), "length", {num("1")}), "s.length"},
      {"initOf", method(id("s"), "initOf", {str("a"), str("b")}), "s.startsWith(\"a\")"},
      {"splice", method(id("xs"), "splice", {num("1"), num("2")}), "xs.splice(1, 2)"},
      {"toString", method(id("n"), "toString", {num("16")}), "String(n)"},
      {"toMultif", method(id("s"), "toMultif"), "parseFloat(String(s))"},
      {"toSinglef", method(id("s"), "toSinglef"), "parseFloat(String(s))"},
      {"user method", method(id("obj"), "area", {num("1"), num("2")}), "obj.area(1, 2)"},
      {"user object's length is still a property", method(prop(id("o"), "items"), "length"),
       "o.items.length"},
      {"method on an indexed ovra path is not a namespace call",
       method(at(ovra_path({"x"}), num("0")), "round"), "Math.round(ovra.x[0])"},
  });
}

TEST(CodegenMethodCalls, NamespaceMembers) {
  expect_values({
      {"cwd drops arguments", method(id("ovra"), "cwd", {id("x")}), "ovra.cwd()"},
      {"listTasks", method(id("ovra"), "listTasks", {id("x")}), "ovra.listTasks()"},
      {"readText keeps the first argument", method(id("ovra"), "readText", {id("p"), id("q")}),
       "ovra.readText(p)"},
      {"exec keeps the first argument", method(id("ovra"), "exec", {id("c"), id("d")}),
       "ovra.exec(c)"},
      {"single-argument member with none", method(id("ovra"), "env"), "ovra.env()"},
      {"writeText keeps both", method(id("ovra"), "writeText", {id("p"), id("d")}),
       "ovra.writeText(p, d)"},
      {"log keeps all", method(id("ovra"), "log", {num("1"), num("2"), num("3")}),
       "ovra.log(1, 2, 3)"},
      {"http handler", method(id("ovra"), "get", {str("/"), id("h")}), "ovra.get(\"/\", h)"},
      {"unknown member keeps all", method(id("ovra"), "head", {id("a"), id("b")}),
       "ovra.head(a, b)"},
      {"db member", method(ovra_path({"db"}), "connect", {id("kind"), id("url")}),
       "ovra.db.connect(kind, url)"},
      {"io print", method(ovra_path({"io"}), "print", {id("a"), id("b")}), "ovra.io.print(a, b)"},
      {"io reads drop arguments", method(ovra_path({"io"}), "readInt", {id("p")}),
       "ovra.io.readInt()"},
      {"io readLine", method(ovra_path({"io"}), "readLine", {id("p")}), "ovra.io.readLine()"},
      {"io readSinglef", method(ovra_path({"io"}), "readSinglef"), "ovra.io.readSinglef()"},
      {"io readMultif", method(ovra_path({"io"}), "readMultif", {id("p")}), "ovra.io.readMultif()"},
      {"other io member", method(ovra_path({"io"}), "flush", {id("p")}), "ovra.io.flush(p)"},
      {"other one-name path", method(ovra_path({"fs"}), "stat", {id("p")}), "ovra.fs.stat(p)"},
      {"deeper path", method(ovra_path({"data", "map"}), "new"), "ovra.data.map.new()"},
  });
}

TEST(CodegenMethodCalls, QueryChains) {
  Expression table = method(ovra_path({"db"}), "table", {str("users")});
  Expression where = method(table, "where", {str("age"), str(">"), num("18")});
  Expression ordered = method(where, "orderBy", {str("age"), str("DESC")});
  const std::string table_text = "ovra.db.table(\"users\")";
  const std::string where_text = table_text + ".where(\"age\", \">\", 18)";
  const std::string ordered_text = where_text + ".orderBy(\"age\", \"DESC\")";
  EXPECT_TRUE(is_db_chain_call(table));
  EXPECT_TRUE(is_db_chain_call(ordered));
  EXPECT_FALSE(is_db_chain_call(method(ovra_path({"io"}), "table", {str("u")})));
  EXPECT_FALSE(is_db_chain_call(method(method(table, "count"), "where")));
  expect_values({
      {"table", table, table_text.c_str()},
      {"where", where, where_text.c_str()},
      {"orderBy", ordered, ordered_text.c_str()},
      {"join then limit",
       method(method(table, "join", {str("t"), str("a"), str("b")}), "limit", {num("5")}),
       (table_text + ".join(\"t\", \"a\", \"b\").limit(5)").c_str()},
      {"find", method(ordered, "find"), (ordered_text + ".find()").c_str()},
      {"findOne", method(where, "findOne"), (where_text + ".findOne()").c_str()},
      {"insert", method(table, "insert", {id("row")}), (table_text + ".insert(row)").c_str()},
      {"update", method(where, "update", {id("row")}), (where_text + ".update(row)").c_str()},
      {"delete", method(where, "delete"), (where_text + ".delete()").c_str()},
      {"no name is special inside the chain", method(method(where, "find"), "length"),
       (where_text + ".find().length()").c_str()},
      {"an unknown step ends the chain", method(method(table, "count"), "length"),
       (table_text + ".count().length").c_str()},
      {"a language method after the unknown step",
       method(method(method(table, "count"), "where", {str("a"), num("1")}), "toInt"),
       ("parseInt(String(" + table_text + ".count().where(\"a\", 1)), 10)").c_str()},
  });
}

// ---- Imports ----

TEST(CodegenImports, EverySourceForm) {
  struct ImportCase {
    const char* label;
    ImportDeclaration declaration;
    const char* expected;
  };
  auto make_import = [](std::optional<std::string> default_import, std::vector<std::string> named,
                        std::string source, std::optional<std::string> alias = std::nullopt,
                        bool source_is_string = false) {
    return ImportDeclaration{{},
                             std::move(default_import),
                             std::move(named),
                             std::move(source),
                             std::move(alias),
                             source_is_string};
  };
  const ImportCase cases[] = {
      {"named from an ovra path", make_import(std::nullopt, {"readLine", "print"}, "ovra.io"),
       "const readLine = ovra.io.readLine;\nconst print = ovra.io.print;\n"},
      {"ovra path with alias", make_import(std::nullopt, {}, "ovra.io", "inout"),
       "const inout = ovra.io;\n"},
      {"alias wins over default", make_import("io", {"x"}, "ovra.io", "inout"),
       "const inout = ovra.io;\n"},
      {"ovra path default", make_import("db", {}, "ovra.db"), "const db = ovra.db;\n"},
      {"every ovra. is removed", make_import(std::nullopt, {"f"}, "ovra.a.ovra.b"),
       "const f = ovra.a.b.f;\n"},
      {"local library", make_import("math", {"sqrt", "pow"}, "lib.math", "m"),
       "const sqrt = math.sqrt;\nconst pow = math.pow;\n"},
      {"library without names", make_import("math", {}, "lib.math"), ""},
      {"other dotted source", make_import(std::nullopt, {"x"}, "std.io"), ""},
      {"string path, named", make_import(std::nullopt, {"a", "b"}, "./m.js", std::nullopt, true),
       "import { a, b } from \"./m.js\";\n"},
      {"string path, default and named", make_import("M", {"a"}, "./m.js", std::nullopt, true),
       "import M, { a } from \"./m.js\";\n"},
      {"string path, default", make_import("M", {}, "./m.js", std::nullopt, true),
       "import M from \"./m.js\";\n"},
      {"string path, default with alias", make_import("M", {}, "./m.js", "N", true),
       "import M as N from \"./m.js\";\n"},
      {"string path, nothing imported", make_import(std::nullopt, {}, "./m.js", std::nullopt, true),
       ""},
      {"string path is escaped",
       make_import(std::nullopt, {"a"}, "d\\\"q\".js", std::nullopt, true),
       "import { a } from \"d\\\\\\\"q\\\".js\";\n"},
      {"string path that looks like a library",
       make_import(std::nullopt, {"a"}, "lib.js", std::nullopt, true),
       "import { a } from \"lib.js\";\n"},
      {"quoted source is pasted verbatim", make_import(std::nullopt, {"a"}, "'./m.js'"),
       "import { a } from './m.js';\n"},
  };
  for (const ImportCase& c : cases) {
    std::string expected = c.expected;
    EXPECT_EQ(without_prelude(emit_statement(c.declaration)), expected + "\n") << c.label;
  }
  // Import lines are indented like any statement.
  std::vector<Statement> body;
  body.push_back(make_import(std::nullopt, {"sqrt"}, "lib.math"));
  EXPECT_EQ(emit_statement(function("f", {}, OvraType(OvraType::Kind::Void), std::move(body))),
            "function f() {\n  const sqrt = math.sqrt;\n}\n\n");
}

// ---- The runtime prelude decision ----

TEST(CodegenRuntime, PreludeWheneverTheProgramUsesTheNamespace) {
  Expression read = method(id("ovra"), "readText", {str("p")});
  struct Case {
    const char* label;
    Statement statement;
    bool needs_prelude;
  };
  std::vector<Case> cases;
  cases.push_back({"no namespace", expr_stmt(method(id("s"), "length")), false});
  cases.push_back({"a user function named ovra", expr_stmt(call("ovra")), false});
  cases.push_back({"initializer", let_value(read), true});
  cases.push_back({"deep path", expr_stmt(method(ovra_path({"data", "map"}), "new")), true});
  cases.push_back({"inside a method receiver", expr_stmt(method(read, "length")), true});
  cases.push_back({"query chain",
                   let_value(method(method(ovra_path({"db"}), "table", {str("u")}), "find")),
                   true});
  cases.push_back({"push value", PushStatement{{}, read, access("xs", num("0"))}, true});
  cases.push_back({"out index",
                   OutStatement{{}, access("xs", method(ovra_path({"io"}), "readInt")), "x", {}},
                   true});
  cases.push_back({"new argument", let_value(make_new("P", {read})), true});
  cases.push_back({"element assignment", expr_stmt(assign_at(id("a"), num("0"), read)), true});
  cases.push_back({"crob", CrobDeclaration{{}, "o", read}, true});
  cases.push_back({"object member", RemakeStatement{{}, "o", {{"t", read}}, {}}, true});
  cases.push_back({"class body has no expressions", ClassDeclaration{{}, "ovra", {}}, false});
  cases.push_back(
      {"exported function body",
       ExportDeclaration{
           {},
           Statement(FunctionDeclaration{
               {}, "f", {}, OvraType(OvraType::Kind::Void), body_of(expr_stmt(read)), true})},
       true});
  cases.push_back({"namespace as a value", let_value(prop(id("ovra"), "io")), true});
  cases.push_back({"import from the namespace",
                   ImportDeclaration{{}, std::nullopt, {"print"}, "ovra.io", std::nullopt, false},
                   true});
  cases.push_back({"import from a library",
                   ImportDeclaration{{}, std::nullopt, {"f"}, "lib.ovra", std::nullopt, false},
                   false});
  for (const Case& c : cases) {
    std::string text = emit_statement(c.statement);
    EXPECT_EQ(has_prelude(text), c.needs_prelude) << c.label;
  }
  // The prelude stands first, then the program, also for TypeScript.
  Program program;
  program.push_back(let_value(read));
  for (CompileTarget target : {CompileTarget::JavaScript, CompileTarget::TypeScript}) {
    EXPECT_EQ(emit(program, target),
              std::string(runtime_prelude(target)) + "let v = ovra.readText(\"p\");\n\n");
  }
}

TEST(CodegenRuntime, PreludeTexts) {
  const std::string_view javascript = runtime_prelude(CompileTarget::JavaScript);
  const std::string_view typescript = runtime_prelude(CompileTarget::TypeScript);
  EXPECT_TRUE(javascript.starts_with("(function() {\n"));
  EXPECT_TRUE(javascript.ends_with("})();\n\n"));
  EXPECT_EQ(javascript.find("@@"), std::string_view::npos);
  EXPECT_EQ(javascript.find("@ts-ignore"), std::string_view::npos);
  EXPECT_TRUE(typescript.ends_with("})();\ndeclare var ovra: any;\n\n"));
  // The TypeScript text is the JavaScript text plus comment lines and the declaration.
  std::string stripped;
  for (std::size_t start = 0; start < typescript.size();) {
    std::size_t end = typescript.find('\n', start);
    std::string_view line = typescript.substr(start, end + 1 - start);
    if (line.find("// @ts-ignore") == std::string_view::npos)
      stripped += line;
    start = end + 1;
  }
  EXPECT_EQ(stripped, std::string(javascript.substr(0, javascript.size() - 1)) +
                          "declare var ovra: any;\n\n");
}

// ---- Size ----

void* run_on_thread(void* argument) {
  (*static_cast<std::function<void()>*>(argument))();
  return nullptr;
}

// Trees as deep as the parser admits are walked on the pipeline's large stack.
void with_large_stack(std::function<void()> body) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, std::size_t{1} << 30);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attributes, run_on_thread, &body), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

TEST(CodegenSize, DeepOperatorChain) {
  with_large_stack([] {
    constexpr int kTerms = 200000;
    Expression chain = id("a");
    for (int i = 0; i < kTerms; ++i)
      chain = bin(std::move(chain), BinaryOperator::Add, num("1"));
    Program program;
    program.push_back(expr_stmt(std::move(chain)));
    std::string text = emit(program);
    EXPECT_EQ(text.size(), 1 + kTerms * 6 + 3);
    EXPECT_EQ(text.substr(kTerms - 2, 6), "((a + ");
    EXPECT_TRUE(text.ends_with(" + 1);\n\n"));
    // Release the tree on this thread too: its destructor recurses as deep.
    program.clear();
  });
}

}  // namespace
}  // namespace ovra
