#include "types.h"

#include <array>

namespace ovra {

namespace {

constexpr std::array<std::string_view, 77> kTokenTypeNames = {
    "Let", "Const", "Func", "Back", "Push", "Out", "Rmv", "New", "ToGet", "Typeins", "Array",
    "Class", "If", "Else", "Esle", "Forloop", "While", "Continue", "Break", "Remake", "Crob",
    "Cite", "Share", "From", "As", "Struct", "Put", "Delete", "Options", "Head", "TypeStr",
    "TypeString", "TypeInt", "TypeBool", "TypeSingleF", "TypeMultiF", "TypeArr", "TypeClass",
    "TypeObj", "TypeUnknown", "TypeVoid", "Assign", "Plus", "Minus", "Multiply", "Divide",
    "Modulo", "Equal", "NotEqual", "Less", "Greater", "LessEqual", "GreaterEqual", "And", "Or",
    "Not", "Arrow", "Pipe", "Semicolon", "Colon", "Comma", "Dot", "LeftParen", "RightParen",
    "LeftBrace", "RightBrace", "LeftBracket", "RightBracket", "At", "Identifier",
    "StringLiteral", "NumberLiteral", "BooleanLiteral", "True", "False", "Eof", "Newline",
};
static_assert(static_cast<std::size_t>(TokenType::Newline) + 1 == kTokenTypeNames.size());

}  // namespace

std::string quote_debug_string(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string quoted = "\"";
  for (char c : text) {
    switch (c) {
      case '"': quoted += "\\\""; break;
      case '\\': quoted += "\\\\"; break;
      case '\n': quoted += "\\n"; break;
      case '\r': quoted += "\\r"; break;
      case '\t': quoted += "\\t"; break;
      case '\0': quoted += "\\0"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
          quoted += "\\u{";
          if (static_cast<unsigned char>(c) >= 0x10) quoted += kHex[static_cast<unsigned char>(c) >> 4];
          quoted += kHex[c & 0xf];
          quoted += '}';
        } else {
          quoted += c;
        }
    }
  }
  quoted += '"';
  return quoted;
}

std::string_view token_type_name(TokenType type) {
  return kTokenTypeNames[static_cast<std::size_t>(type)];
}

std::string Token::debug_text() const {
  std::string name(token_type_name(token_type));
  switch (token_type) {
    case TokenType::Identifier:
    case TokenType::StringLiteral:
    case TokenType::NumberLiteral:
      return name + "(" + quote_debug_string(text) + ")";
    default:
      return name;
  }
}

OvraType::OvraType(const OvraType& other)
    : kind_(other.kind_),
      payload_(other.payload_ ? std::make_unique<Payload>(*other.payload_) : nullptr) {}

OvraType& OvraType::operator=(const OvraType& other) {
  if (this != &other) *this = OvraType(other);
  return *this;
}

OvraType OvraType::array_of(OvraType element) {
  OvraType type(Kind::Arr);
  type.payload_ = std::make_unique<Payload>(Payload{std::move(element), {}});
  return type;
}

OvraType OvraType::class_named(std::string name) {
  OvraType type(Kind::Class);
  type.payload_ = std::make_unique<Payload>(Payload{OvraType(), std::move(name)});
  return type;
}

const std::string& OvraType::class_name() const {
  static const std::string kNoName;
  return payload_ ? payload_->class_name : kNoName;
}

bool OvraType::operator==(const OvraType& other) const {
  if (kind_ != other.kind_) return false;
  switch (kind_) {
    case Kind::Arr:
      return element() == other.element();
    case Kind::Class:
      return class_name() == other.class_name();
    default:
      return true;
  }
}

std::string OvraType::to_string() const {
  switch (kind_) {
    case Kind::Str: return "str";
    case Kind::String: return "string";
    case Kind::Int: return "int";
    case Kind::Bool: return "bool";
    case Kind::SingleF: return "singlef";
    case Kind::MultiF: return "multif";
    case Kind::Arr: return "arr<" + element().to_string() + ">";
    case Kind::Class: return "class<" + class_name() + ">";
    case Kind::Obj: return "obj";
    case Kind::Unknown: return "unknown";
    case Kind::Void: return "void";
  }
  return "unknown";
}

std::string OvraType::to_typescript() const {
  switch (kind_) {
    case Kind::Str:
    case Kind::String: return "string";
    case Kind::Int:
    case Kind::SingleF:
    case Kind::MultiF: return "number";
    case Kind::Bool: return "boolean";
    case Kind::Arr: return element().to_typescript() + "[]";
    case Kind::Class: return class_name();
    case Kind::Obj:
    case Kind::Unknown: return "any";
    case Kind::Void: return "void";
  }
  return "any";
}

std::string OvraType::debug_text() const {
  switch (kind_) {
    case Kind::Str: return "Str";
    case Kind::String: return "String";
    case Kind::Int: return "Int";
    case Kind::Bool: return "Bool";
    case Kind::SingleF: return "SingleF";
    case Kind::MultiF: return "MultiF";
    case Kind::Arr: return "Arr(" + element().debug_text() + ")";
    case Kind::Class: return "Class(" + quote_debug_string(class_name()) + ")";
    case Kind::Obj: return "Obj";
    case Kind::Unknown: return "Unknown";
    case Kind::Void: return "Void";
  }
  return "Unknown";
}

bool is_assignable(const OvraType& target, const OvraType& value) {
  if (target == value) return true;
  if (target.is(OvraType::Kind::Unknown) || value.is(OvraType::Kind::Unknown)) return true;
  return target.is_numeric() && value.is_numeric();
}

OvraType wider_numeric(const OvraType& a, const OvraType& b) {
  return static_cast<int>(a.kind()) >= static_cast<int>(b.kind()) ? a : b;
}

}  // namespace ovra
