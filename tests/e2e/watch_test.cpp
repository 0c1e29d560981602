// Watch mode against a real file: edits are noticed and rebuilt, broken edits leave the old
// output, a deleted file is reported on every poll, and a time moved backwards is no change.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "process_util.h"

namespace ovra::testing {
namespace {

using namespace std::chrono_literals;

// Long enough for the 500 ms poll and a build on a busy machine.
constexpr auto kRebuildWait = 10s;
// Three polls: long enough to be sure that nothing happened.
constexpr auto kQuietWait = 1600ms;

class WatchMode : public ::testing::Test {
 protected:
  // Writes the source and moves its modification time to a value later than any before it, so
  // that every edit is a change however coarse the file system's clock is. The times lie ahead
  // of the real clock: the write itself stamps the current time, which the watcher may see
  // first, and that must not count as later than an edit already seen.
  void edit(std::string_view text) {
    write_text(source(), text);
    set_mtime(++clock_);
  }
  void set_mtime(long long seconds) {
    const timespec times[2] = {{static_cast<time_t>(seconds), 0},
                               {static_cast<time_t>(seconds), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source().c_str(), times, 0), 0);
  }
  fs::path source() const { return dir_ / "app.ovra"; }
  std::unique_ptr<ChildProcess> start_watch(std::vector<std::string> extra = {}) {
    std::vector<std::string> argv{ovrac_path(), "watch", "app.ovra"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    auto child = std::make_unique<ChildProcess>(argv, in_directory(dir_.path()));
    EXPECT_TRUE(child->wait_for("Press Ctrl+C to exit.\n", kRebuildWait)) << child->err();
    return child;
  }

  TempDir dir_;
  long long clock_ = static_cast<long long>(::time(nullptr)) + 100'000;
};

TEST_F(WatchMode, RebuildsAfterEditsAndKeepsOldOutputOnFailure) {
  edit("");
  auto watch = start_watch();
  EXPECT_EQ(watch->out(), "Watching app.ovra -> app.js (target = js) ... Press Ctrl+C to exit.\n");
  // No build at start.
  watch->read_until([](auto&, auto&) { return false; }, kQuietWait);
  EXPECT_FALSE(fs::exists(dir_ / "app.js"));

  edit("// first version\n");
  ASSERT_TRUE(watch->wait_for("Recompilation successful: app.ovra -> app.js\n", kRebuildWait))
      << watch->out() << watch->err();
  EXPECT_NE(watch->out().find("Detected change in app.ovra. Recompiling...\n"), std::string::npos);
  ASSERT_TRUE(fs::exists(dir_ / "app.js"));
  const std::string first_output = read_text(dir_ / "app.js");

  // A broken edit: the diagnostic is reported and the previous output stays as it was.
  write_text(dir_ / "app.js", first_output + "// marker left by the test\n");
  edit("let s = 1\nlet t = 2;\n");
  ASSERT_TRUE(
      watch->wait_for("Recompilation failed: Syntax error at 2:1: Expected Semicolon\n\n"
                      "   1 | let s = 1\n"
                      "   2 | let t = 2;\n"
                      "     | ^^^^^^^^^^\n"
                      "\n",
                      kRebuildWait, /*in_err=*/true))
      << watch->err();
  EXPECT_EQ(read_text(dir_ / "app.js"), first_output + "// marker left by the test\n");

  // The broken file is not rebuilt again until it changes; the fixed one is.
  watch->read_until([](auto&, auto&) { return false; }, kQuietWait);
  EXPECT_EQ(watch->err().find("Recompilation failed"), watch->err().rfind("Recompilation failed"));
  edit("");
  ASSERT_TRUE(
      watch->wait_for("Recompilation successful: app.ovra -> app.js\n", kRebuildWait, false, 2))
      << watch->out() << watch->err();
  EXPECT_EQ(read_text(dir_ / "app.js"), first_output);
}

TEST_F(WatchMode, DeletedFileIsReportedUntilItComesBack) {
  edit("");
  auto watch = start_watch({"--ts"});
  EXPECT_EQ(watch->out(), "Watching app.ovra -> app.ts (target = ts) ... Press Ctrl+C to exit.\n");

  fs::remove(source());
  ASSERT_TRUE(watch->wait_for("Failed to stat input file: No such file or directory\n",
                              kRebuildWait, /*in_err=*/true, 2))
      << watch->err();
  EXPECT_FALSE(fs::exists(dir_ / "app.ts"));

  edit("");
  ASSERT_TRUE(watch->wait_for("Recompilation successful: app.ovra -> app.ts\n", kRebuildWait))
      << watch->out() << watch->err();
  EXPECT_TRUE(fs::exists(dir_ / "app.ts"));
}

TEST_F(WatchMode, TimeMovedBackwardsIsNoChange) {
  edit("");
  auto watch = start_watch();
  set_mtime(clock_ - 100);
  watch->read_until([](auto&, auto&) { return false; }, kQuietWait);
  EXPECT_EQ(watch->out().find("Detected change"), std::string::npos) << watch->out();

  // The backwards time did not become the last seen one: only a time past the original counts.
  set_mtime(clock_ - 50);
  watch->read_until([](auto&, auto&) { return false; }, kQuietWait);
  EXPECT_EQ(watch->out().find("Detected change"), std::string::npos) << watch->out();
  set_mtime(clock_ + 1);
  EXPECT_TRUE(watch->wait_for("Recompilation successful", kRebuildWait)) << watch->err();
}

}  // namespace
}  // namespace ovra::testing
