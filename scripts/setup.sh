#!/usr/bin/env bash
# Fresh machine to first program: install what is missing, build, compile an example and run it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build
build/bin/ovrac examples/hello.ovra build/hello.js
node build/hello.js
