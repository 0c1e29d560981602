#include "ast.h"

namespace ovra {

const Span& Expression::span() const {
  return std::visit([](const auto& record) -> const Span& { return record.span; }, node);
}

const Span& Statement::span() const {
  return std::visit([](const auto& record) -> const Span& { return record.span; }, node);
}

namespace {

// Writes the structural debug text into one growing string: a record as
// `Name { field: value, ... }`, a variant as `Variant(record)`, lists in brackets, optionals as
// `None` or `Some(value)`.
class DebugWriter {
 public:
  explicit DebugWriter(std::string& out) : out_(out) {}

  void write(const Statement& statement) {
    std::visit(Overloaded{
                   [&](const VariableDeclaration& s) { variant("VariableDeclaration", s); },
                   [&](const FunctionDeclaration& s) { variant("FunctionDeclaration", s); },
                   [&](const ReturnStatement& s) { variant("Return", s); },
                   [&](const IfStatement& s) { variant("If", s); },
                   [&](const ExpressionStatement& s) { variant("Expression", s); },
                   [&](const WhileStatement& s) { variant("While", s); },
                   [&](const ForLoopStatement& s) { variant("ForLoop", s); },
                   [&](const PushStatement& s) { variant("Push", s); },
                   [&](const OutStatement& s) { variant("Out", s); },
                   [&](const RmvStatement& s) { variant("Rmv", s); },
                   [&](const ClassDeclaration& s) { variant("ClassDeclaration", s); },
                   [&](const CrobDeclaration& s) { variant("CrobDeclaration", s); },
                   [&](const CrobEncapsulatedDeclaration& s) {
                     variant("CrobEncapsulatedDeclaration", s);
                   },
                   [&](const RemakeStatement& s) { variant("Remake", s); },
                   [&](const ImportDeclaration& s) { variant("ImportDeclaration", s); },
                   [&](const ExportDeclaration& s) { variant("ExportDeclaration", s); },
                   [&](const ContinueStatement& s) { variant("Continue", s); },
                   [&](const BreakStatement& s) { variant("Break", s); },
               },
               statement.node);
  }

  void write(const Expression& expression) {
    std::visit(Overloaded{
                   [&](const Identifier& e) { variant("Identifier", e); },
                   [&](const Literal& e) { variant("Literal", e); },
                   [&](const UnaryExpression& e) { variant("Unary", e); },
                   [&](const BinaryExpression& e) { variant("Binary", e); },
                   [&](const FunctionCall& e) { variant("FunctionCall", e); },
                   [&](const ArrayAccess& e) { variant("ArrayAccess", e); },
                   [&](const PropertyAccess& e) { variant("PropertyAccess", e); },
                   [&](const MethodCall& e) { variant("MethodCall", e); },
                   [&](const ArrayLiteral& e) { variant("ArrayLiteral", e); },
                   [&](const NewExpression& e) { variant("New", e); },
                   [&](const ArrayAssignment& e) { variant("ArrayAssignment", e); },
               },
               expression.node);
  }

  // ---- Leaves ----

  void write(const Span& span) { out_ += span.debug_text(); }
  void write(const std::string& text) { out_ += quote_debug_string(text); }
  void write(bool value) { out_ += value ? "true" : "false"; }
  void write(const OvraType& type) { out_ += type.debug_text(); }
  void write(UnaryOperator op) { out_ += op == UnaryOperator::Negate ? "Negate" : "Not"; }
  void write(BinaryOperator op) {
    static constexpr const char* kNames[] = {
        "Add",  "Subtract", "Multiply",  "Divide",       "Modulo", "Equal", "NotEqual",
        "Less", "Greater",  "LessEqual", "GreaterEqual", "And",    "Or",
    };
    out_ += kNames[static_cast<int>(op)];
  }
  void write(const LiteralValue& value) {
    std::visit(Overloaded{
                   [&](const StringValue& v) { wrapped("String", v.text); },
                   [&](const NumberValue& v) { wrapped("Number", v.text); },
                   [&](const BooleanValue& v) { wrapped("Boolean", v.value); },
               },
               value);
  }
  template <class Inner>
  void write(const Box<Inner>& boxed) {
    write(*boxed);
  }
  template <class Inner>
  void write(const std::optional<Inner>& optional) {
    if (optional) {
      wrapped("Some", *optional);
    } else {
      out_ += "None";
    }
  }
  template <class Inner>
  void write(const OptionalBox<Inner>& optional) {
    if (optional) {
      wrapped("Some", *optional);
    } else {
      out_ += "None";
    }
  }
  template <class Item>
  void write(const std::vector<Item>& items) {
    out_ += '[';
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i > 0)
        out_ += ", ";
      write(items[i]);
    }
    out_ += ']';
  }

  // ---- Records ----

  void write(const Identifier& e) { record("Identifier", "span", e.span, "name", e.name); }
  void write(const Literal& e) {
    record("Literal", "span", e.span, "value", e.value, "literal_type", e.literal_type);
  }
  void write(const UnaryExpression& e) {
    record("UnaryExpression", "span", e.span, "operator", e.op, "operand", e.operand);
  }
  void write(const BinaryExpression& e) {
    record("BinaryExpression", "span", e.span, "left", e.left, "operator", e.op, "right", e.right);
  }
  void write(const FunctionCall& e) {
    record("FunctionCall", "span", e.span, "name", e.name, "arguments", e.arguments);
  }
  void write(const ArrayAccess& e) {
    record("ArrayAccess", "span", e.span, "array", e.array, "index", e.index);
  }
  void write(const PropertyAccess& e) {
    record("PropertyAccess", "span", e.span, "object", e.object, "property", e.property);
  }
  void write(const MethodCall& e) {
    record("MethodCall", "span", e.span, "object", e.object, "method_name", e.method_name,
           "arguments", e.arguments);
  }
  void write(const ArrayLiteral& e) {
    record("ArrayLiteral", "span", e.span, "elements", e.elements);
  }
  void write(const NewExpression& e) {
    record("NewExpression", "span", e.span, "class_name", e.class_name, "arguments", e.arguments);
  }
  void write(const ArrayAssignment& e) {
    record("ArrayAssignment", "span", e.span, "array", e.array, "index", e.index, "value", e.value);
  }

  void write(const Parameter& p) {
    record("Parameter", "name", p.name, "param_type", p.param_type);
  }
  void write(const ClassField& f) {
    record("ClassField", "name", f.name, "field_type", f.field_type);
  }
  void write(const ObjectField& f) { record("ObjectField", "name", f.name, "value", f.value); }
  void write(const ObjectMethod& m) {
    record("ObjectMethod", "name", m.name, "parameters", m.parameters, "return_type", m.return_type,
           "body", m.body);
  }

  void write(const VariableDeclaration& s) {
    record("VariableDeclaration", "span", s.span, "is_const", s.is_const, "name", s.name,
           "var_type", s.var_type, "value", s.value);
  }
  void write(const FunctionDeclaration& s) {
    record("FunctionDeclaration", "span", s.span, "name", s.name, "parameters", s.parameters,
           "return_type", s.return_type, "body", s.body, "is_share", s.is_share);
  }
  void write(const ReturnStatement& s) {
    record("ReturnStatement", "span", s.span, "value", s.value);
  }
  void write(const IfStatement& s) {
    record("IfStatement", "span", s.span, "condition", s.condition, "then_branch", s.then_branch,
           "else_branch", s.else_branch);
  }
  void write(const ExpressionStatement& s) {
    record("ExpressionStatement", "span", s.span, "expression", s.expression);
  }
  void write(const WhileStatement& s) {
    record("WhileStatement", "span", s.span, "condition", s.condition, "body", s.body);
  }
  void write(const ForLoopStatement& s) {
    record("ForLoopStatement", "span", s.span, "init", s.init, "condition", s.condition, "update",
           s.update, "body", s.body);
  }
  void write(const PushStatement& s) {
    record("PushStatement", "span", s.span, "value", s.value, "array_access", s.array_access);
  }
  void write(const OutStatement& s) {
    record("OutStatement", "span", s.span, "array_access", s.array_access, "param_name",
           s.param_name, "body", s.body);
  }
  void write(const RmvStatement& s) {
    record("RmvStatement", "span", s.span, "array_access", s.array_access);
  }
  void write(const ClassDeclaration& s) {
    record("ClassDeclaration", "span", s.span, "name", s.name, "fields", s.fields);
  }
  void write(const CrobDeclaration& s) {
    record("CrobDeclaration", "span", s.span, "name", s.name, "initializer", s.initializer);
  }
  void write(const CrobEncapsulatedDeclaration& s) {
    record("CrobEncapsulatedDeclaration", "span", s.span, "name", s.name, "class_name",
           s.class_name, "right", s.right, "fields", s.fields, "methods", s.methods);
  }
  void write(const RemakeStatement& s) {
    record("RemakeStatement", "span", s.span, "name", s.name, "fields", s.fields, "methods",
           s.methods);
  }
  // source_is_string is a back-end hint and stays out of the structural text.
  void write(const ImportDeclaration& s) {
    record("ImportDeclaration", "span", s.span, "default_import", s.default_import, "named_imports",
           s.named_imports, "source", s.source, "alias", s.alias);
  }
  void write(const ExportDeclaration& s) {
    record("ExportDeclaration", "span", s.span, "declaration", s.declaration);
  }
  void write(const ContinueStatement& s) { record("ContinueStatement", "span", s.span); }
  void write(const BreakStatement& s) { record("BreakStatement", "span", s.span); }

 private:
  template <class Value>
  void wrapped(const char* name, const Value& value) {
    out_ += name;
    out_ += '(';
    write(value);
    out_ += ')';
  }
  template <class Record>
  void variant(const char* name, const Record& value) {
    wrapped(name, value);
  }

  void fields() {}
  template <class Value, class... Rest>
  void fields(const char* name, const Value& value, const Rest&... rest) {
    out_ += name;
    out_ += ": ";
    write(value);
    if constexpr (sizeof...(rest) > 0) {
      out_ += ", ";
      fields(rest...);
    }
  }
  template <class... Fields>
  void record(const char* name, const Fields&... pairs) {
    out_ += name;
    out_ += " { ";
    fields(pairs...);
    out_ += " }";
  }

  std::string& out_;
};

}  // namespace

std::string debug_text(const Statement& statement) {
  std::string out;
  DebugWriter(out).write(statement);
  return out;
}

std::string debug_text(const Expression& expression) {
  std::string out;
  DebugWriter(out).write(expression);
  return out;
}

std::string debug_text(const VariableDeclaration& declaration) {
  std::string out;
  DebugWriter(out).write(declaration);
  return out;
}

}  // namespace ovra
