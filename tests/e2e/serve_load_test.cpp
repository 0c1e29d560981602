// A short local load run against `ovrac serve`: 10,000 requests for "/main.js" from four
// keep-alive clients and one that opens a connection per request, all at once. Every answer must
// be the whole script; the rate is printed for the record.

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <regex>
#include <thread>

#include "process_util.h"

namespace ovra::testing {
namespace {

using namespace std::chrono_literals;

TEST(ServeLoad, TenThousandScriptRequestsWithoutAFailure) {
  TempDir dir;
  write_text(dir / "app.ovra", "document.body.setAttribute(\"data-ovra\", \"loaded\");\n");
  ChildProcess serve({ovrac_path(), "serve", "app.ovra", "--port=0"},
                     {.cwd = dir.path(), .env = {{"OVRA_DEV_SERVER_HOST", "127.0.0.1"}}});
  ASSERT_TRUE(serve.wait_for("Dev server running at", 10s)) << serve.out() << serve.err();
  std::smatch match;
  const std::string out = serve.out();
  ASSERT_TRUE(std::regex_search(out, match, std::regex(R"(127\.0\.0\.1:(\d+)/)")));
  const int port = std::stoi(match[1]);
  const std::string script = read_text(dir / "app.js");
  ASSERT_FALSE(script.empty());

  constexpr int kKeepAliveClients = 4;
  constexpr int kFreshConnectionClients = 1;
  constexpr int kRequestsPerClient = 10000 / (kKeepAliveClients + kFreshConnectionClients);
  constexpr int kTotal = kRequestsPerClient * (kKeepAliveClients + kFreshConnectionClients);
  std::atomic<int> failures{0};
  std::string first_failure;
  std::mutex failure_lock;

  const auto started = std::chrono::steady_clock::now();
  std::vector<std::thread> clients;
  for (int c = 0; c < kKeepAliveClients + kFreshConnectionClients; ++c) {
    const bool keep_alive = c < kKeepAliveClients;
    clients.emplace_back([&, keep_alive] {
      httplib::Client client("127.0.0.1", port);
      client.set_keep_alive(keep_alive);
      client.set_read_timeout(10, 0);
      for (int i = 0; i < kRequestsPerClient; ++i) {
        auto response = client.Get("/main.js");
        if (!response || response->status != 200 || response->body != script) {
          if (failures.fetch_add(1) == 0) {
            std::lock_guard lock(failure_lock);
            first_failure = response ? "status " + std::to_string(response->status)
                                     : httplib::to_string(response.error());
          }
        }
      }
    });
  }
  for (std::thread& client : clients)
    client.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  EXPECT_EQ(failures.load(), 0) << "first failure: " << first_failure;
  EXPECT_LT(seconds, 60.0);
  std::cout << "[ load ] " << kTotal << " requests for /main.js in " << seconds
            << " s: " << static_cast<long>(kTotal / seconds) << " requests per second ("
            << kKeepAliveClients << " keep-alive clients, " << kFreshConnectionClients
            << " opening a connection per request)\n";
}

}  // namespace
}  // namespace ovra::testing
