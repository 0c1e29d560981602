// `ovrac serve` as a process: the rebuild cycle through real edits of the source, and the
// start-up failures with their one line on standard error and status 1.

#include <gtest/gtest.h>
#include <httplib.h>

#include <regex>

#include "process_util.h"

namespace ovra::testing {
namespace {

using namespace std::chrono_literals;

const std::pair<std::string, std::string> kLoopback{"OVRA_DEV_SERVER_HOST", "127.0.0.1"};

// The port from the "Dev server running at http://127.0.0.1:N/ (serving ...)" line.
int announced_port(const std::string& out) {
  static const std::regex line(R"(Dev server running at http://127\.0\.0\.1:(\d+)/ \(serving )");
  std::smatch match;
  return std::regex_search(out, match, line) ? std::stoi(match[1]) : -1;
}

std::string get(int port, const std::string& target) {
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(5, 0);
  auto response = client.Get(target);
  if (!response)
    return "<no answer: " + httplib::to_string(response.error()) + ">";
  return response->body;
}

// Waits until `probe` returns `expected` (the server answers from another thread of events).
bool eventually(const std::function<std::string()>& probe, const std::string& expected,
                std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (probe() == expected)
      return true;
    std::this_thread::sleep_for(50ms);
  }
  return probe() == expected;
}

std::size_t occurrences(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

// Writes the source so that its modification time is strictly later than before and than the
// output's. File times come from a coarse clock, so an edit a few milliseconds after a build could
// otherwise carry the output's own time and count as up to date.
void edit(const fs::path& path, const fs::path& output, std::string_view text) {
  auto floor = fs::exists(path) ? fs::last_write_time(path) : fs::file_time_type::min();
  if (fs::exists(output))
    floor = std::max(floor, fs::last_write_time(output));
  write_text(path, text);
  if (fs::last_write_time(path) <= floor)
    fs::last_write_time(path, floor + 1ms);
}

TEST(ServeCycle, RebuildsShowDurationsAndErrors) {
  TempDir dir;
  const fs::path source = dir / "app.ovra";
  const fs::path output = dir / "app.js";
  write_text(source, "document.body.setAttribute(\"data-ovra\", \"ran-1\");\n");
  ChildProcess serve({ovrac_path(), "serve", "app.ovra", "--port=0"},
                     {.cwd = dir.path(), .env = {kLoopback}});
  ASSERT_TRUE(serve.wait_for("Dev server running at", 10s)) << serve.out() << serve.err();
  EXPECT_EQ(serve.out().find("Up to date"), std::string::npos);
  const int port = announced_port(serve.out());
  ASSERT_GT(port, 0) << serve.out();
  EXPECT_NE(serve.out().find("(serving app.js)"), std::string::npos) << serve.out();

  EXPECT_EQ(get(port, "/__stats"), "No recompilation yet");
  EXPECT_EQ(get(port, "/__errors"), "");
  EXPECT_NE(get(port, "/main.js").find("ran-1"), std::string::npos);

  // A good edit: rebuilt, timed, served.
  edit(source, output, "document.body.setAttribute(\"data-ovra\", \"ran-2\");\n");
  ASSERT_TRUE(serve.wait_for(" ms (serve watcher)\n", 10s)) << serve.out() << serve.err();
  EXPECT_NE(serve.out().find("Detected change in app.ovra. Recompiling...\n"), std::string::npos);
  std::smatch match;
  const std::string out_so_far = serve.out();
  ASSERT_TRUE(std::regex_search(
      out_so_far, match, std::regex(R"(Recompilation finished in (\d+) ms \(serve watcher\))")));
  const std::string stats = "Last recompilation took " + match[1].str() + " ms";
  EXPECT_EQ(get(port, "/__stats"), stats);
  EXPECT_NE(get(port, "/main.js").find("ran-2"), std::string::npos);

  // A broken edit: the diagnostic on standard error and under /__errors; the old script stays.
  edit(source, output, "let x = ;\n");
  ASSERT_TRUE(serve.wait_for("Recompilation failed (serve): ", 10s, true))
      << serve.out() << serve.err();
  std::string errors;
  ASSERT_TRUE(serve.read_until(
      [&](const std::string&, const std::string& err) {
        errors = get(port, "/__errors");
        return !errors.empty() && err.ends_with("Recompilation failed (serve): " + errors + "\n");
      },
      10s))
      << serve.err() << "\n/__errors: " << errors;
  EXPECT_TRUE(errors.starts_with("Syntax error at 1:")) << errors;
  EXPECT_NE(errors.find("let x = ;"), std::string::npos) << "excerpt missing: " << errors;
  EXPECT_NE(get(port, "/main.js").find("ran-2"), std::string::npos);
  EXPECT_EQ(get(port, "/__stats"), stats);

  // The fix empties the error cell again.
  edit(source, output, "document.body.setAttribute(\"data-ovra\", \"ran-3\");\n");
  ASSERT_TRUE(serve.wait_for(" ms (serve watcher)\n", 10s, false, 2)) << serve.out();
  EXPECT_TRUE(eventually([&] { return get(port, "/__errors"); }, ""));
  EXPECT_NE(get(port, "/main.js").find("ran-3"), std::string::npos);
  EXPECT_TRUE(get(port, "/__stats").starts_with("Last recompilation took "));

  // A change that leaves the output newer than the source is skipped, but still timed.
  const auto now = fs::file_time_type::clock::now();
  fs::last_write_time(output, now + 20s);
  fs::last_write_time(source, now + 10s);
  ASSERT_TRUE(serve.wait_for("Up to date, skip compilation: app.ovra (-> app.js)\n", 10s))
      << serve.out();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(occurrences(serve.out(), "Detected change in app.ovra"), 4u);
  EXPECT_EQ(occurrences(serve.out(), "(serve watcher)"), 2u);
  EXPECT_EQ(get(port, "/__errors"), "");
  EXPECT_TRUE(get(port, "/__stats").starts_with("Last recompilation took "));
  EXPECT_EQ(serve.err().find("ran-"), std::string::npos);
}

// A source that disappears is reported at every poll and rebuilt once it is back and newer.
TEST(ServeCycle, VanishedSourceIsReportedUntilItReturns) {
  TempDir dir;
  const fs::path source = dir / "app.ovra";
  const fs::path output = dir / "app.js";
  write_text(source, "document.body.setAttribute(\"data-ovra\", \"ran-1\");\n");
  ChildProcess serve({ovrac_path(), "serve", "app.ovra", "--port=0"},
                     {.cwd = dir.path(), .env = {kLoopback}});
  ASSERT_TRUE(serve.wait_for("Dev server running at", 10s)) << serve.out() << serve.err();
  const int port = announced_port(serve.out());

  fs::rename(source, dir / "away.ovra");
  const std::string line =
      "Failed to stat input file in serve watcher: No such file or directory\n";
  ASSERT_TRUE(serve.wait_for(line, 5s, true, 2)) << serve.err();
  EXPECT_EQ(get(port, "/__errors"), "");
  EXPECT_NE(get(port, "/main.js").find("ran-1"), std::string::npos);

  fs::rename(dir / "away.ovra", source);
  edit(source, output, "document.body.setAttribute(\"data-ovra\", \"ran-2\");\n");
  ASSERT_TRUE(serve.wait_for(" ms (serve watcher)\n", 10s)) << serve.out() << serve.err();
  EXPECT_NE(get(port, "/main.js").find("ran-2"), std::string::npos);
}

TEST(ServeStartUp, FailuresPrintOneLineAndExit1) {
  TempDir dir;
  write_text(dir / "broken.ovra", "let x = ;\n");
  write_text(dir / "good.ovra", "");
  httplib::Server occupant;
  const int taken = occupant.bind_to_any_port("127.0.0.1");
  ASSERT_GT(taken, 0);

  struct Case {
    std::vector<std::string> args;
    std::string err_prefix;
    bool whole_line;  // the prefix is the entire standard error
  };
  const std::vector<Case> cases = {
      {{"serve", "missing.ovra", "--port=0"},
       "Serve failed: IO error: Failed to read file: No such file or directory\n",
       true},
      {{"serve", "broken.ovra", "--port=0"}, "Serve failed: Syntax error at 1:", false},
      {{"serve", "good.ovra", "--port=" + std::to_string(taken)},
       "Serve failed: IO error: Failed to start dev server: Address already in use\n",
       true},
  };
  for (const Case& c : cases) {
    const ProcessResult result =
        run_ovrac(c.args, {.cwd = dir.path(), .env = {kLoopback}, .timeout = 20s});
    EXPECT_EQ(result.exit_code, 1) << c.args[1];
    if (c.whole_line) {
      EXPECT_EQ(result.err, c.err_prefix) << c.args[1];
    } else {
      EXPECT_TRUE(result.err.starts_with(c.err_prefix)) << result.err;
    }
    EXPECT_EQ(result.out.find("Dev server running"), std::string::npos) << c.args[1];
  }
  EXPECT_FALSE(fs::exists(dir / "broken.js"));
}

}  // namespace
}  // namespace ovra::testing
