// Every program in examples/ compiles and its JavaScript runs under node with the output a reader
// of the example expects.

#include <gtest/gtest.h>

#include <map>

#include "process_util.h"

namespace ovra::testing {
namespace {

const std::map<std::string, std::string> kExpectedOutput = {
    {"hello", "Hello, Ovra!\n"},
    {"fizzbuzz", "1\n2\nFizz\n4\nBuzz\nFizz\n7\n8\nFizz\nBuzz\n11\nFizz\n13\n14\nFizzBuzz\n"},
    {"arrays",
     "scores: 4 total: 30 average: 7.5\n"
     "after removing the first: [ 9, 4, 10 ]\n"},
    {"shapes",
     "box 3 x 4 has area 12\n"
     "after remake: 5 x 4 has area 20\n"},
};

TEST(Examples, CompileAndRunUnderNode) {
  std::vector<std::string> seen;
  for (const auto& entry : fs::directory_iterator(source_dir() / "examples")) {
    if (entry.path().extension() != ".ovra")
      continue;
    const std::string name = entry.path().stem().string();
    seen.push_back(name);
    SCOPED_TRACE(name);
    const auto expected = kExpectedOutput.find(name);
    ASSERT_NE(expected, kExpectedOutput.end())
        << "add the expected output of examples/" << name << ".ovra to this test";

    TempDir dir;
    const std::string output = (dir / (name + ".js")).string();
    const ProcessResult build = run_ovrac({entry.path().string(), output});
    ASSERT_EQ(build.exit_code, 0) << build.err;
    const ProcessResult run = run_process({"node", output});
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, expected->second);
  }
  EXPECT_EQ(seen.size(), kExpectedOutput.size()) << "an example listed here is missing";
}

}  // namespace
}  // namespace ovra::testing
