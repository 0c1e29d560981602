#include "wasm_gen.h"

namespace ovra {

Result<std::string> generate_wasm_module(const Program&) {
  return CompilerError::other("The WebAssembly target is not built yet");
}

}  // namespace ovra
