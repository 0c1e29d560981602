// Native mode: LLVM IR under target/, then llc and clang against the native runtime library.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"

namespace ovra {

// The arguments after the input, scanned left to right; later ones override earlier ones.
struct NativeOptions {
  std::optional<std::string> output;  // "-o PATH"
  std::optional<std::string> triple;  // "--triple=" or "-t=", already expanded
  std::string llc = "llc";            // "--llc="
  std::string clang = "clang";        // "--clang="
};

NativeOptions parse_native_options(std::span<const std::string> options);

// A short target name such as "arm64-linux" as its full triple; any other text unchanged.
std::string expand_triple(std::string_view name);

struct TripleInfo {
  bool is_windows = false;
  bool is_linux = false;
};

// Substring tests on the triple; an absent triple is neither Windows nor Linux.
TripleInfo parse_triple(const std::optional<std::string>& triple);

// The triple of the machine ovrac was built for, e.g. "x86_64-unknown-linux-gnu".
std::string host_triple();

// "libovra_runtime.a", or "ovra_runtime.lib" for a Windows triple.
std::string runtime_library_name(const TripleInfo& info);

// Every file of one build and the two command lines, derived from the input and the options.
struct NativePlan {
  std::string ir_path;          // target/<stem>.ll
  std::string object_path;      // target/<stem>.o
  std::string executable_path;  // -o, the stem or a.out, with .exe for an explicit Windows triple
  std::string triple;           // the given triple or the host's
  std::string runtime_library;  // file name looked up in ../lib beside ovrac
};

NativePlan plan_native_build(const std::string& input, const NativeOptions& options);

std::vector<std::string> llc_arguments(const NativePlan& plan);
std::vector<std::string> clang_arguments(const NativePlan& plan, const std::string& runtime_path);

// The program and each argument in double quotes (quotes and backslashes escaped), joined by
// single spaces.
std::string command_display_form(const std::string& program,
                                 const std::vector<std::string>& arguments);

// Builds the executable for `input` with the native options that follow it on the command line.
Status compile_native_executable(const std::string& input, std::span<const std::string> options);

}  // namespace ovra
