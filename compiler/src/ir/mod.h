// The typed intermediate representation between the syntax tree and the LLVM back end.
//
// Control flow stays structured (if, while, for and out bodies are nested instruction lists);
// SSA construction flattens it into blocks. Every record owns its children, so copying a record
// copies its whole subtree.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "error.h"
#include "types.h"

namespace ovra {

// True when T is one of the alternatives of the variant V; it keeps the converting constructors
// of the records below from claiming every type.
template <class T, class V>
inline constexpr bool kIsAlternativeOf = false;
template <class T, class... Alternatives>
inline constexpr bool kIsAlternativeOf<T, std::variant<Alternatives...>> =
    (std::is_same_v<T, Alternatives> || ...);

enum class IrTarget : std::uint8_t { Generic, Web, Native };

// A value's type as the back ends see it. Arr carries its element type, Class its name.
class IrType {
 public:
  enum class Kind : std::uint8_t {
    Int32,
    Bool,
    SingleF,
    MultiF,
    String,
    Arr,
    Class,
    Obj,
    Unknown,
    Void
  };

  IrType() : kind_(Kind::Unknown) {}
  IrType(Kind kind) : kind_(kind) {}
  IrType(const IrType& other);
  IrType(IrType&&) noexcept = default;
  IrType& operator=(const IrType& other);
  IrType& operator=(IrType&&) noexcept = default;
  ~IrType() = default;

  static IrType array_of(IrType element);
  static IrType class_named(std::string name);
  static IrType from_ovra(const OvraType& type);

  Kind kind() const { return kind_; }
  bool is(Kind kind) const { return kind_ == kind; }
  const IrType& element() const { return *element_; }
  const std::string& class_name() const { return class_name_; }

  bool is_float() const { return kind_ == Kind::SingleF || kind_ == Kind::MultiF; }
  bool is_numeric() const { return kind_ == Kind::Int32 || is_float(); }
  // Strings, arrays, objects and unknown values are all opaque runtime pointers.
  bool is_pointer() const {
    return kind_ == Kind::String || kind_ == Kind::Arr || kind_ == Kind::Class ||
           kind_ == Kind::Obj || kind_ == Kind::Unknown;
  }

  bool operator==(const IrType& other) const;

 private:
  Kind kind_;
  std::unique_ptr<IrType> element_;  // set exactly for Arr
  std::string class_name_;           // set exactly for Class
};

// ---- Values ----

struct IrValue;

struct IrNumber {
  std::string text;  // exactly as written in the source
};
struct IrString {
  std::string text;  // the unescaped contents
};
struct IrBool {
  bool value = false;
};
using IrLiteral = std::variant<IrNumber, IrString, IrBool>;

enum class IrUnaryOp : std::uint8_t { Negate, Not };
enum class IrBinaryOp : std::uint8_t {
  Add,
  Subtract,
  Multiply,
  Divide,
  Modulo,
  Equal,
  NotEqual,
  Less,
  Greater,
  LessEqual,
  GreaterEqual,
  And,
  Or,
};

struct IrArrayAccessValue {
  Box<IrValue> array;
  Box<IrValue> index;
};

struct IrLiteralValue {
  IrLiteral literal;
};
struct IrIdentifier {
  std::string name;
};
struct IrUnary {
  IrUnaryOp op;
  Box<IrValue> operand;
};
struct IrBinary {
  IrBinaryOp op;
  Box<IrValue> left;
  Box<IrValue> right;
};
struct IrCall {
  std::string callee;
  std::vector<IrValue> args;
};
// Also the form of a property read (no arguments).
struct IrMethodCall {
  Box<IrValue> object;
  std::string method;
  std::vector<IrValue> args;
};
struct IrArrayAccess {
  IrArrayAccessValue access;
};
struct IrArrayLiteral {
  std::vector<IrValue> elements;
};
struct IrNewObject {
  std::string class_name;
  std::vector<IrValue> args;
};
struct IrArrayAssignment {
  IrArrayAccessValue target;
  Box<IrValue> value;
};
struct IrUnknownValue {};

struct IrValue {
  using Node =
      std::variant<IrLiteralValue, IrIdentifier, IrUnary, IrBinary, IrCall, IrMethodCall,
                   IrArrayAccess, IrArrayLiteral, IrNewObject, IrArrayAssignment, IrUnknownValue>;
  Node node;

  IrValue() : node(IrUnknownValue{}) {}
  template <class Record>
  requires kIsAlternativeOf<Record, Node> IrValue(Record record) : node(std::move(record)) {}

  template <class Record>
  bool is() const {
    return std::holds_alternative<Record>(node);
  }
  template <class Record>
  const Record* as() const {
    return std::get_if<Record>(&node);
  }
  template <class Record>
  Record* as() {
    return std::get_if<Record>(&node);
  }
};

IrValue ir_number(std::string text);
IrValue ir_string(std::string text);
IrValue ir_bool(bool value);
IrValue ir_identifier(std::string name);
IrValue ir_binary(IrBinaryOp op, IrValue left, IrValue right);
IrValue ir_call(std::string callee, std::vector<IrValue> args);

// ---- Instructions ----

struct IrInstruction;
using IrBlock = std::vector<IrInstruction>;

struct IrPush {
  IrValue value;
  IrArrayAccessValue target;
  Span span;
};
struct IrOut {
  IrArrayAccessValue target;
  std::string param_name;
  IrBlock body;
  Span span;
};
struct IrRmv {
  IrArrayAccessValue target;
  Span span;
};
using IrIntrinsic = std::variant<IrPush, IrOut, IrRmv>;

struct IrLet {
  std::string name;
  IrType ty;
  std::optional<IrValue> value;
  bool is_const = false;
  Span span;
};
struct IrStore {
  std::string name;
  IrValue value;
  Span span;
};
struct IrExpression {
  IrValue value;
  Span span;
};
struct IrReturn {
  std::optional<IrValue> value;
  Span span;
};
struct IrIf {
  IrValue condition;
  IrBlock then_block;
  std::optional<IrBlock> else_block;
  Span span;
};
struct IrWhile {
  IrValue condition;
  IrBlock body;
  Span span;
};
struct IrForLoop {
  std::optional<Box<IrInstruction>> init;
  std::optional<IrValue> condition;
  std::optional<IrValue> update;
  IrBlock body;
  Span span;
};
struct IrFor {
  IrForLoop loop;
};
struct IrIntrinsicInstruction {
  IrIntrinsic intrinsic;
};
struct IrBreak {
  Span span;
};
struct IrContinue {
  Span span;
};
struct IrTodo {
  std::string note;
  Span span;
};

struct IrInstruction {
  using Node = std::variant<IrLet, IrStore, IrExpression, IrReturn, IrIf, IrWhile, IrFor,
                            IrIntrinsicInstruction, IrBreak, IrContinue, IrTodo>;
  Node node;

  template <class Record>
  requires kIsAlternativeOf<Record, Node> IrInstruction(Record record) : node(std::move(record)) {}

  template <class Record>
  const Record* as() const {
    return std::get_if<Record>(&node);
  }
};

// ---- Module ----

struct IrParam {
  std::string name;
  IrType ty;
};

struct IrFunction {
  std::string name;
  std::vector<IrParam> params;
  IrType return_type = IrType::Kind::Void;
  IrBlock body;
  Span span;
  bool is_share = false;
};

struct IrClass {
  std::string name;
  std::vector<IrParam> fields;
  Span span;
};

struct IrGlobal {
  std::string name;
  IrType ty;
  std::optional<IrValue> value;
  bool is_const = false;
  Span span;
};

struct IrImport {
  std::string source;
  std::vector<std::string> named_imports;
  std::optional<std::string> default_import;
  std::optional<std::string> alias;
  Span span;
};

struct IrModule {
  std::vector<IrFunction> functions;
  std::vector<IrGlobal> globals;
  std::vector<IrClass> classes;
  std::vector<IrImport> imports;
  IrTarget target = IrTarget::Generic;
};

// ---- Structural rendering (the text that reaches users inside comments and notes) ----

// Unit variants print as their name, tuple variants as `Name(inner)`, record variants as
// `Name { field: value, ... }`. The `render_to` forms append, so deep trees render in linear time.
void render_to(std::string& out, IrTarget target);
void render_to(std::string& out, const IrType& type);
void render_to(std::string& out, const IrValue& value);
void render_to(std::string& out, const IrArrayAccessValue& access);
void render_to(std::string& out, const IrIntrinsic& intrinsic);
void render_to(std::string& out, const IrInstruction& instruction);
void render_to(std::string& out, const IrForLoop& loop);

template <class T>
std::string render(const T& item) {
  std::string out;
  render_to(out, item);
  return out;
}

// ---- Value typing ----

// True for a number text without a fractional part ("12", "007", "-3" from folding).
bool is_integer_text(const std::string& text);

// The type a value computes, from its operands: a comparison or a logical operator is Bool,
// arithmetic takes the wider numeric operand type (String when either side of an Add is one),
// a call has its callee's return type. `variable_type` and `function_return_type` answer for
// names; nullopt means the value cannot be typed.
struct IrTypeEnvironment {
  std::function<std::optional<IrType>(const std::string&)> variable_type;
  std::function<std::optional<IrType>(const std::string&)> function_return_type;
};
std::optional<IrType> infer_ir_type(const IrValue& value, const IrTypeEnvironment& environment);

// The callee names that built-in io calls lower to, with their result types.
std::optional<IrType> builtin_return_type(const std::string& callee);

}  // namespace ovra
