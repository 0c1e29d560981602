// Small constructors for hand-built IR in the IR, SSA and LLVM tests.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ir/mod.h"

namespace ovra::testing_ir {

using K = IrType::Kind;
using Op = IrBinaryOp;

inline IrValue num(std::string text) {
  return ir_number(std::move(text));
}
inline IrValue str(std::string text) {
  return ir_string(std::move(text));
}
inline IrValue boolean(bool value) {
  return ir_bool(value);
}
inline IrValue id(std::string name) {
  return ir_identifier(std::move(name));
}
inline IrValue bin(Op op, IrValue left, IrValue right) {
  return ir_binary(op, std::move(left), std::move(right));
}
inline IrValue call(std::string callee, std::vector<IrValue> args = {}) {
  return ir_call(std::move(callee), std::move(args));
}
inline IrValue print(IrValue value) {
  return call("__ovra_io_print", {std::move(value)});
}
inline IrValue method(IrValue object, std::string name, std::vector<IrValue> args = {}) {
  return IrMethodCall{std::move(object), std::move(name), std::move(args)};
}

inline IrInstruction let(std::string name, IrType type, std::optional<IrValue> value) {
  return IrLet{std::move(name), std::move(type), std::move(value), false, Span{}};
}
inline IrInstruction assign(std::string name, IrValue value) {
  return IrExpression{bin(Op::Equal, id(std::move(name)), std::move(value)), Span{}};
}
inline IrInstruction expr(IrValue value) {
  return IrExpression{std::move(value), Span{}};
}
inline IrInstruction ret(std::optional<IrValue> value = std::nullopt) {
  return IrReturn{std::move(value), Span{}};
}
inline IrInstruction if_(IrValue condition, IrBlock then_block,
                         std::optional<IrBlock> else_block = std::nullopt) {
  return IrIf{std::move(condition), std::move(then_block), std::move(else_block), Span{}};
}
inline IrInstruction while_(IrValue condition, IrBlock body) {
  return IrWhile{std::move(condition), std::move(body), Span{}};
}
inline IrInstruction for_(std::optional<IrInstruction> init, std::optional<IrValue> condition,
                          std::optional<IrValue> update, IrBlock body) {
  IrForLoop loop;
  if (init)
    loop.init = Box<IrInstruction>(std::move(*init));
  loop.condition = std::move(condition);
  loop.update = std::move(update);
  loop.body = std::move(body);
  return IrFor{std::move(loop)};
}
inline IrInstruction brk() {
  return IrBreak{Span{}};
}
inline IrInstruction cont() {
  return IrContinue{Span{}};
}

inline IrFunction function(std::string name, std::vector<IrParam> params, IrType return_type,
                           IrBlock body, std::size_t line = 1) {
  IrFunction f;
  f.name = std::move(name);
  f.params = std::move(params);
  f.return_type = std::move(return_type);
  f.body = std::move(body);
  f.span = Span{line, 1, line * 100};
  return f;
}

template <class... Items>
IrBlock block(Items... items) {
  IrBlock result;
  (result.push_back(std::move(items)), ...);
  return result;
}

}  // namespace ovra::testing_ir
