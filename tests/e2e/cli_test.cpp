// The ovrac command line seen from outside: usage and version texts, mode errors, output naming
// and target choice, the success and failure lines of the default build, and the --tsc check.

#include <gtest/gtest.h>

#include "process_util.h"

namespace ovra::testing {
namespace {

using namespace std::chrono_literals;

const std::string kUsage =
    "Ovra Compiler (ovrac) version 2.0.0\n"
    "Usage:\n"
    "  ovrac -v, --version              Show version information\n"
    "  ovrac <input.ovra> [output.js|.ts|.wat|.ll] [--js|--ts|--wasm|--llvm] [--tsc]\n"
    "  ovrac watch <input.ovra> [output.js|.ts|.wat|.ll] [--js|--ts|--wasm|--llvm] [--tsc]\n"
    "  ovrac serve <input.ovra> [output.js|.ts] [--js|--ts] [--port=4173] [--proxy=URL] [--tsc]\n"
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

struct Expected {
  int exit_code;
  std::string out;
  std::string err;
};

void expect_run(const std::vector<std::string>& args, const Expected& expected,
                const ProcessOptions& options = {}) {
  std::string shown;
  for (const std::string& arg : args)
    shown += " '" + arg + "'";
  const ProcessResult result = run_ovrac(args, options);
  ASSERT_FALSE(result.timed_out) << shown;
  EXPECT_EQ(result.exit_code, expected.exit_code) << shown;
  EXPECT_EQ(result.out, expected.out) << shown;
  EXPECT_EQ(result.err, expected.err) << shown;
}

TEST(CommandLine, UsageVersionAndModeErrors) {
  const Expected version{0, "ovrac version 2.0.0\n", ""};
  expect_run({}, {1, "", kUsage});
  expect_run({"-v"}, version);
  expect_run({"--version"}, version);
  expect_run({"version"}, version);
  expect_run({"version", "app.ovra", "--ts"}, version);  // nothing after the word is read
  expect_run({"watch"}, {1, "", "watch mode requires a Ovra source file path\n" + kUsage});
  expect_run({"serve"}, {1, "", "serve mode requires a Ovra source file path\n" + kUsage});
  expect_run({"native"}, {1, "", "native mode requires a Ovra source file path\n" + kUsage});
  expect_run(
      {"lib"},
      {1, "", "lib subcommand requires an operation: list / best <name> [version_req]\n" + kUsage});
  expect_run({"lib", "remove"},
             {1, "", "Unknown lib subcommand: remove\nCurrently supported: list\n"});
  expect_run({"lib", "best"}, {1, "", "Usage: ovrac lib best <name> [version_req]\n"});
  // Mode words are exact and only recognised first; anything else is an input path.
  expect_run(
      {"-V"},
      {1, "", "Compilation failed: IO error: Failed to read file: No such file or directory\n"});
  expect_run(
      {"Watch"},
      {1, "", "Compilation failed: IO error: Failed to read file: No such file or directory\n"});
  expect_run({"ok\xff"}, {1, "", "Invalid argument 1: not valid UTF-8 text\n"});
}

TEST(CommandLine, OtherModesReportFailuresWithTheirPrefix) {
  TempDir dir;
  expect_run({"watch", "missing.ovra"},
             {1, "", "Watch failed: IO error: Input file does not exist: missing.ovra\n"},
             in_directory(dir.path()));

  const ProcessResult native = run_ovrac({"native", "missing.ovra"}, in_directory(dir.path()));
  EXPECT_EQ(native.exit_code, 1);
  EXPECT_TRUE(native.err.starts_with("Native compilation failed: IO error: ")) << native.err;
}

TEST(DefaultBuild, SuccessAndFailureLines) {
  TempDir dir;
  write_text(dir / "app.ovra", "");
  const ProcessOptions here = in_directory(dir.path());

  expect_run({"app.ovra"}, {0, "Compilation successful: app.ovra -> app.js\n", ""}, here);
  EXPECT_TRUE(fs::exists(dir / "app.js"));
  // The input is printed exactly as typed, never made absolute.
  expect_run(
      {"./app.ovra", "out/../app2.js"},
      {1, "", "Compilation failed: IO error: Failed to write file: No such file or directory\n"},
      here);
  fs::create_directory(dir / "out");
  expect_run({"./app.ovra", "out/../app2.js"},
             {0, "Compilation successful: ./app.ovra -> out/../app2.js\n", ""}, here);
  EXPECT_TRUE(fs::exists(dir / "app2.js"));

  const std::string read_failure = "Compilation failed: IO error: Failed to read file: ";
  expect_run({"missing.ovra"}, {1, "", read_failure + "No such file or directory\n"}, here);
  expect_run({"out"}, {1, "", read_failure + "Is a directory\n"}, here);
  expect_run({"app.ovra", "out"},
             {1, "", "Compilation failed: IO error: Failed to write file: Is a directory\n"}, here);
  // --ts app.ovra: "--ts" is the input and app.ovra would be the output.
  expect_run({"--ts", "app.ovra"}, {1, "", read_failure + "No such file or directory\n"}, here);
  EXPECT_EQ(read_text(dir / "app.ovra"), "");

  // An endless input is refused at a size limit instead of filling the memory.
  expect_run({"/dev/zero", "zero.js"}, {1, "", read_failure + "File too large\n"}, here);

  write_text(dir / "bad.ovra", "let a = 1;\n\xe2\x82\n");
  expect_run({"bad.ovra"}, {1, "", read_failure + "invalid UTF-8 at byte offset 11\n"}, here);
  EXPECT_FALSE(fs::exists(dir / "bad.js"));
}

// Output naming is seen in the success line and the file written, the target in watch mode's
// first line, which prints the target name.
TEST(DefaultBuild, OutputNamingAndTargetChoice) {
  struct Case {
    std::vector<std::string> rest;
    std::string output;
    std::string target;
  };
  const std::vector<Case> cases = {
      {{}, "app.js", "js"},
      {{"--ts"}, "app.ts", "ts"},
      {{"--ts", "--js"}, "app.js", "js"},
      {{"--wasm"}, "app.wat", "wasm"},
      {{"--llvm"}, "app.ll", "llvm"},
      {{"out.wat"}, "out.wat", "wasm"},
      {{"out.txt", "--llvm"}, "out.txt", "llvm"},
      {{"out.wat", "--ts"}, "out.wat", "wasm"},
      {{"out.js", "--wasm"}, "out.js", "wasm"},
      {{"out.ts", "--llvm"}, "out.ts", "ts"},
      {{"watch"}, "watch", "js"},
      {{"-o", "x.js"}, "-o", "js"},
      {{"--bogus", "--ts"}, "app.ts", "ts"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    write_text(dir / "app.ovra", "");
    std::vector<std::string> args{"app.ovra"};
    args.insert(args.end(), c.rest.begin(), c.rest.end());

    std::vector<std::string> watch_argv{ovrac_path(), "watch"};
    watch_argv.insert(watch_argv.end(), args.begin(), args.end());
    ChildProcess watch(watch_argv, in_directory(dir.path()));
    EXPECT_TRUE(watch.wait_for("\n", 10s)) << watch.err();
    EXPECT_EQ(watch.out(), "Watching app.ovra -> " + c.output + " (target = " + c.target +
                               ") ... Press Ctrl+C to exit.\n");

    // The default build writes the same path, in the format of that target.
    expect_run(args, {0, "Compilation successful: app.ovra -> " + c.output + "\n", ""},
               in_directory(dir.path()));
    const std::string output = read_text(dir / c.output);
    if (c.target == "wasm") {
      EXPECT_TRUE(output.starts_with("(module")) << c.output << ":\n" << output;
    } else if (c.target == "llvm") {
      EXPECT_NE(output.find("define "), std::string::npos) << c.output << ":\n" << output;
    } else {
      EXPECT_EQ(output, "") << c.output;  // an empty program is empty JavaScript or TypeScript
    }
  }
}

class TypeCheck : public ::testing::Test {
 protected:
  // tsc from the repository's node_modules first on the search path.
  ProcessOptions with_tsc() const {
    ProcessOptions options = in_directory(dir_.path());
    const char* path = std::getenv("PATH");
    options.env.push_back({"PATH", (source_dir() / "tests/node/node_modules/.bin").string() + ":" +
                                       (path ? path : "/usr/bin:/bin")});
    options.timeout = 120s;
    return options;
  }
  TempDir dir_;
};

TEST_F(TypeCheck, PassingAndFailingChecks) {
  // A real program, runtime prelude included, passes the checker.
  fs::copy_file(source_dir() / "examples/hello.ovra", dir_ / "app.ovra");
  expect_run({"app.ovra", "--ts", "--tsc"},
             {0,
              "Running TypeScript checker: tsc app.ts\n"
              "Compilation successful: app.ovra -> app.ts\n",
              ""},
             with_tsc());

  // A TypeScript build written to a .js name: tsc refuses JavaScript input without allowJs and
  // exits with status 2, its diagnostic on the inherited standard output. The output file has
  // been written before the check.
  const ProcessResult failed = run_ovrac({"app.ovra", "out.js", "--ts", "--tsc"}, with_tsc());
  EXPECT_EQ(failed.exit_code, 1);
  EXPECT_TRUE(failed.out.starts_with("Running TypeScript checker: tsc out.js\n")) << failed.out;
  EXPECT_NE(failed.out.find("error TS6504"), std::string::npos) << failed.out;
  EXPECT_EQ(failed.err,
            "Compilation failed: IO error: TypeScript compile check failed for out.js (exit code: "
            "Some(2))\n");
  EXPECT_TRUE(fs::exists(dir_ / "out.js"));
}

TEST_F(TypeCheck, OnlyForTypeScriptAndReportsAMissingChecker) {
  write_text(dir_ / "app.ovra", "");
  ProcessOptions no_tsc = in_directory(dir_.path());
  no_tsc.env.push_back({"PATH", (dir_ / "empty-bin").string()});
  fs::create_directory(dir_ / "empty-bin");

  expect_run({"app.ovra", "--tsc"}, {0, "Compilation successful: app.ovra -> app.js\n", ""},
             no_tsc);
  expect_run({"app.ovra", "--ts", "--tsc"},
             {1, "Running TypeScript checker: tsc app.ts\n",
              "Compilation failed: IO error: Failed to spawn tsc: No such file or directory\n"},
             no_tsc);
  EXPECT_TRUE(fs::exists(dir_ / "app.ts"));
}

}  // namespace
}  // namespace ovra::testing
