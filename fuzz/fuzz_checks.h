// The properties every compilation must have, whatever the input: either an output text or one
// error whose position (when it has one) lies inside the source or one past its end, with an
// excerpt in the usual layout. Shared by the fuzz targets and by the replay of fuzz/regressions.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "compiler.h"
#include "lexer.h"  // first_invalid_utf8_offset

namespace ovra::fuzz {

// Character counts per line, split at line feeds the way the lexer counts lines.
inline std::vector<std::size_t> line_lengths(std::string_view source) {
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

inline bool is_excerpt_line(std::string_view line) {
  if (line.rfind("     | ", 0) == 0) {
    std::string_view marks = line.substr(7);
    return !marks.empty() && marks.find_first_not_of('^') == std::string_view::npos;
  }
  std::size_t bar = line.find(" | ");
  if (bar == std::string_view::npos || bar < 4)
    return false;
  std::string_view number = line.substr(0, bar);
  std::size_t digits = number.find_first_not_of(' ');
  if (digits == std::string_view::npos)
    return false;
  for (char c : number.substr(digits)) {
    if (c < '0' || c > '9')
      return false;
  }
  return true;
}

// What is wrong with `error` as an answer for `source`; nothing when it is well formed.
inline std::optional<std::string> error_fault(const CompilerError& error, std::string_view source) {
  const std::string text = error.to_string();
  if (error.message().empty())
    return "empty message\n" + text;
  auto position = error.position();
  if (!position)
    return std::nullopt;
  // Positions are only comparable for well-formed UTF-8, the only text the driver passes on;
  // other bytes must merely not hurt the compiler.
  if (first_invalid_utf8_offset(source))
    return std::nullopt;
  auto [line, column] = *position;
  std::vector<std::size_t> lengths = line_lengths(source);
  if (line < 1 || line > lengths.size())
    return "line outside the source\n" + text;
  if (column < 1 || column > lengths[line - 1] + 1)
    return "column outside its line\n" + text;
  std::size_t separator = text.find("\n\n");
  if (separator == std::string::npos)
    return "positioned error without excerpt\n" + text;
  std::string_view excerpt = std::string_view(text).substr(separator + 2);
  while (!excerpt.empty()) {
    std::size_t end = excerpt.find('\n');
    if (end == std::string_view::npos)
      return "excerpt not ended by a line feed\n" + text;
    if (!is_excerpt_line(excerpt.substr(0, end)))
      return "malformed excerpt line\n" + text;
    excerpt.remove_prefix(end + 1);
  }
  return std::nullopt;
}

}  // namespace ovra::fuzz
