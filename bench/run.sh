#!/usr/bin/env bash
# Runs every benchmark script (bench/*.bench.sh) in name order. Each prints its ratios.
# Scratch data goes to BENCH_DIR (default build/bench-data), kept between runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export BENCH_DIR=${BENCH_DIR:-$root/build/bench-data}
export NATIVE_BIN=$root/build/native/bin WIN32_BIN=$root/build/win32/bin ROOT=$root
mkdir -p "$BENCH_DIR"
for script in "$root"/bench/*.bench.sh; do
  [ -e "$script" ] || continue
  echo "== $(basename "$script" .bench.sh)"
  bash "$script"
done
