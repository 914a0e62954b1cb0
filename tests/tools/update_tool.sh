#!/usr/bin/env bash
# Runs orvex-update on scratch installations against the test web server and checks its exit
# status, its messages and what it leaves on disk.
#   update_tool.sh SERVER_DIR TOOL            natively
#   update_tool.sh SERVER_DIR TOOL WINE_DIR   the Windows build under Wine
set -uo pipefail
source "$(dirname "$0")/../common/lib.sh"
server_dir=$1 tool=$2
runner=()
[ $# -ge 3 ] && runner=(wine_run "$3")
url=$(<"$server_dir/url")update-tool/
www=$server_dir/www/update-tool
work=$server_dir/scratch/update-tool${3:+-wine}
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# on_pty OUT COMMAND...: COMMAND with its output on a pseudo-terminal of its own, saved in OUT;
# prints the seconds it took and exits with its status.
on_pty() {
  python3 - "$@" <<'EOF'
import os, pty, sys, time
start = time.monotonic()
pid, fd = pty.fork()
if pid == 0:
    os.execvp(sys.argv[2], sys.argv[2:])
shown = bytearray()
while True:
    try:
        chunk = os.read(fd, 65536)
    except OSError:  # the terminal's last writer has gone
        break
    if not chunk:
        break
    shown += chunk
status = os.waitpid(pid, 0)[1]
with open(sys.argv[1], "wb") as out:
    out.write(shown)
print(f"{time.monotonic() - start:.3f}")
sys.exit(os.waitstatus_to_exitcode(status))
EOF
}

# A path as the tool takes it: under Wine the Unix root is drive Z:.
arg() { if [ ${#runner[@]} -gt 0 ]; then win_path "$1"; else printf '%s' "$1"; fi; }
run() { "${runner[@]}" "$tool" "$@" >"$work/out" 2>"$work/err"; }
expect_exit() {  # expect_exit CODE WHAT -- args...
  local want=$1 what=$2; shift 3
  run "$@"
  local got=$?
  [ "$got" = "$want" ] || fail "$what: exit $got, wanted $want; out: $(cat "$work/out") err: $(cat "$work/err")"
}
expect_line() {  # expect_line FILE LINE
  tr -d '\r' <"$1" | grep -qxF -- "$2" || fail "no line '$2' in $(basename "$1"): $(cat "$1")"
}

rm -rf "$www" "$work"
mkdir -p "$www/data" "$work/client/data" "$work/install"

# The server folder: game.exe critical, data\a.txt normal, Rev 3.
printf 'game program v2' >"$work/client/game.exe"
printf 'text of a, v2' >"$work/client/data/a.txt"
publish() {  # publish REV
  local list="[settings]\r\nRev|$1\r\nModHosts|0\r\n[/settings]\r\n"
  local section path file
  for section in files_critical:game.exe files_normal:data/a.txt; do
    path=${section#*:} file=$work/client/${section#*:}
    bzip2 -9 -c "$file" >"$www/$path.bz2"
    list+="[${section%%:*}]\r\n${path//\//\\\\}|$(md5sum <"$file" | cut -d' ' -f1)|$(stat -c %s "$www/$path.bz2")\r\n[/${section%%:*}]\r\n"
  done
  printf "$list" | bzip2 -9 >"$www/files.lst.bz2"
}
publish 3
install=$work/install
printf '[main]\r\nUpdatesUrl=%s\r\nAtRevision=1\r\nCreateBackup=0\r\n' "$url" >"$install/_settings.ini"
printf 'old game' >"$install/game.exe"

# Usage errors.
expect_exit 2 "unknown option" -- --no-such-option
expect_exit 2 "missing folder" -- "$(arg "$work/no such folder")"
expect_exit 2 "no settings file" -- "$(arg "$work")"
expect_line "$work/err" "orvex-update: ERROR: _settings.ini Not Found ! (in $(arg "$work"))"
expect_exit 0 "--version" -- --version
expect_line "$work/out" "orvex-update $(sed -n 's/.*OrvexVersion = "\(.*\)";/\1/p' "$(dirname "$0")/../../tools/common/Version.h")"

# A run with a newer Rev brings every file and records it.
expect_exit 0 "update" -- "$(arg "$install")"
cmp -s "$install/game.exe" "$work/client/game.exe" || fail "game.exe not updated"
cmp -s "$install/data/a.txt" "$work/client/data/a.txt" || fail "data/a.txt not updated"
tr -d '\r' <"$install/_settings.ini" | grep -qx 'AtRevision=3' || fail "AtRevision not recorded: $(cat "$install/_settings.ini")"
expect_line "$work/out" "Downloading data\\a.txt"
expect_line "$work/err" "orvex-update: The update list is not signed: no UpdateKey in the settings"
# The result and the summary end the output.
tr -d '\r' <"$work/out" | tail -n 3 | tr '\n' '|' |
  grep -qE '^All the files have been updated\|2 files fetched, 0 failed, [0-9.]+ (B|KiB) downloaded in [0-9.]+ s\|Revision 3 recorded\|$' ||
  fail "the output does not end with the result and the summary: $(cat "$work/out")"
# Windows ends lines with CR LF; a CR anywhere else is a redraw.
sed 's/\r$//' "$work/out" | grep -q $'\r\|\e' && fail "redrawn lines on output that is not a terminal: $(cat -A "$work/out")"
[ -e "$install/files.lst" ] && fail "files.lst left behind"

# Nothing to do: exit 0 and says so. From inside the folder, without an argument.
(cd "$install" && "${runner[@]}" "$tool" >"$work/out" 2>"$work/err") || fail "nothing to do: exit $?"
expect_line "$work/out" "Up to date"

# A damaged normal file is left alone at the same Rev and repaired by --full.
printf 'damaged' >"$install/data/a.txt"
expect_exit 0 "ordinary run at the same Rev" -- "$(arg "$install")"
[ "$(cat "$install/data/a.txt")" = damaged ] || fail "an ordinary run at the same Rev compared files_normal"
expect_exit 0 "full check" -- --full "$(arg "$install")"
cmp -s "$install/data/a.txt" "$work/client/data/a.txt" || fail "--full did not repair data/a.txt"

# A copy the server answers with an error page: exit 1, "Update Failed", the file kept, the
# reason and the summary given.
printf 'game program v3' >"$work/client/game.exe"
publish 4
rm "$www/game.exe.bz2"
expect_exit 1 "failed update" -- "$(arg "$install")"
expect_line "$work/out" "Update Failed"
[ "$(tr -d '\r' <"$work/out" | grep -cx 'Update Failed')" = 1 ] || fail "\"Update Failed\" not once: $(cat "$work/out")"
[ "$(cat "$install/game.exe")" = "game program v2" ] || fail "the previous game.exe was not kept"
expect_line "$work/err" "orvex-update: ${url}game.exe.bz2: HTTP status 404, not retried"
tr -d '\r' <"$work/out" | tail -n 2 | tr '\n' '|' | grep -qE '^Update Failed\|0 files fetched, 1 failed, ' ||
  fail "no summary of the failure: $(cat "$work/out")"

# A copy that does not unpack: the address and the decoder's reason.
publish 4
printf 'not bzip2 data' >"$www/game.exe.bz2"
expect_exit 1 "a copy that does not unpack" -- "$(arg "$install")"
expect_line "$work/err" "orvex-update: ${url}game.exe.bz2: the copy does not unpack (bzip2 error -5), not retried"

# A name with control characters is refused, and shown escaped, never sent raw.
printf '[settings]\r\nRev|5\r\nModHosts|0\r\n[/settings]\r\n[files_critical]\r\nbad\033[31m\007.txt|d41d8cd98f00b204e9800998ecf8427e|1\r\n[/files_critical]\r\n' |
  bzip2 -9 >"$www/files.lst.bz2"
expect_exit 1 "a name with control characters" -- "$(arg "$install")"
expect_line "$work/err" 'orvex-update: "bad\x1B[31m\x07.txt" holds a control character: left out'
cat "$work/out" "$work/err" | grep -q $'\e\|\a' && fail "control characters on the output: $(cat -A "$work/out" "$work/err")"

# Host entries go only into the file --hosts-file names; on Linux, without it, the run says so and goes on.
printf '[settings]\r\nRev|6\r\nModHosts|1\r\n[/settings]\r\n[hosts]\r\n10.0.0.1|login.example.net\r\n[/hosts]\r\n' |
  bzip2 -9 >"$www/files.lst.bz2"
printf '10.0.0.9 login.example.net\n' >"$work/hosts"
expect_exit 0 "--hosts-file" -- --hosts-file "$(arg "$work/hosts")" "$(arg "$install")"
[ "$(head -1 "$work/hosts")" = "#10.0.0.9 login.example.net" ] || fail "--hosts-file not edited: $(cat "$work/hosts")"
grep -qxF $'10.0.0.1\tlogin.example.net' "$work/hosts" || fail "no entry in --hosts-file: $(cat "$work/hosts")"
if [ ${#runner[@]} = 0 ]; then
  expect_exit 0 "host entries without a hosts file" -- "$(arg "$install")"
  expect_line "$work/err" "orvex-update: the update list's host entries were not applied: no hosts file to edit"
fi
printf '[settings]\r\nRev|7\r\nModHosts|1\r\n[/settings]\r\n[hosts]\r\n10.0.0.1|localhost\r\n[/hosts]\r\n' |
  bzip2 -9 >"$www/files.lst.bz2"
cp "$work/hosts" "$work/hosts.before"
expect_exit 1 "a loopback host entry" -- --hosts-file "$(arg "$work/hosts")" "$(arg "$install")"
cmp -s "$work/hosts" "$work/hosts.before" || fail "a refused entry changed the hosts file"
expect_line "$work/err" "orvex-update: the update list's host entries were not applied: Bad hosts entry \"10.0.0.1|localhost\": a loopback name is never redirected"

# A list signed with minisign, as an operator signs it: taken, its seq recorded; then an older
# signed list replayed: refused, named, and the installation and its settings stay as they were.
signed=$work/signed
mkdir -p "$signed"
minisign -G -W -p "$work/key.pub" -s "$work/key.sec" </dev/null >/dev/null 2>&1 || fail "minisign -G failed"
sign() { minisign -S -s "$work/key.sec" -m "$www/files.lst.bz2" -t "rev=$1 seq=$2" </dev/null >/dev/null 2>&1 || fail "minisign -S failed"; }
publish 3
sign 3 7
printf '[main]\r\nUpdatesUrl=%s\r\nAtRevision=1\r\nUpdateKey=%s\r\nListSeq=6\r\n' "$url" "$(sed -n 2p "$work/key.pub")" >"$signed/_settings.ini"
expect_exit 0 "a signed list" -- "$(arg "$signed")"
tr -d '\r' <"$signed/_settings.ini" | grep -qx 'ListSeq=7' || fail "ListSeq not recorded: $(cat "$signed/_settings.ini")"
printf 'old game' >"$signed/game.exe"
cp "$signed/_settings.ini" "$work/settings.before"
sign 3 5
expect_exit 1 "a replayed signed list" -- "$(arg "$signed")"
expect_line "$work/err" "orvex-update: The update list was refused: its sequence number 5 is lower than the last accepted, 7: an older list"
cmp -s "$signed/_settings.ini" "$work/settings.before" || fail "a refused list changed the settings"
[ "$(cat "$signed/game.exe")" = 'old game' ] || fail "a refused list changed game.exe"
rm -f "$www/files.lst.bz2.minisig"

# One update per folder: a second orvex-update beside a running one stops with status 2.
mkdir -p "$www/slow" "$work/locked"
head -c 4000000 /dev/urandom >"$work/big.bin"
bzip2 -1 -c "$work/big.bin" >"$www/slow/big.bin.bz2"
printf "[settings]\r\nRev|1\r\nModHosts|0\r\n[/settings]\r\n[files_critical]\r\nbig.bin|$(md5sum <"$work/big.bin" | cut -d' ' -f1)|$(stat -c %s "$www/slow/big.bin.bz2")\r\n[/files_critical]\r\n" |
  bzip2 -9 >"$www/slow/files.lst.bz2"
printf '[main]\r\nUpdatesUrl=%sslow/update-tool/slow/\r\n' "$(<"$server_dir/url")" >"$work/locked/_settings.ini"
"${runner[@]}" "$tool" "$(arg "$work/locked")" >"$work/first" 2>&1 &
first=$!
for _ in $(seq 100); do grep -q "Downloading big.bin" "$work/first" && break; sleep 0.2; done
grep -q "Downloading big.bin" "$work/first" || fail "the first run did not start: $(cat "$work/first")"
expect_exit 2 "a second run in the same folder" -- "$(arg "$work/locked")"
expect_line "$work/err" "orvex-update: an update is already running in $(arg "$work/locked")"
kill "$first" 2>/dev/null
wait "$first" 2>/dev/null

# An unreachable server: exit 1, and why in words.
printf '[main]\r\nUpdatesUrl=http://127.0.0.1:1/\r\n' >"$install/_settings.ini"
expect_exit 1 "unreachable server" -- "$(arg "$install")"
if [ ${#runner[@]} -gt 0 ]; then
  grep -qF "cannot connect to the server (error 12029)" "$work/err" || fail "the unreachable server not in words: $(cat "$work/err")"
fi

# On a terminal the line is redrawn at most ten times a second, however many files come; the
# result and the summary still end the output. 300 files, each of which the run reports a dozen times.
mkdir -p "$www/many" "$work/many"
list="[settings]\r\nRev|1\r\nModHosts|0\r\n[/settings]\r\n[files_critical]\r\n"
for i in $(seq 300); do
  printf 'file %s' "$i" >"$work/many.txt"
  bzip2 -1 -c "$work/many.txt" >"$www/many/f$i.txt.bz2"
  list+="f$i.txt|$(md5sum <"$work/many.txt" | cut -d' ' -f1)|$(stat -c %s "$www/many/f$i.txt.bz2")\r\n"
done
printf "$list[/files_critical]\r\n" | bzip2 -9 >"$www/many/files.lst.bz2"
printf '[main]\r\nUpdatesUrl=%smany/\r\n' "$url" >"$work/many/_settings.ini"
seconds=$(on_pty "$work/pty" bash -c 'source "$1"; shift; "$@"' - "$(dirname "$0")/../common/lib.sh" "${runner[@]}" "$tool" "$(arg "$work/many")") ||
  fail "the run on a terminal: exit $?: $(cat -A "$work/pty")"
# A terminal ends each line with CR LF; any other CR is a redraw.
redraws=$(sed 's/\r$//' "$work/pty" | tr -cd '\r' | wc -c)
awk -v n="$redraws" -v s="$seconds" 'BEGIN { exit !(n <= 10 * s + 5) }' ||
  fail "$redraws redraws in $seconds s on a terminal"
# Wine's console draws each character with escape sequences of its own, a space as "erase, step right".
tr -d '\r' <"$work/pty" | sed -E 's/\x1b\[K\x1b\[1C/ /g; s/\x1b\[[0-9;?]*[A-Za-z]//g' | tail -n 3 | tr '\n' '|' |
  grep -qE '^All the files have been updated\|300 files fetched, 0 failed, [0-9.]+ KiB downloaded in [0-9.]+ s\|Revision 1 recorded\|$' ||
  fail "the terminal's output does not end with the result and the summary: $(cat -A "$work/pty" | tail -n 5)"

[ "$failures" = 0 ] && echo "orvex-update: all checks passed${3:+ (under Wine)}"
exit $((failures > 0))
