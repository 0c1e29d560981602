#include "lexer.h"

namespace ovra {

Lexer::Lexer(std::string_view source) : source_(source) {}

Result<TokenList> Lexer::scan_tokens() {
  TokenList list;
  list.tokens.push_back(Token{TokenType::Eof, {}, {}, Span{}});
  return list;
}

}  // namespace ovra
