#!/usr/bin/env bash
# The self-update swap under Wine: the stand-in launcher v1 runs an update whose list names v2 as
# the launcher; Update.bat must end v1 (and only v1), put v2 in its place, start it and delete
# itself. The installation folder's name holds what players' folders hold: Cyrillic letters (the
# ANSI code page is 1251, the batch file is read in OEM 866), a space, %, &, (, ) and !. A second
# installation's launcher of the same file name keeps running.
#   selfupdate.sh WINE_DIR V1_EXE V2_EXE SERVER_DIR
set -uo pipefail
source "$(dirname "$0")/../common/lib.sh"
wine_dir=$1 v1=$2 v2=$3 server_dir=$4
name="Test Launcher.exe"
www=$server_dir/www/selfupdate
scratch=$server_dir/scratch
install="$scratch/selfupdate Тест 100% & (копия)!"
other=$scratch/selfupdate-other
url=$(<"$server_dir/url")selfupdate/
access_log=$server_dir/logs/access.log

bystander=""
fail() {
  echo "FAIL: $*"
  [[ -n $bystander ]] && kill "$bystander" 2>/dev/null
  echo "--- started.log"; cat "$install/started.log" 2>/dev/null
  echo "--- events.log"; cat "$install/events.log" 2>/dev/null
  echo "--- files"; ls -la "$install"
  echo "--- requests"; tail -n +$((requests_before + 1)) "$access_log" | grep selfupdate
  exit 1
}

# A Russian Windows: Wine takes its code pages from the locale, made here when the system lacks it.
locales=$wine_dir/locale
if [[ ! -d $locales/ru_RU.UTF-8 ]]; then
  mkdir -p "$locales"
  localedef -i ru_RU -f UTF-8 "$locales/ru_RU.UTF-8" || { echo "cannot make the ru_RU.UTF-8 locale"; exit 1; }
fi
export LOCPATH=$locales
# Meant for Wine: this shell does not read LOCPATH for itself and would only warn.
export LC_ALL=ru_RU.UTF-8 2>/dev/null

rm -rf "$www" "$scratch"/selfupdate*
mkdir -p "$www" "$install" "$other"
cp "$v1" "$install/$name"
cp "$v1" "$other/$name"
cmp -s "$v1" "$v2" && fail "the two builds are identical"
bzip2 -9 -c "$v2" >"$www/$name.bz2"
md5=$(md5sum <"$v2" | cut -d' ' -f1)
size=$(stat -c %s "$www/$name.bz2")
printf '[settings]\r\nRev|1\r\nModHosts|0\r\n[/settings]\r\n[self]\r\n%s|%s|%s\r\n[/self]\r\n' "$name" "$md5" "$size" >"$www/files.lst"
bzip2 -9 -c "$www/files.lst" >"$www/files.lst.bz2"
rm "$www/files.lst"
printf '[main]\r\nUpdatesUrl=%s\r\nAtRevision=1\r\n' "$url" >"$install/_settings.ini"
# The other installation's run fails at once (no list there); its launcher then waits a minute.
printf '[main]\r\nUpdatesUrl=%snone/\r\nAtRevision=1\r\n' "$url" >"$other/_settings.ini"

requests_before=$(wc -l <"$access_log" 2>/dev/null || echo 0)
(cd "$other" && wine_env "$wine_dir" && exec wine "$name") &
bystander=$!
for _ in $(seq 60); do grep -q 'waits for Update.bat' "$other/started.log" 2>/dev/null && break; sleep 0.5; done
grep -q 'waits for Update.bat' "$other/started.log" 2>/dev/null || fail "the other installation's launcher did not start"

cd "$install" || exit 1
started=$(date +%s)
wine_run "$wine_dir" "$name"
echo "v1 ended with status $? after $(( $(date +%s) - started )) s"

# The batch file goes on after v1 has ended: wait for the new launcher's run to finish.
for _ in $(seq 120); do
  grep -q '^v2 done' started.log 2>/dev/null && [ ! -e Update.bat ] && break
  sleep 0.5
done
# A launcher started again would show within the batch file's pause.
sleep 3

grep -qx 'v1 started' started.log || fail "v1 never started"
grep -q '^v1 was not ended' started.log && fail "Update.bat did not end v1"
[ $(( $(date +%s) - started )) -lt 55 ] || fail "v1 was not ended before its wait ran out"
grep -qx 'v2 started' started.log || fail "the new launcher was not started"
grep -qx 'v2 done: ' started.log || fail "the new launcher's run did not end with an empty status"
[ "$(grep -c 'started' started.log)" = 2 ] || fail "a launcher started more than once: $(grep -c 'started' started.log) starts"
cmp -s "$name" "$v2" || fail "$name does not hold the new build"
[ ! -e Update.bat ] || fail "Update.bat is still there"
[ ! -e files.lst ] || fail "files.lst is still there"
[ ! -e "$name.New" ] || fail "$name.New is still there"
[ ! -e "$name.bz2" ] || fail "$name.bz2 is still there"

requests=$(tail -n +$((requests_before + 1)) "$access_log")
copies=$(grep -c '"GET /selfupdate/Test\(%20\| \)Launcher.exe.bz2 HTTP/1.1" 200' <<<"$requests")
lists=$(grep -c '"GET /selfupdate/files.lst.bz2 HTTP/1.1" 200' <<<"$requests")
[ "$copies" = 1 ] || fail "the new launcher was downloaded $copies times"
[ "$lists" = 2 ] || fail "the list was downloaded $lists times, not once by each launcher"

kill -0 "$bystander" 2>/dev/null || fail "the other installation's launcher was ended too"
grep -q 'was not ended' "$other/started.log" && fail "the other installation's launcher ran out its wait early"
kill "$bystander" 2>/dev/null
wait "$bystander" 2>/dev/null
echo "Update.bat ended v1 alone, swapped in v2 (one download), started it once and deleted itself"
echo "--- started.log"; cat started.log
