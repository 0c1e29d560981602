#include "ir/ssa.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <unordered_map>

namespace ovra {

namespace {

// While a function is built, a use of a local variable is written as kLocalMarker followed by
// the variable's index, so later renaming can tell locals from globals even when both share a
// name; a placed phi is referred to as kPhiMarker followed by its index until it gets its final
// name. Neither character can appear in a source identifier.
constexpr char kLocalMarker = '\x01';
constexpr char kPhiMarker = '\x03';

std::string marker(char kind, std::size_t index) {
  return kind + std::to_string(index);
}

bool has_marker(const std::string& name, char kind) {
  return !name.empty() && name[0] == kind;
}

std::size_t marker_index(const std::string& name) {
  return static_cast<std::size_t>(std::strtoull(name.c_str() + 1, nullptr, 10));
}

// Calls `f(name)` on every identifier name inside the value, outermost first, left to right.
template <class F>
void for_each_identifier(IrValue& value, F& f) {
  std::visit(Overloaded{
                 [&](IrLiteralValue&) {},
                 [&](IrIdentifier& identifier) { f(identifier.name); },
                 [&](IrUnary& unary) { for_each_identifier(*unary.operand, f); },
                 [&](IrBinary& binary) {
                   for_each_identifier(*binary.left, f);
                   for_each_identifier(*binary.right, f);
                 },
                 [&](IrCall& call) {
                   for (IrValue& arg : call.args)
                     for_each_identifier(arg, f);
                 },
                 [&](IrMethodCall& call) {
                   for_each_identifier(*call.object, f);
                   for (IrValue& arg : call.args)
                     for_each_identifier(arg, f);
                 },
                 [&](IrArrayAccess& access) {
                   for_each_identifier(*access.access.array, f);
                   for_each_identifier(*access.access.index, f);
                 },
                 [&](IrArrayLiteral& literal) {
                   for (IrValue& element : literal.elements)
                     for_each_identifier(element, f);
                 },
                 [&](IrNewObject& object) {
                   for (IrValue& arg : object.args)
                     for_each_identifier(arg, f);
                 },
                 [&](IrArrayAssignment& assignment) {
                   for_each_identifier(*assignment.target.array, f);
                   for_each_identifier(*assignment.target.index, f);
                   for_each_identifier(*assignment.value, f);
                 },
                 [&](IrUnknownValue&) {},
             },
             value.node);
}

template <class F>
void for_each_identifier(IrArrayAccessValue& access, F& f) {
  for_each_identifier(*access.array, f);
  for_each_identifier(*access.index, f);
}

// Every value an instruction reads (the body of an `out` stays IR and is not visited).
template <class F>
void for_each_instruction_identifier(SsaInstruction& instruction, F& f) {
  std::visit(Overloaded{
                 [&](SsaAssign& assign) { for_each_identifier(assign.value, f); },
                 [&](SsaStore& store) { for_each_identifier(store.value, f); },
                 [&](SsaExpression& expression) { for_each_identifier(expression.value, f); },
                 [&](SsaIntrinsic& intrinsic) {
                   std::visit(Overloaded{
                                  [&](IrPush& push) {
                                    for_each_identifier(push.value, f);
                                    for_each_identifier(push.target, f);
                                  },
                                  [&](IrOut& out) { for_each_identifier(out.target, f); },
                                  [&](IrRmv& rmv) { for_each_identifier(rmv.target, f); },
                              },
                              intrinsic.intrinsic);
                 },
                 [&](SsaComment&) {},
                 [&](SsaPhi&) {},
             },
             instruction.node);
}

template <class F>
void for_each_terminator_identifier(SsaTerminator& terminator, F& f) {
  std::visit(Overloaded{
                 [&](SsaReturn& ret) {
                   if (ret.value)
                     for_each_identifier(*ret.value, f);
                 },
                 [&](SsaJump&) {},
                 [&](SsaBranch& branch) { for_each_identifier(branch.condition, f); },
             },
             terminator);
}

struct LoopContext {
  std::string exit_label;
  std::string continue_label;
};

// A local variable of the function: one per declaration scope, so a shadowing declaration in an
// inner block is a different variable from the one it hides.
struct LocalVariable {
  std::string name;
  IrType ty;
  std::size_t scope_depth = 0;
};

// A phi placed at a dominance frontier.
struct PlacedPhi {
  std::size_t block = 0;
  std::size_t variable = 0;
  bool live = false;
  std::string final_name;
};

class SsaBuilder {
 public:
  SsaFunction build(const IrFunction& function) {
    blocks_.push_back(SsaBasicBlock{"entry", {}, std::nullopt});
    scopes_.emplace_back();
    for (const IrParam& param : function.params) {
      std::size_t variable = declare(param.name, param.ty);
      parameter_variables_.push_back(variable);
    }
    for (const IrInstruction& instruction : function.body)
      handle_instruction(instruction);
    for (SsaBasicBlock& block : blocks_) {
      if (!block.terminator)
        block.terminator = SsaReturn{};
    }
    place_and_rename(function);
    SsaFunction result;
    result.name = function.name;
    result.params = function.params;
    result.return_type = function.return_type;
    result.blocks = std::move(blocks_);
    result.span = function.span;
    return result;
  }

 private:
  // ---- Building ----

  SsaBasicBlock& current() { return blocks_[current_]; }

  std::size_t new_block(const char* base) {
    ++block_counter_;
    blocks_.push_back(
        SsaBasicBlock{std::string(base) + "_" + std::to_string(block_counter_), {}, std::nullopt});
    return blocks_.size() - 1;
  }

  const std::string& label(std::size_t block) const { return blocks_[block].label; }

  std::string new_ssa_name(const std::string& variable) {
    unsigned& counter = ssa_counters_[variable];
    ++counter;
    return variable + "_ssa" + std::to_string(counter);
  }

  void open_block_if_needed() {
    if (current().terminator)
      current_ = new_block("block");
  }

  void append(SsaInstruction instruction) {
    open_block_if_needed();
    current().instructions.push_back(std::move(instruction));
  }

  void ensure_branch_to(std::size_t block, const std::string& target) {
    if (!blocks_[block].terminator)
      blocks_[block].terminator = SsaJump{target};
  }

  void push_scope() { scopes_.emplace_back(); }

  void pop_scope() {
    for (const std::string& name : scopes_.back()) {
      std::vector<std::size_t>& stack = visible_[name];
      stack.pop_back();
    }
    scopes_.pop_back();
  }

  std::optional<std::size_t> visible_variable(const std::string& name) const {
    auto found = visible_.find(name);
    if (found == visible_.end() || found->second.empty())
      return std::nullopt;
    return found->second.back();
  }

  // A declaration in the scope that already declares the name redefines that variable;
  // otherwise it starts a new one that hides any outer variable of the same name.
  std::size_t declare(const std::string& name, const IrType& type) {
    std::optional<std::size_t> existing = visible_variable(name);
    if (existing && variables_[*existing].scope_depth == scopes_.size()) {
      variables_[*existing].ty = type;
      return *existing;
    }
    variables_.push_back(LocalVariable{name, type, scopes_.size()});
    visible_[name].push_back(variables_.size() - 1);
    scopes_.back().push_back(name);
    return variables_.size() - 1;
  }

  // A copy of the value in which every name of a visible local refers to that local.
  IrValue rename_value(const IrValue& value) {
    IrValue copy = value;
    auto resolve = [this](std::string& name) {
      if (std::optional<std::size_t> variable = visible_variable(name)) {
        name = marker(kLocalMarker, *variable);
      }
    };
    for_each_identifier(copy, resolve);
    return copy;
  }

  IrArrayAccessValue rename_access(const IrArrayAccessValue& access) {
    return IrArrayAccessValue{rename_value(*access.array), rename_value(*access.index)};
  }

  void define(std::size_t variable, IrValue value, bool is_const) {
    const LocalVariable& local = variables_[variable];
    std::string dest = new_ssa_name(local.name);
    definition_variables_.emplace(dest, variable);
    append(SsaAssign{local.name, std::move(dest), local.ty, std::move(value), is_const});
  }

  // `a || b` and `a && b` assigned to a bool evaluate their right side only when needed.
  std::optional<IrValue> handle_short_circuit(const IrValue& value, const IrType& type) {
    if (!type.is(IrType::Kind::Bool))
      return std::nullopt;
    const auto* binary = value.as<IrBinary>();
    if (!binary || (binary->op != IrBinaryOp::Or && binary->op != IrBinaryOp::And)) {
      return std::nullopt;
    }
    bool is_or = binary->op == IrBinaryOp::Or;
    const std::string prefix = is_or ? "or" : "and";
    open_block_if_needed();
    std::string left = new_ssa_name(prefix + "_left");
    append(
        SsaAssign{prefix + "_left", left, IrType::Kind::Bool, rename_value(*binary->left), false});
    std::size_t constant_block;
    std::size_t right_block;
    std::size_t merge;
    if (is_or) {
      constant_block = new_block("or_true");
      right_block = new_block("or_false");
      merge = new_block("or_merge");
      current().terminator =
          SsaBranch{ir_identifier(left), label(constant_block), label(right_block)};
    } else {
      constant_block = new_block("and_false");
      right_block = new_block("and_true");
      merge = new_block("and_merge");
      current().terminator =
          SsaBranch{ir_identifier(left), label(right_block), label(constant_block)};
    }
    const std::string constant_name = is_or ? "or_true_val" : "and_false_val";
    const std::string right_name = prefix + "_right";
    std::string constant = new_ssa_name(constant_name);
    blocks_[constant_block].instructions.push_back(
        SsaAssign{constant_name, constant, IrType::Kind::Bool, ir_bool(is_or), false});
    ensure_branch_to(constant_block, label(merge));
    std::string right = new_ssa_name(right_name);
    blocks_[right_block].instructions.push_back(
        SsaAssign{right_name, right, IrType::Kind::Bool, rename_value(*binary->right), false});
    ensure_branch_to(right_block, label(merge));
    std::string result = new_ssa_name(prefix + "_result");
    std::vector<std::pair<std::string, std::string>> incoming;
    if (constant_block < right_block) {
      incoming = {{label(constant_block), constant}, {label(right_block), right}};
    } else {
      incoming = {{label(right_block), right}, {label(constant_block), constant}};
    }
    blocks_[merge].instructions.push_back(
        SsaPhi{prefix + "_result", result, std::move(incoming), IrType::Kind::Bool});
    current_ = merge;
    return ir_identifier(result);
  }

  void lower_store(const std::string& name, const IrValue& value) {
    open_block_if_needed();
    std::optional<std::size_t> variable = visible_variable(name);
    if (!variable) {
      // Not a local: the global of that name is written in place.
      append(SsaStore{name, rename_value(value)});
      return;
    }
    std::optional<IrValue> short_circuit = handle_short_circuit(value, variables_[*variable].ty);
    define(*variable, short_circuit ? std::move(*short_circuit) : rename_value(value), false);
  }

  void handle_block(const IrBlock& block) {
    push_scope();
    for (const IrInstruction& instruction : block)
      handle_instruction(instruction);
    pop_scope();
  }

  void handle_expression(const IrValue& value) {
    if (const auto* call = value.as<IrMethodCall>()) {
      const auto* object = call->object->as<IrIdentifier>();
      bool up = call->method == "getUp" || call->method == "toUp";
      bool down = call->method == "getDn" || call->method == "toDn";
      if (object && (up || down)) {
        IrValue step = call->args.empty() ? ir_number("1") : call->args.front();
        lower_store(object->name, ir_binary(up ? IrBinaryOp::Add : IrBinaryOp::Subtract,
                                            ir_identifier(object->name), std::move(step)));
        return;
      }
    }
    if (const auto* binary = value.as<IrBinary>()) {
      if (binary->op == IrBinaryOp::Equal) {
        if (const auto* target = binary->left->as<IrIdentifier>()) {
          lower_store(target->name, *binary->right);
          return;
        }
      }
    }
    append(SsaExpression{rename_value(value)});
  }

  void handle_instruction(const IrInstruction& instruction) {
    std::visit(
        Overloaded{
            [&](const IrLet& let) {
              open_block_if_needed();
              IrValue value;
              if (let.value) {
                std::optional<IrValue> short_circuit = handle_short_circuit(*let.value, let.ty);
                value = short_circuit ? std::move(*short_circuit) : rename_value(*let.value);
              }
              define(declare(let.name, let.ty), std::move(value), let.is_const);
            },
            [&](const IrStore& store) { lower_store(store.name, store.value); },
            [&](const IrExpression& expression) { handle_expression(expression.value); },
            [&](const IrReturn& ret) {
              open_block_if_needed();
              std::optional<IrValue> value;
              if (ret.value)
                value = rename_value(*ret.value);
              current().terminator = SsaReturn{std::move(value)};
              current_ = new_block("after_ret");
            },
            [&](const IrIf& if_instruction) {
              open_block_if_needed();
              IrValue condition = rename_value(if_instruction.condition);
              std::size_t then_block = new_block("then");
              std::size_t merge = new_block("merge");
              std::optional<std::size_t> else_block;
              if (if_instruction.else_block)
                else_block = new_block("else");
              current().terminator = SsaBranch{std::move(condition), label(then_block),
                                               label(else_block ? *else_block : merge)};
              current_ = then_block;
              handle_block(if_instruction.then_block);
              ensure_branch_to(current_, label(merge));
              if (else_block) {
                current_ = *else_block;
                handle_block(*if_instruction.else_block);
                ensure_branch_to(current_, label(merge));
              }
              current_ = merge;
            },
            [&](const IrWhile& while_instruction) {
              IrValue condition = rename_value(while_instruction.condition);
              std::size_t header = new_block("while_cond");
              std::size_t body = new_block("while_body");
              std::size_t exit = new_block("while_exit");
              open_block_if_needed();
              ensure_branch_to(current_, label(header));
              blocks_[header].terminator =
                  SsaBranch{std::move(condition), label(body), label(exit)};
              loops_.push_back(LoopContext{label(exit), label(header)});
              current_ = body;
              handle_block(while_instruction.body);
              ensure_branch_to(current_, label(header));
              if (loops_.empty())
                throw std::logic_error("loop context must exist for while");
              loops_.pop_back();
              current_ = exit;
            },
            [&](const IrFor& for_instruction) {
              const IrForLoop& loop = for_instruction.loop;
              push_scope();
              if (loop.init)
                handle_instruction(**loop.init);
              std::size_t header = new_block("for_cond");
              std::size_t body = new_block("for_body");
              std::optional<std::size_t> update;
              if (loop.update)
                update = new_block("for_update");
              std::size_t exit = new_block("for_exit");
              open_block_if_needed();
              ensure_branch_to(current_, label(header));
              IrValue condition = loop.condition ? rename_value(*loop.condition) : ir_bool(true);
              blocks_[header].terminator =
                  SsaBranch{std::move(condition), label(body), label(exit)};
              loops_.push_back(LoopContext{label(exit), label(update ? *update : header)});
              current_ = body;
              handle_block(loop.body);
              if (update) {
                ensure_branch_to(current_, label(*update));
                current_ = *update;
                handle_expression(*loop.update);
              }
              ensure_branch_to(current_, label(header));
              if (loops_.empty())
                throw std::logic_error("loop context must exist for for");
              loops_.pop_back();
              current_ = exit;
              pop_scope();
            },
            [&](const IrIntrinsicInstruction& intrinsic) {
              IrIntrinsic renamed = std::visit(
                  Overloaded{
                      [&](const IrPush& push) -> IrIntrinsic {
                        return IrPush{rename_value(push.value), rename_access(push.target),
                                      push.span};
                      },
                      [&](const IrOut& out) -> IrIntrinsic {
                        return IrOut{rename_access(out.target), out.param_name, out.body, out.span};
                      },
                      [&](const IrRmv& rmv) -> IrIntrinsic {
                        return IrRmv{rename_access(rmv.target), rmv.span};
                      },
                  },
                  intrinsic.intrinsic);
              append(SsaIntrinsic{std::move(renamed)});
            },
            [&](const IrBreak&) {
              if (loops_.empty()) {
                append(SsaComment{"break outside loop (ignored)"});
                return;
              }
              open_block_if_needed();
              current().terminator = SsaJump{loops_.back().exit_label};
              current_ = new_block("after_break");
            },
            [&](const IrContinue&) {
              if (loops_.empty()) {
                append(SsaComment{"continue outside loop (ignored)"});
                return;
              }
              open_block_if_needed();
              current().terminator = SsaJump{loops_.back().continue_label};
              current_ = new_block("after_continue");
            },
            [&](const IrTodo& todo) { append(SsaComment{todo.note}); },
        },
        instruction.node);
  }

  // ---- Phi placement and renaming ----

  std::optional<std::size_t> assigned_variable(const SsaInstruction& instruction) const {
    const auto* assign = instruction.as<SsaAssign>();
    if (!assign)
      return std::nullopt;
    auto found = definition_variables_.find(assign->dest);
    if (found == definition_variables_.end())
      return std::nullopt;
    return found->second;
  }

  void place_and_rename(const IrFunction& function) {
    const std::size_t block_count = blocks_.size();
    const std::size_t variable_count = variables_.size();

    // Control-flow graph; a label names the first block that carries it.
    std::unordered_map<std::string, std::size_t> block_by_label;
    for (std::size_t b = 0; b < block_count; ++b)
      block_by_label.emplace(blocks_[b].label, b);
    std::vector<std::vector<std::size_t>> successors(block_count);
    std::vector<std::vector<std::size_t>> predecessors(block_count);
    // For each successor edge of a block, its index among the successor's predecessors.
    std::vector<std::vector<std::size_t>> edge_position(block_count);
    for (std::size_t b = 0; b < block_count; ++b) {
      auto add = [&](const std::string& target) {
        auto found = block_by_label.find(target);
        if (found != block_by_label.end())
          successors[b].push_back(found->second);
      };
      std::visit(Overloaded{
                     [&](const SsaReturn&) {},
                     [&](const SsaJump& jump) { add(jump.target); },
                     [&](const SsaBranch& branch) {
                       add(branch.then_label);
                       add(branch.else_label);
                     },
                 },
                 *blocks_[b].terminator);
      for (std::size_t s : successors[b]) {
        edge_position[b].push_back(predecessors[s].size());
        predecessors[s].push_back(b);
      }
    }

    // Reverse postorder of the blocks reachable from the entry.
    constexpr std::size_t kUnreached = static_cast<std::size_t>(-1);
    std::vector<std::size_t> order_number(block_count, kUnreached);
    std::vector<std::size_t> postorder;
    {
      std::vector<bool> seen(block_count, false);
      std::vector<std::pair<std::size_t, std::size_t>> stack{{0, 0}};
      seen[0] = true;
      while (!stack.empty()) {
        auto& [block, next] = stack.back();
        if (next < successors[block].size()) {
          std::size_t s = successors[block][next++];
          if (!seen[s]) {
            seen[s] = true;
            stack.push_back({s, 0});
          }
        } else {
          postorder.push_back(block);
          stack.pop_back();
        }
      }
    }
    std::vector<std::size_t> reverse_postorder(postorder.rbegin(), postorder.rend());
    for (std::size_t i = 0; i < reverse_postorder.size(); ++i) {
      order_number[reverse_postorder[i]] = i;
    }
    auto reachable = [&](std::size_t b) { return order_number[b] != kUnreached; };

    // Immediate dominators by the iterative intersection method over reverse postorder.
    std::vector<std::size_t> idom(block_count, kUnreached);
    idom[0] = 0;
    for (bool changed = true; changed;) {
      changed = false;
      for (std::size_t i = 1; i < reverse_postorder.size(); ++i) {
        std::size_t b = reverse_postorder[i];
        std::size_t new_idom = kUnreached;
        for (std::size_t p : predecessors[b]) {
          if (idom[p] == kUnreached)
            continue;
          if (new_idom == kUnreached) {
            new_idom = p;
            continue;
          }
          std::size_t x = p;
          std::size_t y = new_idom;
          while (x != y) {
            while (order_number[x] > order_number[y])
              x = idom[x];
            while (order_number[y] > order_number[x])
              y = idom[y];
          }
          new_idom = x;
        }
        if (idom[b] != new_idom) {
          idom[b] = new_idom;
          changed = true;
        }
      }
    }

    // Dominance frontiers: walk up from each predecessor of a join to the join's dominator.
    std::vector<std::vector<std::size_t>> frontier(block_count);
    for (std::size_t b = 0; b < block_count; ++b) {
      if (!reachable(b) || predecessors[b].size() < 2)
        continue;
      for (std::size_t p : predecessors[b]) {
        if (!reachable(p))
          continue;
        for (std::size_t runner = p; runner != idom[b]; runner = idom[runner]) {
          if (frontier[runner].empty() || frontier[runner].back() != b) {
            frontier[runner].push_back(b);
          }
          if (runner == 0)
            break;
        }
      }
    }

    // Definition sites, and the variables read in a block before any definition in it: only
    // those can need a phi.
    std::vector<std::vector<std::size_t>> definition_blocks(variable_count);
    std::vector<bool> crosses_blocks(variable_count, false);
    {
      std::vector<std::size_t> defined_in(variable_count, kUnreached);
      for (std::size_t b = 0; b < block_count; ++b) {
        auto note_use = [&](std::string& name) {
          if (!has_marker(name, kLocalMarker))
            return;
          std::size_t variable = marker_index(name);
          if (defined_in[variable] != b)
            crosses_blocks[variable] = true;
        };
        for (SsaInstruction& instruction : blocks_[b].instructions) {
          for_each_instruction_identifier(instruction, note_use);
          if (std::optional<std::size_t> variable = assigned_variable(instruction)) {
            if (defined_in[*variable] != b && reachable(b)) {
              definition_blocks[*variable].push_back(b);
            }
            defined_in[*variable] = b;
          }
        }
        for_each_terminator_identifier(*blocks_[b].terminator, note_use);
      }
    }

    // Iterated dominance frontiers, per variable.
    std::vector<PlacedPhi> phis;
    std::vector<std::vector<std::size_t>> phis_in_block(block_count);
    {
      std::vector<std::size_t> has_phi(block_count, kUnreached);
      std::vector<std::size_t> queued(block_count, kUnreached);
      std::vector<std::size_t> worklist;
      for (std::size_t v = 0; v < variable_count; ++v) {
        if (!crosses_blocks[v] || definition_blocks[v].empty())
          continue;
        worklist = definition_blocks[v];
        for (std::size_t b : worklist)
          queued[b] = v;
        while (!worklist.empty()) {
          std::size_t b = worklist.back();
          worklist.pop_back();
          for (std::size_t f : frontier[b]) {
            if (has_phi[f] == v)
              continue;
            has_phi[f] = v;
            phis.push_back(PlacedPhi{f, v, false, {}});
            phis_in_block[f].push_back(phis.size() - 1);
            if (queued[f] != v) {
              queued[f] = v;
              worklist.push_back(f);
            }
          }
        }
      }
    }
    std::vector<std::vector<std::pair<std::string, std::string>>> incoming(phis.size());
    for (std::size_t i = 0; i < phis.size(); ++i) {
      for (std::size_t p : predecessors[phis[i].block])
        incoming[i].push_back({label(p), ""});
    }
    auto fill_successor_phis = [&](std::size_t b, auto&& current_name) {
      for (std::size_t k = 0; k < successors[b].size(); ++k) {
        for (std::size_t phi : phis_in_block[successors[b][k]]) {
          incoming[phi][edge_position[b][k]].second = current_name(phis[phi].variable);
        }
      }
    };

    // Renaming along the dominator tree, with one stack of reaching names per variable.
    std::vector<std::vector<std::string>> reaching(variable_count);
    for (std::size_t i = 0; i < parameter_variables_.size(); ++i) {
      reaching[parameter_variables_[i]].push_back(function.params[i].name);
    }
    auto rename_use = [&](std::string& name) {
      if (!has_marker(name, kLocalMarker))
        return;
      const std::vector<std::string>& stack = reaching[marker_index(name)];
      name = stack.empty() ? std::string() : stack.back();
    };
    std::vector<std::vector<std::size_t>> dominated(block_count);
    for (std::size_t b : reverse_postorder) {
      if (b != 0)
        dominated[idom[b]].push_back(b);
    }
    struct Visit {
      std::size_t block;
      std::size_t next_child;
      std::vector<std::size_t> pushed;
    };
    std::vector<Visit> stack;
    auto enter = [&](std::size_t b) {
      Visit visit{b, 0, {}};
      for (std::size_t phi : phis_in_block[b]) {
        reaching[phis[phi].variable].push_back(marker(kPhiMarker, phi));
        visit.pushed.push_back(phis[phi].variable);
      }
      for (SsaInstruction& instruction : blocks_[b].instructions) {
        for_each_instruction_identifier(instruction, rename_use);
        if (std::optional<std::size_t> variable = assigned_variable(instruction)) {
          reaching[*variable].push_back(instruction.as<SsaAssign>()->dest);
          visit.pushed.push_back(*variable);
        }
      }
      for_each_terminator_identifier(*blocks_[b].terminator, rename_use);
      fill_successor_phis(b, [&](std::size_t v) {
        return reaching[v].empty() ? std::string() : reaching[v].back();
      });
      stack.push_back(std::move(visit));
    };
    enter(0);
    while (!stack.empty()) {
      Visit& top = stack.back();
      if (top.next_child < dominated[top.block].size()) {
        enter(dominated[top.block][top.next_child++]);
        continue;
      }
      for (std::size_t variable : top.pushed)
        reaching[variable].pop_back();
      stack.pop_back();
    }

    // Unreachable blocks see only their own definitions.
    for (std::size_t b = 0; b < block_count; ++b) {
      if (reachable(b))
        continue;
      std::unordered_map<std::size_t, std::string> local;
      auto rename_local = [&](std::string& name) {
        if (!has_marker(name, kLocalMarker))
          return;
        auto found = local.find(marker_index(name));
        name = found == local.end() ? std::string() : found->second;
      };
      for (SsaInstruction& instruction : blocks_[b].instructions) {
        for_each_instruction_identifier(instruction, rename_local);
        if (std::optional<std::size_t> variable = assigned_variable(instruction)) {
          local[*variable] = instruction.as<SsaAssign>()->dest;
        }
      }
      for_each_terminator_identifier(*blocks_[b].terminator, rename_local);
      fill_successor_phis(b, [&](std::size_t v) {
        auto found = local.find(v);
        return found == local.end() ? std::string() : found->second;
      });
    }

    // A placed phi lives when a non-phi reads it, or a live phi does.
    std::vector<std::size_t> live_worklist;
    auto mark_live = [&](std::string& name) {
      if (!has_marker(name, kPhiMarker))
        return;
      std::size_t phi = marker_index(name);
      if (!phis[phi].live) {
        phis[phi].live = true;
        live_worklist.push_back(phi);
      }
    };
    for (SsaBasicBlock& block : blocks_) {
      for (SsaInstruction& instruction : block.instructions) {
        for_each_instruction_identifier(instruction, mark_live);
      }
      for_each_terminator_identifier(*block.terminator, mark_live);
    }
    while (!live_worklist.empty()) {
      std::size_t phi = live_worklist.back();
      live_worklist.pop_back();
      for (auto& [from, value] : incoming[phi])
        mark_live(value);
    }

    // Final names in block order, then the live phis go to the front of their blocks.
    bool any_live = false;
    for (std::size_t b = 0; b < block_count; ++b) {
      std::vector<std::size_t>& placed = phis_in_block[b];
      std::sort(placed.begin(), placed.end(),
                [&](std::size_t x, std::size_t y) { return phis[x].variable < phis[y].variable; });
      for (std::size_t phi : placed) {
        if (!phis[phi].live)
          continue;
        phis[phi].final_name = new_ssa_name(variables_[phis[phi].variable].name);
        any_live = true;
      }
    }
    if (!any_live)
      return;
    auto finalize = [&](std::string& name) {
      if (has_marker(name, kPhiMarker))
        name = phis[marker_index(name)].final_name;
    };
    for (SsaBasicBlock& block : blocks_) {
      for (SsaInstruction& instruction : block.instructions) {
        for_each_instruction_identifier(instruction, finalize);
      }
      for_each_terminator_identifier(*block.terminator, finalize);
    }
    for (std::size_t b = 0; b < block_count; ++b) {
      std::vector<SsaInstruction> front;
      for (std::size_t phi : phis_in_block[b]) {
        if (!phis[phi].live)
          continue;
        for (auto& [from, value] : incoming[phi])
          finalize(value);
        const LocalVariable& variable = variables_[phis[phi].variable];
        front.push_back(
            SsaPhi{variable.name, phis[phi].final_name, std::move(incoming[phi]), variable.ty});
      }
      if (front.empty())
        continue;
      std::vector<SsaInstruction>& instructions = blocks_[b].instructions;
      instructions.insert(instructions.begin(), std::make_move_iterator(front.begin()),
                          std::make_move_iterator(front.end()));
    }
  }

  std::vector<SsaBasicBlock> blocks_;
  std::size_t current_ = 0;
  unsigned block_counter_ = 0;
  std::unordered_map<std::string, unsigned> ssa_counters_;
  std::vector<LocalVariable> variables_;
  std::vector<std::size_t> parameter_variables_;
  std::unordered_map<std::string, std::vector<std::size_t>> visible_;
  std::vector<std::vector<std::string>> scopes_;
  std::unordered_map<std::string, std::size_t> definition_variables_;
  std::vector<LoopContext> loops_;
};

// ---- Listing ----

void list_value(std::string& out, const IrValue& value);

void list_values(std::string& out, const std::vector<IrValue>& values) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0)
      out += ", ";
    list_value(out, values[i]);
  }
}

void list_value(std::string& out, const IrValue& value) {
  static constexpr const char* kOperators[] = {
      "+", "-", "*", "/", "%", "==", "!=", "<", ">", "<=", ">=", "&&", "||"};
  if (const auto* identifier = value.as<IrIdentifier>()) {
    out += identifier->name.empty() ? "undef" : identifier->name;
  } else if (const auto* literal = value.as<IrLiteralValue>()) {
    if (const auto* number = std::get_if<IrNumber>(&literal->literal)) {
      out += number->text;
    } else if (const auto* text = std::get_if<IrString>(&literal->literal)) {
      out += quote_debug_string(text->text);
    } else {
      out += std::get<IrBool>(literal->literal).value ? "true" : "false";
    }
  } else if (const auto* unary = value.as<IrUnary>()) {
    out += unary->op == IrUnaryOp::Negate ? "-" : "!";
    list_value(out, *unary->operand);
  } else if (const auto* binary = value.as<IrBinary>()) {
    out += '(';
    list_value(out, *binary->left);
    out += ' ';
    out += kOperators[static_cast<int>(binary->op)];
    out += ' ';
    list_value(out, *binary->right);
    out += ')';
  } else if (const auto* call = value.as<IrCall>()) {
    out += call->callee + "(";
    list_values(out, call->args);
    out += ')';
  } else if (const auto* method = value.as<IrMethodCall>()) {
    list_value(out, *method->object);
    out += "." + method->method + "(";
    list_values(out, method->args);
    out += ')';
  } else {
    render_to(out, value);
  }
}

}  // namespace

SsaFunction SsaFunction::from_ir(const IrFunction& function) {
  return SsaBuilder().build(function);
}

SsaModule SsaModule::from_ir(const IrModule& module) {
  SsaModule result;
  result.functions.reserve(module.functions.size());
  for (const IrFunction& function : module.functions) {
    result.functions.push_back(SsaFunction::from_ir(function));
  }
  result.globals = module.globals;
  result.classes = module.classes;
  result.imports = module.imports;
  result.target = module.target;
  return result;
}

std::string render_blocks(const SsaFunction& function) {
  std::string out;
  for (const SsaBasicBlock& block : function.blocks) {
    out += block.label + ":\n";
    for (const SsaInstruction& instruction : block.instructions) {
      out += "  ";
      std::visit(Overloaded{
                     [&](const SsaAssign& assign) {
                       out += assign.dest + ": " + render(assign.ty) + " = ";
                       list_value(out, assign.value);
                     },
                     [&](const SsaStore& store) {
                       out += "store " + store.name + " = ";
                       list_value(out, store.value);
                     },
                     [&](const SsaExpression& expression) {
                       out += "expr ";
                       list_value(out, expression.value);
                     },
                     [&](const SsaIntrinsic& intrinsic) {
                       out += "intrinsic ";
                       render_to(out, intrinsic.intrinsic);
                     },
                     [&](const SsaComment& comment) { out += "; " + comment.text; },
                     [&](const SsaPhi& phi) {
                       out += "phi " + phi.dest + ": " + render(phi.ty) + " = [";
                       for (std::size_t i = 0; i < phi.incoming.size(); ++i) {
                         if (i > 0)
                           out += ", ";
                         const auto& [from, value] = phi.incoming[i];
                         out += from + ": " + (value.empty() ? "undef" : value);
                       }
                       out += ']';
                     },
                 },
                 instruction.node);
      out += '\n';
    }
    if (block.terminator) {
      out += "  ";
      std::visit(Overloaded{
                     [&](const SsaReturn& ret) {
                       out += "ret";
                       if (ret.value) {
                         out += ' ';
                         list_value(out, *ret.value);
                       }
                     },
                     [&](const SsaJump& jump) { out += "br " + jump.target; },
                     [&](const SsaBranch& branch) {
                       out += "br ";
                       list_value(out, branch.condition);
                       out += " ? " + branch.then_label + " : " + branch.else_label;
                     },
                 },
                 *block.terminator);
      out += '\n';
    }
  }
  return out;
}

}  // namespace ovra
