// Positions in the source and the one error record every stage reports through.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace ovra {

// Helper for exhaustive visits: std::visit(Overloaded{[](const A&) {...}, ...}, node).
template <class... Fs>
struct Overloaded : Fs... {
  using Fs::operator()...;
};
template <class... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;


// A place in the source. All three counts are in characters (Unicode scalar values).
struct Span {
  std::size_t line = 1;      // from 1; a line ends at each line feed
  std::size_t column = 1;    // from 1, within the line
  std::size_t position = 0;  // from 0, within the whole source

  bool operator==(const Span&) const = default;
  std::string debug_text() const;
};

// The fields shared by the three error kinds that point into the source.
struct PositionedError {
  std::size_t line = 0;
  std::size_t column = 0;
  std::optional<std::string> source_excerpt;
  std::string message;
};

struct LexicalError : PositionedError {};
struct SyntaxError : PositionedError {};
struct SemanticError : PositionedError {};
struct IoError {
  std::string message;
};
struct OtherError {
  std::string message;
};

class CompilerError {
 public:
  using Kind = std::variant<LexicalError, SyntaxError, SemanticError, IoError, OtherError>;

  CompilerError(Kind kind) : kind_(std::move(kind)) {}

  static CompilerError lexical(std::string message, std::size_t line, std::size_t column);
  static CompilerError syntax(std::string message, std::size_t line, std::size_t column);
  static CompilerError semantic(std::string message, std::size_t line, std::size_t column);
  static CompilerError io(std::string message) { return CompilerError(IoError{std::move(message)}); }
  static CompilerError other(std::string message) {
    return CompilerError(OtherError{std::move(message)});
  }

  const Kind& kind() const { return kind_; }
  // The message alone, without the kind's prefix or the excerpt.
  const std::string& message() const;
  // Line and column of a positioned error; nullopt for IoError and OtherError.
  std::optional<std::pair<std::size_t, std::size_t>> position() const;

  // The display text: "Syntax error at 3:7: Expected Semicolon" and, when an excerpt is
  // attached, "\n\n" and the excerpt.
  std::string to_string() const;

  // Attaches the rendered excerpt of `source` to a positioned error; other kinds come back as
  // they are.
  CompilerError with_source(std::string_view source) &&;

 private:
  Kind kind_;
};

// Up to two lines before the error line and one after it, with a marker line under the error
// line. Empty when `line` is 0 or past the last line.
std::string render_excerpt(std::string_view source, std::size_t line);

// The outcome of a stage that can fail: a value or one CompilerError.
template <class T>
class Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(CompilerError error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  CompilerError& error() & { return std::get<1>(state_); }
  const CompilerError& error() const& { return std::get<1>(state_); }
  CompilerError&& error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, CompilerError> state_;
};

// For stages that produce nothing but may fail.
struct Unit {};
using Status = Result<Unit>;

}  // namespace ovra
