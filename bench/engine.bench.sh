#!/usr/bin/env bash
# The update run's two heavy phases through orvex-update against nginx on 127.0.0.1:
#  full check: 2,000 files / 1 GiB that all match the list (orvex-update --full) against md5sum -c,
#  with every core the process may use and again held to one core (taskset -c 0);
#  fetch: 200 files / 256 MiB into an empty installation against a shell loop of curl -s and
#  bzip2 -d over the same copies, with every core and held to one core. Natively and, when built,
#  the Windows build under Wine.
# Every input is read from the page cache. Other work on the machine shows in the figures: the
# load average is printed first. ENGINE_BENCH_PARTS=check leaves out the fetch; =launcher times
# the launcher only.
# ENGINE_BENCH_LAUNCHER_DISPLAY=:N also times the launcher (OrvexUpdater.exe under Wine on an Xvfb
# server at that display) fetching the same 200 files, from its start until it records the revision,
# less the same on a list without files, beside orvex-update.exe's fetch. The tool's fixed cost (start, list download) is
# measured on a list without files and reported beside the totals.
set -euo pipefail
source "$ROOT/tests/common/lib.sh"
data=$BENCH_DIR/engine
server=$data/nginx
www=$server/www
mkdir -p "$data"

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc -l; }
ratio() { echo "scale=3; $1 / $2" | bc -l; }
best() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }
crlf() { sed 's/$/\r/'; }

# --- data, kept between runs ---------------------------------------------------------------------
check_files=$data/check/files
if [ ! -f "$data/check/done" ]; then
  rm -rf "$data/check"; mkdir -p "$check_files"
  head -c $((1024 * 1024 * 1024)) /dev/urandom | (cd "$check_files" && split -b 536871 -d -a 4 --additional-suffix=.bin - part)
  (cd "$check_files" && md5sum -- *.bin) >"$data/check/md5sum.txt"
  touch "$data/check/done"
fi
fetch_files=$data/fetch/client
if [ ! -f "$data/fetch/done" ]; then
  rm -rf "$data/fetch"; mkdir -p "$fetch_files" "$data/fetch/copies"
  {
    find /usr/include /usr/share/doc -type f ! -name '*.gz' -print0 | sort -z | xargs -0 cat 2>/dev/null | head -c $((128 * 1024 * 1024)) || true
    find /usr/lib/x86_64-linux-gnu -maxdepth 1 -name '*.so*' -type f -print0 | sort -z | xargs -0 cat 2>/dev/null | head -c $((64 * 1024 * 1024)) || true
    head -c $((256 * 1024 * 1024)) /dev/urandom
  } | head -c $((256 * 1024 * 1024)) | (cd "$fetch_files" && split -b 1342178 -d -a 3 --additional-suffix=.dat - file) || true
  [ "$(ls "$fetch_files" | wc -l)" = 200 ] || { echo "could not build the fetch files" >&2; exit 1; }
  ls "$fetch_files" | xargs -P "$(nproc)" -I{} sh -c "bzip2 -9 -c '$fetch_files/{}' > '$data/fetch/copies/{}.bz2'"
  touch "$data/fetch/done"
fi

# --- the server ----------------------------------------------------------------------------------
nginx_start "$server" >/dev/null
trap 'nginx_stop "$server"' EXIT
url=$(<"$server/url")
rm -rf "$www/check" "$www/fetch" "$www/empty"
mkdir -p "$www/check" "$www/fetch" "$www/empty"
{
  printf '[settings]\nRev|1\nModHosts|0\n[/settings]\n[files_normal]\n'
  awk '{ printf "files\\%s|%s|1\n", $2, $1 }' "$data/check/md5sum.txt"
  printf '[/files_normal]\n'
} | crlf | bzip2 -9 >"$www/check/files.lst.bz2"
{
  printf '[settings]\nRev|1\nModHosts|0\n[/settings]\n[files_normal]\n'
  for f in "$fetch_files"/*; do
    n=$(basename "$f")
    printf 'files\\%s|%s|%s\n' "$n" "$(md5sum <"$f" | cut -d' ' -f1)" "$(stat -c %s "$data/fetch/copies/$n.bz2")"
  done
  printf '[/files_normal]\n'
} | crlf | bzip2 -9 >"$www/fetch/files.lst.bz2"
ln -s "$data/fetch/copies" "$www/fetch/files"
printf '[settings]\r\nRev|1\r\nModHosts|0\r\n[/settings]\r\n' | bzip2 -9 >"$www/empty/files.lst.bz2"

settings() { printf '[main]\r\nUpdatesUrl=%s\r\nAtRevision=%s\r\n' "$url$1/" "$2" >"$3/_settings.ini"; }

# The check's installation is the generated files themselves.
check_install=$data/check
settings check 1 "$check_install"
empty_install=$data/empty-install
mkdir -p "$empty_install"
settings empty 1 "$empty_install"
cat "$check_files"/* "$data/fetch/copies"/* >/dev/null

# --- md5sum -c and the curl + bzip2 loop, the same for both builds ----------------------------------
md5sum_time=""
for _ in 1 2 3; do
  start=$(now); (cd "$check_files" && md5sum -c --quiet "$data/check/md5sum.txt"); end=$(now)
  md5sum_time=$(best "$md5sum_time" "$(elapsed "$start" "$end")")
done
loop_dir=$data/loop
loop_time=0
for _ in $([ -n "${ENGINE_BENCH_PARTS:-}" ] || echo 1 2); do
  rm -rf "$loop_dir"; mkdir -p "$loop_dir"
  start=$(now)
  for f in "$fetch_files"/*; do
    n=$(basename "$f")
    curl -s -o "$loop_dir/$n.bz2" "${url}fetch/files/$n.bz2"
    bzip2 -d "$loop_dir/$n.bz2"
  done
  end=$(now)
  loop_time=$(best "${loop_time#0}" "$(elapsed "$start" "$end")")
done
[ -n "${ENGINE_BENCH_PARTS:-}" ] || diff -rq "$loop_dir" "$fetch_files" >/dev/null || { echo "the curl + bzip2 loop gave other files" >&2; exit 1; }
rm -rf "$loop_dir"

# --- orvex-update, natively and under Wine -----------------------------------------------------------
measure() {  # measure NAME PATHARG RUNNER...
  local name=$1 patharg=$2; shift 2
  local fixed="" full="" one_core="" fetch="" fetch_one_core="" start end
  for _ in 1 2 3; do
    start=$(now); "$@" --full "$($patharg "$empty_install")" >/dev/null; end=$(now)
    fixed=$(best "$fixed" "$(elapsed "$start" "$end")")
  done
  full=$(full_check "$name" "$patharg" "$@")
  one_core=$(full_check "$name" "$patharg" pinned "$@")
  printf '%s: fixed cost (start, list, no files) %.3f s\n' "$name" "$fixed"
  report_check "all cores ($(nproc) here)" "$full" "$fixed"
  report_check "one core (taskset -c 0)" "$one_core" "$fixed"
  [ "${ENGINE_BENCH_PARTS:-}" = check ] && return
  fetch=$(fetch_all "$name" "$patharg" "$@")
  fetch_one_core=$(fetch_all "$name" "$patharg" pinned "$@")
  printf '  fetch 200 files / 256 MiB: %.3f s, one core (taskset -c 0) %.3f s; curl + bzip2 -d loop %.3f s\n' "$fetch" "$fetch_one_core" "$loop_time"
  echo "  fetch speed / curl + bzip2 loop: $(ratio "$loop_time" "$fetch"), one core: $(ratio "$loop_time" "$fetch_one_core")"
}
# The best of two fetches into an empty installation: measure's NAME PATHARG, then the runner.
fetch_all() {
  local name=$1 patharg=$2 fetch="" start end install=$data/fetch-install; shift 2
  for _ in 1 2; do
    rm -rf "$install"; mkdir -p "$install"
    settings fetch 0 "$install"
    start=$(now); "$@" "$($patharg "$install")" >"$data/out.txt"; end=$(now)
    fetch=$(best "$fetch" "$(elapsed "$start" "$end")")
    grep -q "All the files have been updated" "$data/out.txt" || { echo "$name: the fetch failed" >&2; cat "$data/out.txt" >&2; exit 1; }
  done
  diff -rq "$install/files" "$fetch_files" >/dev/null || { echo "$name: the fetch gave other files" >&2; exit 1; }
  rm -rf "$install"
  echo "$fetch"
}
# The best of three full checks of the check installation: measure's NAME PATHARG, then the runner.
full_check() {
  local name=$1 patharg=$2 full="" start end; shift 2
  for _ in 1 2 3; do
    start=$(now); "$@" --full "$($patharg "$check_install")" >"$data/out.txt"; end=$(now)
    full=$(best "$full" "$(elapsed "$start" "$end")")
    grep -q "Up to date" "$data/out.txt" || { echo "$name: the full check did not find everything current" >&2; cat "$data/out.txt" >&2; exit 1; }
  done
  echo "$full"
}
report_check() {  # report_check WHAT SECONDS FIXED
  local net
  net=$(echo "$2 - $3" | bc -l)
  printf '  full check 2000 files / 1 GiB, %s: %.3f s (%.3f s without the fixed cost), md5sum -c %.3f s\n' "$1" "$2" "$net" "$md5sum_time"
  echo "    speed / md5sum -c: $(ratio "$md5sum_time" "$2") (without the fixed cost: $(ratio "$md5sum_time" "$net"))"
}
# Runs a command (a shell function too) held to the first core, as taskset -c 0 would.
pinned() { (taskset -cp 0 "$BASHPID" >/dev/null && "$@"); }
native_path() { printf '%s' "$1"; }

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "md5sum -c: $(printf %.3f "$md5sum_time") s; curl + bzip2 -d loop: $(printf %.3f "$loop_time") s"
[ "${ENGINE_BENCH_PARTS:-}" = launcher ] || measure native native_path "$NATIVE_BIN/orvex-update"
if [ "${ENGINE_BENCH_PARTS:-}" != launcher ] && [ -x "$WIN32_BIN/orvex-update.exe" ]; then
  wine_run "$ROOT/build/win32/wine" wineboot -i >/dev/null 2>&1 || true
  measure "win32 under Wine" win_path wine_run "$ROOT/build/win32/wine" "$WIN32_BIN/orvex-update.exe"
fi

# --- the launcher's own run, under Wine on Xvfb ---------------------------------------------------------
# Seconds from the launcher's start until its run records revision 1 of the server folder $1.
launcher_run() {
  local dir=$data/launcher-install start end pid
  rm -rf "$dir"; mkdir -p "$dir"
  printf '[main]\r\nUpdatesUrl=%s\r\nNewsUrl=\r\nLinkName=\r\nInstalled=1\r\nAtRevision=0\r\n' "$url$1/" >"$dir/_settings.ini"
  start=$(now)
  (cd "$dir" && wine_env "$ROOT/build/win32/wine" && exec wine "$WIN32_BIN/OrvexUpdater.exe") >"$data/launcher-wine.log" 2>&1 &
  pid=$!
  while ! grep -q '^AtRevision=1' "$dir/_settings.ini" && [ "$(echo "$(now) - $start < 600" | bc -l)" = 1 ]; do sleep 0.02; done
  end=$(now)
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  grep -q '^AtRevision=1' "$dir/_settings.ini" || { echo "launcher: the run on $1 did not record the revision" >&2; exit 1; }
  if [ "$1" = fetch ]; then diff -rq "$dir/files" "$fetch_files" >/dev/null || { echo "launcher: the fetch gave other files" >&2; exit 1; }; fi
  elapsed "$start" "$end"
}
if [ -n "${ENGINE_BENCH_LAUNCHER_DISPLAY:-}" ] && [ -x "$WIN32_BIN/OrvexUpdater.exe" ]; then
  xvfb_start "$data/x" "$ENGINE_BENCH_LAUNCHER_DISPLAY" 1024x768x24 >/dev/null
  export DISPLAY=$ENGINE_BENCH_LAUNCHER_DISPLAY
  launcher_fixed="" launcher_fetch=""
  # Assigned first, so that a run that fails ends the bench.
  for _ in 1 2 3; do seconds=$(launcher_run empty); launcher_fixed=$(best "$launcher_fixed" "$seconds"); done
  for _ in 1 2; do seconds=$(launcher_run fetch); launcher_fetch=$(best "$launcher_fetch" "$seconds"); done
  tool_fetch=""
  for _ in 1 2; do
    install=$data/fetch-install
    rm -rf "$install"; mkdir -p "$install"; settings fetch 0 "$install"
    start=$(now); wine_run "$ROOT/build/win32/wine" "$WIN32_BIN/orvex-update.exe" "$(win_path "$install")" >/dev/null; end=$(now)
    tool_fetch=$(best "$tool_fetch" "$(elapsed "$start" "$end")")
  done
  rm -rf "$install"
  tool_fixed=""
  for _ in 1 2 3; do
    start=$(now); wine_run "$ROOT/build/win32/wine" "$WIN32_BIN/orvex-update.exe" --full "$(win_path "$empty_install")" >/dev/null; end=$(now)
    tool_fixed=$(best "$tool_fixed" "$(elapsed "$start" "$end")")
  done
  launcher_net=$(echo "$launcher_fetch - $launcher_fixed" | bc -l)
  tool_net=$(echo "$tool_fetch - $tool_fixed" | bc -l)
  printf 'launcher under Wine: fetch 200 files / 256 MiB %.3f s from its start, %.3f s on a list without files\n' "$launcher_fetch" "$launcher_fixed"
  printf '  the fetch itself: launcher %.3f s, orvex-update.exe %.3f s (%.3f s less its fixed cost %.3f s)\n' "$launcher_net" "$tool_fetch" "$tool_net" "$tool_fixed"
  echo "  launcher time / orvex-update.exe time: $(ratio "$launcher_net" "$tool_net")"
  xvfb_stop "$data/x"
fi
