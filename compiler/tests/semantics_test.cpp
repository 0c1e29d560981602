// The semantic stage seen through the pipeline: which programs are rejected, with which first
// message at which position, and which are accepted.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "compiler.h"
#include "lexer.h"
#include "parser.h"
#include "semantics.h"

namespace ovra {
namespace {

// The first line of the error display ("Semantic error at 2:5: ..."), or "accepted".
std::string first_error_line(std::string_view source) {
  Result<std::string> result = Compiler::compile(CompileTarget::JavaScript, source);
  if (result)
    return "accepted";
  std::string text = result.error().to_string();
  return text.substr(0, text.find('\n'));
}

Program parse(std::string_view source) {
  Result<TokenList> tokens = Lexer(source).scan_tokens();
  EXPECT_TRUE(tokens.ok()) << source;
  Program program;
  if (!tokens)
    return program;
  Parser parser(std::move(tokens.value()));
  while (!parser.is_at_end()) {
    Result<std::optional<Statement>> statement = parser.parse_statement();
    EXPECT_TRUE(statement.ok()) << source;
    if (!statement)
      break;
    if (statement.value())
      program.push_back(std::move(*statement.value()));
  }
  return program;
}

// Every message the analyser records, in order, as "line:column: message".
std::vector<std::string> all_errors(std::string_view source) {
  std::vector<std::string> messages;
  for (const CompilerError& error : SemanticAnalyzer().analyze(parse(source))) {
    auto [line, column] = *error.position();
    messages.push_back(std::to_string(line) + ":" + std::to_string(column) + ": " +
                       error.message());
  }
  return messages;
}

struct ErrorCase {
  const char* label;
  std::string source;
  std::string expected;  // "line:column: message"
};

void expect_first_errors(const std::vector<ErrorCase>& cases) {
  for (const ErrorCase& c : cases) {
    EXPECT_EQ(first_error_line(c.source), "Semantic error at " + c.expected)
        << c.label << "\n--- source ---\n"
        << c.source;
  }
}

TEST(SemanticErrors, DeclarationPassAndClasses) {
  expect_first_errors({
      {"crob of an undeclared class", "crob p = new Q();", "1:1: Class 'Q' is not defined"},
      {"crob of a class declared later", "crob p = new P();\nclass P { x: int }",
       "1:1: Class 'P' is not defined"},
      {"encapsulated crob of an undeclared class", "crob p(class: Q, right: true) { }",
       "1:1: Class 'Q' is not defined"},
      {"repeated field in an exported class", "share class P { x: int\n y: str\n x: bool }",
       "1:7: Duplicate field name 'x' in class 'P'"},
      {"repeated field in a top-level class", "let a = 1;\nclass P { x: int x: int }",
       "2:1: Duplicate field name 'x' in class 'P'"},
      {"nested class named like a top-level one", "class P { }\nfunc f(): void { class P { } }",
       "2:18: Class 'P' is already declared"},
      {"repeated field in a nested class", "func f(): void {\n  class Q { a: int a: str }\n}",
       "2:3: Duplicate field name 'a' in class 'Q'"},
  });
}

TEST(SemanticErrors, DeclarationPassErrorsComeFirst) {
  // The type error stands earlier in the file, but the crob is checked by the first pass.
  EXPECT_EQ(first_error_line("let s: str = 5;\nclass A { }\ncrob p = new Q();"),
            "Semantic error at 3:1: Class 'Q' is not defined");
  EXPECT_EQ(all_errors("let s: str = 5;\ncrob p = new Q();"),
            (std::vector<std::string>{"2:1: Class 'Q' is not defined",
                                      "1:1: Type mismatch: cannot assign int to str",
                                      "2:10: Class 'Q' is not defined"}));
}

// Variables, functions, classes and imported names share the outermost scope of the emitted
// module, so one name bound by two of them would give JavaScript that does not load.
TEST(SemanticErrors, TopLevelNamesBoundTwice) {
  expect_first_errors({
      {"function after a variable", "let f = 1;\nfunc f(): int { back 1; }",
       "2:1: Function 'f' is already declared"},
      {"variable after a function", "func f(): int { back 1; }\nlet f = 1;",
       "2:1: Variable 'f' is already declared"},
      {"class after a variable", "let P = 3;\nclass P { x: int }",
       "2:1: Class 'P' is already declared"},
      {"class declared twice", "class P { x: int }\nclass P { y: int }",
       "2:1: Class 'P' is already declared"},
      {"crob declared twice", "class P { }\ncrob o = new P();\ncrob o = new P();",
       "3:1: Variable 'o' is already declared"},
      {"crob named like a function",
       "class P { }\nfunc o(): int { back 1; }\ncrob o(class: P, right: true) { }",
       "3:1: Variable 'o' is already declared"},
      {"module import, then a variable", "cite helper, { a } from \"./m\";\nlet helper = 3;",
       "2:1: Variable 'helper' is already declared"},
      {"module import, then a function",
       "cite helper from \"./m\";\nfunc helper(): int { back 1; }",
       "2:1: Function 'helper' is already declared"},
      {"two imports of one name", "cite { a } from \"./m\";\ncite { b, a } from \"./n\";",
       "2:1: Imported name 'a' is already declared"},
      {"namespace imports", "cite { readText } from ovra.fs;\ncite { readText } from ovra.fs;",
       "2:1: Imported name 'readText' is already declared"},
      {"namespace alias after a variable", "let t = 1;\ncite ovra.io as t;",
       "2:1: Imported name 't' is already declared"},
      {"library import after a class", "class sqrt { }\ncite { sqrt } from lib.math;",
       "2:1: Imported name 'sqrt' is already declared"},
      {"exported function declared again",
       "share func f(): int { back 1; }\nfunc f(): int { back 2; }",
       "2:1: Function 'f' is already declared"},
      {"function exported after a plain one",
       "func f(): int { back 1; }\nshare func f(): int { back 2; }",
       "2:7: Function 'f' is already declared"},
      {"module import in a function", "func f(): int {\n  cite helper from \"./m\";\n  back 1;\n}",
       "2:3: Module import must be at top level"},
      {"module import in a top-level branch", "if (true) { cite { a } from \"./m\"; }",
       "1:13: Module import must be at top level"},
      {"export in a loop", "while (true) {\n  share class Q { }\n}",
       "2:3: Export must be at top level"},
  });
}

TEST(SemanticErrors, Statements) {
  expect_first_errors({
      {"inner scopes cannot shadow", "let x = 1;\nfunc f(): void { let x = 2; }",
       "2:18: Variable 'x' is already declared"},
      {"a variable from an if branch stays declared", "if (1 < 2) { let y = 1; }\nlet y = 2;",
       "2:1: Variable 'y' is already declared"},
      {"two forloops declaring i",
       "forloop (let i = 0; i < 1; i = i + 1) { }\nforloop (let i = 0; i < 1; i = i + 1) { }",
       "2:10: Variable 'i' is already declared"},
      {"an out binding stays declared", "let xs = [1];\nout xs[0] as v { }\nlet v = 2;",
       "3:1: Variable 'v' is already declared"},
      {"parameter shadowed by a local", "func f(a: int): void { let a = 1; }",
       "1:24: Variable 'a' is already declared"},
      {"int into str", "let s: str = 5;", "1:1: Type mismatch: cannot assign int to str"},
      {"str and string differ", "let s: str = \"a\";",
       "1:1: Type mismatch: cannot assign string to str"},
      {"array element types must match", "let a: arr<int> = [1.5];",
       "1:1: Type mismatch: cannot assign arr<singlef> to arr<int>"},
      {"unknown is no wildcard inside arr", "let a: arr<unknown> = [1];",
       "1:1: Type mismatch: cannot assign arr<int> to arr<unknown>"},
      {"nested arrays", "let a: arr<arr<string>> = [[1]];",
       "1:1: Type mismatch: cannot assign arr<arr<int>> to arr<arr<string>>"},
      {"class value into obj", "class P { }\nlet o: obj = new P();",
       "2:1: Type mismatch: cannot assign class<P> to obj"},
      {"bare return in an int function", "func f(): int { back; }",
       "1:17: Function must return int, but got void"},
      {"wrong return type", "func f(): int {\n  back \"a\";\n}",
       "2:3: Return type mismatch: expected int, got string"},
      {"method return type",
       "class P { }\ncrob p(class: P, right: true) { func m(): bool { back 1; } }",
       "2:50: Return type mismatch: expected bool, got int"},
      {"if condition", "if (1) { }", "1:5: If condition must be bool, got int"},
      {"while condition", "while (1 + 1) { }", "1:8: While condition must be bool, got int"},
      {"forloop condition", "forloop (; \"a\"; ) { }",
       "1:12: ForLoop condition must be bool, got string"},
      {"push of a wrong type", "let xs: arr<int> = [];\npush \"a\" => xs[0];",
       "2:1: Cannot push string to array of type int"},
      {"crob from a number", "crob c = 5;", "1:1: Crob initializer must be an object, got int"},
      {"remake of an unknown object", "remake p { x = 1; }", "1:1: Object 'p' is not defined"},
      {"continue at top level", "let a = 1;\ncontinue;",
       "2:1: Continue statement must be inside a loop"},
      {"break at top level", "break;", "1:1: Break statement must be inside a loop"},
      {"break in a function outside loops", "func f(): void { break; }",
       "1:18: Break statement must be inside a loop"},
      {"break after a loop", "while (true) { }\nbreak;",
       "2:1: Break statement must be inside a loop"},
  });
}

TEST(SemanticErrors, Expressions) {
  expect_first_errors({
      {"negate a bool", "let a = -true;", "1:9: Unary '-' requires numeric type, got bool"},
      {"not a number", "let a = !1;", "1:9: Unary '!' requires bool type, got int"},
      {"sum of strings", "let a = \"x\" + \"y\";",
       "1:9: Arithmetic operation requires numeric types, got string and string"},
      {"logic on a number", "let a = 1 && true;",
       "1:9: Logical operation requires bool types, got int and bool"},
      {"undefined function", "g();", "1:1: Function 'g' is not defined"},
      {"argument count", "func f(a: int, b: int): int { back a; }\nf(1, 2, 3);",
       "2:1: Function 'f' expects 2 arguments, got 3"},
      {"argument type", "func f(a: int, b: str): int { back a; }\nf(1, 2);",
       "2:6: Argument 2 of function 'f': expected str, got int"},
      {"index a number", "let n = 1;\nlet v = n[0];", "2:9: Cannot index non-array type int"},
      {"index with a string", "let xs = [1];\nlet v = xs[\"a\"];",
       "2:12: Array index must be numeric, got string"},
      {"missing class field", "class P { x: int }\nlet p = new P();\nlet v = p.z;",
       "3:9: Property 'z' does not exist on class 'P'"},
      {"property of a number", "let n = 1;\nlet v = n.x;",
       "2:9: Cannot access property 'x' on type int"},
      {"property of unknown", "let u: unknown = 1;\nlet v = u.x;",
       "2:9: Cannot access property 'x' on type unknown"},
      {"mixed array", "let a = [1, true];",
       "1:9: Array elements have incompatible types: int and bool"},
      {"mixed array after widening", "let a = [1, 2.5, \"s\"];",
       "1:9: Array elements have incompatible types: singlef and string"},
      {"new of an undeclared class", "let q = new Q();", "1:9: Class 'Q' is not defined"},
      {"element index must be int", "let xs = [1];\nxs[1.5] = 2;",
       "2:4: Array index must be int, got singlef"},
      {"element type", "let xs = [1];\nxs[0] = \"s\";",
       "2:9: Cannot assign string to array element of type int"},
      {"element of a number", "let n = 1;\nn[0] = 2;", "2:1: Cannot assign to non-array type int"},
  });
}

TEST(SemanticErrors, LanguageMethods) {
  const std::string s = "let s: str;\n";
  const std::string n = "let n = 1;\n";
  const std::string xs = "let xs = [1, 2];\n";
  expect_first_errors({
      {"step on a string", s + "s.toUp();",
       "2:1: Increment/decrement method 'toUp' can only be called on numeric types, got str"},
      {"non-numeric step", n + "n.getDn(\"x\");",
       "2:9: Step argument for 'getDn' must be numeric, got string"},
      {"length of a number", n + "n.length();",
       "2:1: Cannot call 'length()' on type int, only arrays and strings support length()"},
      {"cutIt of a bool", "let b = true;\nb.cutIt(0);",
       "2:1: Cannot call 'cutIt()' on type bool, only arrays and strings support cutIt()"},
      {"cutIt without start", s + "s.cutIt();",
       "2:1: cutIt() requires at least 1 argument (start index)"},
      {"cutIt start", s + "s.cutIt(\"a\");",
       "2:9: cutIt() start parameter must be numeric, got string"},
      {"cutIt end", s + "s.cutIt(0, true);",
       "2:12: cutIt() end parameter must be numeric, got bool"},
      {"splice of a string", s + "s.splice(0);",
       "2:1: Cannot call 'splice()' on type str, only arrays support splice()"},
      {"splice without start", xs + "xs.splice();",
       "2:1: splice() requires at least 1 argument (start index)"},
      {"splice start", xs + "xs.splice(\"a\", 1);",
       "2:11: splice() start parameter must be numeric, got string"},
      {"endOf of a number", n + "n.endOf(\"a\");",
       "2:1: Cannot call 'endOf()' on type int, only strings support endOf()"},
      {"endOf count", s + "s.endOf();", "2:1: endOf() requires 1 argument (suffix), got 0"},
      {"endOf parameter", s + "s.endOf(1);", "2:9: endOf() parameter must be string, got int"},
      {"initOf of an array", xs + "xs.initOf(\"a\");",
       "2:1: Cannot call 'initOf()' on type arr<int>, only strings support initOf()"},
      {"initOf count", s + "s.initOf(\"a\", \"b\");",
       "2:1: initOf() requires 1 argument (prefix), got 2"},
      {"initOf parameter", s + "s.initOf(true);",
       "2:10: initOf() parameter must be string, got bool"},
      {"user method on a number", n + "n.foo();", "2:1: Cannot call method 'foo' on type int"},
      {"user method on unknown", "let u: unknown = 1;\nu.foo();",
       "2:1: Cannot call method 'foo' on type unknown"},
      {"language method on a call result",
       "func f(): int { back 1; }\nlet v = f().toString().length().cutIt(0);",
       "2:9: Cannot call 'cutIt()' on type int, only arrays and strings support cutIt()"},
  });
}

TEST(SemanticErrors, OvraNamespace) {
  std::vector<ErrorCase> cases;
  // The methods that take exactly one string: a count message at the call, a type message at
  // the argument (after "ovra.", the name and "(").
  for (std::string method :
       {"env", "exec", "execOut", "exists", "mkdirs", "readText", "jsonParse"}) {
    cases.push_back(
        {"count", "ovra." + method + "();", "1:1: " + method + "() requires 1 argument, got 0"});
    cases.push_back({"type", "ovra." + method + "(5);",
                     "1:" + std::to_string(7 + method.size()) + ": " + method +
                         "() parameter must be string, got int"});
  }
  for (std::string method : {"jsonStringify", "execChain", "listen"}) {
    cases.push_back({"count", "ovra." + method + "(1, 2);",
                     "1:1: " + method + "() requires 1 argument, got 2"});
  }
  const std::vector<ErrorCase> fixed = {
      {"writeText count", "ovra.writeText(\"a\");", "1:1: writeText() requires 2 arguments, got 1"},
      {"writeText type", "ovra.writeText(\"a\", 1);",
       "1:21: writeText() parameter 2 must be string, got int"},
      {"execPipe count", "ovra.execPipe();", "1:1: execPipe() requires 2 arguments, got 0"},
      {"execPipe first", "ovra.execPipe(1, \"b\");",
       "1:15: execPipe() first parameter must be string, got int"},
      {"execBackground second", "ovra.execBackground(\"a\", 2);",
       "1:26: execBackground() second parameter must be string, got int"},
      {"pathJoin", "ovra.pathJoin(\"a\", 1);",
       "1:20: pathJoin() parameters must be string, got int"},
      {"listTasks", "ovra.listTasks(1);", "1:1: listTasks() requires 0 arguments, got 1"},
      {"route handler count", "ovra.post(\"/\");",
       "1:1: post() requires 2 arguments (path, handler), got 1"},
      {"response count", "ovra.respJson(1);",
       "1:1: respJson() requires at least 2 arguments, got 1"},
      {"unsupported path", "ovra.data.map.create();", "1:1: Unsupported ovra.* path 'data.map'"},
      {"readLine", "ovra.io.readLine(1);", "1:1: ovra.io.readLine() takes no arguments, got 1"},
      {"readInt", "ovra.io.readInt(1);", "1:1: ovra.io.readInt() takes no arguments, got 1"},
      {"readMultif", "ovra.io.readMultif(1, 2);",
       "1:1: ovra.io.readMultif() takes no arguments, got 2"},
      {"unsupported io", "ovra.io.write(\"a\");", "1:1: ovra.io.write is not supported"},
      {"table count", "ovra.db.table();", "1:1: ovra.db.table() requires 1 argument, got 0"},
      {"table type", "ovra.db.table(1);",
       "1:15: ovra.db.table() parameter must be string, got int"},
      {"table type before a step", "let r = ovra.db.table(1).find();",
       "1:23: ovra.db.table() parameter must be string, got int"},
      {"connect count", "ovra.db.connect(\"a\");",
       "1:1: ovra.db.connect() requires 2 arguments, got 1"},
      {"connect type", "ovra.db.connect(\"a\", 2);",
       "1:22: ovra.db.connect() parameter 2 must be string, got int"},
  };
  cases.insert(cases.end(), fixed.begin(), fixed.end());
  expect_first_errors(cases);
}

TEST(SemanticErrors, QueryChains) {
  const std::string t = "ovra.db.table(\"t\")";  // 18 characters
  expect_first_errors({
      {"where count", t + ".where(\"f\");",
       "1:1: ovra.db.table().where() requires 2 or 3 arguments, got 1"},
      {"where field", t + ".where(1, 2);",
       "1:26: ovra.db.table().where() field parameter must be string, got int"},
      {"limit count", t + ".limit();", "1:1: ovra.db.table().limit() requires 1 argument, got 0"},
      {"limit type", t + ".limit(\"a\");",
       "1:26: ovra.db.table().limit() parameter must be numeric, got string"},
      {"orderBy count", t + ".orderBy(\"a\");",
       "1:1: ovra.db.table().orderBy() requires 2 arguments, got 1"},
      {"join count", t + ".join(\"a\");",
       "1:1: ovra.db.table().join() requires 3 arguments, got 1"},
      {"insert count", t + ".insert();",
       "1:1: ovra.db.table().insert() requires 1 argument, got 0"},
      {"insert type", t + ".insert(1);",
       "1:27: ovra.db.table().insert() parameter must be an object, got int"},
      {"update type deep in a chain", t + ".where(\"a\", 1).update(2);",
       "1:41: ovra.db.table().update() parameter must be an object, got int"},
      {"update count", t + ".limit(1).update();",
       "1:1: ovra.db.table().update() requires 1 argument, got 0"},
      {"a step after update is a method on void", t + ".update(ovra.jsonParse(\"{}\")).find();",
       "1:1: Cannot call method 'find' on type void"},
      {"an unknown step leaves unknown", "let r = " + t + ".foo(1).find();",
       "1:9: Cannot call method 'find' on type unknown"},
      {"find gives arr<obj>", "let r: arr<int> = " + t + ".find();",
       "1:1: Type mismatch: cannot assign arr<obj> to arr<int>"},
  });
}

TEST(SemanticErrors, OneFaultGivesOneMessage) {
  struct Case {
    const char* label;
    const char* source;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"undeclared variable is silent", "let a = u + 1;\nlet b: str = u;\nif (u) { }", {}},
      {"an untyped operand silences the enclosing checks",
       "let a: str = -true + 1;",
       {"1:14: Unary '-' requires numeric type, got bool"}},
      {"a wrongly typed argument keeps the return type",
       "func f(a: int): string { back \"x\"; }\nlet r: int = f(\"s\");",
       {"2:16: Argument 1 of function 'f': expected int, got string",
        "2:1: Type mismatch: cannot assign string to int"}},
      {"a count error leaves no type",
       "func f(a: int): string { back \"x\"; }\nlet r: int = f();",
       {"2:14: Function 'f' expects 1 arguments, got 0"}},
      {"ovra calls keep their type after an argument error",
       "let t: int = ovra.readText(5);",
       {"1:28: readText() parameter must be string, got int",
        "1:1: Type mismatch: cannot assign string to int"}},
      {"the right side of an untyped left side is still checked",
       "let a = u + (1 + \"s\");",
       {"1:14: Arithmetic operation requires numeric types, got int and string"}},
      {"a refused declaration infers nothing",
       "let x = 1;\nlet x = -true;",
       {"2:1: Variable 'x' is already declared"}},
      {"the table call of a failing step is checked after it",
       "ovra.db.table(1).limit();",
       {"1:1: ovra.db.table().limit() requires 1 argument, got 0",
        "1:15: ovra.db.table() parameter must be string, got int"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(all_errors(c.source), c.expected) << c.label;
}

TEST(SemanticAccepts, ProgramsThatFollowTheRules) {
  const char* programs[] = {
      // numeric types are compatible both ways
      "let a: int = 2.5; let b: multif = 1; let c: singlef = a; let d: int = b;",
      "func f(x: multif): int { back x; }\nlet r: singlef = f(1);",
      // unknown is a wildcard at the top level
      "let u: unknown = \"s\"; let n: int = u; let v: unknown = [1]; let w: arr<int> = v;",
      // an empty literal takes the declared element type
      "let xs: arr<int> = []; push 1 => xs[0]; let ys: arr<arr<str>> = [];",
      "let n: int = [1, 2.5][0]; let m: arr<singlef> = [1, 2.5, 3];",
      // a break in a function declared inside a loop body
      "while (true) { func f(): void { break; } }",
      "forloop (;;) { if (true) { continue; } }",
      // the loop variable is declared after the loop
      "forloop (let i = 0; i < 3; i = i + 1) { }\nlet j: int = i;",
      // a class-typed crob initializer is accepted and the crob is an obj
      "class P { x: int }\ncrob p = new P();\nremake p { x = 2; }\nlet o: obj = p;",
      "class P { x: int }\nlet p = new P();\nlet n: int = p.x; let m = p.anything();",
      "share class P { x: int y: int }\nshare func f(p: int): int { back p; }\nlet r: int = f(1);",
      // functions are known before any statement is checked; the later declaration wins
      "let r: string = f();\nfunc f(): int { back 1; }\nfunc f(): string { back \"a\"; }",
      // names bound only inside a body, or by imports that bind nothing, do not clash
      "func f(): void { let g = 1; }\nfunc g(): int { back 1; }",
      "cite tools as t;\ncite tools as t;\ncite lib.util.strings;\nlet t = 1;",
      "cite { a } from \"./m\";\nfunc f(): void { let a = 1; }",
      // namespace and library imports are constants, which any block may hold
      "func f(): void { cite { print } from ovra.io; cite { sqrt } from lib.math; }",
      // a return at top level accepts anything; void functions may return bare
      "back 5; back;",
      "func f(): void { back; }",
      // comparisons and assignments are bool whatever the operands
      "let b: bool = \"a\" < 1; let x = 1; x = \"s\";",
      "let s: str; let c: string = s.cutIt(0, 2); let e: bool = s.endOf(\"c\");",
      "let xs = [1, 2]; let ys: arr<int> = xs.cutIt(0, 1); let z: arr<unknown> = xs.splice(0);",
      "let x = 1; let y: int = x.toUp(1.5); let t: string = x.toString(); let b = x.toBool();",
      "let o = ovra.jsonParse(\"{}\"); let v = o.anything; o.foo(1); "
      "ovra.db.table(\"t\").insert(o);",
      "let t = \"users\"; let f = \"id\";\nlet rows: arr<obj> = ovra.db.table(t).where(f, "
      "1).find();",
      "let one: obj = ovra.db.table(\"t\").orderBy(\"a\", \"b\").limit(2).findOne();",
      "ovra.io.print(1, \"a\"); let l: string = ovra.io.readLine(); let i: int = "
      "ovra.io.readInt();",
      "let c: string = ovra.cwd(1, 2); let p: string = ovra.pathJoin(\"a\", \"b\");\n"
      "let tasks: arr<obj> = ovra.listTasks(); ovra.log(1); let z = ovra.whatever(1);",
      "let xs = [1]; out xs[0] as v { let w: int = v; }\nrmv xs[0];",
  };
  for (const char* program : programs) {
    EXPECT_EQ(first_error_line(program), "accepted") << program;
  }
}

TEST(SemanticAnalyzerState, ScopesAndReset) {
  SemanticAnalyzer analyzer;
  analyzer.set_variable("g", OvraType(OvraType::Kind::Int));
  analyzer.push_scope();
  analyzer.set_variable("local", OvraType(OvraType::Kind::Bool));
  analyzer.set_variable("g", OvraType(OvraType::Kind::Str));
  EXPECT_EQ(analyzer.lookup_variable("g")->to_string(), "str");
  analyzer.pop_scope();
  EXPECT_FALSE(analyzer.is_variable_declared("local"));
  EXPECT_EQ(analyzer.lookup_variable("g")->to_string(), "int");
  analyzer.pop_scope();  // the global scope stays
  analyzer.pop_scope();
  EXPECT_EQ(analyzer.scope_depth(), 1u);
  EXPECT_TRUE(analyzer.is_variable_declared("g"));

  // analyze starts from a clean state every time.
  EXPECT_EQ(analyzer.analyze(parse("let g = 1;")).size(), 0u);
  EXPECT_EQ(analyzer.analyze(parse("let g = 1;")).size(), 0u);
}

TEST(SemanticAnalyzerState, DeepOperatorChainsAreChecked) {
  // A long chain nests as deep as it is long; checking must neither overflow nor slow down.
  std::string source = "let x = 1;\nlet s: str = x";
  for (int i = 0; i < 200000; ++i)
    source += " + x";
  source += ";";
  EXPECT_EQ(first_error_line(source),
            "Semantic error at 2:1: Type mismatch: cannot assign int to str");
}

}  // namespace
}  // namespace ovra
