#include "optimizer.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <system_error>
#include <utility>

namespace ovra {

namespace {

using Kind = OvraType::Kind;

// Room for the longest plain decimal text of a double: the smallest subnormal has 324 places
// after the point.
constexpr std::size_t kNumberTextCapacity = 400;

// Numbers compare equal when they differ by less than the double-precision machine epsilon.
constexpr double kEqualityEpsilon = std::numeric_limits<double>::epsilon();

std::optional<double> parse_number(std::string_view text) {
  double value = 0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end)
    return std::nullopt;
  return value;
}

Literal boolean_literal(const Span& span, bool value) {
  return Literal{span, BooleanValue{value}, OvraType(Kind::Bool)};
}

// A whole result becomes a saturated 32-bit integer literal; any other result the shortest plain
// decimal text that reads back as the same double.
[[gnu::noinline]] std::optional<Literal> number_literal(const Span& span, double value) {
  if (std::isnan(value))
    return std::nullopt;
  if (std::isinf(value) || std::trunc(value) == value) {
    std::int64_t whole = value >= 2147483647.0    ? 2147483647
                         : value <= -2147483648.0 ? -2147483648LL
                                                  : static_cast<std::int64_t>(value);
    return Literal{span, NumberValue{std::to_string(whole)}, OvraType(Kind::Int)};
  }
  char text[kNumberTextCapacity];
  auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
  if (error != std::errc())
    return std::nullopt;
  return Literal{span, NumberValue{std::string(text, end)}, OvraType(Kind::SingleF)};
}

std::optional<Literal> fold_numbers(const BinaryExpression& binary, std::string_view left_text,
                                    std::string_view right_text) {
  std::optional<double> left = parse_number(left_text);
  std::optional<double> right = parse_number(right_text);
  if (!left || !right)
    return std::nullopt;
  const double a = *left;
  const double b = *right;
  switch (binary.op) {
    case BinaryOperator::Add:
      return number_literal(binary.span, a + b);
    case BinaryOperator::Subtract:
      return number_literal(binary.span, a - b);
    case BinaryOperator::Multiply:
      return number_literal(binary.span, a * b);
    case BinaryOperator::Divide:
      if (b == 0)
        return std::nullopt;
      return number_literal(binary.span, a / b);
    case BinaryOperator::Modulo:
      if (b == 0)
        return std::nullopt;
      return number_literal(binary.span, std::fmod(a, b));
    case BinaryOperator::Equal:
      return boolean_literal(binary.span, std::fabs(a - b) < kEqualityEpsilon);
    case BinaryOperator::NotEqual:
      return boolean_literal(binary.span, !(std::fabs(a - b) < kEqualityEpsilon));
    case BinaryOperator::Less:
      return boolean_literal(binary.span, a < b);
    case BinaryOperator::Greater:
      return boolean_literal(binary.span, a > b);
    case BinaryOperator::LessEqual:
      return boolean_literal(binary.span, a <= b);
    case BinaryOperator::GreaterEqual:
      return boolean_literal(binary.span, a >= b);
    case BinaryOperator::And:
    case BinaryOperator::Or:
      return std::nullopt;
  }
  return std::nullopt;
}

// The literal a binary operation on two literals folds to, if it folds.
[[gnu::noinline]] std::optional<Literal> fold_literals(const BinaryExpression& binary,
                                                       const Literal& left, const Literal& right) {
  if (const auto* left_number = std::get_if<NumberValue>(&left.value)) {
    const auto* right_number = std::get_if<NumberValue>(&right.value);
    if (!right_number)
      return std::nullopt;
    return fold_numbers(binary, left_number->text, right_number->text);
  }
  if (const auto* left_string = std::get_if<StringValue>(&left.value)) {
    const auto* right_string = std::get_if<StringValue>(&right.value);
    if (!right_string)
      return std::nullopt;
    if (binary.op == BinaryOperator::Equal) {
      return boolean_literal(binary.span, left_string->text == right_string->text);
    }
    if (binary.op == BinaryOperator::NotEqual) {
      return boolean_literal(binary.span, left_string->text != right_string->text);
    }
    return std::nullopt;
  }
  const bool a = std::get<BooleanValue>(left.value).value;
  const auto* right_boolean = std::get_if<BooleanValue>(&right.value);
  if (!right_boolean)
    return std::nullopt;
  const bool b = right_boolean->value;
  switch (binary.op) {
    case BinaryOperator::Equal:
      return boolean_literal(binary.span, a == b);
    case BinaryOperator::NotEqual:
      return boolean_literal(binary.span, a != b);
    case BinaryOperator::And:
      return boolean_literal(binary.span, a && b);
    case BinaryOperator::Or:
      return boolean_literal(binary.span, a || b);
    default:
      return std::nullopt;
  }
}

// A condition is constant when, after folding, it is a boolean literal.
std::optional<bool> constant_condition(const Expression& condition) {
  const auto* literal = condition.as<Literal>();
  if (!literal)
    return std::nullopt;
  const auto* boolean = std::get_if<BooleanValue>(&literal->value);
  if (!boolean)
    return std::nullopt;
  return boolean->value;
}

FunctionDeclaration* exported_function(Statement& statement) {
  auto* export_declaration = statement.as<ExportDeclaration>();
  if (!export_declaration)
    return nullptr;
  return export_declaration->declaration->as<FunctionDeclaration>();
}

}  // namespace

// ---- Constant folding ----

// Chains of binary operators nest as deep as they are long, so this recursion is kept to one
// small frame per level; the folding itself happens in the out-of-line helpers above.
void Optimizer::fold_expression_in_place(Expression& expression) {
  auto* binary = expression.as<BinaryExpression>();
  if (!binary)
    return;
  fold_expression_in_place(*binary->left);
  fold_expression_in_place(*binary->right);
  const auto* left = binary->left->as<Literal>();
  const auto* right = binary->right->as<Literal>();
  if (!left || !right)
    return;
  std::optional<Literal> folded = fold_literals(*binary, *left, *right);
  if (folded)
    expression.node = std::move(*folded);
}

Expression Optimizer::fold_expression_recursive(Expression expression) {
  fold_expression_in_place(expression);
  return expression;
}

void Optimizer::fold_block(std::vector<Statement>& body) {
  for (Statement& statement : body)
    fold_statement(statement);
}

void Optimizer::fold_statement(Statement& statement) {
  std::visit(Overloaded{
                 [&](VariableDeclaration& declaration) {
                   if (declaration.value)
                     fold_expression_in_place(*declaration.value);
                 },
                 [&](ReturnStatement& return_statement) {
                   if (return_statement.value)
                     fold_expression_in_place(*return_statement.value);
                 },
                 [&](ExpressionStatement& expression_statement) {
                   fold_expression_in_place(expression_statement.expression);
                 },
                 [&](IfStatement& if_statement) {
                   fold_expression_in_place(if_statement.condition);
                   fold_block(if_statement.then_branch);
                   if (if_statement.else_branch)
                     fold_block(*if_statement.else_branch);
                 },
                 [&](WhileStatement& while_statement) {
                   fold_expression_in_place(while_statement.condition);
                   fold_block(while_statement.body);
                 },
                 [&](ForLoopStatement& for_loop) {
                   if (for_loop.init && for_loop.init->value) {
                     fold_expression_in_place(*for_loop.init->value);
                   }
                   if (for_loop.condition)
                     fold_expression_in_place(*for_loop.condition);
                   if (for_loop.update)
                     fold_expression_in_place(*for_loop.update);
                   fold_block(for_loop.body);
                 },
                 [&](FunctionDeclaration& function) { fold_block(function.body); },
                 // Push values, array statements, object forms, classes, imports and exports
                 // are left as written.
                 [](auto&) {},
             },
             statement.node);
}

// ---- Dead-code elimination ----

namespace {

// The branch a constant `if` is replaced by, taken out of the statement; none when the statement
// is not an `if` whose constant condition selects a branch.
std::optional<std::vector<Statement>> take_selected_branch(Statement& statement) {
  auto* if_statement = statement.as<IfStatement>();
  if (!if_statement)
    return std::nullopt;
  std::optional<bool> taken = constant_condition(if_statement->condition);
  if (!taken)
    return std::nullopt;
  if (*taken)
    return std::move(if_statement->then_branch);
  if (if_statement->else_branch)
    return std::move(*if_statement->else_branch);
  return std::nullopt;
}

bool selects_branch(const Statement& statement) {
  const auto* if_statement = statement.as<IfStatement>();
  if (!if_statement)
    return false;
  std::optional<bool> taken = constant_condition(if_statement->condition);
  return taken && (*taken || if_statement->else_branch);
}

}  // namespace

bool Optimizer::eliminate_in_place(Statement& statement) {
  if (auto* function = statement.as<FunctionDeclaration>()) {
    eliminate_dead_code_in_list(function->body, ReturnRule::EndAtReturn);
  } else if (auto* if_statement = statement.as<IfStatement>()) {
    // A constant condition that gets here is false, with no else-branch to take its place.
    if (constant_condition(if_statement->condition))
      return false;
    eliminate_dead_code_in_list(if_statement->then_branch, ReturnRule::None);
    if (if_statement->else_branch) {
      eliminate_dead_code_in_list(*if_statement->else_branch, ReturnRule::None);
    }
  } else if (auto* while_statement = statement.as<WhileStatement>()) {
    if (constant_condition(while_statement->condition) == false)
      return false;
    eliminate_dead_code_in_list(while_statement->body, ReturnRule::None);
  } else if (auto* for_loop = statement.as<ForLoopStatement>()) {
    if (for_loop->condition && constant_condition(*for_loop->condition) == false) {
      // The loop never runs, but its variable is still declared.
      if (!for_loop->init)
        return false;
      VariableDeclaration init = std::move(*for_loop->init);
      statement.node = std::move(init);
      return true;
    }
    eliminate_dead_code_in_list(for_loop->body, ReturnRule::None);
  }
  return true;
}

void Optimizer::eliminate_dead_code_in_statement(std::vector<Statement>& output,
                                                 Statement statement) {
  if (std::optional<std::vector<Statement>> branch = take_selected_branch(statement)) {
    eliminate_dead_code_in_list(*branch, ReturnRule::EndAtReturn);
    for (Statement& spliced : *branch)
      output.push_back(std::move(spliced));
    return;
  }
  if (eliminate_in_place(statement))
    output.push_back(std::move(statement));
}

// Most lists only lose statements, so they are compacted where they stand; from the first
// spliced branch on, which may put several statements in the place of one, the rest of the list
// is moved into a new one.
void Optimizer::eliminate_dead_code_in_list(std::vector<Statement>& list, ReturnRule rule) {
  std::size_t write = 0;
  std::size_t read = 0;
  bool ended = false;
  for (; read < list.size() && !ended; ++read) {
    Statement& statement = list[read];
    ended = rule != ReturnRule::None && statement.is<ReturnStatement>();
    if (!ended) {
      if (selects_branch(statement))
        break;
      if (!eliminate_in_place(statement))
        continue;
    }
    if (write != read)
      list[write] = std::move(statement);
    ++write;
  }
  if (ended || read == list.size()) {
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(write), list.end());
    return;
  }

  std::vector<Statement> rebuilt;
  rebuilt.reserve(list.size());
  for (std::size_t i = 0; i < write; ++i)
    rebuilt.push_back(std::move(list[i]));
  for (; read < list.size(); ++read) {
    Statement& statement = list[read];
    if (rule != ReturnRule::None && statement.is<ReturnStatement>()) {
      rebuilt.push_back(std::move(statement));
      break;
    }
    const std::size_t first_new = rebuilt.size();
    eliminate_dead_code_in_statement(rebuilt, std::move(statement));
    if (rule == ReturnRule::EndAtProducedReturn) {
      bool returned = false;
      for (std::size_t i = first_new; i < rebuilt.size(); ++i) {
        returned = returned || rebuilt[i].is<ReturnStatement>();
      }
      if (returned)
        break;
    }
  }
  list = std::move(rebuilt);
}

// ---- Walks without effect ----

void Optimizer::analyze_statement_escapes(const Statement& statement) {
  auto walk = [this](const std::vector<Statement>& body) {
    for (const Statement& nested : body)
      analyze_statement_escapes(nested);
  };
  if (const auto* function = statement.as<FunctionDeclaration>()) {
    walk(function->body);
  } else if (const auto* if_statement = statement.as<IfStatement>()) {
    walk(if_statement->then_branch);
    if (if_statement->else_branch)
      walk(*if_statement->else_branch);
  } else if (const auto* while_statement = statement.as<WhileStatement>()) {
    walk(while_statement->body);
  } else if (const auto* for_loop = statement.as<ForLoopStatement>()) {
    walk(for_loop->body);
  }
}

std::size_t Optimizer::estimate_statement_size(const Statement& statement) {
  std::size_t size = 1;
  auto add = [&](const std::vector<Statement>& body) {
    for (const Statement& nested : body)
      size += estimate_statement_size(nested);
  };
  if (const auto* if_statement = statement.as<IfStatement>()) {
    add(if_statement->then_branch);
    if (if_statement->else_branch)
      add(*if_statement->else_branch);
  } else if (const auto* while_statement = statement.as<WhileStatement>()) {
    add(while_statement->body);
  } else if (const auto* for_loop = statement.as<ForLoopStatement>()) {
    add(for_loop->body);
  }
  return size;
}

void Optimizer::inline_statement(const Statement& statement, const InlineCandidates& candidates) {
  auto walk = [&](const std::vector<Statement>& body) {
    for (const Statement& nested : body)
      inline_statement(nested, candidates);
  };
  if (const auto* expression_statement = statement.as<ExpressionStatement>()) {
    if (const auto* call = expression_statement->expression.as<FunctionCall>()) {
      // Calls are looked up but never replaced: no body is copied into its caller.
      [[maybe_unused]] bool is_candidate = candidates.contains(call->name);
    }
  } else if (const auto* function = statement.as<FunctionDeclaration>()) {
    walk(function->body);
  } else if (const auto* if_statement = statement.as<IfStatement>()) {
    walk(if_statement->then_branch);
    if (if_statement->else_branch)
      walk(*if_statement->else_branch);
  } else if (const auto* while_statement = statement.as<WhileStatement>()) {
    walk(while_statement->body);
  } else if (const auto* for_loop = statement.as<ForLoopStatement>()) {
    walk(for_loop->body);
  }
}

// ---- The whole pass ----

Program Optimizer::optimize(Program program) {
  for (Statement& statement : program)
    fold_statement(statement);
  for (Statement& statement : program) {
    if (FunctionDeclaration* function = exported_function(statement))
      fold_block(function->body);
  }

  eliminate_dead_code_in_list(program, ReturnRule::None);
  // An exported body also ends at a return that a constant `if` left in its place.
  for (Statement& statement : program) {
    if (FunctionDeclaration* function = exported_function(statement)) {
      eliminate_dead_code_in_list(function->body, ReturnRule::EndAtProducedReturn);
    }
  }

  for (const Statement& statement : program)
    analyze_statement_escapes(statement);
  InlineCandidates candidates;
  for (const Statement& statement : program) {
    const auto* function = statement.as<FunctionDeclaration>();
    if (!function)
      continue;
    std::size_t size = 0;
    for (const Statement& body_statement : function->body) {
      size += estimate_statement_size(body_statement);
    }
    candidates[function->name] = size;
  }
  for (const Statement& statement : program)
    inline_statement(statement, candidates);
  return program;
}

}  // namespace ovra
