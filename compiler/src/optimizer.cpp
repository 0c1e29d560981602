#include "optimizer.h"

namespace ovra {

Program Optimizer::optimize(Program program) { return program; }

}  // namespace ovra
