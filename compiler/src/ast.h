// The syntax tree: statements and expressions as tagged unions of owned records.
//
// Every node owns its children. Boxed children and lists copy deeply, so copying a node clones
// its whole subtree (the optimizer's inliner copies function bodies this way).
#pragma once

#include <optional>
#include <type_traits>
#include <string>
#include <variant>
#include <vector>

#include "error.h"
#include "types.h"

namespace ovra {

struct Expression;
struct Statement;

// True when Record is one of the alternatives of the variant Node.
template <class Record, class Node>
inline constexpr bool kIsNodeRecord = false;
template <class Record, class... Records>
inline constexpr bool kIsNodeRecord<Record, std::variant<Records...>> =
    (std::is_same_v<Record, Records> || ...);

struct StringValue {
  std::string text;  // the decoded content
};
struct NumberValue {
  std::string text;  // exactly as written, or as produced by constant folding
};
struct BooleanValue {
  bool value = false;
};
using LiteralValue = std::variant<StringValue, NumberValue, BooleanValue>;

enum class UnaryOperator { Negate, Not };
enum class BinaryOperator {
  Add, Subtract, Multiply, Divide, Modulo, Equal, NotEqual, Less, Greater, LessEqual,
  GreaterEqual, And, Or,
};

// ---- Expressions ----

struct Identifier {
  Span span;
  std::string name;
};
struct Literal {
  Span span;
  LiteralValue value;
  OvraType literal_type;
};
struct UnaryExpression {
  Span span;
  UnaryOperator op;
  Box<Expression> operand;
};
// `name = value` is a BinaryExpression with operator Equal and an Identifier on the left, the
// same shape that `name == value` produces.
struct BinaryExpression {
  Span span;
  Box<Expression> left;
  BinaryOperator op;
  Box<Expression> right;
};
struct FunctionCall {
  Span span;
  std::string name;
  std::vector<Expression> arguments;
};
struct ArrayAccess {
  Span span;
  Box<Expression> array;
  Box<Expression> index;
};
struct PropertyAccess {
  Span span;
  Box<Expression> object;
  std::string property;
};
struct MethodCall {
  Span span;
  Box<Expression> object;
  std::string method_name;
  std::vector<Expression> arguments;
};
struct ArrayLiteral {
  Span span;
  std::vector<Expression> elements;
};
struct NewExpression {
  Span span;
  std::string class_name;
  std::vector<Expression> arguments;
};
struct ArrayAssignment {
  Span span;
  Box<Expression> array;
  Box<Expression> index;
  Box<Expression> value;
};

struct Expression {
  using Node = std::variant<Identifier, Literal, UnaryExpression, BinaryExpression, FunctionCall,
                            ArrayAccess, PropertyAccess, MethodCall, ArrayLiteral, NewExpression,
                            ArrayAssignment>;
  Node node;

  template <class Record>
    requires kIsNodeRecord<Record, Node>
  Expression(Record record) : node(std::move(record)) {}

  const Span& span() const;
  template <class Record>
  bool is() const { return std::holds_alternative<Record>(node); }
  template <class Record>
  const Record* as() const { return std::get_if<Record>(&node); }
  template <class Record>
  Record* as() { return std::get_if<Record>(&node); }
};

// ---- Auxiliary records ----

struct Parameter {
  std::string name;
  OvraType param_type;
};
struct ClassField {
  std::string name;
  OvraType field_type;
};
struct ObjectField {
  std::string name;
  Expression value;
};
struct ObjectMethod {
  std::string name;
  std::vector<Parameter> parameters;
  OvraType return_type;
  std::vector<Statement> body;
};

// ---- Statements ----

struct VariableDeclaration {
  Span span;
  bool is_const = false;
  std::string name;
  std::optional<OvraType> var_type;
  OptionalBox<Expression> value;
};
struct FunctionDeclaration {
  Span span;
  std::string name;
  std::vector<Parameter> parameters;
  OvraType return_type;
  std::vector<Statement> body;
  bool is_share = false;
};
struct ReturnStatement {
  Span span;
  OptionalBox<Expression> value;
};
struct IfStatement {
  Span span;
  Expression condition;
  std::vector<Statement> then_branch;
  std::optional<std::vector<Statement>> else_branch;
};
struct ExpressionStatement {
  Span span;
  Expression expression;
};
struct WhileStatement {
  Span span;
  Expression condition;
  std::vector<Statement> body;
};
struct ForLoopStatement {
  Span span;
  OptionalBox<VariableDeclaration> init;
  OptionalBox<Expression> condition;
  OptionalBox<Expression> update;
  std::vector<Statement> body;
};
struct PushStatement {
  Span span;
  Expression value;
  ArrayAccess array_access;
};
struct OutStatement {
  Span span;
  ArrayAccess array_access;
  std::string param_name;
  std::vector<Statement> body;
};
struct RmvStatement {
  Span span;
  ArrayAccess array_access;
};
struct ClassDeclaration {
  Span span;
  std::string name;
  std::vector<ClassField> fields;
};
struct CrobDeclaration {
  Span span;
  std::string name;
  Expression initializer;
};
struct CrobEncapsulatedDeclaration {
  Span span;
  std::string name;
  std::string class_name;
  bool right = false;
  std::vector<ObjectField> fields;
  std::vector<ObjectMethod> methods;
};
struct RemakeStatement {
  Span span;
  std::string name;
  std::vector<ObjectField> fields;
  std::vector<ObjectMethod> methods;
};
struct ImportDeclaration {
  Span span;
  std::optional<std::string> default_import;
  std::vector<std::string> named_imports;
  std::string source;
  std::optional<std::string> alias;
  // True when the source was written as a string literal ("./m.js") rather than a dotted name;
  // the JavaScript back end emits such imports as module imports. Not part of the debug text.
  bool source_is_string = false;
};
struct ExportDeclaration {
  Span span;
  Box<Statement> declaration;  // a function or class declaration
};
struct ContinueStatement {
  Span span;
};
struct BreakStatement {
  Span span;
};

struct Statement {
  using Node = std::variant<VariableDeclaration, FunctionDeclaration, ReturnStatement, IfStatement,
                            ExpressionStatement, WhileStatement, ForLoopStatement, PushStatement,
                            OutStatement, RmvStatement, ClassDeclaration, CrobDeclaration,
                            CrobEncapsulatedDeclaration, RemakeStatement, ImportDeclaration,
                            ExportDeclaration, ContinueStatement, BreakStatement>;
  Node node;

  template <class Record>
    requires kIsNodeRecord<Record, Node>
  Statement(Record record) : node(std::move(record)) {}

  const Span& span() const;
  template <class Record>
  bool is() const { return std::holds_alternative<Record>(node); }
  template <class Record>
  const Record* as() const { return std::get_if<Record>(&node); }
  template <class Record>
  Record* as() { return std::get_if<Record>(&node); }
};

// The parser's output and every later stage's input: the top-level statements in order.
using Program = std::vector<Statement>;

// Structural debug texts: the variant name, then the record with its fields in order, e.g.
// `Expression(ExpressionStatement { span: Span { ... }, expression: Identifier(Identifier { ... }) })`.
std::string debug_text(const Statement& statement);
std::string debug_text(const Expression& expression);
std::string debug_text(const VariableDeclaration& declaration);

}  // namespace ovra
