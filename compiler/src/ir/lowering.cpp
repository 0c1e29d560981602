#include "ir/lowering.h"

#include <array>
#include <utility>

namespace ovra {

namespace {

IrUnaryOp lower_unary_op(UnaryOperator op) {
  return op == UnaryOperator::Negate ? IrUnaryOp::Negate : IrUnaryOp::Not;
}

// The two enumerations list the same operators in the same order.
IrBinaryOp lower_binary_op(BinaryOperator op) {
  return static_cast<IrBinaryOp>(op);
}

// The built-in namespace members that lower to plain calls, by namespace and method name.
struct BuiltinCall {
  const char* space;
  const char* method;
  const char* callee;
};
constexpr std::array<BuiltinCall, 7> kBuiltinCalls = {{
    {"io", "print", "__ovra_io_print"},
    {"io", "readInt", "__ovra_io_readInt"},
    {"io", "readLine", "__ovra_io_readLine"},
    {"io", "readMultif", "__ovra_io_readMultif"},
    {"io", "readSinglef", "__ovra_io_readSinglef"},
    {"db", "table", "__ovra_db_table"},
    {"db", "connect", "__ovra_db_connect"},
}};

bool is_builtin_method_name(const std::string& name) {
  for (const BuiltinCall& builtin : kBuiltinCalls) {
    if (name == builtin.method)
      return true;
  }
  return false;
}

std::string top_level_name(const Span& span) {
  return "__top_level_" + std::to_string(span.line) + "_" + std::to_string(span.column);
}

}  // namespace

std::optional<std::vector<std::string>> extract_ovra_path(const Expression& expression) {
  // Walk down to the root name, skipping method calls and collecting property names; the path
  // is the root followed by the properties from the innermost outwards.
  std::vector<std::string> properties;
  const Expression* current = &expression;
  while (true) {
    if (const auto* call = current->as<MethodCall>()) {
      current = &*call->object;
    } else if (const auto* property = current->as<PropertyAccess>()) {
      properties.push_back(property->property);
      current = &*property->object;
    } else if (const auto* identifier = current->as<Identifier>()) {
      std::vector<std::string> path;
      path.reserve(properties.size() + 1);
      path.push_back(identifier->name);
      for (auto it = properties.rbegin(); it != properties.rend(); ++it)
        path.push_back(*it);
      return path;
    } else {
      return std::nullopt;
    }
  }
}

LoweringContext::LoweringContext(
    IrModule& module, const std::unordered_map<std::string, IrType>& function_return_types,
    const std::unordered_map<std::string, IrType>& global_types)
    : module_(module), function_return_types_(function_return_types), global_types_(global_types) {
  (void)module_;
  push_scope();
}

std::optional<IrType> LoweringContext::variable_type(const std::string& name) const {
  for (auto scope = scopes_.rbegin(); scope != scopes_.rend(); ++scope) {
    auto found = scope->find(name);
    if (found != scope->end())
      return found->second;
  }
  auto global = global_types_.find(name);
  if (global != global_types_.end())
    return global->second;
  return std::nullopt;
}

IrType LoweringContext::declaration_type(const std::optional<OvraType>& written,
                                         const IrValue* value) const {
  if (written)
    return IrType::from_ovra(*written);
  if (!value)
    return IrType::Kind::Unknown;
  IrTypeEnvironment environment{
      [this](const std::string& name) { return variable_type(name); },
      [this](const std::string& name) -> std::optional<IrType> {
        auto found = function_return_types_.find(name);
        if (found == function_return_types_.end())
          return std::nullopt;
        return found->second;
      },
  };
  std::optional<IrType> inferred = infer_ir_type(*value, environment);
  if (inferred && (inferred->is_numeric() || inferred->is(IrType::Kind::Bool) ||
                   inferred->is(IrType::Kind::String))) {
    return *inferred;
  }
  return IrType::Kind::Unknown;
}

IrArrayAccessValue LoweringContext::lower_array_access(const ArrayAccess& access) {
  IrValue array = lower_expression(*access.array);
  IrValue index = lower_expression(*access.index);
  return IrArrayAccessValue{std::move(array), std::move(index)};
}

IrValue LoweringContext::lower_method_call(const MethodCall& call) {
  auto lower_arguments = [this](const std::vector<Expression>& arguments) {
    std::vector<IrValue> lowered;
    lowered.reserve(arguments.size());
    for (const Expression& argument : arguments)
      lowered.push_back(lower_expression(argument));
    return lowered;
  };
  // Only the mapped method names can become built-in calls; checking the name first keeps long
  // method chains from walking their whole object chain at every link.
  if (is_builtin_method_name(call.method_name)) {
    std::optional<std::vector<std::string>> path = extract_ovra_path(*call.object);
    if (path && path->size() >= 2 && (*path)[0] == "ovra") {
      for (const BuiltinCall& builtin : kBuiltinCalls) {
        if ((*path)[1] == builtin.space && call.method_name == builtin.method) {
          return IrCall{builtin.callee, lower_arguments(call.arguments)};
        }
      }
    }
  }
  IrValue object = lower_expression(*call.object);
  return IrMethodCall{std::move(object), call.method_name, lower_arguments(call.arguments)};
}

IrValue LoweringContext::lower_expression(const Expression& expression) {
  return std::visit(
      Overloaded{
          [&](const Identifier& identifier) -> IrValue { return ir_identifier(identifier.name); },
          [&](const Literal& literal) -> IrValue {
            return std::visit(
                Overloaded{
                    [](const StringValue& text) { return ir_string(text.text); },
                    [](const NumberValue& number) { return ir_number(number.text); },
                    [](const BooleanValue& boolean) { return ir_bool(boolean.value); },
                },
                literal.value);
          },
          [&](const UnaryExpression& unary) -> IrValue {
            return IrUnary{lower_unary_op(unary.op), lower_expression(*unary.operand)};
          },
          [&](const BinaryExpression& binary) -> IrValue {
            IrValue left = lower_expression(*binary.left);
            IrValue right = lower_expression(*binary.right);
            return IrBinary{lower_binary_op(binary.op), std::move(left), std::move(right)};
          },
          [&](const FunctionCall& call) -> IrValue {
            std::vector<IrValue> args;
            args.reserve(call.arguments.size());
            for (const Expression& argument : call.arguments) {
              args.push_back(lower_expression(argument));
            }
            return IrCall{call.name, std::move(args)};
          },
          [&](const ArrayAccess& access) -> IrValue {
            return IrArrayAccess{lower_array_access(access)};
          },
          [&](const PropertyAccess& property) -> IrValue {
            return IrMethodCall{lower_expression(*property.object), property.property, {}};
          },
          [&](const MethodCall& call) -> IrValue { return lower_method_call(call); },
          [&](const ArrayLiteral& literal) -> IrValue {
            std::vector<IrValue> elements;
            elements.reserve(literal.elements.size());
            for (const Expression& element : literal.elements) {
              elements.push_back(lower_expression(element));
            }
            return IrArrayLiteral{std::move(elements)};
          },
          [&](const NewExpression& object) -> IrValue {
            std::vector<IrValue> args;
            args.reserve(object.arguments.size());
            for (const Expression& argument : object.arguments) {
              args.push_back(lower_expression(argument));
            }
            return IrNewObject{object.class_name, std::move(args)};
          },
          [&](const ArrayAssignment& assignment) -> IrValue {
            IrValue array = lower_expression(*assignment.array);
            IrValue index = lower_expression(*assignment.index);
            IrValue value = lower_expression(*assignment.value);
            return IrArrayAssignment{IrArrayAccessValue{std::move(array), std::move(index)},
                                     std::move(value)};
          },
      },
      expression.node);
}

IrBlock LoweringContext::lower_block(const std::vector<Statement>& statements) {
  push_scope();
  IrBlock block;
  block.reserve(statements.size());
  for (const Statement& statement : statements)
    block.push_back(lower_statement(statement));
  pop_scope();
  return block;
}

IrInstruction LoweringContext::lower_statement(const Statement& statement) {
  auto todo = [&]() -> IrInstruction {
    return IrTodo{"Statement " + debug_text(statement) + " not lowered yet", statement.span()};
  };
  return std::visit(
      Overloaded{
          [&](const VariableDeclaration& declaration) -> IrInstruction {
            std::optional<IrValue> value;
            if (declaration.value)
              value = lower_expression(*declaration.value);
            IrType type = declaration_type(declaration.var_type, value ? &*value : nullptr);
            declare(declaration.name, type);
            return IrLet{declaration.name, std::move(type), std::move(value), declaration.is_const,
                         declaration.span};
          },
          [&](const ReturnStatement& ret) -> IrInstruction {
            std::optional<IrValue> value;
            if (ret.value)
              value = lower_expression(*ret.value);
            return IrReturn{std::move(value), ret.span};
          },
          [&](const IfStatement& if_statement) -> IrInstruction {
            IrValue condition = lower_expression(if_statement.condition);
            IrBlock then_block = lower_block(if_statement.then_branch);
            std::optional<IrBlock> else_block;
            if (if_statement.else_branch)
              else_block = lower_block(*if_statement.else_branch);
            return IrIf{std::move(condition), std::move(then_block), std::move(else_block),
                        if_statement.span};
          },
          [&](const ExpressionStatement& expression) -> IrInstruction {
            return IrExpression{lower_expression(expression.expression), expression.span};
          },
          [&](const WhileStatement& while_statement) -> IrInstruction {
            IrValue condition = lower_expression(while_statement.condition);
            return IrWhile{std::move(condition), lower_block(while_statement.body),
                           while_statement.span};
          },
          [&](const ForLoopStatement& for_statement) -> IrInstruction {
            push_scope();
            IrForLoop loop;
            if (for_statement.init) {
              loop.init = Box<IrInstruction>(lower_statement(Statement(*for_statement.init)));
            }
            if (for_statement.condition)
              loop.condition = lower_expression(*for_statement.condition);
            if (for_statement.update)
              loop.update = lower_expression(*for_statement.update);
            loop.body = lower_block(for_statement.body);
            loop.span = for_statement.span;
            pop_scope();
            return IrFor{std::move(loop)};
          },
          [&](const PushStatement& push) -> IrInstruction {
            IrValue value = lower_expression(push.value);
            return IrIntrinsicInstruction{
                IrPush{std::move(value), lower_array_access(push.array_access), push.span}};
          },
          [&](const OutStatement& out) -> IrInstruction {
            IrArrayAccessValue target = lower_array_access(out.array_access);
            push_scope();
            declare(out.param_name, IrType::Kind::Unknown);
            IrBlock body = lower_block(out.body);
            pop_scope();
            return IrIntrinsicInstruction{
                IrOut{std::move(target), out.param_name, std::move(body), out.span}};
          },
          [&](const RmvStatement& rmv) -> IrInstruction {
            return IrIntrinsicInstruction{IrRmv{lower_array_access(rmv.array_access), rmv.span}};
          },
          [&](const ContinueStatement& cont) -> IrInstruction { return IrContinue{cont.span}; },
          [&](const BreakStatement& brk) -> IrInstruction { return IrBreak{brk.span}; },
          [&](const FunctionDeclaration&) { return todo(); },
          [&](const ClassDeclaration&) { return todo(); },
          [&](const CrobDeclaration&) { return todo(); },
          [&](const CrobEncapsulatedDeclaration&) { return todo(); },
          [&](const RemakeStatement&) { return todo(); },
          [&](const ImportDeclaration&) { return todo(); },
          [&](const ExportDeclaration&) { return todo(); },
      },
      statement.node);
}

namespace {

const Statement& unwrap_exports(const Statement& statement) {
  const Statement* current = &statement;
  while (const auto* exported = current->as<ExportDeclaration>())
    current = &*exported->declaration;
  return *current;
}

}  // namespace

IrModule lower_program(const Program& program) {
  IrModule module;

  // Every function is callable from anywhere, so all return types are known up front.
  std::unordered_map<std::string, IrType> function_return_types;
  for (const Statement& top : program) {
    if (const auto* function = unwrap_exports(top).as<FunctionDeclaration>()) {
      function_return_types[function->name] = IrType::from_ovra(function->return_type);
    }
  }
  std::unordered_map<std::string, IrType> global_types;

  for (const Statement& top : program) {
    const Statement& statement = unwrap_exports(top);
    std::visit(
        Overloaded{
            [&](const VariableDeclaration& declaration) {
              LoweringContext context(module, function_return_types, global_types);
              std::optional<IrValue> value;
              if (declaration.value)
                value = context.lower_expression(*declaration.value);
              IrType type =
                  context.declaration_type(declaration.var_type, value ? &*value : nullptr);
              global_types[declaration.name] = type;
              module.globals.push_back(IrGlobal{declaration.name, std::move(type), std::move(value),
                                                declaration.is_const, declaration.span});
            },
            [&](const FunctionDeclaration& function) {
              LoweringContext context(module, function_return_types, global_types);
              IrFunction lowered;
              lowered.name = function.name;
              for (const Parameter& parameter : function.parameters) {
                IrType type = IrType::from_ovra(parameter.param_type);
                context.declare(parameter.name, type);
                lowered.params.push_back(IrParam{parameter.name, std::move(type)});
              }
              lowered.return_type = IrType::from_ovra(function.return_type);
              lowered.body.reserve(function.body.size());
              for (const Statement& body_statement : function.body) {
                lowered.body.push_back(context.lower_statement(body_statement));
              }
              lowered.span = function.span;
              lowered.is_share = function.is_share;
              module.functions.push_back(std::move(lowered));
            },
            [&](const ClassDeclaration& declaration) {
              IrClass lowered{declaration.name, {}, declaration.span};
              for (const ClassField& field : declaration.fields) {
                lowered.fields.push_back(IrParam{field.name, IrType::from_ovra(field.field_type)});
              }
              module.classes.push_back(std::move(lowered));
            },
            [&](const ImportDeclaration& declaration) {
              module.imports.push_back(IrImport{declaration.source, declaration.named_imports,
                                                declaration.default_import, declaration.alias,
                                                declaration.span});
            },
            [&](const auto& other) {
              using Record = std::decay_t<decltype(other)>;
              constexpr bool kLowered = std::is_same_v<Record, ReturnStatement> ||
                                        std::is_same_v<Record, IfStatement> ||
                                        std::is_same_v<Record, ExpressionStatement> ||
                                        std::is_same_v<Record, WhileStatement> ||
                                        std::is_same_v<Record, ForLoopStatement>;
              IrFunction synthesized;
              synthesized.name = top_level_name(other.span);
              synthesized.return_type = IrType::Kind::Void;
              synthesized.span = other.span;
              if constexpr (kLowered) {
                LoweringContext context(module, function_return_types, global_types);
                synthesized.body.push_back(context.lower_statement(statement));
              } else {
                synthesized.body.push_back(
                    IrTodo{"Top-level statement " + debug_text(statement) + " not lowered yet",
                           other.span});
              }
              module.functions.push_back(std::move(synthesized));
            },
        },
        statement.node);
  }
  return module;
}

}  // namespace ovra
