#!/usr/bin/env bash
# Runs orvex-publish on scratch folders and checks what it writes, prints and returns.
set -uo pipefail
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

expect_exit() {  # expect_exit CODE DESCRIPTION -- command...
  local want=$1 what=$2; shift 3
  "$@" > "$work/out" 2> "$work/err"
  local got=$?
  [ "$got" = "$want" ] || fail "$what: exit $got, wanted $want ($(cat "$work/err"))"
}
expect_text() {  # expect_text FILE TEXT
  grep -qF -- "$2" "$1" || fail "'$2' not in $(basename "$1"): $(cat "$1")"
}
list_value() { bzip2 -dc "$work/server/files.lst.bz2" | tr -d '\r' | grep "^$1|" | cut -d'|' -f2; }

client=$work/client
mkdir -p "$client/data/sub dir" "$client/system"
head -c 400000 /dev/urandom > "$client/data/sub dir/noise 1.bin"
seq 1 200000 > "$client/system/table.txt"
printf 'game' > "$client/game.exe"
printf 'launcher' > "$client/OrvexUpdater.exe"
printf 'latin' > "$client/data/caf$(printf '\xc3\xa9').dat"
printf '[main]\r\nUpdatesUrl=http://x/\r\n' > "$client/_settings.ini"
printf '[publish]\r\nSelf=OrvexUpdater.exe\r\nCritical=*.exe\r\nExclude=*.log\r\nModHosts=1\r\nHosts=127.0.0.1 login.example.net\r\n' > "$client/publish.ini"
printf 'log' > "$client/run.log"

expect_exit 0 "help" -- "$tool" build --help
expect_text "$work/out" "publish.ini"
expect_exit 2 "no command" -- "$tool"
expect_exit 0 "version" -- "$tool" --version
grep -qE '^orvex-publish [0-9]+\.[0-9]+\.[0-9]+$' "$work/out" || fail "--version printed: $(cat "$work/out")"
"$tool" --help > "$work/help-option"; "$tool" build --help > "$work/help-build"
expect_exit 0 "help command" -- "$tool" help
cmp -s "$work/out" "$work/help-option" || fail "help differs from --help: $(cat "$work/out")"
expect_exit 0 "help of a command" -- "$tool" help build
cmp -s "$work/out" "$work/help-build" || fail "help build differs from build --help"
expect_text "$work/out" "-j,--jobs,--threads N (1-64)"
expect_exit 2 "help of no command" -- "$tool" help nothing
for threads in 0 65; do expect_exit 2 "--threads $threads" -- "$tool" verify --threads "$threads" "$work"; done
expect_exit 3 "missing client" -- "$tool" build "$work/nowhere" "$work/server"
expect_text "$work/err" "does not exist"
expect_exit 3 "missing server to verify" -- "$tool" verify "$work/nowhere"

expect_exit 0 "first publish" -- "$tool" build "$client" "$work/server"
expect_text "$work/out" "compressed 5, reused 0"
[ "$(list_value Rev)" = 1 ] || fail "first Rev is $(list_value Rev)"
for f in files.lst.bz2 OrvexUpdater.exe.bz2 game.exe.bz2 "data/sub dir/noise 1.bin.bz2" system/table.txt.bz2; do
  [ -f "$work/server/$f" ] || fail "$f missing"
done
for f in _settings.ini.bz2 publish.ini.bz2 run.log.bz2; do
  [ ! -e "$work/server/$f" ] || fail "$f published"
done
bzip2 -dc "$work/server/system/table.txt.bz2" | cmp -s - "$client/system/table.txt" || fail "table.txt copy differs"
bzip2 -dc "$work/server/files.lst.bz2" | tr -d '\r' | grep -q '^\[self\]$' || fail "no self section"
bzip2 -dc "$work/server/files.lst.bz2" | tr -d '\r' | grep -qF 'data\sub dir\noise 1.bin|' || fail "no sub-folder entry"
expect_exit 0 "verify after publish" -- "$tool" verify "$work/server"
expect_text "$work/out" "no problems found"
expect_text "$work/out" "checked 5 listed files, 5 whole copies"
expect_text "$work/out" "Rev 1, unsigned"

expect_exit 0 "unchanged republish" -- "$tool" build "$client" "$work/server"
expect_text "$work/out" "compressed 0, reused 5"
[ "$(list_value Rev)" = 1 ] || fail "unchanged republish moved Rev to $(list_value Rev)"

printf 'game v2' > "$client/game.exe"
expect_exit 0 "one-file republish" -- "$tool" build "$client" "$work/server"
expect_text "$work/out" "compressed 1, reused 4"
[ "$(list_value Rev)" = 2 ] || fail "one-file republish gave Rev $(list_value Rev)"
expect_exit 0 "rev option" -- "$tool" build --rev 9 "$client" "$work/server"
[ "$(list_value Rev)" = 9 ] || fail "--rev 9 gave Rev $(list_value Rev)"

rm "$client/data/caf$(printf '\xc3\xa9').dat"
expect_exit 0 "republish without prune" -- "$tool" build "$client" "$work/server"
[ -f "$work/server/data/caf$(printf '\xc3\xa9').dat.bz2" ] || fail "copy deleted without --prune"
expect_exit 0 "prune" -- "$tool" build --prune "$client" "$work/server"
expect_text "$work/out" "pruned 1"
[ ! -e "$work/server/data/caf$(printf '\xc3\xa9').dat.bz2" ] || fail "--prune kept the copy"

# Signing: keygen's files, minisign accepting what build --sign writes, seq counting up, verify --key.
keys=$work/keys
mkdir "$keys"
expect_exit 0 "keygen" -- "$tool" keygen "$keys/talvora.key"
[ "$(stat -c %a "$keys/talvora.key")" = 600 ] || fail "secret key mode $(stat -c %a "$keys/talvora.key")"
expect_text "$work/out" "UpdateKey=$(tail -n 1 "$keys/talvora.key.pub")"
expect_exit 4 "keygen over a key" -- "$tool" keygen "$keys/talvora.key"
expect_exit 0 "second key" -- "$tool" keygen "$keys/other.key"
signed=$work/signed
sig_value() { sed -n 's/^trusted comment: .*'"$1"'=\([0-9]*\).*/\1/p' "$signed/files.lst.bz2.minisig"; }
expect_exit 0 "signed publish" -- "$tool" build -q --sign "$keys/talvora.key" "$client" "$signed"
minisign -Vm "$signed/files.lst.bz2" -p "$keys/talvora.key.pub" > "$work/mini" 2>&1 || fail "minisign -V: $(cat "$work/mini")"
[ "$(sig_value rev)/$(sig_value seq)" = "1/1" ] || fail "first signature: $(cat "$signed/files.lst.bz2.minisig")"
expect_exit 0 "unchanged signed publish" -- "$tool" build -q --sign "$keys/talvora.key" "$client" "$signed"
expect_text "$work/out" "signature kept, seq 1"
printf 'game v3' > "$client/game.exe"
expect_exit 0 "changed publish, signed by another key" -- "$tool" build -q --sign "$keys/other.key" "$client" "$signed"
[ "$(sig_value rev)/$(sig_value seq)" = "2/2" ] || fail "second signature: $(cat "$signed/files.lst.bz2.minisig")"
expect_exit 0 "verify with the signing key" -- "$tool" verify --key "$keys/other.key.pub" "$signed"
expect_text "$work/out" "signed by key $(head -n 1 "$keys/other.key.pub" | sed 's/.* //'), seq 2, no expiry (checked with --key)"
expect_exit 1 "verify with another key" -- "$tool" verify --key "$keys/talvora.key.pub" "$signed"
expect_text "$work/out" "which is not trusted"
# KEYFILE.seq: a folder built anew counts on from the key's last number, with a warning.
expect_exit 0 "signed publish into a new folder" -- "$tool" build -q --sign "$keys/other.key" --channel live "$client" "$work/anew"
expect_text "$work/err" "held no list before"
grep -qx 'trusted comment: rev=1 seq=3 channel=live' "$work/anew/files.lst.bz2.minisig" ||
  fail "new folder's signature: $(cat "$work/anew/files.lst.bz2.minisig")"
[ "$(cat "$keys/other.key.seq")" = 3 ] || fail "other.key.seq holds $(cat "$keys/other.key.seq")"
expect_exit 0 "an expiring signature" -- "$tool" build -q --sign "$keys/other.key" --expires 3600 "$client" "$work/anew"
expires=$(sed -n 's/.*expires=\([0-9]*\).*/\1/p' "$work/anew/files.lst.bz2.minisig")
expect_exit 0 "verify of an expiring signature" -- "$tool" verify --key "$keys/other.key.pub" "$work/anew"
expect_text "$work/out" "channel live, expires $(date -u -d "@$expires" '+%Y-%m-%d %H:%M:%S') UTC"
cp "$keys/talvora.key.pub" "$keys/public-key"
for public in "$keys/talvora.key.pub" "$keys/public-key"; do
  expect_exit 4 "--sign with a public key" -- "$tool" build -q --sign "$public" "$client" "$work/anew"
  expect_text "$work/err" "this is a public key; --sign takes the secret key"
done
expect_exit 2 "a channel that is not a name" -- "$tool" build -q --sign "$keys/other.key" --channel 'a b' "$client" "$work/anew"
expect_exit 2 "a channel without --sign" -- "$tool" build -q --channel live "$client" "$work/anew"
for i in 1 2 3 4 5 6 7 8; do "$tool" keygen "$keys/k$i.key" > /dev/null || fail "keygen k$i"; done
expect_exit 2 "nine keys trusted" -- "$tool" build -q --sign "$keys/other.key" \
  $(for i in 1 2 3 4 5 6 7 8; do printf -- '--next-key %s ' "$keys/k$i.key.pub"; done) "$client" "$work/anew"
expect_text "$work/err" "more than 8 keys"
cp "$signed/files.lst.bz2.minisig" "$work/good.minisig"
cp "$signed/files.lst.bz2" "$work/signed-list.bz2"
expect_exit 2 "unsigned republish over a signed folder" -- "$tool" build -q --rev 7 "$client" "$signed"
expect_text "$work/err" "--unsigned"
cmp -s "$signed/files.lst.bz2" "$work/signed-list.bz2" || fail "a refused unsigned publish replaced the list"
expect_exit 2 "--sign with --unsigned" -- "$tool" build -q --unsigned --sign "$keys/other.key" "$client" "$signed"
expect_exit 0 "republish with --rev, --unsigned" -- "$tool" build -q --unsigned --rev 7 "$client" "$signed"
[ ! -e "$signed/files.lst.bz2.minisig" ] || fail "--unsigned kept a signature of another list"
cp "$work/good.minisig" "$signed/files.lst.bz2.minisig"
expect_exit 1 "verify of a list the signature does not sign" -- "$tool" verify --key "$keys/other.key.pub" "$signed"
expect_text "$work/out" "the signature does not match the data"
expect_exit 1 "verify without --key of a signature of another Rev" -- "$tool" verify "$signed"
expect_text "$work/out" "signs rev 2, the list's Rev is 7"
minisign -G -W -p "$keys/mini.pub" -s "$keys/mini.key" > /dev/null 2>&1 || fail "minisign -G"
expect_exit 0 "build signing with minisign's key" -- "$tool" build -q --sign "$keys/mini.key" "$client" "$signed"
minisign -S -s "$keys/mini.key" -m "$signed/files.lst.bz2" -t "rev=7 seq=40" > /dev/null 2>&1 < /dev/null || fail "minisign -S"
expect_exit 0 "verify of minisign's signature" -- "$tool" verify --key "$keys/mini.pub" "$signed"
rm "$signed/files.lst.bz2.minisig"
expect_exit 1 "verify of a missing signature" -- "$tool" verify --key "$keys/other.key.pub" "$signed"
expect_text "$work/out" "files.lst.bz2.minisig is missing"

# Refusals and configuration errors leave the published folder as it was.
before=$(cd "$work/server" && find . -type f -exec md5sum {} + | sort)
printf 'bar' > "$client/a|b.dat"
expect_exit 5 "name with a bar" -- "$tool" build "$client" "$work/server"
rm "$client/a|b.dat"
# Links and what is not a plain file, each named in one run; Exclude takes one.
ln -s /etc/passwd "$client/passwd"
ln -s "$work/server" "$client/www"
ln -s /etc/passwd "$client/data/sub dir/passwd"
rm "$client/run.log" && ln -s /etc/hostname "$client/run.log"
mkfifo "$client/pipe"
mknod "$client/zero" c 1 5 2> /dev/null || cp -a /dev/zero "$client/zero" 2> /dev/null
expect_exit 5 "links, a FIFO and a device" -- timeout 60 "$tool" build "$client" "$work/server"
for name in passwd www pipe "data/sub dir/passwd"; do expect_text "$work/err" "\"$name\""; done
[ -c "$client/zero" ] && expect_text "$work/err" '"zero" is not a regular file'
if grep -qF '"run.log"' "$work/err"; then fail "an excluded link was refused"; fi
rm -f "$client/data/sub dir/passwd" "$client/passwd" "$client/www" "$client/run.log" "$client/pipe" "$client/zero"
printf 'log' > "$client/run.log"
printf '[publish]\r\nSelf=Missing.exe\r\n' > "$work/other.ini"
expect_exit 5 "missing self" -- "$tool" build -c "$work/other.ini" "$client" "$work/server"
expect_text "$work/err" "Missing.exe"
printf '[publish]\r\nModHosts=one\r\n' > "$work/bad.ini"
expect_exit 4 "bad configuration" -- "$tool" build -c "$work/bad.ini" "$client" "$work/server"
expect_text "$work/err" "ModHosts"
printf '[publish]\r\nSelf=OrvexUpdater.exe\r\nCritical=*.exe ; checked on every start\r\n' > "$work/commented.ini"
expect_exit 4 "a comment after a value" -- "$tool" build -c "$work/commented.ini" "$client" "$work/server"
expect_text "$work/err" "commented.ini, line 3: [publish] Critical="
expect_exit 4 "missing configuration" -- "$tool" build -c "$work/none.ini" "$client" "$work/server"
expect_exit 2 "server inside client" -- "$tool" build "$client" "$client/www"
after=$(cd "$work/server" && find . -type f -exec md5sum {} + | sort)
[ "$before" = "$after" ] || fail "a refused run changed the server folder"

# --chunks: a chunk store and its index beside the same copies, checked by verify --deep.
chunked=$work/chunked
expect_exit 0 "publish with chunks" -- "$tool" build --chunks "$client" "$chunked"
expect_text "$work/out" "chunks written"
[ -f "$chunked/files.idx.zst" ] || fail "no files.idx.zst"
[ "$(bzip2 -dc "$chunked/files.lst.bz2" | tr -d '\r' | grep '^Index|' | cut -d'|' -f2)" = "$(sha256sum < "$chunked/files.idx.zst" | cut -d' ' -f1)" ] ||
  fail "the Index line does not name files.idx.zst"
cmp -s "$chunked/system/table.txt.bz2" "$work/server/system/table.txt.bz2" || fail "--chunks changed a copy"
expect_exit 0 "verify --deep of chunks" -- "$tool" verify --deep "$chunked"
victim=$(find "$chunked/chunks" -type f | head -n 1)
printf 'x' >> "$victim"
expect_exit 1 "verify of a damaged chunk" -- "$tool" verify "$chunked"
expect_text "$work/out" "the index says"
expect_exit 0 "publish over a damaged chunk" -- "$tool" build -q --chunks "$client" "$chunked"
expect_text "$work/out" "chunks written again: 1 were damaged"
expect_exit 0 "verify --deep of the chunks written again" -- "$tool" verify --deep "$chunked"

# A copy cut short or written over is compressed again by the next build, and named; one damaged
# within its size only by build --full, which verify names.
s=$work/server
printf 'short' > "$s/data/sub dir/noise 1.bin.bz2"
expect_exit 0 "publish over a copy cut short" -- "$tool" build -q "$client" "$s"
expect_text "$work/out" "compressed again: the copy data/sub dir/noise 1.bin.bz2 had 5 bytes, the list says"
cmp -s <(bzip2 -dc "$s/data/sub dir/noise 1.bin.bz2") "$client/data/sub dir/noise 1.bin" || fail "the copy cut short was not put right"
printf 'XX' | dd of="$s/system/table.txt.bz2" bs=1 seek=1000 conv=notrunc 2> /dev/null
expect_exit 1 "verify of a copy damaged within its size" -- "$tool" verify "$s"
expect_text "$work/out" "only build --full compresses it again"
expect_text "$work/out" "1 problem(s) found in $s"
expect_exit 0 "full publish" -- "$tool" build -q --full "$client" "$s"
expect_exit 0 "verify after build --full" -- "$tool" verify "$s"

# verify names each fault and exits 1.
cat "$s/game.exe.bz2" "$s/game.exe.bz2" > "$s/joined" && mv "$s/joined" "$s/game.exe.bz2"
printf 'garbage' > "$s/system/table.txt.bz2"
rm "$s/OrvexUpdater.exe.bz2"
bzip2 -dc "$s/files.lst.bz2" | sed 's/^\(data\\sub dir\\noise 1.bin|[0-9a-f]*|\)[0-9]*/\17/; s/^\[\/files_normal\]/..\\..\\etc\\passwd|d41d8cd98f00b204e9800998ecf8427e|14\r\n&/' | bzip2 -9 > "$s/list.bz2"
mv "$s/list.bz2" "$s/files.lst.bz2"
expect_exit 1 "verify of a damaged folder" -- "$tool" verify "$s"
expect_text "$work/out" "game.exe.bz2 has data after its bzip2 stream"
expect_text "$work/out" "table.txt.bz2 is not valid bzip2 data"
expect_text "$work/out" "OrvexUpdater.exe.bz2 is missing"
expect_text "$work/out" "the list says 7"
expect_text "$work/out" "the path leaves the server folder"

if [ "$failures" -ne 0 ]; then echo "$failures failure(s)" >&2; exit 1; fi
echo "all checks passed"
