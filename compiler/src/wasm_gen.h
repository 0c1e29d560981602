// The WebAssembly text back end: one WAT module for the integer subset of the language, with the
// database namespace lowered to calls of host functions imported from the module "ovra".
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ast.h"
#include "error.h"

namespace ovra {

// The whole WAT module for the program, or the OtherError of the first construct outside the
// subset.
Result<std::string> generate_wasm_module(const Program& program);

// The text of a number literal as a WAT constant: "i32.const 7" for a 32-bit decimal integer,
// "f64.const 2.5" for any other decimal number (shortest round-trip text, never an exponent);
// "Invalid number" otherwise.
Result<std::string> wasm_number_constant(std::string_view text);

// The value a generated instruction sequence leaves: one i32, one f64, or nothing.
enum class WasmType { I32, F64, None };

class WasmGenerator {
 public:
  // Every top-level function of the program the generated functions may call, with the number
  // its function will carry and its value types. Calls resolve through this table.
  struct Callee {
    std::uint32_t index = 0;
    std::vector<WasmType> parameters;
    WasmType result = WasmType::None;
  };

  // Assembles the module: the import block, the memory and its export, one function per
  // top-level (or exported) function declaration, the function exports and the closing ")".
  Result<std::string> generate_module(const Program& program);

  // `ovra` gives {}, `ovra.db` gives {"db"}, `ovra.db.x` gives {"db", "x"}; anything else
  // nullopt.
  static std::optional<std::vector<std::string>> extract_ovra_property_chain(
      const Expression& expression);
  // True for `ovra.db.<any>(...)`, `ovra.db.table(...).<any>(...)` and query-chain steps
  // (where, limit, insert, update, delete, orderBy, findOne, join, find) after a database call.
  static bool is_ovra_db_call(const MethodCall& call);

  void declare_callee(const std::string& name, Callee callee) {
    callees_[name] = std::move(callee);
  }

  void write(std::string_view text) { output_ += text; }
  void writeln(std::string_view text) {
    output_ += text;
    output_ += '\n';
  }
  void write_indent() { output_.append(2 * indent_level_, ' '); }

  // Appends one function at the current level and numbers it with `function_index`.
  Status generate_function(const FunctionDeclaration& declaration);
  // Appends the whole lines of one statement of the current function.
  Status generate_statement(const Statement& statement);
  // Appends the inline text of one expression as a single operand (one folded instruction).
  Status generate_expression(const Expression& expression);
  // Appends the instruction sequence of toUp/toDn/getUp/getDn; it leaves exactly one value.
  Status generate_increment_decrement_wasm(const MethodCall& call);
  // Appends the calls of a database call or query-chain step; one folded instruction.
  Status generate_ovra_db_call_wasm(const MethodCall& call);

  const std::string& output() const { return output_; }
  std::string take_output() { return std::move(output_); }
  std::uint32_t function_index() const { return function_index_; }

 private:
  // What the function being generated knows about its names.
  struct FunctionScope {
    // Parameters and hoisted locals by source name, with their value types.
    std::map<std::string, WasmType, std::less<>> locals;
    WasmType result = WasmType::None;
    bool uses_scratch = false;
  };

  Status generate_body(const std::vector<Statement>& body);
  Status generate_variable_declaration(const VariableDeclaration& declaration);
  Status generate_expression_statement(const Expression& expression);
  Status generate_if(const IfStatement& statement);
  Status generate_while(const WhileStatement& statement);
  Status generate_for_loop(const ForLoopStatement& statement);

  // Each of these appends one expression and says what it leaves.
  Result<WasmType> emit_expression(const Expression& expression);
  Result<WasmType> emit_call(const FunctionCall& call);
  Result<WasmType> emit_method_call(const MethodCall& call);
  Result<WasmType> emit_increment(const MethodCall& call);
  // Appends the expression converted to `wanted`, so that the instruction that consumes it
  // validates whatever the source types are.
  Status emit_operand(const Expression& expression, WasmType wanted);

  // The "$name" reference of a parameter or local of the current function.
  Result<std::string> local_reference(const std::string& name) const;

  void line(std::string_view text) {
    write_indent();
    writeln(text);
  }

  std::string output_;
  std::size_t indent_level_ = 0;
  std::uint32_t function_index_ = 0;
  std::map<std::string, Callee, std::less<>> callees_;
  FunctionScope scope_;
};

}  // namespace ovra
