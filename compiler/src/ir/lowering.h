// Lowering from the syntax tree to the IR.
#pragma once

#include "ast.h"
#include "ir/mod.h"

namespace ovra {

IrModule lower_program(const Program& program);

}  // namespace ovra
