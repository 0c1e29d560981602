// The golden fixture runner. Every tests/fixtures/<area>/<name>.ovra is one test case:
//
// - An optional first line "// ARGS: <arguments>" gives the arguments after the output path.
// - The fixture is compiled with `ovrac <name>.ovra <name>.<ext> ARGS` in a scratch directory
//   holding a copy of it, so that every path in a message is the same on every machine; <ext>
//   follows the last target flag in ARGS (js, ts, wat, ll). The repository's tsc is first on
//   the search path, for fixtures that pass --tsc.
// - <name>.<ext> beside the fixture is the expected output, compared whole.
// - fail_<name>.ovra must exit with status 1 and print exactly fail_<name>.stderr on standard
//   error; it must write no output unless the failure is the --tsc check, which runs on the
//   written file.
// - A JavaScript or TypeScript output that begins with the runtime prelude is compared with the
//   prelude replaced by the line "// (runtime prelude)", so each expectation holds only what its
//   program adds; fixtures named prelude_<name> keep the prelude and check its text whole.
// - When <name>.node.stdout exists, node runs the JavaScript output and its standard output is
//   compared with that file.
//
// OVRA_UPDATE_GOLDEN=1 rewrites the expectations from the actual results instead of comparing;
// review the diff before committing.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <sstream>

#include "codegen.h"
#include "process_util.h"

namespace ovra::testing {
namespace {

struct Fixture {
  fs::path source;        // tests/fixtures/<area>/<name>.ovra
  std::string test_name;  // <area>_<name>, made of letters, digits and '_'
};

void PrintTo(const Fixture& fixture, std::ostream* out) {
  *out << fs::relative(fixture.source, source_dir()).string();
}

std::vector<Fixture> discover_fixtures() {
  std::vector<Fixture> fixtures;
  const fs::path root = source_dir() / "tests" / "fixtures";
  std::error_code error;
  if (!fs::is_directory(root, error))
    return fixtures;
  for (auto it = fs::recursive_directory_iterator(root, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_regular_file() || it->path().extension() != ".ovra")
      continue;
    std::string name = fs::relative(it->path(), root).replace_extension().string();
    for (char& c : name) {
      if (!std::isalnum(static_cast<unsigned char>(c)))
        c = '_';
    }
    fixtures.push_back({it->path(), name});
  }
  std::sort(fixtures.begin(), fixtures.end(),
            [](const Fixture& a, const Fixture& b) { return a.test_name < b.test_name; });
  return fixtures;
}

bool update_mode() {
  const char* value = std::getenv("OVRA_UPDATE_GOLDEN");
  return value != nullptr && std::string(value) == "1";
}

std::vector<std::string> split_words(const std::string& text) {
  std::istringstream words(text);
  std::vector<std::string> result;
  for (std::string word; words >> word;)
    result.push_back(word);
  return result;
}

// The arguments of a first line "// ARGS: ...", or none.
std::vector<std::string> fixture_arguments(const std::string& source) {
  const std::string marker = "// ARGS:";
  if (!source.starts_with(marker))
    return {};
  const std::size_t line_end = source.find('\n');
  return split_words(source.substr(
      marker.size(), line_end == std::string::npos ? std::string::npos : line_end - marker.size()));
}

std::string extension_for(const std::vector<std::string>& arguments) {
  std::string extension = "js";
  for (const std::string& argument : arguments) {
    if (argument == "--js")
      extension = "js";
    if (argument == "--ts")
      extension = "ts";
    if (argument == "--wasm")
      extension = "wat";
    if (argument == "--llvm")
      extension = "ll";
  }
  return extension;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string visible(const std::string& line) {
  std::string shown;
  for (char c : line) {
    if (c == '\r') {
      shown += "\\r";
    } else if (c == '\t') {
      shown += "\\t";
    } else {
      shown += c;
    }
  }
  return shown;
}

// A line diff of `expected` and `actual`: the longest common subsequence when the texts are
// small enough, otherwise the region around the first differing line.
std::string readable_diff(const std::string& expected, const std::string& actual) {
  const std::vector<std::string> a = lines_of(expected), b = lines_of(actual);
  std::ostringstream diff;
  std::size_t prefix = 0;
  while (prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix])
    ++prefix;
  std::size_t suffix = 0;
  while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
         a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix]) {
    ++suffix;
  }
  const std::size_t n = a.size() - prefix - suffix, m = b.size() - prefix - suffix;
  constexpr std::size_t kContext = 3;
  diff << "--- expected\n+++ actual\n@@ from line " << prefix + 1 << " @@\n";
  for (std::size_t i = prefix > kContext ? prefix - kContext : 0; i < prefix; ++i) {
    diff << "  " << visible(a[i]) << "\n";
  }
  // Quadratic table; large rewrites just list both sides.
  constexpr std::size_t kMaxCells = 4'000'000;
  if (n * m <= kMaxCells) {
    std::vector<std::vector<unsigned>> lcs(n + 1, std::vector<unsigned>(m + 1, 0));
    for (std::size_t i = n; i-- > 0;) {
      for (std::size_t j = m; j-- > 0;) {
        lcs[i][j] = a[prefix + i] == b[prefix + j] ? lcs[i + 1][j + 1] + 1
                                                   : std::max(lcs[i + 1][j], lcs[i][j + 1]);
      }
    }
    std::size_t i = 0, j = 0;
    while (i < n || j < m) {
      if (i < n && j < m && a[prefix + i] == b[prefix + j]) {
        diff << "  " << visible(a[prefix + i]) << "\n";
        ++i, ++j;
      } else if (j < m && (i == n || lcs[i][j + 1] >= lcs[i + 1][j])) {
        diff << "+ " << visible(b[prefix + j++]) << "\n";
      } else {
        diff << "- " << visible(a[prefix + i++]) << "\n";
      }
    }
  } else {
    for (std::size_t i = 0; i < n; ++i)
      diff << "- " << visible(a[prefix + i]) << "\n";
    for (std::size_t j = 0; j < m; ++j)
      diff << "+ " << visible(b[prefix + j]) << "\n";
  }
  for (std::size_t i = a.size() - suffix; i < a.size() && i < a.size() - suffix + kContext; ++i) {
    diff << "  " << visible(a[i]) << "\n";
  }
  if (expected.ends_with('\n') != actual.ends_with('\n')) {
    diff << (actual.ends_with('\n') ? "(actual ends with a line feed, expected does not)\n"
                                    : "(expected ends with a line feed, actual does not)\n");
  }
  return diff.str();
}

// Compares `actual` with the expectation file, or rewrites the file in update mode.
void expect_matches_file(const fs::path& expectation, const std::string& actual,
                         const std::string& what) {
  if (update_mode()) {
    write_text(expectation, actual);
    return;
  }
  if (!fs::exists(expectation)) {
    ADD_FAILURE() << "missing expectation " << expectation << " for " << what
                  << " (run with OVRA_UPDATE_GOLDEN=1 to create it); actual:\n"
                  << actual;
    return;
  }
  const std::string expected = read_text(expectation);
  if (expected != actual) {
    ADD_FAILURE() << what << " differs from " << expectation << ":\n"
                  << readable_diff(expected, actual);
  }
}

// The output as its expectation file holds it: a leading runtime prelude becomes one marker line.
std::string without_prelude(std::string output, const std::string& extension) {
  if (extension != "js" && extension != "ts")
    return output;
  std::string_view prelude = runtime_prelude(extension == "ts" ? CompileTarget::TypeScript
                                                               : CompileTarget::JavaScript);
  if (std::string_view(output).starts_with(prelude))
    output.replace(0, prelude.size(), "// (runtime prelude)\n");
  return output;
}

class GoldenTest : public ::testing::TestWithParam<Fixture> {};

TEST_P(GoldenTest, MatchesExpectation) {
  const Fixture& fixture = GetParam();
  const fs::path directory = fixture.source.parent_path();
  const std::string stem = fixture.source.stem().string();
  const std::string source = read_text(fixture.source);
  const std::vector<std::string> arguments = fixture_arguments(source);
  const std::string extension = extension_for(arguments);
  const bool must_fail = stem.starts_with("fail_");

  TempDir scratch;
  const std::string input_name = stem + ".ovra";
  const std::string output_name = stem + "." + extension;
  fs::copy_file(fixture.source, scratch / input_name);

  std::vector<std::string> command{input_name, output_name};
  command.insert(command.end(), arguments.begin(), arguments.end());
  ProcessOptions options = in_directory(scratch.path());
  const char* path = std::getenv("PATH");
  options.env.push_back({"PATH", (source_dir() / "tests/node/node_modules/.bin").string() + ":" +
                                     (path != nullptr ? path : "/usr/bin:/bin")});
  const ProcessResult result = run_ovrac(command, options);
  ASSERT_FALSE(result.timed_out) << "ovrac did not finish";

  if (must_fail) {
    EXPECT_EQ(result.exit_code, 1) << "stdout:\n" << result.out << "stderr:\n" << result.err;
    const bool type_checked =
        std::find(arguments.begin(), arguments.end(), "--tsc") != arguments.end();
    if (!type_checked) {
      EXPECT_FALSE(fs::exists(scratch / output_name)) << "a failed build wrote " << output_name;
    }
    expect_matches_file(directory / (stem + ".stderr"), result.err, "standard error");
    return;
  }

  ASSERT_EQ(result.exit_code, 0) << "stderr:\n" << result.err;
  std::string output = read_text(scratch / output_name);
  if (!stem.starts_with("prelude_"))
    output = without_prelude(std::move(output), extension);
  expect_matches_file(directory / output_name, output, output_name);

  const fs::path node_expectation = directory / (stem + ".node.stdout");
  if (fs::exists(node_expectation)) {
    ASSERT_EQ(extension, "js") << node_expectation << " needs a JavaScript fixture";
    const ProcessResult node = run_process({"node", output_name}, in_directory(scratch.path()));
    ASSERT_FALSE(node.timed_out) << "node did not finish";
    EXPECT_EQ(node.exit_code, 0) << "node stderr:\n" << node.err;
    expect_matches_file(node_expectation, node.out, "node's standard output");
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, GoldenTest, ::testing::ValuesIn(discover_fixtures()),
                         [](const ::testing::TestParamInfo<Fixture>& info) {
                           return info.param.test_name;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(GoldenTest);

// The runner's own pieces, checked on small texts so that a broken runner cannot pass every
// fixture silently.
TEST(GoldenRunner, ReadsArgumentsAndExtension) {
  struct Case {
    std::string source;
    std::vector<std::string> arguments;
    std::string extension;
  };
  const std::vector<Case> cases = {
      {"let a = 1;\n", {}, "js"},
      {"// ARGS: --ts\nlet a = 1;\n", {"--ts"}, "ts"},
      {"// ARGS:   --ts  --tsc\n", {"--ts", "--tsc"}, "ts"},
      {"// ARGS: --ts --wasm", {"--ts", "--wasm"}, "wat"},
      {"// ARGS: --llvm\n", {"--llvm"}, "ll"},
      {"\n// ARGS: --ts\n", {}, "js"},  // only the first line counts
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fixture_arguments(c.source), c.arguments) << c.source;
    EXPECT_EQ(extension_for(fixture_arguments(c.source)), c.extension) << c.source;
  }
}

TEST(GoldenRunner, DiffShowsChangedLinesWithContext) {
  const std::string diff = readable_diff("a\nb\nc\nd\n", "a\nB\nc\nd\nextra\n");
  EXPECT_NE(diff.find("- b\n"), std::string::npos) << diff;
  EXPECT_NE(diff.find("+ B\n"), std::string::npos) << diff;
  EXPECT_NE(diff.find("+ extra\n"), std::string::npos) << diff;
  EXPECT_NE(diff.find("  a\n"), std::string::npos) << diff;
  EXPECT_NE(readable_diff("x\n", "x").find("expected ends with a line feed"), std::string::npos);
}

}  // namespace
}  // namespace ovra::testing
