#!/usr/bin/env bash
# Fuzzes Compiler::compile for every target with libFuzzer (clang, ASan, UBSan, leak checks), in
# two ways per target: fuzz_compile_* takes the bytes as source text (seeded with fuzz/seeds, the
# examples and every fixture, guided by fuzz/ovra.dict); fuzz_generate_* takes them as the
# decisions of the program generator, so its inputs are well-typed programs that reach the
# optimizer and the back ends. Any input slower than one second, any crash, sanitizer report,
# leak or malformed error fails the run.
#   scripts/fuzz.sh [seconds-per-program]   (default 600; eight programs run one after another)
# What libFuzzer learns goes to build-fuzz/corpus-<program> (never committed); failing inputs are
# written to build-fuzz/findings/. OVRA_FUZZ_COMPILER_DIR names another compiler/ tree to fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-600}"
compiler_dir="${OVRA_FUZZ_COMPILER_DIR:-$PWD/compiler}"
CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DOVRA_FUZZ_COMPILER_DIR="$compiler_dir" >/dev/null
cmake --build build-fuzz
mkdir -p build-fuzz/findings
seeds=(fuzz/seeds examples)
[ -d tests/fixtures ] && seeds+=(tests/fixtures)
[ -d tests/corpus ] && seeds+=(tests/corpus)
status=0
failed=()
for target in javascript typescript wasm llvm; do
  for mode in compile generate; do
    program="fuzz_${mode}_$target"
    corpus="build-fuzz/corpus-${mode}-$target"
    mkdir -p "$corpus"
    options=(-max_total_time="$seconds" -timeout=1 -rss_limit_mb=4096 -print_final_stats=1
             -artifact_prefix="build-fuzz/findings/$program-")
    if [ "$mode" = compile ]; then
      options+=(-max_len=4096 -dict=fuzz/ovra.dict)
      inputs=("$corpus" "${seeds[@]}")
    else
      options+=(-max_len=1024 -len_control=0)
      inputs=("$corpus")
    fi
    echo "== $program for ${seconds}s"
    if ! "build-fuzz/$program" "${options[@]}" "${inputs[@]}" 2>"build-fuzz/$program.log"; then
      status=1
      failed+=("$program")
      tail -n 60 "build-fuzz/$program.log"
    fi
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)|^#[0-9]+[[:space:]]+DONE' \
      "build-fuzz/$program.log" || true
  done
done
if [ $status -ne 0 ]; then
  echo "fuzzing found failures in: ${failed[*]} (inputs in build-fuzz/findings/)"
fi
exit $status
