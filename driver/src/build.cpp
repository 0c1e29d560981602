#include "build.h"

namespace ovra {

CompileTarget target_from_name(std::string_view target_name) {
  if (target_name == "wasm") return CompileTarget::Wasm;
  if (target_name == "llvm") return CompileTarget::Llvm;
  if (target_name == "ts") return CompileTarget::TypeScript;
  return CompileTarget::JavaScript;
}

Status compile_file(const std::string&, const std::string&, const std::string&, bool) {
  return CompilerError::io("not built yet");
}

Result<BuildOutcome> compile_file_if_needed(const std::string&, const std::string&,
                                            const std::string&, bool) {
  return CompilerError::io("not built yet");
}

}  // namespace ovra
