#include "ir/mod.h"

namespace ovra {

// ---- IrType ----

IrType::IrType(const IrType& other)
    : kind_(other.kind_),
      element_(other.element_ ? std::make_unique<IrType>(*other.element_) : nullptr),
      class_name_(other.class_name_) {}

IrType& IrType::operator=(const IrType& other) {
  if (this != &other)
    *this = IrType(other);
  return *this;
}

IrType IrType::array_of(IrType element) {
  IrType type(Kind::Arr);
  type.element_ = std::make_unique<IrType>(std::move(element));
  return type;
}

IrType IrType::class_named(std::string name) {
  IrType type(Kind::Class);
  type.class_name_ = std::move(name);
  return type;
}

IrType IrType::from_ovra(const OvraType& type) {
  using K = OvraType::Kind;
  switch (type.kind()) {
    case K::Str:
    case K::String:
      return Kind::String;
    case K::Int:
      return Kind::Int32;
    case K::Bool:
      return Kind::Bool;
    case K::SingleF:
      return Kind::SingleF;
    case K::MultiF:
      return Kind::MultiF;
    case K::Arr:
      return array_of(from_ovra(type.element()));
    case K::Class:
      return class_named(type.class_name());
    case K::Obj:
      return Kind::Obj;
    case K::Unknown:
      return Kind::Unknown;
    case K::Void:
      return Kind::Void;
  }
  return Kind::Unknown;
}

bool IrType::operator==(const IrType& other) const {
  if (kind_ != other.kind_)
    return false;
  if (kind_ == Kind::Arr)
    return *element_ == *other.element_;
  return class_name_ == other.class_name_;
}

// ---- Value helpers ----

IrValue ir_number(std::string text) {
  return IrLiteralValue{IrNumber{std::move(text)}};
}
IrValue ir_string(std::string text) {
  return IrLiteralValue{IrString{std::move(text)}};
}
IrValue ir_bool(bool value) {
  return IrLiteralValue{IrBool{value}};
}
IrValue ir_identifier(std::string name) {
  return IrIdentifier{std::move(name)};
}
IrValue ir_binary(IrBinaryOp op, IrValue left, IrValue right) {
  return IrBinary{op, std::move(left), std::move(right)};
}
IrValue ir_call(std::string callee, std::vector<IrValue> args) {
  return IrCall{std::move(callee), std::move(args)};
}

// ---- Rendering ----

namespace {

constexpr const char* kBinaryOpNames[] = {
    "Add",  "Subtract", "Multiply",  "Divide",       "Modulo", "Equal", "NotEqual",
    "Less", "Greater",  "LessEqual", "GreaterEqual", "And",    "Or",
};

void render_quoted(std::string& out, const std::string& text) {
  out += quote_debug_string(text);
}

void render_span(std::string& out, const Span& span) {
  out += span.debug_text();
}

template <class T>
void render_list(std::string& out, const std::vector<T>& items) {
  out += '[';
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0)
      out += ", ";
    render_to(out, items[i]);
  }
  out += ']';
}

template <class T>
void render_optional(std::string& out, const std::optional<T>& item) {
  if (!item) {
    out += "None";
    return;
  }
  out += "Some(";
  render_to(out, *item);
  out += ')';
}

}  // namespace

void render_to(std::string& out, IrTarget target) {
  switch (target) {
    case IrTarget::Generic:
      out += "Generic";
      return;
    case IrTarget::Web:
      out += "Web";
      return;
    case IrTarget::Native:
      out += "Native";
      return;
  }
}

void render_to(std::string& out, const IrType& type) {
  using K = IrType::Kind;
  switch (type.kind()) {
    case K::Int32:
      out += "Int32";
      return;
    case K::Bool:
      out += "Bool";
      return;
    case K::SingleF:
      out += "SingleF";
      return;
    case K::MultiF:
      out += "MultiF";
      return;
    case K::String:
      out += "String";
      return;
    case K::Arr:
      out += "Arr(";
      render_to(out, type.element());
      out += ')';
      return;
    case K::Class:
      out += "Class(";
      render_quoted(out, type.class_name());
      out += ')';
      return;
    case K::Obj:
      out += "Obj";
      return;
    case K::Unknown:
      out += "Unknown";
      return;
    case K::Void:
      out += "Void";
      return;
  }
}

void render_to(std::string& out, const IrArrayAccessValue& access) {
  out += "IrArrayAccessValue { array: ";
  render_to(out, *access.array);
  out += ", index: ";
  render_to(out, *access.index);
  out += " }";
}

void render_to(std::string& out, const IrValue& value) {
  std::visit(Overloaded{
                 [&](const IrLiteralValue& literal) {
                   out += "Literal(";
                   std::visit(Overloaded{
                                  [&](const IrNumber& number) {
                                    out += "Number(";
                                    render_quoted(out, number.text);
                                    out += ')';
                                  },
                                  [&](const IrString& text) {
                                    out += "String(";
                                    render_quoted(out, text.text);
                                    out += ')';
                                  },
                                  [&](const IrBool& boolean) {
                                    out += boolean.value ? "Bool(true)" : "Bool(false)";
                                  },
                              },
                              literal.literal);
                   out += ')';
                 },
                 [&](const IrIdentifier& identifier) {
                   out += "Identifier(";
                   render_quoted(out, identifier.name);
                   out += ')';
                 },
                 [&](const IrUnary& unary) {
                   out += unary.op == IrUnaryOp::Negate ? "Unary { op: Negate, operand: "
                                                        : "Unary { op: Not, operand: ";
                   render_to(out, *unary.operand);
                   out += " }";
                 },
                 [&](const IrBinary& binary) {
                   out += "Binary { op: ";
                   out += kBinaryOpNames[static_cast<int>(binary.op)];
                   out += ", left: ";
                   render_to(out, *binary.left);
                   out += ", right: ";
                   render_to(out, *binary.right);
                   out += " }";
                 },
                 [&](const IrCall& call) {
                   out += "Call { callee: ";
                   render_quoted(out, call.callee);
                   out += ", args: ";
                   render_list(out, call.args);
                   out += " }";
                 },
                 [&](const IrMethodCall& call) {
                   out += "MethodCall { object: ";
                   render_to(out, *call.object);
                   out += ", method: ";
                   render_quoted(out, call.method);
                   out += ", args: ";
                   render_list(out, call.args);
                   out += " }";
                 },
                 [&](const IrArrayAccess& access) {
                   out += "ArrayAccess(";
                   render_to(out, access.access);
                   out += ')';
                 },
                 [&](const IrArrayLiteral& literal) {
                   out += "ArrayLiteral(";
                   render_list(out, literal.elements);
                   out += ')';
                 },
                 [&](const IrNewObject& object) {
                   out += "NewObject { class_name: ";
                   render_quoted(out, object.class_name);
                   out += ", args: ";
                   render_list(out, object.args);
                   out += " }";
                 },
                 [&](const IrArrayAssignment& assignment) {
                   out += "ArrayAssignment { target: ";
                   render_to(out, assignment.target);
                   out += ", value: ";
                   render_to(out, *assignment.value);
                   out += " }";
                 },
                 [&](const IrUnknownValue&) { out += "Unknown"; },
             },
             value.node);
}

void render_to(std::string& out, const IrIntrinsic& intrinsic) {
  std::visit(Overloaded{
                 [&](const IrPush& push) {
                   out += "Push { value: ";
                   render_to(out, push.value);
                   out += ", target: ";
                   render_to(out, push.target);
                   out += ", span: ";
                   render_span(out, push.span);
                   out += " }";
                 },
                 [&](const IrOut& out_statement) {
                   out += "Out { target: ";
                   render_to(out, out_statement.target);
                   out += ", param_name: ";
                   render_quoted(out, out_statement.param_name);
                   out += ", body: ";
                   render_list(out, out_statement.body);
                   out += ", span: ";
                   render_span(out, out_statement.span);
                   out += " }";
                 },
                 [&](const IrRmv& rmv) {
                   out += "Rmv { target: ";
                   render_to(out, rmv.target);
                   out += ", span: ";
                   render_span(out, rmv.span);
                   out += " }";
                 },
             },
             intrinsic);
}

void render_to(std::string& out, const IrForLoop& loop) {
  out += "IrForLoop { init: ";
  if (loop.init) {
    out += "Some(";
    render_to(out, **loop.init);
    out += ')';
  } else {
    out += "None";
  }
  out += ", condition: ";
  render_optional(out, loop.condition);
  out += ", update: ";
  render_optional(out, loop.update);
  out += ", body: ";
  render_list(out, loop.body);
  out += ", span: ";
  render_span(out, loop.span);
  out += " }";
}

void render_to(std::string& out, const IrInstruction& instruction) {
  auto finish = [&](const Span& span) {
    out += ", span: ";
    render_span(out, span);
    out += " }";
  };
  std::visit(Overloaded{
                 [&](const IrLet& let) {
                   out += "Let { name: ";
                   render_quoted(out, let.name);
                   out += ", ty: ";
                   render_to(out, let.ty);
                   out += ", value: ";
                   render_optional(out, let.value);
                   out += let.is_const ? ", is_const: true" : ", is_const: false";
                   finish(let.span);
                 },
                 [&](const IrStore& store) {
                   out += "Store { name: ";
                   render_quoted(out, store.name);
                   out += ", value: ";
                   render_to(out, store.value);
                   finish(store.span);
                 },
                 [&](const IrExpression& expression) {
                   out += "Expression { value: ";
                   render_to(out, expression.value);
                   finish(expression.span);
                 },
                 [&](const IrReturn& ret) {
                   out += "Return { value: ";
                   render_optional(out, ret.value);
                   finish(ret.span);
                 },
                 [&](const IrIf& if_instruction) {
                   out += "If { condition: ";
                   render_to(out, if_instruction.condition);
                   out += ", then_block: ";
                   render_list(out, if_instruction.then_block);
                   out += ", else_block: ";
                   if (if_instruction.else_block) {
                     out += "Some(";
                     render_list(out, *if_instruction.else_block);
                     out += ')';
                   } else {
                     out += "None";
                   }
                   finish(if_instruction.span);
                 },
                 [&](const IrWhile& while_instruction) {
                   out += "While { condition: ";
                   render_to(out, while_instruction.condition);
                   out += ", body: ";
                   render_list(out, while_instruction.body);
                   finish(while_instruction.span);
                 },
                 [&](const IrFor& for_instruction) {
                   out += "For(";
                   render_to(out, for_instruction.loop);
                   out += ')';
                 },
                 [&](const IrIntrinsicInstruction& intrinsic) {
                   out += "Intrinsic(";
                   render_to(out, intrinsic.intrinsic);
                   out += ')';
                 },
                 [&](const IrBreak& brk) {
                   out += "Break { span: ";
                   render_span(out, brk.span);
                   out += " }";
                 },
                 [&](const IrContinue& cont) {
                   out += "Continue { span: ";
                   render_span(out, cont.span);
                   out += " }";
                 },
                 [&](const IrTodo& todo) {
                   out += "Todo { note: ";
                   render_quoted(out, todo.note);
                   finish(todo.span);
                 },
             },
             instruction.node);
}

// ---- Typing ----

bool is_integer_text(const std::string& text) {
  std::size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
  if (text.size() == start)
    return false;
  for (std::size_t i = start; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9')
      return false;
  }
  return true;
}

std::optional<IrType> builtin_return_type(const std::string& callee) {
  if (callee == "__ovra_io_readInt")
    return IrType::Kind::Int32;
  if (callee == "__ovra_io_readLine")
    return IrType::Kind::String;
  if (callee == "__ovra_io_readSinglef")
    return IrType::Kind::SingleF;
  if (callee == "__ovra_io_readMultif")
    return IrType::Kind::MultiF;
  if (callee == "__ovra_io_print")
    return IrType::Kind::Void;
  return std::nullopt;
}

namespace {

std::optional<IrType> wider_numeric(const IrType& a, const IrType& b) {
  using K = IrType::Kind;
  auto rank = [](const IrType& t) {
    return t.is(K::Int32) ? 0 : t.is(K::SingleF) ? 1 : t.is(K::MultiF) ? 2 : -1;
  };
  // A bool counts as the int it widens to when it meets a number.
  int ra = a.is(K::Bool) ? 0 : rank(a);
  int rb = b.is(K::Bool) ? 0 : rank(b);
  if (ra < 0 || rb < 0)
    return std::nullopt;
  int r = ra > rb ? ra : rb;
  return r == 0 ? K::Int32 : r == 1 ? K::SingleF : K::MultiF;
}

}  // namespace

std::optional<IrType> infer_ir_type(const IrValue& value, const IrTypeEnvironment& environment) {
  using K = IrType::Kind;
  return std::visit(
      Overloaded{
          [&](const IrLiteralValue& literal) -> std::optional<IrType> {
            return std::visit(Overloaded{
                                  [](const IrNumber& number) -> IrType {
                                    return is_integer_text(number.text) ? K::Int32 : K::SingleF;
                                  },
                                  [](const IrString&) -> IrType { return K::String; },
                                  [](const IrBool&) -> IrType { return K::Bool; },
                              },
                              literal.literal);
          },
          [&](const IrIdentifier& identifier) -> std::optional<IrType> {
            return environment.variable_type(identifier.name);
          },
          [&](const IrUnary& unary) -> std::optional<IrType> {
            if (unary.op == IrUnaryOp::Not)
              return K::Bool;
            return infer_ir_type(*unary.operand, environment);
          },
          [&](const IrBinary& binary) -> std::optional<IrType> {
            switch (binary.op) {
              case IrBinaryOp::Equal:
              case IrBinaryOp::NotEqual:
              case IrBinaryOp::Less:
              case IrBinaryOp::Greater:
              case IrBinaryOp::LessEqual:
              case IrBinaryOp::GreaterEqual:
              case IrBinaryOp::And:
              case IrBinaryOp::Or:
                return K::Bool;
              default:
                break;
            }
            std::optional<IrType> left = infer_ir_type(*binary.left, environment);
            std::optional<IrType> right = infer_ir_type(*binary.right, environment);
            if (binary.op == IrBinaryOp::Add &&
                ((left && left->is(K::String)) || (right && right->is(K::String)))) {
              return K::String;
            }
            if (!left || !right)
              return std::nullopt;
            return wider_numeric(*left, *right);
          },
          [&](const IrCall& call) -> std::optional<IrType> {
            if (std::optional<IrType> builtin = builtin_return_type(call.callee))
              return builtin;
            return environment.function_return_type(call.callee);
          },
          [&](const IrMethodCall&) -> std::optional<IrType> { return std::nullopt; },
          [&](const IrArrayAccess&) -> std::optional<IrType> { return std::nullopt; },
          [&](const IrArrayLiteral&) -> std::optional<IrType> { return std::nullopt; },
          [&](const IrNewObject&) -> std::optional<IrType> { return std::nullopt; },
          [&](const IrArrayAssignment&) -> std::optional<IrType> { return std::nullopt; },
          [&](const IrUnknownValue&) -> std::optional<IrType> { return std::nullopt; },
      },
      value.node);
}

}  // namespace ovra
