// The optimizer: constant folding and dead-code elimination on the checked syntax tree.
//
// `optimize` applies the steps in a fixed order: fold constants (top level, then the bodies of
// exported functions), eliminate dead code (top level, then exported function bodies), then the
// escape, size and inlining walks, which observe the tree without changing it.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "ast.h"

namespace ovra {

// Function name to the summed size estimate of its body, for the top-level functions.
using InlineCandidates = std::unordered_map<std::string, std::size_t>;

class Optimizer {
 public:
  // Applies every step in order and returns the program the back end sees.
  Program optimize(Program program);

  // Folds, in place, the expressions of one statement and of the statements nested in it.
  void fold_statement(Statement& statement);
  // The folded form of one expression: binary operations on two literals become one literal.
  Expression fold_expression_recursive(Expression expression);
  void fold_expression_in_place(Expression& expression);

  // Appends to `output` what remains of `statement`: nothing, the statement with its nested
  // bodies rebuilt, or the statements of the branch a constant condition selects.
  void eliminate_dead_code_in_statement(std::vector<Statement>& output, Statement statement);

  // The walks that follow elimination; none of them changes the program.
  void analyze_statement_escapes(const Statement& statement);
  std::size_t estimate_statement_size(const Statement& statement);
  void inline_statement(const Statement& statement, const InlineCandidates& candidates);

 private:
  void fold_block(std::vector<Statement>& body);
  std::vector<Statement> eliminate_in_block(std::vector<Statement> body);
  // Processes statements until one of them is a return, which is kept and ends the list.
  void eliminate_until_return(std::vector<Statement>& output, std::vector<Statement> body);
};

}  // namespace ovra
