// Replays every input in fuzz/regressions — each one once made the compiler crash, hang, leak or
// answer with a malformed error — for every target, with the properties the fuzz targets check.
// Files named accept_*.ovra are well-typed programs that the compiler must also accept (the
// WebAssembly target may refuse a construct outside its subset, but only with a plain error).

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "../../fuzz/fuzz_checks.h"
#include "compiler.h"

namespace ovra {
namespace {

namespace fs = std::filesystem;

// Generous, since the suite shares the machine; the fuzz runs hold each input to one second.
constexpr auto kTimeLimit = std::chrono::seconds(10);

fs::path regressions_dir() {
  return fs::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz" / "regressions";
}

std::string read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(FuzzRegressions, EveryInputForEveryTarget) {
  ASSERT_TRUE(fs::is_directory(regressions_dir())) << regressions_dir();
  std::vector<fs::path> inputs;
  for (const auto& entry : fs::directory_iterator(regressions_dir())) {
    if (entry.is_regular_file() && entry.path().filename() != "README.md")
      inputs.push_back(entry.path());
  }
  std::sort(inputs.begin(), inputs.end());
  const std::pair<CompileTarget, const char*> targets[] = {{CompileTarget::JavaScript, "js"},
                                                           {CompileTarget::TypeScript, "ts"},
                                                           {CompileTarget::Wasm, "wasm"},
                                                           {CompileTarget::Llvm, "llvm"}};
  for (const fs::path& input : inputs) {
    const std::string source = read_bytes(input);
    const bool must_accept = input.filename().string().starts_with("accept_");
    for (const auto& [target, name] : targets) {
      SCOPED_TRACE(input.filename().string() + " for " + name);
      const auto started = std::chrono::steady_clock::now();
      auto result = Compiler::compile(target, source);
      EXPECT_LT(std::chrono::steady_clock::now() - started, kTimeLimit);
      if (result)
        continue;
      if (auto fault = fuzz::error_fault(result.error(), source))
        ADD_FAILURE() << *fault;
      if (must_accept) {
        EXPECT_TRUE(target == CompileTarget::Wasm && !result.error().position())
            << result.error().to_string();
      }
    }
  }
}

// Programs whose output the tool that reads it (node, llc, wat2wasm) once rejected, found by
// scripts/differential.sh, with the error each must now give instead of that output.
TEST(DifferentialFindings, OutputTheNextToolRejectedIsNowAnError) {
  struct Case {
    const char* label;
    const char* source;
    CompileTarget target;
    const char* error;
  };
  const Case cases[] = {
      {"a function exported under the memory's name", "func memory(): void {}\n",
       CompileTarget::Wasm, "Error: Function name 'memory' clashes with the memory export in WASM"},
      {"the same as a shared function", "share func memory(a: int): int { back a; }\n",
       CompileTarget::Wasm, "Error: Function name 'memory' clashes with the memory export in WASM"},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.label);
    auto result = Compiler::compile(test_case.target, test_case.source);
    ASSERT_FALSE(result) << result.value();
    EXPECT_EQ(result.error().to_string(), test_case.error);
  }
  // A similar name is still exported as usual.
  auto result = Compiler::compile(CompileTarget::Wasm, "func memory2(): void {}\n");
  ASSERT_TRUE(result) << result.error().to_string();
  EXPECT_NE(result.value().find("(export \"memory2\" (func $0))"), std::string::npos)
      << result.value();
}

}  // namespace
}  // namespace ovra
