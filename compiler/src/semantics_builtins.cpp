// Typing of method calls: the `ovra` namespace and its `io` and `db` members, database query
// chains, and the language's own conversion, counting and string/array methods.
#include <string>

#include "semantics.h"

namespace ovra {

namespace {

using Kind = OvraType::Kind;

std::string count_text(std::size_t count) {
  return std::to_string(count);
}

}  // namespace

std::optional<std::vector<std::string>> SemanticAnalyzer::extract_ovra_property_chain(
    const Expression& expression) {
  // Walk down to the root first so the names come out in source order.
  std::vector<const std::string*> properties;
  const Expression* current = &expression;
  while (const auto* access = current->as<PropertyAccess>()) {
    properties.push_back(&access->property);
    current = access->object.operator->();
  }
  const auto* root = current->as<Identifier>();
  if (!root || root->name != "ovra")
    return std::nullopt;
  std::vector<std::string> chain;
  chain.reserve(properties.size());
  for (auto name = properties.rbegin(); name != properties.rend(); ++name) {
    chain.push_back(**name);
  }
  return chain;
}

InferredType SemanticAnalyzer::infer_method_call(const MethodCall& call) {
  bool is_chain_step = false;
  return infer_method_call_with_shape(call, is_chain_step);
}

[[gnu::noinline]] InferredType SemanticAnalyzer::infer_method_call_with_shape(
    const MethodCall& call, bool& is_chain_step) {
  is_chain_step = false;
  if (const auto* receiver_call = call.object->as<MethodCall>()) {
    // A receiver that is a call has no namespace chain: the call is either a query-chain step
    // or a method on the receiver's value.
    std::optional<std::vector<std::string>> receiver_chain =
        extract_ovra_property_chain(*receiver_call->object);
    InferredType receiver;
    InferredType step;
    if (receiver_chain && receiver_chain->size() == 1 && receiver_chain->front() == "db" &&
        receiver_call->method_name == "table") {
      is_chain_step = true;
      step = infer_db_chain_method(call.method_name, call.arguments, call.span);
      // The table call is checked as well, so that its own arguments are not skipped.
      receiver = infer_expression(*call.object);
    } else {
      bool receiver_is_step = false;
      receiver = infer_method_call_with_shape(*receiver_call, receiver_is_step);
      if (receiver_is_step && receiver && receiver->is(Kind::Obj)) {
        is_chain_step = true;
        step = infer_db_chain_method(call.method_name, call.arguments, call.span);
      }
    }
    if (step)
      return step;
    if (!receiver)
      return std::nullopt;
    return infer_language_method(call, *receiver);
  }

  std::optional<std::vector<std::string>> chain = extract_ovra_property_chain(*call.object);
  if (!chain) {
    InferredType receiver = infer_expression(*call.object);
    if (!receiver)
      return std::nullopt;
    return infer_language_method(call, *receiver);
  }
  if (chain->empty())
    return infer_ovra_method_call(call);
  if (chain->size() == 1 && chain->front() == "io") {
    return infer_ovra_io_method_call(call.method_name, call.arguments, call.span);
  }
  if (chain->size() == 1 && chain->front() == "db")
    return infer_ovra_db_method_call(call);
  std::string path;
  for (const std::string& name : *chain) {
    if (!path.empty())
      path += '.';
    path += name;
  }
  error_at("Unsupported ovra.* path '" + path + "'", call.span);
  return std::nullopt;
}

// ---- ovra ----

InferredType SemanticAnalyzer::infer_single_string_call(const MethodCall& call, OvraType result) {
  const std::string& method = call.method_name;
  if (call.arguments.size() != 1) {
    error_at(method + "() requires 1 argument, got " + count_text(call.arguments.size()),
             call.span);
    return std::nullopt;
  }
  InferredType argument = infer_expression(call.arguments[0]);
  if (argument && !argument->is_string()) {
    error_at(method + "() parameter must be string, got " + argument->to_string(),
             call.arguments[0].span());
  }
  return result;
}

InferredType SemanticAnalyzer::infer_ovra_method_call(const MethodCall& call) {
  const std::string& method = call.method_name;
  const std::vector<Expression>& arguments = call.arguments;
  const std::size_t count = arguments.size();

  if (method == "cwd")
    return OvraType(Kind::String);
  if (method == "env" || method == "execOut" || method == "readText") {
    return infer_single_string_call(call, OvraType(Kind::String));
  }
  if (method == "exec")
    return infer_single_string_call(call, OvraType(Kind::Int));
  if (method == "exists")
    return infer_single_string_call(call, OvraType(Kind::Bool));
  if (method == "mkdirs")
    return infer_single_string_call(call, OvraType(Kind::Void));
  if (method == "jsonParse")
    return infer_single_string_call(call, OvraType(Kind::Obj));

  if (method == "jsonStringify" || method == "execChain" || method == "listen") {
    if (count != 1) {
      error_at(method + "() requires 1 argument, got " + count_text(count), call.span);
      return std::nullopt;
    }
    if (method != "execChain")
      infer_expression(arguments[0]);
    return OvraType(method == "listen" ? Kind::Void : Kind::String);
  }

  if (method == "writeText") {
    if (count != 2) {
      error_at("writeText() requires 2 arguments, got " + count_text(count), call.span);
      return std::nullopt;
    }
    for (std::size_t i = 0; i < 2; ++i) {
      InferredType argument = infer_expression(arguments[i]);
      if (argument && !argument->is_string()) {
        error_at("writeText() parameter " + std::to_string(i + 1) + " must be string, got " +
                     argument->to_string(),
                 arguments[i].span());
      }
    }
    return OvraType(Kind::Void);
  }

  if (method == "execPipe" || method == "execBackground") {
    if (count != 2) {
      error_at(method + "() requires 2 arguments, got " + count_text(count), call.span);
      return std::nullopt;
    }
    static constexpr const char* kOrdinals[] = {"first", "second"};
    for (std::size_t i = 0; i < 2; ++i) {
      InferredType argument = infer_expression(arguments[i]);
      if (argument && !argument->is_string()) {
        error_at(method + "() " + kOrdinals[i] + " parameter must be string, got " +
                     argument->to_string(),
                 arguments[i].span());
      }
    }
    return OvraType(method == "execPipe" ? Kind::String : Kind::Int);
  }

  if (method == "pathJoin") {
    for (const Expression& argument : arguments) {
      InferredType type = infer_expression(argument);
      if (type && !type->is_string()) {
        error_at("pathJoin() parameters must be string, got " + type->to_string(), argument.span());
      }
    }
    return OvraType(Kind::String);
  }

  if (method == "listTasks") {
    if (count != 0) {
      error_at("listTasks() requires 0 arguments, got " + count_text(count), call.span);
      return std::nullopt;
    }
    return OvraType::array_of(OvraType(Kind::Obj));
  }

  if (method == "get" || method == "put" || method == "post" || method == "head" ||
      method == "delete" || method == "options") {
    if (count != 2) {
      error_at(method + "() requires 2 arguments (path, handler), got " + count_text(count),
               call.span);
      return std::nullopt;
    }
    infer_all(arguments);
    return OvraType(Kind::Void);
  }

  if (method == "respText" || method == "respJson" || method == "respHtml") {
    if (count < 2) {
      error_at(method + "() requires at least 2 arguments, got " + count_text(count), call.span);
      return std::nullopt;
    }
    infer_all(arguments);
    return OvraType(Kind::Void);
  }

  infer_all(arguments);
  if (method == "log" || method == "warn" || method == "error")
    return OvraType(Kind::Void);
  return OvraType(Kind::Unknown);
}

// ---- ovra.io ----

InferredType SemanticAnalyzer::check_io_numeric(OvraType result, std::string_view method,
                                                const std::vector<Expression>& arguments,
                                                const Span& span) {
  if (!arguments.empty()) {
    error_at("ovra.io." + std::string(method) + "() takes no arguments, got " +
                 count_text(arguments.size()),
             span);
    return std::nullopt;
  }
  return result;
}

InferredType SemanticAnalyzer::infer_ovra_io_method_call(std::string_view method,
                                                         const std::vector<Expression>& arguments,
                                                         const Span& span) {
  if (method == "print") {
    infer_all(arguments);
    return OvraType(Kind::Void);
  }
  if (method == "readLine") {
    if (!arguments.empty()) {
      error_at("ovra.io.readLine() takes no arguments, got " + count_text(arguments.size()), span);
      return std::nullopt;
    }
    return OvraType(Kind::String);
  }
  if (method == "readInt")
    return check_io_numeric(OvraType(Kind::Int), method, arguments, span);
  if (method == "readSinglef") {
    return check_io_numeric(OvraType(Kind::SingleF), method, arguments, span);
  }
  if (method == "readMultif") {
    return check_io_numeric(OvraType(Kind::MultiF), method, arguments, span);
  }
  error_at("ovra.io." + std::string(method) + " is not supported", span);
  return std::nullopt;
}

// ---- ovra.db and query chains ----

InferredType SemanticAnalyzer::infer_ovra_db_method_call(const MethodCall& call) {
  const std::vector<Expression>& arguments = call.arguments;
  if (call.method_name == "table") {
    if (arguments.size() != 1) {
      error_at("ovra.db.table() requires 1 argument, got " + count_text(arguments.size()),
               call.span);
      return std::nullopt;
    }
    InferredType name = infer_expression(arguments[0]);
    if (name && !name->is_string()) {
      error_at("ovra.db.table() parameter must be string, got " + name->to_string(),
               arguments[0].span());
    }
    return OvraType(Kind::Obj);
  }
  if (call.method_name == "connect") {
    if (arguments.size() != 2) {
      error_at("ovra.db.connect() requires 2 arguments, got " + count_text(arguments.size()),
               call.span);
      return std::nullopt;
    }
    for (std::size_t i = 0; i < 2; ++i) {
      InferredType argument = infer_expression(arguments[i]);
      if (argument && !argument->is_string()) {
        error_at("ovra.db.connect() parameter " + std::to_string(i + 1) + " must be string, got " +
                     argument->to_string(),
                 arguments[i].span());
      }
    }
    return OvraType(Kind::Void);
  }
  return OvraType(Kind::Obj);
}

InferredType SemanticAnalyzer::infer_db_chain_method(std::string_view method,
                                                     const std::vector<Expression>& arguments,
                                                     const Span& span) {
  const std::size_t count = arguments.size();
  const std::string prefix = "ovra.db.table()." + std::string(method) + "() ";
  auto require_count = [&](bool ok, std::string_view expectation) {
    if (!ok)
      error_at(prefix + "requires " + std::string(expectation) + ", got " + count_text(count),
               span);
    return ok;
  };

  if (method == "where") {
    if (!require_count(count == 2 || count == 3, "2 or 3 arguments"))
      return std::nullopt;
    InferredType field = infer_expression(arguments[0]);
    if (field && !field->is_string()) {
      error_at(prefix + "field parameter must be string, got " + field->to_string(),
               arguments[0].span());
    }
    return OvraType(Kind::Obj);
  }
  if (method == "limit") {
    if (!require_count(count == 1, "1 argument"))
      return std::nullopt;
    InferredType limit = infer_expression(arguments[0]);
    if (limit && !limit->is_numeric()) {
      error_at(prefix + "parameter must be numeric, got " + limit->to_string(),
               arguments[0].span());
    }
    return OvraType(Kind::Obj);
  }
  if (method == "orderBy") {
    if (!require_count(count == 2, "2 arguments"))
      return std::nullopt;
    return OvraType(Kind::Obj);
  }
  if (method == "join") {
    if (!require_count(count == 3, "3 arguments"))
      return std::nullopt;
    return OvraType(Kind::Obj);
  }
  if (method == "insert" || method == "update") {
    if (!require_count(count == 1, "1 argument"))
      return std::nullopt;
    InferredType record = infer_expression(arguments[0]);
    if (record && !record->is(Kind::Obj)) {
      error_at(prefix + "parameter must be an object, got " + record->to_string(),
               arguments[0].span());
    }
    return OvraType(method == "insert" ? Kind::Obj : Kind::Void);
  }
  if (method == "find")
    return OvraType::array_of(OvraType(Kind::Obj));
  if (method == "findOne")
    return OvraType(Kind::Obj);
  if (method == "delete")
    return OvraType(Kind::Void);
  return std::nullopt;
}

// ---- Language methods ----

[[gnu::noinline]] InferredType SemanticAnalyzer::infer_language_method(const MethodCall& call,
                                                                       const OvraType& receiver) {
  const std::string& method = call.method_name;
  const std::vector<Expression>& arguments = call.arguments;
  const std::string receiver_text = receiver.to_string();

  if (method == "toUp" || method == "toDn" || method == "getUp" || method == "getDn") {
    if (!receiver.is_numeric()) {
      error_at("Increment/decrement method '" + method +
                   "' can only be called on numeric types, got " + receiver_text,
               call.span);
      return std::nullopt;
    }
    if (!arguments.empty()) {
      InferredType step = infer_expression(arguments[0]);
      if (step && !step->is_numeric()) {
        error_at("Step argument for '" + method + "' must be numeric, got " + step->to_string(),
                 arguments[0].span());
      }
    }
    return receiver;
  }
  if (method == "toInt")
    return OvraType(Kind::Int);
  if (method == "round")
    return OvraType(Kind::SingleF);
  if (method == "toBool")
    return OvraType(Kind::Bool);
  if (method == "toString")
    return OvraType(Kind::String);
  if (method == "toMultif")
    return OvraType(Kind::MultiF);
  if (method == "toSinglef")
    return OvraType(Kind::SingleF);

  const bool is_string = receiver.is_string();
  const bool is_array = receiver.is(Kind::Arr);

  if (method == "length") {
    if (!is_string && !is_array) {
      error_at("Cannot call 'length()' on type " + receiver_text +
                   ", only arrays and strings support length()",
               call.span);
      return std::nullopt;
    }
    return OvraType(Kind::Int);
  }

  if (method == "cutIt") {
    if (!is_string && !is_array) {
      error_at("Cannot call 'cutIt()' on type " + receiver_text +
                   ", only arrays and strings support cutIt()",
               call.span);
      return std::nullopt;
    }
    if (arguments.empty()) {
      error_at("cutIt() requires at least 1 argument (start index)", call.span);
      return std::nullopt;
    }
    static constexpr const char* kParameterNames[] = {"start", "end"};
    for (std::size_t i = 0; i < arguments.size() && i < 2; ++i) {
      InferredType position = infer_expression(arguments[i]);
      if (position && !position->is_numeric()) {
        error_at(std::string("cutIt() ") + kParameterNames[i] + " parameter must be numeric, got " +
                     position->to_string(),
                 arguments[i].span());
      }
    }
    if (is_string)
      return OvraType(Kind::String);
    return receiver;
  }

  if (method == "splice") {
    if (!is_array) {
      error_at("Cannot call 'splice()' on type " + receiver_text + ", only arrays support splice()",
               call.span);
      return std::nullopt;
    }
    if (arguments.empty()) {
      error_at("splice() requires at least 1 argument (start index)", call.span);
      return std::nullopt;
    }
    InferredType start = infer_expression(arguments[0]);
    if (start && !start->is_numeric()) {
      error_at("splice() start parameter must be numeric, got " + start->to_string(),
               arguments[0].span());
    }
    for (std::size_t i = 1; i < arguments.size(); ++i)
      infer_expression(arguments[i]);
    return OvraType::array_of(OvraType(Kind::Unknown));
  }

  if (method == "endOf" || method == "initOf") {
    if (!is_string) {
      error_at("Cannot call '" + method + "()' on type " + receiver_text +
                   ", only strings support " + method + "()",
               call.span);
      return std::nullopt;
    }
    const char* what = method == "endOf" ? "suffix" : "prefix";
    if (arguments.size() != 1) {
      error_at(
          method + "() requires 1 argument (" + what + "), got " + count_text(arguments.size()),
          call.span);
      return std::nullopt;
    }
    InferredType affix = infer_expression(arguments[0]);
    if (affix && !affix->is_string()) {
      error_at(method + "() parameter must be string, got " + affix->to_string(),
               arguments[0].span());
    }
    return OvraType(Kind::Bool);
  }

  if (receiver.is(Kind::Class) || receiver.is(Kind::Obj)) {
    infer_all(arguments);
    return OvraType(Kind::Unknown);
  }
  error_at("Cannot call method '" + method + "' on type " + receiver_text, call.span);
  return std::nullopt;
}

}  // namespace ovra
