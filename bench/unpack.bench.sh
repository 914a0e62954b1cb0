#!/usr/bin/env bash
# Unpacking throughput: UnpackBZip2File against bzip2 -dc on one 256 MiB file of mixed content
# (text, program binaries, random bytes) compressed with bzip2 -9, best of 3.
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
cat "$packed" > /dev/null  # both read from the page cache

ours_out=$BENCH_DIR/unpack-ours.out
theirs_out=$BENCH_DIR/unpack-bzip2.out
link=$BENCH_DIR/unpack-link.bz2

now() { date +%s.%N; }
best_ours="" best_theirs=""
for _ in 1 2 3; do
  ln -f "$packed" "$link"  # the unpack deletes its input
  start=$(now); "$NATIVE_BIN/unpack_bench" "$link" "$ours_out" > /dev/null; end=$(now)
  t=$(echo "$end - $start" | bc -l)
  if [ -z "$best_ours" ] || [ "$(echo "$t < $best_ours" | bc -l)" = 1 ]; then best_ours=$t; fi
  start=$(now); bzip2 -dc "$packed" > "$theirs_out"; end=$(now)
  t=$(echo "$end - $start" | bc -l)
  if [ -z "$best_theirs" ] || [ "$(echo "$t < $best_theirs" | bc -l)" = 1 ]; then best_theirs=$t; fi
done

if ! cmp -s "$ours_out" "$theirs_out" || ! cmp -s "$ours_out" "$plain"; then
  echo "UnpackBZip2File and bzip2 -dc give different files" >&2
  exit 1
fi
rm -f "$ours_out" "$theirs_out"

packed_mib=$(echo "scale=1; $(stat -c %s "$packed") / 1048576" | bc -l)
rate() { echo "scale=1; 256 / $1" | bc -l; }
printf 'input: 256 MiB, %s MiB compressed\n' "$packed_mib"
printf '%-16s %8s s %8s MiB/s out\n' UnpackBZip2File "$(printf %.3f "$best_ours")" "$(rate "$best_ours")"
printf '%-16s %8s s %8s MiB/s out\n' "bzip2 -dc" "$(printf %.3f "$best_theirs")" "$(rate "$best_theirs")"
echo "UnpackBZip2File throughput / bzip2 -dc: $(echo "scale=3; $best_theirs / $best_ours" | bc -l)"
echo "outputs identical"
