#include "native.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace ovra {
namespace {

TEST(NativeOptions, ScannedLeftToRightLaterOnesWin) {
  struct Case {
    std::vector<std::string> args;
    std::optional<std::string> output;
    std::optional<std::string> triple;
    std::string llc;
    std::string clang;
  };
  const Case cases[] = {
      {{}, std::nullopt, std::nullopt, "llc", "clang"},
      {{"-o", "app"}, "app", std::nullopt, "llc", "clang"},
      {{"-o"}, std::nullopt, std::nullopt, "llc", "clang"},  // trailing -o is ignored
      {{"-o", "a", "-o"}, "a", std::nullopt, "llc", "clang"},
      {{"-o", "a", "-o", "b"}, "b", std::nullopt, "llc", "clang"},
      // -o consumes the next argument whatever it looks like
      {{"-o", "--llc=x"}, "--llc=x", std::nullopt, "llc", "clang"},
      {{"-t=arm64-linux"}, std::nullopt, "aarch64-unknown-linux-gnu", "llc", "clang"},
      {{"--triple=x64-windows"}, std::nullopt, "x86_64-pc-windows-msvc", "llc", "clang"},
      {{"--triple=riscv64-unknown-linux-gnu"},
       std::nullopt,
       "riscv64-unknown-linux-gnu",
       "llc",
       "clang"},
      {{"-t=x64-linux", "--triple="}, std::nullopt, "x86_64-unknown-linux-gnu", "llc", "clang"},
      {{"-t=x64-linux", "--triple=x64-macos"}, std::nullopt, "x86_64-apple-darwin", "llc", "clang"},
      {{"--llc=llc-16", "--clang=clang-16"}, std::nullopt, std::nullopt, "llc-16", "clang-16"},
      {{"--llc=", "--clang="}, std::nullopt, std::nullopt, "llc", "clang"},
      {{"--llc=a", "--llc=b"}, std::nullopt, std::nullopt, "b", "clang"},
      {{"--wasm", "-t", "--triple", "x.ll", "-O2"}, std::nullopt, std::nullopt, "llc", "clang"},
  };
  for (const Case& c : cases) {
    const NativeOptions parsed = parse_native_options(c.args);
    std::string label;
    for (const std::string& arg : c.args)
      label += "[" + arg + "]";
    EXPECT_EQ(parsed.output, c.output) << label;
    EXPECT_EQ(parsed.triple, c.triple) << label;
    EXPECT_EQ(parsed.llc, c.llc) << label;
    EXPECT_EQ(parsed.clang, c.clang) << label;
  }
}

TEST(NativeTriples, ShortNamesExpandExactlyOthersPassThrough) {
  const std::pair<std::string, std::string> cases[] = {
      {"x64-linux", "x86_64-unknown-linux-gnu"},
      {"x86_64-linux", "x86_64-unknown-linux-gnu"},
      {"x86-linux", "i686-unknown-linux-gnu"},
      {"i686-linux", "i686-unknown-linux-gnu"},
      {"arm-linux", "arm-unknown-linux-gnueabihf"},
      {"arm64-linux", "aarch64-unknown-linux-gnu"},
      {"aarch64-linux", "aarch64-unknown-linux-gnu"},
      {"x64-windows", "x86_64-pc-windows-msvc"},
      {"x86_64-windows", "x86_64-pc-windows-msvc"},
      {"x86-windows", "i686-pc-windows-msvc"},
      {"i686-windows", "i686-pc-windows-msvc"},
      {"arm64-windows", "aarch64-pc-windows-msvc"},
      {"aarch64-windows", "aarch64-pc-windows-msvc"},
      {"x64-macos", "x86_64-apple-darwin"},
      {"x86_64-macos", "x86_64-apple-darwin"},
      {"arm64-macos", "aarch64-apple-darwin"},
      {"aarch64-macos", "aarch64-apple-darwin"},
      {"X64-linux", "X64-linux"},
      {"x64-linux ", "x64-linux "},
      {"riscv64-unknown-linux-gnu", "riscv64-unknown-linux-gnu"},
      {"", ""},
  };
  for (const auto& [name, triple] : cases)
    EXPECT_EQ(expand_triple(name), triple) << "'" << name << "'";
}

TEST(NativeTriples, FlagsComeFromCaseSensitiveSubstrings) {
  struct Case {
    std::optional<std::string> triple;
    bool is_windows;
    bool is_linux;
  };
  const Case cases[] = {
      {std::nullopt, false, false},
      {"x86_64-unknown-linux-gnu", false, true},
      {"x86_64-pc-windows-msvc", true, false},
      {"i686-pc-win32", true, false},
      {"x86_64-pc-windows-gnu", true, false},
      {"thumbv7-msvc", true, false},
      {"x86_64-apple-darwin", false, false},
      {"x86_64-pc-Windows-Linux", false, false},
      {"", false, false},
  };
  for (const Case& c : cases) {
    const TripleInfo info = parse_triple(c.triple);
    EXPECT_EQ(info.is_windows, c.is_windows) << c.triple.value_or("<none>");
    EXPECT_EQ(info.is_linux, c.is_linux) << c.triple.value_or("<none>");
  }
  EXPECT_EQ(runtime_library_name(TripleInfo{true, false}), "ovra_runtime.lib");
  EXPECT_EQ(runtime_library_name(TripleInfo{false, true}), "libovra_runtime.a");
}

TEST(NativeTriples, HostTripleOfThisMachine) {
#if defined(__x86_64__) && defined(__linux__)
  EXPECT_EQ(host_triple(), "x86_64-unknown-linux-gnu");
#else
  GTEST_SKIP() << "the expected host triple is only written down for x86-64 Linux";
#endif
}

TEST(NativePlan, FileNamesAndCommandLines) {
  struct Case {
    std::string input;
    std::vector<std::string> args;
    std::string executable;
    std::string ir;
    std::string object;
    std::string triple;  // empty: the host's
    std::string runtime;
    bool pthread;
  };
  const Case cases[] = {
      {"src/app.ovra", {}, "app", "target/app.ll", "target/app.o", "", "libovra_runtime.a", true},
      {"src/app.ovra",
       {"-t=x64-windows"},
       "app.exe",
       "target/app.ll",
       "target/app.o",
       "x86_64-pc-windows-msvc",
       "ovra_runtime.lib",
       false},
      {"app.ovra",
       {"-t=x64-windows", "-o", "out.exe"},
       "out.exe",
       "target/app.ll",
       "target/app.o",
       "x86_64-pc-windows-msvc",
       "ovra_runtime.lib",
       false},
      {"app.ovra",
       {"-o", "bin/tool", "--triple=i686-pc-win32"},
       "bin/tool.exe",
       "target/app.ll",
       "target/app.o",
       "i686-pc-win32",
       "ovra_runtime.lib",
       false},
      {"app.ovra",
       {"-t=arm64-linux"},
       "app",
       "target/app.ll",
       "target/app.o",
       "aarch64-unknown-linux-gnu",
       "libovra_runtime.a",
       true},
      {"app.ovra",
       {"--triple=riscv64-unknown-linux-gnu"},
       "app",
       "target/app.ll",
       "target/app.o",
       "riscv64-unknown-linux-gnu",
       "libovra_runtime.a",
       true},
      {"app.ovra",
       {"-t=arm64-macos"},
       "app",
       "target/app.ll",
       "target/app.o",
       "aarch64-apple-darwin",
       "libovra_runtime.a",
       false},
      {"a.b.ovra", {}, "a.b", "target/a.b.ll", "target/a.b.o", "", "libovra_runtime.a", true},
      {"noext", {}, "noext", "target/noext.ll", "target/noext.o", "", "libovra_runtime.a", true},
      {".hidden",
       {},
       ".hidden",
       "target/.hidden.ll",
       "target/.hidden.o",
       "",
       "libovra_runtime.a",
       true},
      {"dir/", {}, "a.out", "target/output.ll", "target/output.o", "", "libovra_runtime.a", true},
      {"dir/",
       {"-t=x64-windows"},
       "a.out.exe",
       "target/output.ll",
       "target/output.o",
       "x86_64-pc-windows-msvc",
       "ovra_runtime.lib",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input + " " + (c.args.empty() ? "" : c.args.front()));
    const NativePlan plan = plan_native_build(c.input, parse_native_options(c.args));
    const std::string triple = c.triple.empty() ? host_triple() : c.triple;
    EXPECT_EQ(plan.executable_path, c.executable);
    EXPECT_EQ(plan.ir_path, c.ir);
    EXPECT_EQ(plan.object_path, c.object);
    EXPECT_EQ(plan.triple, triple);
    EXPECT_EQ(plan.runtime_library, c.runtime);

    EXPECT_EQ(llc_arguments(plan),
              (std::vector<std::string>{"-filetype=obj", c.ir, "-o", c.object,
                                        "--mtriple=" + triple, "-relocation-model=pic"}));
    std::vector<std::string> clang{"-target", triple,      c.object, "/x/lib/" + c.runtime,
                                   "-o",      c.executable};
    if (c.pthread)
      clang.push_back("-lpthread");
    EXPECT_EQ(clang_arguments(plan, "/x/lib/" + c.runtime), clang);
  }
}

TEST(NativePlan, DisplayFormQuotesEveryWordAndEscapes) {
  EXPECT_EQ(command_display_form("llc", {"-filetype=obj", "target/app.ll"}),
            R"("llc" "-filetype=obj" "target/app.ll")");
  EXPECT_EQ(command_display_form("my \"llc\"", {"a\\b", "", "two words"}),
            R"("my \"llc\"" "a\\b" "" "two words")");
  EXPECT_EQ(command_display_form("clang", {}), R"("clang")");
}

}  // namespace
}  // namespace ovra
