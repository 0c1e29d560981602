// Feeds arbitrary bytes to Compiler::compile and checks that the outcome is well formed: either an
// output text or exactly one error whose position lies inside the source (or one past its end)
// and whose excerpt has the usual layout. Crashes, sanitizer reports, leaks and slow inputs are
// caught by libFuzzer itself.
//
// Built with OVRA_FUZZ_GENERATED, the bytes are the decisions of the program generator instead:
// the source is a well-typed program, so besides the checks above the compiler must accept it
// (the WebAssembly target may still refuse a construct outside its subset, with a plain error).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "compiler.h"
#include "fuzz_checks.h"
#include "program_generator.h"

namespace {

[[noreturn]] void fail(const std::string& what, std::string_view source) {
  std::fprintf(stderr, "property violated: %s\n--- source ---\n%.*s\n", what.c_str(),
               static_cast<int>(source.size()), source.data());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr ovra::CompileTarget target = ovra::CompileTarget::OVRA_FUZZ_TARGET;
#ifdef OVRA_FUZZ_GENERATED
  ovra::fuzz::ByteChoices choices(data, size);
  ovra::fuzz::GeneratorOptions options;
  options.integer_subset = target == ovra::CompileTarget::Wasm;
  const std::string program = ovra::fuzz::generate_program(choices, options);
  std::string_view source = program;
#else
  std::string_view source(reinterpret_cast<const char*>(data), size);
#endif
  auto result = ovra::Compiler::compile(target, source);
  if (result)
    return 0;
  if (auto fault = ovra::fuzz::error_fault(result.error(), source))
    fail(*fault, source);
#ifdef OVRA_FUZZ_GENERATED
  if (result.error().position())
    fail("generated program refused\n" + result.error().to_string(), source);
#endif
  return 0;
}
