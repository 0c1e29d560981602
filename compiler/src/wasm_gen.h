// The WebAssembly text back end (a subset of the language).
#pragma once

#include <string>

#include "ast.h"
#include "error.h"

namespace ovra {

// The whole WAT module for the program, or the OtherError of the first construct outside the
// subset.
Result<std::string> generate_wasm_module(const Program& program);

}  // namespace ovra
