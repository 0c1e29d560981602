#!/usr/bin/env bash
# The build benchmark: generates Ovra programs of 10k, 100k and 1M lines, times the JavaScript
# build of each with build/bin/ovrac, checks the output with `node --check`, and reports
# throughput (MB of source per second) and peak memory. Not part of the test suite.
#
#   bench/run.sh                 # the three sizes
#   bench/run.sh 50000 2000000   # chosen sizes
#
# Environment: BUILD_DIR (default build), BENCH_DIR for the generated files (default a fresh
# temporary directory, removed afterwards), RUNS per size (default 3; the fastest run counts).
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${BUILD_DIR:-build}
runs=${RUNS:-3}
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10000 100000 1000000)

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" --target ovrac -j2 >/dev/null
ovrac=$build_dir/bin/ovrac

if [ -n "${BENCH_DIR:-}" ]; then
  work=$BENCH_DIR
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi

# Runs a command; prints "<wall ms> <peak resident KiB> <cpu ms>" on file descriptor 3. CPU time
# (user + system) is shown beside wall time because on a shared machine the wall time also
# counts the waits for a free core.
measure() {
  if [ -x /usr/bin/time ]; then
    local start end
    start=$(date +%s%N)
    if ! /usr/bin/time -f '%M %U %S' -o "$work/usage" "$@" >/dev/null; then
      echo "failed: $*" >&2
      return 1
    fi
    end=$(date +%s%N)
    read -r kib user system <"$work/usage"
    echo "$(((end - start) / 1000000)) $kib $(awk -v u="$user" -v s="$system" 'BEGIN { printf "%d", (u + s) * 1000 }')" >&3
  else
    # getrusage of the finished child, through the system's Python.
    python3 - "$@" <<'EOF'
import os, resource, subprocess, sys, time
start = time.perf_counter()
status = subprocess.call(sys.argv[1:], stdout=subprocess.DEVNULL)
elapsed = time.perf_counter() - start
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
cpu = usage.ru_utime + usage.ru_stime
os.write(3, f"{int(elapsed * 1000)} {usage.ru_maxrss} {int(cpu * 1000)}\n".encode())
sys.exit(status)
EOF
  fi
}

printf '%-10s %10s %10s %8s %8s %8s %8s %9s %9s\n' lines "source MB" "output MB" "wall s" \
  "MB/s" "cpu s" "MB/cpu s" "peak MiB" "peak/src"
for lines in "${sizes[@]}"; do
  source_file=$work/bench_$lines.ovra
  output_file=$work/bench_$lines.js
  node bench/generate.mjs "$lines" "$source_file"
  rm -f "$output_file"
  best_ms=
  best_cpu_ms=
  peak_kib=0
  for ((run = 0; run < runs; run++)); do
    read -r ms kib cpu_ms < <(measure "$ovrac" "$source_file" 3>&1)
    if [ -z "$best_ms" ] || [ "$ms" -lt "$best_ms" ]; then best_ms=$ms; fi
    if [ -z "$best_cpu_ms" ] || [ "$cpu_ms" -lt "$best_cpu_ms" ]; then best_cpu_ms=$cpu_ms; fi
    if [ "$kib" -gt "$peak_kib" ]; then peak_kib=$kib; fi
  done
  node --check "$output_file" || { echo "node --check rejected the output for $lines lines" >&2; exit 1; }
  source_bytes=$(stat -c %s "$source_file")
  output_bytes=$(stat -c %s "$output_file")
  awk -v lines="$(wc -l <"$source_file")" -v src="$source_bytes" -v out="$output_bytes" \
      -v ms="$best_ms" -v cpu_ms="$best_cpu_ms" -v kib="$peak_kib" 'BEGIN {
    mb = src / 1e6; s = ms / 1000; cpu = cpu_ms / 1000
    printf "%-10d %10.1f %10.1f %8.2f %8.1f %8.2f %8.1f %9.0f %9.1f\n", lines, mb, out / 1e6,
           s, (s > 0 ? mb / s : 0), cpu, (cpu > 0 ? mb / cpu : 0), kib / 1024, kib * 1024 / src
  }'
done
