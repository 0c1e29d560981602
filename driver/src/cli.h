// The command line: argument grammar, output and target choice, usage and version texts.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ovra {

inline constexpr std::string_view kVersion = "2.0.0";

struct OutputChoice {
  std::string output;       // explicit or derived output path
  std::string target_name;  // "js", "ts", "wasm" or "llvm"
  bool type_check = false;  // "--tsc" was given

  bool operator==(const OutputChoice&) const = default;
};

// Output path, target name and type-check flag from the arguments after the input. Never fails.
OutputChoice parse_output_and_target(std::string_view input, std::span<const std::string> rest);

// The 29 lines that print_usage_and_exit writes, each ended by a line feed.
std::string usage_text();

// Writes the usage text to standard error and ends the process with status 1.
[[noreturn]] void print_usage_and_exit();

// Runs the one mode the arguments name and returns the process exit status. args[0] is the
// program's own name.
int run_command_line(const std::vector<std::string>& args);

}  // namespace ovra
