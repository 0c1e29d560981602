// The development server: page, compiled script, status routes, rebuild thread and proxy.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace ovra {

struct ServeOptions {
  std::uint16_t port = 4173;
  std::optional<std::string> proxy;  // backend base address
};

// "--port=N" and "--proxy=URL" from the arguments after the input; everything else is ignored.
ServeOptions parse_serve_options(std::span<const std::string> rest);

// Builds if needed, starts the watcher thread and serves until the process ends. Returns the exit
// status only when start-up fails (after printing "Serve failed: ...").
int serve_and_watch(const std::string& input, const std::string& output,
                    const std::string& target_name, bool type_check, const ServeOptions& options);

}  // namespace ovra
