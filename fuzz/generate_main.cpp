// Prints one generated Ovra program: ovra_generate <seed> [--integer]
// The same seed always gives the same program; --integer keeps to the WebAssembly subset.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "program_generator.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: ovra_generate <seed> [--integer]\n");
    return 2;
  }
  ovra::fuzz::GeneratorOptions options;
  options.integer_subset = argc > 2 && std::strcmp(argv[2], "--integer") == 0;
  ovra::fuzz::RandomChoices choices(std::strtoull(argv[1], nullptr, 10));
  std::fputs(ovra::fuzz::generate_program(choices, options).c_str(), stdout);
  return 0;
}
