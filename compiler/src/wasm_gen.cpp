#include "wasm_gen.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <system_error>
#include <utility>

namespace ovra {

namespace {

// The import block comes before the memory: the text format accepts imports only ahead of every
// other definition.
constexpr std::string_view kModuleHead[] = {
    ";; Host functions for ovra.db (must be provided by runtime)",
    "(import \"ovra\" \"db_connect\" (func $ovra_db_connect (param i32 i32) (result i32)))",
    ";; kind_ptr, url_ptr -> result_ptr (JSON string)",
    "(import \"ovra\" \"db_table\" (func $ovra_db_table (param i32) (result i32)))",
    ";; table_name_ptr -> builder_handle (i32)",
    "(import \"ovra\" \"db_chain\" (func $ovra_db_chain (param i32 i32 i32) (result i32)))",
    ";; builder_handle, method_name_ptr, args_json_ptr -> result_ptr (JSON string)",
    "(import \"ovra\" \"memory_alloc\" (func $ovra_memory_alloc (param i32) (result i32)))",
    ";; Allocate memory of given size, return pointer",
    "(import \"ovra\" \"memory_free\" (func $ovra_memory_free (param i32)))",
    ";; Free allocated memory",
    "",
    "(memory 1)",
    "(export \"memory\" (memory 0))",
    "",
};

// Query-chain methods that continue a database call.
constexpr std::string_view kDbChainMethods[] = {
    "where", "limit", "insert", "update", "delete", "orderBy", "findOne", "join", "find",
};

// Sizes of the two buffers a chained database step allocates for the host.
constexpr int kDbMethodNameBufferBytes = 64;
constexpr int kDbArgumentsBufferBytes = 256;

constexpr std::string_view kScratchLocal = "__tmp";

// Every type travels as i32 except the two floating-point ones. A void parameter or local has
// no value type of its own; it is given i32 so that the module stays valid.
WasmType value_type(const OvraType& type) {
  return type.is(OvraType::Kind::SingleF) || type.is(OvraType::Kind::MultiF) ? WasmType::F64
                                                                             : WasmType::I32;
}

WasmType result_type(const OvraType& type) {
  return type.is(OvraType::Kind::Void) ? WasmType::None : value_type(type);
}

std::string_view type_text(WasmType type) {
  switch (type) {
    case WasmType::I32:
      return "i32";
    case WasmType::F64:
      return "f64";
    case WasmType::None:
      break;
  }
  return "";
}

std::string zero_of(WasmType type) {
  std::string zero = "(";
  zero += type_text(type);
  zero += ".const 0)";
  return zero;
}

// The text around one folded instruction that leaves `from` so that it leaves `to`. Floats are
// truncated with saturation, so no conversion can trap.
struct Conversion {
  std::string before;
  std::string after;
};

Conversion conversion(WasmType from, WasmType to) {
  if (from == to)
    return {};
  if (to == WasmType::None)
    return {"(drop ", ")"};
  if (from == WasmType::None) {
    std::string before = "(block (result ";
    before += type_text(to);
    before += ") ";
    std::string after = " ";
    after += zero_of(to);
    after += ")";
    return {std::move(before), std::move(after)};
  }
  return {to == WasmType::I32 ? "(i32.trunc_sat_f64_s " : "(f64.convert_i32_s ", ")"};
}

bool is_identifier_char(unsigned char c) {
  if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
    return true;
  return std::string_view("!#$%&'*+-./:<=>?@\\^_`|~").find(static_cast<char>(c)) !=
         std::string_view::npos;
}

// "$" and the name. Bytes the text format does not accept in an identifier (those of non-ASCII
// letters) are written as "%" and two hex digits; source names never contain "%", so distinct
// names stay distinct.
std::string wat_identifier(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string id = "$";
  for (unsigned char c : name) {
    if (is_identifier_char(c)) {
      id += static_cast<char>(c);
    } else {
      id += '%';
      id += kHex[c >> 4];
      id += kHex[c & 0xF];
    }
  }
  return id;
}

// A WAT string literal; UTF-8 text stays as it is.
std::string wat_string(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string quoted = "\"";
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F || c == '"' || c == '\\') {
      quoted += '\\';
      quoted += kHex[c >> 4];
      quoted += kHex[c & 0xF];
    } else {
      quoted += static_cast<char>(c);
    }
  }
  return quoted + "\"";
}

std::string_view binary_instruction(BinaryOperator op) {
  switch (op) {
    case BinaryOperator::Add:
      return "i32.add";
    case BinaryOperator::Subtract:
      return "i32.sub";
    case BinaryOperator::Multiply:
      return "i32.mul";
    case BinaryOperator::Divide:
      return "i32.div_s";
    case BinaryOperator::Modulo:
      return "i32.rem_s";
    case BinaryOperator::Equal:
      return "i32.eq";
    case BinaryOperator::NotEqual:
      return "i32.ne";
    case BinaryOperator::Less:
      return "i32.lt_s";
    case BinaryOperator::Greater:
      return "i32.gt_s";
    case BinaryOperator::LessEqual:
      return "i32.le_s";
    case BinaryOperator::GreaterEqual:
      return "i32.ge_s";
    case BinaryOperator::And:
      return "i32.and";
    case BinaryOperator::Or:
      return "i32.or";
  }
  return "unreachable";
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// An optional sign and one or more digits; the value when it fits a 32-bit signed integer.
std::optional<std::int32_t> parse_i32(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty())
    return std::nullopt;
  std::int64_t magnitude = 0;
  for (char c : text) {
    if (!is_digit(c))
      return std::nullopt;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > std::int64_t{1} << 31)
      return std::nullopt;
  }
  std::int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX || value < INT32_MIN)
    return std::nullopt;
  return static_cast<std::int32_t>(value);
}

// Decimal floating-point syntax: sign, digits with an optional fraction (at least one digit),
// optional exponent. Words such as "inf" or "nan" and hexadecimal forms are not numbers here.
bool is_decimal_number(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    ++i;
  std::size_t digits = 0;
  while (i < text.size() && is_digit(text[i]))
    ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && is_digit(text[i]))
      ++i, ++digits;
  }
  if (digits == 0)
    return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
      ++i;
    std::size_t exponent_digits = 0;
    while (i < text.size() && is_digit(text[i]))
      ++i, ++exponent_digits;
    if (exponent_digits == 0)
      return false;
  }
  return i == text.size();
}

// True when the body contains a return as one of its own statements: then its end is
// unreachable for the validator. Returns nested in branches or loops do not count, since the
// validator treats the end of every block as reachable.
bool ends_unreachable(const std::vector<Statement>& body) {
  return std::any_of(body.begin(), body.end(),
                     [](const Statement& statement) { return statement.is<ReturnStatement>(); });
}

// Declarations in source order, descending into branches and loop bodies but not into nested
// functions (which are not translated).
void collect_declarations(const std::vector<Statement>& body,
                          std::vector<const VariableDeclaration*>& found) {
  for (const Statement& statement : body) {
    std::visit(Overloaded{
                   [&](const VariableDeclaration& declaration) { found.push_back(&declaration); },
                   [&](const IfStatement& branch) {
                     collect_declarations(branch.then_branch, found);
                     if (branch.else_branch)
                       collect_declarations(*branch.else_branch, found);
                   },
                   [&](const WhileStatement& loop) { collect_declarations(loop.body, found); },
                   [&](const ForLoopStatement& loop) {
                     if (loop.init)
                       found.push_back(&*loop.init);
                     collect_declarations(loop.body, found);
                   },
                   [](const auto&) {},
               },
               statement.node);
  }
}

bool is_increment_method(std::string_view name) {
  return name == "toUp" || name == "toDn" || name == "getUp" || name == "getDn";
}

bool is_chain(const Expression& expression, std::initializer_list<std::string_view> names) {
  std::optional<std::vector<std::string>> chain =
      WasmGenerator::extract_ovra_property_chain(expression);
  return chain && std::equal(chain->begin(), chain->end(), names.begin(), names.end());
}

}  // namespace

std::optional<std::vector<std::string>> WasmGenerator::extract_ovra_property_chain(
    const Expression& expression) {
  if (const auto* identifier = expression.as<Identifier>()) {
    if (identifier->name == "ovra")
      return std::vector<std::string>{};
    return std::nullopt;
  }
  if (const auto* access = expression.as<PropertyAccess>()) {
    std::optional<std::vector<std::string>> chain = extract_ovra_property_chain(*access->object);
    if (chain)
      chain->push_back(access->property);
    return chain;
  }
  return std::nullopt;
}

bool WasmGenerator::is_ovra_db_call(const MethodCall& call) {
  if (is_chain(*call.object, {"db"}))
    return true;
  const auto* receiver = call.object->as<MethodCall>();
  if (receiver == nullptr)
    return false;
  if (receiver->method_name == "table" && is_chain(*receiver->object, {"db"}))
    return true;
  if (!is_ovra_db_call(*receiver))
    return false;
  for (std::string_view method : kDbChainMethods) {
    if (call.method_name == method)
      return true;
  }
  return false;
}

Result<std::string> wasm_number_constant(std::string_view text) {
  if (std::optional<std::int32_t> value = parse_i32(text)) {
    return "i32.const " + std::to_string(*value);
  }
  if (!is_decimal_number(text))
    return CompilerError::other("Invalid number");
  std::string_view digits = text[0] == '+' ? text.substr(1) : text;
  double value = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) {
    return CompilerError::other("Invalid number");
  }
  // Fixed notation of the largest double needs 309 digits before the point.
  char buffer[512];
  auto formatted = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  return "f64.const " + std::string(buffer, formatted.ptr);
}

// ---- Module and functions ----

Result<std::string> WasmGenerator::generate_module(const Program& program) {
  std::vector<const FunctionDeclaration*> functions;
  for (const Statement& statement : program) {
    const FunctionDeclaration* function = statement.as<FunctionDeclaration>();
    if (const auto* exported = statement.as<ExportDeclaration>()) {
      function = exported->declaration->as<FunctionDeclaration>();
    }
    if (function == nullptr)
      continue;
    // Functions are exported under their own names, and the head already exports the memory
    // as "memory"; a second export of that name would make the module invalid.
    if (function->name == "memory") {
      return CompilerError::other("Function name 'memory' clashes with the memory export in WASM");
    }
    // A later function of the same name replaces the earlier one for callers, as it does in
    // the function table of the semantic stage.
    Callee callee{function_index_ + static_cast<std::uint32_t>(functions.size()),
                  {},
                  result_type(function->return_type)};
    for (const Parameter& parameter : function->parameters) {
      callee.parameters.push_back(value_type(parameter.param_type));
    }
    declare_callee(function->name, std::move(callee));
    functions.push_back(function);
  }

  writeln("(module");
  indent_level_ = 1;
  for (std::string_view head_line : kModuleHead) {
    if (head_line.empty()) {
      writeln("");
    } else {
      line(head_line);
    }
  }
  const std::uint32_t first_index = function_index_;
  for (const FunctionDeclaration* function : functions) {
    Status status = generate_function(*function);
    if (!status)
      return std::move(status).error();
  }
  for (std::size_t i = 0; i < functions.size(); ++i) {
    const std::uint32_t index = first_index + static_cast<std::uint32_t>(i);
    // Export names must be unique; a replaced function is left out.
    if (callees_[functions[i]->name].index != index)
      continue;
    line("(export " + wat_string(functions[i]->name) + " (func $" + std::to_string(index) + "))");
  }
  indent_level_ = 0;
  writeln(")");
  return take_output();
}

Status WasmGenerator::generate_function(const FunctionDeclaration& declaration) {
  const std::size_t level = indent_level_;
  scope_ = FunctionScope{};
  scope_.result = result_type(declaration.return_type);
  for (const Parameter& parameter : declaration.parameters) {
    scope_.locals.emplace(parameter.name, value_type(parameter.param_type));
  }
  // Locals are declared once, at the head; a name declared again reuses the first local.
  std::vector<const VariableDeclaration*> declarations;
  collect_declarations(declaration.body, declarations);
  std::vector<std::string> locals;
  for (const VariableDeclaration* local : declarations) {
    if (scope_.locals.emplace(local->name, value_type(local->var_type.value_or(OvraType())))
            .second) {
      locals.push_back(local->name);
    }
  }

  // The body goes to its own buffer first: only after it is written is it known whether the
  // head must declare the scratch local.
  std::string head = std::exchange(output_, {});
  indent_level_ = level + 1;
  Status body_status = generate_body(declaration.body);
  std::string body = std::exchange(output_, std::move(head));
  indent_level_ = level;
  if (!body_status)
    return body_status;

  write_indent();
  write("(func $" + std::to_string(function_index_));
  if (!declaration.parameters.empty()) {
    writeln("");
    ++indent_level_;
    for (const Parameter& parameter : declaration.parameters) {
      line("(param " + wat_identifier(parameter.name) + " " +
           std::string(type_text(value_type(parameter.param_type))) + ")");
    }
    --indent_level_;
  }
  if (scope_.result != WasmType::None) {
    writeln("");
    line("(result " + std::string(type_text(scope_.result)) + ")");
  }
  writeln("");

  ++indent_level_;
  for (const std::string& name : locals) {
    line("(local " + wat_identifier(name) + " " +
         std::string(type_text(scope_.locals.find(name)->second)) + ")");
  }
  if (scope_.uses_scratch && !scope_.locals.contains(kScratchLocal)) {
    line("(local " + wat_identifier(kScratchLocal) + " i32)");
  }
  write(body);
  if (scope_.result == WasmType::None) {
    line("nop");
  } else if (!ends_unreachable(declaration.body)) {
    // The end of the body is reachable: leave a zero so the function still has its result.
    line(zero_of(scope_.result));
  }
  --indent_level_;
  line(")");
  writeln("");
  ++function_index_;
  return Unit{};
}

// ---- Statements ----

Status WasmGenerator::generate_body(const std::vector<Statement>& body) {
  for (const Statement& statement : body) {
    Status status = generate_statement(statement);
    if (!status)
      return status;
  }
  return Unit{};
}

Status WasmGenerator::generate_statement(const Statement& statement) {
  return std::visit(
      Overloaded{
          [&](const VariableDeclaration& declaration) {
            return generate_variable_declaration(declaration);
          },
          [&](const ReturnStatement& statement) -> Status {
            if (!statement.value) {
              line("return");
              return Unit{};
            }
            write_indent();
            write("(return ");
            Status value = emit_operand(*statement.value, scope_.result);
            if (!value)
              return value;
            writeln(")");
            return Unit{};
          },
          [&](const IfStatement& statement) { return generate_if(statement); },
          [&](const ExpressionStatement& statement) {
            return generate_expression_statement(statement.expression);
          },
          [&](const WhileStatement& statement) { return generate_while(statement); },
          [&](const ForLoopStatement& statement) { return generate_for_loop(statement); },
          [](const PushStatement&) -> Status {
            return CompilerError::other("Array operations not yet supported in WASM");
          },
          [](const OutStatement&) -> Status {
            return CompilerError::other("Array operations not yet supported in WASM");
          },
          [](const RmvStatement&) -> Status {
            return CompilerError::other("Array operations not yet supported in WASM");
          },
          [](const CrobDeclaration&) -> Status {
            return CompilerError::other("Object declarations not yet supported in WASM");
          },
          [](const CrobEncapsulatedDeclaration&) -> Status {
            return CompilerError::other("Object declarations not yet supported in WASM");
          },
          [](const RemakeStatement&) -> Status {
            return CompilerError::other("Remake not yet supported in WASM");
          },
          [](const ContinueStatement&) -> Status {
            return CompilerError::other("Continue not yet supported in WASM");
          },
          [](const BreakStatement&) -> Status {
            return CompilerError::other("Break not yet supported in WASM");
          },
          // Declarations nested in a body are not translated.
          [](const FunctionDeclaration&) -> Status { return Unit{}; },
          [](const ClassDeclaration&) -> Status { return Unit{}; },
          [](const ImportDeclaration&) -> Status { return Unit{}; },
          [](const ExportDeclaration&) -> Status { return Unit{}; },
      },
      statement.node);
}

Status WasmGenerator::generate_variable_declaration(const VariableDeclaration& declaration) {
  Result<std::string> local = local_reference(declaration.name);
  if (!local)
    return std::move(local).error();
  const WasmType type = scope_.locals.find(declaration.name)->second;
  write_indent();
  write("(local.set " + local.value() + " ");
  if (declaration.value) {
    Status value = emit_operand(*declaration.value, type);
    if (!value)
      return value;
  } else {
    // Without a value the local starts from zero here, also on every pass through a loop body.
    write(zero_of(type));
  }
  writeln(")");
  return Unit{};
}

Status WasmGenerator::generate_expression_statement(const Expression& expression) {
  if (const auto* binary = expression.as<BinaryExpression>()) {
    if (const auto* target = binary->left->as<Identifier>();
        target != nullptr && binary->op == BinaryOperator::Equal) {
      Result<std::string> local = local_reference(target->name);
      if (!local)
        return std::move(local).error();
      write_indent();
      write("(local.set " + local.value() + " ");
      Status value = emit_operand(*binary->right, scope_.locals.find(target->name)->second);
      if (!value)
        return value;
      writeln(")");
      return Unit{};
    }
  }
  write_indent();
  // At statement level an increment is written as its plain instruction sequence.
  const auto* call = expression.as<MethodCall>();
  Result<WasmType> type = call != nullptr && is_increment_method(call->method_name)
                              ? emit_increment(*call)
                              : emit_expression(expression);
  if (!type)
    return std::move(type).error();
  writeln("");
  if (type.value() != WasmType::None)
    line("drop");
  return Unit{};
}

Status WasmGenerator::generate_if(const IfStatement& statement) {
  write_indent();
  write("(if ");
  Status condition = emit_operand(statement.condition, WasmType::I32);
  if (!condition)
    return condition;
  writeln("");
  ++indent_level_;
  line("(then");
  ++indent_level_;
  Status then_branch = generate_body(statement.then_branch);
  if (!then_branch)
    return then_branch;
  --indent_level_;
  line(")");
  if (statement.else_branch) {
    line("(else");
    ++indent_level_;
    Status else_branch = generate_body(*statement.else_branch);
    if (!else_branch)
      return else_branch;
    --indent_level_;
    line(")");
  }
  --indent_level_;
  line(")");
  return Unit{};
}

Status WasmGenerator::generate_while(const WhileStatement& statement) {
  const std::size_t level = indent_level_;
  line("(loop $while_loop");
  ++indent_level_;
  write_indent();
  write("(if ");
  Status condition = emit_operand(statement.condition, WasmType::I32);
  if (!condition)
    return condition;
  writeln("");
  ++indent_level_;
  line("(then");
  ++indent_level_;
  Status body = generate_body(statement.body);
  if (!body)
    return body;
  line("(br $while_loop)");
  while (indent_level_ > level) {
    --indent_level_;
    line(")");
  }
  return Unit{};
}

Status WasmGenerator::generate_for_loop(const ForLoopStatement& statement) {
  const std::size_t level = indent_level_;
  if (statement.init) {
    Status init = generate_variable_declaration(*statement.init);
    if (!init)
      return init;
  }
  line("(loop $for_loop");
  ++indent_level_;
  write_indent();
  write("(if ");
  if (statement.condition) {
    Status condition = emit_operand(*statement.condition, WasmType::I32);
    if (!condition)
      return condition;
  } else {
    write("(i32.const 1)");
  }
  writeln("");
  ++indent_level_;
  line("(then");
  ++indent_level_;
  Status body = generate_body(statement.body);
  if (!body)
    return body;
  if (statement.update) {
    Status update = generate_expression_statement(*statement.update);
    if (!update)
      return update;
  }
  line("(br $for_loop)");
  while (indent_level_ > level) {
    --indent_level_;
    line(")");
  }
  return Unit{};
}

// ---- Expressions ----

Result<std::string> WasmGenerator::local_reference(const std::string& name) const {
  if (!scope_.locals.contains(name)) {
    return CompilerError::other("Global variable '" + name + "' not yet supported in WASM");
  }
  return wat_identifier(name);
}

Status WasmGenerator::generate_expression(const Expression& expression) {
  Result<WasmType> type = emit_expression(expression);
  if (!type)
    return std::move(type).error();
  return Unit{};
}

Status WasmGenerator::emit_operand(const Expression& expression, WasmType wanted) {
  // Written in place and wrapped afterwards only when a conversion is needed, so that deep
  // operator chains are not copied once per level.
  const std::size_t start = output_.size();
  Result<WasmType> type = emit_expression(expression);
  if (!type)
    return std::move(type).error();
  if (type.value() != wanted) {
    Conversion wrap = conversion(type.value(), wanted);
    output_.insert(start, wrap.before);
    output_ += wrap.after;
  }
  return Unit{};
}

Result<WasmType> WasmGenerator::emit_expression(const Expression& expression) {
  auto unsupported = [](const char* message) -> Result<WasmType> {
    return CompilerError::other(message);
  };
  return std::visit(
      Overloaded{
          [&](const Identifier& identifier) -> Result<WasmType> {
            Result<std::string> local = local_reference(identifier.name);
            if (!local)
              return std::move(local).error();
            write("(local.get " + local.value() + ")");
            return scope_.locals.find(identifier.name)->second;
          },
          [&](const Literal& literal) -> Result<WasmType> {
            return std::visit(Overloaded{
                                  [&](const StringValue& value) -> Result<WasmType> {
                                    write("(i32.const " + std::to_string(value.text.size()) + ")");
                                    return WasmType::I32;
                                  },
                                  [&](const NumberValue& value) -> Result<WasmType> {
                                    Result<std::string> constant = wasm_number_constant(value.text);
                                    if (!constant)
                                      return std::move(constant).error();
                                    write("(" + constant.value() + ")");
                                    return constant.value().starts_with("f64") ? WasmType::F64
                                                                               : WasmType::I32;
                                  },
                                  [&](const BooleanValue& value) -> Result<WasmType> {
                                    write(value.value ? "(i32.const 1)" : "(i32.const 0)");
                                    return WasmType::I32;
                                  },
                              },
                              literal.value);
          },
          [&](const BinaryExpression& binary) -> Result<WasmType> {
            // Every operator is the 32-bit integer instruction; float operands are truncated.
            write("(");
            write(binary_instruction(binary.op));
            write(" ");
            Status left = emit_operand(*binary.left, WasmType::I32);
            if (!left)
              return std::move(left).error();
            write(" ");
            Status right = emit_operand(*binary.right, WasmType::I32);
            if (!right)
              return std::move(right).error();
            write(")");
            return WasmType::I32;
          },
          [&](const FunctionCall& call) { return emit_call(call); },
          [&](const MethodCall& call) { return emit_method_call(call); },
          [&](const ArrayLiteral& array) -> Result<WasmType> {
            write(array.elements.empty() ? "(i32.const 0)" : "(i32.const 4)");
            return WasmType::I32;
          },
          [&](const ArrayAccess&) {
            return unsupported("Array/Property access not yet supported in WASM");
          },
          [&](const PropertyAccess&) {
            return unsupported("Array/Property access not yet supported in WASM");
          },
          [&](const UnaryExpression&) { return unsupported("Unsupported expression in WASM"); },
          [&](const NewExpression&) { return unsupported("Unsupported expression in WASM"); },
          [&](const ArrayAssignment&) { return unsupported("Unsupported expression in WASM"); },
      },
      expression.node);
}

Result<WasmType> WasmGenerator::emit_call(const FunctionCall& call) {
  auto found = callees_.find(call.name);
  if (found == callees_.end()) {
    return CompilerError::other("Function '" + call.name + "' is not defined in WASM");
  }
  const Callee& callee = found->second;
  write("(call $" + std::to_string(callee.index));
  for (std::size_t i = 0; i < call.arguments.size(); ++i) {
    write(" ");
    WasmType wanted = i < callee.parameters.size() ? callee.parameters[i] : WasmType::I32;
    Status status = emit_operand(call.arguments[i], wanted);
    if (!status)
      return std::move(status).error();
  }
  write(")");
  return callee.result;
}

Result<WasmType> WasmGenerator::emit_method_call(const MethodCall& call) {
  if (is_increment_method(call.method_name)) {
    // Wrapped in a block so that the sequence is one operand.
    const std::size_t start = output_.size();
    Result<WasmType> type = emit_increment(call);
    if (!type)
      return type;
    output_.insert(start, "(block (result " + std::string(type_text(type.value())) + ") ");
    write(")");
    return type;
  }
  if (is_ovra_db_call(call)) {
    Status status = generate_ovra_db_call_wasm(call);
    if (!status)
      return std::move(status).error();
    return WasmType::I32;
  }
  return CompilerError::other("Method call '" + call.method_name + "' not yet supported in WASM");
}

Status WasmGenerator::generate_increment_decrement_wasm(const MethodCall& call) {
  Result<WasmType> type = emit_increment(call);
  if (!type)
    return std::move(type).error();
  return Unit{};
}

Result<WasmType> WasmGenerator::emit_increment(const MethodCall& call) {
  const Expression& receiver = *call.object;
  if (!receiver.is<Identifier>() && !receiver.is<ArrayAccess>() && !receiver.is<PropertyAccess>()) {
    return CompilerError::other("Increment/decrement method '" + call.method_name +
                                "' can only be called on assignable expressions");
  }
  // Receiver and amount are generated into their own buffers, in that order, and then
  // assembled around them. The arithmetic is i32; a float variable is converted on the way.
  std::string outer = std::exchange(output_, {});
  Status receiver_status = emit_operand(receiver, WasmType::I32);
  std::string target = std::exchange(output_, {});
  const bool scratch_before = scope_.uses_scratch;
  scope_.uses_scratch = false;
  Status amount_status = Unit{};
  if (call.arguments.empty()) {
    write("(i32.const 1)");
  } else if (receiver_status) {
    amount_status = emit_operand(call.arguments.front(), WasmType::I32);
  }
  std::string amount = std::exchange(output_, std::move(outer));
  const bool amount_uses_scratch = scope_.uses_scratch;
  scope_.uses_scratch = scratch_before || amount_uses_scratch;
  if (!receiver_status)
    return std::move(receiver_status).error();
  if (!amount_status)
    return std::move(amount_status).error();

  const std::string& name = receiver.as<Identifier>()->name;
  const std::string local = wat_identifier(name);
  const bool float_variable = scope_.locals.find(name)->second == WasmType::F64;
  const std::string_view method = call.method_name;
  std::string update = method == "toUp" || method == "getUp" ? " i32.add" : " i32.sub";
  if (float_variable)
    update += " f64.convert_i32_s";
  if (method == "getUp" || method == "getDn") {
    write(target + " " + amount + update + " local.tee " + local);
    return float_variable ? WasmType::F64 : WasmType::I32;
  }
  if (amount_uses_scratch) {
    // The amount itself overwrites the scratch local, so the old value is kept on the stack
    // instead: it is read once for the result and once for the update.
    write(target + " " + target + " " + amount + update + " local.set " + local);
  } else {
    scope_.uses_scratch = true;
    const std::string scratch = wat_identifier(kScratchLocal);
    write("(local.set " + scratch + " " + target + ") " + target + " " + amount + update +
          " local.set " + local + " local.get " + scratch);
  }
  return WasmType::I32;
}

Status WasmGenerator::generate_ovra_db_call_wasm(const MethodCall& call) {
  if (is_chain(*call.object, {"db"})) {
    if (call.method_name == "table") {
      if (call.arguments.size() != 1) {
        return CompilerError::other("ovra.db.table() requires 1 argument");
      }
      write("(call $ovra_db_table ");
      Status name = emit_operand(call.arguments[0], WasmType::I32);
      if (!name)
        return name;
      write(")");
      return Unit{};
    }
    if (call.method_name == "connect") {
      if (call.arguments.size() != 2) {
        return CompilerError::other("ovra.db.connect() requires 2 arguments");
      }
      write("(call $ovra_db_connect ");
      Status kind = emit_operand(call.arguments[0], WasmType::I32);
      if (!kind)
        return kind;
      write(" ");
      Status url = emit_operand(call.arguments[1], WasmType::I32);
      if (!url)
        return url;
      write(")");
      return Unit{};
    }
    return CompilerError::other("ovra.db." + call.method_name +
                                " is only available through ovra.db.table() chain in WASM");
  }
  const auto* receiver = call.object->as<MethodCall>();
  if (receiver == nullptr) {
    return CompilerError::other("Method call '" + call.method_name + "' not yet supported in WASM");
  }
  // The builder handle comes from the receiver; the method-name and arguments buffers are
  // allocated for the host and passed in the positions its signature names.
  write("(call $ovra_db_chain ");
  Status handle = generate_ovra_db_call_wasm(*receiver);
  if (!handle)
    return handle;
  write(" (call $ovra_memory_alloc (i32.const " + std::to_string(kDbMethodNameBufferBytes) +
        ")) (call $ovra_memory_alloc (i32.const " + std::to_string(kDbArgumentsBufferBytes) +
        ")))");
  return Unit{};
}

Result<std::string> generate_wasm_module(const Program& program) {
  return WasmGenerator().generate_module(program);
}

}  // namespace ovra
