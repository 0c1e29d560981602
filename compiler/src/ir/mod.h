// The typed intermediate representation.
#pragma once

namespace ovra {

struct IrModule {};

}  // namespace ovra
