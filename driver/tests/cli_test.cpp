// Output path and target choice from the arguments that follow the input.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli.h"

namespace ovra {
namespace {

struct OutputCase {
  const char* label;
  std::string input;
  std::vector<std::string> rest;
  OutputChoice expected;
};

TEST(ParseOutputAndTarget, Table) {
  const std::vector<OutputCase> cases = {
      // Derived output: the extension of the last component is replaced or added.
      {"default target", "app.ovra", {}, {"app.js", "js", false}},
      {"directory kept", "src/app.ovra", {}, {"src/app.js", "js", false}},
      {"no extension", "app", {}, {"app.js", "js", false}},
      {"leading dot is no extension", ".hidden", {}, {".hidden.js", "js", false}},
      {"leading dot in a subdirectory", "src/.hidden", {}, {"src/.hidden.js", "js", false}},
      {"only the last dot", "a.b.ovra", {}, {"a.b.js", "js", false}},
      {"dot in a directory name", "dir.d/app", {}, {"dir.d/app.js", "js", false}},
      {"empty extension", "archive.", {}, {"archive.js", "js", false}},
      {"two leading dots", "..cfg", {}, {"..js", "js", false}},
      {"dot component has none", "src/.", {}, {"src/..js", "js", false}},
      {"dot-dot component has none", "..", {}, {"...js", "js", false}},
      {"input that is not UTF-8", "\xff\xfe.ovra", {}, {"output.js", "js", false}},
      {"not UTF-8, TypeScript", "\xc0.ovra", {"--ts"}, {"output.ts", "ts", false}},

      // Target flags: the last one wins.
      {"--ts", "app.ovra", {"--ts"}, {"app.ts", "ts", false}},
      {"--ts then --js", "app.ovra", {"--ts", "--js"}, {"app.js", "js", false}},
      {"--wasm", "app.ovra", {"--wasm"}, {"app.wat", "wasm", false}},
      {"--llvm", "app.ovra", {"--llvm"}, {"app.ll", "llvm", false}},
      {"--wasm then --llvm", "app.ovra", {"--wasm", "--llvm"}, {"app.ll", "llvm", false}},
      {"unknown flags ignored", "app.ovra", {"--fast", "--ts", "x"}, {"app.ts", "ts", false}},
      {"flags are case-sensitive", "app.ovra", {"--TS"}, {"app.js", "js", false}},

      // The type-check flag is recorded for every target; compile_file uses it for "ts" only.
      {"--tsc alone", "app.ovra", {"--tsc"}, {"app.js", "js", true}},
      {"--tsc with --ts", "app.ovra", {"--tsc", "--ts"}, {"app.ts", "ts", true}},

      // Explicit output: a first element that does not start with "--".
      {"explicit js", "app.ovra", {"build/out.js"}, {"build/out.js", "js", false}},
      {"suffix .wat chooses wasm", "app.ovra", {"out.wat"}, {"out.wat", "wasm", false}},
      {"suffix .ts chooses ts", "app.ovra", {"out.ts"}, {"out.ts", "ts", false}},
      {"suffix .ll chooses llvm", "app.ovra", {"out.ll"}, {"out.ll", "llvm", false}},
      {"unknown suffix with --llvm", "app.ovra", {"out.txt", "--llvm"}, {"out.txt", "llvm", false}},
      {"wat beats --ts", "app.ovra", {"out.wat", "--ts"}, {"out.wat", "wasm", false}},
      {"--wasm beats .js", "app.ovra", {"out.js", "--wasm"}, {"out.js", "wasm", false}},
      {"ts beats --llvm", "app.ovra", {"out.ts", "--llvm"}, {"out.ts", "ts", false}},
      {"suffix is case-sensitive", "app.ovra", {"out.TS"}, {"out.TS", "js", false}},
      {"suffix needs its dot", "app.ovra", {"wat"}, {"wat", "js", false}},
      {"bare suffix", "app.ovra", {".ts"}, {".ts", "ts", false}},
      {"-o is an output path", "app.ovra", {"-o", "x.js"}, {"-o", "js", false}},
      {"single dash is an output path", "app.ovra", {"-"}, {"-", "js", false}},
      {"empty argument is an output path", "app.ovra", {""}, {"", "js", false}},
      {"mode word as output", "app.ovra", {"watch"}, {"watch", "js", false}},
      {"only the first element counts", "app.ovra", {"--ts", "out.js"}, {"app.ts", "ts", false}},
      {"flag as input, file as output", "--ts", {"app.ovra"}, {"app.ovra", "js", false}},
      {"explicit output keeps --tsc", "app.ovra", {"out.ts", "--tsc"}, {"out.ts", "ts", true}},
  };
  for (const OutputCase& c : cases) {
    const OutputChoice actual = parse_output_and_target(c.input, c.rest);
    EXPECT_EQ(actual.output, c.expected.output) << c.label;
    EXPECT_EQ(actual.target_name, c.expected.target_name) << c.label;
    EXPECT_EQ(actual.type_check, c.expected.type_check) << c.label;
  }
}

}  // namespace
}  // namespace ovra
