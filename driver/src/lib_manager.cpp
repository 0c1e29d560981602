#include "lib_manager.h"

#include <iostream>

namespace ovra {

int run_lib_list() {
  std::cerr << "Failed to list libraries: IO error: the library manager is not built yet\n";
  return 1;
}

int run_lib_best(const std::string&, const std::optional<std::string>&) {
  std::cerr << "Failed to resolve library: IO error: the library manager is not built yet\n";
  return 1;
}

}  // namespace ovra
