// The compiler's single entry point: one whole source text in, one output text or one error out.
#pragma once

#include <string>
#include <string_view>

#include "error.h"
#include "types.h"

namespace ovra {

class Compiler {
 public:
  // Runs lexer, parser, semantic stage, optimizer and the target's back end in order. Touches no
  // file and keeps no state; safe to call from several threads at once.
  static Result<std::string> compile(CompileTarget target, std::string_view source);
};

}  // namespace ovra
