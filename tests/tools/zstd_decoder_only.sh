#!/usr/bin/env bash
# What a player runs links zstd's decoder alone. For Windows a decompress-only libzstd makes any call
# into the compressor fail to link; natively Debian's whole library serves, so this test looks instead:
# no launcher-side library nor orvex-update may ask for a compression function, and the writers'
# library, which does, must be caught by the same look.
# Usage: zstd_decoder_only.sh WRITERS_LIBRARY LAUNCHER_SIDE_FILE...
set -euo pipefail

# The compression functions FILE asks for: zstd's compressor is every ZSTD_ name with "compress"
# apart from decompression, and its contexts, streams, dictionaries and levels ("C" for compression).
compressor_calls() {
  local options=(--undefined-only)
  [[ $1 == *.a ]] || options+=(--dynamic)
  nm "${options[@]}" "$1" | grep -oE '\bZSTD_[A-Za-z0-9_]+' |
    grep -E '_compress|CCtx|CStream|CDict|CLevel' | sort -u || true
}

writers=$1
shift
[ -n "$(compressor_calls "$writers")" ] || { echo "FAIL: no compression call seen in $writers"; exit 1; }
status=0
for file in "$@"; do
  calls=$(compressor_calls "$file")
  [ -z "$calls" ] || { echo "FAIL: $file asks for zstd's compressor:" $calls; status=1; }
done
[ $status = 1 ] || echo "zstd_decoder_only: $# files ask for the decoder alone"
exit $status
