#!/usr/bin/env bash
# File digest throughput: FileMD5 against md5sum and openssl md5 on one 512 MiB file, best of 3.
set -euo pipefail
file=$BENCH_DIR/md5-512MiB.bin
size=$((512 * 1024 * 1024))
if [ ! -f "$file" ] || [ "$(stat -c %s "$file")" -ne "$size" ]; then
  head -c "$size" /dev/urandom > "$file.tmp" && mv "$file.tmp" "$file"
fi
cat "$file" > /dev/null  # all three read from the page cache

best_of_3() {  # prints the best wall time in seconds of the command
  local best="" t
  for _ in 1 2 3; do
    local start end
    start=$(date +%s.%N)
    "$@" > /dev/null
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}

read -r ours ours_s < <("$NATIVE_BIN/md5_bench" "$file" 1)
reference=$(md5sum "$file" | cut -d' ' -f1)
if [ "$ours" != "$reference" ]; then
  echo "FileMD5 gives $ours, md5sum $reference" >&2
  exit 1
fi

ours_s=$(best_of_3 "$NATIVE_BIN/md5_bench" "$file" 1)
md5sum_s=$(best_of_3 md5sum "$file")
openssl_s=$(best_of_3 openssl md5 "$file")

mib=512
rate() { echo "scale=1; $mib / $1" | bc -l; }
ratio() { echo "scale=3; $1 / $2" | bc -l; }
printf '%-12s %8s s %8s MiB/s\n' FileMD5 "$(printf %.3f "$ours_s")" "$(rate "$ours_s")"
printf '%-12s %8s s %8s MiB/s\n' md5sum "$(printf %.3f "$md5sum_s")" "$(rate "$md5sum_s")"
printf '%-12s %8s s %8s MiB/s\n' "openssl md5" "$(printf %.3f "$openssl_s")" "$(rate "$openssl_s")"
echo "FileMD5 throughput / md5sum:      $(ratio "$md5sum_s" "$ours_s")"
echo "FileMD5 throughput / openssl md5: $(ratio "$openssl_s" "$ours_s")"
echo "digest $ours matches md5sum"
