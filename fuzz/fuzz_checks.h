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

// Well-formed UTF-8 in the strict sense: no overlong forms, no surrogates, nothing past U+10FFFF.
// The driver refuses anything else before compiling, so positions are only checked for such text.
inline bool is_valid_utf8(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char lead = bytes[i];
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0)
        low = 0xA0;
      if (lead == 0xED)
        high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0)
        low = 0x90;
      if (lead == 0xF4)
        high = 0x8F;
    } else {
      return false;
    }
    if (i + length > text.size() || bytes[i + 1] < low || bytes[i + 1] > high)
      return false;
    for (std::size_t k = 2; k < length; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80)
        return false;
    }
    i += length;
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
  // Positions are only comparable for text; other bytes must merely not hurt the compiler.
  if (!is_valid_utf8(source))
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
