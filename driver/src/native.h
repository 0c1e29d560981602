// Native mode: LLVM IR under target/, then llc and clang against the native runtime library.
#pragma once

#include <span>
#include <string>

#include "error.h"

namespace ovra {

// Builds the executable for `input` with the native options that follow it on the command line.
Status compile_native_executable(const std::string& input, std::span<const std::string> options);

}  // namespace ovra
