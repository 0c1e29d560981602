// The semantic stage: scopes, symbol tables, statement checks and expression inference.
//
// `analyze` runs two passes over the top-level statements. The declaration pass fills the
// function and class tables and declares crob names; the checking pass walks every statement,
// infers expression types and records every rule violation. Errors are recorded, never thrown,
// and checking always goes on, so the caller sees all of them in the order found.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ast.h"
#include "error.h"
#include "types.h"

namespace ovra {

// One entry of the function table: what a call is checked against.
struct FunctionInfo {
  std::string name;
  std::vector<Parameter> parameters;
  OvraType return_type;
};

// One entry of the class table: the fields a property access may name.
struct ClassInfo {
  std::string name;
  std::vector<ClassField> fields;
};

// Lets the tables be searched with a string_view without building a std::string per lookup.
struct TransparentStringHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const noexcept {
    return std::hash<std::string_view>{}(text);
  }
};
template <class Value>
using NameMap = std::unordered_map<std::string, Value, TransparentStringHash, std::equal_to<>>;

// The result of inferring an expression: a type, or none when the expression cannot be typed
// (an error has then been recorded, except for an undeclared identifier).
using InferredType = std::optional<OvraType>;

class SemanticAnalyzer {
 public:
  SemanticAnalyzer() { reset(); }

  // Resets the state, runs the declaration pass and then the checking pass over the program and
  // returns every SemanticError recorded, in the order found.
  std::vector<CompilerError> analyze(const Program& program);

  // One global scope, empty tables, no errors, outside any loop.
  void reset();
  void run_declaration_pass(const Program& program);
  void run_checking_pass(const Program& program);

  // Checks one statement and everything nested in it. `expected_return` is the declared return
  // type of the enclosing function or object method, or null at top level.
  void check_statement(const Statement& statement, const OvraType* expected_return);
  void check_variable_declaration(const VariableDeclaration& declaration);

  // The type of an expression; records an error for every rule it breaks.
  InferredType infer_expression(const Expression& expression);
  InferredType infer_method_call(const MethodCall& call);
  InferredType infer_ovra_io_method_call(std::string_view method,
                                         const std::vector<Expression>& arguments,
                                         const Span& span);
  InferredType infer_db_chain_method(std::string_view method,
                                     const std::vector<Expression>& arguments, const Span& span);
  InferredType check_io_numeric(OvraType result, std::string_view method,
                                const std::vector<Expression>& arguments, const Span& span);
  // The names after `ovra` in a receiver such as `ovra.io` (empty for `ovra` itself); none when
  // the expression is not a property path rooted at the identifier `ovra`.
  static std::optional<std::vector<std::string>> extract_ovra_property_chain(
      const Expression& expression);

  // Declares `name` in the innermost scope, replacing an entry of the same name there.
  void set_variable(std::string name, OvraType type);
  bool is_variable_declared(std::string_view name) const;
  // The type of the innermost scope that declares `name`, or null.
  const OvraType* lookup_variable(std::string_view name) const;
  void push_scope();
  // Removes the innermost scope, but never the global one.
  void pop_scope();

  void error_at_span(std::string message, std::size_t line, std::size_t column);
  void error_at(std::string message, const Span& span) {
    error_at_span(std::move(message), span.line, span.column);
  }

  static bool is_assignable(const OvraType& target, const OvraType& value) {
    return ovra::is_assignable(target, value);
  }
  static std::string type_to_string(const OvraType& type) { return type.to_string(); }

  const std::vector<CompilerError>& errors() const { return errors_; }
  const NameMap<FunctionInfo>& functions() const { return functions_; }
  const NameMap<ClassInfo>& classes() const { return classes_; }
  std::size_t scope_depth() const { return scopes_.size(); }
  bool in_loop() const { return in_loop_; }

 private:
  void check_function_body(const std::vector<Parameter>& parameters,
                           const std::vector<Statement>& body, const OvraType& return_type);
  void check_object_members(const std::vector<ObjectField>& fields,
                            const std::vector<ObjectMethod>& methods);
  void check_duplicate_fields(const ClassDeclaration& declaration);
  void check_condition(const Expression& condition, std::string_view statement_name);
  void check_block(const std::vector<Statement>& body, const OvraType* expected_return);

  InferredType infer_unary(const UnaryExpression& unary);
  InferredType infer_binary(const BinaryExpression& binary);
  InferredType infer_function_call(const FunctionCall& call);
  InferredType infer_array_access(const ArrayAccess& access);
  InferredType infer_property_access(const PropertyAccess& access);
  InferredType infer_array_literal(const ArrayLiteral& literal);
  InferredType infer_new(const NewExpression& expression);
  InferredType infer_array_assignment(const ArrayAssignment& assignment);

  // Method calls. `is_chain_step` reports whether the call has the shape of a query-chain step
  // (receiver `ovra.db.table(...)` or another step), which the next call in a chain needs.
  InferredType infer_method_call_with_shape(const MethodCall& call, bool& is_chain_step);
  InferredType infer_ovra_method_call(const MethodCall& call);
  InferredType infer_ovra_db_method_call(const MethodCall& call);
  InferredType infer_language_method(const MethodCall& call, const OvraType& receiver);
  InferredType infer_single_string_call(const MethodCall& call, OvraType result);
  void infer_all(const std::vector<Expression>& expressions);

  // The scope stack, kept as one table from each name to its declarations, innermost last, plus
  // the list of declarations each open scope made. A lookup hashes the name once however deep
  // the stack is, and popping a scope touches only what that scope declared.
  struct Binding {
    std::size_t scope = 0;  // index of the declaring scope in `scopes_`
    OvraType type;
  };
  NameMap<std::vector<Binding>> bindings_;
  std::vector<std::vector<std::vector<Binding>*>> scopes_;
  std::vector<CompilerError> errors_;
  NameMap<FunctionInfo> functions_;
  NameMap<ClassInfo> classes_;
  bool in_loop_ = false;
  std::size_t statement_depth_ = 0;  // statements being checked, the outermost included
};

}  // namespace ovra
