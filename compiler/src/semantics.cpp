#include "semantics.h"

namespace ovra {

std::vector<CompilerError> SemanticAnalyzer::analyze(const Program&) { return {}; }

}  // namespace ovra
