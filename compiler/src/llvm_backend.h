// LLVM IR text emission from the SSA module.
//
// Every string, array, object and boxed value is an opaque pointer handled by the native runtime
// library through the `ovra_rt_*` functions declared at the top of each module. What the back end
// cannot express yet is written as a comment line instead of failing.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "error.h"
#include "ir/ssa.h"

namespace ovra {

class LLVMBackend {
 public:
  // The module's text, or an IoError carrying the emitter's failure message.
  Result<std::string> emit_module(const SsaModule& module);

  // The private constant holding `text` (".ovra_strN", numbered in order of first use) and its
  // length in bytes including the terminating zero.
  std::pair<std::string, std::size_t> intern_string_global(const std::string& text);

  // An LLVM operand: its text and the type of the value it holds.
  struct Operand {
    std::string text;
    IrType type;
  };

 private:
  struct FunctionSignature {
    std::vector<IrType> params;
    IrType return_type;
  };

  Status emit_function(const SsaFunction& function, std::string& out);
  void emit_instruction(const SsaInstruction& instruction, std::string& out);
  // Defines `dest` as a copy of `v`, in the copy form of its type.
  void copy_into(const std::string& dest, const IrType& type, const std::string& v, std::string& out);
  void emit_assign(const SsaAssign& assign, std::string& out);
  void emit_terminator(const SsaTerminator& terminator, std::string& out);

  // The value converted to `expected`; nullopt when it cannot be produced.
  std::optional<Operand> emit_operand(const IrValue& value, const IrType& expected,
                                      std::string& out);
  // The value in the type it computes.
  std::optional<Operand> emit_value(const IrValue& value, std::string& out);
  // `dest` names the result when its type matches `dest_type` (or `dest_type` is null); empty
  // means a fresh temporary, and "-" asks emit_call for no result at all.
  std::optional<Operand> emit_binary(const IrBinary& binary, const std::string& dest,
                                     const IrType* dest_type, std::string& out);
  std::optional<Operand> emit_call(const IrCall& call, const std::string& dest,
                                   const IrType* dest_type, std::string& out);
  std::optional<Operand> emit_method_call(const IrMethodCall& call, std::string& out);
  std::optional<Operand> emit_array_set(const IrArrayAssignment& assignment, std::string& out);
  std::optional<Operand> emit_value_to_rt_value(const IrValue& value, std::string& out);
  std::optional<Operand> emit_value_to_string(const IrValue& value, std::string& out);
  std::optional<std::string> emit_argument_array(const std::vector<IrValue>& args,
                                                 std::string& out);
  std::string emit_string_literal_helper(const std::string& text, std::string& out);
  // `operand` in `target`'s type; `dest` names the result when a conversion is needed.
  Operand convert(Operand operand, const IrType& target, const std::string& dest, std::string& out);
  Operand to_rt_value(Operand operand, std::string& out);
  Operand to_rt_string(Operand operand, std::string& out);

  std::optional<IrType> adaptive_type(const IrValue& value) const;
  bool is_adaptive(const IrValue& value) const;
  std::optional<IrType> known_value_type(const std::string& name) const;

  std::string fresh_tmp();
  std::string value_name(const std::string& name) const;
  // "%" followed by the name, and a fresh "%tmpN".
  std::string register_name(const std::string& name) const;
  std::string fresh_register();

  std::vector<IrGlobal> globals_;
  std::optional<std::string> source_path_;
  std::unordered_map<std::string, FunctionSignature> function_signatures_;
  std::map<std::string, std::pair<std::string, std::size_t>> string_literals_;
  std::vector<std::string> string_order_;
  std::unordered_map<std::string, IrType> value_types_;
  std::unordered_map<std::string, IrType> global_types_;
  std::size_t tmp_counter_ = 0;
  std::size_t string_counter_ = 0;
  std::size_t metadata_counter_ = 0;
  IrTarget target_ = IrTarget::Generic;
  // The debug location attached to calls of defined functions inside the current function.
  std::optional<std::size_t> current_location_;
  IrType current_return_type_ = IrType::Kind::Void;
};

// `name` as an LLVM identifier body: bare when LLVM accepts it so, otherwise in double quotes.
std::string llvm_identifier(const std::string& name);

// The constant text of a number literal in `type` (i32, i1, float or double).
std::string llvm_number_constant(const std::string& text, const IrType& type);

}  // namespace ovra
