#include "codegen.h"

namespace ovra {

CodeGenerator::CodeGenerator(CompileTarget target)
    : plain_javascript_(target != CompileTarget::TypeScript) {}

std::string CodeGenerator::generate(const Program&) { return ""; }

}  // namespace ovra
