// The parser: tokens to the list of top-level statements (recursive descent, one token of
// lookahead, no backtracking).
#pragma once

#include <optional>

#include "ast.h"
#include "error.h"
#include "types.h"

namespace ovra {

class Parser {
 public:
  explicit Parser(TokenList tokens);

  bool is_at_end() const;
  // One statement; nullopt when nothing was recognised (the parser still made progress); or the
  // first SyntaxError.
  Result<std::optional<Statement>> parse_statement();

 private:
  TokenList tokens_;
  std::size_t current_ = 0;
};

}  // namespace ovra
