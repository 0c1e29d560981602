// Every program of tests/corpus/native compiles with --llvm to IR that llc-16 accepts.
//
// The corpus covers the subset the native target must compute correctly (ints, floats, bools,
// strings, arithmetic and comparison, branches, loops with break and continue, functions,
// recursion, globals, printing and the ovra.io reads); each program's .stdout is what running
// it natively must print, which the native-executable tests check.

#include <gtest/gtest.h>

#include <algorithm>

#include "process_util.h"

namespace ovra::testing {
namespace {

std::vector<fs::path> corpus_programs() {
  std::vector<fs::path> programs;
  for (const auto& entry : fs::directory_iterator(source_dir() / "tests" / "corpus" / "native")) {
    if (entry.path().extension() == ".ovra")
      programs.push_back(entry.path());
  }
  std::sort(programs.begin(), programs.end());
  return programs;
}

TEST(LlvmCorpus, EveryProgramCompilesToIrThatLlcAccepts) {
  std::vector<fs::path> programs = corpus_programs();
  ASSERT_FALSE(programs.empty());
  TempDir scratch;
  for (const fs::path& program : programs) {
    SCOPED_TRACE(program.filename().string());
    EXPECT_TRUE(fs::exists(fs::path(program).replace_extension(".stdout")))
        << "every corpus program states its expected output";
    fs::path ll = scratch / (program.stem().string() + ".ll");
    ProcessResult compiled = run_ovrac({program.string(), ll.string(), "--llvm"});
    ASSERT_EQ(compiled.exit_code, 0) << compiled.err;
    fs::path object = scratch / (program.stem().string() + ".o");
    ProcessResult llc =
        run_process({"llc-16", "-filetype=obj", ll.string(), "-o", object.string()});
    EXPECT_EQ(llc.exit_code, 0) << llc.err << "\n" << read_text(ll);
    EXPECT_EQ(llc.err, "") << "llc-16 warned about " << program.filename();
  }
}

}  // namespace
}  // namespace ovra::testing
