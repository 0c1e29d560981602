#include "ir/ssa.h"

namespace ovra {

SsaModule SsaModule::from_ir(const IrModule&) { return {}; }

}  // namespace ovra
