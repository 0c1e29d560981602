// Method calls (increments, the language's own methods, the built-in namespace, query chains)
// and import declarations. The translation looks only at the receiver's shape and the method's
// name; the semantic stage has already checked the types.
#include <algorithm>
#include <array>

#include "codegen.h"

namespace ovra {

namespace {

constexpr std::string_view kTempPrefix = "__ovra_tmp_";

bool is_one_of(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool is_increment_method(std::string_view name) {
  return is_one_of(name, {"toUp", "toDn", "getUp", "getDn"});
}

// Methods whose translation is a fixed function around the receiver and drops the arguments.
bool is_conversion_method(std::string_view name) {
  return is_one_of(name, {"toInt", "round", "toBool", "toString", "toMultif", "toSinglef"});
}

bool is_assignable_receiver(const Expression& e) {
  return e.is<Identifier>() || e.is<ArrayAccess>() || e.is<PropertyAccess>();
}

bool is_ovra_single_argument_method(std::string_view name) {
  return is_one_of(name, {"env", "exec", "exists", "mkdirs", "listen", "execOut", "readText",
                          "jsonParse", "execChain", "jsonStringify"});
}

bool is_db_chain_step(std::string_view name) {
  return is_one_of(
      name, {"where", "limit", "insert", "update", "delete", "orderBy", "findOne", "join", "find"});
}

std::string remove_every(std::string_view text, std::string_view piece) {
  std::string result;
  result.reserve(text.size());
  std::size_t from = 0;
  for (std::size_t at = text.find(piece); at != std::string_view::npos;
       at = text.find(piece, from)) {
    result.append(text.substr(from, at - from));
    from = at + piece.size();
  }
  result.append(text.substr(from));
  return result;
}

}  // namespace

std::optional<std::vector<std::string_view>> extract_ovra_property_chain(const Expression& e) {
  std::vector<std::string_view> chain;
  const Expression* current = &e;
  while (const auto* property = current->as<PropertyAccess>()) {
    chain.push_back(property->property);
    current = &*property->object;
  }
  const auto* root = current->as<Identifier>();
  if (!root || root->name != "ovra")
    return std::nullopt;
  std::reverse(chain.begin(), chain.end());
  return chain;
}

bool is_db_chain_call(const Expression& e) {
  const auto* call = e.as<MethodCall>();
  while (call && is_db_chain_step(call->method_name)) {
    call = call->object->as<MethodCall>();
  }
  if (!call || call->method_name != "table")
    return false;
  auto chain = extract_ovra_property_chain(*call->object);
  return chain && chain->size() == 1 && chain->front() == "db";
}

bool method_call_text_begins_with_receiver(const MethodCall& call) {
  if (is_increment_method(call.method_name))
    return false;
  if (extract_ovra_property_chain(*call.object))
    return false;
  if (is_db_chain_call(*call.object))
    return true;
  return !is_conversion_method(call.method_name);
}

bool CodeGenerator::visit_increment_call(const MethodCall& call) {
  if (!is_increment_method(call.method_name))
    return false;
  const bool keeps_old_value = call.method_name.starts_with("to");
  const std::string_view sign = call.method_name.ends_with("Up") ? "+" : "-";
  auto write_step = [&] {
    if (call.arguments.empty()) {
      write("1");
    } else if (emitted_text_begins_with_minus(call.arguments.front())) {
      // `x-(-2)`, never the decrement `x--2`.
      write("(");
      visit_expression(call.arguments.front());
      write(")");
    } else {
      visit_expression(call.arguments.front());
    }
  };

  if (!is_assignable_receiver(*call.object)) {
    // Parenthesized so that `(a + b).toUp() * 2` keeps its meaning.
    write("(");
    visit_expression(*call.object);
    write(sign);
    write_step();
    write(")");
    return true;
  }

  std::string temp;
  if (keeps_old_value) {
    temp = std::string(kTempPrefix) + std::to_string(++temp_counter_);
    write("(()=>{const ");
    write(temp);
    write("=");
  } else {
    write("(");
  }
  // The receiver is written three times; it is emitted once and its text copied.
  const std::size_t receiver_start = output_.size();
  visit_expression(*call.object);
  const std::string receiver = output_.substr(receiver_start);
  if (keeps_old_value) {
    write("; ");
    write(receiver);
  }
  write("=");
  write(receiver);
  write(sign);
  write_step();
  if (keeps_old_value) {
    write("; return ");
    write(temp);
    write(";})()");
  } else {
    write(")");
  }
  return true;
}

void CodeGenerator::visit_method_call(const MethodCall& call) {
  const std::string_view method = call.method_name;
  auto write_call_on_receiver = [&](std::string_view name) {
    visit_expression(*call.object);
    write(".");
    write(name);
    write("(");
    visit_arguments(call.arguments);
    write(")");
  };
  auto write_around_receiver = [&](std::string_view before, std::string_view after) {
    write(before);
    visit_expression(*call.object);
    write(after);
  };

  std::optional<std::vector<std::string_view>> chain = extract_ovra_property_chain(*call.object);
  if (!chain) {
    if (is_db_chain_call(*call.object)) {
      write_call_on_receiver(method);
    } else if (method == "toInt") {
      write_around_receiver("parseInt(String(", "), 10)");
    } else if (method == "round") {
      write_around_receiver("Math.round(", ")");
    } else if (method == "cutIt") {
      write_call_on_receiver("slice");
    } else if (method == "endOf" || method == "initOf") {
      visit_expression(*call.object);
      write(method == "endOf" ? ".endsWith(" : ".startsWith(");
      visit_first_argument(call.arguments);
      write(")");
    } else if (method == "toBool") {
      write_around_receiver("Boolean(", ")");
    } else if (method == "length") {
      write_around_receiver("", ".length");
    } else if (method == "toString") {
      write_around_receiver("String(", ")");
    } else if (method == "toMultif" || method == "toSinglef") {
      write_around_receiver("parseFloat(String(", "))");
    } else {
      // `splice` and user methods keep their name and every argument.
      write_call_on_receiver(method);
    }
    return;
  }

  needs_runtime_ = true;
  auto write_namespace_call = [&](bool all_arguments) {
    write("ovra.");
    for (std::string_view name : *chain) {
      write(name);
      write(".");
    }
    write(method);
    write("(");
    if (all_arguments) {
      visit_arguments(call.arguments);
    } else {
      visit_first_argument(call.arguments);
    }
    write(")");
  };

  if (chain->empty()) {
    if (method == "cwd" || method == "listTasks") {
      write("ovra.");
      write(method);
      write("()");
    } else {
      write_namespace_call(!is_ovra_single_argument_method(method));
    }
  } else if (chain->size() == 1 && chain->front() == "io" &&
             is_one_of(method, {"readInt", "readLine", "readMultif", "readSinglef"})) {
    write("ovra.io.");
    write(method);
    write("()");
  } else {
    // ovra.db.*, ovra.io.* and deeper paths keep every argument.
    write_namespace_call(true);
  }
}

void CodeGenerator::visit_import_declaration(const ImportDeclaration& declaration) {
  const std::string_view source = declaration.source;
  auto write_line = [&](auto&&... pieces) {
    write_indent();
    (write(pieces), ...);
    write("\n");
  };
  auto write_module_import = [&](auto write_source) {
    auto write_names = [&] {
      for (std::size_t i = 0; i < declaration.named_imports.size(); ++i) {
        if (i > 0)
          write(", ");
        // A reserved export name is bound under another name: `import { default as default$ }`.
        const std::string& name = declaration.named_imports[i];
        write(name);
        if (is_reserved_in_javascript(name)) {
          write(" as ");
          write_name(name);
        }
      }
    };
    const bool has_named = !declaration.named_imports.empty();
    if (!declaration.default_import && !has_named)
      return;
    write_indent();
    write("import ");
    if (declaration.default_import) {
      write_name(*declaration.default_import);
      if (has_named) {
        write(", ");
      } else if (declaration.alias) {
        write(" as ");
        write_name(*declaration.alias);
      }
    }
    if (has_named) {
      write("{ ");
      write_names();
      write(" }");
    }
    write(" from ");
    write_source();
    write(";\n");
  };

  // A path written as a string is a JavaScript module, whatever its text looks like.
  if (declaration.source_is_string) {
    write_module_import([&] { append_js_string_literal(output_, source); });
  } else if (source.starts_with("ovra.")) {
    const std::string module = remove_every(source, "ovra.");
    if (declaration.alias || declaration.default_import) {
      needs_runtime_ = true;
      write_line(
          "const ",
          javascript_name(declaration.alias ? *declaration.alias : *declaration.default_import),
          " = ovra.", module, ";");
    } else {
      for (const std::string& name : declaration.named_imports) {
        needs_runtime_ = true;
        write_line("const ", javascript_name(name), " = ovra.", module, ".", name, ";");
      }
    }
  } else if (source.starts_with("lib.")) {
    const std::string module = remove_every(source, "lib.");
    for (const std::string& name : declaration.named_imports) {
      write_line("const ", javascript_name(name), " = ", module, ".", name, ";");
    }
  } else if (!source.empty() && (source.front() == '"' || source.front() == '\'')) {
    write_module_import([&] { write(source); });
  }
}

}  // namespace ovra
