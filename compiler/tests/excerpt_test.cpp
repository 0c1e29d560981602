#include <gtest/gtest.h>

#include <string>

#include "compiler.h"
#include "error.h"

namespace ovra {
namespace {

struct ExcerptCase {
  const char* label;
  std::string source;
  std::size_t line;
  std::string excerpt;
};

std::string numbered_lines(std::size_t count) {
  std::string source;
  for (std::size_t i = 1; i <= count; ++i) {
    source += 'x';
    source += std::to_string(i);
    source += '\n';
  }
  return source;
}

TEST(ExcerptTest, RendersTheLinesAroundTheErrorLine) {
  const ExcerptCase cases[] = {
      {"one-line file", "let x", 1, "   1 | let x\n     | ^^^^^\n"},
      {"line 2 shows one line before and one after", "a\nbb\nc\nd", 2,
       "   1 | a\n   2 | bb\n     | ^^\n   3 | c\n"},
      {"line 3 of five shows two before", "l1\nl2\nline3\nl4\nl5", 3,
       "   1 | l1\n   2 | l2\n   3 | line3\n     | ^^^^^\n   4 | l4\n"},
      {"last line has nothing after it", "a\nb\nc\n", 3,
       "   1 | a\n   2 | b\n   3 | c\n     | ^\n"},
      {"line after the final line feed", "a\n", 2, ""},
      {"line zero", "a", 0, ""},
      {"empty source", "", 1, ""},
      {"carriage returns are dropped", "ab\r\ncd\r\n", 1, "   1 | ab\n     | ^^\n   2 | cd\n"},
      {"empty error line gets one marker", "a\n\nb", 2, "   1 | a\n   2 | \n     | ^\n   3 | b\n"},
      {"marker counts characters, not bytes", "\xCE\xB1\xCE\xB2 = 1", 1,
       "   1 | \xCE\xB1\xCE\xB2 = 1\n     | ^^^^^^\n"},
      {"wide line numbers push the separator", numbered_lines(10001), 10000,
       "9998 | x9998\n9999 | x9999\n10000 | x10000\n     | ^^^^^^\n10001 | x10001\n"},
  };
  for (const ExcerptCase& c : cases) {
    EXPECT_EQ(render_excerpt(c.source, c.line), c.excerpt) << c.label;
  }
}

TEST(ExcerptTest, DisplayTextOfEveryKind) {
  struct DisplayCase {
    CompilerError error;
    std::string text;
  };
  const std::string source = "first\nsecond\n";
  const std::string excerpt = "   1 | first\n   2 | second\n     | ^^^^^^\n";
  DisplayCase cases[] = {
      {CompilerError::lexical("Unterminated string", 2, 7),
       "Lexical error at 2:7: Unterminated string"},
      {CompilerError::syntax("Expected Semicolon", 2, 1),
       "Syntax error at 2:1: Expected Semicolon"},
      {CompilerError::semantic("Bad", 2, 3), "Semantic error at 2:3: Bad"},
      {CompilerError::io("Failed to read file: gone"), "IO error: Failed to read file: gone"},
      {CompilerError::other("Unsupported"), "Error: Unsupported"},
  };
  for (DisplayCase& c : cases) {
    EXPECT_EQ(c.error.to_string(), c.text);
    bool positioned = c.error.position().has_value();
    std::string attached = std::move(c.error).with_source(source).to_string();
    // Positioned kinds gain "\n\n" and the excerpt; the others come back unchanged.
    EXPECT_EQ(attached, positioned ? c.text + "\n\n" + excerpt : c.text);
  }
  // An excerpt that renders empty still adds the two line feeds.
  EXPECT_EQ(CompilerError::syntax("Expected RightBrace", 3, 1).with_source(source).to_string(),
            "Syntax error at 3:1: Expected RightBrace\n\n");
}

TEST(ExcerptTest, PipelineAttachesTheExcerptToLexicalErrors) {
  Result<std::string> result =
      Compiler::compile(CompileTarget::JavaScript, "let a = 1;\nlet s = 'open");
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().to_string(),
            "Lexical error at 2:14: Unterminated string\n\n"
            "   1 | let a = 1;\n"
            "   2 | let s = 'open\n"
            "     | ^^^^^^^^^^^^^\n");
}

TEST(ExcerptTest, ErrorAtEndOfInputAfterFinalLineFeedHasAnEmptyExcerpt) {
  Result<std::string> result = Compiler::compile(CompileTarget::JavaScript, "func f(): int {\n");
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().to_string(), "Syntax error at 2:1: Expected RightBrace\n\n");
}

}  // namespace
}  // namespace ovra
