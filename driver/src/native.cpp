#include "native.h"

namespace ovra {

Status compile_native_executable(const std::string&, std::span<const std::string>) {
  return CompilerError::io("native mode is not built yet");
}

}  // namespace ovra
