// The lexer: source text to tokens, in one pass.
//
// The UTF-8 text is scanned in place; line, column and position count characters (Unicode
// scalar values), and every byte that does not start a valid UTF-8 sequence counts as one
// character U+FFFD. Token texts are views into the source, or into the list's
// `decoded_strings` for string literals whose content differs from their source text.
#pragma once

#include <cstddef>
#include <string>
#include <optional>
#include <string_view>

#include "error.h"
#include "types.h"

namespace ovra {

class Lexer {
 public:
  // `source` is UTF-8 and must outlive the returned tokens, whose texts point into it.
  explicit Lexer(std::string_view source);

  // Every token of the source, ending with Eof, or the first LexicalError.
  Result<TokenList> scan_tokens();

 private:
  struct Start {
    std::size_t offset;
    Span span;
  };

  bool at_end() const { return offset_ >= source_.size(); }
  Span here() const { return Span{line_, column_, position_}; }
  // One character, not a line feed, of `bytes` bytes.
  void advance_bytes(std::size_t bytes) {
    offset_ += bytes;
    ++column_;
    ++position_;
  }
  // One character of any kind, counting lines.
  void advance_character();
  void add_token(TokenType type, const Start& start, std::string_view text = {});
  CompilerError error(std::string message) const;

  void scan_number(const Start& start);
  void scan_identifier(const Start& start);
  Status scan_string(const Start& start);
  Status skip_block_comment();
  // False when the character at the current offset is not an operator.
  bool scan_operator(const Start& start);

  std::string_view source_;
  std::size_t offset_ = 0;  // bytes into source_
  std::size_t position_ = 0;
  std::size_t line_ = 1;
  std::size_t column_ = 1;
  TokenList list_;
};

// The character at `offset` of `text` and its length in bytes: a valid UTF-8 sequence, or
// U+FFFD with length 1 for a byte that does not start one. `offset` must be inside `text`.
struct DecodedCharacter {
  char32_t value;
  std::size_t length;
};
DecodedCharacter decode_utf8(std::string_view text, std::size_t offset);

// The byte offset of the first byte of `text` that is not part of well-formed UTF-8 (overlong
// forms, surrogates and values past U+10FFFF are not), or nullopt when all of it is.
std::optional<std::size_t> first_invalid_utf8_offset(std::string_view text);

}  // namespace ovra
