// Forwarding through a running development server to a recording backend on 127.0.0.1: what the
// backend receives (path, query, headers, body per method) and what the browser gets back.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "dev_server_harness.h"
#include "proxy.h"
#include "serve.h"

namespace ovra {
namespace {

namespace fs = std::filesystem;
using testing::raw_exchange;
using testing::raw_request;
using testing::RawResponse;
using testing::RecordingBackend;
using testing::RunningDevServer;

TEST(ProxyTargetAddress, DropsEveryTrailingSlashOfTheBase) {
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {"http://h:8080/", "/api/items?x=1", "http://h:8080/api/items?x=1"},
      {"http://h:8080///", "/a", "http://h:8080/a"},
      {"http://h:8080", "/a", "http://h:8080/a"},
      {"http://h/base/", "/a?b", "http://h/base/a?b"},
      {"///", "/a", "/a"},
  };
  for (const auto& [base, target, expected] : cases) {
    EXPECT_EQ(proxy_target_address(base, target), expected) << base << " + " << target;
  }
}

class ProxyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "ovrac-proxy-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    std::ofstream(dir_ / "app.ovra") << "";
  }
  void TearDown() override { fs::remove_all(dir_); }

  ServeSettings settings(const std::string& proxy) const {
    ServeSettings s;
    s.input = (dir_ / "app.ovra").string();
    s.output = (dir_ / "app.js").string();
    s.target_name = "js";
    s.options.port = 0;
    s.options.proxy = proxy;
    return s;
  }

  fs::path dir_;
};

TEST_F(ProxyTest, PathQueryAndHeadersReachTheBackend) {
  RecordingBackend backend;
  RunningDevServer server(settings(backend.base() + "///"));
  ASSERT_TRUE(server.start_status().ok());

  const std::string request =
      "GET /api/items?x=1&q=a+b,c%20d HTTP/1.1\r\n"
      "Host: devserver.invalid:4173\r\n"
      "X-Trace: one\r\n"
      "Accept: text/first\r\n"
      "X-Trace: two\r\n"
      "x-lower: 1\r\n"
      "x-lower: 2\r\n"
      "Accept: text/second\r\n"
      "Authorization: Bearer token\r\n"
      "Content-Length: 4\r\n"
      "Connection: close\r\n"
      "\r\n"
      "body";
  const RawResponse response = raw_exchange(server.port(), request);
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "backend saw /api/items?x=1&q=a+b,c%20d");

  const auto seen = backend.seen();
  ASSERT_EQ(seen.size(), 1u);
  const testing::SeenRequest& got = seen[0];
  EXPECT_EQ(got.method, "GET");
  EXPECT_EQ(got.target, "/api/items?x=1&q=a+b,c%20d");
  // The backend's own address replaces the incoming Host; the incoming Content-Length and the
  // GET body stay behind.
  EXPECT_EQ(got.values("Host"),
            std::vector<std::string>{"127.0.0.1:" + std::to_string(backend.port())});
  EXPECT_TRUE(got.values("Content-Length").empty());
  EXPECT_EQ(got.body, "");
  // x- headers are sent as often as they come; a repeated ordinary header keeps its last value.
  EXPECT_EQ(got.values("X-Trace"), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(got.values("x-lower"), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(got.values("Accept"), std::vector<std::string>{"text/second"});
  EXPECT_EQ(got.values("Authorization"), std::vector<std::string>{"Bearer token"});
  // The server library's pseudo headers for the peer's address are not forwarded.
  EXPECT_TRUE(got.values("REMOTE_ADDR").empty());
}

TEST_F(ProxyTest, BodyRulesPerMethod) {
  RecordingBackend backend;
  RunningDevServer server(settings(backend.base()));
  ASSERT_TRUE(server.start_status().ok());

  struct Case {
    std::string method;
    std::string body_sent;
    std::string body_seen;
  };
  const std::vector<Case> cases = {
      {"GET", "payload", ""},
      {"HEAD", "payload", ""},
      {"OPTIONS", "payload", ""},
      {"POST", "payload", "payload"},
      {"PUT", "payload", "payload"},
      {"DELETE", "payload", "payload"},
      {"PATCH", "payload", "payload"},
      {"POST", "", ""},
      {"PUT", std::string("a\0b\xff", 4), std::string("a\0b\xff", 4)},
  };
  for (const Case& c : cases) {
    const std::string label = c.method + " with " + std::to_string(c.body_sent.size()) + " bytes";
    const RawResponse response = raw_exchange(
        server.port(),
        raw_request(c.method, "/echo", "Content-Type: application/x-test\r\n", c.body_sent));
    EXPECT_EQ(response.status, 200) << label;
    EXPECT_EQ(response.header("Access-Control-Allow-Origin"), "*") << label;

    const auto seen = backend.seen();
    ASSERT_FALSE(seen.empty()) << label;
    const testing::SeenRequest& got = seen.back();
    EXPECT_EQ(got.method, c.method) << label;
    EXPECT_EQ(got.body, c.body_seen) << label;
    const auto lengths = got.values("Content-Length");
    if (!c.body_seen.empty()) {
      EXPECT_EQ(lengths, std::vector<std::string>{std::to_string(c.body_seen.size())}) << label;
    } else {
      EXPECT_TRUE(lengths.empty() || lengths == std::vector<std::string>{"0"}) << label;
    }
    EXPECT_EQ(got.values("Content-Type"), std::vector<std::string>{"application/x-test"}) << label;
  }
  EXPECT_EQ(backend.seen().size(), cases.size());

  // A chunked body arrives whole and leaves with a length; the incoming Transfer-Encoding would
  // make the backend read that body as chunks.
  const RawResponse chunked =
      raw_exchange(server.port(),
                   "POST /echo HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                   "Transfer-Encoding: chunked\r\n\r\n4\r\npay-\r\n4\r\nload\r\n0\r\n\r\n");
  EXPECT_EQ(chunked.status, 200);
  const testing::SeenRequest got = backend.seen().back();
  EXPECT_EQ(got.body, "pay-load");
  EXPECT_EQ(got.values("Content-Length"), std::vector<std::string>{"8"});
  EXPECT_TRUE(got.values("Transfer-Encoding").empty());
}

TEST_F(ProxyTest, BackendAnswersAndFailures) {
  RecordingBackend backend;
  RunningDevServer server(settings(backend.base()));
  ASSERT_TRUE(server.start_status().ok());

  // A 201 JSON answer comes back byte for byte, with the CORS header and none of the backend's.
  const RawResponse created =
      raw_exchange(server.port(), raw_request("POST", "/created", "", "{}"));
  EXPECT_EQ(created.status, 201);
  EXPECT_EQ(created.body, RecordingBackend::kCreatedJson);
  EXPECT_EQ(created.values("Access-Control-Allow-Origin"), std::vector<std::string>{"*"});
  EXPECT_FALSE(created.header("X-Backend"));
  EXPECT_NE(created.header("Content-Type"), "application/json");

  // A backend error status is not passed through.
  const RawResponse missing = raw_exchange(server.port(), raw_request("GET", "/missing"));
  EXPECT_EQ(missing.status, 502);
  EXPECT_TRUE(missing.body.starts_with("Proxy request failed: ")) << missing.body;
  EXPECT_NE(missing.body.find("404"), std::string::npos) << missing.body;
  EXPECT_EQ(missing.header("Content-Type"), "text/plain; charset=UTF-8");
  EXPECT_FALSE(missing.header("Access-Control-Allow-Origin"));

  // Refused methods never reach the backend.
  const std::size_t before = backend.seen().size();
  for (const std::string method : {"TRACE", "CONNECT"}) {
    const RawResponse refused = raw_exchange(server.port(), raw_request(method, "/api"));
    EXPECT_EQ(refused.status, 405) << method;
    EXPECT_EQ(refused.body, "Method not allowed for proxy") << method;
    EXPECT_EQ(refused.header("Content-Type"), "text/plain; charset=UTF-8") << method;
    EXPECT_FALSE(refused.header("Access-Control-Allow-Origin")) << method;
    // Their body is never read, so the client must not send another request on the connection.
    EXPECT_EQ(refused.header("Connection"), "close") << method;
  }
  EXPECT_EQ(backend.seen().size(), before);

  // The server's own routes win; anything else that looks like one is forwarded.
  EXPECT_EQ(raw_exchange(server.port(), raw_request("GET", "/__stats")).body,
            "No recompilation yet");
  EXPECT_EQ(raw_exchange(server.port(), raw_request("GET", "/main.js?v=1")).body,
            "backend saw /main.js?v=1");
  EXPECT_EQ(raw_exchange(server.port(), raw_request("GET", "/MAIN.JS")).body,
            "backend saw /MAIN.JS");
}

TEST_F(ProxyTest, UnusableBackendsGive502) {
  RecordingBackend backend;
  const std::string live = std::to_string(backend.port());
  const std::vector<std::string> bases = {
      "http://127.0.0.1:" + std::to_string(testing::unused_port()),  // nothing listens
      "127.0.0.1:" + live,                                           // no scheme
      "localhost:" + live,
      "ftp://127.0.0.1:" + live,
      "http://",
      "http://127.0.0.1:99999",
  };
  for (const std::string& base : bases) {
    RunningDevServer server(settings(base));
    ASSERT_TRUE(server.start_status().ok());
    const RawResponse response = raw_exchange(server.port(), raw_request("GET", "/api?x=1"));
    EXPECT_EQ(response.status, 502) << base;
    EXPECT_TRUE(response.body.starts_with("Proxy request failed: "))
        << base << ": " << response.body;
    EXPECT_EQ(response.header("Content-Type"), "text/plain; charset=UTF-8") << base;
    EXPECT_FALSE(response.header("Access-Control-Allow-Origin")) << base;
  }
  EXPECT_TRUE(backend.seen().empty());
}

}  // namespace
}  // namespace ovra
