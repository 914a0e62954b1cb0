#!/usr/bin/env bash
# One update per installation folder across the native orvex-update and orvex-update.exe under
# Wine, each naming the folder its own way (a link, another letter case, a drive letter of its
# own): while one runs the other stops with status 2; once the first is killed the folder is free.
#   lock_across.sh SERVER_DIR NATIVE_TOOL WINDOWS_TOOL WINE_DIR
set -uo pipefail
source "$(dirname "$0")/../common/lib.sh"
server_dir=$1 native=$2 windows=$3 wine_dir=$(realpath -m "$4")
if [ ! -x "$native" ]; then
  echo "no native orvex-update at $native (build it first): skipped"
  exit 77
fi
url=$(<"$server_dir/url")
www=$server_dir/www/lock-across
work=$server_dir/scratch/lock-across
drive=$wine_dir/prefix/dosdevices/o:
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
trap 'rm -f "$drive"' EXIT

rm -rf "$www" "$work"
mkdir -p "$www" "$work/game"
ln -s game "$work/link"
ln -sfn "$work" "$drive"
head -c 4000000 /dev/urandom >"$work/big.bin"
bzip2 -1 -c "$work/big.bin" >"$www/big.bin.bz2"
printf "[settings]\r\nRev|1\r\nModHosts|0\r\n[/settings]\r\n[files_critical]\r\nbig.bin|$(md5sum <"$work/big.bin" | cut -d' ' -f1)|$(stat -c %s "$www/big.bin.bz2")\r\n[/files_critical]\r\n" |
  bzip2 -9 >"$www/files.lst.bz2"
# Slowly (150 KiB/s), so a run holds the folder for long enough; quickly, to see it free again.
settings() { printf '[main]\r\nUpdatesUrl=%s%s\r\n' "$url" "$1" >"$work/game/_settings.ini"; }

# start SIDE FOLDER: a run in the background, as the process itself, so a kill ends it.
start() {
  if [ "$1" = wine ]; then
    (wine_env "$wine_dir" && exec wine "$windows" "$2") >"$work/first" 2>&1 &
  else
    "$native" "$2" >"$work/first" 2>&1 &
  fi
  first=$!
}
run() {  # run SIDE FOLDER
  if [ "$1" = wine ]; then wine_run "$wine_dir" "$windows" "$2"; else "$native" "$2"; fi >"$work/out" 2>"$work/err"
}

# check WHAT FIRST_SIDE FIRST_FOLDER SECOND_SIDE SECOND_FOLDER
check() {
  local what=$1
  rm -f "$work/game/big.bin"
  settings slow/lock-across/
  start "$2" "$3"
  for _ in $(seq 150); do grep -q "Downloading big.bin" "$work/first" && break; sleep 0.2; done
  grep -q "Downloading big.bin" "$work/first" || fail "$what: the first run did not start: $(cat "$work/first")"
  run "$4" "$5"
  local got=$?
  [ "$got" = 2 ] || fail "$what: the second run: exit $got, wanted 2; out: $(cat "$work/out") err: $(cat "$work/err")"
  tr -d '\r' <"$work/err" | grep -q "^orvex-update: an update is already running in " ||
    fail "$what: the second run did not say the folder is in use: $(cat "$work/err")"
  kill -KILL "$first" 2>/dev/null
  wait "$first" 2>/dev/null
  settings lock-across/
  run "$4" "$5"
  got=$?
  [ "$got" = 0 ] || fail "$what: after the first was killed: exit $got, wanted 0; out: $(cat "$work/out") err: $(cat "$work/err")"
}

check "native beside Wine" native "$work/game" wine "$(win_path "$work/link")"
check "Wine beside native" wine "$(win_path "$work/GAME")" native "$work/link"
check "Wine beside Wine on a drive of its own" wine "$(win_path "$work/game")" wine 'O:\link'

[ "$failures" = 0 ] && echo "lock_across: all checks passed"
exit $((failures > 0))
