#!/usr/bin/env bash
# Makes sample files of awkward lengths and records md5sum's digests of them in expected.md5, for
# the unit tests to compare against (they cannot call md5sum when they run under Wine).
set -euo pipefail
dir=$1
rm -rf "$dir"
mkdir -p "$dir"
cd "$dir"
for n in 0 1 55 56 63 64 65 119 120 4096 65537; do
  head -c "$n" /dev/urandom > "sample_$n.bin"
done
head -c $((5 * 1024 * 1024 + 17)) /dev/urandom > sample_large.bin
md5sum sample_*.bin > expected.md5.tmp
mv expected.md5.tmp expected.md5
