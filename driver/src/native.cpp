#include "native.h"

#include <limits.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "build.h"
#include "compiler.h"

extern char** environ;

namespace ovra {

namespace {

namespace fs = std::filesystem;

// Directory for the intermediate files, relative to the working directory.
constexpr const char* kBuildDirectory = "target";

struct ShortTriple {
  std::string_view name;
  std::string_view triple;
};

constexpr ShortTriple kShortTriples[] = {
    {"x64-linux", "x86_64-unknown-linux-gnu"},      {"x86_64-linux", "x86_64-unknown-linux-gnu"},
    {"x86-linux", "i686-unknown-linux-gnu"},        {"i686-linux", "i686-unknown-linux-gnu"},
    {"arm-linux", "arm-unknown-linux-gnueabihf"},   {"arm64-linux", "aarch64-unknown-linux-gnu"},
    {"aarch64-linux", "aarch64-unknown-linux-gnu"}, {"x64-windows", "x86_64-pc-windows-msvc"},
    {"x86_64-windows", "x86_64-pc-windows-msvc"},   {"x86-windows", "i686-pc-windows-msvc"},
    {"i686-windows", "i686-pc-windows-msvc"},       {"arm64-windows", "aarch64-pc-windows-msvc"},
    {"aarch64-windows", "aarch64-pc-windows-msvc"}, {"x64-macos", "x86_64-apple-darwin"},
    {"x86_64-macos", "x86_64-apple-darwin"},        {"arm64-macos", "aarch64-apple-darwin"},
    {"aarch64-macos", "aarch64-apple-darwin"},
};

// The remainder of `argument` after `prefix`, when it starts with it.
std::optional<std::string> value_after(const std::string& argument, std::string_view prefix) {
  if (!argument.starts_with(prefix))
    return std::nullopt;
  return argument.substr(prefix.size());
}

// The input's file stem, or nullopt when its last component has none.
std::optional<std::string> file_stem(const std::string& input) {
  std::string stem = fs::path(input).stem().string();
  if (stem.empty())
    return std::nullopt;
  return stem;
}

// Starts `program` (looked up through PATH) with the standard streams inherited and waits.
// Returns the wait status, or the errno value of a failed start as an error text.
Result<int> run_child(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<std::string> argv_text;
  argv_text.push_back(program);
  argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : argv_text)
    argv.push_back(argument.data());
  argv.push_back(nullptr);

  // The child writes to the same terminal; what was printed so far must come first.
  std::cout << std::flush;
  std::cerr << std::flush;
  pid_t pid = 0;
  const int spawn_error =
      ::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (spawn_error != 0)
    return CompilerError::io(os_error_text(spawn_error));
  int wait_status = 0;
  while (::waitpid(pid, &wait_status, 0) < 0) {
    if (errno != EINTR)
      return CompilerError::io(os_error_text(errno));
  }
  return wait_status;
}

bool succeeded(int wait_status) {
  return WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0;
}

}  // namespace

NativeOptions parse_native_options(std::span<const std::string> options) {
  NativeOptions parsed;
  for (std::size_t i = 0; i < options.size(); ++i) {
    const std::string& argument = options[i];
    if (argument == "-o") {
      if (i + 1 < options.size())
        parsed.output = options[++i];
    } else if (std::optional<std::string> triple = value_after(argument, "--triple=")) {
      if (!triple->empty())
        parsed.triple = expand_triple(*triple);
    } else if (std::optional<std::string> short_triple = value_after(argument, "-t=")) {
      if (!short_triple->empty())
        parsed.triple = expand_triple(*short_triple);
    } else if (std::optional<std::string> llc = value_after(argument, "--llc=")) {
      if (!llc->empty())
        parsed.llc = *llc;
    } else if (std::optional<std::string> clang = value_after(argument, "--clang=")) {
      if (!clang->empty())
        parsed.clang = *clang;
    }
  }
  return parsed;
}

std::string expand_triple(std::string_view name) {
  for (const ShortTriple& entry : kShortTriples) {
    if (entry.name == name)
      return std::string(entry.triple);
  }
  return std::string(name);
}

TripleInfo parse_triple(const std::optional<std::string>& triple) {
  TripleInfo info;
  if (!triple)
    return info;
  const std::string& text = *triple;
  info.is_windows = text.find("windows") != std::string::npos ||
                    text.find("win32") != std::string::npos ||
                    text.find("msvc") != std::string::npos;
  info.is_linux = text.find("linux") != std::string::npos;
  return info;
}

std::string host_triple() {
#if defined(__x86_64__)
  const std::string architecture = "x86_64";
#elif defined(__aarch64__)
  const std::string architecture = "aarch64";
#elif defined(__i386__)
  const std::string architecture = "i686";
#elif defined(__arm__)
  const std::string architecture = "arm";
#elif defined(__riscv) && __riscv_xlen == 64
  const std::string architecture = "riscv64";
#else
  const std::string architecture = "unknown";
#endif
#if defined(__APPLE__)
  const std::string system = "apple-darwin";
#elif defined(_WIN32)
  const std::string system = "pc-windows-msvc";
#elif defined(__linux__) && defined(__arm__)
  const std::string system = "unknown-linux-gnueabihf";
#elif defined(__linux__)
  const std::string system = "unknown-linux-gnu";
#else
  const std::string system = "unknown-unknown";
#endif
  return architecture + "-" + system;
}

std::string runtime_library_name(const TripleInfo& info) {
  return info.is_windows ? "ovra_runtime.lib" : "libovra_runtime.a";
}

NativePlan plan_native_build(const std::string& input, const NativeOptions& options) {
  NativePlan plan;
  const std::optional<std::string> stem = file_stem(input);

  plan.executable_path = options.output.value_or(stem.value_or("a.out"));
  if (parse_triple(options.triple).is_windows && !plan.executable_path.ends_with(".exe"))
    plan.executable_path += ".exe";

  const std::string base = std::string(kBuildDirectory) + "/" + stem.value_or("output");
  plan.ir_path = base + ".ll";
  plan.object_path = base + ".o";
  plan.triple = options.triple.value_or(host_triple());
  plan.runtime_library = runtime_library_name(parse_triple(plan.triple));
  return plan;
}

std::vector<std::string> llc_arguments(const NativePlan& plan) {
  // llc's default is non-PIC code, which clang's default position-independent link rejects.
  return {"-filetype=obj",        plan.ir_path, "-o", plan.object_path, "--mtriple=" + plan.triple,
          "-relocation-model=pic"};
}

std::vector<std::string> clang_arguments(const NativePlan& plan, const std::string& runtime_path) {
  std::vector<std::string> arguments{"-target",    plan.triple, plan.object_path,
                                     runtime_path, "-o",        plan.executable_path};
  if (parse_triple(plan.triple).is_linux)
    arguments.push_back("-lpthread");
  return arguments;
}

std::string command_display_form(const std::string& program,
                                 const std::vector<std::string>& arguments) {
  auto quoted = [](const std::string& text) {
    std::string result = "\"";
    for (char c : text) {
      if (c == '"' || c == '\\')
        result += '\\';
      result += c;
    }
    result += '"';
    return result;
  };
  std::string display = quoted(program);
  for (const std::string& argument : arguments) {
    display += ' ';
    display += quoted(argument);
  }
  return display;
}

Status compile_native_executable(const std::string& input, std::span<const std::string> options) {
  const NativeOptions parsed = parse_native_options(options);

  struct stat input_info {};
  if (::stat(input.c_str(), &input_info) != 0)
    return CompilerError::io("Input file does not exist: " + input);

  const NativePlan plan = plan_native_build(input, parsed);

  // A directory that cannot be made shows up as the failure to write the IR file.
  std::error_code ignored;
  fs::create_directories(kBuildDirectory, ignored);

  Result<std::string> source = read_source_file(input);
  if (!source)
    return CompilerError::io("Failed to read file: " + source.error().message());

  Result<std::string> ir = Compiler::compile(CompileTarget::Llvm, source.value());
  if (!ir)
    return std::move(ir.error());

  if (Status written = write_file_atomically(plan.ir_path, ir.value()); !written) {
    return CompilerError::io("Failed to write " + plan.ir_path + ": " + written.error().message());
  }
  std::cout << "Generated LLVM IR: " << plan.ir_path << "\n";

  const std::vector<std::string> llc = llc_arguments(plan);
  std::cout << "Using target triple: " << plan.triple << "\n";
  std::cout << "Running llc: " << command_display_form(parsed.llc, llc) << "\n";
  Result<int> llc_status = run_child(parsed.llc, llc);
  if (!llc_status)
    return CompilerError::io("Failed to spawn llc: " + llc_status.error().message());
  if (!succeeded(llc_status.value())) {
    return CompilerError::io("llc failed for " + plan.ir_path +
                             " (exit code: " + exit_code_text(llc_status.value()) + ")");
  }

  char executable[PATH_MAX + 1];
  const ssize_t length = ::readlink("/proc/self/exe", executable, PATH_MAX);
  if (length < 0)
    return CompilerError::io("Failed to get executable path: " + os_error_text(errno));
  const fs::path executable_path(std::string(executable, static_cast<std::size_t>(length)));
  const fs::path executable_directory = executable_path.parent_path();
  if (executable_directory.empty())
    return CompilerError::io("Cannot determine executable directory");

  const std::string candidate =
      (executable_directory / ".." / "lib" / plan.runtime_library).string();
  char resolved[PATH_MAX + 1];
  if (::realpath(candidate.c_str(), resolved) == nullptr) {
    return CompilerError::io(
        "Cannot find runtime library. Please ensure the installation package contains lib/" +
        plan.runtime_library);
  }
  const std::string runtime_path = resolved;
  std::cout << "Using pre-compiled runtime library: " << runtime_path << "\n";
  struct stat runtime_info {};
  if (::stat(runtime_path.c_str(), &runtime_info) != 0)
    return CompilerError::io("Runtime static library not found: " + runtime_path);

  const std::vector<std::string> clang = clang_arguments(plan, runtime_path);
  std::cout << "Running clang: " << command_display_form(parsed.clang, clang) << "\n";
  Result<int> clang_status = run_child(parsed.clang, clang);
  if (!clang_status)
    return CompilerError::io("Failed to spawn clang: " + clang_status.error().message());
  if (!succeeded(clang_status.value())) {
    return CompilerError::io("clang failed when linking " + plan.executable_path +
                             " (exit code: " + exit_code_text(clang_status.value()) + ")");
  }

  std::cout << "Native executable generated: " << plan.executable_path
            << " (via LLVM IR + runtime)\n";
  return Unit{};
}

}  // namespace ovra
