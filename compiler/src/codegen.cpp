#include "codegen.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <unordered_set>
#include <variant>
#include <vector>

namespace ovra {

namespace {

std::string_view binary_operator_text(BinaryOperator op) {
  switch (op) {
    case BinaryOperator::Add:
      return "+";
    case BinaryOperator::Subtract:
      return "-";
    case BinaryOperator::Multiply:
      return "*";
    case BinaryOperator::Divide:
      return "/";
    case BinaryOperator::Modulo:
      return "%";
    case BinaryOperator::Equal:
      return "===";
    case BinaryOperator::NotEqual:
      return "!==";
    case BinaryOperator::Less:
      return "<";
    case BinaryOperator::Greater:
      return ">";
    case BinaryOperator::LessEqual:
      return "<=";
    case BinaryOperator::GreaterEqual:
      return ">=";
    case BinaryOperator::And:
      return "&&";
    case BinaryOperator::Or:
      return "||";
  }
  return "?";
}

std::string_view default_value_text(const std::optional<OvraType>& type) {
  if (!type)
    return "undefined";
  switch (type->kind()) {
    case OvraType::Kind::Str:
    case OvraType::Kind::String:
      return "\"\"";
    case OvraType::Kind::Int:
    case OvraType::Kind::SingleF:
    case OvraType::Kind::MultiF:
      return "0";
    case OvraType::Kind::Bool:
      return "false";
    case OvraType::Kind::Arr:
      return "[]";
    case OvraType::Kind::Class:
      return "null";
    case OvraType::Kind::Obj:
      return "{}";
    case OvraType::Kind::Unknown:
    case OvraType::Kind::Void:
      return "undefined";
  }
  return "undefined";
}

// Whether the statement's text declares a name in the JavaScript scope it stands in.
bool declares_binding(const Statement& statement) {
  return statement.is<VariableDeclaration>() || statement.is<FunctionDeclaration>() ||
         statement.is<ClassDeclaration>() || statement.is<CrobDeclaration>() ||
         statement.is<CrobEncapsulatedDeclaration>() || statement.is<OutStatement>() ||
         statement.is<ImportDeclaration>() || statement.is<ExportDeclaration>();
}

// Words that JavaScript (in strict and module code too) does not accept as a binding name, and
// the global constants a top-level declaration may not shadow. Ovra allows most of them as
// identifiers; they are written with a "$" appended, which no Ovra identifier contains.
constexpr std::array<std::string_view, 51> kJavaScriptReservedWords = {
    "Infinity",  "NaN",      "arguments", "await",      "break",   "case",    "catch",
    "class",     "const",    "continue",  "debugger",   "default", "delete",  "do",
    "else",      "enum",     "eval",      "export",     "extends", "false",   "finally",
    "for",       "function", "if",        "implements", "import",  "in",      "instanceof",
    "interface", "let",      "new",       "null",       "package", "private", "protected",
    "public",    "return",   "static",    "super",      "switch",  "this",    "throw",
    "true",      "try",      "typeof",    "undefined",  "var",     "void",    "while",
    "with",      "yield",
};
static_assert(std::is_sorted(kJavaScriptReservedWords.begin(), kJavaScriptReservedWords.end()));

}  // namespace

bool is_reserved_in_javascript(std::string_view name) {
  // Every name is checked, so most are turned away by their length before the search.
  if (name.size() < 2 || name.size() > 10)
    return false;
  return std::binary_search(kJavaScriptReservedWords.begin(), kJavaScriptReservedWords.end(), name);
}

std::string javascript_name(std::string_view name) {
  std::string text(name);
  if (is_reserved_in_javascript(name))
    text += '$';
  return text;
}

void CodeGenerator::write_number(std::string_view text) {
  // JavaScript reads a leading zero as an old octal literal (010 is 8) and strict code rejects
  // it, so the integer part loses its leading zeros: 010 -> 10, 08.5 -> 8.5, 00 -> 0.
  std::size_t zeros = 0;
  while (zeros + 1 < text.size() && text[zeros] == '0' && text[zeros + 1] != '.')
    ++zeros;
  write(text.substr(zeros));
}

void CodeGenerator::write_name(std::string_view name) {
  // Object-form method bodies reach their object through `this`, as JavaScript does.
  if (object_method_depth_ > 0 && name == "this") {
    write(name);
    return;
  }
  write(name);
  if (is_reserved_in_javascript(name))
    write("$");
}

bool emitted_text_begins_with_minus(const Expression& expression) {
  const Expression* e = &expression;
  // Follow the leftmost sub-expression as long as the emitted text starts with it.
  while (true) {
    if (const auto* unary = e->as<UnaryExpression>())
      return unary->op == UnaryOperator::Negate;
    if (const auto* literal = e->as<Literal>()) {
      const auto* number = std::get_if<NumberValue>(&literal->value);
      return number && !number->text.empty() && number->text.front() == '-';
    }
    if (const auto* access = e->as<ArrayAccess>()) {
      e = &*access->array;
    } else if (const auto* property = e->as<PropertyAccess>()) {
      e = &*property->object;
    } else if (const auto* assignment = e->as<ArrayAssignment>()) {
      e = &*assignment->array;
    } else if (const auto* call = e->as<MethodCall>()) {
      if (!method_call_text_begins_with_receiver(*call))
        return false;
      e = &*call->object;
    } else {
      return false;
    }
  }
}

void append_js_string_literal(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        // U+2028 and U+2029 (E2 80 A8/A9) end a line inside older JavaScript string literals.
        if (c == '\xE2' && i + 2 < text.size() && text[i + 1] == '\x80' &&
            (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
          out += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
          i += 2;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

CodeGenerator::CodeGenerator(CompileTarget target)
    : plain_javascript_(target != CompileTarget::TypeScript) {}

// Whether the namespace is used is only known once the program has been walked, so the
// statements are emitted first and the prelude is put in front of them afterwards. Every place
// that writes a reference to `ovra` sets `needs_runtime_`, which keeps the decision exact.
std::string CodeGenerator::generate(const Program& program) {
  output_.clear();
  needs_runtime_ = false;
  // A later top-level function replaces an earlier one of the same name. Scripts would let the
  // last declaration win as well, but modules and TypeScript reject a name declared twice, so the
  // replaced declarations are left out.
  std::unordered_set<std::string_view> declared_later;
  std::vector<bool> replaced(program.size(), false);
  for (std::size_t i = program.size(); i-- > 0;) {
    const Statement* statement = &program[i];
    if (const auto* export_declaration = statement->as<ExportDeclaration>())
      statement = &*export_declaration->declaration;
    if (const auto* function = statement->as<FunctionDeclaration>()) {
      replaced[i] = !declared_later.insert(function->name).second;
    }
  }
  for (std::size_t i = 0; i < program.size(); ++i) {
    if (replaced[i])
      continue;
    visit_statement(program[i]);
    write("\n");
  }
  if (needs_runtime_) {
    output_.insert(0, runtime_prelude(plain_javascript_ ? CompileTarget::JavaScript
                                                        : CompileTarget::TypeScript));
  }
  return std::move(output_);
}

void CodeGenerator::visit_block(const std::vector<Statement>& body) {
  ++indent_level_;
  for (const Statement& statement : body)
    visit_statement(statement);
  --indent_level_;
}

void CodeGenerator::visit_variable_declaration(const VariableDeclaration& declaration) {
  write(declaration.is_const ? "const " : "let ");
  write_name(declaration.name);
  if (!plain_javascript_ && declaration.var_type) {
    write(": ");
    write(declaration.var_type->to_typescript());
  }
  write(" = ");
  if (declaration.value) {
    visit_expression(*declaration.value);
  } else {
    write(default_value_text(declaration.var_type));
  }
}

void CodeGenerator::visit_function_declaration(const FunctionDeclaration& declaration) {
  write("function ");
  write_name(declaration.name);
  write("(");
  for (std::size_t i = 0; i < declaration.parameters.size(); ++i) {
    if (i > 0)
      write(", ");
    const Parameter& parameter = declaration.parameters[i];
    write_name(parameter.name);
    if (!plain_javascript_) {
      write(": ");
      write(parameter.param_type.to_typescript());
    }
  }
  write(")");
  if (!plain_javascript_) {
    write(": ");
    write(declaration.return_type.to_typescript());
  }
  write(" {\n");
  visit_block(declaration.body);
  write_indent();
  write("}\n");
}

void CodeGenerator::visit_class_declaration(const ClassDeclaration& declaration) {
  write("class ");
  write_name(declaration.name);
  write(" {\n");
  ++indent_level_;
  for (const ClassField& field : declaration.fields) {
    write_indent();
    write(field.name);
    write(";\n");
  }
  --indent_level_;
  write_indent();
  write("}\n");
}

void CodeGenerator::visit_object_members(std::string_view object,
                                         const std::vector<ObjectField>& fields,
                                         const std::vector<ObjectMethod>& methods) {
  for (const ObjectField& field : fields) {
    write_indent();
    write_name(object);
    write(".");
    write(field.name);
    write(" = ");
    visit_expression(field.value);
    write(";\n");
  }
  for (const ObjectMethod& method : methods) {
    write_indent();
    write_name(object);
    write(".");
    write(method.name);
    write(" = function(");
    for (std::size_t i = 0; i < method.parameters.size(); ++i) {
      if (i > 0)
        write(", ");
      write_name(method.parameters[i].name);
    }
    write(") {\n");
    ++object_method_depth_;
    visit_block(method.body);
    --object_method_depth_;
    write_indent();
    write("};\n");
  }
}

void CodeGenerator::visit_statement(const Statement& statement) {
  std::visit(
      Overloaded{
          [&](const VariableDeclaration& s) {
            write_indent();
            visit_variable_declaration(s);
            write(";\n");
          },
          [&](const FunctionDeclaration& s) {
            write_indent();
            visit_function_declaration(s);
          },
          [&](const ReturnStatement& s) {
            write_indent();
            write("return");
            if (s.value) {
              write(" ");
              visit_expression(*s.value);
            }
            write(";\n");
          },
          [&](const IfStatement& s) {
            write_indent();
            write("if (");
            visit_expression(s.condition);
            write(") {\n");
            visit_block(s.then_branch);
            if (s.else_branch) {
              write_indent();
              write("} else {\n");
              visit_block(*s.else_branch);
            }
            write_indent();
            write("}\n");
          },
          [&](const ExpressionStatement& s) {
            write_indent();
            visit_expression(s.expression, Position::Statement);
            write(";\n");
          },
          [&](const WhileStatement& s) {
            write_indent();
            write("while (");
            visit_expression(s.condition);
            write(") {\n");
            visit_block(s.body);
            write_indent();
            write("}\n");
          },
          [&](const ForLoopStatement& s) {
            // The init is the declaration's text without its trailing ";" and line feed.
            write_indent();
            write("for (");
            if (s.init)
              visit_variable_declaration(*s.init);
            write("; ");
            if (s.condition)
              visit_expression(*s.condition);
            write("; ");
            if (s.update)
              visit_expression(*s.update, Position::Statement);
            write(") {\n");
            visit_block(s.body);
            write_indent();
            write("}\n");
          },
          [&](const PushStatement& s) {
            write_indent();
            visit_expression(*s.array_access.array);
            write(".push(");
            visit_expression(s.value);
            write(");\n");
          },
          [&](const OutStatement& s) {
            write_indent();
            write("const ");
            write_name(s.param_name);
            write(" = ");
            visit_expression(*s.array_access.array);
            write("[");
            visit_expression(*s.array_access.index);
            write("];\n");
            // The body has a scope of its own while the binding outlives it. A body that
            // declares names gets a block, so that two sibling bodies declaring the same name
            // do not redeclare it in one JavaScript scope.
            if (std::any_of(s.body.begin(), s.body.end(), declares_binding)) {
              write_indent();
              write("{\n");
              visit_block(s.body);
              write_indent();
              write("}\n");
            } else {
              for (const Statement& inner : s.body)
                visit_statement(inner);
            }
          },
          [&](const RmvStatement& s) {
            write_indent();
            visit_expression(*s.array_access.array);
            write(".splice(");
            visit_expression(*s.array_access.index);
            write(", 1);\n");
          },
          [&](const ClassDeclaration& s) {
            write_indent();
            visit_class_declaration(s);
          },
          [&](const CrobDeclaration& s) {
            write_indent();
            write("const ");
            write_name(s.name);
            write(" = ");
            visit_expression(s.initializer);
            write(";\n");
          },
          [&](const CrobEncapsulatedDeclaration& s) {
            write_indent();
            write("const ");
            write_name(s.name);
            write(" = new ");
            write_name(s.class_name);
            write("();\n");
            visit_object_members(s.name, s.fields, s.methods);
          },
          [&](const RemakeStatement& s) { visit_object_members(s.name, s.fields, s.methods); },
          [&](const ImportDeclaration& s) { visit_import_declaration(s); },
          [&](const ExportDeclaration& s) {
            write_indent();
            write("export ");
            if (const auto* function = s.declaration->as<FunctionDeclaration>()) {
              visit_function_declaration(*function);
            } else if (const auto* class_declaration = s.declaration->as<ClassDeclaration>()) {
              visit_class_declaration(*class_declaration);
            }
          },
          [&](const ContinueStatement&) {
            write_indent();
            write("continue;\n");
          },
          [&](const BreakStatement&) {
            write_indent();
            write("break;\n");
          },
      },
      statement.node);
}

void CodeGenerator::visit_arguments(const std::vector<Expression>& arguments) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0)
      write(", ");
    visit_expression(arguments[i]);
  }
}

void CodeGenerator::visit_first_argument(const std::vector<Expression>& arguments) {
  if (!arguments.empty())
    visit_expression(arguments.front());
}

void CodeGenerator::visit_binary(const BinaryExpression& binary, Position position) {
  const auto* target = binary.left->as<Identifier>();
  if (position == Position::Statement && target && binary.op == BinaryOperator::Equal) {
    write_name(target->name);
    if (target->name == "ovra")
      needs_runtime_ = true;
    write(" = ");
    visit_expression(*binary.right);
    return;
  }
  // An element assignment used as an operand keeps its own parentheses: `(a[0] = 5) == x`
  // must not become `a[0] = 5 === x`.
  auto visit_operand = [&](const Expression& operand) {
    if (operand.is<ArrayAssignment>()) {
      write("(");
      visit_expression(operand);
      write(")");
    } else {
      visit_expression(operand);
    }
  };
  write("(");
  visit_operand(*binary.left);
  write(" ");
  write(binary_operator_text(binary.op));
  write(" ");
  visit_operand(*binary.right);
  write(")");
}

void CodeGenerator::visit_unary(const UnaryExpression& unary) {
  if (unary.op == UnaryOperator::Not) {
    write("!");
    visit_expression(*unary.operand);
    return;
  }
  // "-" directly before an operand that itself starts with "-" would read as a decrement.
  if (emitted_text_begins_with_minus(*unary.operand)) {
    write("-(");
    visit_expression(*unary.operand);
    write(")");
  } else {
    write("-");
    visit_expression(*unary.operand);
  }
}

void CodeGenerator::visit_expression(const Expression& expression, Position position) {
  std::visit(Overloaded{
                 [&](const Identifier& e) {
                   if (e.name == "ovra")
                     needs_runtime_ = true;
                   write_name(e.name);
                 },
                 [&](const Literal& e) {
                   std::visit(
                       Overloaded{
                           [&](const StringValue& v) { append_js_string_literal(output_, v.text); },
                           [&](const NumberValue& v) { write_number(v.text); },
                           [&](const BooleanValue& v) { write(v.value ? "true" : "false"); },
                       },
                       e.value);
                 },
                 [&](const UnaryExpression& e) { visit_unary(e); },
                 [&](const BinaryExpression& e) { visit_binary(e, position); },
                 [&](const FunctionCall& e) {
                   write_name(e.name);
                   write("(");
                   visit_arguments(e.arguments);
                   write(")");
                 },
                 [&](const ArrayAccess& e) {
                   visit_expression(*e.array);
                   write("[");
                   visit_expression(*e.index);
                   write("]");
                 },
                 [&](const PropertyAccess& e) {
                   visit_expression(*e.object);
                   write(".");
                   write(e.property);
                 },
                 [&](const MethodCall& e) {
                   if (!visit_increment_call(e))
                     visit_method_call(e);
                 },
                 [&](const ArrayLiteral& e) {
                   write("[");
                   visit_arguments(e.elements);
                   write("]");
                 },
                 [&](const NewExpression& e) {
                   write("new ");
                   write_name(e.class_name);
                   write("(");
                   visit_arguments(e.arguments);
                   write(")");
                 },
                 [&](const ArrayAssignment& e) {
                   visit_expression(*e.array);
                   write("[");
                   visit_expression(*e.index);
                   write("] = ");
                   visit_expression(*e.value);
                 },
             },
             expression.node);
}

}  // namespace ovra
