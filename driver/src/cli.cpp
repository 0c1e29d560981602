#include "cli.h"

#include <cstdlib>
#include <iostream>
#include <optional>

#include "build.h"
#include "lib_manager.h"
#include "native.h"
#include "serve.h"
#include "watch.h"

namespace ovra {

namespace {

bool starts_with_double_dash(std::string_view argument) {
  return argument.size() >= 2 && argument.starts_with("--");
}

// `path` with the extension of its last component replaced by `extension`, or extended with it
// when there is none. The extension starts at the component's last "." unless that "." is the
// component's first character; "." and ".." have none.
std::string with_extension(std::string_view path, std::string_view extension) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t component_start = slash == std::string_view::npos ? 0 : slash + 1;
  const std::string_view component = path.substr(component_start);
  std::size_t stem_end = path.size();
  if (component != "." && component != "..") {
    const std::size_t dot = component.find_last_of('.');
    if (dot != std::string_view::npos && dot > 0)
      stem_end = component_start + dot;
  }
  std::string result(path.substr(0, stem_end));
  result += '.';
  result += extension;
  return result;
}

// Prints `prefix` and the error text for a failed Status; returns the exit status.
int report(const char* prefix, const Status& status) {
  if (status)
    return 0;
  std::cerr << prefix << status.error().to_string() << "\n";
  return 1;
}

int run_lib_mode(const std::vector<std::string>& args) {
  if (args.size() == 2) {
    std::cerr << "lib subcommand requires an operation: list / best <name> [version_req]\n";
    print_usage_and_exit();
  }
  const std::string& operation = args[2];
  if (operation == "list")
    return run_lib_list();
  if (operation == "best") {
    if (args.size() == 3) {
      std::cerr << "Usage: ovrac lib best <name> [version_req]\n";
      return 1;
    }
    std::optional<std::string> requirement;
    if (args.size() > 4)
      requirement = args[4];
    return run_lib_best(args[3], requirement);
  }
  std::cerr << "Unknown lib subcommand: " << operation << "\n"
            << "Currently supported: list\n";
  return 1;
}

int run_default_mode(const std::string& input, std::span<const std::string> rest) {
  const OutputChoice choice = parse_output_and_target(input, rest);
  Status built = compile_file(input, choice.output, choice.target_name, choice.type_check);
  if (!built)
    return report("Compilation failed: ", built);
  std::cout << "Compilation successful: " << input << " -> " << choice.output << "\n";
  return 0;
}

}  // namespace

OutputChoice parse_output_and_target(std::string_view input, std::span<const std::string> rest) {
  std::optional<std::string> explicit_output;
  if (!rest.empty() && !starts_with_double_dash(rest.front()))
    explicit_output = rest.front();

  std::string_view extension = "js";
  bool type_check = false;
  for (const std::string& argument : rest) {
    if (argument == "--js") {
      extension = "js";
    } else if (argument == "--ts") {
      extension = "ts";
    } else if (argument == "--wasm") {
      extension = "wat";
    } else if (argument == "--llvm") {
      extension = "ll";
    } else if (argument == "--tsc") {
      type_check = true;
    }
  }

  std::string output;
  if (explicit_output) {
    output = *explicit_output;
  } else {
    output = with_extension(input, extension);
    if (first_invalid_utf8_offset(output))
      output = "output." + std::string(extension);
  }

  std::string target_name = "js";
  if (output.ends_with(".wat") || extension == "wat") {
    target_name = "wasm";
  } else if (output.ends_with(".ts") || extension == "ts") {
    target_name = "ts";
  } else if (output.ends_with(".ll") || extension == "ll") {
    target_name = "llvm";
  }
  return {std::move(output), std::move(target_name), type_check};
}

std::string usage_text() {
  const std::string version(kVersion);
  return "Ovra Compiler (ovrac) version " + version +
         "\n"
         "Usage:\n"
         "  ovrac -v, --version              Show version information\n"
         "  ovrac <input.ovra> [output.js|.ts|.wat|.ll] [--js|--ts|--wasm|--llvm] [--tsc]\n"
         "  ovrac watch <input.ovra> [output.js|.ts|.wat|.ll] [--js|--ts|--wasm|--llvm] "
         "[--tsc]\n"
         "  ovrac serve <input.ovra> [output.js|.ts] [--js|--ts] [--port=4173] [--proxy=URL] "
         "[--tsc]\n"
         "  ovrac native <input.ovra> [-o output] [--triple=TARGET|-t=TARGET] [--llc=PATH] "
         "[--clang=PATH]\n"
         "  ovrac lib list\n"
         "  ovrac lib best <name> [version_req]\n"
         "\n"
         "Cross-compilation examples (simplified format):\n"
         "  -t=x64-windows      # Windows x86_64\n"
         "  -t=arm64-windows    # Windows ARM64\n"
         "  -t=x64-linux        # Linux x86_64\n"
         "  -t=arm64-linux      # Linux ARM64\n"
         "  -t=x64-macos        # macOS x86_64\n"
         "  -t=arm64-macos      # macOS ARM64\n"
         "\n"
         "Full LLVM triple format is also supported:\n"
         "  --triple=x86_64-pc-windows-msvc\n"
         "  --triple=aarch64-unknown-linux-gnu\n"
         "\n"
         "Options:\n"
         "  -v, --version       Show version information\n"
         "  --js     Compile to JavaScript (default)\n"
         "  --ts     Compile to TypeScript\n"
         "  --wasm   Compile to WebAssembly (WAT format)\n"
         "  --llvm   Compile to LLVM IR (.ll)\n"
         "  --tsc    Run tsc type checking on generated .ts\n";
}

void print_usage_and_exit() {
  std::cerr << usage_text() << std::flush;
  std::exit(1);
}

int run_command_line(const std::vector<std::string>& args) {
  if (args.size() < 2)
    print_usage_and_exit();

  // Every argument is used as text; one that is not UTF-8 would reach messages and file names
  // garbled, so it is refused before any mode runs.
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (first_invalid_utf8_offset(args[i])) {
      std::cerr << "Invalid argument " << i << ": not valid UTF-8 text\n";
      return 1;
    }
  }

  const std::string& first = args[1];
  const std::span<const std::string> all(args);

  if (first == "-v" || first == "--version" || first == "version") {
    std::cout << "ovrac version " << kVersion << "\n";
    return 0;
  }
  if (first == "lib")
    return run_lib_mode(args);

  if (first == "watch" || first == "serve" || first == "native") {
    if (args.size() == 2) {
      std::cerr << first << " mode requires a Ovra source file path\n";
      print_usage_and_exit();
    }
    const std::string& input = args[2];
    const std::span<const std::string> rest = all.subspan(3);
    if (first == "native") {
      return report("Native compilation failed: ", compile_native_executable(input, rest));
    }
    const OutputChoice choice = parse_output_and_target(input, rest);
    if (first == "watch") {
      return run_watch_mode(input, choice.output, choice.target_name, choice.type_check);
    }
    return serve_and_watch(input, choice.output, choice.target_name, choice.type_check,
                           parse_serve_options(rest));
  }

  return run_default_mode(first, all.subspan(2));
}

}  // namespace ovra
