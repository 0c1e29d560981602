// The optimizer: constant folding and dead-code elimination on the syntax tree.
#pragma once

#include "ast.h"

namespace ovra {

class Optimizer {
 public:
  // Applies every step in the pipeline's order and returns the program the back end sees.
  Program optimize(Program program);
};

}  // namespace ovra
