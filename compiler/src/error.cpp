#include "error.h"

#include <vector>

namespace ovra {

std::string Span::debug_text() const {
  return "Span { line: " + std::to_string(line) + ", column: " + std::to_string(column) +
         ", position: " + std::to_string(position) + " }";
}

namespace {

template <class Kind>
CompilerError make_positioned(std::string message, std::size_t line, std::size_t column) {
  Kind error;
  error.line = line;
  error.column = column;
  error.message = std::move(message);
  return CompilerError(std::move(error));
}

// Splits like a text editor: "\n" ends a line, a "\r" right before it is dropped, and a
// final line feed does not open an empty last line.
std::vector<std::string_view> split_lines(std::string_view source) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < source.size()) {
    std::size_t end = source.find('\n', start);
    if (end == std::string_view::npos) {
      lines.push_back(source.substr(start));
      break;
    }
    std::string_view line = source.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::size_t count_characters(std::string_view text) {
  std::size_t count = 0;
  for (unsigned char byte : text) {
    if ((byte & 0xC0) != 0x80) ++count;
  }
  return count;
}

}  // namespace

CompilerError CompilerError::lexical(std::string message, std::size_t line, std::size_t column) {
  return make_positioned<LexicalError>(std::move(message), line, column);
}
CompilerError CompilerError::syntax(std::string message, std::size_t line, std::size_t column) {
  return make_positioned<SyntaxError>(std::move(message), line, column);
}
CompilerError CompilerError::semantic(std::string message, std::size_t line, std::size_t column) {
  return make_positioned<SemanticError>(std::move(message), line, column);
}

const std::string& CompilerError::message() const {
  return std::visit([](const auto& error) -> const std::string& { return error.message; }, kind_);
}

std::optional<std::pair<std::size_t, std::size_t>> CompilerError::position() const {
  if (const auto* error = std::get_if<LexicalError>(&kind_)) return {{error->line, error->column}};
  if (const auto* error = std::get_if<SyntaxError>(&kind_)) return {{error->line, error->column}};
  if (const auto* error = std::get_if<SemanticError>(&kind_)) return {{error->line, error->column}};
  return std::nullopt;
}

namespace {

std::string positioned_text(const char* prefix, const PositionedError& error) {
  std::string text = prefix + std::to_string(error.line) + ":" + std::to_string(error.column) +
                     ": " + error.message;
  if (error.source_excerpt) text += "\n\n" + *error.source_excerpt;
  return text;
}

}  // namespace

std::string CompilerError::to_string() const {
  return std::visit(
      Overloaded{
          [](const LexicalError& e) { return positioned_text("Lexical error at ", e); },
          [](const SyntaxError& e) { return positioned_text("Syntax error at ", e); },
          [](const SemanticError& e) { return positioned_text("Semantic error at ", e); },
          [](const IoError& e) { return "IO error: " + e.message; },
          [](const OtherError& e) { return "Error: " + e.message; },
      },
      kind_);
}

CompilerError CompilerError::with_source(std::string_view source) && {
  auto attach = [source](PositionedError& error) {
    error.source_excerpt = render_excerpt(source, error.line);
  };
  if (auto* error = std::get_if<LexicalError>(&kind_)) attach(*error);
  if (auto* error = std::get_if<SyntaxError>(&kind_)) attach(*error);
  if (auto* error = std::get_if<SemanticError>(&kind_)) attach(*error);
  return std::move(*this);
}

std::string render_excerpt(std::string_view source, std::size_t line) {
  std::vector<std::string_view> lines = split_lines(source);
  if (line == 0 || line > lines.size()) return "";
  std::size_t first = line > 2 ? line - 2 : 1;
  std::size_t last = std::min(line + 1, lines.size());
  std::string excerpt;
  for (std::size_t number = first; number <= last; ++number) {
    std::string label = std::to_string(number);
    if (label.size() < 4) label.insert(0, 4 - label.size(), ' ');
    std::string_view text = lines[number - 1];
    excerpt += label;
    excerpt += " | ";
    excerpt += text;
    excerpt += '\n';
    if (number == line) {
      excerpt += "     | ";
      excerpt.append(std::max<std::size_t>(count_characters(text), 1), '^');
      excerpt += '\n';
    }
  }
  return excerpt;
}

}  // namespace ovra
