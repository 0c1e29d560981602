// SSA construction over IR functions.
#pragma once

#include "ir/mod.h"

namespace ovra {

struct SsaModule {
  static SsaModule from_ir(const IrModule& module);
};

}  // namespace ovra
