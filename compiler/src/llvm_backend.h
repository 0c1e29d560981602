// LLVM IR text emission from the SSA module.
#pragma once

#include <string>

#include "error.h"
#include "ir/ssa.h"

namespace ovra {

class LLVMBackend {
 public:
  // The module's text, or an IoError carrying the emitter's failure message.
  Result<std::string> emit_module(const SsaModule& module);
};

}  // namespace ovra
