#include "semantics.h"

#include <utility>

namespace ovra {

namespace {

using Kind = OvraType::Kind;

bool is_type(const InferredType& type, Kind kind) {
  return type && type->is(kind);
}

}  // namespace

// ---- State ----

void SemanticAnalyzer::reset() {
  bindings_.clear();
  scopes_.clear();
  scopes_.emplace_back();
  errors_.clear();
  functions_.clear();
  classes_.clear();
  in_loop_ = false;
  statement_depth_ = 0;
}

void SemanticAnalyzer::set_variable(std::string name, OvraType type) {
  if (scopes_.empty())
    return;
  const std::size_t scope = scopes_.size() - 1;
  std::vector<Binding>& declarations = bindings_[std::move(name)];
  if (!declarations.empty() && declarations.back().scope == scope) {
    declarations.back().type = std::move(type);
    return;
  }
  declarations.push_back(Binding{scope, std::move(type)});
  scopes_.back().push_back(&declarations);
}

const OvraType* SemanticAnalyzer::lookup_variable(std::string_view name) const {
  auto found = bindings_.find(name);
  if (found == bindings_.end() || found->second.empty())
    return nullptr;
  return &found->second.back().type;
}

bool SemanticAnalyzer::is_variable_declared(std::string_view name) const {
  return lookup_variable(name) != nullptr;
}

void SemanticAnalyzer::push_scope() {
  scopes_.emplace_back();
}

void SemanticAnalyzer::pop_scope() {
  if (scopes_.size() <= 1)
    return;
  for (std::vector<Binding>* declarations : scopes_.back())
    declarations->pop_back();
  scopes_.pop_back();
}

void SemanticAnalyzer::error_at_span(std::string message, std::size_t line, std::size_t column) {
  errors_.push_back(CompilerError::semantic(std::move(message), line, column));
}

// ---- The two passes ----

std::vector<CompilerError> SemanticAnalyzer::analyze(const Program& program) {
  reset();
  run_declaration_pass(program);
  run_checking_pass(program);
  return errors_;
}

void SemanticAnalyzer::run_declaration_pass(const Program& program) {
  // Most top-level statements declare one name; sizing the tables once spares the rehashing.
  functions_.reserve(program.size());
  bindings_.reserve(program.size());
  auto record_function = [this](const FunctionDeclaration& function) {
    functions_.insert_or_assign(
        function.name, FunctionInfo{function.name, function.parameters, function.return_type});
  };
  auto record_class = [this](const ClassDeclaration& declaration) {
    classes_.insert_or_assign(declaration.name, ClassInfo{declaration.name, declaration.fields});
  };
  for (const Statement& statement : program) {
    if (const auto* function = statement.as<FunctionDeclaration>()) {
      record_function(*function);
    } else if (const auto* declaration = statement.as<ClassDeclaration>()) {
      record_class(*declaration);
    } else if (const auto* export_declaration = statement.as<ExportDeclaration>()) {
      const Statement& wrapped = *export_declaration->declaration;
      if (const auto* exported_function = wrapped.as<FunctionDeclaration>()) {
        record_function(*exported_function);
      } else if (const auto* exported_class = wrapped.as<ClassDeclaration>()) {
        record_class(*exported_class);
      }
    } else if (const auto* crob = statement.as<CrobDeclaration>()) {
      // Only classes declared earlier in the file are known at this point.
      if (const auto* creation = crob->initializer.as<NewExpression>()) {
        if (!classes_.contains(creation->class_name)) {
          error_at("Class '" + creation->class_name + "' is not defined", crob->span);
        }
      }
      set_variable(crob->name, OvraType(Kind::Obj));
    } else if (const auto* crob = statement.as<CrobEncapsulatedDeclaration>()) {
      if (!classes_.contains(crob->class_name)) {
        error_at("Class '" + crob->class_name + "' is not defined", crob->span);
      }
      set_variable(crob->name, OvraType(Kind::Obj));
    }
  }
}

namespace {

// What a top-level statement binds in the program's outermost scope. Variables, functions,
// classes and imported names share that scope in the emitted JavaScript, so a name bound twice by
// two different kinds of statement would give a module that does not load.
enum class TopLevelKind { Variable, Function, ExportedFunction, Class, Import };

struct TopLevelBinding {
  std::string_view name;
  TopLevelKind kind;
  const Span* span;
};

// The names an import brings into the program, as the JavaScript back end binds them: a module
// path binds its default and named items, an `ovra.` path its alias, default or named items, a
// `lib.` path its named items; any other path binds nothing.
void collect_imported_names(const ImportDeclaration& declaration,
                            std::vector<TopLevelBinding>& out) {
  auto bind = [&](const std::string& name) {
    out.push_back({name, TopLevelKind::Import, &declaration.span});
  };
  const bool ovra_path = !declaration.source_is_string && declaration.source.starts_with("ovra.");
  const bool lib_path = !declaration.source_is_string && declaration.source.starts_with("lib.");
  if (ovra_path && (declaration.alias || declaration.default_import)) {
    bind(declaration.alias ? *declaration.alias : *declaration.default_import);
    return;
  }
  if (declaration.source_is_string && declaration.default_import)
    bind(*declaration.default_import);
  if (declaration.source_is_string || ovra_path || lib_path) {
    for (const std::string& name : declaration.named_imports)
      bind(name);
  }
}

void collect_top_level_bindings(const Statement& statement, std::vector<TopLevelBinding>& out) {
  if (const auto* variable = statement.as<VariableDeclaration>()) {
    out.push_back({variable->name, TopLevelKind::Variable, &variable->span});
  } else if (const auto* crob = statement.as<CrobDeclaration>()) {
    out.push_back({crob->name, TopLevelKind::Variable, &crob->span});
  } else if (const auto* crob = statement.as<CrobEncapsulatedDeclaration>()) {
    out.push_back({crob->name, TopLevelKind::Variable, &crob->span});
  } else if (const auto* function = statement.as<FunctionDeclaration>()) {
    out.push_back({function->name, TopLevelKind::Function, &function->span});
  } else if (const auto* declaration = statement.as<ClassDeclaration>()) {
    out.push_back({declaration->name, TopLevelKind::Class, &declaration->span});
  } else if (const auto* import = statement.as<ImportDeclaration>()) {
    collect_imported_names(*import, out);
  } else if (const auto* export_declaration = statement.as<ExportDeclaration>()) {
    const Statement& wrapped = *export_declaration->declaration;
    if (const auto* function = wrapped.as<FunctionDeclaration>()) {
      out.push_back({function->name, TopLevelKind::ExportedFunction, &function->span});
    } else {
      collect_top_level_bindings(wrapped, out);
    }
  }
}

// The message for a name bound again at top level, or none where the second binding is allowed:
// a later function replaces an earlier one (unless either is exported), and a variable declared
// twice is reported by the declaration check itself.
std::optional<std::string> top_level_clash(const TopLevelBinding& binding, TopLevelKind earlier,
                                           const Statement& statement) {
  if (binding.kind == TopLevelKind::Function && earlier == TopLevelKind::Function)
    return std::nullopt;
  if (binding.kind == TopLevelKind::Variable && earlier == TopLevelKind::Variable &&
      statement.is<VariableDeclaration>())
    return std::nullopt;
  const char* what = "Imported name";
  switch (binding.kind) {
    case TopLevelKind::Variable:
      what = "Variable";
      break;
    case TopLevelKind::Function:
    case TopLevelKind::ExportedFunction:
      what = "Function";
      break;
    case TopLevelKind::Class:
      what = "Class";
      break;
    case TopLevelKind::Import:
      break;
  }
  std::string message = what;
  message.append(" '").append(binding.name).append("' is already declared");
  return message;
}

}  // namespace

void SemanticAnalyzer::run_checking_pass(const Program& program) {
  NameMap<TopLevelKind> bound;
  std::vector<TopLevelBinding> bindings;
  for (const Statement& statement : program) {
    bindings.clear();
    collect_top_level_bindings(statement, bindings);
    for (const TopLevelBinding& binding : bindings) {
      auto [entry, inserted] = bound.try_emplace(std::string(binding.name), binding.kind);
      if (inserted)
        continue;
      if (std::optional<std::string> clash = top_level_clash(binding, entry->second, statement))
        error_at(std::move(*clash), *binding.span);
      entry->second = binding.kind;
    }
    if (const auto* declaration = statement.as<ClassDeclaration>()) {
      // Already recorded by the declaration pass; only its own fields are checked here, so that a
      // class is held to the same rule whether it is exported or not.
      check_duplicate_fields(*declaration);
    } else if (const auto* export_declaration = statement.as<ExportDeclaration>()) {
      const Statement& wrapped = *export_declaration->declaration;
      if (const auto* exported_class = wrapped.as<ClassDeclaration>()) {
        check_duplicate_fields(*exported_class);
      } else if (const auto* function = wrapped.as<FunctionDeclaration>()) {
        check_function_body(function->parameters, function->body, function->return_type);
      }
    } else {
      check_statement(statement, nullptr);
    }
  }
}

// ---- Statements ----

void SemanticAnalyzer::check_duplicate_fields(const ClassDeclaration& declaration) {
  NameMap<bool> seen;
  for (const ClassField& field : declaration.fields) {
    if (!seen.emplace(field.name, true).second) {
      error_at("Duplicate field name '" + field.name + "' in class '" + declaration.name + "'",
               declaration.span);
    }
  }
}

void SemanticAnalyzer::check_block(const std::vector<Statement>& body,
                                   const OvraType* expected_return) {
  for (const Statement& statement : body)
    check_statement(statement, expected_return);
}

void SemanticAnalyzer::check_function_body(const std::vector<Parameter>& parameters,
                                           const std::vector<Statement>& body,
                                           const OvraType& return_type) {
  push_scope();
  for (const Parameter& parameter : parameters)
    set_variable(parameter.name, parameter.param_type);
  check_block(body, &return_type);
  pop_scope();
}

void SemanticAnalyzer::check_object_members(const std::vector<ObjectField>& fields,
                                            const std::vector<ObjectMethod>& methods) {
  for (const ObjectField& field : fields)
    infer_expression(field.value);
  for (const ObjectMethod& method : methods) {
    check_function_body(method.parameters, method.body, method.return_type);
  }
}

void SemanticAnalyzer::check_condition(const Expression& condition,
                                       std::string_view statement_name) {
  InferredType type = infer_expression(condition);
  if (type && !type->is(Kind::Bool)) {
    error_at(std::string(statement_name) + " condition must be bool, got " + type->to_string(),
             condition.span());
  }
}

void SemanticAnalyzer::check_variable_declaration(const VariableDeclaration& declaration) {
  if (is_variable_declared(declaration.name)) {
    error_at("Variable '" + declaration.name + "' is already declared", declaration.span);
    return;
  }
  InferredType value_type;
  if (declaration.value)
    value_type = infer_expression(*declaration.value);
  if (declaration.var_type && value_type && value_type->is(Kind::Arr) &&
      value_type->element().is(Kind::Unknown)) {
    // An empty array literal takes the declared element type.
    value_type = declaration.var_type;
  }
  if (declaration.var_type && value_type && !is_assignable(*declaration.var_type, *value_type)) {
    error_at("Type mismatch: cannot assign " + value_type->to_string() + " to " +
                 declaration.var_type->to_string(),
             declaration.span);
  }
  OvraType declared = declaration.var_type ? *declaration.var_type
                      : value_type         ? std::move(*value_type)
                                           : OvraType(Kind::Unknown);
  set_variable(declaration.name, std::move(declared));
}

void SemanticAnalyzer::check_statement(const Statement& statement,
                                       const OvraType* expected_return) {
  // JavaScript takes `import` and `export` only at the top of a module; depth 1 is a top-level
  // statement.
  ++statement_depth_;
  struct DepthGuard {
    std::size_t& depth;
    ~DepthGuard() { --depth; }
  } depth_guard{statement_depth_};
  const bool nested = statement_depth_ > 1;
  std::visit(
      Overloaded{
          [&](const VariableDeclaration& declaration) { check_variable_declaration(declaration); },
          [&](const FunctionDeclaration& function) {
            check_function_body(function.parameters, function.body, function.return_type);
          },
          [&](const ReturnStatement& return_statement) {
            if (!return_statement.value) {
              if (expected_return && !expected_return->is(Kind::Void)) {
                error_at("Function must return " + expected_return->to_string() + ", but got void",
                         return_statement.span);
              }
              return;
            }
            InferredType type = infer_expression(*return_statement.value);
            if (expected_return && type && !is_assignable(*expected_return, *type)) {
              error_at("Return type mismatch: expected " + expected_return->to_string() + ", got " +
                           type->to_string(),
                       return_statement.span);
            }
          },
          [&](const IfStatement& if_statement) {
            check_condition(if_statement.condition, "If");
            // Branches share the enclosing scope: what they declare stays declared.
            check_block(if_statement.then_branch, expected_return);
            if (if_statement.else_branch)
              check_block(*if_statement.else_branch, expected_return);
          },
          [&](const ExpressionStatement& expression_statement) {
            infer_expression(expression_statement.expression);
          },
          [&](const WhileStatement& while_statement) {
            check_condition(while_statement.condition, "While");
            push_scope();
            bool was_in_loop = std::exchange(in_loop_, true);
            check_block(while_statement.body, expected_return);
            in_loop_ = was_in_loop;
            pop_scope();
          },
          [&](const ForLoopStatement& for_loop) {
            bool was_in_loop = std::exchange(in_loop_, true);
            // The loop variable goes into the enclosing scope and outlives the loop.
            if (for_loop.init)
              check_variable_declaration(*for_loop.init);
            if (for_loop.condition)
              check_condition(*for_loop.condition, "ForLoop");
            if (for_loop.update)
              infer_expression(*for_loop.update);
            push_scope();
            check_block(for_loop.body, expected_return);
            in_loop_ = was_in_loop;
            pop_scope();
          },
          [&](const PushStatement& push) {
            InferredType value_type = infer_expression(push.value);
            InferredType array_type = infer_expression(*push.array_access.array);
            if (is_type(array_type, Kind::Arr) && value_type &&
                !is_assignable(array_type->element(), *value_type)) {
              error_at("Cannot push " + value_type->to_string() + " to array of type " +
                           array_type->element().to_string(),
                       push.span);
            }
          },
          [&](const OutStatement& out) {
            InferredType array_type = infer_expression(*out.array_access.array);
            if (is_type(array_type, Kind::Arr))
              set_variable(out.param_name, array_type->element());
            push_scope();
            check_block(out.body, expected_return);
            pop_scope();
          },
          [&](const RmvStatement& rmv) {
            infer_expression(*rmv.array_access.array);
            infer_expression(*rmv.array_access.index);
          },
          [&](const ClassDeclaration& declaration) {
            if (classes_.contains(declaration.name)) {
              error_at("Class '" + declaration.name + "' is already declared", declaration.span);
              return;
            }
            check_duplicate_fields(declaration);
          },
          [&](const CrobDeclaration& crob) {
            InferredType type = infer_expression(crob.initializer);
            // A class instance is an object as well; the crob is declared `obj` either way.
            if (type && !type->is(Kind::Obj) && !type->is(Kind::Class)) {
              error_at("Crob initializer must be an object, got " + type->to_string(), crob.span);
            }
            set_variable(crob.name, OvraType(Kind::Obj));
          },
          [&](const CrobEncapsulatedDeclaration& crob) {
            if (!classes_.contains(crob.class_name)) {
              error_at("Class '" + crob.class_name + "' is not defined", crob.span);
            }
            check_object_members(crob.fields, crob.methods);
            set_variable(crob.name, OvraType(Kind::Obj));
          },
          [&](const RemakeStatement& remake) {
            if (!is_variable_declared(remake.name)) {
              error_at("Object '" + remake.name + "' is not defined", remake.span);
              return;
            }
            check_object_members(remake.fields, remake.methods);
          },
          [&](const ImportDeclaration& import) {
            if (nested && import.source_is_string)
              error_at("Module import must be at top level", import.span);
          },
          [&](const ExportDeclaration& export_declaration) {
            if (nested)
              error_at("Export must be at top level", export_declaration.span);
          },
          [&](const ContinueStatement& continue_statement) {
            if (!in_loop_) {
              error_at("Continue statement must be inside a loop", continue_statement.span);
            }
          },
          [&](const BreakStatement& break_statement) {
            if (!in_loop_)
              error_at("Break statement must be inside a loop", break_statement.span);
          },
      },
      statement.node);
}

// ---- Expressions ----
//
// Operator chains make expression trees as deep as the chain is long, so every recursive path
// goes through infer_expression, which only dispatches; the per-kind work sits in separate
// functions kept out of line so that each level of recursion costs one small frame.

InferredType SemanticAnalyzer::infer_expression(const Expression& expression) {
  return std::visit(
      Overloaded{
          [this](const Identifier& identifier) -> InferredType {
            const OvraType* type = lookup_variable(identifier.name);
            if (!type)
              return std::nullopt;
            return *type;
          },
          [](const Literal& literal) -> InferredType { return literal.literal_type; },
          [this](const UnaryExpression& unary) { return infer_unary(unary); },
          [this](const BinaryExpression& binary) { return infer_binary(binary); },
          [this](const FunctionCall& call) { return infer_function_call(call); },
          [this](const ArrayAccess& access) { return infer_array_access(access); },
          [this](const PropertyAccess& access) { return infer_property_access(access); },
          [this](const MethodCall& call) { return infer_method_call(call); },
          [this](const ArrayLiteral& literal) { return infer_array_literal(literal); },
          [this](const NewExpression& creation) { return infer_new(creation); },
          [this](const ArrayAssignment& assignment) { return infer_array_assignment(assignment); },
      },
      expression.node);
}

[[gnu::noinline]] InferredType SemanticAnalyzer::infer_unary(const UnaryExpression& unary) {
  InferredType operand = infer_expression(*unary.operand);
  if (!operand)
    return std::nullopt;
  switch (unary.op) {
    case UnaryOperator::Negate:
      if (operand->is_numeric())
        return operand;
      error_at("Unary '-' requires numeric type, got " + operand->to_string(), unary.span);
      return std::nullopt;
    case UnaryOperator::Not:
      if (operand->is(Kind::Bool))
        return operand;
      error_at("Unary '!' requires bool type, got " + operand->to_string(), unary.span);
      return std::nullopt;
  }
  return std::nullopt;
}

[[gnu::noinline]] InferredType SemanticAnalyzer::infer_binary(const BinaryExpression& binary) {
  // Both sides are inferred even when the left one has no type, so that a fault on the right is
  // still reported.
  InferredType left = infer_expression(*binary.left);
  InferredType right = infer_expression(*binary.right);
  switch (binary.op) {
    case BinaryOperator::Equal:
    case BinaryOperator::NotEqual:
    case BinaryOperator::Less:
    case BinaryOperator::Greater:
    case BinaryOperator::LessEqual:
    case BinaryOperator::GreaterEqual:
      // Comparisons (and assignments, which share their shape) are bool whatever the operands.
      return OvraType(Kind::Bool);
    case BinaryOperator::Add:
    case BinaryOperator::Subtract:
    case BinaryOperator::Multiply:
    case BinaryOperator::Divide:
    case BinaryOperator::Modulo:
      if (!left || !right)
        return std::nullopt;
      if (left->is_numeric() && right->is_numeric())
        return wider_numeric(*left, *right);
      error_at("Arithmetic operation requires numeric types, got " + left->to_string() + " and " +
                   right->to_string(),
               binary.span);
      return std::nullopt;
    case BinaryOperator::And:
    case BinaryOperator::Or:
      if (!left || !right)
        return std::nullopt;
      if (left->is(Kind::Bool) && right->is(Kind::Bool))
        return OvraType(Kind::Bool);
      error_at("Logical operation requires bool types, got " + left->to_string() + " and " +
                   right->to_string(),
               binary.span);
      return std::nullopt;
  }
  return std::nullopt;
}

[[gnu::noinline]] InferredType SemanticAnalyzer::infer_function_call(const FunctionCall& call) {
  auto found = functions_.find(call.name);
  if (found == functions_.end()) {
    error_at("Function '" + call.name + "' is not defined", call.span);
    return std::nullopt;
  }
  const FunctionInfo& function = found->second;
  if (call.arguments.size() != function.parameters.size()) {
    error_at("Function '" + call.name + "' expects " + std::to_string(function.parameters.size()) +
                 " arguments, got " + std::to_string(call.arguments.size()),
             call.span);
    return std::nullopt;
  }
  for (std::size_t i = 0; i < call.arguments.size(); ++i) {
    InferredType argument = infer_expression(call.arguments[i]);
    const OvraType& expected = function.parameters[i].param_type;
    if (argument && !is_assignable(expected, *argument)) {
      error_at("Argument " + std::to_string(i + 1) + " of function '" + call.name + "': expected " +
                   expected.to_string() + ", got " + argument->to_string(),
               call.arguments[i].span());
    }
  }
  return function.return_type;
}

[[gnu::noinline]] InferredType SemanticAnalyzer::infer_array_access(const ArrayAccess& access) {
  InferredType array = infer_expression(*access.array);
  InferredType index = infer_expression(*access.index);
  if (!array || !index)
    return std::nullopt;
  if (!index->is_numeric()) {
    error_at("Array index must be numeric, got " + index->to_string(), access.index->span());
    return std::nullopt;
  }
  if (!array->is(Kind::Arr)) {
    error_at("Cannot index non-array type " + array->to_string(), access.array->span());
    return std::nullopt;
  }
  return array->element();
}

[[gnu::noinline]] InferredType SemanticAnalyzer::infer_property_access(
    const PropertyAccess& access) {
  InferredType object = infer_expression(*access.object);
  if (!object)
    return std::nullopt;
  if (object->is(Kind::Class)) {
    auto found = classes_.find(object->class_name());
    if (found == classes_.end())
      return OvraType(Kind::Unknown);
    for (const ClassField& field : found->second.fields) {
      if (field.name == access.property)
        return field.field_type;
    }
    error_at(
        "Property '" + access.property + "' does not exist on class '" + object->class_name() + "'",
        access.span);
    return std::nullopt;
  }
  if (object->is(Kind::Obj))
    return OvraType(Kind::Unknown);
  error_at("Cannot access property '" + access.property + "' on type " + object->to_string(),
           access.span);
  return std::nullopt;
}

[[gnu::noinline]] InferredType SemanticAnalyzer::infer_array_literal(const ArrayLiteral& literal) {
  if (literal.elements.empty())
    return OvraType::array_of(OvraType(Kind::Unknown));
  // Every element is inferred so that each one's own faults are reported; the element type stops
  // being tracked at the first element that has no type.
  InferredType element = infer_expression(literal.elements.front());
  bool typed = element.has_value();
  for (std::size_t i = 1; i < literal.elements.size(); ++i) {
    InferredType next = infer_expression(literal.elements[i]);
    if (!typed)
      continue;
    if (!next) {
      typed = false;
      continue;
    }
    if (element->is_numeric() && next->is_numeric()) {
      element = wider_numeric(*element, *next);
    } else if (*element == *next || element->is(Kind::Unknown) || next->is(Kind::Unknown)) {
      // unchanged
    } else {
      error_at("Array elements have incompatible types: " + element->to_string() + " and " +
                   next->to_string(),
               literal.span);
      return std::nullopt;
    }
  }
  if (!typed)
    return std::nullopt;
  return OvraType::array_of(std::move(*element));
}

[[gnu::noinline]] InferredType SemanticAnalyzer::infer_new(const NewExpression& expression) {
  if (!classes_.contains(expression.class_name)) {
    error_at("Class '" + expression.class_name + "' is not defined", expression.span);
    return std::nullopt;
  }
  infer_all(expression.arguments);
  return OvraType::class_named(expression.class_name);
}

[[gnu::noinline]] InferredType SemanticAnalyzer::infer_array_assignment(
    const ArrayAssignment& assignment) {
  InferredType array = infer_expression(*assignment.array);
  InferredType index = infer_expression(*assignment.index);
  InferredType value = infer_expression(*assignment.value);
  if (index && !index->is(Kind::Int)) {
    error_at("Array index must be int, got " + index->to_string(), assignment.index->span());
  }
  if (!array)
    return std::nullopt;
  if (array->is(Kind::Arr)) {
    if (value && !is_assignable(array->element(), *value)) {
      error_at("Cannot assign " + value->to_string() + " to array element of type " +
                   array->element().to_string(),
               assignment.value->span());
    }
    return OvraType(Kind::Void);
  }
  error_at("Cannot assign to non-array type " + array->to_string(), assignment.array->span());
  return std::nullopt;
}

void SemanticAnalyzer::infer_all(const std::vector<Expression>& expressions) {
  for (const Expression& expression : expressions)
    infer_expression(expression);
}

}  // namespace ovra
