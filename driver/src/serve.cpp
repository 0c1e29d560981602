#include "serve.h"

#include <iostream>

namespace ovra {

ServeOptions parse_serve_options(std::span<const std::string>) { return {}; }

int serve_and_watch(const std::string&, const std::string&, const std::string&, bool,
                    const ServeOptions&) {
  std::cerr << "Serve failed: IO error: serve mode is not built yet\n";
  return 1;
}

}  // namespace ovra
