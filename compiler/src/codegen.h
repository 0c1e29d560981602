// The JavaScript and TypeScript back end: a single-pass tree walker that appends the text of
// every statement and expression to one growing buffer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ast.h"
#include "types.h"

namespace ovra {

// The runtime prelude that defines the global `ovra` object. The TypeScript text behaves the
// same; it only carries what tsc needs to accept untyped host code. Ends with "\n\n".
std::string_view runtime_prelude(CompileTarget target);

// The receiver's path into the built-in namespace: `ovra` gives {}, `ovra.io` gives {"io"},
// `ovra.data.map` gives {"data", "map"}; anything else gives nullopt.
std::optional<std::vector<std::string_view>> extract_ovra_property_chain(const Expression& e);

// True when `e` is a step of a database query chain: `ovra.db.table(...)` followed by any
// number of where/limit/insert/update/delete/orderBy/findOne/join/find calls.
bool is_db_chain_call(const Expression& e);

// Whether the emitted text of a method call starts with the emitted text of its receiver
// (`s.endsWith(x)`), as opposed to a fixed word (`parseInt(...)`, `ovra.cwd()`, `(...)`).
bool method_call_text_begins_with_receiver(const MethodCall& call);

// Whether the emitted text of `expression` starts with "-".
bool emitted_text_begins_with_minus(const Expression& expression);

// Whether JavaScript rejects `name` as a binding name (`default`, `this`, `undefined`, ...).
bool is_reserved_in_javascript(std::string_view name);
// The name as the emitted JavaScript writes it: reserved words get a "$" appended.
std::string javascript_name(std::string_view name);

// `text` as a double-quoted JavaScript string literal that keeps its content.
void append_js_string_literal(std::string& out, std::string_view text);

class CodeGenerator {
 public:
  // `target` is JavaScript or TypeScript.
  explicit CodeGenerator(CompileTarget target);

  // The whole output file: the runtime prelude when the program uses `ovra`, then every
  // top-level statement followed by an empty line.
  std::string generate(const Program& program);

 private:
  // Where a Binary Equal with an Identifier on the left means assignment: only as the whole
  // expression of an expression statement or of a for-loop update; everywhere else it is `===`.
  enum class Position { Value, Statement };

  void write(std::string_view text) { output_ += text; }
  void write_indent() { output_.append(2 * indent_level_, ' '); }
  // A variable, function, parameter or class name.
  void write_number(std::string_view text);
  void write_name(std::string_view name);

  void visit_statement(const Statement& statement);
  void visit_block(const std::vector<Statement>& body);
  void visit_variable_declaration(const VariableDeclaration& declaration);
  void visit_function_declaration(const FunctionDeclaration& declaration);
  void visit_class_declaration(const ClassDeclaration& declaration);
  void visit_object_members(std::string_view object, const std::vector<ObjectField>& fields,
                            const std::vector<ObjectMethod>& methods);
  void visit_import_declaration(const ImportDeclaration& declaration);

  void visit_expression(const Expression& expression, Position position = Position::Value);
  void visit_arguments(const std::vector<Expression>& arguments);
  void visit_first_argument(const std::vector<Expression>& arguments);
  void visit_binary(const BinaryExpression& binary, Position position);
  void visit_unary(const UnaryExpression& unary);
  void visit_method_call(const MethodCall& call);
  // toUp/toDn/getUp/getDn; false when the call is not one of them.
  bool visit_increment_call(const MethodCall& call);

  std::string output_;
  std::size_t indent_level_ = 0;
  std::size_t object_method_depth_ = 0;  // > 0 inside the body of an object-form method
  std::uint64_t temp_counter_ = 0;
  bool plain_javascript_;
  // Set whenever the emitted text refers to the global `ovra`, which the prelude defines.
  bool needs_runtime_ = false;
};

}  // namespace ovra
