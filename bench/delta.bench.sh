#!/usr/bin/env bash
# Delta updates through the chunk store, against the whole .bz2 copies of the same server folder,
# through orvex-update against nginx on 127.0.0.1. One archive of ARCHIVE_MIB (default 1024) MiB of
# mixed text, libraries and random bytes, published with orvex-publish build --chunks:
#  fresh: an empty installation through chunks against the same folder's list without its Index
#         line (the path old launchers take): bytes downloaded and time;
#  1% in one place: ARCHIVE_MIB/100 MiB overwritten at one offset; bytes downloaded against the
#         new .bz2 copy (goal at most 3%);
#  scattered: 100 edits of 4 KiB spread over the archive (goal at most 5%).
# Natively and, when built, the Windows build under Wine. Each update's peak memory (max RSS) is
# shown too: the run must stay under 64 MiB whatever the file's size.
set -euo pipefail
source "$ROOT/tests/common/lib.sh"
mib=${ARCHIVE_MIB:-1024}
data=$BENCH_DIR/delta-$mib
server=$data/nginx
www=$server/www
mkdir -p "$data"

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc -l; }
ratio() { echo "scale=3; $1 / $2" | bc -l; }
percent() { echo "scale=2; 100 * $1 / $2" | bc -l; }

# The three versions of the client, each published into its own server folder with chunks (the
# chunk store of all three is shared, as an operator's is).
if [ ! -f "$data/done" ]; then
  rm -rf "$data"/v* "$data/store"; mkdir -p "$data/v1/client" "$data/store"
  {
    find /usr/include /usr/share/doc -type f ! -name '*.gz' -print0 | sort -z | xargs -0 cat 2>/dev/null | head -c $((mib * 1024 * 1024 * 3 / 8)) || true
    find /usr/lib/x86_64-linux-gnu -maxdepth 1 -name '*.so*' -type f -print0 | sort -z | xargs -0 cat 2>/dev/null | head -c $((mib * 1024 * 1024 / 4)) || true
    head -c $((mib * 1024 * 1024)) /dev/urandom
  } | head -c $((mib * 1024 * 1024)) >"$data/v1/client/game.pak" || true
  [ "$(stat -c %s "$data/v1/client/game.pak")" = $((mib * 1024 * 1024)) ] || { echo "could not build the archive" >&2; exit 1; }
  cp -r "$data/v1" "$data/v2"; cp -r "$data/v1" "$data/v3"
  head -c $((mib * 1024 * 1024 / 100)) /dev/urandom |
    dd of="$data/v2/client/game.pak" bs=1M seek=$((mib / 3)) conv=notrunc status=none
  for i in $(seq 0 99); do
    head -c 4096 /dev/urandom | dd of="$data/v3/client/game.pak" bs=4096 seek=$((i * mib * 256 / 100 + 7)) conv=notrunc status=none
  done
  for v in v1 v2 v3; do
    mkdir -p "$data/$v/server"; ln -s "$data/store" "$data/$v/server/chunks"
    "$NATIVE_BIN/orvex-publish" build -q --chunks "$data/$v/client" "$data/$v/server" >/dev/null
  done
  touch "$data/done"
fi

nginx_start "$server" >/dev/null
trap 'nginx_stop "$server"' EXIT
url=$(<"$server/url")
rm -rf "$www"/*
for v in v1 v2 v3; do ln -s "$data/$v/server" "$www/$v"; done
# v1 without its Index line: the whole copies only.
mkdir -p "$www/v1-whole"
for f in "$data/v1/server"/*.bz2; do [ "$(basename "$f")" = files.lst.bz2 ] || ln -s "$f" "$www/v1-whole/"; done
grep -v '^Index|' "$data/v1/server/files.lst" | bzip2 -9 >"$www/v1-whole/files.lst.bz2"

# update BIN VERSION INSTALLATION RUNNER...: sets took, bytes and rss_mib.
update() {
  local bin=$1 version=$2 install=$3; shift 3
  printf '[main]\r\nUpdatesUrl=%s%s/\r\nAtRevision=0\r\n' "$url" "$version" >"$install/_settings.ini"
  local start; start=$(now)
  /usr/bin/time -f %M -o "$data/rss.txt" "$@" "$bin" "$(if [ $# -gt 0 ]; then win_path "$install"; else echo "$install"; fi)" >"$data/out.txt" 2>&1 ||
    { cat "$data/out.txt" >&2; exit 1; }
  took=$(elapsed "$start" "$(now)")
  # The summary gives the size with a unit, to a tenth of it.
  bytes=$(tr -d '\r' <"$data/out.txt" | sed -n 's/^[0-9]* files\? fetched, .* \([0-9.]*\) \([KMGT]\?\)i\?B downloaded in .*/\1 \2/p' |
    awk '{ printf "%.0f", $1 * 1024 ^ ($2 == "" ? 0 : index("KMGT", $2)) }')
  rss_mib=$(( $(tail -n 1 "$data/rss.txt") / 1024 ))
  [ "$rss_mib" -lt 64 ] || { echo "the update of $version took $rss_mib MiB" >&2; exit 1; }
  cmp -s "$install/game.pak" "$data/${version%-whole}/client/game.pak" || { echo "game.pak differs after $version" >&2; exit 1; }
}
copy_size() { stat -c %s "$data/$1/server/game.pak.bz2"; }

measure() {  # measure LABEL BIN RUNNER...
  local label=$1 bin=$2; shift 2
  local install=$data/install
  rm -rf "$install"; mkdir -p "$install"
  update "$bin" v1-whole "$install" "$@"; local whole_s=$took whole_bytes=$bytes
  rm -rf "$install"; mkdir -p "$install"
  update "$bin" v1 "$install" "$@"; local chunks_s=$took chunks_bytes=$bytes chunks_rss=$rss_mib
  printf '%-28s fresh: chunks %7.2f s %11s B, whole copy %7.2f s %11s B: %sx faster, %sx the bytes, max RSS %s MiB\n' \
    "$label" "$chunks_s" "$chunks_bytes" "$whole_s" "$whole_bytes" "$(ratio "$whole_s" "$chunks_s")" \
    "$(ratio "$chunks_bytes" "$whole_bytes")" "$chunks_rss"
  update "$bin" v2 "$install" "$@"
  printf '%-28s 1%% in one place: %11s B downloaded, %s%% of the new copy (%s B), %.2f s, max RSS %s MiB\n' "$label" \
    "$bytes" "$(percent "$bytes" "$(copy_size v2)")" "$(copy_size v2)" "$took" "$rss_mib"
  cp "$data/v1/client/game.pak" "$install/game.pak"
  update "$bin" v3 "$install" "$@"
  printf '%-28s 100 edits of 4 KiB: %11s B downloaded, %s%% of the new copy (%s B), %.2f s, max RSS %s MiB\n' "$label" \
    "$bytes" "$(percent "$bytes" "$(copy_size v3)")" "$(copy_size v3)" "$took" "$rss_mib"
}

echo "archive: $mib MiB"
measure "orvex-update (native)" "$NATIVE_BIN/orvex-update"
if [ -x "$WIN32_BIN/orvex-update.exe" ]; then
  wine_env "$ROOT/build/win32/wine"
  measure "orvex-update.exe (Wine)" "$WIN32_BIN/orvex-update.exe" wine
fi
