// The single-file build's file handling: UTF-8 checking, atomic replacement of the output, and
// the modification-time comparison of compile_file_if_needed.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "build.h"

namespace ovra {
namespace {

namespace fs = std::filesystem;

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_text(const fs::path& path, std::string_view text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class ScratchDir : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "ovrac-build-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  static void set_mtime(const std::string& file, long long seconds, long nanoseconds) {
    const timespec times[2] = {{static_cast<time_t>(seconds), nanoseconds},
                               {static_cast<time_t>(seconds), nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  }

  fs::path dir_;
};

TEST(FirstInvalidUtf8Offset, Table) {
  struct Case {
    const char* label;
    std::string text;
    std::optional<std::size_t> offset;
  };
  const std::vector<Case> cases = {
      {"empty", "", std::nullopt},
      {"ASCII", "let a = 1;\n", std::nullopt},
      {"two, three and four bytes", "\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", std::nullopt},
      {"highest scalar value", "\xf4\x8f\xbf\xbf", std::nullopt},
      {"lone continuation byte", "ab\x80", 2},
      {"invalid lead byte", "\xff", 0},
      {"overlong two-byte form", "a\xc0\xaf", 1},
      {"overlong three-byte form", "\xe0\x80\xaf", 0},
      {"overlong four-byte form", "\xf0\x80\x80\xaf", 0},
      {"surrogate", "x\xed\xa0\x80", 1},
      {"past U+10FFFF", "\xf4\x90\x80\x80", 0},
      {"lead byte past F4", "\xf5\x80\x80\x80", 0},
      {"sequence cut by the end", "ok\xe2\x82", 2},
      {"sequence cut by ASCII", "\xe2\x82z", 0},
      {"valid text before the fault", "\xc3\xa9\xc3\xa9\xc3", 4},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(first_invalid_utf8_offset(c.text), c.offset) << c.label;
  }
}

TEST(ExitCodeText, ExitCodesAndSignals) {
  EXPECT_EQ(exit_code_text(2 << 8), "Some(2)");
  EXPECT_EQ(exit_code_text(0), "Some(0)");
  EXPECT_EQ(exit_code_text(SIGKILL), "None");
}

using ReadSourceFile = ScratchDir;

TEST_F(ReadSourceFile, ReportsTheOperatingSystemsDescription) {
  write_text(path("bad.ovra"), "let s = 1;\n\xfe");
  EXPECT_EQ(read_source_file(path("bad.ovra")).error().message(),
            "invalid UTF-8 at byte offset 11");
  EXPECT_EQ(read_source_file(path("missing.ovra")).error().message(), "No such file or directory");
  EXPECT_EQ(read_source_file(dir_.string()).error().message(), "Is a directory");
  write_text(path("good.ovra"), "let s = \"\xc3\xa9\";\n");
  EXPECT_EQ(read_source_file(path("good.ovra")).value(), "let s = \"\xc3\xa9\";\n");
}

using WriteFileAtomically = ScratchDir;

TEST_F(WriteFileAtomically, ReplacesTheFileAndLeavesNoTemporary) {
  write_text(path("out.js"), "old contents, longer than the new ones\n");
  ASSERT_TRUE(write_file_atomically(path("out.js"), "new\n"));
  EXPECT_EQ(read_text(path("out.js")), "new\n");
  ASSERT_TRUE(write_file_atomically(path("fresh.js"), ""));
  EXPECT_EQ(read_text(path("fresh.js")), "");
  EXPECT_EQ(entries(), (std::vector<std::string>{"fresh.js", "out.js"}));
}

TEST_F(WriteFileAtomically, ReadersNeverSeeAPartialFile) {
  // Two large versions written in turn while another thread keeps reading: every read must be
  // one version whole, as it would not be with an in-place truncate and write.
  const std::string first(1 << 20, 'a'), second(1 << 19, 'b');
  ASSERT_TRUE(write_file_atomically(path("out.js"), first));
  std::atomic<bool> done{false};
  std::atomic<int> torn{0}, reads{0};
  std::thread reader([&] {
    while (!done) {
      const std::string seen = read_text(path("out.js"));
      if (seen != first && seen != second)
        ++torn;
      ++reads;
    }
  });
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(write_file_atomically(path("out.js"), i % 2 == 0 ? second : first));
  }
  done = true;
  reader.join();
  EXPECT_EQ(torn, 0) << "of " << reads << " reads";
  EXPECT_EQ(entries(), (std::vector<std::string>{"out.js"}));
}

TEST_F(WriteFileAtomically, KeepsPermissionBitsAndSymbolicLinks) {
  write_text(path("real.js"), "old\n");
  fs::permissions(path("real.js"), fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink("real.js", path("link.js"));

  ASSERT_TRUE(write_file_atomically(path("link.js"), "new\n"));
  EXPECT_TRUE(fs::is_symlink(path("link.js")));
  EXPECT_EQ(read_text(path("real.js")), "new\n");
  EXPECT_EQ(fs::status(path("real.js")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(WriteFileAtomically, WritesIntoDevicesInsteadOfReplacingThem) {
  ASSERT_TRUE(write_file_atomically("/dev/null", "discarded\n"));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST_F(WriteFileAtomically, FailuresLeaveThePreviousFile) {
  EXPECT_EQ(write_file_atomically(path("no/such/dir/out.js"), "x").error().message(),
            "No such file or directory");

  fs::create_directory(path("taken.js"));
  EXPECT_EQ(write_file_atomically(path("taken.js"), "x").error().message(), "Is a directory");
  EXPECT_TRUE(fs::is_directory(path("taken.js")));

  // A write that fails halfway (here: the file-size limit) must not touch the old output.
  write_text(path("out.js"), "previous\n");
  rlimit old_limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old_limit;
  small.rlim_cur = 16;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  Status written = write_file_atomically(path("out.js"), std::string(4096, 'x'));
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  ::signal(SIGXFSZ, old_handler);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message(), "File too large");
  EXPECT_EQ(read_text(path("out.js")), "previous\n");
  EXPECT_EQ(entries(), (std::vector<std::string>{"out.js", "taken.js"}));
}

using CompileFileIfNeeded = ScratchDir;

TEST_F(CompileFileIfNeeded, ComparesModificationTimes) {
  struct Case {
    const char* label;
    bool output_exists;
    long long output_seconds;
    long output_nanoseconds;
    BuildOutcome expected;
  };
  // The input's time is 1000 s + 500 ns; the sub-second part decides the close cases.
  const std::vector<Case> cases = {
      {"missing output", false, 0, 0, BuildOutcome::Built},
      {"older output", true, 999, 0, BuildOutcome::Built},
      {"older by one nanosecond", true, 1000, 499, BuildOutcome::Built},
      {"equal times", true, 1000, 500, BuildOutcome::Skipped},
      {"newer output", true, 2000, 0, BuildOutcome::Skipped},
  };
  write_text(path("app.ovra"), "");
  for (const Case& c : cases) {
    fs::remove(path("app.js"));
    set_mtime(path("app.ovra"), 1000, 500);
    if (c.output_exists) {
      write_text(path("app.js"), "stale marker\n");
      set_mtime(path("app.js"), c.output_seconds, c.output_nanoseconds);
    }
    ::testing::internal::CaptureStdout();
    Result<BuildOutcome> outcome =
        compile_file_if_needed(path("app.ovra"), path("app.js"), "js", false);
    const std::string printed = ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(outcome) << c.label << ": " << outcome.error().to_string();
    EXPECT_EQ(outcome.value(), c.expected) << c.label;
    if (c.expected == BuildOutcome::Skipped) {
      EXPECT_EQ(printed, "Up to date, skip compilation: " + path("app.ovra") + " (-> " +
                             path("app.js") + ")\n")
          << c.label;
      EXPECT_EQ(read_text(path("app.js")), "stale marker\n") << c.label;
    } else {
      EXPECT_EQ(printed, "") << c.label;
      EXPECT_NE(read_text(path("app.js")), "stale marker\n") << c.label;
    }
  }
}

TEST_F(CompileFileIfNeeded, PassesBuildErrorsOn) {
  Result<BuildOutcome> outcome =
      compile_file_if_needed(path("missing.ovra"), path("app.js"), "js", false);
  ASSERT_FALSE(outcome);
  EXPECT_EQ(outcome.error().to_string(),
            "IO error: Failed to read file: No such file or directory");
}

}  // namespace
}  // namespace ovra
