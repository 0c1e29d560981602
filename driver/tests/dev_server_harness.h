// Test support for the development server: an in-process DevServer on a free port, a raw HTTP/1.1
// exchange over 127.0.0.1 (so tests control every header byte), and a recording backend.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "serve.h"

namespace ovra::testing {

struct RawResponse {
  int status = 0;
  std::vector<std::pair<std::string, std::string>> headers;  // in the order received
  std::string body;

  // The values of every header with this name, compared without regard to case.
  std::vector<std::string> values(std::string_view name) const {
    std::vector<std::string> found;
    for (const auto& [key, value] : headers) {
      if (key.size() == name.size() &&
          std::equal(key.begin(), key.end(), name.begin(),
                     [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
        found.push_back(value);
      }
    }
    return found;
  }
  std::optional<std::string> header(std::string_view name) const {
    auto found = values(name);
    if (found.empty())
      return std::nullopt;
    return found.front();
  }
};

// Sends `request` as it is to 127.0.0.1:port and reads until the server closes the connection,
// so the request should carry "Connection: close". Throws when nothing parseable comes back
// within five seconds.
inline RawResponse raw_exchange(std::uint16_t port, const std::string& request) {
  const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (sock < 0)
    throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  timeval limit{5, 0};
  ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(sock);
    throw std::runtime_error("connect failed");
  }
  ::send(sock, request.data(), request.size(), MSG_NOSIGNAL);
  std::string received;
  char buffer[8192];
  ssize_t n;
  while ((n = ::recv(sock, buffer, sizeof buffer, 0)) > 0)
    received.append(buffer, n);
  ::close(sock);

  RawResponse response;
  const std::size_t head_end = received.find("\r\n\r\n");
  if (received.size() < 12 || head_end == std::string::npos) {
    throw std::runtime_error("no HTTP answer: \"" + received + "\"");
  }
  response.status = std::stoi(received.substr(9, 3));
  std::size_t line_start = received.find("\r\n") + 2;
  while (line_start < head_end) {
    const std::size_t line_end = received.find("\r\n", line_start);
    const std::string line = received.substr(line_start, line_end - line_start);
    const std::size_t colon = line.find(':');
    std::string value = line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ')
      value.erase(0, 1);
    response.headers.emplace_back(line.substr(0, colon), value);
    line_start = line_end + 2;
  }
  response.body = received.substr(head_end + 4);
  return response;
}

// "GET /x HTTP/1.1" with a Host, "Connection: close", any extra header lines and a body with its
// Content-Length.
inline std::string raw_request(const std::string& method, const std::string& target,
                               const std::string& extra_headers = "",
                               const std::string& body = "") {
  std::string text =
      method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
  text += extra_headers;
  // Like a browser, give an empty POST, PUT or PATCH an explicit zero length.
  if (!body.empty() || method == "POST" || method == "PUT" || method == "PATCH") {
    text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  }
  return text + "\r\n" + body;
}

// A DevServer answering on a free port from a thread of this process; stopped on destruction.
class RunningDevServer {
 public:
  explicit RunningDevServer(ServeSettings settings) : server_(loopback(std::move(settings))) {
    start_status_ = server_.start();
    if (start_status_->ok())
      thread_ = std::thread([this] { server_.run(); });
  }
  ~RunningDevServer() {
    server_.stop();
    if (thread_.joinable())
      thread_.join();
  }
  const Status& start_status() const { return *start_status_; }
  std::uint16_t port() const { return server_.port(); }

 private:
  static ServeSettings loopback(ServeSettings settings) {
    settings.bind_host = "127.0.0.1";
    return settings;
  }
  DevServer server_;
  std::optional<Status> start_status_;
  std::thread thread_;
};

// What the recording backend saw of one request.
struct SeenRequest {
  std::string method;
  std::string target;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  std::vector<std::string> values(std::string_view name) const {
    RawResponse as_response{0, headers, ""};
    return as_response.values(name);
  }
};

// A backend on 127.0.0.1 that records every request. "/created" answers 201 with a JSON body
// and headers of its own, "/missing" answers 404, everything else 200 "backend saw <target>".
class RecordingBackend {
 public:
  RecordingBackend() {
    auto record = [this](const httplib::Request& request, httplib::Response& response) {
      SeenRequest seen{request.method, request.target, {}, request.body};
      for (const auto& [name, value] : request.headers) {
        if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
            name == "LOCAL_PORT") {
          continue;
        }
        seen.headers.emplace_back(name, value);
      }
      {
        std::lock_guard lock(lock_);
        seen_.push_back(std::move(seen));
      }
      if (request.path == "/created") {
        response.status = 201;
        response.set_header("X-Backend", "yes");
        response.set_content(kCreatedJson, "application/json");
      } else if (request.path == "/missing") {
        response.status = 404;
        response.set_content("no such thing", "text/plain");
      } else {
        response.status = 200;
        response.set_content("backend saw " + request.target, "text/plain");
      }
    };
    const std::string any = R"([\s\S]*)";
    server_.Get(any, record);
    server_.Post(any, record);
    server_.Put(any, record);
    server_.Patch(any, record);
    server_.Delete(any, record);
    server_.Options(any, record);
    port_ = static_cast<std::uint16_t>(server_.bind_to_any_port("127.0.0.1"));
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    for (int i = 0; i < 200 && !server_.is_running(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  ~RecordingBackend() {
    server_.stop();
    thread_.join();
  }
  std::uint16_t port() const { return port_; }
  std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::vector<SeenRequest> seen() {
    std::lock_guard lock(lock_);
    return seen_;
  }

  static constexpr const char* kCreatedJson = "{\"id\": 7, \"name\": \"caf\xc3\xa9\"}\n";

 private:
  httplib::Server server_;
  std::uint16_t port_ = 0;
  std::thread thread_;
  std::mutex lock_;
  std::vector<SeenRequest> seen_;
};

// A port on 127.0.0.1 that nothing listens on (bound for a moment, then released).
inline std::uint16_t unused_port() {
  const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  ::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(sock);
  return ntohs(address.sin_port);
}

}  // namespace ovra::testing
