// The lexer: source text to tokens, in one pass.
#pragma once

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
  std::string_view source_;
};

}  // namespace ovra
