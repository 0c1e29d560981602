// Constant folding and dead-code elimination, observed in the JavaScript the pipeline emits.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "codegen.h"
#include "compiler.h"
#include "lexer.h"
#include "optimizer.h"
#include "parser.h"

namespace ovra {
namespace {

std::string compile_js(std::string_view source) {
  Result<std::string> result = Compiler::compile(CompileTarget::JavaScript, source);
  if (!result)
    return result.error().to_string();
  return result.value();
}

// Parses, optimizes and emits without the semantic stage, for trees the checker would refuse.
std::string optimize_unchecked(std::string_view source) {
  Result<TokenList> tokens = Lexer(source).scan_tokens();
  if (!tokens)
    return tokens.error().to_string();
  Program program;
  Parser parser(std::move(tokens.value()));
  while (!parser.is_at_end()) {
    Result<std::optional<Statement>> statement = parser.parse_statement();
    if (!statement)
      return statement.error().to_string();
    if (statement.value())
      program.push_back(std::move(*statement.value()));
  }
  return CodeGenerator(CompileTarget::JavaScript)
      .generate(Optimizer().optimize(std::move(program)));
}

struct Case {
  const char* label;
  const char* source;
  const char* expected;  // the whole JavaScript output
};

void expect_outputs(const std::vector<Case>& cases, std::string (*compile)(std::string_view)) {
  for (const Case& c : cases) {
    EXPECT_EQ(compile(c.source), c.expected) << c.label << "\n--- source ---\n" << c.source;
  }
}

TEST(ConstantFolding, Numbers) {
  expect_outputs(
      {
          {"whole quotient", "let a = 10 / 5;", "let a = 2;\n\n"},
          {"fractional quotient", "let a = 10 / 4;", "let a = 2.5;\n\n"},
          {"division by zero stays", "let a = 1 / 0;", "let a = (1 / 0);\n\n"},
          {"modulo by zero stays", "let a = 7 % 0.0;", "let a = (7 % 0.0);\n\n"},
          {"modulo keeps the dividend's sign", "let a = (0 - 7) % 3; let b = 7.5 % 2;",
           "let a = -1;\n\nlet b = 1.5;\n\n"},
          {"saturates above", "let a = 2147483647 + 1; let b = 123456789 * 1000;",
           "let a = 2147483647;\n\nlet b = 2147483647;\n\n"},
          {"saturates below", "let a = 0 - 3000000000;", "let a = -2147483648;\n\n"},
          {"shortest round trip", "let a = 0.1 + 0.2; let b = 1 / 3;",
           "let a = 0.30000000000000004;\n\nlet b = 0.3333333333333333;\n\n"},
          {"never an exponent", "let a = 0.0000001 * 1; let b = 1 / 1024 / 1024 / 1024;",
           "let a = 0.0000001;\n\nlet b = 0.0000000009313225746154785;\n\n"},
          {"whole results lose their fraction", "let a = 1.5 * 2; let b = 2.50 + 0.5;",
           "let a = 3;\n\nlet b = 3;\n\n"},
          {"texts as the lexer reads them", "let a = 007 + 5.;", "let a = 12;\n\n"},
          {"bottom-up", "let a = (1 + 2) * 4 - 10 / 4;", "let a = 9.5;\n\n"},
          {"a literal next to a name", "let x = 1; let a = (1 + 2) * x; let b = x + 1 + 2;",
           "let x = 1;\n\nlet a = (3 * x);\n\nlet b = ((x + 1) + 2);\n\n"},
          {"epsilon equality", "let a = 0.1 + 0.2 == 0.3; let b = 1.0 == 1; let c = 1 != 1.0;",
           "let a = true;\n\nlet b = true;\n\nlet c = false;\n\n"},
          {"ordering", "let a = 1 < 2; let b = 2 >= 3; let c = 2 <= 2; let d = 1.5 > 1;",
           "let a = true;\n\nlet b = false;\n\nlet c = true;\n\nlet d = true;\n\n"},
          {"the target of an assignment stays", "let x = 1; x = 2 + 3;",
           "let x = 1;\n\nx = 5;\n\n"},
      },
      compile_js);
}

TEST(ConstantFolding, StringsAndBooleans) {
  expect_outputs(
      {
          {"string equality",
           "let a = \"a\" == \"a\"; let b = \"a\" != \"a\"; let c = \"a\" == \"b\";",
           "let a = true;\n\nlet b = false;\n\nlet c = false;\n\n"},
          {"booleans", "let a = true && false; let b = true || false; let c = true != false;",
           "let a = false;\n\nlet b = true;\n\nlet c = true;\n\n"},
          {"mixed kinds stay", "let a = 1 == \"1\"; let b = true == 1;",
           "let a = (1 === \"1\");\n\nlet b = (true === 1);\n\n"},
      },
      compile_js);
  // Operations the checker refuses are not folded either.
  expect_outputs(
      {
          {"string sum", "let a = \"a\" + \"b\";", "let a = (\"a\" + \"b\");\n\n"},
          {"string order", "let a = \"a\" < \"b\";", "let a = (\"a\" < \"b\");\n\n"},
          {"numbers under && ", "let a = 1 && 0;", "let a = (1 && 0);\n\n"},
          {"booleans under +", "let a = true + false;", "let a = (true + false);\n\n"},
      },
      optimize_unchecked);
}

TEST(ConstantFolding, OnlyTheListedPositions) {
  expect_outputs(
      {
          {"call argument", "func g(n: int): void { }\ng(1 + 2);",
           "function g(n) {\n}\n\ng((1 + 2));\n\n"},
          {"negation, array literal, index", "let a = -(1 + 2); let b = [1 + 2]; let c = b[0 + 0];",
           "let a = -(1 + 2);\n\nlet b = [(1 + 2)];\n\nlet c = b[(0 + 0)];\n\n"},
          {"push value", "let xs = [1];\npush 1 + 2 => xs[0];",
           "let xs = [1];\n\nxs.push((1 + 2));\n\n"},
          {"object method bodies",
           "class P { }\ncrob o = new P();\nremake o { func m(): int { back 1 + 1; } }",
           "class P {\n}\n\nconst o = new P();\n\no.m = function() {\n  return (1 + 1);\n};\n\n"},
          {"function bodies, loops and returns",
           "func f(): int {\n  while (1 < 0 + 2) { let a = 2 * 3; }\n  forloop (let i = 1 + 1; i < "
           "2 * 2; i = i + 1 * 1) { }\n  back 2 * 3;\n}",
           "function f() {\n  while (true) {\n    let a = 6;\n  }\n  for (let i = 2; (i < 4); i = "
           "(i + 1)) {\n  }\n  return 6;\n}\n\n"},
          {"exported function bodies", "share func f(): int { back 2 * 3; }",
           "export function f() {\n  return 6;\n}\n\n"},
      },
      compile_js);
}

TEST(ConstantFolding, DeepChains) {
  // A chain of 200,000 additions nests 200,000 levels deep and folds to one literal.
  std::string source = "let a = 1";
  for (int i = 1; i < 200000; ++i)
    source += " + 1";
  source += ";";
  EXPECT_EQ(compile_js(source), "let a = 200000;\n\n");
}

TEST(DeadCode, ConstantConditions) {
  expect_outputs(
      {
          {"true if keeps its then-branch",
           "if (true) { let a = 1; let b = 2; } else { let c = 3; }",
           "let a = 1;\n\nlet b = 2;\n\n"},
          {"false if keeps its else-branch", "if (1 > 2) { let a = 1; } esle { let c = 3; }",
           "let c = 3;\n\n"},
          {"false if without else disappears", "let z = 0;\nif (false) { let a = 1; }",
           "let z = 0;\n\n"},
          {"nested constant ifs", "if (true) { if (false) { let a = 1; } else { let b = 2; } }",
           "let b = 2;\n\n"},
          {"an open condition keeps the if",
           "let c = true;\nif (c) { if (true) { let a = 1; } } else { while (false) { } }",
           "let c = true;\n\nif (c) {\n  let a = 1;\n} else {\n}\n\n"},
          {"false while disappears", "while (false) { let a = 1; }", ""},
          {"true while stays", "while (true) { break; }", "while (true) {\n  break;\n}\n\n"},
          {"false forloop keeps only its init",
           "forloop (let i = 0; false; i = i + 1) { let a = 1; }\nforloop (; 1 == 2; ) { }",
           "let i = 0;\n\n"},
          {"open forloops stay", "forloop (;;) { if (false) { continue; } break; }",
           "for (; ; ) {\n  break;\n}\n\n"},
          {"removals around a splice keep the order",
           "let a = 1;\nwhile (false) { }\nif (true) { let b = 2; let c = 3; }\nwhile (false) { "
           "}\nlet d = 4;",
           "let a = 1;\n\nlet b = 2;\n\nlet c = 3;\n\nlet d = 4;\n\n"},
          {"a top-level return does not end the program", "back 1;\nlet a = 2;",
           "return 1;\n\nlet a = 2;\n\n"},
      },
      compile_js);
}

TEST(DeadCode, Returns) {
  expect_outputs(
      {
          {"after a direct return", "func f(): int { let a = 1; back a; let b = 2; back b; }",
           "function f() {\n  let a = 1;\n  return a;\n}\n\n"},
          {"a spliced return ends only its branch",
           "func f(): int {\n  if (true) { back 1; let a = 2; }\n  let b = 3;\n  back b;\n}",
           "function f() {\n  return 1;\n  let b = 3;\n  return b;\n}\n\n"},
          {"returns in loops and open ifs end nothing",
           "func f(c: bool): void {\n  while (c) { back; let a = 1; }\n  if (c) { back; let b = 2; "
           "}\n}",
           "function f(c) {\n  while (c) {\n    return;\n    let a = 1;\n  }\n  if (c) {\n    "
           "return;\n    let b = 2;\n  }\n}\n\n"},
          {"nested functions stop at their own return",
           "if (true) { func g(): int { back 1; let a = 2; } }",
           "function g() {\n  return 1;\n}\n\n"},
          {"exported: after a direct return", "share func f(): int { back 1; let b = 2; }",
           "export function f() {\n  return 1;\n}\n\n"},
          {"exported: a spliced return ends the body",
           "share func f(): int {\n  let a = 0;\n  if (true) { back 1; let c = 2; }\n  let b = "
           "3;\n  back b;\n}",
           "export function f() {\n  let a = 0;\n  return 1;\n}\n\n"},
          {"exported: an open if does not end the body",
           "share func f(c: bool): int {\n  if (c) { back 1; }\n  back 2;\n  let d = 3;\n}",
           "export function f(c) {\n  if (c) {\n    return 1;\n  }\n  return 2;\n}\n\n"},
      },
      compile_js);
}

TEST(OptimizerSteps, SizeEstimates) {
  Result<TokenList> tokens =
      Lexer("if (c) { let a = 1; while (c) { let b = 2; } } else { let d = 3; }").scan_tokens();
  ASSERT_TRUE(tokens.ok());
  Parser parser(std::move(tokens.value()));
  Result<std::optional<Statement>> statement = parser.parse_statement();
  ASSERT_TRUE(statement.ok() && statement.value());
  // The if, its two then-statements, the while's body statement and the else statement.
  EXPECT_EQ(Optimizer().estimate_statement_size(*statement.value()), 5u);
}

}  // namespace
}  // namespace ovra
