// The development server in-process: option scan, the route table with its exact statuses,
// bodies and content types, the version stamp the page's reload check relies on, and the
// start-up failures.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "dev_server_harness.h"
#include "serve.h"

namespace ovra {
namespace {

namespace fs = std::filesystem;
using testing::raw_exchange;
using testing::raw_request;
using testing::RawResponse;
using testing::RunningDevServer;

constexpr const char* kPlain = "text/plain; charset=UTF-8";
constexpr const char* kJavaScript = "application/javascript; charset=utf-8";
constexpr const char* kTypeScript = "application/typescript; charset=utf-8";
constexpr const char* kHtml = "text/html; charset=utf-8";

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_text(const fs::path& path, std::string_view text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

TEST(ParseServeOptions, PortAndProxyScan) {
  struct Case {
    std::vector<std::string> args;
    std::uint16_t port;
    std::optional<std::string> proxy;
  };
  const std::vector<Case> cases = {
      {{}, 4173, std::nullopt},
      {{"--port=abc", "--port=8080", "--port=70000"}, 8080, std::nullopt},
      {{"--port=+81"}, 81, std::nullopt},
      {{"--port=0"}, 0, std::nullopt},
      {{"--port=65535"}, 65535, std::nullopt},
      {{"--port=00080"}, 80, std::nullopt},
      {{"--port=9000", "--port=65536"}, 9000, std::nullopt},
      {{"--port=-1"}, 4173, std::nullopt},
      {{"--port= 80"}, 4173, std::nullopt},
      {{"--port=80 "}, 4173, std::nullopt},
      {{"--port="}, 4173, std::nullopt},
      {{"--port=+"}, 4173, std::nullopt},
      {{"--port=++1"}, 4173, std::nullopt},
      {{"--port=0x50"}, 4173, std::nullopt},
      {{"--port", "8080", "-port=81", "--PORT=82"}, 4173, std::nullopt},
      {{"--proxy=http://a/", "--proxy=", "--proxy=http://b:1"}, 4173, "http://b:1"},
      {{"--proxy="}, 4173, std::nullopt},
      {{"--proxy=not a url"}, 4173, "not a url"},
      {{"out.js", "--ts", "--port=9001", "--tsc", "--proxy=x"}, 9001, "x"},
  };
  for (const Case& c : cases) {
    std::string label;
    for (const std::string& arg : c.args)
      label += "[" + arg + "]";
    const ServeOptions options = parse_serve_options(c.args);
    EXPECT_EQ(options.port, c.port) << label;
    EXPECT_EQ(options.proxy, c.proxy) << label;
  }
}

TEST(ScriptRoute, OnlyAnExactTsExtensionNamesMainTs) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"app.ts", "/main.ts"},     {"out/app.d.ts", "/main.ts"}, {"app.js", "/main.js"},
      {"app.wat", "/main.js"},    {"app.ll", "/main.js"},       {"app.TS", "/main.js"},
      {"app.ts.js", "/main.js"},  {".ts", "/main.js"},          {"ts", "/main.js"},
      {"dir.ts/app", "/main.js"},
  };
  for (const auto& [output, route] : cases)
    EXPECT_EQ(script_route_for(output), route) << output;
}

class DevServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "ovrac-serve-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    input_ = (dir_ / "app.ovra").string();
    write_text(input_, "document.body.setAttribute(\"data-ovra\", \"ran-1\");\n");
  }
  void TearDown() override { fs::remove_all(dir_); }

  ServeSettings settings(const std::string& output_name, const std::string& target) const {
    ServeSettings s;
    s.input = input_;
    s.output = (dir_ / output_name).string();
    s.target_name = target;
    s.options.port = 0;
    return s;
  }

  fs::path dir_;
  std::string input_;
};

TEST_F(DevServerTest, RouteTableWithJavaScriptOutput) {
  const ServeSettings s = settings("app.js", "js");
  RunningDevServer server(s);
  ASSERT_TRUE(server.start_status().ok()) << server.start_status().error().to_string();
  const std::string script = read_text(s.output);
  ASSERT_NE(script.find("data-ovra"), std::string::npos) << script;

  struct Case {
    std::string method;
    std::string target;
    int status;
    std::string content_type;
    std::optional<std::string> body;  // nullopt: the page
  };
  const std::vector<Case> cases = {
      {"GET", "/", 200, kHtml, std::nullopt},
      {"GET", "/index.html", 200, kHtml, std::nullopt},
      {"POST", "/", 200, kHtml, std::nullopt},
      {"TRACE", "/", 200, kHtml, std::nullopt},
      {"GET", "/main.js", 200, kJavaScript, script},
      {"GET", "/main.ts", 200, kJavaScript, script},
      {"DELETE", "/main.js", 200, kJavaScript, script},
      {"GET", "/__stats", 200, kPlain, "No recompilation yet"},
      {"PUT", "/__stats", 200, kPlain, "No recompilation yet"},
      {"GET", "/__errors", 200, kPlain, ""},
      {"GET", "/__version", 200, kPlain, output_version_stamp(s.output)},
      // The request target is compared whole and case-sensitively.
      {"GET", "/main.js?v=1", 404, kPlain, "Not Found"},
      {"GET", "/MAIN.JS", 404, kPlain, "Not Found"},
      {"GET", "/index.html?", 404, kPlain, "Not Found"},
      {"GET", "//main.js", 404, kPlain, "Not Found"},
      {"GET", "/favicon.ico", 404, kPlain, "Not Found"},
      {"TRACE", "/elsewhere", 404, kPlain, "Not Found"},
      {"OPTIONS", "/api", 404, kPlain, "Not Found"},
  };
  for (const Case& c : cases) {
    const std::string label = c.method + " " + c.target;
    const RawResponse response =
        raw_exchange(server.port(), raw_request(c.method, c.target, "", "ignored body"));
    EXPECT_EQ(response.status, c.status) << label;
    EXPECT_EQ(response.values("Content-Type"), std::vector<std::string>{c.content_type}) << label;
    EXPECT_FALSE(response.header("Access-Control-Allow-Origin")) << label;
    if (c.body) {
      EXPECT_EQ(response.body, *c.body) << label;
    } else {
      EXPECT_NE(response.body.find("<p>Current script: " + input_ + "</p>"), std::string::npos)
          << label;
      EXPECT_NE(response.body.find("<script type=\"module\" src=\"/main.js\"></script>"),
                std::string::npos)
          << label;
      EXPECT_EQ(response.body.find("/main.ts"), std::string::npos) << label;
    }
  }
}

TEST_F(DevServerTest, PageParts) {
  RunningDevServer server(settings("app.js", "js"));
  ASSERT_TRUE(server.start_status().ok());
  const std::string page = raw_exchange(server.port(), raw_request("GET", "/")).body;
  for (const std::string part : {
           "<!DOCTYPE html>",
           "<html lang=\"en\">",
           "<meta charset=\"utf-8\" />",
           "<title>Ovra Dev Server</title>",
           "<h1>Ovra Dev Server</h1>",
           "<div id=\"errors\" style=\"color: red; white-space: pre-wrap;\"></div>",
           "<p id=\"stats\" style=\"color: #666;\"></p>",
           "[Ovra Runtime] Using default runtime URL:",
           "[Ovra Runtime] Using configured runtime URL:",
           "[Ovra Runtime] fetch API is not available. Please include a fetch polyfill for older "
           "browsers.",
           "[ovra] Detected update, reloading page...",
           "[ovra] reload check failed",
           "[ovra] error fetch failed",
           "[ovra] stats fetch failed",
           "setInterval(ovraCheckReload, 2000);",
           "setInterval(ovraUpdateErrors, 2000);",
           "setInterval(ovraUpdateStats, 5000);",
       }) {
    EXPECT_NE(page.find(part), std::string::npos) << part;
  }
  // The errors element, the stats element, the start-up script, the module script and the
  // polling script come in this order.
  const std::size_t errors = page.find("id=\"errors\"");
  const std::size_t stats = page.find("id=\"stats\"");
  const std::size_t runtime = page.find("OVRA_RUNTIME_URL");
  const std::size_t module = page.find("type=\"module\"");
  const std::size_t polling = page.find("ovraCheckReload");
  EXPECT_LT(errors, stats);
  EXPECT_LT(stats, runtime);
  EXPECT_LT(runtime, module);
  EXPECT_LT(module, polling);
}

TEST_F(DevServerTest, TypeScriptOutputNamesMainTsAndServesTypeScript) {
  RunningDevServer server(settings("app.ts", "ts"));
  ASSERT_TRUE(server.start_status().ok()) << server.start_status().error().to_string();
  const RawResponse page = raw_exchange(server.port(), raw_request("GET", "/"));
  EXPECT_NE(page.body.find("<script type=\"module\" src=\"/main.ts\"></script>"),
            std::string::npos);
  EXPECT_EQ(page.body.find("/main.js"), std::string::npos);
  for (const std::string target : {"/main.ts", "/main.js"}) {
    const RawResponse script = raw_exchange(server.port(), raw_request("GET", target));
    EXPECT_EQ(script.status, 200) << target;
    EXPECT_EQ(script.header("Content-Type"), kTypeScript) << target;
    EXPECT_EQ(script.body, read_text(dir_ / "app.ts")) << target;
  }
}

TEST_F(DevServerTest, WasmOutputStillNamesMainJs) {
  RunningDevServer server(settings("app.wat", "wasm"));
  ASSERT_TRUE(server.start_status().ok()) << server.start_status().error().to_string();
  const RawResponse page = raw_exchange(server.port(), raw_request("GET", "/"));
  EXPECT_NE(page.body.find("src=\"/main.js\""), std::string::npos);
  const RawResponse script = raw_exchange(server.port(), raw_request("GET", "/main.ts"));
  EXPECT_EQ(script.header("Content-Type"), kJavaScript);
  EXPECT_EQ(script.body, read_text(dir_ / "app.wat"));
}

TEST_F(DevServerTest, UnreadableOutputGives500AndVersionZero) {
  const ServeSettings s = settings("app.js", "js");
  RunningDevServer server(s);
  ASSERT_TRUE(server.start_status().ok());
  fs::remove(s.output);
  const RawResponse script = raw_exchange(server.port(), raw_request("GET", "/main.js"));
  EXPECT_EQ(script.status, 500);
  EXPECT_EQ(script.header("Content-Type"), kPlain);
  EXPECT_EQ(script.body, "Failed to read compiled output: No such file or directory");
  EXPECT_EQ(raw_exchange(server.port(), raw_request("GET", "/__version")).body, "0");
  EXPECT_NE(
      raw_exchange(server.port(), raw_request("GET", "/")).body.find("ovraLoadedVersion = \"0\";"),
      std::string::npos);
}

// The page carries the stamp of the output it was served with and reloads when "/__version"
// answers anything else, so the stamp must hold still while the output does and move as soon
// as the output is replaced.
TEST_F(DevServerTest, VersionStampMovesExactlyWhenTheOutputIsReplaced) {
  const ServeSettings s = settings("app.js", "js");
  RunningDevServer server(s);
  ASSERT_TRUE(server.start_status().ok());
  auto version = [&] { return raw_exchange(server.port(), raw_request("GET", "/__version")).body; };

  const std::string first = version();
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first.find_first_not_of("0123456789"), std::string::npos) << first;
  EXPECT_NE(first, "0");
  const std::string page = raw_exchange(server.port(), raw_request("GET", "/")).body;
  EXPECT_NE(page.find("ovraLoadedVersion = \"" + first + "\";"), std::string::npos);

  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(version(), first);

  // Replace the output the way a rebuild does: a new file renamed over the old one.
  const fs::path replacement = dir_ / "app.js.next";
  write_text(replacement, "// rebuilt\n");
  fs::rename(replacement, s.output);
  const std::string second = version();
  EXPECT_NE(second, first);
  EXPECT_EQ(second, output_version_stamp(s.output));
  EXPECT_EQ(version(), second);
}

// One worker answers every connection in turn, so a client that holds a connection open must
// not hold back everyone else for long: an idle kept-alive connection, a silent one and a
// request cut off halfway are each given up after a short timeout.
TEST_F(DevServerTest, StalledConnectionsDoNotHoldOthersBack) {
  RunningDevServer server(settings("app.js", "js"));
  ASSERT_TRUE(server.start_status().ok());
  auto open_connection = [&](const std::string& first_bytes, bool read_answer) {
    const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.port());
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    EXPECT_EQ(::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::send(sock, first_bytes.data(), first_bytes.size(), MSG_NOSIGNAL);
    if (read_answer) {
      char buffer[4096];
      EXPECT_GT(::recv(sock, buffer, sizeof buffer, 0), 0);
    }
    return sock;
  };
  const std::vector<std::tuple<std::string, std::string, bool>> stalls = {
      {"idle keep-alive", "GET /__stats HTTP/1.1\r\nHost: x\r\n\r\n", true},
      {"silent", "", false},
      {"half a request", "GET /__stats HTTP/1.1\r\nHo", false},
  };
  for (const auto& [label, first_bytes, read_answer] : stalls) {
    const int stalled = open_connection(first_bytes, read_answer);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto started = std::chrono::steady_clock::now();
    const RawResponse other = raw_exchange(server.port(), raw_request("GET", "/__errors"));
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(other.status, 200) << label;
    EXPECT_LT(waited, std::chrono::milliseconds(3500)) << label;
    ::close(stalled);
  }
}

TEST_F(DevServerTest, FirstBuildFailureStopsStartUp) {
  write_text(input_, "let x = ;\n");
  const ServeSettings s = settings("app.js", "js");
  RunningDevServer server(s);
  ASSERT_FALSE(server.start_status().ok());
  EXPECT_TRUE(server.start_status().error().to_string().starts_with("Syntax error at 1:"))
      << server.start_status().error().to_string();
  EXPECT_FALSE(fs::exists(s.output));
  EXPECT_EQ(server.port(), 0);

  ServeSettings missing = settings("other.js", "js");
  missing.input = (dir_ / "missing.ovra").string();
  RunningDevServer no_input(missing);
  ASSERT_FALSE(no_input.start_status().ok());
  EXPECT_EQ(no_input.start_status().error().to_string(),
            "IO error: Failed to read file: No such file or directory");
}

TEST_F(DevServerTest, PortInUseFailsAfterTheBuild) {
  httplib::Server occupant;
  const int taken = occupant.bind_to_any_port("127.0.0.1");
  ASSERT_GT(taken, 0);
  ServeSettings s = settings("app.js", "js");
  s.options.port = static_cast<std::uint16_t>(taken);
  RunningDevServer server(s);
  ASSERT_FALSE(server.start_status().ok());
  EXPECT_EQ(server.start_status().error().to_string(),
            "IO error: Failed to start dev server: Address already in use");
  // The build and the watcher come before the bind.
  EXPECT_TRUE(fs::exists(s.output));
}

}  // namespace
}  // namespace ovra
