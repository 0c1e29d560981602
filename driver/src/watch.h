// Watch mode: poll the source's modification time and rebuild after every change.
#pragma once

#include <string>

namespace ovra {

// Polls `input` every 500 milliseconds and runs compile_file after each forward move of its
// modification time. Runs until the process is ended; returns the exit status (1) only when it
// cannot start, after printing "Watch failed: ..." on standard error.
int run_watch_mode(const std::string& input, const std::string& output,
                   const std::string& target_name, bool type_check);

}  // namespace ovra
