#include "ast.h"

namespace ovra {

const Span& Expression::span() const {
  return std::visit([](const auto& record) -> const Span& { return record.span; }, node);
}

const Span& Statement::span() const {
  return std::visit([](const auto& record) -> const Span& { return record.span; }, node);
}

// Debug texts are written by the front-end's owner; see debug_text below.

}  // namespace ovra
