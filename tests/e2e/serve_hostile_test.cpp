// Hostile clients and backends against `ovrac serve`, over loopback only: malformed request lines,
// oversized headers and bodies, slow and silent clients, a crowd of connections at once, and a
// backend that never answers or hangs up halfway. The server must answer or close each one and go
// on serving. Every exchange has a deadline, so the tests end by themselves.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <regex>
#include <thread>

#include "process_util.h"

namespace ovra::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::pair<std::string, std::string> kLoopback{"OVRA_DEV_SERVER_HOST", "127.0.0.1"};

int announced_port(const std::string& out) {
  static const std::regex line(R"(Dev server running at http://127\.0\.0\.1:(\d+)/)");
  std::smatch match;
  return std::regex_search(out, match, line) ? std::stoi(match[1]) : -1;
}

int connect_loopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Sends everything it can (the peer may close early) without raising SIGPIPE.
void send_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0)
      return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

// Reads until the peer closes or the deadline passes. `closed` tells which happened.
std::string read_until_closed(int fd, std::chrono::milliseconds limit, bool* closed = nullptr) {
  std::string received;
  const auto deadline = Clock::now() + limit;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0)
      break;
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0)
      break;
    char buffer[8192];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      if (closed)
        *closed = true;
      return received;
    }
    received.append(buffer, static_cast<std::size_t>(n));
  }
  if (closed)
    *closed = false;
  return received;
}

// One raw exchange: connect, send, read the answer (or the close). The client half-closes after
// its request unless told otherwise, so that the server sees the end of a truncated request at
// once; such a client may get no answer at all, which is one of the acceptable outcomes.
std::string raw_exchange(int port, std::string_view request, std::chrono::milliseconds limit = 8s,
                         bool half_close = true) {
  const int fd = connect_loopback(port);
  if (fd < 0)
    return "<no connection>";
  send_all(fd, request);
  if (half_close)
    ::shutdown(fd, SHUT_WR);
  std::string answer = read_until_closed(fd, limit);
  ::close(fd);
  return answer;
}

std::string status_line(const std::string& answer) {
  return answer.substr(0, answer.find("\r\n"));
}

// A loopback backend with a scripted misbehaviour; it serves one connection after another until
// destroyed, and each connection ends within `hold`.
class MisbehavingBackend {
 public:
  enum class Mode { Silent, HangUpMidAnswer };

  MisbehavingBackend(Mode mode, std::chrono::milliseconds hold) : mode_(mode), hold_(hold) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int yes = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 16);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~MisbehavingBackend() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  int port() const { return port_; }
  int connections() const { return connections_; }

 private:
  void serve() {
    while (!stop_) {
      pollfd entry{listener_, POLLIN, 0};
      if (::poll(&entry, 1, 100) <= 0)
        continue;
      const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0)
        continue;
      ++connections_;
      // Take the request in, then misbehave.
      pollfd request{fd, POLLIN, 0};
      if (::poll(&request, 1, 2000) > 0) {
        char buffer[8192];
        [[maybe_unused]] ssize_t ignored = ::recv(fd, buffer, sizeof buffer, 0);
      }
      if (mode_ == Mode::HangUpMidAnswer) {
        send_all(fd,
                 "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 1000\r\n\r\npart");
      }
      const auto until = Clock::now() + hold_;
      while (!stop_ && Clock::now() < until)
        std::this_thread::sleep_for(20ms);
      ::close(fd);
    }
  }

  Mode mode_;
  std::chrono::milliseconds hold_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

class ServeHostile : public ::testing::Test {
 protected:
  void start(std::vector<std::string> extra = {}) {
    write_text(dir_ / "app.ovra", "ovra.log(\"served\");\n");
    std::vector<std::string> argv{ovrac_path(), "serve", "app.ovra", "--port=0"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    serve_ = std::make_unique<ChildProcess>(argv, ProcessOptions{dir_.path(), {kLoopback}});
    ASSERT_TRUE(serve_->wait_for("Dev server running at", 15s)) << serve_->out() << serve_->err();
    port_ = announced_port(serve_->out());
    ASSERT_GT(port_, 0) << serve_->out();
  }

  // The server still answers an ordinary request, quickly.
  void expect_still_serving() {
    httplib::Client client("127.0.0.1", port_);
    client.set_connection_timeout(5, 0);
    client.set_read_timeout(5, 0);
    const auto started = Clock::now();
    auto response = client.Get("/main.js");
    ASSERT_TRUE(response) << httplib::to_string(response.error());
    EXPECT_EQ(response->status, 200);
    EXPECT_NE(response->body.find("served"), std::string::npos);
    EXPECT_LT(Clock::now() - started, 5s);
  }

  TempDir dir_;
  std::unique_ptr<ChildProcess> serve_;
  int port_ = -1;
};

TEST_F(ServeHostile, MalformedRequestLinesAreRefusedOrClosed) {
  start();
  const std::vector<std::pair<const char*, std::string>> requests = {
      {"garbage", "GARBAGE\r\n\r\n"},
      {"method only", "GET\r\n\r\n"},
      {"no version", "GET /\r\n\r\n"},
      {"unknown version", "GET / HTTP/9.9\r\n\r\n"},
      {"binary", std::string("\x00\xff\x16\x03\x01\x02\x00\x01\x00\r\n\r\n", 13)},
      {"TLS hello on a plain port",
       std::string("\x16\x03\x01\x00\xa5\x01\x00\x00\xa1\x03\x03", 11)},
      {"header without colon", "GET / HTTP/1.1\r\nHost 127.0.0.1\r\n\r\n"},
      {"bad content length", "POST /api HTTP/1.1\r\nContent-Length: banana\r\n\r\n"},
      {"negative content length", "POST /api HTTP/1.1\r\nContent-Length: -5\r\n\r\n"},
      {"huge path", "GET /" + std::string(200'000, 'p') + " HTTP/1.1\r\n\r\n"},
      {"percent garbage", "GET /%zz%%%00 HTTP/1.1\r\nHost: x\r\n\r\n"},
      {"bare line feeds", "GET /__version HTTP/1.1\nHost: x\n\n"},
  };
  for (const auto& [label, request] : requests) {
    SCOPED_TRACE(label);
    const std::string answer = raw_exchange(port_, request);
    // Either no answer at all (closed) or an HTTP status line.
    if (!answer.empty()) {
      EXPECT_EQ(answer.rfind("HTTP/1.", 0), 0u) << answer.substr(0, 200);
    }
    expect_still_serving();
  }
}

TEST_F(ServeHostile, OversizedHeadersAndBodies) {
  start();
  {
    SCOPED_TRACE("one header of 1 MB");
    const std::string answer = raw_exchange(
        port_, "GET /main.js HTTP/1.1\r\nX-Big: " + std::string(1 << 20, 'h') + "\r\n\r\n");
    if (!answer.empty()) {
      EXPECT_NE(status_line(answer).find(" 4"), std::string::npos) << status_line(answer);
    }
    expect_still_serving();
  }
  {
    SCOPED_TRACE("ten thousand headers");
    std::string request = "GET /main.js HTTP/1.1\r\n";
    for (int i = 0; i < 10'000; ++i)
      request += "X-H" + std::to_string(i) + ": v\r\n";
    raw_exchange(port_, request + "\r\n");
    expect_still_serving();
  }
  {
    SCOPED_TRACE("a body of 32 MB to a route of the server");
    raw_exchange(port_, "POST /__stats HTTP/1.1\r\nContent-Length: " + std::to_string(32 << 20) +
                            "\r\n\r\n" + std::string(32 << 20, 'b'));
    expect_still_serving();
  }
  {
    SCOPED_TRACE("a declared body of a terabyte that never comes");
    const auto started = Clock::now();
    raw_exchange(port_, "POST /api HTTP/1.1\r\nContent-Length: 1000000000000\r\n\r\nabc");
    EXPECT_LT(Clock::now() - started, 10s);
    expect_still_serving();
  }
}

TEST_F(ServeHostile, SlowAndSilentClients) {
  start();
  {
    SCOPED_TRACE("a request trickled in byte by byte");
    const int fd = connect_loopback(port_);
    ASSERT_GE(fd, 0);
    for (char c : std::string("GET /__version HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")) {
      send_all(fd, std::string_view(&c, 1));
      std::this_thread::sleep_for(10ms);
    }
    const std::string answer = read_until_closed(fd, 8s);
    ::close(fd);
    EXPECT_EQ(status_line(answer), "HTTP/1.1 200 OK");
  }
  {
    SCOPED_TRACE("connections that say nothing, or stop halfway");
    std::vector<int> stalled;
    for (int i = 0; i < 3; ++i)
      stalled.push_back(connect_loopback(port_));
    send_all(stalled[1], "GET /main.js HTT");
    send_all(stalled[2], "POST /api HTTP/1.1\r\nContent-Length: 100\r\n\r\nonly a bit");
    for (int fd : stalled) {
      bool closed = false;
      read_until_closed(fd, 15s, &closed);
      EXPECT_TRUE(closed) << "the server keeps a silent connection open";
      ::close(fd);
    }
    expect_still_serving();
  }
}

TEST_F(ServeHostile, ManyConnectionsAtOnce) {
  start();
  constexpr int kConnections = 200;
  std::vector<int> fds;
  for (int i = 0; i < kConnections; ++i) {
    const int fd = connect_loopback(port_);
    if (fd >= 0) {
      send_all(fd, "GET /__version HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
      fds.push_back(fd);
    }
  }
  EXPECT_GT(fds.size(), kConnections / 2u);
  int answered = 0;
  const auto deadline = Clock::now() + 60s;
  for (int fd : fds) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const std::string answer = read_until_closed(fd, std::max(left, 1ms));
    answered += status_line(answer) == "HTTP/1.1 200 OK";
    ::close(fd);
  }
  // Every connection is answered or closed; those the listen queue took are answered.
  EXPECT_EQ(answered, static_cast<int>(fds.size()));
  expect_still_serving();
}

TEST_F(ServeHostile, BackendThatNeverAnswersOrHangsUpHalfway) {
  for (auto mode : {MisbehavingBackend::Mode::Silent, MisbehavingBackend::Mode::HangUpMidAnswer}) {
    SCOPED_TRACE(mode == MisbehavingBackend::Mode::Silent ? "silent" : "hangs up");
    // The silent backend holds the connection longer than the server may wait for it, so the
    // answer has to come from the server's own time limit.
    const bool silent = mode == MisbehavingBackend::Mode::Silent;
    MisbehavingBackend backend(mode, silent ? 12s : 3s);
    serve_.reset();
    start({"--proxy=http://127.0.0.1:" + std::to_string(backend.port())});
    const auto started = Clock::now();
    const std::string answer = raw_exchange(port_,
                                            "GET /api/items HTTP/1.1\r\nHost: x\r\n"
                                            "Connection: close\r\n\r\n",
                                            20s, false);
    EXPECT_LT(Clock::now() - started, silent ? 10s : 20s);
    EXPECT_EQ(status_line(answer).rfind("HTTP/1.1 5", 0), 0u)
        << "answer: " << answer.substr(0, 300) << " after "
        << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count()
        << " ms; " << serve_->err();
    EXPECT_GE(backend.connections(), 1);
    expect_still_serving();
  }
}

// The source is swapped for another file by a rename, as editors save, then removed: the server
// rebuilds from the new file, and while the source is gone it keeps serving the last good script.
TEST_F(ServeHostile, SourceReplacedByRenameThenRemoved) {
  start();
  write_text(dir_ / "next.ovra", "ovra.log(\"renamed in\");\n");
  fs::last_write_time(dir_ / "next.ovra", fs::last_write_time(dir_ / "app.js") + 10s);
  fs::rename(dir_ / "next.ovra", dir_ / "app.ovra");
  const auto deadline = Clock::now() + 15s;
  std::string script;
  while (Clock::now() < deadline) {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(5, 0);
    auto response = client.Get("/main.js");
    if (response && response->body.find("renamed in") != std::string::npos) {
      script = response->body;
      break;
    }
    std::this_thread::sleep_for(100ms);
  }
  ASSERT_FALSE(script.empty()) << serve_->out() << serve_->err();

  fs::remove(dir_ / "app.ovra");
  std::this_thread::sleep_for(1200ms);  // more than two polls of the watcher
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(5, 0);
  auto response = client.Get("/main.js");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 200);
  EXPECT_EQ(response->body, script);
}

}  // namespace
}  // namespace ovra::testing
