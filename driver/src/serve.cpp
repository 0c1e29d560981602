#include "serve.h"

#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "build.h"
#include "proxy.h"

namespace ovra {
namespace {

constexpr std::string_view kPlainText = "text/plain; charset=UTF-8";
constexpr std::string_view kHtml = "text/html; charset=utf-8";

// How often the watcher looks at the source's modification time.
constexpr std::chrono::milliseconds kWatchInterval{500};
// Requests are answered by one worker, one connection at a time, so an idle keep-alive
// connection holds every other client back for this long at most (the library counts whole
// seconds, and zero would also drop a client that connects a moment before it writes).
constexpr time_t kKeepAliveSeconds = 1;
// Requests after which a kept-alive connection is closed anyway, so that a busy client yields.
constexpr std::size_t kKeepAliveMaxRequests = 100;
// A client that stops in the middle of a request holds the worker for this long at most.
constexpr time_t kReadTimeoutSeconds = 2;

std::string errno_text(int error_number) {
  return std::error_code(error_number, std::generic_category()).message();
}

// The modification time in nanoseconds since the epoch, or the errno of the failed stat.
struct ModificationTime {
  bool ok = false;
  long long nanoseconds = 0;
  int error_number = 0;
};

ModificationTime modification_time_of(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0)
    return {false, 0, errno};
  return {true,
          static_cast<long long>(info.st_mtim.tv_sec) * 1'000'000'000LL + info.st_mtim.tv_nsec, 0};
}

// The whole file, or the description of why it cannot be read.
bool read_whole_file(const std::string& path, std::string& contents, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = errno_text(errno);
    return false;
  }
  contents.clear();
  char buffer[65536];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      contents.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      error = errno_text(errno);
      ::close(fd);
      return false;
    }
  }
  ::close(fd);
  return true;
}

// The two cells the watcher thread writes and the request loop reads. Each has its own lock,
// held only to copy or replace the value, never both at once.
struct SharedCells {
  std::mutex last_error_lock;
  std::optional<std::string> last_error;
  std::mutex last_build_ms_lock;
  std::optional<std::uint64_t> last_build_ms;
  // Set only by DevServer::stop(); serve mode's watcher runs until the process ends.
  std::atomic<bool> stopping{false};

  std::optional<std::string> read_last_error() {
    std::lock_guard lock(last_error_lock);
    return last_error;
  }
  void replace_last_error(std::optional<std::string> value) {
    std::lock_guard lock(last_error_lock);
    last_error = std::move(value);
  }
  std::optional<std::uint64_t> read_last_build_ms() {
    std::lock_guard lock(last_build_ms_lock);
    return last_build_ms;
  }
  void replace_last_build_ms(std::uint64_t value) {
    std::lock_guard lock(last_build_ms_lock);
    last_build_ms = value;
  }
};

void print_line(std::ostream& stream, const std::string& line) {
  // One write per line, flushed, so lines of the two threads never interleave and a reader at
  // the other end of a pipe sees each line as soon as it is printed.
  stream << (line + "\n") << std::flush;
}

// `last_seen` is the source's time as start-up read it, before this thread existed: read here,
// it could already include an edit made while the thread was waiting to be scheduled, and that
// edit would never be built.
void watch_and_rebuild(std::shared_ptr<SharedCells> cells, std::string input, std::string output,
                       std::string target_name, ModificationTime last_seen) {
  if (!last_seen.ok) {
    print_line(std::cerr,
               "Failed to read metadata in serve watcher: " + errno_text(last_seen.error_number));
    return;
  }
  while (!cells->stopping.load()) {
    std::this_thread::sleep_for(kWatchInterval);
    if (cells->stopping.load())
      return;
    const ModificationTime now = modification_time_of(input);
    if (!now.ok) {
      print_line(std::cerr,
                 "Failed to stat input file in serve watcher: " + errno_text(now.error_number));
      continue;
    }
    if (now.nanoseconds <= last_seen.nanoseconds)
      continue;
    print_line(std::cout, "Detected change in " + input + ". Recompiling...");
    const auto started = std::chrono::steady_clock::now();
    Result<BuildOutcome> outcome = compile_file_if_needed(input, output, target_name, false);
    if (outcome.ok()) {
      const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - started)
                               .count();
      const auto milliseconds = static_cast<std::uint64_t>(elapsed);
      cells->replace_last_build_ms(milliseconds);
      if (outcome.value() == BuildOutcome::Built) {
        print_line(std::cout, "Recompilation finished in " + std::to_string(milliseconds) +
                                  " ms (serve watcher)");
      }
      cells->replace_last_error(std::nullopt);
    } else {
      std::string text = outcome.error().to_string();
      print_line(std::cerr, "Recompilation failed (serve): " + text);
      cells->replace_last_error(std::move(text));
    }
    last_seen = now;
  }
}

// The incoming request as the proxy sees it. The server library adds the peer's and its own
// address as pseudo headers; they were never sent by the client.
ProxyRequest to_proxy_request(const httplib::Request& request) {
  ProxyRequest incoming;
  incoming.method = request.method;
  for (const auto& [name, value] : request.headers) {
    if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
        name == "LOCAL_PORT") {
      continue;
    }
    incoming.headers.push_back({name, value});
  }
  incoming.body = request.body;
  return incoming;
}

void set_plain(httplib::Response& response, int status, std::string body) {
  response.status = status;
  response.set_content(std::move(body), std::string(kPlainText));
}

}  // namespace

ServeOptions parse_serve_options(std::span<const std::string> rest) {
  ServeOptions options;
  for (const std::string& argument : rest) {
    if (argument.starts_with("--port=")) {
      std::string_view digits = std::string_view(argument).substr(7);
      if (digits.starts_with('+'))
        digits.remove_prefix(1);
      if (digits.empty() || digits.front() < '0' || digits.front() > '9')
        continue;
      std::uint16_t port = 0;
      const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
      if (error == std::errc() && end == digits.data() + digits.size())
        options.port = port;
    } else if (argument.starts_with("--proxy=") && argument.size() > 8) {
      options.proxy = argument.substr(8);
    }
  }
  return options;
}

std::string script_route_for(std::string_view output) {
  return std::filesystem::path(output).extension() == ".ts" ? "/main.ts" : "/main.js";
}

std::string output_version_stamp(const std::string& output) {
  const ModificationTime time = modification_time_of(output);
  if (!time.ok || time.nanoseconds < 0)
    return "0";
  return std::to_string(time.nanoseconds);
}

std::string dev_page_html(std::string_view input, std::string_view script_route,
                          std::string_view version_stamp) {
  std::string page;
  page += R"(<!DOCTYPE html>
<html lang="en">
  <head>
    <meta charset="utf-8" />
    <title>Ovra Dev Server</title>
  </head>
  <body>
    <h1>Ovra Dev Server</h1>
    <p>Current script: )";
  page += input;
  page += R"(</p>
    <div id="errors" style="color: red; white-space: pre-wrap;"></div>
    <p id="stats" style="color: #666;"></p>
    <script>
      if (typeof window.OVRA_RUNTIME_URL === "undefined") {
        window.OVRA_RUNTIME_URL = window.location.origin.replace(/:\d+$/, ":3000");
        console.log("[Ovra Runtime] Using default runtime URL:", window.OVRA_RUNTIME_URL);
      } else {
        console.log("[Ovra Runtime] Using configured runtime URL:", window.OVRA_RUNTIME_URL);
      }
      (function () {
        if (typeof globalThis === "undefined") {
          var root = typeof window !== "undefined" ? window
            : typeof global !== "undefined" ? global
            : self;
          root.globalThis = root;
        }
      })();
      if (typeof fetch === "undefined") {
        console.warn("[Ovra Runtime] fetch API is not available. Please include a fetch polyfill for older browsers.");
      }
    </script>
    <script type="module" src=")";
  page += script_route;
  page += R"("></script>
    <script>
      // The stamp of the script this page loaded; "/__version" answers another one once the
      // compiled output has been replaced.
      let ovraLoadedVersion = ")";
  page += version_stamp;
  page += R"(";
      async function ovraCheckReload() {
        try {
          const response = await fetch("/__version", { cache: "no-store" });
          if (!response.ok) return;
          const stamp = await response.text();
          if (stamp !== "" && stamp !== ovraLoadedVersion) {
            ovraLoadedVersion = stamp;
            console.log("[ovra] Detected update, reloading page...");
            window.location.reload();
          }
        } catch (error) {
          console.warn("[ovra] reload check failed", error);
        }
      }
      async function ovraUpdateErrors() {
        try {
          const response = await fetch("/__errors", { cache: "no-store" });
          if (!response.ok) return;
          document.getElementById("errors").textContent = (await response.text()) || "";
        } catch (error) {
          console.warn("[ovra] error fetch failed", error);
        }
      }
      async function ovraUpdateStats() {
        try {
          const response = await fetch("/__stats", { cache: "no-store" });
          if (!response.ok) return;
          document.getElementById("stats").textContent = (await response.text()) || "";
        } catch (error) {
          console.warn("[ovra] stats fetch failed", error);
        }
      }
      ovraUpdateErrors();
      ovraUpdateStats();
      setInterval(ovraCheckReload, 2000);
      setInterval(ovraUpdateErrors, 2000);
      setInterval(ovraUpdateStats, 5000);
    </script>
  </body>
</html>
)";
  return page;
}

struct DevServer::Impl {
  ServeSettings settings;
  std::string script_route;
  std::string script_content_type;
  std::shared_ptr<SharedCells> cells = std::make_shared<SharedCells>();
  httplib::Server server;
  std::uint16_t bound_port = 0;
  std::atomic<bool> run_called{false};
  std::atomic<bool> run_returned{false};

  void answer(const httplib::Request& request, httplib::Response& response) {
    const std::string& target = request.target;
    if (target == "/" || target == "/index.html") {
      response.status = 200;
      response.set_content(
          dev_page_html(settings.input, script_route, output_version_stamp(settings.output)),
          std::string(kHtml));
    } else if (target == "/main.js" || target == "/main.ts") {
      std::string contents, error;
      if (read_whole_file(settings.output, contents, error)) {
        response.status = 200;
        response.set_content(std::move(contents), script_content_type);
      } else {
        set_plain(response, 500, "Failed to read compiled output: " + error);
      }
    } else if (target == "/__stats") {
      const std::optional<std::uint64_t> ms = cells->read_last_build_ms();
      set_plain(
          response, 200,
          ms ? "Last recompilation took " + std::to_string(*ms) + " ms" : "No recompilation yet");
    } else if (target == "/__errors") {
      set_plain(response, 200, cells->read_last_error().value_or(""));
    } else if (target == "/__version") {
      set_plain(response, 200, output_version_stamp(settings.output));
    } else if (settings.options.proxy) {
      ProxyAnswer forwarded =
          proxy_request(request.method, proxy_target_address(*settings.options.proxy, target),
                        to_proxy_request(request));
      response.status = forwarded.status;
      for (HttpHeader& header : forwarded.headers) {
        response.set_header(header.name, header.value);
      }
      response.body = std::move(forwarded.body);
    } else {
      set_plain(response, 404, "Not Found");
    }
  }
};

DevServer::DevServer(ServeSettings settings) : impl_(std::make_unique<Impl>()) {
  impl_->settings = std::move(settings);
  impl_->script_route = script_route_for(impl_->settings.output);
  impl_->script_content_type = std::filesystem::path(impl_->settings.output).extension() == ".ts"
                                   ? "application/typescript; charset=utf-8"
                                   : "application/javascript; charset=utf-8";
}

DevServer::~DevServer() {
  stop();
}

std::uint16_t DevServer::port() const {
  return impl_->bound_port;
}

Status DevServer::start() {
  // A client that goes away mid-answer must not end the process; the failed send is ignored.
  ::signal(SIGPIPE, SIG_IGN);
  const ServeSettings& settings = impl_->settings;
  Result<BuildOutcome> first_build = compile_file_if_needed(
      settings.input, settings.output, settings.target_name, settings.type_check);
  if (!first_build.ok())
    return std::move(first_build).error();
  const ModificationTime source_time = modification_time_of(settings.input);
  if (!source_time.ok) {
    return CompilerError::io("Input file does not exist: " + settings.input);
  }

  try {
    std::thread(watch_and_rebuild, impl_->cells, settings.input, settings.output,
                settings.target_name, source_time)
        .detach();
  } catch (const std::system_error& error) {
    return CompilerError::io(std::string("Failed to start watcher thread: ") + error.what());
  }

  httplib::Server& server = impl_->server;
  // One worker answers every request, so requests are handled one at a time in arrival order.
  server.new_task_queue = [] { return new httplib::ThreadPool(1); };
  server.set_keep_alive_timeout(kKeepAliveSeconds);
  server.set_keep_alive_max_count(kKeepAliveMaxRequests);
  server.set_read_timeout(kReadTimeoutSeconds, 0);
  // The library sends an answer's head and body in separate writes; with Nagle's algorithm the
  // body then waits for the client's delayed acknowledgement, some 40 ms per kept-alive request.
  server.set_tcp_nodelay(true);
  // Only SO_REUSEADDR: the library's default also sets SO_REUSEPORT, which would let a second
  // server bind a port that is already in use.
  server.set_socket_options([](socket_t sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  auto answer = [impl = impl_.get()](const httplib::Request& request, httplib::Response& response) {
    impl->answer(request, response);
  };
  // Every path reaches the same handler; the library reads the body before it is called.
  const std::string any_path = R"([\s\S]*)";
  server.Get(any_path, answer);
  server.Post(any_path, answer);
  server.Put(any_path, answer);
  server.Patch(any_path, answer);
  server.Delete(any_path, answer);
  server.Options(any_path, answer);
  // The library has no handlers for TRACE and CONNECT; they are answered before its routing.
  server.set_pre_routing_handler(
      [impl = impl_.get()](const httplib::Request& request, httplib::Response& response) {
        if (request.method != "TRACE" && request.method != "CONNECT") {
          return httplib::Server::HandlerResponse::Unhandled;
        }
        impl->answer(request, response);
        // The library has not read a body of these requests, so the connection cannot carry
        // another one after this answer.
        response.set_header("Connection", "close");
        return httplib::Server::HandlerResponse::Handled;
      });

  errno = 0;
  int port = settings.options.port;
  if (port == 0) {
    port = server.bind_to_any_port(settings.bind_host);
    if (port < 0)
      port = 0;
  } else if (!server.bind_to_port(settings.bind_host, port)) {
    port = 0;
  }
  if (port == 0) {
    const int error_number = errno;
    return CompilerError::io("Failed to start dev server: " +
                             (error_number != 0 ? errno_text(error_number)
                                                : "cannot listen on " + settings.bind_host + ":" +
                                                      std::to_string(settings.options.port)));
  }
  impl_->bound_port = static_cast<std::uint16_t>(port);
  print_line(std::cout, "Dev server running at http://127.0.0.1:" + std::to_string(port) +
                            "/ (serving " + settings.output + ")");
  return Unit{};
}

void DevServer::run() {
  impl_->run_called.store(true);
  impl_->server.listen_after_bind();
  impl_->run_returned.store(true);
}

void DevServer::stop() {
  impl_->cells->stopping.store(true);
  // A stop that comes just after run() began must wait for the loop to be listening, or the
  // library would ignore it and run() would never return.
  if (impl_->run_called.load()) {
    for (int i = 0; i < 200 && !impl_->server.is_running() && !impl_->run_returned.load(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  impl_->server.stop();
}

int serve_and_watch(const std::string& input, const std::string& output,
                    const std::string& target_name, bool type_check, const ServeOptions& options) {
  ServeSettings settings{input, output, target_name, type_check, options};
  if (const char* host = std::getenv("OVRA_DEV_SERVER_HOST"); host != nullptr && *host != '\0') {
    settings.bind_host = host;
  }
  DevServer server(std::move(settings));
  Status started = server.start();
  if (!started.ok()) {
    std::cerr << "Serve failed: " << started.error().to_string() << "\n";
    return 1;
  }
  server.run();
  return 0;
}

}  // namespace ovra
