// The semantic stage: scopes, symbol tables, statement checks and expression inference.
#pragma once

#include <vector>

#include "ast.h"
#include "error.h"

namespace ovra {

class SemanticAnalyzer {
 public:
  // Runs the declaration pass and then the checking pass over the program and returns every
  // SemanticError recorded, in the order found.
  std::vector<CompilerError> analyze(const Program& program);
};

}  // namespace ovra
