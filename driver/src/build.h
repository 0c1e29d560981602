// The single-file build, the up-to-date check and the TypeScript check.
#pragma once

#include <string>
#include <string_view>

#include "error.h"
#include "types.h"

namespace ovra {

// "js" -> JavaScript, "ts" -> TypeScript, "wasm" -> Wasm, "llvm" -> Llvm, anything else JavaScript.
CompileTarget target_from_name(std::string_view target_name);

// Reads `input`, compiles it, replaces `output` atomically and, for target "ts" with
// `type_check`, runs tsc on it.
Status compile_file(const std::string& input, const std::string& output,
                    const std::string& target_name, bool type_check);

enum class BuildOutcome { Built, Skipped };

// compile_file, unless the output is at least as new as the input.
Result<BuildOutcome> compile_file_if_needed(const std::string& input, const std::string& output,
                                            const std::string& target_name, bool type_check);

}  // namespace ovra
