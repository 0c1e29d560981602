// Feeds arbitrary bytes to Compiler::compile and checks that the outcome is well formed: either an
// output text or exactly one error whose position lies inside the source (or one past its end)
// and whose excerpt has the usual layout. Crashes, sanitizer reports, leaks and slow inputs are
// caught by libFuzzer itself.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "compiler.h"

namespace {

void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "property violated: %s\n%s\n", what, detail.c_str());
  std::abort();
}

// Character counts per line, split at line feeds the way the lexer counts lines.
std::vector<std::size_t> line_lengths(std::string_view source) {
  std::vector<std::size_t> lengths{0};
  for (unsigned char byte : source) {
    if (byte == '\n') {
      lengths.push_back(0);
    } else if ((byte & 0xC0) != 0x80) {
      ++lengths.back();
    }
  }
  return lengths;
}

bool is_excerpt_line(std::string_view line) {
  if (line.rfind("     | ", 0) == 0) {
    std::string_view marks = line.substr(7);
    return !marks.empty() && marks.find_first_not_of('^') == std::string_view::npos;
  }
  std::size_t bar = line.find(" | ");
  if (bar == std::string_view::npos || bar < 4) return false;
  std::string_view number = line.substr(0, bar);
  std::size_t digits = number.find_first_not_of(' ');
  if (digits == std::string_view::npos) return false;
  for (char c : number.substr(digits)) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

void check_error(const ovra::CompilerError& error, std::string_view source) {
  const std::string text = error.to_string();
  if (error.message().empty()) fail("empty message", text);
  auto position = error.position();
  if (!position) return;
  auto [line, column] = *position;
  std::vector<std::size_t> lengths = line_lengths(source);
  if (line < 1 || line > lengths.size()) fail("line outside the source", text);
  if (column < 1 || column > lengths[line - 1] + 1) fail("column outside its line", text);
  std::size_t separator = text.find("\n\n");
  if (separator == std::string::npos) fail("positioned error without excerpt", text);
  std::string_view excerpt = std::string_view(text).substr(separator + 2);
  while (!excerpt.empty()) {
    std::size_t end = excerpt.find('\n');
    if (end == std::string_view::npos) fail("excerpt not ended by a line feed", text);
    if (!is_excerpt_line(excerpt.substr(0, end))) fail("malformed excerpt line", text);
    excerpt.remove_prefix(end + 1);
  }
}

bool is_valid_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3
                         : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view source(reinterpret_cast<const char*>(data), size);
  auto result = ovra::Compiler::compile(ovra::CompileTarget::OVRA_FUZZ_TARGET, source);
  // Positions are only comparable for text; other bytes must merely not hurt the compiler.
  if (!result && is_valid_utf8(source)) check_error(result.error(), source);
  return 0;
}
