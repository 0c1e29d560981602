#include "llvm_backend.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ovra {

namespace {

using K = IrType::Kind;

constexpr const char* kRuntimeDeclarations[] = {
    "declare void @ovra_rt_init()",
    "declare %ovra_rt_string* @ovra_rt_string_from_utf8(i8*, i64)",
    "declare %ovra_rt_string* @ovra_rt_string_concat(%ovra_rt_string*, %ovra_rt_string*)",
    "declare i32 @ovra_rt_string_compare(%ovra_rt_string*, %ovra_rt_string*)",
    "declare %ovra_rt_string* @ovra_rt_string_from_int(i32)",
    "declare %ovra_rt_string* @ovra_rt_string_from_singlef(float)",
    "declare %ovra_rt_string* @ovra_rt_string_from_multif(double)",
    "declare %ovra_rt_array* @ovra_rt_array_new()",
    "declare i64 @ovra_rt_array_length(%ovra_rt_array*)",
    "declare ptr @ovra_rt_array_get(%ovra_rt_array*, i64)",
    "declare void @ovra_rt_array_set(%ovra_rt_array*, i64, ptr)",
    "declare void @ovra_rt_array_push(%ovra_rt_array*, ptr)",
    "declare void @ovra_rt_array_remove(%ovra_rt_array*, i64)",
    "declare %ovra_rt_object* @ovra_rt_object_new(i8*)",
    "declare ptr @ovra_rt_object_call_method(%ovra_rt_object*, %ovra_rt_string*, %ovra_rt_array*)",
    "declare ptr @ovra_rt_object_get_property(%ovra_rt_object*, %ovra_rt_string*)",
    "declare void @ovra_rt_object_set_property(%ovra_rt_object*, %ovra_rt_string*, ptr)",
    "declare void @ovra_rt_retain(ptr)",
    "declare void @ovra_rt_release(ptr)",
    "declare i1 @ovra_rt_string_starts_with(%ovra_rt_string*, %ovra_rt_string*)",
    "declare i1 @ovra_rt_string_ends_with(%ovra_rt_string*, %ovra_rt_string*)",
    "declare %ovra_rt_string* @ovra_rt_string_slice(%ovra_rt_string*, i32, i32)",
    "declare %ovra_rt_array* @ovra_rt_array_slice(%ovra_rt_array*, i32, i32)",
    "declare i32 @ovra_rt_value_to_int(ptr)",
    "declare double @ovra_rt_value_to_float(ptr)",
    "declare ptr @ovra_rt_value_from_array(%ovra_rt_array*)",
    "declare void @ovra_rt_io_print(%ovra_rt_value*)",
    "declare %ovra_rt_string* @ovra_rt_io_read_line()",
    "declare i32 @ovra_rt_io_read_int()",
    "declare float @ovra_rt_io_read_singlef()",
    "declare double @ovra_rt_io_read_multif()",
    "declare %ovra_rt_value* @ovra_rt_value_from_string(%ovra_rt_string*)",
    "declare %ovra_rt_value* @ovra_rt_value_from_int(i32)",
    "declare %ovra_rt_value* @ovra_rt_value_from_singlef(float)",
    "declare %ovra_rt_value* @ovra_rt_value_from_multif(double)",
};
static_assert(sizeof(kRuntimeDeclarations) / sizeof(kRuntimeDeclarations[0]) == 35);

const char* llvm_type(const IrType& type) {
  switch (type.kind()) {
    case K::Int32:
      return "i32";
    case K::Bool:
      return "i1";
    case K::SingleF:
      return "float";
    case K::MultiF:
      return "double";
    case K::Void:
      return "void";
    default:
      return "ptr";
  }
}

const char* zero_value(const IrType& type) {
  switch (type.kind()) {
    case K::Int32:
    case K::Bool:
      return "0";
    case K::SingleF:
    case K::MultiF:
      return "0.0";
    case K::Void:
      return "void";
    default:
      return "null";
  }
}

bool same_llvm_type(const IrType& a, const IrType& b) {
  return std::strcmp(llvm_type(a), llvm_type(b)) == 0;
}

bool is_llvm_identifier_char(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '$' || c == '.' || c == '_';
}

// Bytes that a quoted LLVM name or a metadata string cannot hold raw are written \XX.
std::string escape_llvm_text(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
      escaped += static_cast<char>(c);
    } else {
      escaped += '\\';
      escaped += kHex[c >> 4];
      escaped += kHex[c & 0xf];
    }
  }
  return escaped;
}

// A string constant's body: quotes and backslashes escaped, everything else as raw bytes.
std::string escape_string_constant(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '"') {
      escaped += "\\22";
    } else if (c == '\\') {
      escaped += "\\5C";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string strip_leading_zeros(const std::string& digits) {
  std::size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? "0" : digits.substr(first);
}

std::string saturated_int32(double value) {
  if (std::isnan(value))
    return "0";
  if (value >= 2147483647.0)
    return "2147483647";
  if (value <= -2147483648.0)
    return "-2147483648";
  return std::to_string(static_cast<std::int32_t>(value));
}

// LLVM reads a hexadecimal floating constant as the bits of a double, for float as well.
std::string hex_double(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%016llX", static_cast<unsigned long long>(bits));
  return buffer;
}

const char* integer_predicate(IrBinaryOp op) {
  switch (op) {
    case IrBinaryOp::Equal:
      return "eq";
    case IrBinaryOp::NotEqual:
      return "ne";
    case IrBinaryOp::Less:
      return "slt";
    case IrBinaryOp::Greater:
      return "sgt";
    case IrBinaryOp::LessEqual:
      return "sle";
    default:
      return "sge";
  }
}

// Ordered comparisons, except that != holds when either side is NaN.
const char* float_predicate(IrBinaryOp op) {
  switch (op) {
    case IrBinaryOp::Equal:
      return "oeq";
    case IrBinaryOp::NotEqual:
      return "une";
    case IrBinaryOp::Less:
      return "olt";
    case IrBinaryOp::Greater:
      return "ogt";
    case IrBinaryOp::LessEqual:
      return "ole";
    default:
      return "oge";
  }
}

bool is_comparison(IrBinaryOp op) {
  return op == IrBinaryOp::Equal || op == IrBinaryOp::NotEqual || op == IrBinaryOp::Less ||
         op == IrBinaryOp::Greater || op == IrBinaryOp::LessEqual || op == IrBinaryOp::GreaterEqual;
}

// The wider of two numeric types, a bool counting as an int; nullopt when either is not numeric.
std::optional<IrType> wider_numeric(const std::optional<IrType>& a,
                                    const std::optional<IrType>& b) {
  auto rank = [](const std::optional<IrType>& t) -> int {
    if (!t)
      return -1;
    switch (t->kind()) {
      case K::Bool:
      case K::Int32:
        return 0;
      case K::SingleF:
        return 1;
      case K::MultiF:
        return 2;
      default:
        return -1;
    }
  };
  int ra = rank(a);
  int rb = rank(b);
  if (ra < 0 && rb < 0)
    return std::nullopt;
  int r = ra > rb ? ra : rb;
  return r == 0 ? K::Int32 : r == 1 ? K::SingleF : K::MultiF;
}

std::string first_line(const std::string& text) {
  std::string line = text;
  for (char& c : line) {
    if (c == '\n' || c == '\r')
      c = ' ';
  }
  return line;
}

}  // namespace

std::string llvm_identifier(const std::string& name) {
  bool bare = !name.empty() && !(name[0] >= '0' && name[0] <= '9');
  for (unsigned char c : name)
    bare = bare && is_llvm_identifier_char(c);
  if (bare)
    return name;
  std::string quoted(1, '"');
  quoted += escape_llvm_text(name);
  quoted += '"';
  return quoted;
}

std::string llvm_number_constant(const std::string& text, const IrType& type) {
  // Source numbers are plain digits with an optional fraction; folded ones may carry a sign.
  bool negative = !text.empty() && text[0] == '-';
  std::string body = negative ? text.substr(1) : text;
  std::string sign = negative ? "-" : "";
  bool integer = is_integer_text(body);
  std::size_t dot = body.find('.');
  bool plain_decimal = dot != std::string::npos && dot > 0 &&
                       is_integer_text(body.substr(0, dot)) &&
                       (dot + 1 == body.size() || is_integer_text(body.substr(dot + 1)));
  double value = std::strtod(text.c_str(), nullptr);
  switch (type.kind()) {
    case K::Int32: {
      if (!integer)
        return saturated_int32(value);
      std::string digits = strip_leading_zeros(body);
      const char* limit = negative ? "2147483648" : "2147483647";
      if (digits.size() > 10 || (digits.size() == 10 && digits > limit)) {
        return negative ? "-2147483648" : "2147483647";
      }
      return digits == "0" ? digits : sign + digits;
    }
    case K::Bool:
      return value != 0.0 ? "1" : "0";
    case K::SingleF:
    case K::MultiF: {
      if (!integer && !plain_decimal)
        return hex_double(type.is(K::SingleF) ? double(float(value)) : value);
      std::string decimal = sign + (integer ? strip_leading_zeros(body) + ".0" : body);
      if (decimal.back() == '.')
        decimal += '0';
      if (!std::isfinite(value))
        return hex_double(value);
      if (type.is(K::SingleF)) {
        float narrowed = static_cast<float>(value);
        if (static_cast<double>(narrowed) != value)
          return hex_double(narrowed);
      }
      return decimal;
    }
    default:
      return text;
  }
}

// ---- Small helpers ----

// A parameter or variable may itself be called tmpN; such numbers are skipped.
std::string LLVMBackend::fresh_tmp() {
  while (true) {
    std::string name = "tmp" + std::to_string(tmp_counter_++);
    if (!value_types_.count(name))
      return name;
  }
}

std::string LLVMBackend::value_name(const std::string& name) const {
  return llvm_identifier(name);
}

std::string LLVMBackend::register_name(const std::string& name) const {
  std::string text(1, '%');
  text += llvm_identifier(name);
  return text;
}

std::string LLVMBackend::fresh_register() {
  std::string text(1, '%');
  text += fresh_tmp();
  return text;
}

std::pair<std::string, std::size_t> LLVMBackend::intern_string_global(const std::string& text) {
  auto found = string_literals_.find(text);
  if (found != string_literals_.end())
    return found->second;
  std::pair<std::string, std::size_t> entry{".ovra_str" + std::to_string(string_counter_++),
                                            text.size() + 1};
  string_literals_.emplace(text, entry);
  string_order_.push_back(text);
  return entry;
}

std::string LLVMBackend::emit_string_literal_helper(const std::string& text, std::string& out) {
  auto [name, length] = intern_string_global(text);
  std::string bytes = fresh_tmp();
  out += "  %" + bytes + " = getelementptr inbounds [" + std::to_string(length) + " x i8], ptr @" +
         name + ", i64 0, i64 0\n";
  std::string string = fresh_register();
  out += "  " + string + " = call ptr @ovra_rt_string_from_utf8(ptr %" + bytes + ", i64 " +
         std::to_string(length - 1) + ")\n";
  return string;
}

std::optional<IrType> LLVMBackend::known_value_type(const std::string& name) const {
  auto local = value_types_.find(name);
  if (local != value_types_.end())
    return local->second;
  auto global = global_types_.find(name);
  if (global != global_types_.end())
    return global->second;
  return std::nullopt;
}

bool LLVMBackend::is_adaptive(const IrValue& value) const {
  if (const auto* literal = value.as<IrLiteralValue>()) {
    return !std::holds_alternative<IrString>(literal->literal);
  }
  if (const auto* identifier = value.as<IrIdentifier>()) {
    return !known_value_type(identifier->name);
  }
  if (const auto* unary = value.as<IrUnary>()) {
    return unary->op == IrUnaryOp::Negate && is_adaptive(*unary->operand);
  }
  return false;
}

std::optional<IrType> LLVMBackend::adaptive_type(const IrValue& value) const {
  if (const auto* literal = value.as<IrLiteralValue>()) {
    if (const auto* number = std::get_if<IrNumber>(&literal->literal)) {
      return is_integer_text(number->text) ? K::Int32 : K::SingleF;
    }
    return K::Bool;
  }
  if (const auto* unary = value.as<IrUnary>())
    return adaptive_type(*unary->operand);
  return std::nullopt;  // an undefined name takes whatever type its context needs
}

// ---- Conversions ----

LLVMBackend::Operand LLVMBackend::convert(Operand operand, const IrType& target,
                                          const std::string& dest, std::string& out) {
  const IrType& from = operand.type;
  if (same_llvm_type(from, target) || target.is(K::Void)) {
    if (!target.is(K::Void))
      operand.type = target;
    return operand;
  }
  auto result = [&]() { return dest.empty() ? fresh_register() : dest; };
  auto emit = [&](const std::string& instruction, const IrType& type) {
    std::string name = result();
    out += "  " + name + " = " + instruction + "\n";
    return Operand{name, type};
  };
  const std::string v = operand.text;
  if (target.is_pointer()) {
    if (target.is(K::String))
      return to_rt_string(std::move(operand), out);
    return to_rt_value(std::move(operand), out);
  }
  if (from.is_pointer()) {
    // A pointer reaching a number is a boxed runtime value.
    if (target.is(K::Int32))
      return emit("call i32 @ovra_rt_value_to_int(ptr " + v + ")", target);
    if (target.is(K::MultiF)) {
      return emit("call double @ovra_rt_value_to_float(ptr " + v + ")", target);
    }
    if (target.is(K::SingleF)) {
      Operand wide = convert(std::move(operand), K::MultiF, "", out);
      return emit("fptrunc double " + wide.text + " to float", target);
    }
    Operand number = convert(std::move(operand), K::Int32, "", out);
    return emit("icmp ne i32 " + number.text + ", 0", target);
  }
  const char* to = llvm_type(target);
  switch (from.kind()) {
    case K::Bool:
      if (target.is(K::Int32))
        return emit("zext i1 " + v + " to i32", target);
      return emit(std::string("uitofp i1 ") + v + " to " + to, target);
    case K::Int32:
      if (target.is(K::Bool))
        return emit("icmp ne i32 " + v + ", 0", target);
      return emit(std::string("sitofp i32 ") + v + " to " + to, target);
    case K::SingleF:
      if (target.is(K::Bool))
        return emit("fcmp une float " + v + ", 0.0", target);
      if (target.is(K::Int32))
        return emit("fptosi float " + v + " to i32", target);
      return emit("fpext float " + v + " to double", target);
    case K::MultiF:
      if (target.is(K::Bool))
        return emit("fcmp une double " + v + ", 0.0", target);
      if (target.is(K::Int32))
        return emit("fptosi double " + v + " to i32", target);
      return emit("fptrunc double " + v + " to float", target);
    default:
      return operand;
  }
}

LLVMBackend::Operand LLVMBackend::to_rt_value(Operand operand, std::string& out) {
  const IrType::Kind kind = operand.type.kind();
  bool boxed_already = kind != K::Int32 && kind != K::Bool && kind != K::SingleF &&
                       kind != K::MultiF && kind != K::String && kind != K::Arr;
  if (boxed_already)
    return Operand{operand.text, K::Unknown};
  std::string name = fresh_register();
  switch (operand.type.kind()) {
    case K::Int32:
      out += "  " + name + " = call ptr @ovra_rt_value_from_int(i32 " + operand.text + ")\n";
      break;
    case K::Bool: {
      std::string wide = name;
      out += "  " + wide + " = zext i1 " + operand.text + " to i32\n";
      name = fresh_register();
      out += "  " + name + " = call ptr @ovra_rt_value_from_int(i32 " + wide + ")\n";
      break;
    }
    case K::SingleF:
      out += "  " + name + " = call ptr @ovra_rt_value_from_singlef(float " + operand.text + ")\n";
      break;
    case K::MultiF:
      out += "  " + name + " = call ptr @ovra_rt_value_from_multif(double " + operand.text + ")\n";
      break;
    case K::String:
      out += "  " + name + " = call ptr @ovra_rt_value_from_string(ptr " + operand.text + ")\n";
      break;
    case K::Arr:
      out += "  " + name + " = call ptr @ovra_rt_value_from_array(ptr " + operand.text + ")\n";
      break;
    default:
      // Objects and unknown values already are runtime values.
      return Operand{operand.text, K::Unknown};
  }
  return Operand{name, K::Unknown};
}

LLVMBackend::Operand LLVMBackend::to_rt_string(Operand operand, std::string& out) {
  const IrType::Kind kind = operand.type.kind();
  bool boxed_already =
      kind != K::Int32 && kind != K::Bool && kind != K::SingleF && kind != K::MultiF;
  if (boxed_already)
    return Operand{operand.text, K::String};
  std::string name = fresh_register();
  switch (operand.type.kind()) {
    case K::Int32:
      out += "  " + name + " = call ptr @ovra_rt_string_from_int(i32 " + operand.text + ")\n";
      break;
    case K::Bool: {
      std::string wide = name;
      out += "  " + wide + " = zext i1 " + operand.text + " to i32\n";
      name = fresh_register();
      out += "  " + name + " = call ptr @ovra_rt_string_from_int(i32 " + wide + ")\n";
      break;
    }
    case K::SingleF:
      out += "  " + name + " = call ptr @ovra_rt_string_from_singlef(float " + operand.text + ")\n";
      break;
    case K::MultiF:
      out += "  " + name + " = call ptr @ovra_rt_string_from_multif(double " + operand.text + ")\n";
      break;
    default:
      return Operand{operand.text, K::String};
  }
  return Operand{name, K::String};
}

// ---- Values ----

std::optional<LLVMBackend::Operand> LLVMBackend::emit_operand(const IrValue& value,
                                                              const IrType& expected,
                                                              std::string& out) {
  if (is_adaptive(value)) {
    if (const auto* unary = value.as<IrUnary>()) {
      IrType type = expected.is_numeric() ? expected : adaptive_type(value).value_or(K::Int32);
      std::optional<Operand> inner = emit_operand(*unary->operand, type, out);
      if (!inner)
        return std::nullopt;
      std::string name = fresh_register();
      out += "  " + name + (type.is_float() ? " = fsub " : " = sub ") + llvm_type(type) +
             (type.is_float() ? " 0.0, " : " 0, ") + inner->text + "\n";
      return convert(Operand{name, type}, expected, "", out);
    }
    if (const auto* literal = value.as<IrLiteralValue>()) {
      std::optional<IrType> natural = adaptive_type(value);
      if (const auto* number = std::get_if<IrNumber>(&literal->literal)) {
        if (expected.is_numeric() || expected.is(K::Bool)) {
          return Operand{llvm_number_constant(number->text, expected), expected};
        }
        return convert(Operand{llvm_number_constant(number->text, *natural), *natural}, expected,
                       "", out);
      }
      bool truth = std::get<IrBool>(literal->literal).value;
      if (expected.is(K::Bool))
        return Operand{truth ? "1" : "0", expected};
      if (expected.is_numeric()) {
        return Operand{llvm_number_constant(truth ? "1" : "0", expected), expected};
      }
      return convert(Operand{truth ? "1" : "0", K::Bool}, expected, "", out);
    }
    // A name no definition reaches, or no variable at all: the zero of the expected type.
    if (expected.is(K::Void))
      return std::nullopt;
    return Operand{zero_value(expected), expected};
  }
  std::optional<Operand> operand = emit_value(value, out);
  if (!operand)
    return std::nullopt;
  return convert(std::move(*operand), expected, "", out);
}

std::optional<LLVMBackend::Operand> LLVMBackend::emit_value(const IrValue& value,
                                                            std::string& out) {
  return std::visit(
      Overloaded{
          [&](const IrLiteralValue& literal) -> std::optional<Operand> {
            if (const auto* text = std::get_if<IrString>(&literal.literal)) {
              return Operand{emit_string_literal_helper(text->text, out), K::String};
            }
            IrType natural = *adaptive_type(value);
            return emit_operand(value, natural, out);
          },
          [&](const IrIdentifier& identifier) -> std::optional<Operand> {
            auto local = value_types_.find(identifier.name);
            if (local != value_types_.end()) {
              return Operand{register_name(identifier.name), local->second};
            }
            auto global = global_types_.find(identifier.name);
            if (global != global_types_.end()) {
              std::string name = fresh_register();
              out += "  " + name + " = load " + llvm_type(global->second) + ", ptr @" +
                     llvm_identifier(identifier.name) + "\n";
              return Operand{name, global->second};
            }
            return Operand{"0", K::Int32};
          },
          [&](const IrUnary& unary) -> std::optional<Operand> {
            if (unary.op == IrUnaryOp::Not) {
              std::optional<Operand> inner = emit_operand(*unary.operand, K::Bool, out);
              if (!inner)
                return std::nullopt;
              std::string name = fresh_register();
              out += "  " + name + " = xor i1 " + inner->text + ", true\n";
              return Operand{name, K::Bool};
            }
            std::optional<Operand> inner = emit_value(*unary.operand, out);
            if (!inner)
              return std::nullopt;
            if (!inner->type.is_numeric())
              inner = convert(std::move(*inner), K::Int32, "", out);
            std::string name = fresh_register();
            const char* type = llvm_type(inner->type);
            if (inner->type.is_float()) {
              out += "  " + name + " = fsub " + type + " 0.0, " + inner->text + "\n";
            } else {
              out += "  " + name + " = sub " + type + " 0, " + inner->text + "\n";
            }
            return Operand{name, inner->type};
          },
          [&](const IrBinary& binary) { return emit_binary(binary, "", nullptr, out); },
          [&](const IrCall& call) { return emit_call(call, "", nullptr, out); },
          [&](const IrMethodCall& call) { return emit_method_call(call, out); },
          [&](const IrArrayAccess& access) -> std::optional<Operand> {
            std::optional<Operand> array = emit_operand(*access.access.array, K::Unknown, out);
            std::optional<Operand> index = emit_operand(*access.access.index, K::Int32, out);
            if (!array || !index)
              return std::nullopt;
            std::string wide = fresh_register();
            out += "  " + wide + " = sext i32 " + index->text + " to i64\n";
            std::string name = fresh_register();
            out += "  " + name + " = call ptr @ovra_rt_array_get(ptr " + array->text + ", i64 " +
                   wide + ")\n";
            return Operand{name, K::Unknown};
          },
          [&](const IrArrayLiteral& literal) -> std::optional<Operand> {
            std::optional<std::string> array = emit_argument_array(literal.elements, out);
            if (!array)
              return std::nullopt;
            return Operand{*array, IrType::array_of(K::Unknown)};
          },
          [&](const IrNewObject& object) -> std::optional<Operand> {
            auto [class_name, length] = intern_string_global(object.class_name);
            std::string class_pointer = fresh_register();
            out += "  " + class_pointer + " = getelementptr inbounds [" + std::to_string(length) +
                   " x i8], ptr @" + class_name + ", i64 0, i64 0\n";
            std::optional<std::string> args = emit_argument_array(object.args, out);
            if (!args)
              return std::nullopt;
            std::string name = fresh_register();
            out += "  " + name + " = call ptr @ovra_rt_object_new(ptr " + class_pointer + ", ptr " +
                   *args + ")\n";
            return Operand{name, K::Obj};
          },
          [&](const IrArrayAssignment& assignment) { return emit_array_set(assignment, out); },
          [&](const IrUnknownValue&) -> std::optional<Operand> { return std::nullopt; },
      },
      value.node);
}

std::optional<std::string> LLVMBackend::emit_argument_array(const std::vector<IrValue>& args,
                                                            std::string& out) {
  std::string array = fresh_register();
  out += "  " + array + " = call ptr @ovra_rt_array_new()\n";
  for (const IrValue& arg : args) {
    std::optional<Operand> boxed = emit_value_to_rt_value(arg, out);
    if (!boxed)
      return std::nullopt;
    out += "  call void @ovra_rt_array_push(ptr " + array + ", ptr " + boxed->text + ")\n";
  }
  return array;
}

std::optional<LLVMBackend::Operand> LLVMBackend::emit_array_set(const IrArrayAssignment& assignment,
                                                                std::string& out) {
  std::optional<Operand> array = emit_operand(*assignment.target.array, K::Unknown, out);
  std::optional<Operand> index = emit_operand(*assignment.target.index, K::Int32, out);
  if (!array || !index)
    return std::nullopt;
  std::string wide = fresh_register();
  out += "  " + wide + " = sext i32 " + index->text + " to i64\n";
  std::optional<Operand> boxed = emit_value_to_rt_value(*assignment.value, out);
  if (!boxed)
    return std::nullopt;
  out += "  call void @ovra_rt_array_set(ptr " + array->text + ", i64 " + wide + ", ptr " +
         boxed->text + ")\n";
  return std::nullopt;
}

std::optional<LLVMBackend::Operand> LLVMBackend::emit_method_call(const IrMethodCall& call,
                                                                  std::string& out) {
  std::optional<Operand> object = emit_operand(*call.object, K::Obj, out);
  if (!object)
    return std::nullopt;
  std::string method = emit_string_literal_helper(call.method, out);
  std::string name;
  if (call.args.empty()) {
    name = fresh_register();
    out += "  " + name + " = call ptr @ovra_rt_object_get_property(ptr " + object->text + ", ptr " +
           method + ")\n";
  } else {
    std::optional<std::string> args = emit_argument_array(call.args, out);
    if (!args)
      return std::nullopt;
    name = fresh_register();
    out += "  " + name + " = call ptr @ovra_rt_object_call_method(ptr " + object->text + ", ptr " +
           method + ", ptr " + *args + ")\n";
  }
  return Operand{name, K::Unknown};
}

std::optional<LLVMBackend::Operand> LLVMBackend::emit_value_to_rt_value(const IrValue& value,
                                                                        std::string& out) {
  if (is_adaptive(value)) {
    IrType natural = adaptive_type(value).value_or(K::Int32);
    std::optional<Operand> operand = emit_operand(value, natural, out);
    if (!operand)
      return std::nullopt;
    return to_rt_value(std::move(*operand), out);
  }
  std::optional<Operand> operand = emit_value(value, out);
  if (!operand)
    return std::nullopt;
  return to_rt_value(std::move(*operand), out);
}

std::optional<LLVMBackend::Operand> LLVMBackend::emit_value_to_string(const IrValue& value,
                                                                      std::string& out) {
  if (is_adaptive(value)) {
    IrType natural = adaptive_type(value).value_or(K::Int32);
    std::optional<Operand> operand = emit_operand(value, natural, out);
    if (!operand)
      return std::nullopt;
    return to_rt_string(std::move(*operand), out);
  }
  std::optional<Operand> operand = emit_value(value, out);
  if (!operand)
    return std::nullopt;
  return to_rt_string(std::move(*operand), out);
}

std::optional<LLVMBackend::Operand> LLVMBackend::emit_binary(const IrBinary& binary,
                                                             const std::string& dest,
                                                             const IrType* dest_type,
                                                             std::string& out) {
  // Operands that are not literals are emitted first, left to right; their types decide the
  // operation's type, which literals then take.
  std::optional<Operand> left;
  std::optional<Operand> right;
  bool left_adaptive = is_adaptive(*binary.left);
  bool right_adaptive = is_adaptive(*binary.right);
  if (!left_adaptive) {
    left = emit_value(*binary.left, out);
    if (!left)
      return std::nullopt;
  }
  if (!right_adaptive) {
    right = emit_value(*binary.right, out);
    if (!right)
      return std::nullopt;
  }
  std::optional<IrType> left_type =
      left ? std::optional<IrType>(left->type) : adaptive_type(*binary.left);
  std::optional<IrType> right_type =
      right ? std::optional<IrType>(right->type) : adaptive_type(*binary.right);
  auto is_string = [](const std::optional<IrType>& t) { return t && t->is(K::String); };
  auto result_name = [&](const IrType& result) {
    bool named = !dest.empty() && (!dest_type || same_llvm_type(result, *dest_type));
    return named ? dest : fresh_register();
  };
  auto side = [&](std::optional<Operand>& emitted, const IrValue& source,
                  const IrType& type) -> std::optional<Operand> {
    if (emitted)
      return convert(std::move(*emitted), type, "", out);
    return emit_operand(source, type, out);
  };
  auto string_side = [&](std::optional<Operand>& emitted,
                         const IrValue& source) -> std::optional<Operand> {
    if (emitted)
      return to_rt_string(std::move(*emitted), out);
    return emit_value_to_string(source, out);
  };

  if ((binary.op == IrBinaryOp::Add || is_comparison(binary.op)) &&
      (is_string(left_type) || is_string(right_type))) {
    std::optional<Operand> l = string_side(left, *binary.left);
    std::optional<Operand> r = string_side(right, *binary.right);
    if (!l || !r)
      return std::nullopt;
    if (binary.op == IrBinaryOp::Add) {
      std::string name = result_name(K::String);
      out += "  " + name + " = call ptr @ovra_rt_string_concat(ptr " + l->text + ", ptr " +
             r->text + ")\n";
      return Operand{name, K::String};
    }
    // Strings compare by contents through the runtime's three-way comparison.
    std::string order = fresh_register();
    out += "  " + order + " = call i32 @ovra_rt_string_compare(ptr " + l->text + ", ptr " +
           r->text + ")\n";
    std::string name = result_name(K::Bool);
    out += "  " + name + " = icmp " + integer_predicate(binary.op) + " i32 " + order + ", 0\n";
    return Operand{name, K::Bool};
  }

  IrType type = K::Int32;
  if (binary.op == IrBinaryOp::And || binary.op == IrBinaryOp::Or) {
    bool integers =
        (left_type && left_type->is(K::Int32)) || (right_type && right_type->is(K::Int32));
    type = integers ? K::Int32 : K::Bool;
  } else if (is_comparison(binary.op) && left_type && right_type && left_type->is(K::Bool) &&
             right_type->is(K::Bool)) {
    type = K::Bool;
  } else if (is_comparison(binary.op) && left_type && right_type && left_type->is_pointer() &&
             right_type->is_pointer()) {
    type = K::Unknown;
  } else if (std::optional<IrType> wider = wider_numeric(left_type, right_type)) {
    type = *wider;
  }
  std::optional<Operand> l = side(left, *binary.left, type);
  std::optional<Operand> r = side(right, *binary.right, type);
  if (!l || !r)
    return std::nullopt;
  const char* llvm = llvm_type(type);
  std::string name = result_name(is_comparison(binary.op) ? IrType(K::Bool) : type);
  if (is_comparison(binary.op)) {
    if (type.is_float()) {
      out += "  " + name + " = fcmp " + float_predicate(binary.op) + " " + llvm + " " + l->text +
             ", " + r->text + "\n";
    } else {
      out += "  " + name + " = icmp " + integer_predicate(binary.op) + " " + llvm + " " + l->text +
             ", " + r->text + "\n";
    }
    return Operand{name, K::Bool};
  }
  const char* instruction = "add";
  bool floating = type.is_float();
  switch (binary.op) {
    case IrBinaryOp::Add:
      instruction = floating ? "fadd" : "add";
      break;
    case IrBinaryOp::Subtract:
      instruction = floating ? "fsub" : "sub";
      break;
    case IrBinaryOp::Multiply:
      instruction = floating ? "fmul" : "mul";
      break;
    case IrBinaryOp::Divide:
      instruction = floating ? "fdiv" : "sdiv";
      break;
    case IrBinaryOp::Modulo:
      instruction = floating ? "frem" : "srem";
      break;
    case IrBinaryOp::And:
      instruction = "and";
      break;
    case IrBinaryOp::Or:
      instruction = "or";
      break;
    default:
      break;
  }
  out += "  " + name + " = " + instruction + " " + llvm + " " + l->text + ", " + r->text + "\n";
  return Operand{name, type};
}

std::optional<LLVMBackend::Operand> LLVMBackend::emit_call(const IrCall& call,
                                                           const std::string& dest,
                                                           const IrType* dest_type,
                                                           std::string& out) {
  // `dest` is "-" for a call whose result nobody reads.
  bool discard = dest == "-";
  auto result_name = [&](const IrType& result) {
    bool named = !dest.empty() && (!dest_type || same_llvm_type(result, *dest_type));
    return named ? dest : fresh_register();
  };
  if (call.callee == "__ovra_io_print") {
    if (call.args.size() != 1) {
      out += "  ; __ovra_io_print expects 1 argument for now, got " +
             std::to_string(call.args.size()) + "\n";
      return std::nullopt;
    }
    if (!discard) {
      out += "  ; __ovra_io_print used in non-void context, call skipped\n";
      return std::nullopt;
    }
    std::optional<Operand> boxed = emit_value_to_rt_value(call.args[0], out);
    if (!boxed) {
      out +=
          "  ; __ovra_io_print argument could not be lowered: " + first_line(render(call.args[0])) +
          "\n";
      return std::nullopt;
    }
    out += "  call void @ovra_rt_io_print(ptr " + boxed->text + ")\n";
    return std::nullopt;
  }
  static const std::pair<const char*, const char*> kReads[] = {
      {"__ovra_io_readLine", "ptr @ovra_rt_io_read_line"},
      {"__ovra_io_readInt", "i32 @ovra_rt_io_read_int"},
      {"__ovra_io_readSinglef", "float @ovra_rt_io_read_singlef"},
      {"__ovra_io_readMultif", "double @ovra_rt_io_read_multif"},
  };
  for (const auto& [callee, function] : kReads) {
    if (call.callee != callee)
      continue;
    IrType type = *builtin_return_type(call.callee);
    if (discard) {
      out += std::string("  call ") + function + "()\n";
      return std::nullopt;
    }
    std::string name = result_name(type);
    out += "  " + name + " = call " + function + "()\n";
    return Operand{name, type};
  }
  auto signature = function_signatures_.find(call.callee);
  if (signature == function_signatures_.end()) {
    out += "  ; call " + first_line(call.callee) + " skipped (unknown function)\n";
    return std::nullopt;
  }
  const FunctionSignature& callee = signature->second;
  if (callee.params.size() != call.args.size()) {
    out += "  ; call " + call.callee +
           " skipped (arg mismatch: " + std::to_string(call.args.size()) + " vs " +
           std::to_string(callee.params.size()) + ")\n";
    return std::nullopt;
  }
  std::string args;
  for (std::size_t i = 0; i < call.args.size(); ++i) {
    std::optional<Operand> arg = emit_operand(call.args[i], callee.params[i], out);
    if (!arg) {
      out += "  ; call " + call.callee + " skipped (arg emit failed " +
             first_line(render(call.args[i])) + ")\n";
      return std::nullopt;
    }
    if (i > 0)
      args += ", ";
    args += std::string(llvm_type(callee.params[i])) + " " + arg->text;
  }
  std::string text = std::string("call ") + llvm_type(callee.return_type) + " @" +
                     llvm_identifier(call.callee) + "(" + args + ")";
  if (current_location_)
    text += ", !dbg !" + std::to_string(*current_location_);
  if (discard || callee.return_type.is(K::Void)) {
    out += "  " + text + "\n";
    return std::nullopt;
  }
  std::string name = result_name(callee.return_type);
  out += "  " + name + " = " + text + "\n";
  return Operand{name, callee.return_type};
}

// ---- Instructions ----

void LLVMBackend::copy_into(const std::string& dest, const IrType& type, const std::string& v,
                            std::string& out) {
  switch (type.kind()) {
    case K::Int32:
      out += "  " + dest + " = add i32 0, " + v + "\n";
      break;
    case K::Bool:
      out += "  " + dest + " = xor i1 0, " + v + "\n";
      break;
    case K::SingleF:
      out += "  " + dest + " = fadd float 0.0, " + v + "\n";
      break;
    case K::MultiF:
      out += "  " + dest + " = fadd double 0.0, " + v + "\n";
      break;
    default:
      out += "  " + dest + " = bitcast ptr " + v + " to ptr\n";
      break;
  }
}

void LLVMBackend::emit_assign(const SsaAssign& assign, std::string& out) {
  const IrType& type = assign.ty;
  std::string dest = register_name(assign.dest);
  if (type.is(K::Void)) {
    if (const auto* call = assign.value.as<IrCall>()) {
      emit_call(*call, "-", nullptr, out);
    } else {
      emit_value(assign.value, out);
    }
    return;
  }
  // Whatever happens, the name is defined afterwards, so later uses stay valid.
  auto define_zero = [&]() {
    if (type.is_pointer()) {
      out += "  " + dest + " = bitcast ptr null to ptr\n";
    } else if (type.is_float()) {
      out += "  " + dest + " = fadd " + llvm_type(type) + " 0.0, 0.0\n";
    } else {
      out += "  " + dest + " = add " + llvm_type(type) + " 0, 0\n";
    }
  };
  std::optional<Operand> operand;
  if (const auto* binary = assign.value.as<IrBinary>()) {
    operand = emit_binary(*binary, dest, &type, out);
  } else if (const auto* call = assign.value.as<IrCall>()) {
    operand = emit_call(*call, dest, &type, out);
    if (!operand) {
      define_zero();
      return;
    }
  } else if (const auto* assignment = assign.value.as<IrArrayAssignment>()) {
    emit_array_set(*assignment, out);
    define_zero();
    return;
  }
  if (operand) {
    // The result already carries the name when its type matched; otherwise convert into it.
    // Some conversions (boxing, for one) name their own result, and a value of another type with
    // the same LLVM type needs none: then the name is defined by a copy.
    if (operand->text != dest) {
      Operand converted = convert(std::move(*operand), type, dest, out);
      if (converted.text != dest)
        copy_into(dest, type, converted.text, out);
    }
    return;
  }
  if (assign.value.is<IrBinary>()) {
    out += "  ; unsupported assign " + first_line(render(assign.value)) + "\n";
    define_zero();
    return;
  }
  operand = emit_operand(assign.value, type, out);
  if (!operand) {
    out += "  ; unsupported assign " + first_line(render(assign.value)) + "\n";
    define_zero();
    return;
  }
  copy_into(dest, type, operand->text, out);
}

void LLVMBackend::emit_instruction(const SsaInstruction& instruction, std::string& out) {
  std::visit(
      Overloaded{
          [&](const SsaPhi& phi) {
            out += "  %" + value_name(phi.dest) + " = phi " + llvm_type(phi.ty) + " ";
            for (std::size_t i = 0; i < phi.incoming.size(); ++i) {
              const auto& [from, value] = phi.incoming[i];
              if (i > 0)
                out += ", ";
              std::string operand = value.empty() || !value_types_.count(value)
                                        ? zero_value(phi.ty)
                                        : register_name(value);
              out += "[ " + operand + ", %" + value_name(from) + " ]";
            }
            out += "\n";
          },
          [&](const SsaAssign& assign) { emit_assign(assign, out); },
          [&](const SsaStore& store) {
            auto global = global_types_.find(store.name);
            if (global == global_types_.end()) {
              out += "  ; store " + first_line(store.name) + " " + first_line(render(store.value)) +
                     "\n";
              return;
            }
            std::optional<Operand> operand = emit_operand(store.value, global->second, out);
            if (!operand) {
              out += "  ; store " + first_line(store.name) + " " + first_line(render(store.value)) +
                     "\n";
              return;
            }
            out += std::string("  store ") + llvm_type(global->second) + " " + operand->text +
                   ", ptr @" + llvm_identifier(store.name) + "\n";
          },
          [&](const SsaExpression& expression) {
            if (const auto* call = expression.value.as<IrCall>()) {
              emit_call(*call, "-", nullptr, out);
            } else if (const auto* method = expression.value.as<IrMethodCall>()) {
              emit_method_call(*method, out);
            } else if (const auto* assignment = expression.value.as<IrArrayAssignment>()) {
              emit_array_set(*assignment, out);
            } else {
              out += "  ; expr " + first_line(render(expression.value)) + "\n";
            }
          },
          [&](const SsaIntrinsic& intrinsic) {
            std::size_t mark = out.size();
            bool done = std::visit(
                Overloaded{
                    [&](const IrPush& push) {
                      std::optional<Operand> array =
                          emit_operand(*push.target.array, K::Unknown, out);
                      if (!array)
                        return false;
                      std::optional<Operand> boxed = emit_value_to_rt_value(push.value, out);
                      if (!boxed)
                        return false;
                      out += "  call void @ovra_rt_array_push(ptr " + array->text + ", ptr " +
                             boxed->text + ")\n";
                      return true;
                    },
                    [&](const IrRmv& rmv) {
                      std::optional<Operand> array =
                          emit_operand(*rmv.target.array, K::Unknown, out);
                      std::optional<Operand> index = emit_operand(*rmv.target.index, K::Int32, out);
                      if (!array || !index)
                        return false;
                      std::string wide = fresh_register();
                      out += "  " + wide + " = sext i32 " + index->text + " to i64\n";
                      out += "  call void @ovra_rt_array_remove(ptr " + array->text + ", i64 " +
                             wide + ")\n";
                      return true;
                    },
                    [&](const IrOut& out_statement) {
                      std::optional<Operand> array =
                          emit_operand(*out_statement.target.array, K::Unknown, out);
                      if (!array)
                        return false;
                      std::string length = fresh_register();
                      out += "  " + length + " = call i64 @ovra_rt_array_length(ptr " +
                             array->text + ")\n";
                      out += "  ; out loop for " + first_line(out_statement.param_name) +
                             " (length: " + length + ")\n";
                      return true;
                    },
                },
                intrinsic.intrinsic);
            if (!done) {
              out.resize(mark);
              out += "  ; intrinsic " + first_line(render(intrinsic.intrinsic)) + "\n";
            }
          },
          [&](const SsaComment& comment) { out += "  ; " + first_line(comment.text) + "\n"; },
      },
      instruction.node);
}

void LLVMBackend::emit_terminator(const SsaTerminator& terminator, std::string& out) {
  std::visit(
      Overloaded{
          [&](const SsaJump& jump) { out += "  br label %" + value_name(jump.target) + "\n"; },
          [&](const SsaBranch& branch) {
            std::optional<Operand> condition = emit_operand(branch.condition, K::Bool, out);
            out += "  br i1 " + (condition ? condition->text : std::string("0")) + ", label %" +
                   value_name(branch.then_label) + ", label %" + value_name(branch.else_label) +
                   "\n";
          },
          [&](const SsaReturn& ret) {
            const IrType& type = current_return_type_;
            if (type.is(K::Void)) {
              if (ret.value) {
                if (const auto* call = ret.value->as<IrCall>())
                  emit_call(*call, "-", nullptr, out);
              }
              out += "  ret void\n";
              return;
            }
            std::string llvm = llvm_type(type);
            if (!ret.value) {
              out += "  ret " + llvm + " " + zero_value(type) + "\n";
              return;
            }
            std::optional<Operand> value = emit_operand(*ret.value, type, out);
            if (value) {
              out += "  ret " + llvm + " " + value->text + "\n";
            } else {
              out += "  ; TODO: complex return " + first_line(render(*ret.value)) + "\n";
              out += "  ret " + llvm + " " + zero_value(type) + "\n";
            }
          },
      },
      terminator);
}

Status LLVMBackend::emit_function(const SsaFunction& function, std::string& out) {
  value_types_ = {};
  current_return_type_ = function.return_type;
  std::string params;
  for (std::size_t i = 0; i < function.params.size(); ++i) {
    const IrParam& param = function.params[i];
    std::string name = param.name.empty() ? "tmp" + std::to_string(i) : param.name;
    value_types_[name] = param.ty;
    if (i > 0)
      params += ", ";
    params += std::string(llvm_type(param.ty)) + " %" + value_name(name);
  }
  for (const SsaBasicBlock& block : function.blocks) {
    for (const SsaInstruction& instruction : block.instructions) {
      if (const auto* assign = instruction.as<SsaAssign>()) {
        value_types_[assign->dest] = assign->ty;
      } else if (const auto* phi = instruction.as<SsaPhi>()) {
        value_types_[phi->dest] = phi->ty;
      }
    }
  }

  const IrType& returns = function.return_type;
  std::string subroutine_types;
  if (!returns.is(K::Void)) {
    std::size_t basic = ++metadata_counter_;
    const char* name = "ptr";
    int size = 64;
    const char* encoding = "DW_ATE_address";
    switch (returns.kind()) {
      case K::Int32:
        name = "int", size = 32, encoding = "DW_ATE_signed";
        break;
      case K::Bool:
        name = "bool", size = 1, encoding = "DW_ATE_boolean";
        break;
      case K::SingleF:
        name = "float", size = 32, encoding = "DW_ATE_float";
        break;
      case K::MultiF:
        name = "double", size = 64, encoding = "DW_ATE_float";
        break;
      default:
        break;
    }
    out += "!" + std::to_string(basic) + " = !DIBasicType(name: \"" + name +
           "\", size: " + std::to_string(size) + ", encoding: " + encoding + ")\n";
    subroutine_types = "!" + std::to_string(basic);
  }
  std::size_t subroutine = ++metadata_counter_;
  out += "!" + std::to_string(subroutine) + " = !DISubroutineType(types: !{" + subroutine_types +
         "})\n";
  std::size_t line = function.span.line < 1 ? 1 : function.span.line;
  std::size_t program = ++metadata_counter_;
  out += "!" + std::to_string(program) + " = distinct !DISubprogram(name: \"" +
         escape_llvm_text(function.name) +
         "\", scope: !1, file: !1, line: " + std::to_string(line) + ", type: !" +
         std::to_string(subroutine) + ", spFlags: DISPFlagDefinition, unit: !2)\n";
  std::size_t location = ++metadata_counter_;
  out += "!" + std::to_string(location) + " = !DILocation(line: " + std::to_string(line) +
         ", column: " + std::to_string(function.span.column) + ", scope: !" +
         std::to_string(program) + ")\n";
  current_location_ = location;

  out += std::string("define ") + llvm_type(returns) + " @" + llvm_identifier(function.name) + "(" +
         params + ") !dbg !" + std::to_string(program) + " {\n";
  for (const SsaBasicBlock& block : function.blocks) {
    out += value_name(block.label) + ":\n";
    for (const SsaInstruction& instruction : block.instructions) {
      emit_instruction(instruction, out);
    }
    if (block.terminator) {
      emit_terminator(*block.terminator, out);
    } else {
      emit_terminator(SsaReturn{}, out);
    }
  }
  out += "}\n";
  current_location_.reset();
  return Unit{};
}

// ---- Module ----

Result<std::string> LLVMBackend::emit_module(const SsaModule& module) {
  function_signatures_.clear();
  string_literals_.clear();
  string_order_.clear();
  global_types_.clear();
  globals_.clear();
  string_counter_ = 0;
  metadata_counter_ = 0;
  target_ = module.target;

  for (const IrGlobal& global : module.globals)
    global_types_[global.name] = global.ty;
  for (const SsaFunction& function : module.functions) {
    FunctionSignature signature;
    for (const IrParam& param : function.params)
      signature.params.push_back(param.ty);
    signature.return_type = function.return_type;
    function_signatures_[function.name] = std::move(signature);
  }

  std::string out;
  out += "; Ovra LLVM IR (target = " + render(target_) + ")\n";
  out += "target triple = \"x86_64-unknown-linux-gnu\"\n";
  out += "!llvm.module.flags = !{!0}\n";
  out += "!0 = !{i32 2, !\"Debug Info Version\", i32 3}\n";
  std::string file_name = "ovra_source.ovra";
  std::string directory = ".";
  if (source_path_) {
    std::size_t slash = source_path_->find_last_of('/');
    if (slash == std::string::npos) {
      file_name = *source_path_;
    } else {
      file_name = source_path_->substr(slash + 1);
      directory = slash == 0 ? "/" : source_path_->substr(0, slash);
    }
  }
  std::size_t file = ++metadata_counter_;
  out += "!" + std::to_string(file) + " = !DIFile(filename: \"" + escape_llvm_text(file_name) +
         "\", directory: \"" + escape_llvm_text(directory) + "\")\n";
  std::size_t unit = ++metadata_counter_;
  out += "!" + std::to_string(unit) + " = distinct !DICompileUnit(language: DW_LANG_C, file: !" +
         std::to_string(file) +
         ", isOptimized: false, runtimeVersion: 0, emissionKind: FullDebug, "
         "splitDebugInlining: false, nameTableKind: None)\n";
  out += "!llvm.dbg.cu = !{!" + std::to_string(unit) + "}\n\n";
  out += "%ovra_rt_string = type opaque\n%ovra_rt_array = type opaque\n";
  out += "%ovra_rt_object = type opaque\n%ovra_rt_value = type opaque\n\n";
  for (const char* declaration : kRuntimeDeclarations) {
    out += declaration;
    out += '\n';
  }
  out += '\n';

  // Globals with a constant initializer are written in place; the others start at zero and are
  // stored by the program entry.
  for (const IrGlobal& global : module.globals) {
    std::string initializer = zero_value(global.ty);
    if (global.value) {
      const auto* literal = global.value->as<IrLiteralValue>();
      const auto* boolean = literal ? std::get_if<IrBool>(&literal->literal) : nullptr;
      const auto* number = literal ? std::get_if<IrNumber>(&literal->literal) : nullptr;
      if (boolean && (global.ty.is(K::Bool) || global.ty.is(K::Int32))) {
        initializer = boolean->value ? "1" : "0";
      } else if (number && global.ty.is(K::Int32)) {
        initializer = llvm_number_constant(number->text, global.ty);
      } else {
        globals_.push_back(global);
      }
    }
    out += '@';
    out += llvm_identifier(global.name) + " = global " + llvm_type(global.ty) + " " + initializer +
           "\n";
  }
  if (!module.globals.empty())
    out += '\n';

  // A name defined twice keeps its last definition, as a later declaration replaces an earlier
  // one in the checker's function table.
  std::unordered_map<std::string, std::size_t> last_definition;
  for (std::size_t i = 0; i < module.functions.size(); ++i) {
    last_definition[module.functions[i].name] = i;
  }
  bool has_main = false;
  std::vector<const SsaFunction*> top_level;
  for (std::size_t i = 0; i < module.functions.size(); ++i) {
    const SsaFunction& function = module.functions[i];
    if (last_definition[function.name] != i)
      continue;
    if (function.name == "main")
      has_main = true;
    if (function.name.rfind("__top_level", 0) == 0)
      top_level.push_back(&function);
    Status status = emit_function(function, out);
    if (!status)
      return std::move(status.error());
    out += '\n';
  }

  if (!has_main) {
    value_types_ = {};
    current_return_type_ = K::Int32;
    out += "define i32 @main(i32 %argc, i8** %argv) {\n";
    out += "  call void @ovra_rt_init()\n";
    // Run-time initializers and top-level statements run in source order, so an initializer
    // sees what the statements before it did.
    std::size_t next_global = 0;
    auto store_global = [&](const IrGlobal& global) {
      std::optional<Operand> operand = emit_operand(*global.value, global.ty, out);
      if (!operand)
        return;
      out += std::string("  store ") + llvm_type(global.ty) + " " + operand->text + ", ptr @" +
             llvm_identifier(global.name) + "\n";
    };
    for (const SsaFunction* function : top_level) {
      while (next_global < globals_.size() &&
             globals_[next_global].span.position < function->span.position) {
        store_global(globals_[next_global++]);
      }
      out += "  call void @" + llvm_identifier(function->name) + "()\n";
    }
    while (next_global < globals_.size())
      store_global(globals_[next_global++]);
    out += "  ret i32 0\n}\n\n";
  }

  if (!string_order_.empty()) {
    out += "; Ovra string literals\n";
    for (const std::string& text : string_order_) {
      const auto& [name, length] = string_literals_.at(text);
      out += "@" + name + " = private constant [" + std::to_string(length) + " x i8] c\"" +
             escape_string_constant(text) + "\\00\"\n";
    }
    out += '\n';
  }
  return out;
}

}  // namespace ovra
