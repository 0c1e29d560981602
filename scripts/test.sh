#!/usr/bin/env bash
# Runs the whole test suite: installs what is missing, builds, then every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build
ctest --test-dir build --output-on-failure -j2 "$@"
# A short fuzzing run over every target (eight fuzz programs, 8 s each); any finding fails the run.
scripts/fuzz.sh 8
