// ovrac native end to end: the corpus built with the real toolchain and run, and the command
// lines, progress lines and failures checked with stand-in tools.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "process_util.h"

namespace ovra::testing {
namespace {

// The default llc of this machine is too old for opaque pointers.
const std::vector<std::string> kToolchain = {"--llc=llc-16", "--clang=clang-16"};

// Corpus programs that are known not to build or print correctly yet, with the reason; they are
// skipped with that message.
const std::map<std::string, std::string> kKnownFailures = {};

fs::path corpus_dir() {
  return source_dir() / "tests" / "corpus" / "native";
}

std::vector<std::string> corpus_programs() {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(corpus_dir(), error)) {
    if (entry.path().extension() == ".ovra")
      names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  if (names.empty())
    names.push_back("");  // one case that reports the missing corpus
  return names;
}

std::string shell_quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

class NativeCorpus : public ::testing::TestWithParam<std::string> {};

TEST_P(NativeCorpus, BuildsRunsAndPrintsTheExpectedOutput) {
  const std::string name = GetParam();
  if (name.empty())
    GTEST_SKIP() << "no programs in " << corpus_dir();
  if (auto known = kKnownFailures.find(name); known != kKnownFailures.end())
    GTEST_SKIP() << "known failure: " << known->second;

  TempDir work;
  const fs::path source = corpus_dir() / (name + ".ovra");
  std::vector<std::string> args{"native", source.string()};
  args.insert(args.end(), kToolchain.begin(), kToolchain.end());
  const ProcessResult build = run_ovrac(args, in_directory(work.path()));
  ASSERT_EQ(build.exit_code, 0) << build.out << build.err;
  ASSERT_TRUE(fs::exists(work / name)) << build.out;

  const fs::path input = corpus_dir() / (name + ".stdin");
  const std::string redirect = fs::exists(input) ? shell_quote(input.string()) : "/dev/null";
  ProcessOptions options = in_directory(work.path());
  options.timeout = std::chrono::milliseconds(30000);
  const ProcessResult run =
      run_process({"/bin/sh", "-c", "exec ./" + shell_quote(name) + " < " + redirect}, options);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, read_text(corpus_dir() / (name + ".stdout")));
}

INSTANTIATE_TEST_SUITE_P(Corpus, NativeCorpus, ::testing::ValuesIn(corpus_programs()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string label = info.param.empty() ? "none" : info.param;
                           for (char& c : label) {
                             if (!std::isalnum(static_cast<unsigned char>(c)))
                               c = '_';
                           }
                           return label;
                         });

// A scratch tree with a program to build and stand-in tools that log their arguments.
class NativeMode : public ::testing::Test {
 protected:
  void SetUp() override {
    write_text(work_ / "src" / "app.ovra", "ovra.io.print(1);\n");
    // Each stand-in appends one line "[arg][arg]..." to <name>.log in the working directory.
    for (const std::string tool : {"fake-llc", "fake-clang"}) {
      write_text(work_ / "tools" / tool,
                 "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done >> " + tool +
                     ".log\necho >> " + tool + ".log\n");
      fs::permissions(work_ / "tools" / tool, fs::perms::owner_all);
    }
  }

  std::string tool(const std::string& name) const { return (work_ / "tools" / name).string(); }
  std::string log(const std::string& name) const {
    return read_text(work_ / "run" / (name + ".log"));
  }

  // Runs `ovrac native src/app.ovra ARGS` from work/run with the given ovrac program.
  ProcessResult native(const std::vector<std::string>& extra, const std::string& program = "") {
    fs::create_directories(work_ / "run" / "src");
    fs::copy_file(work_ / "src" / "app.ovra", work_ / "run" / "src" / "app.ovra",
                  fs::copy_options::overwrite_existing);
    std::vector<std::string> argv{program.empty() ? ovrac_path() : program, "native",
                                  "src/app.ovra"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return run_process(argv, in_directory(work_ / "run"));
  }

  // A copy of ovrac in work/pkg/bin, optionally with a lib directory holding `library`.
  std::string packaged_ovrac(const std::string& library) {
    const fs::path bin = work_ / "pkg" / "bin";
    fs::create_directories(bin);
    fs::copy_file(ovrac_path(), bin / "ovrac", fs::copy_options::overwrite_existing);
    if (!library.empty())
      write_text(work_ / "pkg" / "lib" / library, "");
    return (bin / "ovrac").string();
  }

  TempDir work_;
};

TEST_F(NativeMode, CrossTriplesShapeBothCommandLines) {
  struct Case {
    std::vector<std::string> args;
    std::string triple;
    std::string executable;
    std::string library;
    bool pthread;
  };
  const Case cases[] = {
      {{"-t=arm64-linux"}, "aarch64-unknown-linux-gnu", "app", "libovra_runtime.a", true},
      {{"-t=x64-windows"}, "x86_64-pc-windows-msvc", "app.exe", "ovra_runtime.lib", false},
      {{"--triple=riscv64-unknown-linux-gnu", "-o", "bin/tool"},
       "riscv64-unknown-linux-gnu",
       "bin/tool",
       "libovra_runtime.a",
       true},
      {{"-o", "app.exe", "--triple=x86_64-windows", "-o"},
       "x86_64-pc-windows-msvc",
       "app.exe",
       "ovra_runtime.lib",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.triple);
    const std::string ovrac = packaged_ovrac(c.library);
    std::vector<std::string> args{"--llc=" + tool("fake-llc"), "--clang=" + tool("fake-clang")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    fs::remove_all(work_ / "run");
    const ProcessResult result = native(args, ovrac);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_EQ(result.err, "");

    const std::string library = fs::canonical(work_ / "pkg" / "lib" / c.library).string();
    const std::string llc = "\"" + tool("fake-llc") +
                            "\" \"-filetype=obj\" \"target/app.ll\" \"-o\" \"target/app.o\" "
                            "\"--mtriple=" +
                            c.triple + "\" \"-relocation-model=pic\"";
    const std::string clang = "\"" + tool("fake-clang") + "\" \"-target\" \"" + c.triple +
                              "\" \"target/app.o\" \"" + library + "\" \"-o\" \"" + c.executable +
                              "\"" + (c.pthread ? " \"-lpthread\"" : "");
    EXPECT_EQ(result.out,
              "Generated LLVM IR: target/app.ll\n"
              "Using target triple: " +
                  c.triple + "\nRunning llc: " + llc +
                  "\nUsing pre-compiled runtime library: " + library + "\nRunning clang: " + clang +
                  "\nNative executable generated: " + c.executable + " (via LLVM IR + runtime)\n");
    // The tools got exactly the arguments the display form shows.
    EXPECT_EQ(log("fake-llc"), "[-filetype=obj][target/app.ll][-o][target/app.o][--mtriple=" +
                                   c.triple + "][-relocation-model=pic]\n");
    EXPECT_EQ(log("fake-clang"), "[-target][" + c.triple + "][target/app.o][" + library + "][-o][" +
                                     c.executable + "]" + (c.pthread ? "[-lpthread]" : "") + "\n");
    EXPECT_TRUE(fs::exists(work_ / "run" / "target" / "app.ll"));
    fs::remove_all(work_ / "pkg" / "lib");
  }
}

TEST_F(NativeMode, BuildsAndRunsWithTheRealToolchain) {
  write_text(work_ / "src" / "app.ovra", "ovra.io.print(\"native hello\");\novra.io.print(7);\n");
  // A trailing -o is ignored: the executable is named after the input.
  std::vector<std::string> args = kToolchain;
  args.push_back("-o");
  const ProcessResult build = native(args);
  ASSERT_EQ(build.exit_code, 0) << build.out << build.err;
  EXPECT_NE(build.out.find("Using target triple: x86_64-unknown-linux-gnu\n"), std::string::npos);
  EXPECT_NE(build.out.find("Native executable generated: app (via LLVM IR + runtime)\n"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(work_ / "run" / "target" / "app.o"));
  const ProcessResult run = run_process({(work_ / "run" / "app").string()});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "native hello\n7\n");
}

TEST_F(NativeMode, FailuresAndTheirMessages) {
  write_text(work_ / "tools" / "killed", "#!/bin/sh\nkill -9 $$\n");
  fs::permissions(work_ / "tools" / "killed", fs::perms::owner_all);
  const std::string prefix = "Native compilation failed: IO error: ";
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"--llc=false"}, prefix + "llc failed for target/app.ll (exit code: Some(1))\n"},
      {{"--llc=" + tool("killed")}, prefix + "llc failed for target/app.ll (exit code: None)\n"},
      {{"--llc=ovra-no-such-llc"}, prefix + "Failed to spawn llc: No such file or directory\n"},
      {{"--llc=true", "--clang=false", "-o", "exe"},
       prefix + "clang failed when linking exe (exit code: Some(1))\n"},
      {{"--llc=true", "--clang=ovra-no-such-clang"},
       prefix + "Failed to spawn clang: No such file or directory\n"},
  };
  for (const Case& c : cases) {
    const ProcessResult result = native(c.args);
    EXPECT_EQ(result.exit_code, 1) << c.args.front();
    EXPECT_EQ(result.err, c.err) << c.args.front();
  }
}

TEST_F(NativeMode, RuntimeLibraryMissingBesideACopyOfOvrac) {
  const std::string ovrac = packaged_ovrac("");
  const ProcessResult result = native({"--llc=" + tool("fake-llc")}, ovrac);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err,
            "Native compilation failed: IO error: Cannot find runtime library. Please ensure the "
            "installation package contains lib/libovra_runtime.a\n");
  // The llc step ran before the library was looked for.
  EXPECT_NE(result.out.find("Running llc: "), std::string::npos);
  EXPECT_NE(log("fake-llc"), "");

  // A symbolic link is resolved first: the library beside the real program is found.
  fs::create_directories(work_ / "linked" / "bin");
  fs::create_symlink(ovrac_path(), work_ / "linked" / "bin" / "ovrac");
  const ProcessResult linked =
      native({"--llc=" + tool("fake-llc"), "--clang=" + tool("fake-clang")},
             (work_ / "linked" / "bin" / "ovrac").string());
  EXPECT_EQ(linked.exit_code, 0) << linked.err;
  const std::string library =
      fs::canonical(fs::path(ovrac_path()).parent_path() / ".." / "lib" / "libovra_runtime.a");
  EXPECT_NE(linked.out.find("Using pre-compiled runtime library: " + library + "\n"),
            std::string::npos)
      << linked.out;
}

TEST_F(NativeMode, InputAndSourceFailures) {
  fs::create_directories(work_ / "run");
  ProcessResult missing =
      run_process({ovrac_path(), "native", "nope.ovra"}, in_directory(work_ / "run"));
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err,
            "Native compilation failed: IO error: Input file does not exist: nope.ovra\n");
  EXPECT_EQ(missing.out, "");
  EXPECT_FALSE(fs::exists(work_ / "run" / "target"));

  write_text(work_ / "src" / "app.ovra", "let x = ;\n");
  ProcessResult syntax = native({"--llc=" + tool("fake-llc")});
  EXPECT_EQ(syntax.exit_code, 1);
  EXPECT_TRUE(syntax.err.starts_with("Native compilation failed: Syntax error at 1:"))
      << syntax.err;
  EXPECT_EQ(syntax.out, "");
  ASSERT_TRUE(fs::is_directory(work_ / "run" / "target"));
  EXPECT_TRUE(fs::is_empty(work_ / "run" / "target"));

  // "target" exists as a file, so the directory cannot be made and the IR cannot be written.
  fs::remove_all(work_ / "run" / "target");
  write_text(work_ / "run" / "target", "");
  write_text(work_ / "src" / "app.ovra", "ovra.io.print(1);\n");
  ProcessResult blocked = native({"--llc=" + tool("fake-llc")});
  EXPECT_EQ(blocked.exit_code, 1);
  EXPECT_EQ(
      blocked.err,
      "Native compilation failed: IO error: Failed to write target/app.ll: Not a directory\n");
}

}  // namespace
}  // namespace ovra::testing
