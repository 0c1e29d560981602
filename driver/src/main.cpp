#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli.h"

int main(int argc, char** argv) {
  try {
    std::vector<std::string> args(argv, argv + argc);
    return ovra::run_command_line(args);
  } catch (const std::exception& error) {
    // Whatever escapes a mode is still one clear line and status 1, never an abort.
    std::cerr << "ovrac: internal error: " << error.what() << "\n";
    return 1;
  }
}
