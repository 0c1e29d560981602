#include "parser.h"

#include <algorithm>
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

Result<std::optional<Expression>> some(Expression expression) {
  return Result<std::optional<Expression>>(std::optional<Expression>(std::move(expression)));
}
Result<std::optional<Expression>> no_expression() {
  return Result<std::optional<Expression>>(std::optional<Expression>());
}
template <class Record>
Result<std::optional<Statement>> statement(Record record) {
  return Result<std::optional<Statement>>(std::optional<Statement>(Statement(std::move(record))));
}

}  // namespace

Parser::Parser(TokenList tokens) : tokens_(std::move(tokens)) {
  // The lexer always ends the list with Eof; a hand-made empty list gets one too, so that the
  // current token always exists.
  if (tokens_.tokens.empty() || tokens_.tokens.back().token_type != T::Eof) {
    Span end = tokens_.tokens.empty() ? Span{} : tokens_.tokens.back().span;
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

void Parser::advance() {
  if (!is_at_end())
    ++current_;
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
  return Unit{};
}

Result<std::string> Parser::expect_identifier() {
  if (!check(T::Identifier))
    return error("Expected identifier");
  std::string name(peek().text);
  advance();
  return name;
}

Status Parser::set_depth(std::size_t depth) {
  depth_ = depth;
  if (nesting_ + depth > kMaxTreeDepth) {
    return error("Nesting too deep: expression tree deeper than " + std::to_string(kMaxTreeDepth) +
                 " levels");
  }
  return Unit{};
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
        return std::move(element.error());
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
  ExpressionResult left = parse_binary_expression(0);
  if (!left || !left.value() || !check(T::Assign))
    return left;

  // `a = b = c` groups to the right. The chain is collected first and folded afterwards, so a
  // long chain costs no recursion.
  struct Target {
    Expression expression;
    Span span;  // of the token before `=`, as for `a == b`
    std::size_t depth;
  };
  std::vector<Target> targets;
  Expression value = std::move(*left.value());
  std::size_t value_depth = depth_;
  while (check(T::Assign) && (value.is<Identifier>() || value.is<ArrayAccess>())) {
    Span span = previous().span;
    advance();
    ExpressionResult right = parse_binary_expression(0);
    if (!right)
      return std::move(right.error());
    if (!right.value())
      return error("Expected expression after '='");
    targets.push_back(Target{std::move(value), span, value_depth});
    value = std::move(*right.value());
    value_depth = depth_;
  }
  while (!targets.empty()) {
    Target target = std::move(targets.back());
    targets.pop_back();
    std::size_t depth = std::max(target.depth, value_depth) + 1;
    if (auto* access = target.expression.as<ArrayAccess>()) {
      value =
          Expression(ArrayAssignment{target.span, std::move(access->array),
                                     std::move(access->index), Box<Expression>(std::move(value))});
    } else {
      value =
          Expression(BinaryExpression{target.span, Box<Expression>(std::move(target.expression)),
                                      BinaryOperator::Equal, Box<Expression>(std::move(value))});
    }
    if (Status ok = set_depth(depth); !ok)
      return std::move(ok.error());
    value_depth = depth;
  }
  depth_ = value_depth;
  return some(std::move(value));
}

Result<std::optional<Expression>> Parser::parse_binary_expression(int min_level) {
  ExpressionResult left = parse_unary_expression();
  if (!left || !left.value())
    return left;
  Expression expression = std::move(*left.value());
  std::size_t left_depth = depth_;
  while (true) {
    std::optional<BinaryLevel> op = binary_level(peek().token_type);
    if (!op || op->level < min_level)
      break;
    if (Status ok = set_depth(left_depth + 1); !ok)
      return std::move(ok.error());
    Span span = previous().span;
    advance();
    ExpressionResult right = parse_binary_expression(op->level + 1);
    if (!right)
      return std::move(right.error());
    if (!right.value())
      return error("Expected expression after operator");
    std::size_t depth = std::max(left_depth, depth_) + 1;
    expression = Expression(BinaryExpression{span, Box<Expression>(std::move(expression)), op->op,
                                             Box<Expression>(std::move(*right.value()))});
    if (Status ok = set_depth(depth); !ok)
      return std::move(ok.error());
    left_depth = depth;
  }
  depth_ = left_depth;
  return some(std::move(expression));
}

Result<std::optional<Expression>> Parser::parse_unary_expression() {
  UnaryOperator op;
  const char* message;
  if (check(T::Minus)) {
    op = UnaryOperator::Negate;
    message = "Expected expression after '-'";
  } else if (check(T::Not)) {
    op = UnaryOperator::Not;
    message = "Expected expression after '!'";
  } else {
    return parse_primary_expression();
  }
  NestingLevel level(*this);
  if (level.too_deep())
    return nesting_error();
  Span span = peek().span;
  advance();
  ExpressionResult operand = parse_unary_expression();
  if (!operand)
    return operand;
  if (!operand.value())
    return error(message);
  std::size_t depth = depth_ + 1;
  Expression unary(UnaryExpression{span, op, Box<Expression>(std::move(*operand.value()))});
  if (Status ok = set_depth(depth); !ok)
    return std::move(ok.error());
  return some(std::move(unary));
}

Result<std::vector<Expression>> Parser::parse_arguments(TokenType closing) {
  std::vector<Expression> arguments;
  std::size_t max_depth = 0;
  if (!check(closing)) {
    while (true) {
      ExpressionResult argument = parse_expression();
      if (!argument)
        return std::move(argument.error());
      if (argument.value()) {
        arguments.push_back(std::move(*argument.value()));
        max_depth = std::max(max_depth, depth_);
      }
      if (!check(T::Comma))
        break;
      advance();
    }
  }
  if (Status closed = expect(closing); !closed)
    return std::move(closed.error());
  depth_ = max_depth;
  return arguments;
}

Result<std::optional<Expression>> Parser::parse_primary_expression() {
  const Token& token = peek();
  Span span = token.span;
  switch (token.token_type) {
    case T::Identifier: {
      std::string name(token.text);
      advance();
      if (!check(T::LeftParen)) {
        depth_ = 0;
        return parse_postfix(Identifier{span, std::move(name)});
      }
      NestingLevel level(*this);
      if (level.too_deep())
        return nesting_error();
      advance();
      Result<std::vector<Expression>> arguments = parse_arguments(T::RightParen);
      if (!arguments)
        return std::move(arguments.error());
      if (Status ok = set_depth(depth_ + 1); !ok)
        return std::move(ok.error());
      return parse_postfix(FunctionCall{span, std::move(name), std::move(arguments.value())});
    }
    case T::StringLiteral: {
      Literal literal{span, StringValue{std::string(token.text)}, OvraType(OvraType::Kind::String)};
      advance();
      depth_ = 0;
      return parse_postfix(std::move(literal));
    }
    case T::NumberLiteral: {
      bool is_float = token.text.find_first_of(".eE") != std::string_view::npos;
      Literal literal{span, NumberValue{std::string(token.text)},
                      OvraType(is_float ? OvraType::Kind::SingleF : OvraType::Kind::Int)};
      advance();
      depth_ = 0;
      return parse_postfix(std::move(literal));
    }
    case T::True:
    case T::False: {
      Literal literal{span, BooleanValue{token.token_type == T::True},
                      OvraType(OvraType::Kind::Bool)};
      advance();
      depth_ = 0;
      return parse_postfix(std::move(literal));
    }
    case T::New: {
      advance();
      Result<std::string> class_name = expect_identifier();
      if (!class_name)
        return std::move(class_name.error());
      NestingLevel level(*this);
      if (level.too_deep())
        return nesting_error();
      if (Status open = expect(T::LeftParen); !open)
        return std::move(open.error());
      Result<std::vector<Expression>> arguments = parse_arguments(T::RightParen);
      if (!arguments)
        return std::move(arguments.error());
      if (Status ok = set_depth(depth_ + 1); !ok)
        return std::move(ok.error());
      return parse_postfix(
          NewExpression{span, std::move(class_name.value()), std::move(arguments.value())});
    }
    case T::LeftParen: {
      NestingLevel level(*this);
      if (level.too_deep())
        return nesting_error();
      advance();
      ExpressionResult inner = parse_expression();
      if (!inner)
        return inner;
      if (Status closed = expect(T::RightParen); !closed)
        return std::move(closed.error());
      if (!inner.value())
        return inner;  // `()` is no expression
      return parse_postfix(std::move(*inner.value()));
    }
    case T::LeftBracket: {
      NestingLevel level(*this);
      if (level.too_deep())
        return nesting_error();
      advance();
      Result<std::vector<Expression>> elements = parse_arguments(T::RightBracket);
      if (!elements)
        return std::move(elements.error());
      if (Status ok = set_depth(depth_ + 1); !ok)
        return std::move(ok.error());
      return parse_postfix(ArrayLiteral{span, std::move(elements.value())});
    }
    default:
      return no_expression();
  }
}

Result<std::optional<Expression>> Parser::parse_postfix(Expression expression) {
  std::size_t depth = depth_;
  while (check(T::Dot) || check(T::LeftBracket)) {
    if (Status ok = set_depth(depth + 1); !ok)
      return std::move(ok.error());
    Span span = expression.span();
    if (check(T::Dot)) {
      advance();
      Result<std::string> name = expect_identifier();
      if (!name)
        return std::move(name.error());
      if (check(T::LeftParen)) {
        NestingLevel level(*this);
        if (level.too_deep())
          return nesting_error();
        advance();
        Result<std::vector<Expression>> arguments = parse_arguments(T::RightParen);
        if (!arguments)
          return std::move(arguments.error());
        depth = std::max(depth, depth_) + 1;
        expression = Expression(MethodCall{span, Box<Expression>(std::move(expression)),
                                           std::move(name.value()), std::move(arguments.value())});
      } else {
        depth += 1;
        expression = Expression(
            PropertyAccess{span, Box<Expression>(std::move(expression)), std::move(name.value())});
      }
    } else {
      NestingLevel level(*this);
      if (level.too_deep())
        return nesting_error();
      advance();
      ExpressionResult index = parse_expression();
      if (!index)
        return index;
      if (!index.value())
        return error("Expected index expression");
      if (Status closed = expect(T::RightBracket); !closed)
        return std::move(closed.error());
      depth = std::max(depth, depth_) + 1;
      expression = Expression(ArrayAccess{span, Box<Expression>(std::move(expression)),
                                          Box<Expression>(std::move(*index.value()))});
    }
    if (Status ok = set_depth(depth); !ok)
      return std::move(ok.error());
  }
  depth_ = depth;
  return some(std::move(expression));
}

// ---- Statements ----

Result<std::vector<Statement>> Parser::parse_block() {
  NestingLevel level(*this);
  if (level.too_deep())
    return nesting_error();
  if (Status open = expect(T::LeftBrace); !open)
    return std::move(open.error());
  std::vector<Statement> statements;
  while (!check(T::RightBrace) && !is_at_end()) {
    StatementResult statement = parse_statement();
    if (!statement)
      return std::move(statement.error());
    if (statement.value())
      statements.push_back(std::move(*statement.value()));
  }
  if (Status closed = expect(T::RightBrace); !closed)
    return std::move(closed.error());
  return statements;
}

Result<Expression> Parser::parse_required_value(std::string_view message) {
  ExpressionResult value = parse_expression();
  if (!value)
    return std::move(value.error());
  if (!value.value())
    return error(std::string(message));
  return std::move(*value.value());
}

Result<VariableDeclaration> Parser::parse_variable_declaration() {
  VariableDeclaration declaration;
  declaration.span = peek().span;
  declaration.is_const = check(T::Const);
  advance();
  Result<std::string> name = expect_identifier();
  if (!name)
    return std::move(name.error());
  declaration.name = std::move(name.value());
  if (check(T::Colon)) {
    advance();
    Result<OvraType> type = parse_type();
    if (!type)
      return std::move(type.error());
    declaration.var_type = std::move(type.value());
  }
  if (check(T::Assign)) {
    advance();
    Result<Expression> value = parse_required_value("Expected expression after '='");
    if (!value)
      return std::move(value.error());
    declaration.value = std::move(value.value());
  }
  if (Status end = expect(T::Semicolon); !end)
    return std::move(end.error());
  return declaration;
}

Result<std::vector<Parameter>> Parser::parse_parameters() {
  std::vector<Parameter> parameters;
  if (check(T::RightParen))
    return parameters;
  while (true) {
    Result<std::string> name = expect_identifier();
    if (!name)
      return std::move(name.error());
    if (Status colon = expect(T::Colon); !colon)
      return std::move(colon.error());
    Result<OvraType> type = parse_type();
    if (!type)
      return std::move(type.error());
    parameters.push_back(Parameter{std::move(name.value()), std::move(type.value())});
    if (!check(T::Comma))
      return parameters;
    advance();
  }
}

Result<FunctionDeclaration> Parser::parse_function_declaration() {
  FunctionDeclaration declaration;
  declaration.span = peek().span;
  advance();  // func
  Result<std::string> name = expect_identifier();
  if (!name)
    return std::move(name.error());
  declaration.name = std::move(name.value());
  if (Status open = expect(T::LeftParen); !open)
    return std::move(open.error());
  Result<std::vector<Parameter>> parameters = parse_parameters();
  if (!parameters)
    return std::move(parameters.error());
  declaration.parameters = std::move(parameters.value());
  if (Status closed = expect(T::RightParen); !closed)
    return std::move(closed.error());
  if (Status colon = expect(T::Colon); !colon)
    return std::move(colon.error());
  Result<OvraType> return_type = parse_type();
  if (!return_type)
    return std::move(return_type.error());
  declaration.return_type = std::move(return_type.value());
  Result<std::vector<Statement>> body = parse_block();
  if (!body)
    return std::move(body.error());
  declaration.body = std::move(body.value());
  return declaration;
}

Result<std::optional<Statement>> Parser::parse_return() {
  Span span = peek().span;
  advance();  // back
  if (check(T::Semicolon)) {
    advance();
    return statement(ReturnStatement{span, std::nullopt});
  }
  Result<Expression> value = parse_required_value("Expected expression after 'back'");
  if (!value)
    return std::move(value.error());
  if (Status end = expect(T::Semicolon); !end)
    return std::move(end.error());
  return statement(ReturnStatement{span, std::move(value.value())});
}

Result<std::optional<Statement>> Parser::parse_if() {
  Span span = peek().span;
  advance();  // if
  if (Status open = expect(T::LeftParen); !open)
    return std::move(open.error());
  Result<Expression> condition = parse_required_value("Expected condition expression");
  if (!condition)
    return std::move(condition.error());
  if (Status closed = expect(T::RightParen); !closed)
    return std::move(closed.error());
  Result<std::vector<Statement>> then_branch = parse_block();
  if (!then_branch)
    return std::move(then_branch.error());
  std::optional<std::vector<Statement>> else_branch;
  if (check(T::Else) || check(T::Esle)) {
    advance();
    Result<std::vector<Statement>> block = parse_block();
    if (!block)
      return std::move(block.error());
    else_branch = std::move(block.value());
  }
  return statement(IfStatement{span, std::move(condition.value()), std::move(then_branch.value()),
                               std::move(else_branch)});
}

Result<std::optional<Statement>> Parser::parse_while() {
  Span span = peek().span;
  advance();  // while
  if (Status open = expect(T::LeftParen); !open)
    return std::move(open.error());
  Result<Expression> condition = parse_required_value("Expected condition expression");
  if (!condition)
    return std::move(condition.error());
  if (Status closed = expect(T::RightParen); !closed)
    return std::move(closed.error());
  Result<std::vector<Statement>> body = parse_block();
  if (!body)
    return std::move(body.error());
  return statement(WhileStatement{span, std::move(condition.value()), std::move(body.value())});
}

Result<std::optional<Statement>> Parser::parse_forloop() {
  ForLoopStatement loop{peek().span, std::nullopt, std::nullopt, std::nullopt, {}};
  advance();  // forloop
  if (Status open = expect(T::LeftParen); !open)
    return std::move(open.error());

  if (check(T::Let) || check(T::Const)) {
    Result<VariableDeclaration> init = parse_variable_declaration();
    if (!init)
      return std::move(init.error());
    loop.init = std::move(init.value());
  } else if (check(T::Semicolon)) {
    advance();
  } else {
    // An expression initializer is read and dropped: the tree has no place for it.
    ExpressionResult init = parse_expression();
    if (!init)
      return std::move(init.error());
    if (Status end = expect(T::Semicolon); !end)
      return std::move(end.error());
  }

  if (!check(T::Semicolon)) {
    ExpressionResult condition = parse_expression();
    if (!condition)
      return std::move(condition.error());
    loop.condition = std::move(condition.value());
  }
  if (Status end = expect(T::Semicolon); !end)
    return std::move(end.error());

  if (!check(T::RightParen)) {
    ExpressionResult update = parse_expression();
    if (!update)
      return std::move(update.error());
    loop.update = std::move(update.value());
  }
  if (Status closed = expect(T::RightParen); !closed)
    return std::move(closed.error());

  Result<std::vector<Statement>> body = parse_block();
  if (!body)
    return std::move(body.error());
  loop.body = std::move(body.value());
  return statement(std::move(loop));
}

Result<ArrayAccess> Parser::parse_named_index() {
  Span span = peek().span;
  Result<std::string> name = expect_identifier();
  if (!name)
    return std::move(name.error());
  if (Status open = expect(T::LeftBracket); !open)
    return std::move(open.error());
  Result<Expression> index = parse_required_value("Expected index expression");
  if (!index)
    return std::move(index.error());
  if (Status closed = expect(T::RightBracket); !closed)
    return std::move(closed.error());
  return ArrayAccess{span, Box<Expression>(Identifier{span, std::move(name.value())}),
                     Box<Expression>(std::move(index.value()))};
}

Result<std::optional<Statement>> Parser::parse_push() {
  Span span = peek().span;
  advance();  // push
  Result<Expression> value = parse_required_value("Expected value expression after 'push'");
  if (!value)
    return std::move(value.error());
  if (Status arrow = expect(T::Arrow); !arrow)
    return std::move(arrow.error());
  Result<ArrayAccess> target = parse_named_index();
  if (!target)
    return std::move(target.error());
  if (Status end = expect(T::Semicolon); !end)
    return std::move(end.error());
  return statement(PushStatement{span, std::move(value.value()), std::move(target.value())});
}

Result<std::optional<Statement>> Parser::parse_out() {
  Span span = peek().span;
  advance();  // out
  Result<ArrayAccess> source = parse_named_index();
  if (!source)
    return std::move(source.error());
  if (Status as = expect(T::As); !as)
    return std::move(as.error());
  Result<std::string> param_name = expect_identifier();
  if (!param_name)
    return std::move(param_name.error());
  Result<std::vector<Statement>> body = parse_block();
  if (!body)
    return std::move(body.error());
  return statement(OutStatement{span, std::move(source.value()), std::move(param_name.value()),
                                std::move(body.value())});
}

Result<std::optional<Statement>> Parser::parse_rmv() {
  Span span = peek().span;
  advance();  // rmv
  Result<ArrayAccess> target = parse_named_index();
  if (!target)
    return std::move(target.error());
  if (Status end = expect(T::Semicolon); !end)
    return std::move(end.error());
  return statement(RmvStatement{span, std::move(target.value())});
}

Result<ClassDeclaration> Parser::parse_class_declaration() {
  ClassDeclaration declaration;
  declaration.span = peek().span;
  advance();  // class
  Result<std::string> name = expect_identifier();
  if (!name)
    return std::move(name.error());
  declaration.name = std::move(name.value());
  if (Status open = expect(T::LeftBrace); !open)
    return std::move(open.error());
  while (!check(T::RightBrace) && !is_at_end()) {
    Result<std::string> field = expect_identifier();
    if (!field)
      return std::move(field.error());
    if (Status colon = expect(T::Colon); !colon)
      return std::move(colon.error());
    Result<OvraType> type = parse_type();
    if (!type)
      return std::move(type.error());
    declaration.fields.push_back(ClassField{std::move(field.value()), std::move(type.value())});
    if (check(T::Semicolon))
      advance();
  }
  if (Status closed = expect(T::RightBrace); !closed)
    return std::move(closed.error());
  return declaration;
}

Status Parser::parse_object_members(std::vector<ObjectField>& fields,
                                    std::vector<ObjectMethod>& methods) {
  if (Status open = expect(T::LeftBrace); !open)
    return std::move(open.error());
  while (!check(T::RightBrace) && !is_at_end()) {
    if (check(T::Func)) {
      Result<FunctionDeclaration> function = parse_function_declaration();
      if (!function)
        return std::move(function.error());
      FunctionDeclaration& f = function.value();
      methods.push_back(ObjectMethod{std::move(f.name), std::move(f.parameters),
                                     std::move(f.return_type), std::move(f.body)});
      continue;
    }
    Result<std::string> name = expect_identifier();
    if (!name)
      return std::move(name.error());
    if (Status assign = expect(T::Assign); !assign)
      return std::move(assign.error());
    Result<Expression> value = parse_required_value("Expected expression after '='");
    if (!value)
      return std::move(value.error());
    if (Status end = expect(T::Semicolon); !end)
      return std::move(end.error());
    fields.push_back(ObjectField{std::move(name.value()), std::move(value.value())});
  }
  return expect(T::RightBrace);
}

Result<std::optional<Statement>> Parser::parse_crob() {
  Span span = peek().span;
  advance();  // crob
  Result<std::string> name = expect_identifier();
  if (!name)
    return std::move(name.error());

  if (!check(T::LeftParen)) {
    if (Status assign = expect(T::Assign); !assign)
      return std::move(assign.error());
    Result<Expression> initializer = parse_required_value("Expected expression after '='");
    if (!initializer)
      return std::move(initializer.error());
    if (Status end = expect(T::Semicolon); !end)
      return std::move(end.error());
    return statement(
        CrobDeclaration{span, std::move(name.value()), std::move(initializer.value())});
  }

  // crob NAME (class: CLASS, right: BOOL) { MEMBER... }
  CrobEncapsulatedDeclaration declaration;
  declaration.span = span;
  declaration.name = std::move(name.value());
  advance();  // (
  if (Status keyword = expect(T::Class); !keyword)
    return std::move(keyword.error());
  if (Status colon = expect(T::Colon); !colon)
    return std::move(colon.error());
  Result<std::string> class_name = expect_identifier();
  if (!class_name)
    return std::move(class_name.error());
  declaration.class_name = std::move(class_name.value());
  if (Status comma = expect(T::Comma); !comma)
    return std::move(comma.error());
  Result<std::string> right = expect_identifier();
  if (!right)
    return std::move(right.error());
  if (right.value() != "right")
    return error("Expected 'right' keyword");
  if (Status colon = expect(T::Colon); !colon)
    return std::move(colon.error());
  if (!check(T::True) && !check(T::False)) {
    return error("Expected true or false for right parameter");
  }
  declaration.right = check(T::True);
  advance();
  if (Status closed = expect(T::RightParen); !closed)
    return std::move(closed.error());
  if (Status members = parse_object_members(declaration.fields, declaration.methods); !members) {
    return std::move(members.error());
  }
  return statement(std::move(declaration));
}

Result<std::optional<Statement>> Parser::parse_remake() {
  RemakeStatement remake;
  remake.span = peek().span;
  advance();  // remake
  Result<std::string> name = expect_identifier();
  if (!name)
    return std::move(name.error());
  remake.name = std::move(name.value());
  if (Status members = parse_object_members(remake.fields, remake.methods); !members) {
    return std::move(members.error());
  }
  return statement(std::move(remake));
}

Result<std::vector<std::string>> Parser::parse_import_names() {
  std::vector<std::string> names;
  if (Status open = expect(T::LeftBrace); !open)
    return std::move(open.error());
  if (!check(T::RightBrace)) {
    while (true) {
      Result<std::string> name = expect_identifier();
      if (!name)
        return std::move(name.error());
      names.push_back(std::move(name.value()));
      if (!check(T::Comma))
        break;
      advance();
    }
  }
  if (Status closed = expect(T::RightBrace); !closed)
    return std::move(closed.error());
  return names;
}

Status Parser::parse_import_source(ImportDeclaration& declaration) {
  if (check(T::StringLiteral)) {
    declaration.source = std::string(peek().text);
    declaration.source_is_string = true;
    advance();
    return Unit{};
  }
  if (!check(T::Identifier))
    return error("Expected string path or identifier");
  declaration.source = std::string(peek().text);
  advance();
  while (check(T::Dot)) {
    advance();
    Result<std::string> part = expect_identifier();
    if (!part)
      return std::move(part.error());
    declaration.source += '.';
    declaration.source += part.value();
  }
  return Unit{};
}

Result<std::optional<Statement>> Parser::parse_import() {
  ImportDeclaration declaration;
  declaration.span = peek().span;
  advance();  // cite

  if (check(T::LeftBrace)) {
    // cite { a, b } from SOURCE;
    Result<std::vector<std::string>> names = parse_import_names();
    if (!names)
      return std::move(names.error());
    declaration.named_imports = std::move(names.value());
  } else if (check(T::Identifier)) {
    std::string first(peek().text);
    advance();
    if (check(T::As)) {
      // cite name as alias;
      advance();
      Result<std::string> alias = expect_identifier();
      if (!alias)
        return std::move(alias.error());
      declaration.default_import = first;
      declaration.source = std::move(first);
      declaration.alias = std::move(alias.value());
      if (Status end = expect(T::Semicolon); !end)
        return std::move(end.error());
      return statement(std::move(declaration));
    }
    if (check(T::Dot)) {
      // cite a.b.c [as alias];
      std::string last = first;
      declaration.source = std::move(first);
      while (check(T::Dot)) {
        advance();
        Result<std::string> part = expect_identifier();
        if (!part)
          return std::move(part.error());
        declaration.source += '.';
        declaration.source += part.value();
        last = std::move(part.value());
      }
      if (check(T::As)) {
        advance();
        Result<std::string> alias = expect_identifier();
        if (!alias)
          return std::move(alias.error());
        declaration.alias = std::move(alias.value());
      } else {
        declaration.default_import = std::move(last);
      }
      if (Status end = expect(T::Semicolon); !end)
        return std::move(end.error());
      return statement(std::move(declaration));
    }
    // cite name [, { a, b }] from SOURCE;
    declaration.default_import = std::move(first);
    if (check(T::Comma)) {
      advance();
      Result<std::vector<std::string>> names = parse_import_names();
      if (!names)
        return std::move(names.error());
      declaration.named_imports = std::move(names.value());
    }
  } else {
    return error("Invalid cite syntax");
  }

  if (Status from = expect(T::From); !from)
    return std::move(from.error());
  if (Status source = parse_import_source(declaration); !source)
    return std::move(source.error());
  if (Status end = expect(T::Semicolon); !end)
    return std::move(end.error());
  return statement(std::move(declaration));
}

Result<std::optional<Statement>> Parser::parse_export() {
  Span span = peek().span;
  advance();  // share
  if (check(T::Func)) {
    Result<FunctionDeclaration> function = parse_function_declaration();
    if (!function)
      return std::move(function.error());
    function.value().is_share = true;
    return statement(ExportDeclaration{span, Box<Statement>(std::move(function.value()))});
  }
  if (check(T::Class)) {
    Result<ClassDeclaration> declaration = parse_class_declaration();
    if (!declaration)
      return std::move(declaration.error());
    return statement(ExportDeclaration{span, Box<Statement>(std::move(declaration.value()))});
  }
  return error("Expected 'func' or 'class' after 'share'");
}

Result<std::optional<Statement>> Parser::parse_expression_statement() {
  const Token& start = peek();
  ExpressionResult expression = parse_expression();
  if (!expression)
    return std::move(expression.error());
  if (!expression.value()) {
    // Reported at the statement's first token even when an empty `()` was read past.
    return CompilerError::syntax(
        "Unexpected token " + std::string(token_type_name(start.token_type)), start.span.line,
        start.span.column);
  }
  if (Status end = expect(T::Semicolon); !end)
    return std::move(end.error());
  Span span = expression.value()->span();
  return statement(ExpressionStatement{span, std::move(*expression.value())});
}

Result<std::optional<Statement>> Parser::parse_statement() {
  switch (peek().token_type) {
    case T::Let:
    case T::Const: {
      Result<VariableDeclaration> declaration = parse_variable_declaration();
      if (!declaration)
        return std::move(declaration.error());
      return statement(std::move(declaration.value()));
    }
    case T::Func: {
      Result<FunctionDeclaration> declaration = parse_function_declaration();
      if (!declaration)
        return std::move(declaration.error());
      return statement(std::move(declaration.value()));
    }
    case T::Back:
      return parse_return();
    case T::Push:
      return parse_push();
    case T::Out:
      return parse_out();
    case T::Rmv:
      return parse_rmv();
    case T::Class: {
      Result<ClassDeclaration> declaration = parse_class_declaration();
      if (!declaration)
        return std::move(declaration.error());
      return statement(std::move(declaration.value()));
    }
    case T::Forloop:
      return parse_forloop();
    case T::While:
      return parse_while();
    case T::If:
      return parse_if();
    case T::Crob:
      return parse_crob();
    case T::Remake:
      return parse_remake();
    case T::Cite:
      return parse_import();
    case T::Share:
      return parse_export();
    case T::Continue:
    case T::Break: {
      Span span = peek().span;
      bool is_continue = check(T::Continue);
      advance();
      if (Status end = expect(T::Semicolon); !end)
        return std::move(end.error());
      if (is_continue)
        return statement(ContinueStatement{span});
      return statement(BreakStatement{span});
    }
    default:
      return parse_expression_statement();
  }
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
