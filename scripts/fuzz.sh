#!/usr/bin/env bash
# Fuzzes Compiler::compile for every target with libFuzzer (clang, ASan, UBSan, leak checks).
#   scripts/fuzz.sh [seconds-per-target]   (default 600)
# Each target starts from the seed corpus in fuzz/seeds plus every fixture and example program;
# what libFuzzer learns goes to build-fuzz/corpus-<target> (never committed). Inputs that fail
# are written to build-fuzz/ as crash-*/leak-*/timeout-* files.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-600}"
CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz
status=0
for target in javascript typescript wasm llvm; do
  corpus="build-fuzz/corpus-$target"
  mkdir -p "$corpus"
  seeds=(fuzz/seeds examples)
  [ -d tests/fixtures ] && seeds+=(tests/fixtures)
  [ -d tests/corpus ] && seeds+=(tests/corpus)
  echo "== fuzz_compile_$target for ${seconds}s"
  (cd build-fuzz && ./fuzz_compile_$target -max_total_time="$seconds" -timeout=1 -rss_limit_mb=4096 \
     -max_len=4096 -dict=../fuzz/ovra.dict -print_final_stats=1 \
     "corpus-$target" $(printf '../%s ' "${seeds[@]}")) || status=1
done
exit $status
