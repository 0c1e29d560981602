#include "lexer.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>

namespace ovra {
namespace {

// Every token as `Kind(payload)@line:column:position`, separated by spaces.
std::string describe(const TokenList& list) {
  std::string text;
  for (const Token& token : list.tokens) {
    if (!text.empty())
      text += ' ';
    text += token.debug_text() + "@" + std::to_string(token.span.line) + ":" +
            std::to_string(token.span.column) + ":" + std::to_string(token.span.position);
  }
  return text;
}

struct TokenCase {
  const char* label;
  std::string source;
  std::string tokens;
};

TEST(LexerTest, ProducesTokenKindsPayloadsAndSpans) {
  const TokenCase cases[] = {
      {"empty source", "", "Eof@1:1:0"},
      {"single ampersand leaves no trace", "a&b",
       "Identifier(\"a\")@1:1:0 Identifier(\"b\")@1:3:2 Eof@1:4:3"},
      {"hash and tilde are dropped", "a#b~c",
       "Identifier(\"a\")@1:1:0 Identifier(\"b\")@1:3:2 Identifier(\"c\")@1:5:4 Eof@1:6:5"},
      {"second dot ends a number", "1.2.3",
       "NumberLiteral(\"1.2\")@1:1:0 Dot@1:4:3 NumberLiteral(\"3\")@1:5:4 Eof@1:6:5"},
      {"trailing dot belongs to the number", "5.", "NumberLiteral(\"5.\")@1:1:0 Eof@1:3:2"},
      {"leading dot is punctuation", ".5", "Dot@1:1:0 NumberLiteral(\"5\")@1:2:1 Eof@1:3:2"},
      {"digits then letters", "12abc",
       "NumberLiteral(\"12\")@1:1:0 Identifier(\"abc\")@1:3:2 Eof@1:6:5"},
      {"keywords are case sensitive", "Let IF True let if true",
       "Identifier(\"Let\")@1:1:0 Identifier(\"IF\")@1:5:4 Identifier(\"True\")@1:8:7 Let@1:13:12 "
       "If@1:17:16 True@1:20:19 Eof@1:24:23"},
      {"keyword prefixes and extensions are identifiers", "lets iff _if if2",
       "Identifier(\"lets\")@1:1:0 Identifier(\"iff\")@1:6:5 Identifier(\"_if\")@1:10:9 "
       "Identifier(\"if2\")@1:14:13 Eof@1:17:16"},
      {"double quote inside single quotes", "'a\"b'", "StringLiteral(\"a\\\"b\")@1:1:0 Eof@1:6:5"},
      {"single quote inside double quotes", "\"a'b\"", "StringLiteral(\"a'b\")@1:1:0 Eof@1:6:5"},
      {"unknown escape keeps the character", "'\\q'", "StringLiteral(\"q\")@1:1:0 Eof@1:5:4"},
      {"all escapes", "\"\\n\\t\\r\\\\\\\"\\'\"",
       "StringLiteral(\"\\n\\t\\r\\\\\\\"'\")@1:1:0 Eof@1:15:14"},
      {"string over two lines", "\"a\nb\" x",
       "StringLiteral(\"a\\nb\")@1:1:0 Identifier(\"x\")@2:4:6 Eof@2:5:7"},
      {"block comments do not nest", "/* a /* b */ c */",
       "Identifier(\"c\")@1:14:13 Multiply@1:16:15 Divide@1:17:16 Eof@1:18:17"},
      {"block comment counts lines", "/*\n\n*/x", "Identifier(\"x\")@3:3:6 Eof@3:4:7"},
      {"line comment at end of file", "x // end", "Identifier(\"x\")@1:1:0 Eof@1:9:8"},
      {"line comment stops at the line feed", "// c\ny", "Identifier(\"y\")@2:1:5 Eof@2:2:6"},
      {"arrow is one token", "=> = >", "Arrow@1:1:0 Assign@1:4:3 Greater@1:6:5 Eof@1:7:6"},
      {"two-character operators", "== != <= >= && || a|b",
       "Equal@1:1:0 NotEqual@1:4:3 LessEqual@1:7:6 GreaterEqual@1:10:9 And@1:13:12 Or@1:16:15 "
       "Identifier(\"a\")@1:19:18 Pipe@1:20:19 Identifier(\"b\")@1:21:20 Eof@1:22:21"},
      {"one-character operators", "+-*/%;:,.(){}[]@!<>",
       "Plus@1:1:0 Minus@1:2:1 Multiply@1:3:2 Divide@1:4:3 Modulo@1:5:4 Semicolon@1:6:5 "
       "Colon@1:7:6 Comma@1:8:7 Dot@1:9:8 LeftParen@1:10:9 RightParen@1:11:10 "
       "LeftBrace@1:12:11 RightBrace@1:13:12 LeftBracket@1:14:13 RightBracket@1:15:14 "
       "At@1:16:15 Not@1:17:16 Less@1:18:17 Greater@1:19:18 Eof@1:20:19"},
      {"carriage return is whitespace", "a\r\nb",
       "Identifier(\"a\")@1:1:0 Identifier(\"b\")@2:1:3 Eof@2:2:4"},
      {"final line feed moves Eof to the next line", "a\n", "Identifier(\"a\")@1:1:0 Eof@2:1:2"},
      {"non-ASCII letters form identifiers", "\xCE\xB1\xCE\xB2\xCE\xB3 \xE6\xBC\xA2\xE5\xAD\x97 x",
       "Identifier(\"\xCE\xB1\xCE\xB2\xCE\xB3\")@1:1:0 "
       "Identifier(\"\xE6\xBC\xA2\xE5\xAD\x97\")@1:5:4 "
       "Identifier(\"x\")@1:8:7 Eof@1:9:8"},
      {"columns count characters, not bytes", "\xC3\xA9=x",
       "Identifier(\"\xC3\xA9\")@1:1:0 Assign@1:2:1 Identifier(\"x\")@1:3:2 Eof@1:4:3"},
      {"non-ASCII digits continue an identifier", "a\xD9\xA3",
       "Identifier(\"a\xD9\xA3\")@1:1:0 Eof@1:3:2"},
      {"non-letter symbol is skipped", "a \xE2\x98\x83 b",
       "Identifier(\"a\")@1:1:0 Identifier(\"b\")@1:5:4 Eof@1:6:5"},
      {"invalid bytes are one character each", "a\xFF\xE2\x82 b",
       "Identifier(\"a\")@1:1:0 Identifier(\"b\")@1:6:5 Eof@1:7:6"},
      {"surrogate and overlong encodings are invalid", "\xED\xA0\x80\xC0\xAFx",
       "Identifier(\"x\")@1:6:5 Eof@1:7:6"},
      {"invalid byte in a string becomes U+FFFD", "'a\xC3' x",
       "StringLiteral(\"a\xEF\xBF\xBD\")@1:1:0 Identifier(\"x\")@1:6:5 Eof@1:7:6"},
      {"truncated sequence at the end", "x\xF0\x9F", "Identifier(\"x\")@1:1:0 Eof@1:4:3"},
  };
  for (const TokenCase& c : cases) {
    Result<TokenList> result = Lexer(c.source).scan_tokens();
    ASSERT_TRUE(result.ok()) << c.label << ": " << result.error().to_string();
    EXPECT_EQ(describe(result.value()), c.tokens) << c.label;
  }
}

TEST(LexerTest, RecognisesEveryKeyword) {
  const std::pair<const char*, TokenType> keywords[] = {
      {"let", TokenType::Let},
      {"const", TokenType::Const},
      {"func", TokenType::Func},
      {"back", TokenType::Back},
      {"push", TokenType::Push},
      {"out", TokenType::Out},
      {"rmv", TokenType::Rmv},
      {"new", TokenType::New},
      {"typeins", TokenType::Typeins},
      {"class", TokenType::Class},
      {"if", TokenType::If},
      {"else", TokenType::Else},
      {"esle", TokenType::Esle},
      {"forloop", TokenType::Forloop},
      {"while", TokenType::While},
      {"continue", TokenType::Continue},
      {"break", TokenType::Break},
      {"remake", TokenType::Remake},
      {"true", TokenType::True},
      {"false", TokenType::False},
      {"crob", TokenType::Crob},
      {"cite", TokenType::Cite},
      {"share", TokenType::Share},
      {"from", TokenType::From},
      {"as", TokenType::As},
      {"struct", TokenType::Struct},
      {"put", TokenType::Put},
      {"delete", TokenType::Delete},
      {"options", TokenType::Options},
      {"head", TokenType::Head},
      {"str", TokenType::TypeStr},
      {"string", TokenType::TypeString},
      {"int", TokenType::TypeInt},
      {"bool", TokenType::TypeBool},
      {"singlef", TokenType::TypeSingleF},
      {"multif", TokenType::TypeMultiF},
      {"arr", TokenType::TypeArr},
      {"obj", TokenType::TypeObj},
      {"unknown", TokenType::TypeUnknown},
      {"void", TokenType::TypeVoid},
  };
  for (const auto& [text, kind] : keywords) {
    Result<TokenList> result = Lexer(text).scan_tokens();
    ASSERT_TRUE(result.ok());
    ASSERT_EQ(result.value().tokens.size(), 2u) << text;
    const Token& token = result.value().tokens[0];
    EXPECT_EQ(token.token_type, kind) << text;
    EXPECT_EQ(token.lexeme, text);
    EXPECT_TRUE(token.text.empty()) << text << ": keywords carry no payload";
  }
}

TEST(LexerTest, LexemesAreTheTokenText) {
  // A string's lexeme is its decoded content between the quotes; its payload is the content.
  struct Case {
    std::string source;
    std::string lexeme;
    std::string payload;
  };
  const Case cases[] = {
      {"'plain'", "'plain'", "plain"}, {"\"a\\tb\"", "\"a\tb\"", "a\tb"},
      {"'it\\'s'", "'it's'", "it's"},  {"12.5", "12.5", "12.5"},
      {"name", "name", "name"},        {">=", ">=", ""},
  };
  for (const Case& c : cases) {
    Result<TokenList> result = Lexer(c.source).scan_tokens();
    ASSERT_TRUE(result.ok()) << c.source;
    const Token& token = result.value().tokens[0];
    EXPECT_EQ(token.lexeme, c.lexeme) << c.source;
    EXPECT_EQ(token.text, c.payload) << c.source;
  }
}

TEST(LexerTest, DecodedStringsSurviveMovingTheList) {
  // Payloads of escaped strings live in the list itself; moving it must not invalidate them.
  std::string source;
  for (int i = 0; i < 200; ++i)
    source += "'s\\n" + std::to_string(i) + "' ";
  Result<TokenList> result = Lexer(source).scan_tokens();
  ASSERT_TRUE(result.ok());
  TokenList moved = std::move(result.value());
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(moved.tokens[i].text, "s\n" + std::to_string(i));
  }
}

struct ErrorCase {
  const char* label;
  std::string source;
  const char* message;
  std::size_t line;
  std::size_t column;
};

TEST(LexerTest, ReportsUnterminatedStringsAndComments) {
  const ErrorCase cases[] = {
      {"string without closing quote", "x = \"abc", "Unterminated string", 1, 9},
      {"quote of the other kind does not close", "'abc\"", "Unterminated string", 1, 6},
      {"backslash as the last character", "'abc\\", "Unterminated string", 1, 6},
      {"string running over lines", "'a\nbc", "Unterminated string", 2, 3},
      {"nothing after the opener", "/*", "Unterminated block comment", 1, 3},
      {"one character after the opener", "/**", "Unterminated block comment", 1, 3},
      {"no closer: stops at the last character", "x /* abc", "Unterminated block comment", 1, 8},
      {"no closer over lines", "/*\n\n", "Unterminated block comment", 2, 1},
      {"star alone does not close", "/* a *", "Unterminated block comment", 1, 6},
  };
  for (const ErrorCase& c : cases) {
    Result<TokenList> result = Lexer(c.source).scan_tokens();
    ASSERT_FALSE(result.ok()) << c.label;
    const auto* error = std::get_if<LexicalError>(&result.error().kind());
    ASSERT_NE(error, nullptr) << c.label;
    EXPECT_EQ(error->message, c.message) << c.label;
    EXPECT_EQ(error->line, c.line) << c.label;
    EXPECT_EQ(error->column, c.column) << c.label;
    EXPECT_FALSE(error->source_excerpt.has_value()) << c.label;
  }
}

TEST(LexerTest, SurvivesArbitraryBytes) {
  // Every byte value in every position next to the characters that start multi-byte scans.
  for (int byte = 0; byte < 256; ++byte) {
    for (const char* context : {"", "'", "/*", "a", "\xE2", "\xF0\x9F"}) {
      std::string source = std::string(context) + static_cast<char>(byte);
      Result<TokenList> result = Lexer(source).scan_tokens();
      if (result.ok()) {
        const Token& eof = result.value().tokens.back();
        EXPECT_EQ(eof.token_type, TokenType::Eof);
        EXPECT_LE(eof.span.position, source.size());
      }
    }
  }
}

}  // namespace
}  // namespace ovra
