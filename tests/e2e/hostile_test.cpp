// Hostile inputs for the single build and watch mode: paths that are not what they claim to be,
// outputs that cannot be written, huge sources, NUL bytes, malformed UTF-8 and giant tokens. Each
// case ends with one clear message and status 1, or with a correct build, and never destroys
// anything that was on disk before.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "process_util.h"

namespace ovra::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kProgram = "let x: int = 1 + 2;\novra.log(x);\n";

std::size_t line_count(const std::string& text) {
  std::size_t lines = 0;
  for (char c : text)
    lines += c == '\n';
  return lines;
}

// A failed build: status 1 and exactly one line on standard error, starting with `prefix`.
void expect_one_failure_line(const ProcessResult& result, const std::string& prefix) {
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_code, 1) << result.out << result.err;
  EXPECT_EQ(result.err.rfind(prefix, 0), 0u) << result.err;
  EXPECT_EQ(line_count(result.err), 1u) << result.err;
  EXPECT_EQ(result.err.back(), '\n');
  EXPECT_EQ(result.out, "");
}

TEST(HostilePaths, InputThatIsADirectory) {
  TempDir dir;
  fs::create_directory(dir / "app.ovra");
  write_text(dir / "app.ovra" / "keep.txt", "keep");
  const auto result = run_ovrac({"app.ovra"}, in_directory(dir.path()));
  expect_one_failure_line(result, "Compilation failed: IO error: Failed to read file: ");
  EXPECT_FALSE(fs::exists(dir / "app.js"));
  EXPECT_EQ(read_text(dir / "app.ovra" / "keep.txt"), "keep");
}

TEST(HostilePaths, MissingInputAndMissingOutputDirectory) {
  TempDir dir;
  expect_one_failure_line(run_ovrac({"absent.ovra"}, in_directory(dir.path())),
                          "Compilation failed: IO error: Failed to read file: ");
  write_text(dir / "app.ovra", kProgram);
  const auto result = run_ovrac({"app.ovra", "no/such/dir/app.js"}, in_directory(dir.path()));
  expect_one_failure_line(result, "Compilation failed: IO error: Failed to write file: ");
  EXPECT_FALSE(fs::exists(dir / "no"));
  EXPECT_EQ(read_text(dir / "app.ovra"), kProgram);
}

TEST(HostilePaths, OutputThatIsADirectoryIsLeftAlone) {
  TempDir dir;
  write_text(dir / "app.ovra", kProgram);
  fs::create_directory(dir / "out.js");
  write_text(dir / "out.js" / "inside.txt", "inside");
  const auto result = run_ovrac({"app.ovra", "out.js"}, in_directory(dir.path()));
  expect_one_failure_line(result, "Compilation failed: IO error: Failed to write file: ");
  ASSERT_TRUE(fs::is_directory(dir / "out.js"));
  EXPECT_EQ(read_text(dir / "out.js" / "inside.txt"), "inside");
}

TEST(HostilePaths, OutputTheSameAsTheInputIsNotLostWhenTheBuildFails) {
  TempDir dir;
  const std::string broken = "let = ;\n";
  write_text(dir / "app.ovra", broken);
  const auto result = run_ovrac({"app.ovra", "app.ovra"}, in_directory(dir.path()));
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(read_text(dir / "app.ovra"), broken);
}

TEST(HostilePaths, OutputThatIsTheSourceItselfIsRefused) {
  TempDir dir;
  write_text(dir / "app.ovra", kProgram);
  fs::create_symlink("app.ovra", dir / "link.js");
  for (const char* output : {"app.ovra", "./app.ovra", "link.js"}) {
    const auto result = run_ovrac({"app.ovra", output}, in_directory(dir.path()));
    expect_one_failure_line(result, "Compilation failed: IO error: Failed to write file: the "
                                    "output is the source file itself");
    EXPECT_EQ(read_text(dir / "app.ovra"), kProgram) << output;
  }
}

// Root may write anywhere, so a read-only output or folder either fails cleanly, leaving the old
// file as it was, or is a correct build; nothing else is acceptable.
TEST(HostilePaths, ReadOnlyOutputAndReadOnlyFolder) {
  TempDir dir;
  write_text(dir / "app.ovra", kProgram);
  ASSERT_EQ(run_ovrac({"app.ovra", "reference.js"}, in_directory(dir.path())).exit_code, 0);
  const std::string expected = read_text(dir / "reference.js");

  write_text(dir / "locked.js", "old contents");
  fs::permissions(dir / "locked.js", fs::perms::owner_read | fs::perms::group_read);
  fs::create_directory(dir / "sealed");
  write_text(dir / "sealed" / "app.js", "old contents");
  fs::permissions(dir / "sealed", fs::perms::owner_read | fs::perms::owner_exec);

  for (const std::string output : {"locked.js", "sealed/app.js"}) {
    SCOPED_TRACE(output);
    const auto result = run_ovrac({"app.ovra", output}, in_directory(dir.path()));
    if (result.exit_code == 0) {
      EXPECT_EQ(read_text(dir / output), expected);
    } else {
      expect_one_failure_line(result, "Compilation failed: IO error: Failed to write file: ");
      EXPECT_EQ(read_text(dir / output), "old contents");
    }
    EXPECT_TRUE(::geteuid() != 0 || result.exit_code == 0) << "root can write here: " << result.err;
  }
  fs::permissions(dir / "sealed", fs::perms::owner_all);
}

// Every kind of malformed UTF-8 is refused before compiling, with the offset of its first byte.
TEST(HostileText, InvalidUtf8IsRefusedWithItsOffset) {
  struct Case {
    const char* label;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"lone continuation byte", "\x80"},
      {"overlong two-byte form", "\xC0\xAF"},
      {"overlong three-byte form", "\xE0\x80\xAF"},
      {"overlong four-byte form", "\xF0\x80\x80\xAF"},
      {"UTF-16 surrogate", "\xED\xA0\x80"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80"},
      {"lead byte F5", "\xF5\x80\x80\x80"},
      {"byte FE", "\xFE"},
      {"byte FF", "\xFF"},
      {"truncated at the end", "\xE2\x82"},
      {"missing continuation", "\xE2\x28\xA1"},
      {"inside a string literal", "\"\xC3\x28\""},
  };
  TempDir dir;
  const std::string prefix = "let s = 1;\n// ";
  for (const auto& test_case : cases) {
    SCOPED_TRACE(test_case.label);
    write_text(dir / "bad.ovra", prefix + test_case.bytes + "\n");
    const auto result = run_ovrac({"bad.ovra"}, in_directory(dir.path()));
    std::size_t offset = prefix.size();
    if (test_case.bytes[0] == '"')
      ++offset;
    EXPECT_EQ(result.err,
              "Compilation failed: IO error: Failed to read file: invalid UTF-8 at byte "
              "offset " +
                  std::to_string(offset) + "\n");
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_FALSE(fs::exists(dir / "bad.js"));
  }
}

// NUL bytes are characters like any other: skipped between tokens, kept inside strings, and the
// JavaScript written for them is still valid.
TEST(HostileText, NulBytesBetweenTokensAndInsideStrings) {
  TempDir dir;
  const std::string source = std::string("let a") + '\0' + ": int = 1;\nconst s: string = \"x" +
                             '\0' + "y\";\novra.log(a, s.length());\n";
  write_text(dir / "nul.ovra", source);
  const auto result = run_ovrac({"nul.ovra", "nul.mjs"}, in_directory(dir.path()));
  ASSERT_EQ(result.exit_code, 0) << result.err;
  const auto run = run_process({"node", (dir / "nul.mjs").string()});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "1 3\n");
}

// A source of 100 MB (comments around a small program) builds in a few seconds, and an error at
// its very end is reported with the right line.
TEST(HostileSize, HundredMegabyteSource) {
  TempDir dir;
  const std::string comment_line = "// " + std::string(96, 'c') + "\n";  // 100 bytes
  constexpr std::size_t kLines = 1'000'000;
  std::string source;
  source.reserve(comment_line.size() * kLines + 64);
  for (std::size_t i = 0; i < kLines; ++i)
    source += comment_line;
  source += kProgram;
  write_text(dir / "big.ovra", source);
  const auto started = std::chrono::steady_clock::now();
  auto result = run_ovrac({"big.ovra"}, in_directory(dir.path()));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_NE(read_text(dir / "big.js").find("let x"), std::string::npos);

  source += "let = 1;\n";
  write_text(dir / "big.ovra", source);
  result = run_ovrac({"big.ovra"}, in_directory(dir.path()));
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(
      result.err.rfind("Compilation failed: Syntax error at 1000003:5: Expected identifier\n\n", 0),
      0u)
      << result.err.substr(0, 200);
  EXPECT_NE(result.err.find("1000003 | let = 1;\n"), std::string::npos);
}

// One line of 10 MB: many statements on it, then an error at its end, whose excerpt holds the
// whole line and a marker as long as it.
TEST(HostileSize, TenMegabyteLine) {
  TempDir dir;
  std::string line;
  for (std::size_t i = 0; line.size() < (1u << 20); ++i)
    line += "x = " + std::to_string(i) + "; ";
  line += "let s: string = \"" + std::string(9u << 20, 's') + "\"; ";
  const std::string good = "let x: int = 0; " + line + "ovra.log(x, s.length());";
  write_text(dir / "line.ovra", good);
  auto result = run_ovrac({"line.ovra", "line.js"}, in_directory(dir.path()));
  ASSERT_EQ(result.exit_code, 0) << result.err.substr(0, 200);
  EXPECT_GT(fs::file_size(dir / "line.js"), line.size());

  write_text(dir / "line.ovra", good + " let = 1;");
  result = run_ovrac({"line.ovra", "line.js"}, in_directory(dir.path()));
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err.rfind("Compilation failed: Syntax error at 1:", 0), 0u)
      << result.err.substr(0, 200);
  // The failed build left the previous output in place.
  EXPECT_GT(fs::file_size(dir / "line.js"), line.size());
}

// Identifiers and string literals of a megabyte and more, through every target.
TEST(HostileSize, GiantIdentifierAndStringLiteral) {
  TempDir dir;
  const std::string name(1u << 20, 'n');
  const std::string text(8u << 20, 's');
  write_text(dir / "giant.ovra", "func " + name + "(a: int): int { back a + 1; }\nlet " + name +
                                     "_v: int = " + name + "(1);\nlet big: string = \"" + text +
                                     "\";\novra.log(big.length());\n");
  for (const std::string flag : {"--js", "--ts", "--llvm"}) {
    SCOPED_TRACE(flag);
    const auto result = run_ovrac({"giant.ovra", "giant.out", flag}, in_directory(dir.path()));
    ASSERT_EQ(result.exit_code, 0) << result.err.substr(0, 200);
    const std::string output = read_text(dir / "giant.out");
    EXPECT_NE(output.find(name), std::string::npos);
  }
  const auto run_js = run_ovrac({"giant.ovra", "giant.mjs"}, in_directory(dir.path()));
  ASSERT_EQ(run_js.exit_code, 0);
  const auto run = run_process({"node", (dir / "giant.mjs").string()});
  EXPECT_EQ(run.out, std::to_string(text.size()) + "\n") << run.err.substr(0, 200);
}

// Nesting far beyond any real program ends in one syntax error, never in a stack overflow.
TEST(HostileSize, DeepNestingIsRefusedWithOneMessage) {
  constexpr std::size_t kDepth = 200'000;
  auto repeat = [](std::string_view piece, std::size_t times) {
    std::string text;
    text.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i)
      text += piece;
    return text;
  };
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"parentheses", "let x = " + repeat("(", kDepth) + "1" + repeat(")", kDepth) + ";\n"},
      {"unary minus", "let x = " + repeat("-", kDepth) + "1;\n"},
      {"array literals", "let x = " + repeat("[", kDepth) + repeat("]", kDepth) + ";\n"},
      {"array types", "let x: " + repeat("arr<", kDepth) + "int" + repeat(">", kDepth) + ";\n"},
      {"blocks", repeat("if (true) {", kDepth) + repeat("}", kDepth) + "\n"},
      {"unclosed blocks", repeat("while (true) {", kDepth)},
  };
  TempDir dir;
  for (const auto& [label, source] : cases) {
    SCOPED_TRACE(label);
    write_text(dir / "deep.ovra", source);
    for (const std::string flag : {"--js", "--llvm"}) {
      const auto result = run_ovrac({"deep.ovra", "deep.out", flag}, in_directory(dir.path()));
      EXPECT_EQ(result.exit_code, 1);
      EXPECT_EQ(result.err.rfind("Compilation failed: Syntax error at 1:", 0), 0u)
          << result.err.substr(0, 200);
      EXPECT_NE(result.err.find("Nesting too deep"), std::string::npos)
          << result.err.substr(0, 200);
      EXPECT_FALSE(fs::exists(dir / "deep.out"));
    }
  }
}

// The source is replaced by renaming another file over it while watched: the new file is
// noticed, built, and a broken replacement leaves the last good output in place.
TEST(HostileWatch, SourceReplacedByRenameWhileWatching) {
  TempDir dir;
  write_text(dir / "app.ovra", "ovra.log(1);\n");
  ChildProcess watch({ovrac_path(), "watch", "app.ovra"}, in_directory(dir.path()));
  ASSERT_TRUE(watch.wait_for("Press Ctrl+C to exit.\n", 10s)) << watch.err();

  auto replace = [&](std::string_view text, int step) {
    write_text(dir / "next.ovra", text);
    const auto later = fs::last_write_time(dir / "app.ovra") + std::chrono::seconds(step * 10);
    fs::last_write_time(dir / "next.ovra", later);
    fs::rename(dir / "next.ovra", dir / "app.ovra");
  };
  replace("ovra.log(\"second\");\n", 1);
  ASSERT_TRUE(watch.wait_for("Recompilation successful: app.ovra -> app.js\n", 10s))
      << watch.out() << watch.err();
  const std::string good = read_text(dir / "app.js");
  EXPECT_NE(good.find("second"), std::string::npos);

  replace("let = ;\n", 2);
  ASSERT_TRUE(watch.wait_for("Recompilation failed: Syntax error", 10s, true)) << watch.err();
  EXPECT_EQ(read_text(dir / "app.js"), good);
}

}  // namespace
}  // namespace ovra::testing
