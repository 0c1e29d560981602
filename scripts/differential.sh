#!/usr/bin/env bash
# Differential run over generated programs: each one is compiled by ovrac and the output is handed
# to the tool that consumes it — JavaScript to `node --check`, LLVM IR to `llc-16 -filetype=obj`,
# and the WebAssembly text of an integer-subset program (when the Wasm target accepts it) to
# `wat2wasm`. Prints how many programs each check saw and the share that passed; inputs that fail
# are kept under build-fuzz/differential/failures/. Exits 1 when anything failed.
#   scripts/differential.sh [count] [first-seed]      (defaults: 200 programs from seed 1)
# OVRAC names the compiler to test (default build/bin/ovrac).
set -uo pipefail
cd "$(dirname "$0")/.."
count="${1:-200}"
first="${2:-1}"
ovrac="${OVRAC:-build/bin/ovrac}"
work=build-fuzz/differential
mkdir -p "$work/failures"
g++ -std=c++20 -O2 -Ifuzz fuzz/generate_main.cpp -o build-fuzz/ovra_generate || exit 1

declare -A checked passed
for check in accepted node llc wasm-accepted wat2wasm; do checked[$check]=0; passed[$check]=0; done

# record CHECK SEED STATUS FILE...: counts one check and keeps the inputs of a failure.
record() {
  local check=$1 seed=$2 status=$3
  shift 3
  checked[$check]=$((checked[$check] + 1))
  if [ "$status" -eq 0 ]; then
    passed[$check]=$((passed[$check] + 1))
  else
    for file in "$@"; do cp "$file" "$work/failures/$check-$seed-$(basename "$file")" 2>/dev/null; done
  fi
}

for ((seed = first; seed < first + count; seed++)); do
  build-fuzz/ovra_generate "$seed" >"$work/p.ovra"
  if "$ovrac" "$work/p.ovra" "$work/p.js" >/dev/null 2>"$work/p.err"; then
    record accepted "$seed" 0
    cp "$work/p.js" "$work/p.mjs"  # the output may use import/export, so check it as a module
    node --check "$work/p.mjs" 2>"$work/node.err"
    record node "$seed" $? "$work/p.ovra" "$work/p.js" "$work/node.err"
  else
    record accepted "$seed" 1 "$work/p.ovra" "$work/p.err"
  fi
  if "$ovrac" "$work/p.ovra" "$work/p.ll" --llvm >/dev/null 2>"$work/p.err"; then
    llc-16 -filetype=obj "$work/p.ll" -o "$work/p.o" 2>"$work/llc.err"
    record llc "$seed" $? "$work/p.ovra" "$work/p.ll" "$work/llc.err"
  fi

  build-fuzz/ovra_generate "$seed" --integer >"$work/q.ovra"
  if "$ovrac" "$work/q.ovra" "$work/q.wat" --wasm >/dev/null 2>"$work/q.err"; then
    record wasm-accepted "$seed" 0
    wat2wasm "$work/q.wat" -o "$work/q.wasm" 2>"$work/wat2wasm.err"
    record wat2wasm "$seed" $? "$work/q.ovra" "$work/q.wat" "$work/wat2wasm.err"
  else
    record wasm-accepted "$seed" 1 "$work/q.ovra" "$work/q.err"
  fi
done

status=0
for check in accepted node llc wasm-accepted wat2wasm; do
  total=${checked[$check]}
  share=0
  [ "$total" -gt 0 ] && share=$((100 * passed[$check] / total))
  printf '%-14s %5d checked, %5d passed (%d%%)\n' "$check:" "$total" "${passed[$check]}" "$share"
  [ "${passed[$check]}" -ne "$total" ] && status=1
done
[ $status -ne 0 ] && echo "failing inputs are in $work/failures/"
exit $status
