#include "cli.h"

#include <cstdlib>
#include <iostream>

namespace ovra {

OutputChoice parse_output_and_target(std::string_view input, std::span<const std::string>) {
  return {std::string(input) + ".js", "js", false};
}

void print_usage_and_exit() {
  std::cerr << "Ovra Compiler (ovrac) version " << kVersion << "\n";
  std::exit(1);
}

int run_command_line(const std::vector<std::string>& args) {
  if (args.size() < 2) print_usage_and_exit();
  return 1;
}

}  // namespace ovra
