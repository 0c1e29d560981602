// Tokens produced by the lexer and the source-level type `OvraType`.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"

namespace ovra {

// The output kind of one compilation.
enum class CompileTarget { JavaScript, TypeScript, Wasm, Llvm };

// Token kinds in declaration order. ToGet, Array, TypeClass, BooleanLiteral and Newline exist
// for the parser's tests but are never produced by the lexer.
enum class TokenType : std::uint8_t {
  Let, Const, Func, Back, Push, Out, Rmv, New, ToGet, Typeins, Array, Class, If, Else, Esle,
  Forloop, While, Continue, Break, Remake, Crob, Cite, Share, From, As, Struct, Put, Delete,
  Options, Head, TypeStr, TypeString, TypeInt, TypeBool, TypeSingleF, TypeMultiF, TypeArr,
  TypeClass, TypeObj, TypeUnknown, TypeVoid, Assign, Plus, Minus, Multiply, Divide, Modulo,
  Equal, NotEqual, Less, Greater, LessEqual, GreaterEqual, And, Or, Not, Arrow, Pipe, Semicolon,
  Colon, Comma, Dot, LeftParen, RightParen, LeftBrace, RightBrace, LeftBracket, RightBracket, At,
  Identifier, StringLiteral, NumberLiteral, BooleanLiteral, True, False, Eof, Newline,
};

// A text in double quotes with the usual escapes, as structural debug texts print texts.
std::string quote_debug_string(std::string_view text);

// The kind's name as messages print it: "Semicolon", "RightBrace".
std::string_view token_type_name(TokenType type);

// A Span in 32-bit fields, as tokens carry it: there are millions of tokens in a large program,
// and the driver refuses sources anywhere near 2^32 characters.
struct PackedSpan {
  std::uint32_t line = 1;
  std::uint32_t column = 1;
  std::uint32_t position = 0;

  PackedSpan() = default;
  PackedSpan(const Span& span)
      : line(static_cast<std::uint32_t>(span.line)),
        column(static_cast<std::uint32_t>(span.column)),
        position(static_cast<std::uint32_t>(span.position)) {}
  operator Span() const { return Span{line, column, position}; }
};

struct Token {
  TokenType token_type = TokenType::Eof;
  PackedSpan span;  // line, column and position of the token's first character
  // The token's text: for a string literal the quote, the decoded content and the quote.
  std::string_view lexeme;
  // The payload of Identifier and NumberLiteral (their text) and of StringLiteral (the decoded
  // content); empty for every other kind.
  std::string_view text;

  Token() = default;
  Token(TokenType type, std::string_view lexeme, std::string_view text, Span span)
      : token_type(type), span(span), lexeme(lexeme), text(text) {}

  // "Identifier(\"x\")", "Semicolon".
  std::string debug_text() const;
};

// The lexer's output. Token texts point into the source the lexer read (which the caller keeps
// alive) or into `decoded_strings`, which owns the contents of string literals with escapes.
struct TokenList {
  std::vector<Token> tokens;
  std::deque<std::string> decoded_strings;
};

// Box<T> owns one T on the heap and copies it deeply, so records that contain one are plain
// values: copying a syntax tree or a type clones it.
template <class T>
class Box {
 public:
  Box(T value) : ptr_(std::make_unique<T>(std::move(value))) {}
  Box(const Box& other) : ptr_(std::make_unique<T>(*other.ptr_)) {}
  Box(Box&&) noexcept = default;
  Box& operator=(const Box& other) {
    if (this != &other) ptr_ = std::make_unique<T>(*other.ptr_);
    return *this;
  }
  Box& operator=(Box&&) noexcept = default;
  ~Box() = default;

  T& operator*() { return *ptr_; }
  const T& operator*() const { return *ptr_; }
  T* operator->() { return ptr_.get(); }
  const T* operator->() const { return ptr_.get(); }
  T& get() { return *ptr_; }
  const T& get() const { return *ptr_; }

 private:
  std::unique_ptr<T> ptr_;
};

// An optional T kept on the heap: the interface of std::optional, one pointer wide. Syntax-tree
// records use it for optional children that are large and often absent, so that the records
// (and therefore every Statement) stay small.
template <class T>
class OptionalBox {
 public:
  OptionalBox() = default;
  OptionalBox(std::nullopt_t) {}
  OptionalBox(T value) : ptr_(std::make_unique<T>(std::move(value))) {}
  OptionalBox(std::optional<T> value)
      : ptr_(value ? std::make_unique<T>(std::move(*value)) : nullptr) {}
  OptionalBox(const OptionalBox& other)
      : ptr_(other.ptr_ ? std::make_unique<T>(*other.ptr_) : nullptr) {}
  OptionalBox(OptionalBox&&) noexcept = default;
  OptionalBox& operator=(const OptionalBox& other) {
    if (this != &other) ptr_ = other.ptr_ ? std::make_unique<T>(*other.ptr_) : nullptr;
    return *this;
  }
  OptionalBox& operator=(OptionalBox&&) noexcept = default;
  OptionalBox& operator=(std::nullopt_t) {
    ptr_.reset();
    return *this;
  }
  OptionalBox& operator=(T value) {
    ptr_ = std::make_unique<T>(std::move(value));
    return *this;
  }
  ~OptionalBox() = default;

  bool has_value() const { return ptr_ != nullptr; }
  explicit operator bool() const { return has_value(); }
  T& operator*() { return *ptr_; }
  const T& operator*() const { return *ptr_; }
  T* operator->() { return ptr_.get(); }
  const T* operator->() const { return ptr_.get(); }
  T& value() { return *ptr_; }
  const T& value() const { return *ptr_; }
  template <class... Args>
  T& emplace(Args&&... args) {
    ptr_ = std::make_unique<T>(std::forward<Args>(args)...);
    return *ptr_;
  }
  void reset() { ptr_.reset(); }
  operator std::optional<T>() const { return ptr_ ? std::optional<T>(*ptr_) : std::nullopt; }

 private:
  std::unique_ptr<T> ptr_;
};

// A type written in the source or inferred by the semantic stage.
class OvraType {
 public:
  // In variant order; the order is part of the type's identity.
  enum class Kind : std::uint8_t { Str, String, Int, Bool, SingleF, MultiF, Arr, Class, Obj, Unknown, Void };

  OvraType() : kind_(Kind::Unknown) {}
  explicit OvraType(Kind kind) : kind_(kind) {}
  OvraType(const OvraType& other);
  OvraType(OvraType&&) noexcept = default;
  OvraType& operator=(const OvraType& other);
  OvraType& operator=(OvraType&&) noexcept = default;
  ~OvraType() = default;

  static OvraType array_of(OvraType element);
  static OvraType class_named(std::string name);

  Kind kind() const { return kind_; }
  bool is(Kind kind) const { return kind_ == kind; }
  // Element type of an Arr; only valid when kind() == Kind::Arr.
  const OvraType& element() const;
  // Class name of a Class; empty otherwise.
  const std::string& class_name() const;

  bool is_numeric() const {
    return kind_ == Kind::Int || kind_ == Kind::SingleF || kind_ == Kind::MultiF;
  }
  bool is_string() const { return kind_ == Kind::Str || kind_ == Kind::String; }

  // Structural equality: same kind, equal element types, equal class names.
  bool operator==(const OvraType& other) const;

  // "arr<int>", "class<Point>": the text semantic messages show.
  std::string to_string() const;
  // "number", "string[]", "any": the annotation TypeScript output uses.
  std::string to_typescript() const;
  // "Int", "Arr(Int)", "Class(\"Point\")": the structural debug text.
  std::string debug_text() const;

 private:
  // Only Arr and Class carry a payload, so the common types stay one pointer wide: every
  // literal in the syntax tree holds an OvraType.
  struct Payload;
  Kind kind_;
  std::unique_ptr<Payload> payload_;
};

struct OvraType::Payload {
  OvraType element;        // for Arr
  std::string class_name;  // for Class
};

inline const OvraType& OvraType::element() const { return payload_->element; }

// The compatibility rule used for initializers, returns, arguments, pushed values and array
// elements: equal types, Unknown on either side at the top level, or two numeric types.
bool is_assignable(const OvraType& target, const OvraType& value);

// The wider of two numeric types (Int < SingleF < MultiF).
OvraType wider_numeric(const OvraType& a, const OvraType& b);

}  // namespace ovra
