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

  // Where a statement list ends at a `return`.
  enum class ReturnRule {
    None,                 // top level, if branches and loop bodies: nothing ends the list
    EndAtReturn,          // function bodies and spliced branches: a return statement of the list
    EndAtProducedReturn,  // exported function bodies: also a return a spliced branch left behind
  };

  // Appends to `output` what remains of `statement`: nothing, the statement with its nested
  // bodies rebuilt, or the statements of the branch a constant condition selects.
  void eliminate_dead_code_in_statement(std::vector<Statement>& output, Statement statement);
  // Rebuilds a statement list in place, statement by statement, under `rule`.
  void eliminate_dead_code_in_list(std::vector<Statement>& list, ReturnRule rule);

  // The walks that follow elimination; none of them changes the program.
  void analyze_statement_escapes(const Statement& statement);
  std::size_t estimate_statement_size(const Statement& statement);
  void inline_statement(const Statement& statement, const InlineCandidates& candidates);

 private:
  void fold_block(std::vector<Statement>& body);
  // Rebuilds the nested bodies of a statement that stays where it is; false when the statement
  // disappears. Constant ifs that splice a branch are handled by the callers.
  bool eliminate_in_place(Statement& statement);
};

}  // namespace ovra
