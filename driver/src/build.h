// The single-file build, the up-to-date check and the TypeScript check.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "error.h"
#include "lexer.h"  // first_invalid_utf8_offset
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


// The file helpers below report failures as an IoError whose message is only the description
// ("No such file or directory"); each caller puts its own prefix in front.

// The whole file as text; text that is not UTF-8 fails with "invalid UTF-8 at byte offset N".
Result<std::string> read_source_file(const std::string& path);

// Replaces `path` with `contents` so that a reader sees either the old file or the new one: the
// text goes to a temporary file in the same directory, which is then renamed over `path` (over
// the file a symbolic link points to, when `path` is one). On failure the previous file is
// untouched and the temporary is removed. An existing file keeps its permission bits.
Status write_file_atomically(const std::string& path, std::string_view contents);

// A modification time at full resolution, ordered as one value.
struct FileTime {
  long long seconds = 0;
  long nanoseconds = 0;
  auto operator<=>(const FileTime&) const = default;
};

// The modification time of `path` (following symbolic links).
Result<FileTime> modification_time(const std::string& path);

// The operating system's description of an errno value, e.g. "Permission denied".
std::string os_error_text(int error_number);

// "Some(N)" for a child that exited with code N, "None" for one ended by a signal.
std::string exit_code_text(int wait_status);

}  // namespace ovra
