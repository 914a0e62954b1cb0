#!/usr/bin/env bash
# A fetch over a link that breaks every 4 MiB: 4 files / 64 MiB of incompressible data published
# with orvex-publish, served by bench/cutting_server (each answer closed after 4 MiB of its body).
# orvex-update into an empty installation against a shell loop of
#   curl --retry 20 --retry-all-errors --retry-delay 1 --continue-at - ; bzip2 -d
# over the same copies. Both wait 1 s after each break; the server counts the body bytes it sent.
set -euo pipefail
source "$ROOT/tests/common/lib.sh"
data=$BENCH_DIR/resume
cut=$((4 * 1024 * 1024))
mkdir -p "$data"

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc -l; }
ratio() { echo "scale=3; $1 / $2" | bc -l; }

if [ ! -f "$data/done" ]; then
  rm -rf "$data/client" "$data/server"; mkdir -p "$data/client/data"
  for i in 1 2 3 4; do head -c $((16 * 1024 * 1024)) /dev/urandom >"$data/client/data/part$i.bin"; done
  "$NATIVE_BIN/orvex-publish" build -q "$data/client" "$data/server" >/dev/null
  touch "$data/done"
fi
copies=$(find "$data/server" -name '*.bin.bz2' -printf '%s\n' | awk '{ s += $1 } END { print s }')

# Starts a fresh cutting server (its cuts are per request); sets url.
serve() {
  rm -f "$data/in" "$data/out"; mkfifo "$data/in"
  "$NATIVE_BIN/cutting_server" "$data/server" "$cut" <"$data/in" >"$data/out" &
  server_pid=$!
  exec 3>"$data/in"
  for _ in $(seq 100); do [ -s "$data/out" ] && break; sleep 0.05; done
  url=$(head -1 "$data/out")
}
# Stops it; sets sent to the body bytes it sent.
stop() { exec 3>&-; wait "$server_pid"; sent=$(sed -n 2p "$data/out"); }

ours() {  # ours BIN_DIR RUNNER...
  local bin=$1; shift
  serve
  rm -rf "$data/install"; mkdir -p "$data/install"
  printf '[main]\r\nUpdatesUrl=%s\r\nAtRevision=0\r\n' "$url" >"$data/install/_settings.ini"
  local start; start=$(now)
  "$@" "$bin" "$(if [ $# -gt 0 ]; then win_path "$data/install"; else echo "$data/install"; fi)" >"$data/ours.txt" 2>&1 ||
    { cat "$data/ours.txt" >&2; exit 1; }
  ours_s=$(elapsed "$start" "$(now)")
  stop
  ours_bytes=$sent
  for f in "$data"/client/data/*.bin; do cmp -s "$f" "$data/install/data/$(basename "$f")" || { echo "$f differs" >&2; exit 1; }; done
}

curl_loop() {
  serve
  rm -rf "$data/curl"; mkdir -p "$data/curl"
  local start; start=$(now)
  for copy in "$data"/server/data/*.bz2; do
    local name; name=$(basename "$copy")
    curl -s --retry 20 --retry-all-errors --retry-delay 1 --continue-at - -o "$data/curl/$name" "${url}data/$name"
    bzip2 -d "$data/curl/$name"
  done
  curl_s=$(elapsed "$start" "$(now)")
  stop
  curl_bytes=$sent
  for f in "$data"/client/data/*.bin; do cmp -s "$f" "$data/curl/$(basename "$f")" || { echo "curl: $f differs" >&2; exit 1; }; done
}

curl_loop
ours "$NATIVE_BIN/orvex-update"
printf '%-40s %7.2f s %11s bytes sent (copies %s)\n' "curl --retry --continue-at - + bzip2 -d" "$curl_s" "$curl_bytes" "$copies"
printf '%-40s %7.2f s %11s bytes sent  time ratio %s, bytes ratio %s\n' "orvex-update (native)" "$ours_s" "$ours_bytes" \
  "$(ratio "$curl_s" "$ours_s")" "$(ratio "$curl_bytes" "$ours_bytes")"
if [ -x "$WIN32_BIN/orvex-update.exe" ]; then
  wine_env "$ROOT/build/win32/wine"
  ours "$WIN32_BIN/orvex-update.exe" wine
  printf '%-40s %7.2f s %11s bytes sent  time ratio %s, bytes ratio %s\n' "orvex-update.exe (Wine)" "$ours_s" "$ours_bytes" \
    "$(ratio "$curl_s" "$ours_s")" "$(ratio "$curl_bytes" "$ours_bytes")"
fi
echo "(ratios: curl's figure over ours; above 1 is better)"
