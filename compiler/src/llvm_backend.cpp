#include "llvm_backend.h"

namespace ovra {

Result<std::string> LLVMBackend::emit_module(const SsaModule&) {
  return CompilerError::io("The LLVM target is not built yet");
}

}  // namespace ovra
