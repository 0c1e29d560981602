// A generator of well-typed Ovra programs, driven by a stream of choices. Fed with libFuzzer's
// bytes it turns every mutation into a different valid program, so fuzzing gets past the parser
// and the semantic checks into the optimizer and the back ends; fed with a seeded random stream it
// produces the programs of the differential runs.
//
// The programs respect the checker's rules: every name is declared once in the whole program (the
// checker forbids shadowing), every operand has the type its operator needs, functions are called
// with the right number and types of arguments, loops are bounded by a counter, and `break` and
// `continue` appear only inside loops. With `integer_subset` set the programs use only what the
// WebAssembly text generator translates: functions over int and bool locals and parameters, `if`,
// `while`, `forloop`, calls, returns and the increment methods.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace ovra::fuzz {

// Where the generator's decisions come from. `below(n)` returns a number in [0, n); choice 0 is
// always the simplest option, so a stream that runs dry ends the program quickly.
class Choices {
 public:
  virtual ~Choices() = default;
  virtual std::uint32_t below(std::uint32_t n) = 0;
  virtual bool exhausted() const = 0;
  bool percent(std::uint32_t p) { return below(100) < p; }
};

// Decisions read from a byte buffer, one byte each (two when more than 256 options exist).
class ByteChoices : public Choices {
 public:
  ByteChoices(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint32_t below(std::uint32_t n) override {
    if (n <= 1 || next_ >= size_)
      return 0;
    std::uint32_t value = data_[next_++];
    if (n > 256 && next_ < size_)
      value = value << 8 | data_[next_++];
    return value % n;
  }
  bool exhausted() const override { return next_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t next_ = 0;
};

// Decisions from a seeded pseudo-random stream; never runs dry, so programs end by their budget.
class RandomChoices : public Choices {
 public:
  explicit RandomChoices(std::uint64_t seed) : engine_(seed) {}
  std::uint32_t below(std::uint32_t n) override {
    if (n <= 1)
      return 0;
    return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(engine_);
  }
  bool exhausted() const override { return false; }

 private:
  std::mt19937_64 engine_;
};

struct GeneratorOptions {
  bool integer_subset = false;
  std::size_t max_top_level = 12;  // statements at top level
  std::size_t max_block = 5;       // statements in one block
  int max_nesting = 3;             // blocks inside blocks
  int max_expression_depth = 3;
};

class ProgramGenerator {
 public:
  ProgramGenerator(Choices& choices, GeneratorOptions options)
      : choices_(choices), options_(options) {}

  std::string generate() {
    scopes_.push_back({});
    std::size_t count = 1 + choices_.below(static_cast<std::uint32_t>(options_.max_top_level));
    for (std::size_t i = 0; i < count && !choices_.exhausted(); ++i)
      top_level_statement();
    if (out_.empty())
      top_level_statement();
    return out_;
  }

 private:
  enum class Kind { Int, SingleF, MultiF, Bool, String, ArrInt, ArrSingleF, Obj, Void };

  struct Variable {
    std::string name;
    Kind kind;
    bool is_const;
  };
  struct Function {
    std::string name;
    std::vector<Kind> parameters;
    Kind result;
  };
  struct Class {
    std::string name;
    std::vector<std::pair<std::string, Kind>> fields;
  };

  static const char* type_text(Kind kind) {
    switch (kind) {
      case Kind::Int:
        return "int";
      case Kind::SingleF:
        return "singlef";
      case Kind::MultiF:
        return "multif";
      case Kind::Bool:
        return "bool";
      case Kind::String:
        return "string";
      case Kind::ArrInt:
        return "arr<int>";
      case Kind::ArrSingleF:
        return "arr<singlef>";
      case Kind::Obj:
        return "obj";
      case Kind::Void:
        return "void";
    }
    return "int";
  }
  static bool is_numeric(Kind kind) {
    return kind == Kind::Int || kind == Kind::SingleF || kind == Kind::MultiF;
  }

  std::uint32_t pick(std::uint32_t n) { return choices_.below(n); }
  bool integer() const { return options_.integer_subset; }

  Kind value_kind() {
    if (integer())
      return pick(3) == 0 ? Kind::Bool : Kind::Int;
    static constexpr Kind kinds[] = {Kind::Int,    Kind::Bool,       Kind::String, Kind::SingleF,
                                     Kind::ArrInt, Kind::ArrSingleF, Kind::MultiF, Kind::Obj};
    return kinds[pick(8)];
  }

  std::string fresh(const char* prefix) { return prefix + std::to_string(next_name_++); }

  void indent() { out_.append(static_cast<std::size_t>(depth_) * 2, ' '); }
  void line(const std::string& text) {
    indent();
    out_ += text;
    out_ += '\n';
  }

  // Variables visible here, optionally filtered by kind and mutability.
  std::vector<const Variable*> visible(Kind kind, bool need_mutable = false) const {
    std::vector<const Variable*> found;
    for (const auto& scope : scopes_) {
      for (const auto& variable : scope) {
        if (variable.kind == kind && (!need_mutable || !variable.is_const))
          found.push_back(&variable);
      }
    }
    return found;
  }

  void declare(std::string name, Kind kind, bool is_const = false) {
    scopes_.back().push_back({std::move(name), kind, is_const});
  }

  // ---- expressions ----

  std::string int_literal() {
    static const char* edges[] = {"0",   "1",          "2147483647", "2147483648",
                                  "007", "4294967296", "65535"};
    if (pick(8) == 0)
      return edges[pick(7)];
    return std::to_string(pick(100));
  }

  std::string float_literal() {
    static const char* texts[] = {"1.5", "0.25", "2.", "3.0", "0.1", "1000000.5", "2.50"};
    return texts[pick(7)];
  }

  std::string string_literal() {
    static const char* pieces[] = {"a",
                                   "hello",
                                   " ",
                                   "\\n",
                                   "\\t",
                                   "\\\"",
                                   "\\\\",
                                   "'",
                                   "\xC3\xA9",
                                   "\xE6\x97\xA5",
                                   "\xF0\x9F\x98\x80",
                                   "${x}",
                                   "`",
                                   "%d",
                                   "\\r",
                                   "*/",
                                   "</script>"};
    std::string text = "\"";
    std::uint32_t count = pick(4);
    for (std::uint32_t i = 0; i < count; ++i)
      text += pieces[pick(17)];
    return text + "\"";
  }

  std::string variable_or(Kind kind, std::string fallback) {
    auto found = visible(kind);
    if (found.empty())
      return fallback;
    return found[pick(static_cast<std::uint32_t>(found.size()))]->name;
  }

  std::string call_returning(Kind kind, int depth) {
    std::vector<const Function*> candidates;
    for (const auto& function : functions_) {
      if (function.result == kind)
        candidates.push_back(&function);
    }
    if (candidates.empty())
      return {};
    const Function& function = *candidates[pick(static_cast<std::uint32_t>(candidates.size()))];
    std::string text = function.name + "(";
    for (std::size_t i = 0; i < function.parameters.size(); ++i) {
      if (i > 0)
        text += ", ";
      text += expression(function.parameters[i], depth + 1);
    }
    return text + ")";
  }

  std::string expression(Kind kind, int depth = 0) {
    bool leaf = depth >= options_.max_expression_depth || choices_.exhausted();
    switch (kind) {
      case Kind::Int:
        return int_expression(depth, leaf);
      case Kind::SingleF:
        return float_expression(depth, leaf);
      case Kind::MultiF:
        return !leaf && pick(3) == 0 ? "(" + float_expression(depth + 1, leaf) + ").toMultif()"
                                     : variable_or(Kind::MultiF, float_expression(depth, leaf));
      case Kind::Bool:
        return bool_expression(depth, leaf);
      case Kind::String:
        return string_expression(depth, leaf);
      case Kind::ArrInt:
      case Kind::ArrSingleF:
        return array_expression(kind, depth, leaf);
      case Kind::Obj:
        return object_expression(depth, leaf);
      case Kind::Void:
        break;
    }
    return "0";
  }

  // Values of type obj: parsed JSON, a row of the query builder, or an object declared earlier.
  std::string object_expression(int depth, bool leaf) {
    if (leaf || pick(2) == 0)
      return variable_or(Kind::Obj, "ovra.jsonParse(\"{}\")");
    switch (pick(3)) {
      case 0:
        return "ovra.jsonParse(" + expression(Kind::String, depth + 1) + ")";
      case 1:
        return "ovra.db.table(" + expression(Kind::String, depth + 1) + ").where(\"id\", " +
               expression(Kind::Int, depth + 1) + ").findOne()";
      default:
        return "ovra.db.table(\"t\").limit(" + expression(Kind::Int, depth + 1) + ")";
    }
  }

  std::string int_expression(int depth, bool leaf) {
    if (leaf)
      return pick(2) == 0 ? int_literal() : variable_or(Kind::Int, int_literal());
    static const char* operators[] = {" + ", " - ", " * ", " / ", " % "};
    switch (pick(integer() ? 6 : 11)) {
      case 0:
        return int_literal();
      case 1:
      case 2:
        return variable_or(Kind::Int, int_literal());
      case 3:
        return expression(Kind::Int, depth + 1) + operators[pick(5)] +
               expression(Kind::Int, depth + 1);
      case 4:
        return "(" + expression(Kind::Int, depth + 1) + operators[pick(5)] +
               expression(Kind::Int, depth + 1) + ")";
      case 5: {
        std::string call = call_returning(Kind::Int, depth);
        if (!call.empty())
          return call;
        auto counters = visible(Kind::Int, true);
        if (counters.empty())
          return int_literal();
        static const char* methods[] = {".getUp()", ".getDn()", ".toUp(2)", ".toDn()"};
        return counters[pick(static_cast<std::uint32_t>(counters.size()))]->name + methods[pick(4)];
      }
      case 6:
        return "-(" + expression(Kind::Int, depth + 1) + ")";
      case 7:
        return "(" + string_expression(depth + 1, true) + ").length()";
      case 8: {
        auto arrays = visible(Kind::ArrInt);
        if (arrays.empty())
          return "[1, 2].length()";
        return arrays[pick(static_cast<std::uint32_t>(arrays.size()))]->name + "[" +
               expression(Kind::Int, depth + 1) + "]";
      }
      case 9:
        return "(" + expression(Kind::SingleF, depth + 1) + ").toInt()";
      default:
        return "(" + expression(Kind::Bool, depth + 1) + ").toInt()";
    }
  }

  std::string float_expression(int depth, bool leaf) {
    if (leaf)
      return pick(2) == 0 ? float_literal() : variable_or(Kind::SingleF, float_literal());
    static const char* operators[] = {" + ", " - ", " * ", " / "};
    switch (pick(6)) {
      case 0:
        return float_literal();
      case 1:
        return variable_or(Kind::SingleF, float_literal());
      case 2:
        return expression(Kind::SingleF, depth + 1) + operators[pick(4)] +
               expression(pick(2) ? Kind::Int : Kind::SingleF, depth + 1);
      case 3:
        return "(" + expression(Kind::Int, depth + 1) + ").toSinglef()";
      case 4: {
        std::string call = call_returning(Kind::SingleF, depth);
        return call.empty() ? "-" + float_literal() : call;
      }
      default: {
        auto arrays = visible(Kind::ArrSingleF);
        if (arrays.empty())
          return "(" + expression(Kind::SingleF, depth + 1) + ")";
        return arrays[pick(static_cast<std::uint32_t>(arrays.size()))]->name + "[" +
               expression(Kind::Int, depth + 1) + "]";
      }
    }
  }

  std::string bool_expression(int depth, bool leaf) {
    if (leaf)
      return pick(3) == 0 ? variable_or(Kind::Bool, "true") : (pick(2) ? "true" : "false");
    static const char* comparisons[] = {" < ", " > ", " <= ", " >= ", " == ", " != "};
    switch (pick(integer() ? 5 : 8)) {
      case 0:
        return pick(2) ? "true" : "false";
      case 1:
        return variable_or(Kind::Bool, "false");
      case 2:
        return expression(Kind::Int, depth + 1) + comparisons[pick(6)] +
               expression(Kind::Int, depth + 1);
      case 3:
        return "(" + expression(Kind::Bool, depth + 1) + (pick(2) ? " && " : " || ") +
               expression(Kind::Bool, depth + 1) + ")";
      case 4: {
        std::string call = call_returning(Kind::Bool, depth);
        if (!call.empty())
          return call;
        if (!integer() && pick(2))
          return "ovra.exists(" + expression(Kind::String, depth + 1) + ")";
        return expression(Kind::Int, depth + 1) + " == 0";
      }
      case 5:
        return "!(" + expression(Kind::Bool, depth + 1) + ")";
      case 6:
        return "(" + string_expression(depth + 1, true) + (pick(2) ? ").endOf(" : ").initOf(") +
               string_expression(depth + 1, true) + ")";
      default:
        return expression(Kind::SingleF, depth + 1) + comparisons[pick(6)] +
               expression(Kind::Int, depth + 1);
    }
  }

  std::string string_expression(int depth, bool leaf) {
    if (leaf)
      return pick(2) == 0 ? string_literal() : variable_or(Kind::String, string_literal());
    switch (pick(5)) {
      case 0:
        return string_literal();
      case 1:
        return variable_or(Kind::String, string_literal());
      case 2:
        return "(" + expression(Kind::Int, depth + 1) + ").toString()";
      case 3:
        if (pick(3) == 0) {
          static const char* calls[] = {"ovra.cwd()", "ovra.env(\"HOME\")"};
          if (pick(2))
            return calls[pick(2)];
          return pick(2) ? "ovra.pathJoin(" + expression(Kind::String, depth + 1) + ", " +
                               expression(Kind::String, depth + 1) + ")"
                         : "ovra.jsonStringify(" + expression(value_kind(), depth + 1) + ")";
        }
        return "(" + expression(Kind::String, depth + 1) + ").cutIt(" +
               expression(Kind::Int, depth + 1) +
               (pick(2) ? ", " + expression(Kind::Int, depth + 1) : std::string()) + ")";
      default: {
        std::string call = call_returning(Kind::String, depth);
        return call.empty() ? string_literal() : call;
      }
    }
  }

  std::string array_expression(Kind kind, int depth, bool leaf) {
    Kind element = kind == Kind::ArrInt ? Kind::Int : Kind::SingleF;
    if (!leaf && pick(3) == 0) {
      auto arrays = visible(kind);
      if (!arrays.empty())
        return arrays[pick(static_cast<std::uint32_t>(arrays.size()))]->name;
    }
    std::string text = "[";
    // Never empty: an empty literal is typed arr<unknown>, which only a declaration accepts.
    std::uint32_t count = 1 + (leaf ? 0 : pick(3));
    for (std::uint32_t i = 0; i < count; ++i) {
      if (i > 0)
        text += ", ";
      text += expression(element, depth + 1);
    }
    return text + "]";
  }

  // ---- statements ----

  void block(void (ProgramGenerator::*body)()) {
    ++depth_;
    scopes_.push_back({});
    (this->*body)();
    scopes_.pop_back();
    --depth_;
  }

  void body_statements() {
    std::size_t count =
        choices_.exhausted() ? 0 : pick(static_cast<std::uint32_t>(options_.max_block));
    for (std::size_t i = 0; i < count; ++i)
      statement();
  }

  void variable_declaration() {
    Kind kind = value_kind();
    std::string name = fresh("v");
    bool is_const = !integer() && pick(5) == 0;
    std::string value = (kind == Kind::ArrInt || kind == Kind::ArrSingleF) && pick(4) == 0
                            ? "[]"
                            : expression(kind);
    bool typed = integer() || kind == Kind::ArrInt || kind == Kind::ArrSingleF || pick(3) != 0;
    line(std::string(is_const ? "const " : "let ") + name +
         (typed ? std::string(": ") + type_text(kind) : std::string()) + " = " + value + ";");
    declare(name, kind, is_const);
  }

  void assignment() {
    Kind kind = value_kind();
    auto targets = visible(kind, true);
    if (targets.empty())
      return variable_declaration();
    const std::string name = targets[pick(static_cast<std::uint32_t>(targets.size()))]->name;
    line(name + " = " + expression(kind) + ";");
  }

  // A loop bounded by a counter that is stepped first, so `continue` cannot make it spin.
  void while_statement() {
    std::string counter = fresh("w");
    line("let " + counter + ": int = 0;");
    line("while (" + counter + " < " + std::to_string(1 + pick(4)) + ") {");
    ++depth_;
    line(counter + " = " + counter + " + 1;");
    --depth_;
    declare(counter, Kind::Int, true);  // stepped only by the loop itself
    loop_body();
    line("}");
  }

  void forloop_statement() {
    std::string counter = fresh("i");
    line("forloop (let " + counter + ": int = 0; " + counter + " < " + std::to_string(1 + pick(4)) +
         "; " + counter + (pick(2) ? " = " + counter + " + 1" : std::string(".toUp()")) + ") {");
    scopes_.push_back({});
    declare(counter, Kind::Int, true);
    loop_body();
    scopes_.pop_back();
    line("}");
  }

  void loop_body() {
    bool outer = in_loop_;
    in_loop_ = true;
    block(&ProgramGenerator::body_statements);
    in_loop_ = outer;
  }

  void if_statement() {
    line("if (" + expression(Kind::Bool) + ") {");
    block(&ProgramGenerator::body_statements);
    if (pick(2)) {
      line(pick(2) ? "} else {" : "} esle {");
      block(&ProgramGenerator::body_statements);
    }
    line("}");
  }

  void array_statement() {
    Kind kind = pick(2) ? Kind::ArrInt : Kind::ArrSingleF;
    auto arrays = visible(kind);
    if (arrays.empty())
      return variable_declaration();
    const std::string name = arrays[pick(static_cast<std::uint32_t>(arrays.size()))]->name;
    Kind element = kind == Kind::ArrInt ? Kind::Int : Kind::SingleF;
    switch (pick(4)) {
      case 0:
        line("push " + expression(element) + " => " + name + "[" + expression(Kind::Int) + "];");
        break;
      case 1:
        line("rmv " + name + "[" + expression(Kind::Int) + "];");
        break;
      case 2:
        line(name + "[" + expression(Kind::Int) + "] = " + expression(element) + ";");
        break;
      default: {
        std::string element_name = fresh("e");
        line("out " + name + "[" + expression(Kind::Int) + "] as " + element_name + " {");
        declare(element_name, element);  // stays declared after the statement
        block(&ProgramGenerator::body_statements);
        line("}");
      }
    }
  }

  void output_statement() {
    std::string text = pick(3) == 0 ? "ovra.io.print(" : "ovra.log(";
    std::uint32_t count = 1 + pick(3);
    for (std::uint32_t i = 0; i < count; ++i) {
      if (i > 0)
        text += ", ";
      text += expression(value_kind());
    }
    line(text + ");");
  }

  // A query-builder chain as a statement; the WebAssembly target lowers these to host calls.
  void database_statement() {
    static const char* steps[] = {".where(\"a\", 1)", ".limit(3)", ".orderBy(\"a\", \"asc\")",
                                  ".join(\"u\", \"a\", \"b\")"};
    static const char* ends[] = {".find()", ".findOne()", ".find()", ""};
    std::string text = "ovra.db.table(\"items\")";
    std::uint32_t count = pick(3);
    for (std::uint32_t i = 0; i < count; ++i)
      text += steps[pick(4)];
    line(text + ends[pick(4)] + ";");
  }

  void call_statement() {
    if (functions_.empty())
      return integer() ? increment_statement() : output_statement();
    const Function& function = functions_[pick(static_cast<std::uint32_t>(functions_.size()))];
    std::string text = function.name + "(";
    for (std::size_t i = 0; i < function.parameters.size(); ++i) {
      if (i > 0)
        text += ", ";
      text += expression(function.parameters[i]);
    }
    line(text + ");");
  }

  void increment_statement() {
    auto counters = visible(Kind::Int, true);
    if (counters.empty())
      return variable_declaration();
    static const char* methods[] = {".toUp()", ".toDn()", ".getUp(3)", ".getDn()"};
    line(counters[pick(static_cast<std::uint32_t>(counters.size()))]->name + methods[pick(4)] +
         ";");
  }

  void statement() {
    if (choices_.exhausted())
      return;
    bool nested = depth_ < options_.max_nesting;
    std::uint32_t choice = pick(integer() ? 9 : 13);
    switch (choice) {
      case 0:
      case 1:
        return variable_declaration();
      case 2:
        return assignment();
      case 3:
        return nested ? if_statement() : assignment();
      case 4:
        return nested ? while_statement() : variable_declaration();
      case 5:
        return nested ? forloop_statement() : assignment();
      case 6:
        return call_statement();
      case 7:
        return pick(4) == 0 ? database_statement() : increment_statement();
      case 8:
        if (expected_return_ && *expected_return_ != Kind::Void) {
          return line("back " + expression(*expected_return_) + ";");
        }
        return increment_statement();
      case 9:
        return array_statement();
      case 10:
        return output_statement();
      case 11:
        if (in_loop_)
          return line(pick(2) ? "break;" : "continue;");
        return output_statement();
      default:
        return nested ? array_statement() : output_statement();
    }
  }

  void function_declaration() {
    Function function{
        fresh("f"), {}, integer() ? (pick(4) == 0 ? Kind::Void : Kind::Int) : Kind::Void};
    if (!integer()) {
      static constexpr Kind results[] = {Kind::Void, Kind::Int, Kind::Bool, Kind::String,
                                         Kind::SingleF};
      function.result = results[pick(5)];
    }
    std::string head = std::string(pick(4) == 0 ? "share " : "") + "func " + function.name + "(";
    // Function bodies see only their parameters and locals in the integer subset (WebAssembly has
    // no globals here) and otherwise also the globals declared before them.
    std::vector<std::vector<Variable>> saved;
    if (integer())
      saved.swap(scopes_);
    scopes_.push_back({});
    std::uint32_t count = pick(4);
    for (std::uint32_t i = 0; i < count; ++i) {
      Kind kind = value_kind();
      std::string name = fresh("p");
      if (i > 0)
        head += ", ";
      head += name + ": " + type_text(kind);
      function.parameters.push_back(kind);
      declare(name, kind);
    }
    line(head + "): " + type_text(function.result) + " {");
    auto outer_return = expected_return_;
    bool outer_loop = in_loop_;
    expected_return_ = function.result;
    in_loop_ = false;
    ++depth_;
    body_statements();
    if (function.result != Kind::Void)
      line("back " + expression(function.result) + ";");
    --depth_;
    expected_return_ = outer_return;
    in_loop_ = outer_loop;
    scopes_.pop_back();
    if (integer())
      saved.swap(scopes_);
    line("}");
    functions_.push_back(std::move(function));
  }

  void class_declaration() {
    Class declared{fresh("C"), {}};
    std::string text = "class " + declared.name + " {";
    std::uint32_t count = 1 + pick(3);
    for (std::uint32_t i = 0; i < count; ++i) {
      Kind kind = value_kind();
      std::string field = fresh("m");
      text += " " + field + ": " + type_text(kind) + ";";
      declared.fields.emplace_back(field, kind);
    }
    line(text + " }");
    classes_.push_back(std::move(declared));
  }

  void object_members(const Class& declared, bool all_fields) {
    ++depth_;
    for (const auto& [field, kind] : declared.fields) {
      if (all_fields || pick(2))
        line(field + " = " + expression(kind) + ";");
    }
    if (pick(2)) {
      line("func " + fresh("q") + "(): int {");
      ++depth_;
      line("back " + expression(Kind::Int) + ";");
      --depth_;
      line("}");
    }
    --depth_;
  }

  void object_statement() {
    if (classes_.empty())
      return class_declaration();
    const Class& declared = classes_[pick(static_cast<std::uint32_t>(classes_.size()))];
    std::string name = fresh("o");
    switch (pick(3)) {
      case 0:
        line("crob " + name + " = new " + declared.name + "();");
        break;
      default:
        line("crob " + name + "(class: " + declared.name +
             ", right: " + (pick(2) ? "true" : "false") + ") {");
        object_members(declared, true);
        line("}");
        if (pick(2)) {
          line("remake " + name + " {");
          object_members(declared, false);
          line("}");
        }
        if (pick(2))
          line("ovra.log(" + name + "." + declared.fields.front().first + ");");
    }
    declare(name, Kind::Obj);
  }

  void top_level_statement() {
    if (integer()) {
      if (pick(5) == 0)
        return call_statement_or_function();
      return function_declaration();
    }
    switch (pick(8)) {
      case 0:
      case 1:
        return function_declaration();
      case 2:
        return class_declaration();
      case 3:
        return object_statement();
      case 4:
        if (pick(4) == 0) {
          static const char* imports[] = {"cite { readText } from ovra;", "cite tools as t;",
                                          "cite lib.util.strings;",
                                          "cite helper, { a, b } from \"./helper\";"};
          // Each binds names at top level, so a program takes each one at most once.
          const std::uint32_t choice = pick(4);
          if (!(imports_used_ & (1u << choice))) {
            imports_used_ |= 1u << choice;
            return line(imports[choice]);
          }
        }
        [[fallthrough]];
      default:
        return statement();
    }
  }

  void call_statement_or_function() {
    if (functions_.empty())
      return function_declaration();
    call_statement();
  }

  Choices& choices_;
  GeneratorOptions options_;
  std::string out_;
  int depth_ = 0;
  std::size_t next_name_ = 0;
  bool in_loop_ = false;
  unsigned imports_used_ = 0;  // bit i: the i-th import line has been written
  std::optional<Kind> expected_return_;
  std::vector<std::vector<Variable>> scopes_;
  std::vector<Function> functions_;
  std::vector<Class> classes_;
};

inline std::string generate_program(Choices& choices, GeneratorOptions options = {}) {
  return ProgramGenerator(choices, options).generate();
}

}  // namespace ovra::fuzz
