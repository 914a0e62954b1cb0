#!/usr/bin/env bash
# The self-update swap under Wine: the stand-in launcher v1 runs an update whose list names v2 as
# the launcher; Update.bat must end v1, put v2 in its place, start it and delete itself.
#   selfupdate.sh WINE_DIR V1_EXE V2_EXE SERVER_DIR
set -uo pipefail
source "$(dirname "$0")/../common/lib.sh"
wine_dir=$1 v1=$2 v2=$3 server_dir=$4
name=TestLauncher.exe
www=$server_dir/www/selfupdate
install=$server_dir/scratch/selfupdate-install
url=$(<"$server_dir/url")selfupdate/

fail() { echo "FAIL: $*"; echo "--- started.log"; cat "$install/started.log" 2>/dev/null; echo "--- files"; ls -la "$install"; exit 1; }

rm -rf "$www" "$install"
mkdir -p "$www" "$install"
cp "$v1" "$install/$name"
cmp -s "$v1" "$v2" && fail "the two builds are identical"
bzip2 -9 -c "$v2" >"$www/$name.bz2"
md5=$(md5sum <"$v2" | cut -d' ' -f1)
size=$(stat -c %s "$www/$name.bz2")
printf '[settings]\r\nRev|1\r\nModHosts|0\r\n[/settings]\r\n[self]\r\n%s|%s|%s\r\n[/self]\r\n' "$name" "$md5" "$size" >"$www/files.lst"
bzip2 -9 -c "$www/files.lst" >"$www/files.lst.bz2"
rm "$www/files.lst"
printf '[main]\r\nUpdatesUrl=%s\r\nAtRevision=1\r\n' "$url" >"$install/_settings.ini"

cd "$install" || exit 1
started=$(date +%s)
wine_run "$wine_dir" "$name"
echo "v1 ended with status $? after $(( $(date +%s) - started )) s"

# The batch file goes on after v1 has ended: wait for the new launcher's run to finish.
for _ in $(seq 120); do
  grep -q '^v2 done' started.log 2>/dev/null && [ ! -e Update.bat ] && break
  sleep 0.5
done

grep -qx 'v1 started' started.log || fail "v1 never started"
grep -q '^v1 was not ended' started.log && fail "Update.bat did not end v1"
[ $(( $(date +%s) - started )) -lt 55 ] || fail "v1 was not ended before its wait ran out"
grep -qx 'v2 started' started.log || fail "the new launcher was not started"
grep -qx 'v2 done: ' started.log || fail "the new launcher's run did not end with an empty status"
cmp -s "$name" "$v2" || fail "$name does not hold the new build"
[ ! -e Update.bat ] || fail "Update.bat is still there"
[ ! -e files.lst ] || fail "files.lst is still there"
[ ! -e "$name.New" ] || fail "$name.New is still there"
[ ! -e "$name.bz2" ] || fail "$name.bz2 is still there"
echo "Update.bat ended v1, swapped in v2, started it and deleted itself"
echo "--- started.log"; cat started.log
