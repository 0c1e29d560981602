// The JavaScript and TypeScript back end.
#pragma once

#include <string>

#include "ast.h"
#include "types.h"

namespace ovra {

class CodeGenerator {
 public:
  // `target` is JavaScript or TypeScript.
  explicit CodeGenerator(CompileTarget target);

  // The whole output file: the runtime prelude when the program uses `ovra`, then every
  // top-level statement followed by an empty line.
  std::string generate(const Program& program);

 private:
  bool plain_javascript_;
};

}  // namespace ovra
