// The parser: tokens to the list of top-level statements (recursive descent, one token of
// lookahead, no backtracking).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ast.h"
#include "error.h"
#include "types.h"

namespace ovra {

// Deepest nesting of blocks, parentheses, brackets, argument lists, unary operators and type
// arguments: the parser recurses once per level, and this bounds its own stack use.
inline constexpr std::size_t kMaxNestingDepth = 10000;
// Deepest expression tree the parser builds (an operator chain adds one level per operator):
// every later stage recurses over the tree on the pipeline's stack, and this bounds theirs.
inline constexpr std::size_t kMaxTreeDepth = 200000;

class Parser {
 public:
  explicit Parser(TokenList tokens);

  bool is_at_end() const;
  // One statement, or the first SyntaxError. A token that can begin neither a statement nor an
  // expression is an error, so every successful call consumes at least one token and the
  // optional is always engaged.
  Result<std::optional<Statement>> parse_statement();
  // An expression; nullopt ("no expression") when the current token cannot begin one, in which
  // case nothing was consumed.
  Result<std::optional<Expression>> parse_expression();
  Result<OvraType> parse_type();

 private:
  using ExpressionResult = Result<std::optional<Expression>>;
  using StatementResult = Result<std::optional<Statement>>;

  // Counts one level of nesting for as long as it lives.
  class NestingLevel {
   public:
    explicit NestingLevel(Parser& parser) : parser_(parser) { ++parser_.nesting_; }
    ~NestingLevel() { --parser_.nesting_; }
    NestingLevel(const NestingLevel&) = delete;
    NestingLevel& operator=(const NestingLevel&) = delete;
    bool too_deep() const { return parser_.nesting_ > kMaxNestingDepth; }

   private:
    Parser& parser_;
  };

  // Primitives.
  const Token& peek() const { return tokens_.tokens[current_]; }
  const Token& previous() const { return tokens_.tokens[current_ - 1]; }
  bool check(TokenType type) const;
  void advance();
  Status expect(TokenType type);
  Result<std::string> expect_identifier();
  CompilerError error(std::string message) const;
  CompilerError nesting_error() const;
  // Records the depth of the expression just built; fails once the tree gets too deep.
  Status set_depth(std::size_t depth);

  // Expressions. Each one that yields an expression leaves its tree depth in depth_.
  ExpressionResult parse_binary_expression(int min_level);
  ExpressionResult parse_unary_expression();
  ExpressionResult parse_primary_expression();
  ExpressionResult parse_postfix(Expression expression);
  // ARGS up to `closing`, which is consumed; empty slots are skipped.
  Result<std::vector<Expression>> parse_arguments(TokenType closing);

  // Statements.
  Result<std::vector<Statement>> parse_block();
  Result<VariableDeclaration> parse_variable_declaration();
  Result<FunctionDeclaration> parse_function_declaration();
  Result<std::vector<Parameter>> parse_parameters();
  StatementResult parse_return();
  StatementResult parse_if();
  StatementResult parse_while();
  StatementResult parse_forloop();
  // NAME `[` EXPR `]`, shared by push, out and rmv.
  Result<ArrayAccess> parse_named_index();
  StatementResult parse_push();
  StatementResult parse_out();
  StatementResult parse_rmv();
  Result<ClassDeclaration> parse_class_declaration();
  StatementResult parse_crob();
  // Object members up to and including the closing brace.
  Status parse_object_members(std::vector<ObjectField>& fields, std::vector<ObjectMethod>& methods);
  Result<Expression> parse_required_value(std::string_view message);
  StatementResult parse_remake();
  StatementResult parse_import();
  Result<std::vector<std::string>> parse_import_names();
  Status parse_import_source(ImportDeclaration& declaration);
  StatementResult parse_export();
  StatementResult parse_expression_statement();

  TokenList tokens_;
  std::size_t current_ = 0;
  std::size_t nesting_ = 0;
  std::size_t depth_ = 0;
};

// Lexes and parses a whole source text into its program, as the pipeline does, without the
// excerpt on errors. Deep trees need a large stack to build and to release; Compiler::compile
// provides one, a test's main thread may not.
Result<Program> parse_program(std::string_view source);

}  // namespace ovra
