#include <string>
#include <vector>

#include "cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  return ovra::run_command_line(args);
}
