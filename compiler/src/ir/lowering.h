// Lowering from the checked and optimized syntax tree to the IR.
//
// Top-level variable declarations become globals, functions become IR functions, classes and
// imports are recorded, and every other top-level statement is wrapped in a synthesized function
// named `__top_level_<line>_<column>` that the program entry calls in source order. Whatever has
// no lowering yet becomes a `Todo` instruction carrying a note.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "ast.h"
#include "ir/mod.h"

namespace ovra {

class LoweringContext {
 public:
  // `function_return_types` and `global_types` let declarations without a written type take the
  // type of their value.
  LoweringContext(IrModule& module,
                  const std::unordered_map<std::string, IrType>& function_return_types,
                  const std::unordered_map<std::string, IrType>& global_types);

  IrInstruction lower_statement(const Statement& statement);
  IrValue lower_expression(const Expression& expression);
  IrArrayAccessValue lower_array_access(const ArrayAccess& access);
  IrValue lower_method_call(const MethodCall& call);

  // The declared type, or the value's type when none is written and the value has one of the
  // plain value types; Unknown otherwise.
  IrType declaration_type(const std::optional<OvraType>& written, const IrValue* value) const;

  // Local scopes of the function being lowered (parameters in the outermost one).
  void push_scope() { scopes_.emplace_back(); }
  void pop_scope() { scopes_.pop_back(); }
  void declare(const std::string& name, IrType type) { scopes_.back()[name] = std::move(type); }

 private:
  IrBlock lower_block(const std::vector<Statement>& statements);
  std::optional<IrType> variable_type(const std::string& name) const;

  IrModule& module_;
  const std::unordered_map<std::string, IrType>& function_return_types_;
  const std::unordered_map<std::string, IrType>& global_types_;
  std::vector<std::unordered_map<std::string, IrType>> scopes_;
};

// The chain of names of a dotted expression, outermost first (`ovra.io.print` gives
// ["ovra", "io"] for the object of the call); nullopt when the expression is not such a chain.
std::optional<std::vector<std::string>> extract_ovra_path(const Expression& expression);

IrModule lower_program(const Program& program);

}  // namespace ovra
