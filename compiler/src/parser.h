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
  // An expression under construction; empty for "no expression". The parsing functions below
  // build each node in place in the caller's slot instead of returning it, so a node is moved
  // once, into its parent, however many grammar levels it passes through.
  using Slot = std::optional<Expression>;

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
  void advance() {
    if (is_at_end())
      return;
    ++current_;
    if (current_ == release_at_)
      release_consumed_tokens();
  }
  // Hands the pages of tokens already passed back to the operating system, so that a large
  // program's token list and its tree are not both resident at their full size.
  void release_consumed_tokens();
  Status expect(TokenType type);
  Status expect_identifier(std::string& name);
  CompilerError error(std::string message) const;
  CompilerError nesting_error() const;
  // Records the depth of the expression just built; fails once the tree gets too deep.
  Status set_depth(std::size_t depth);

  // Expressions. Each one that yields an expression leaves its tree depth in depth_.
  Status parse_expression(Slot& out);
  Status parse_binary_expression(int min_level, Slot& out);
  Status parse_unary_expression(Slot& out);
  Status parse_primary_expression(Slot& out);
  // `.` and `[` operations applied to the expression in `out`.
  Status parse_postfix(Slot& out);
  // ARGS up to `closing`, which is consumed; empty slots are skipped.
  Status parse_arguments(TokenType closing, std::vector<Expression>& out);
  // An expression that must be there; `message` is the error when it is not.
  Status parse_required(std::string_view message, Slot& out);

  // Statements. Those taking a list append the statement they parsed to it.
  Status parse_statement(std::vector<Statement>& out);
  Status parse_block(std::vector<Statement>& out);
  Status parse_variable_declaration(VariableDeclaration& out);
  Status parse_function_declaration(FunctionDeclaration& out);
  Status parse_parameters(std::vector<Parameter>& out);
  Status parse_return(std::vector<Statement>& out);
  Status parse_if(std::vector<Statement>& out);
  Status parse_while(std::vector<Statement>& out);
  Status parse_forloop(std::vector<Statement>& out);
  // NAME `[` EXPR `]`, shared by push, out and rmv.
  Result<ArrayAccess> parse_named_index();
  Status parse_push(std::vector<Statement>& out);
  Status parse_out(std::vector<Statement>& out);
  Status parse_rmv(std::vector<Statement>& out);
  Status parse_class_declaration(ClassDeclaration& out);
  Status parse_crob(std::vector<Statement>& out);
  // Object members up to and including the closing brace.
  Status parse_object_members(std::vector<ObjectField>& fields, std::vector<ObjectMethod>& methods);
  Status parse_remake(std::vector<Statement>& out);
  Status parse_import(std::vector<Statement>& out);
  Status parse_import_names(std::vector<std::string>& out);
  Status parse_import_source(ImportDeclaration& declaration);
  Status parse_export(std::vector<Statement>& out);
  Status parse_expression_statement(std::vector<Statement>& out);

  TokenList tokens_;
  std::size_t current_ = 0;
  std::size_t release_at_ = 0;      // token index of the next release
  std::size_t released_bytes_ = 0;  // bytes at the start of the token array handed back
  std::size_t nesting_ = 0;
  std::size_t depth_ = 0;
  std::vector<Statement> top_level_;    // reused by the public parse_statement
  std::vector<Statement> block_stack_;  // statements of the blocks being parsed, innermost last
};

// Lexes and parses a whole source text into its program, as the pipeline does, without the
// excerpt on errors. Deep trees need a large stack to build and to release; Compiler::compile
// provides one, a test's main thread may not.
Result<Program> parse_program(std::string_view source);

}  // namespace ovra
