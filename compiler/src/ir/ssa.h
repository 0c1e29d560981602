// SSA form: each IR function flattened into labelled basic blocks in which every assignment
// defines a fresh versioned name.
//
// The builder walks the structured IR once, creating blocks (`entry`, then `base_N` numbered in
// creation order) and versions (`x_ssaN`, numbered per variable). Phis are then placed at the
// iterated dominance frontiers of each variable's definitions and every use is renamed to the
// version that reaches it along the dominator tree, so a use after a merge or inside a loop reads
// the phi. Phis nobody reads are dropped.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "ir/mod.h"

namespace ovra {

struct SsaAssign {
  std::string name;  // the source variable
  std::string dest;  // the SSA name it defines
  IrType ty;
  IrValue value;
  bool is_const = false;
};
// A write to a name that is not a local of the function (a global).
struct SsaStore {
  std::string name;
  IrValue value;
};
struct SsaExpression {
  IrValue value;
};
struct SsaIntrinsic {
  IrIntrinsic intrinsic;
};
struct SsaComment {
  std::string text;
};
// An incoming value name is empty when no definition reaches the end of that predecessor.
struct SsaPhi {
  std::string name;
  std::string dest;
  std::vector<std::pair<std::string, std::string>> incoming;  // (block label, value name)
  IrType ty;
};

struct SsaInstruction {
  using Node = std::variant<SsaAssign, SsaStore, SsaExpression, SsaIntrinsic, SsaComment, SsaPhi>;
  Node node;

  template <class Record>
  requires kIsAlternativeOf<Record, Node> SsaInstruction(Record record) : node(std::move(record)) {}

  template <class Record>
  const Record* as() const {
    return std::get_if<Record>(&node);
  }
};

struct SsaReturn {
  std::optional<IrValue> value;
};
struct SsaJump {
  std::string target;
};
struct SsaBranch {
  IrValue condition;
  std::string then_label;
  std::string else_label;
};
using SsaTerminator = std::variant<SsaReturn, SsaJump, SsaBranch>;

struct SsaBasicBlock {
  std::string label;
  std::vector<SsaInstruction> instructions;
  std::optional<SsaTerminator> terminator;  // absent while the block is open
};

struct SsaFunction {
  std::string name;
  std::vector<IrParam> params;
  IrType return_type = IrType::Kind::Void;
  std::vector<SsaBasicBlock> blocks;  // in creation order; the first is the entry block
  Span span;

  static SsaFunction from_ir(const IrFunction& function);
};

struct SsaModule {
  std::vector<SsaFunction> functions;
  std::vector<IrGlobal> globals;
  std::vector<IrClass> classes;
  std::vector<IrImport> imports;
  IrTarget target = IrTarget::Generic;

  static SsaModule from_ir(const IrModule& module);
};

// A compact listing of a function's blocks, one instruction per line, for tests and debugging:
//   while_cond_1:
//     phi i_ssa3: Int32 = [entry: i_ssa1, while_body_2: i_ssa2]
//     br Binary { ... } ? while_body_2 : while_exit_3
std::string render_blocks(const SsaFunction& function);

}  // namespace ovra
