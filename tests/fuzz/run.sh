#!/usr/bin/env bash
# Runs every fuzzer for a bounded time: run.sh BUILD_DIR SECONDS
set -euo pipefail
build=$(cd "$1" && pwd) seconds=${2:-60}
root=$(cd "$(dirname "$0")/../.." && pwd)
status=0
for fuzzer in "$build"/bin/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  corpus=$build/corpus/$name
  mkdir -p "$corpus"
  seeds=$root/tests/fuzz/seeds/$name
  [ -d "$seeds" ] || seeds=
  echo "fuzz: $name for ${seeds:+seeded }${seconds}s"
  if ! (cd "$build" && "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=0 \
        "$corpus" ${seeds:+"$seeds"} >"$build/$name.log" 2>&1); then
    echo "fuzz: $name FAILED, see $build/$name.log"; tail -30 "$build/$name.log"; status=1
  else
    grep -E '^(Done|#[0-9]+.*DONE)' "$build/$name.log" | tail -1 || true
  fi
done
exit $status
