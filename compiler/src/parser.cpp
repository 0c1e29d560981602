#include "parser.h"

namespace ovra {

Parser::Parser(TokenList tokens) : tokens_(std::move(tokens)) {}

bool Parser::is_at_end() const { return tokens_.tokens[current_].token_type == TokenType::Eof; }

Result<std::optional<Statement>> Parser::parse_statement() {
  const Token& token = tokens_.tokens[current_];
  return CompilerError::syntax("Parser not built yet", token.span.line, token.span.column);
}

}  // namespace ovra
