// The development server: page, compiled script, status routes, rebuild thread and proxy.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "error.h"

namespace ovra {

struct ServeOptions {
  std::uint16_t port = 4173;
  std::optional<std::string> proxy;  // backend base address

  bool operator==(const ServeOptions&) const = default;
};

// "--port=N" and "--proxy=URL" from the arguments after the input; everything else is ignored.
ServeOptions parse_serve_options(std::span<const std::string> rest);

struct ServeSettings {
  std::string input;
  std::string output;
  std::string target_name;
  bool type_check = false;
  ServeOptions options;
  // The address listened on. Serve mode takes every IPv4 interface unless the environment
  // variable OVRA_DEV_SERVER_HOST names another one (tests keep to 127.0.0.1 that way).
  std::string bind_host = "0.0.0.0";
};

// "/main.ts" when the output's extension is exactly "ts", otherwise "/main.js".
std::string script_route_for(std::string_view output);

// The page at "/". `version_stamp` is what "/__version" answered when the page was made; the
// page reloads as soon as that route answers anything else.
std::string dev_page_html(std::string_view input, std::string_view script_route,
                          std::string_view version_stamp);

// The stamp "/__version" answers: the output's modification time in nanoseconds since the epoch,
// or "0" when it cannot be read. It changes exactly when the output file is replaced.
std::string output_version_stamp(const std::string& output);

// One serve-mode session. start() runs the start-up steps (first build, watcher thread, bind,
// the "Dev server running" line); run() answers requests until stop() is called from another
// thread or the process ends.
class DevServer {
 public:
  explicit DevServer(ServeSettings settings);
  ~DevServer();
  DevServer(const DevServer&) = delete;
  DevServer& operator=(const DevServer&) = delete;

  Status start();
  // The port actually bound (the chosen one when "--port=0" asked for any).
  std::uint16_t port() const;
  void run();
  // Ends run() and the watcher thread. Serve mode itself never calls it.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Builds if needed, starts the watcher thread and serves until the process ends. Returns the exit
// status only when start-up fails (after printing "Serve failed: ...").
int serve_and_watch(const std::string& input, const std::string& output,
                    const std::string& target_name, bool type_check, const ServeOptions& options);

}  // namespace ovra
