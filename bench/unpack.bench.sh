#!/usr/bin/env bash
# Unpacking throughput on one 256 MiB file of mixed content (text, program binaries, random bytes)
# compressed with bzip2 -9, best of 3: UnpackBZip2File on every core against bzip2 -dc and
# lbzip2 -d -n 2, and UnpackBZip2File held to one core (taskset) against its sequential decode.
set -euo pipefail
size=$((256 * 1024 * 1024))
plain=$BENCH_DIR/unpack-256MiB.bin
packed=$plain.bz2

if [ ! -f "$packed" ] || [ ! -f "$plain" ] || [ "$(stat -c %s "$plain")" -ne "$size" ]; then
  {
    find /usr/include /usr/share/doc -type f ! -name '*.gz' -print0 | sort -z | xargs -0 cat 2>/dev/null | head -c $((112 * 1024 * 1024)) || true
    find /usr/lib/x86_64-linux-gnu -maxdepth 1 -name '*.so*' -type f -print0 | sort -z | xargs -0 cat 2>/dev/null | head -c $((64 * 1024 * 1024)) || true
    head -c $((80 * 1024 * 1024)) /dev/urandom
    head -c "$size" /dev/urandom  # tops up whatever the folders above lacked
  } | head -c "$size" > "$plain.tmp" || true
  [ "$(stat -c %s "$plain.tmp")" -eq "$size" ] || { echo "could not build $plain" >&2; exit 1; }
  mv "$plain.tmp" "$plain"
  bzip2 -9 -c "$plain" > "$packed.tmp" && mv "$packed.tmp" "$packed"
fi
cat "$packed" > /dev/null  # every decoder reads from the page cache

out=$BENCH_DIR/unpack.out
link=$BENCH_DIR/unpack-link.bz2
cores=$(nproc)

now() { date +%s.%N; }
# best_of3 NAME COMMAND...: runs the command three times, records the best time in best[NAME] and
# checks that what it wrote to $out is the original file.
declare -A best
best_of3() {
  local name=$1 t start end; shift
  for _ in 1 2 3; do
    ln -f "$packed" "$link"  # UnpackBZip2File deletes its input
    start=$(now); "$@" > /dev/null; end=$(now)
    t=$(echo "$end - $start" | bc -l)
    if [ -z "${best[$name]:-}" ] || [ "$(echo "$t < ${best[$name]}" | bc -l)" = 1 ]; then best[$name]=$t; fi
    if ! cmp -s "$out" "$plain"; then echo "$name gives a different file" >&2; exit 1; fi
    rm -f "$out"
  done
}
ours() { "$NATIVE_BIN/unpack_bench" "$link" "$out" "$@"; }
bzip2_dc() { bzip2 -dc "$packed" > "$out"; }
lbzip2_d() { lbzip2 -d -n 2 -c "$packed" > "$out"; }
ours_one_core() { taskset -c 0 "$NATIVE_BIN/unpack_bench" "$link" "$out" 0; }

best_of3 ours ours 0
best_of3 bzip2 bzip2_dc
best_of3 lbzip2 lbzip2_d
best_of3 one-core ours_one_core
best_of3 sequential ours 1

packed_mib=$(echo "scale=1; $(stat -c %s "$packed") / 1048576" | bc -l)
rate() { echo "scale=1; 256 / $1" | bc -l; }
row() { printf '%-36s %8s s %8s MiB/s out\n' "$1" "$(printf %.3f "$2")" "$(rate "$2")"; }
printf 'input: 256 MiB, %s MiB compressed, %s cores\n' "$packed_mib" "$cores"
row "UnpackBZip2File, every core" "${best[ours]}"
row "bzip2 -dc" "${best[bzip2]}"
row "lbzip2 -d -n 2" "${best[lbzip2]}"
row "UnpackBZip2File, taskset -c 0" "${best[one-core]}"
row "UnpackBZip2File, 1 thread (sequential)" "${best[sequential]}"
echo "every core: throughput / bzip2 -dc: $(echo "scale=3; ${best[bzip2]} / ${best[ours]}" | bc -l) (goal on 2 cores: 1.7 or more)"
echo "every core: throughput / lbzip2 -n 2: $(echo "scale=3; ${best[lbzip2]} / ${best[ours]}" | bc -l) (goal: 0.9 or more)"
echo "one core: throughput / sequential: $(echo "scale=3; ${best[sequential]} / ${best[one-core]}" | bc -l) (goal: 0.95 or more)"
echo "outputs identical"
