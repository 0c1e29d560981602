#include "parser.h"

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <type_traits>
#include <utility>

#include "lexer.h"

namespace ovra {

namespace {

using T = TokenType;

struct BinaryLevel {
  BinaryOperator op;
  int level;
};

// The binary operator a token stands for and its precedence level (higher binds tighter).
std::optional<BinaryLevel> binary_level(TokenType type) {
  switch (type) {
    case T::Or:
      return BinaryLevel{BinaryOperator::Or, 0};
    case T::And:
      return BinaryLevel{BinaryOperator::And, 1};
    case T::Equal:
      return BinaryLevel{BinaryOperator::Equal, 2};
    case T::NotEqual:
      return BinaryLevel{BinaryOperator::NotEqual, 2};
    case T::Less:
      return BinaryLevel{BinaryOperator::Less, 3};
    case T::Greater:
      return BinaryLevel{BinaryOperator::Greater, 3};
    case T::LessEqual:
      return BinaryLevel{BinaryOperator::LessEqual, 3};
    case T::GreaterEqual:
      return BinaryLevel{BinaryOperator::GreaterEqual, 3};
    case T::Plus:
      return BinaryLevel{BinaryOperator::Add, 4};
    case T::Minus:
      return BinaryLevel{BinaryOperator::Subtract, 4};
    case T::Multiply:
      return BinaryLevel{BinaryOperator::Multiply, 5};
    case T::Divide:
      return BinaryLevel{BinaryOperator::Divide, 5};
    case T::Modulo:
      return BinaryLevel{BinaryOperator::Modulo, 5};
    default:
      return std::nullopt;
  }
}

const Status kOk = Unit{};

// Consumed tokens are released in steps of this many (about 1 MB), so that the system calls
// cost nothing next to the parsing; smaller lists are never released at all.
constexpr std::size_t kTokenReleaseInterval = 16384;

}  // namespace

Parser::Parser(TokenList tokens) : tokens_(std::move(tokens)), release_at_(kTokenReleaseInterval) {
  // The lexer always ends the list with Eof; a hand-made list gets one too, so that the current
  // token always exists.
  if (tokens_.tokens.empty() || tokens_.tokens.back().token_type != T::Eof) {
    Span end = tokens_.tokens.empty() ? Span{} : Span(tokens_.tokens.back().span);
    tokens_.tokens.push_back(Token{T::Eof, {}, {}, end});
  }
}

// ---- Primitives ----

bool Parser::is_at_end() const {
  return peek().token_type == T::Eof;
}

bool Parser::check(TokenType type) const {
  return !is_at_end() && peek().token_type == type;
}

void Parser::release_consumed_tokens() {
  release_at_ += kTokenReleaseInterval;
#if defined(__linux__)
  // Tokens are trivially destructible and the parser never looks back further than the previous
  // token, so whole pages before it can be discarded; reading them again would see zeros.
  static_assert(std::is_trivially_destructible_v<Token>);
  static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  auto base = reinterpret_cast<std::uintptr_t>(tokens_.tokens.data());
  auto keep = reinterpret_cast<std::uintptr_t>(&tokens_.tokens[current_ - 1]);
  std::uintptr_t first = (base + released_bytes_ + page - 1) / page * page;
  std::uintptr_t last = keep / page * page;
  if (last > first) {
    madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
    released_bytes_ = last - base;
  }
#endif
}

CompilerError Parser::error(std::string message) const {
  return CompilerError::syntax(std::move(message), peek().span.line, peek().span.column);
}

CompilerError Parser::nesting_error() const {
  return error("Nesting too deep: more than " + std::to_string(kMaxNestingDepth) + " levels");
}

Status Parser::expect(TokenType type) {
  if (!check(type))
    return error("Expected " + std::string(token_type_name(type)));
  advance();
  return kOk;
}

Status Parser::expect_identifier(std::string& name) {
  if (!check(T::Identifier))
    return error("Expected identifier");
  name.assign(peek().text);
  advance();
  return kOk;
}

Status Parser::set_depth(std::size_t depth) {
  depth_ = depth;
  if (nesting_ + depth > kMaxTreeDepth) {
    return error("Nesting too deep: expression tree deeper than " + std::to_string(kMaxTreeDepth) +
                 " levels");
  }
  return kOk;
}

// ---- Types ----

Result<OvraType> Parser::parse_type() {
  using K = OvraType::Kind;
  std::optional<K> simple;
  switch (peek().token_type) {
    case T::TypeStr:
      simple = K::Str;
      break;
    case T::TypeString:
      simple = K::String;
      break;
    case T::TypeInt:
      simple = K::Int;
      break;
    case T::TypeBool:
      simple = K::Bool;
      break;
    case T::TypeSingleF:
      simple = K::SingleF;
      break;
    case T::TypeMultiF:
      simple = K::MultiF;
      break;
    case T::TypeObj:
      simple = K::Obj;
      break;
    case T::TypeUnknown:
      simple = K::Unknown;
      break;
    case T::TypeVoid:
      simple = K::Void;
      break;
    case T::TypeArr: {
      advance();
      if (!check(T::Less))
        return OvraType::array_of(OvraType(K::Unknown));
      NestingLevel level(*this);
      if (level.too_deep())
        return nesting_error();
      advance();
      Result<OvraType> element = parse_type();
      if (!element)
        return element;
      if (Status closed = expect(T::Greater); !closed)
        return std::move(closed.error());
      return OvraType::array_of(std::move(element.value()));
    }
    default:
      return error("Expected type");
  }
  advance();
  return OvraType(*simple);
}

// ---- Expressions ----

Result<std::optional<Expression>> Parser::parse_expression() {
  Slot out;
  if (Status ok = parse_expression(out); !ok)
    return std::move(ok.error());
  return Result<std::optional<Expression>>(std::move(out));
}

Status Parser::parse_expression(Slot& out) {
  if (Status ok = parse_binary_expression(0, out); !ok || !out || !check(T::Assign))
    return ok;

  // `a = b = c` groups to the right. The chain is collected first and folded afterwards, so a
  // long chain costs no recursion.
  struct Target {
    Expression expression;
    Span span;  // of the token before `=`, as for `a == b`
    std::size_t depth;
  };
  std::vector<Target> targets;
  std::size_t value_depth = depth_;
  while (check(T::Assign) && (out->is<Identifier>() || out->is<ArrayAccess>())) {
    Span span = previous().span;
    advance();
    targets.push_back(Target{std::move(*out), span, value_depth});
    out.reset();
    if (Status ok = parse_binary_expression(0, out); !ok)
      return ok;
    if (!out)
      return error("Expected expression after '='");
    value_depth = depth_;
  }
  while (!targets.empty()) {
    Target& target = targets.back();
    std::size_t depth = std::max(target.depth, value_depth) + 1;
    Box<Expression> value(std::move(*out));
    if (auto* access = target.expression.as<ArrayAccess>()) {
      out.emplace(ArrayAssignment{target.span, std::move(access->array), std::move(access->index),
                                  std::move(value)});
    } else {
      out.emplace(BinaryExpression{target.span, Box<Expression>(std::move(target.expression)),
                                   BinaryOperator::Equal, std::move(value)});
    }
    targets.pop_back();
    if (Status ok = set_depth(depth); !ok)
      return ok;
    value_depth = depth;
  }
  depth_ = value_depth;
  return kOk;
}

Status Parser::parse_binary_expression(int min_level, Slot& out) {
  if (Status ok = parse_unary_expression(out); !ok || !out)
    return ok;
  std::size_t left_depth = depth_;
  while (true) {
    std::optional<BinaryLevel> op = binary_level(peek().token_type);
    if (!op || op->level < min_level)
      break;
    if (Status ok = set_depth(left_depth + 1); !ok)
      return ok;
    Span span = previous().span;
    advance();
    Slot right;
    if (Status ok = parse_binary_expression(op->level + 1, right); !ok)
      return ok;
    if (!right)
      return error("Expected expression after operator");
    std::size_t depth = std::max(left_depth, depth_) + 1;
    out.emplace(BinaryExpression{span, Box<Expression>(std::move(*out)), op->op,
                                 Box<Expression>(std::move(*right))});
    if (Status ok = set_depth(depth); !ok)
      return ok;
    left_depth = depth;
  }
  depth_ = left_depth;
  return kOk;
}

Status Parser::parse_unary_expression(Slot& out) {
  UnaryOperator op;
  const char* message;
  if (check(T::Minus)) {
    op = UnaryOperator::Negate;
    message = "Expected expression after '-'";
  } else if (check(T::Not)) {
    op = UnaryOperator::Not;
    message = "Expected expression after '!'";
  } else {
    return parse_primary_expression(out);
  }
  NestingLevel level(*this);
  if (level.too_deep())
    return nesting_error();
  Span span = peek().span;
  advance();
  if (Status ok = parse_unary_expression(out); !ok)
    return ok;
  if (!out)
    return error(message);
  out.emplace(UnaryExpression{span, op, Box<Expression>(std::move(*out))});
  return set_depth(depth_ + 1);
}

Status Parser::parse_arguments(TokenType closing, std::vector<Expression>& out) {
  std::size_t max_depth = 0;
  if (!check(closing)) {
    while (true) {
      Slot argument;
      if (Status ok = parse_expression(argument); !ok)
        return ok;
      if (argument) {
        out.push_back(std::move(*argument));
        max_depth = std::max(max_depth, depth_);
      }
      if (!check(T::Comma))
        break;
      advance();
    }
  }
  if (Status closed = expect(closing); !closed)
    return closed;
  depth_ = max_depth;
  return kOk;
}

Status Parser::parse_required(std::string_view message, Slot& out) {
  if (Status ok = parse_expression(out); !ok)
    return ok;
  if (!out)
    return error(std::string(message));
  return kOk;
}

Status Parser::parse_primary_expression(Slot& out) {
  const Token& token = peek();
  Span span = token.span;
  switch (token.token_type) {
    case T::Identifier: {
      std::string name(token.text);
      advance();
      if (!check(T::LeftParen)) {
        out.emplace(Identifier{span, std::move(name)});
        depth_ = 0;
        return parse_postfix(out);
      }
      NestingLevel level(*this);
      if (level.too_deep())
        return nesting_error();
      advance();
      std::vector<Expression> arguments;
      if (Status ok = parse_arguments(T::RightParen, arguments); !ok)
        return ok;
      out.emplace(FunctionCall{span, std::move(name), std::move(arguments)});
      if (Status ok = set_depth(depth_ + 1); !ok)
        return ok;
      return parse_postfix(out);
    }
    case T::StringLiteral: {
      out.emplace(
          Literal{span, StringValue{std::string(token.text)}, OvraType(OvraType::Kind::String)});
      advance();
      depth_ = 0;
      return parse_postfix(out);
    }
    case T::NumberLiteral: {
      bool is_float = token.text.find_first_of(".eE") != std::string_view::npos;
      out.emplace(Literal{span, NumberValue{std::string(token.text)},
                          OvraType(is_float ? OvraType::Kind::SingleF : OvraType::Kind::Int)});
      advance();
      depth_ = 0;
      return parse_postfix(out);
    }
    case T::True:
    case T::False: {
      out.emplace(
          Literal{span, BooleanValue{token.token_type == T::True}, OvraType(OvraType::Kind::Bool)});
      advance();
      depth_ = 0;
      return parse_postfix(out);
    }
    case T::New: {
      advance();
      std::string class_name;
      if (Status ok = expect_identifier(class_name); !ok)
        return ok;
      NestingLevel level(*this);
      if (level.too_deep())
        return nesting_error();
      if (Status open = expect(T::LeftParen); !open)
        return open;
      std::vector<Expression> arguments;
      if (Status ok = parse_arguments(T::RightParen, arguments); !ok)
        return ok;
      out.emplace(NewExpression{span, std::move(class_name), std::move(arguments)});
      if (Status ok = set_depth(depth_ + 1); !ok)
        return ok;
      return parse_postfix(out);
    }
    case T::LeftParen: {
      NestingLevel level(*this);
      if (level.too_deep())
        return nesting_error();
      advance();
      if (Status ok = parse_expression(out); !ok)
        return ok;
      if (Status closed = expect(T::RightParen); !closed)
        return closed;
      if (!out)
        return kOk;  // `()` is no expression
      return parse_postfix(out);
    }
    case T::LeftBracket: {
      NestingLevel level(*this);
      if (level.too_deep())
        return nesting_error();
      advance();
      std::vector<Expression> elements;
      if (Status ok = parse_arguments(T::RightBracket, elements); !ok)
        return ok;
      out.emplace(ArrayLiteral{span, std::move(elements)});
      if (Status ok = set_depth(depth_ + 1); !ok)
        return ok;
      return parse_postfix(out);
    }
    default:
      return kOk;  // no expression
  }
}

Status Parser::parse_postfix(Slot& out) {
  std::size_t depth = depth_;
  while (check(T::Dot) || check(T::LeftBracket)) {
    if (Status ok = set_depth(depth + 1); !ok)
      return ok;
    Span span = out->span();
    if (check(T::Dot)) {
      advance();
      std::string name;
      if (Status ok = expect_identifier(name); !ok)
        return ok;
      if (check(T::LeftParen)) {
        NestingLevel level(*this);
        if (level.too_deep())
          return nesting_error();
        advance();
        std::vector<Expression> arguments;
        if (Status ok = parse_arguments(T::RightParen, arguments); !ok)
          return ok;
        depth = std::max(depth, depth_) + 1;
        out.emplace(MethodCall{span, Box<Expression>(std::move(*out)), std::move(name),
                               std::move(arguments)});
      } else {
        depth += 1;
        out.emplace(PropertyAccess{span, Box<Expression>(std::move(*out)), std::move(name)});
      }
    } else {
      NestingLevel level(*this);
      if (level.too_deep())
        return nesting_error();
      advance();
      Slot index;
      if (Status ok = parse_required("Expected index expression", index); !ok)
        return ok;
      if (Status closed = expect(T::RightBracket); !closed)
        return closed;
      depth = std::max(depth, depth_) + 1;
      out.emplace(
          ArrayAccess{span, Box<Expression>(std::move(*out)), Box<Expression>(std::move(*index))});
    }
    if (Status ok = set_depth(depth); !ok)
      return ok;
  }
  depth_ = depth;
  return kOk;
}

// ---- Statements ----

Status Parser::parse_block(std::vector<Statement>& out) {
  NestingLevel level(*this);
  if (level.too_deep())
    return nesting_error();
  if (Status open = expect(T::LeftBrace); !open)
    return open;
  // Statements are gathered on the shared stack and moved into a list of exactly their number:
  // a statement is large, and growing each block's own list would leave unused room in most.
  const std::size_t base = block_stack_.size();
  while (!check(T::RightBrace) && !is_at_end()) {
    if (Status ok = parse_statement(block_stack_); !ok)
      return ok;
  }
  out.reserve(out.size() + block_stack_.size() - base);
  std::move(block_stack_.begin() + base, block_stack_.end(), std::back_inserter(out));
  block_stack_.erase(block_stack_.begin() + base, block_stack_.end());
  return expect(T::RightBrace);
}

Status Parser::parse_variable_declaration(VariableDeclaration& out) {
  out.span = peek().span;
  out.is_const = check(T::Const);
  advance();
  if (Status ok = expect_identifier(out.name); !ok)
    return ok;
  if (check(T::Colon)) {
    advance();
    Result<OvraType> type = parse_type();
    if (!type)
      return std::move(type.error());
    out.var_type = std::move(type.value());
  }
  if (check(T::Assign)) {
    advance();
    Slot value;
    if (Status ok = parse_required("Expected expression after '='", value); !ok)
      return ok;
    out.value = std::move(*value);
  }
  return expect(T::Semicolon);
}

Status Parser::parse_parameters(std::vector<Parameter>& out) {
  if (check(T::RightParen))
    return kOk;
  while (true) {
    Parameter parameter;
    if (Status ok = expect_identifier(parameter.name); !ok)
      return ok;
    if (Status colon = expect(T::Colon); !colon)
      return colon;
    Result<OvraType> type = parse_type();
    if (!type)
      return std::move(type.error());
    parameter.param_type = std::move(type.value());
    out.push_back(std::move(parameter));
    if (!check(T::Comma))
      return kOk;
    advance();
  }
}

Status Parser::parse_function_declaration(FunctionDeclaration& out) {
  out.span = peek().span;
  advance();  // func
  if (Status ok = expect_identifier(out.name); !ok)
    return ok;
  if (Status open = expect(T::LeftParen); !open)
    return open;
  if (Status ok = parse_parameters(out.parameters); !ok)
    return ok;
  if (Status closed = expect(T::RightParen); !closed)
    return closed;
  if (Status colon = expect(T::Colon); !colon)
    return colon;
  Result<OvraType> return_type = parse_type();
  if (!return_type)
    return std::move(return_type.error());
  out.return_type = std::move(return_type.value());
  return parse_block(out.body);
}

Status Parser::parse_return(std::vector<Statement>& out) {
  ReturnStatement statement{peek().span, std::nullopt};
  advance();  // back
  if (check(T::Semicolon)) {
    advance();
  } else {
    Slot value;
    if (Status ok = parse_required("Expected expression after 'back'", value); !ok) {
      return ok;
    }
    statement.value = std::move(*value);
    if (Status end = expect(T::Semicolon); !end)
      return end;
  }
  out.emplace_back(std::move(statement));
  return kOk;
}

Status Parser::parse_if(std::vector<Statement>& out) {
  Span span = peek().span;
  advance();  // if
  if (Status open = expect(T::LeftParen); !open)
    return open;
  Slot condition;
  if (Status ok = parse_required("Expected condition expression", condition); !ok)
    return ok;
  if (Status closed = expect(T::RightParen); !closed)
    return closed;
  IfStatement statement{span, std::move(*condition), {}, std::nullopt};
  if (Status ok = parse_block(statement.then_branch); !ok)
    return ok;
  if (check(T::Else) || check(T::Esle)) {
    advance();
    if (Status ok = parse_block(statement.else_branch.emplace()); !ok)
      return ok;
  }
  out.emplace_back(std::move(statement));
  return kOk;
}

Status Parser::parse_while(std::vector<Statement>& out) {
  Span span = peek().span;
  advance();  // while
  if (Status open = expect(T::LeftParen); !open)
    return open;
  Slot condition;
  if (Status ok = parse_required("Expected condition expression", condition); !ok)
    return ok;
  if (Status closed = expect(T::RightParen); !closed)
    return closed;
  WhileStatement statement{span, std::move(*condition), {}};
  if (Status ok = parse_block(statement.body); !ok)
    return ok;
  out.emplace_back(std::move(statement));
  return kOk;
}

Status Parser::parse_forloop(std::vector<Statement>& out) {
  ForLoopStatement loop{peek().span, std::nullopt, std::nullopt, std::nullopt, {}};
  advance();  // forloop
  if (Status open = expect(T::LeftParen); !open)
    return open;

  if (check(T::Let) || check(T::Const)) {
    if (Status ok = parse_variable_declaration(loop.init.emplace()); !ok)
      return ok;
  } else if (check(T::Semicolon)) {
    advance();
  } else {
    // An expression initializer is read and dropped: the tree has no place for it.
    Slot init;
    if (Status ok = parse_expression(init); !ok)
      return ok;
    if (Status end = expect(T::Semicolon); !end)
      return end;
  }

  if (!check(T::Semicolon)) {
    Slot condition;
    if (Status ok = parse_expression(condition); !ok)
      return ok;
    loop.condition = std::move(condition);
  }
  if (Status end = expect(T::Semicolon); !end)
    return end;

  if (!check(T::RightParen)) {
    Slot update;
    if (Status ok = parse_expression(update); !ok)
      return ok;
    loop.update = std::move(update);
  }
  if (Status closed = expect(T::RightParen); !closed)
    return closed;

  if (Status ok = parse_block(loop.body); !ok)
    return ok;
  out.emplace_back(std::move(loop));
  return kOk;
}

Result<ArrayAccess> Parser::parse_named_index() {
  Span span = peek().span;
  std::string name;
  if (Status ok = expect_identifier(name); !ok)
    return std::move(ok.error());
  if (Status open = expect(T::LeftBracket); !open)
    return std::move(open.error());
  Slot index;
  if (Status ok = parse_required("Expected index expression", index); !ok) {
    return std::move(ok.error());
  }
  if (Status closed = expect(T::RightBracket); !closed)
    return std::move(closed.error());
  return ArrayAccess{span, Box<Expression>(Identifier{span, std::move(name)}),
                     Box<Expression>(std::move(*index))};
}

Status Parser::parse_push(std::vector<Statement>& out) {
  Span span = peek().span;
  advance();  // push
  Slot value;
  if (Status ok = parse_required("Expected value expression after 'push'", value); !ok)
    return ok;
  if (Status arrow = expect(T::Arrow); !arrow)
    return arrow;
  Result<ArrayAccess> target = parse_named_index();
  if (!target)
    return std::move(target.error());
  if (Status end = expect(T::Semicolon); !end)
    return end;
  out.emplace_back(PushStatement{span, std::move(*value), std::move(target.value())});
  return kOk;
}

Status Parser::parse_out(std::vector<Statement>& out) {
  Span span = peek().span;
  advance();  // out
  Result<ArrayAccess> source = parse_named_index();
  if (!source)
    return std::move(source.error());
  if (Status as = expect(T::As); !as)
    return as;
  OutStatement statement{span, std::move(source.value()), {}, {}};
  if (Status ok = expect_identifier(statement.param_name); !ok)
    return ok;
  if (Status ok = parse_block(statement.body); !ok)
    return ok;
  out.emplace_back(std::move(statement));
  return kOk;
}

Status Parser::parse_rmv(std::vector<Statement>& out) {
  Span span = peek().span;
  advance();  // rmv
  Result<ArrayAccess> target = parse_named_index();
  if (!target)
    return std::move(target.error());
  if (Status end = expect(T::Semicolon); !end)
    return end;
  out.emplace_back(RmvStatement{span, std::move(target.value())});
  return kOk;
}

Status Parser::parse_class_declaration(ClassDeclaration& out) {
  out.span = peek().span;
  advance();  // class
  if (Status ok = expect_identifier(out.name); !ok)
    return ok;
  if (Status open = expect(T::LeftBrace); !open)
    return open;
  while (!check(T::RightBrace) && !is_at_end()) {
    ClassField field;
    if (Status ok = expect_identifier(field.name); !ok)
      return ok;
    if (Status colon = expect(T::Colon); !colon)
      return colon;
    Result<OvraType> type = parse_type();
    if (!type)
      return std::move(type.error());
    field.field_type = std::move(type.value());
    out.fields.push_back(std::move(field));
    if (check(T::Semicolon))
      advance();
  }
  return expect(T::RightBrace);
}

Status Parser::parse_object_members(std::vector<ObjectField>& fields,
                                    std::vector<ObjectMethod>& methods) {
  if (Status open = expect(T::LeftBrace); !open)
    return open;
  while (!check(T::RightBrace) && !is_at_end()) {
    if (check(T::Func)) {
      FunctionDeclaration function;
      if (Status ok = parse_function_declaration(function); !ok)
        return ok;
      methods.push_back(ObjectMethod{std::move(function.name), std::move(function.parameters),
                                     std::move(function.return_type), std::move(function.body)});
      continue;
    }
    std::string name;
    if (Status ok = expect_identifier(name); !ok)
      return ok;
    if (Status assign = expect(T::Assign); !assign)
      return assign;
    Slot value;
    if (Status ok = parse_required("Expected expression after '='", value); !ok)
      return ok;
    if (Status end = expect(T::Semicolon); !end)
      return end;
    fields.push_back(ObjectField{std::move(name), std::move(*value)});
  }
  return expect(T::RightBrace);
}

Status Parser::parse_crob(std::vector<Statement>& out) {
  Span span = peek().span;
  advance();  // crob
  std::string name;
  if (Status ok = expect_identifier(name); !ok)
    return ok;

  if (!check(T::LeftParen)) {
    if (Status assign = expect(T::Assign); !assign)
      return assign;
    Slot initializer;
    if (Status ok = parse_required("Expected expression after '='", initializer); !ok)
      return ok;
    if (Status end = expect(T::Semicolon); !end)
      return end;
    out.emplace_back(CrobDeclaration{span, std::move(name), std::move(*initializer)});
    return kOk;
  }

  // crob NAME (class: CLASS, right: BOOL) { MEMBER... }
  CrobEncapsulatedDeclaration declaration;
  declaration.span = span;
  declaration.name = std::move(name);
  advance();  // (
  if (Status keyword = expect(T::Class); !keyword)
    return keyword;
  if (Status colon = expect(T::Colon); !colon)
    return colon;
  if (Status ok = expect_identifier(declaration.class_name); !ok)
    return ok;
  if (Status comma = expect(T::Comma); !comma)
    return comma;
  std::string right;
  if (Status ok = expect_identifier(right); !ok)
    return ok;
  if (right != "right")
    return error("Expected 'right' keyword");
  if (Status colon = expect(T::Colon); !colon)
    return colon;
  if (!check(T::True) && !check(T::False)) {
    return error("Expected true or false for right parameter");
  }
  declaration.right = check(T::True);
  advance();
  if (Status closed = expect(T::RightParen); !closed)
    return closed;
  if (Status ok = parse_object_members(declaration.fields, declaration.methods); !ok)
    return ok;
  out.emplace_back(std::move(declaration));
  return kOk;
}

Status Parser::parse_remake(std::vector<Statement>& out) {
  RemakeStatement remake;
  remake.span = peek().span;
  advance();  // remake
  if (Status ok = expect_identifier(remake.name); !ok)
    return ok;
  if (Status ok = parse_object_members(remake.fields, remake.methods); !ok)
    return ok;
  out.emplace_back(std::move(remake));
  return kOk;
}

Status Parser::parse_import_names(std::vector<std::string>& out) {
  if (Status open = expect(T::LeftBrace); !open)
    return open;
  if (!check(T::RightBrace)) {
    while (true) {
      if (Status ok = expect_identifier(out.emplace_back()); !ok)
        return ok;
      if (!check(T::Comma))
        break;
      advance();
    }
  }
  return expect(T::RightBrace);
}

Status Parser::parse_import_source(ImportDeclaration& declaration) {
  if (check(T::StringLiteral)) {
    declaration.source = std::string(peek().text);
    declaration.source_is_string = true;
    advance();
    return kOk;
  }
  if (!check(T::Identifier))
    return error("Expected string path or identifier");
  declaration.source = std::string(peek().text);
  advance();
  while (check(T::Dot)) {
    advance();
    std::string part;
    if (Status ok = expect_identifier(part); !ok)
      return ok;
    declaration.source += '.';
    declaration.source += part;
  }
  return kOk;
}

Status Parser::parse_import(std::vector<Statement>& out) {
  ImportDeclaration declaration;
  declaration.span = peek().span;
  advance();  // cite

  if (check(T::LeftBrace)) {
    // cite { a, b } from SOURCE;
    if (Status ok = parse_import_names(declaration.named_imports); !ok)
      return ok;
  } else if (check(T::Identifier)) {
    std::string first(peek().text);
    advance();
    if (check(T::As)) {
      // cite name as alias;
      advance();
      if (Status ok = expect_identifier(declaration.alias.emplace()); !ok)
        return ok;
      declaration.default_import = first;
      declaration.source = std::move(first);
      if (Status end = expect(T::Semicolon); !end)
        return end;
      out.emplace_back(std::move(declaration));
      return kOk;
    }
    if (check(T::Dot)) {
      // cite a.b.c [as alias];
      std::string last = first;
      declaration.source = std::move(first);
      while (check(T::Dot)) {
        advance();
        if (Status ok = expect_identifier(last); !ok)
          return ok;
        declaration.source += '.';
        declaration.source += last;
      }
      if (check(T::As)) {
        advance();
        if (Status ok = expect_identifier(declaration.alias.emplace()); !ok)
          return ok;
      } else {
        declaration.default_import = std::move(last);
      }
      if (Status end = expect(T::Semicolon); !end)
        return end;
      out.emplace_back(std::move(declaration));
      return kOk;
    }
    // cite name [, { a, b }] from SOURCE;
    declaration.default_import = std::move(first);
    if (check(T::Comma)) {
      advance();
      if (Status ok = parse_import_names(declaration.named_imports); !ok)
        return ok;
    }
  } else {
    return error("Invalid cite syntax");
  }

  if (Status from = expect(T::From); !from)
    return from;
  if (Status source = parse_import_source(declaration); !source)
    return source;
  if (Status end = expect(T::Semicolon); !end)
    return end;
  out.emplace_back(std::move(declaration));
  return kOk;
}

Status Parser::parse_export(std::vector<Statement>& out) {
  Span span = peek().span;
  advance();  // share
  if (check(T::Func)) {
    FunctionDeclaration function;
    if (Status ok = parse_function_declaration(function); !ok)
      return ok;
    function.is_share = true;
    out.emplace_back(ExportDeclaration{span, Box<Statement>(std::move(function))});
    return kOk;
  }
  if (check(T::Class)) {
    ClassDeclaration declaration;
    if (Status ok = parse_class_declaration(declaration); !ok)
      return ok;
    out.emplace_back(ExportDeclaration{span, Box<Statement>(std::move(declaration))});
    return kOk;
  }
  return error("Expected 'func' or 'class' after 'share'");
}

Status Parser::parse_expression_statement(std::vector<Statement>& out) {
  // Copied: the token may be released while the expression is read.
  const TokenType start_type = peek().token_type;
  const Span start_span = peek().span;
  Slot expression;
  if (Status ok = parse_expression(expression); !ok)
    return ok;
  if (!expression) {
    // Reported at the statement's first token even when an empty `()` was read past.
    return CompilerError::syntax("Unexpected token " + std::string(token_type_name(start_type)),
                                 start_span.line, start_span.column);
  }
  if (Status end = expect(T::Semicolon); !end)
    return end;
  Span span = expression->span();
  out.emplace_back(ExpressionStatement{span, std::move(*expression)});
  return kOk;
}

Status Parser::parse_statement(std::vector<Statement>& out) {
  switch (peek().token_type) {
    case T::Let:
    case T::Const: {
      VariableDeclaration declaration;
      if (Status ok = parse_variable_declaration(declaration); !ok)
        return ok;
      out.emplace_back(std::move(declaration));
      return kOk;
    }
    case T::Func: {
      FunctionDeclaration declaration;
      if (Status ok = parse_function_declaration(declaration); !ok)
        return ok;
      out.emplace_back(std::move(declaration));
      return kOk;
    }
    case T::Back:
      return parse_return(out);
    case T::Push:
      return parse_push(out);
    case T::Out:
      return parse_out(out);
    case T::Rmv:
      return parse_rmv(out);
    case T::Class: {
      ClassDeclaration declaration;
      if (Status ok = parse_class_declaration(declaration); !ok)
        return ok;
      out.emplace_back(std::move(declaration));
      return kOk;
    }
    case T::Forloop:
      return parse_forloop(out);
    case T::While:
      return parse_while(out);
    case T::If:
      return parse_if(out);
    case T::Crob:
      return parse_crob(out);
    case T::Remake:
      return parse_remake(out);
    case T::Cite:
      return parse_import(out);
    case T::Share:
      return parse_export(out);
    case T::Continue:
    case T::Break: {
      Span span = peek().span;
      bool is_continue = check(T::Continue);
      advance();
      if (Status end = expect(T::Semicolon); !end)
        return end;
      if (is_continue) {
        out.emplace_back(ContinueStatement{span});
      } else {
        out.emplace_back(BreakStatement{span});
      }
      return kOk;
    }
    default:
      return parse_expression_statement(out);
  }
}

Result<std::optional<Statement>> Parser::parse_statement() {
  top_level_.clear();
  if (Status ok = parse_statement(top_level_); !ok)
    return std::move(ok.error());
  return Result<std::optional<Statement>>(std::move(top_level_.back()));
}

Result<Program> parse_program(std::string_view source) {
  Result<TokenList> tokens = Lexer(source).scan_tokens();
  if (!tokens)
    return std::move(tokens.error());
  Parser parser(std::move(tokens.value()));
  Program program;
  while (!parser.is_at_end()) {
    Result<std::optional<Statement>> statement = parser.parse_statement();
    if (!statement)
      return std::move(statement.error());
    if (statement.value())
      program.push_back(std::move(*statement.value()));
  }
  return program;
}

}  // namespace ovra
