#!/usr/bin/env bash
# Fuzzes Compiler::compile for every target with libFuzzer (clang, ASan, UBSan, leak checks), in
# two ways per target: fuzz_compile_* takes the bytes as source text (seeded with fuzz/seeds, the
# examples and every fixture, guided by fuzz/ovra.dict); fuzz_generate_* takes them as the
# decisions of the program generator, so its inputs are well-typed programs that reach the
# optimizer and the back ends. Any input slower than one second, any crash, sanitizer report,
# leak or malformed error fails the run.
#   scripts/fuzz.sh [seconds-per-program] [jobs]
# (defaults: 600 seconds, one program at a time; `scripts/fuzz.sh 600 2` runs two at once, which
# halves the wall time on two cores)
# What libFuzzer learns goes to build-fuzz/corpus-<program> (never committed); failing inputs are
# written to build-fuzz/findings/. OVRA_FUZZ_COMPILER_DIR names another compiler/ tree to fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-600}"
jobs="${2:-1}"
compiler_dir="${OVRA_FUZZ_COMPILER_DIR:-$PWD/compiler}"
CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DOVRA_FUZZ_COMPILER_DIR="$compiler_dir" >/dev/null
cmake --build build-fuzz
mkdir -p build-fuzz/findings
seeds=(fuzz/seeds examples)
[ -d tests/fixtures ] && seeds+=(tests/fixtures)
[ -d tests/corpus ] && seeds+=(tests/corpus)
# run_program MODE TARGET: one fuzzing run; its log is build-fuzz/<program>.log.
run_program() {
  local mode=$1 target=$2
  local program="fuzz_${mode}_$target"
  local corpus="build-fuzz/corpus-${mode}-$target"
  mkdir -p "$corpus"
  local options=(-max_total_time="$seconds" -timeout=1 -rss_limit_mb=4096 -print_final_stats=1
                 -artifact_prefix="build-fuzz/findings/$program-")
  local inputs
  if [ "$mode" = compile ]; then
    options+=(-max_len=4096 -dict=fuzz/ovra.dict)
    inputs=("$corpus" "${seeds[@]}")
  else
    options+=(-max_len=1024 -len_control=0)
    inputs=("$corpus")
  fi
  local code=0
  "build-fuzz/$program" "${options[@]}" "${inputs[@]}" 2>"build-fuzz/$program.log" || code=$?
  echo "$code" >"build-fuzz/$program.status"
}

programs=()
for target in javascript typescript wasm llvm; do
  for mode in compile generate; do programs+=("$mode $target"); done
done
for entry in "${programs[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  echo "== fuzz_${entry/ /_} for ${seconds}s"
  rm -f "build-fuzz/fuzz_${entry/ /_}.status"
  run_program $entry &
done
wait

status=0
failed=()
for entry in "${programs[@]}"; do
  program="fuzz_${entry/ /_}"
  if [ "$(cat "build-fuzz/$program.status" 2>/dev/null)" != 0 ]; then
    status=1
    failed+=("$program")
    echo "== $program failed:"
    tail -n 60 "build-fuzz/$program.log"
  fi
  echo "== $program"
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)|^#[0-9]+[[:space:]]+DONE' \
    "build-fuzz/$program.log" || true
done
if [ $status -ne 0 ]; then
  echo "fuzzing found failures in: ${failed[*]} (inputs in build-fuzz/findings/)"
fi
exit $status
