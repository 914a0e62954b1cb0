#!/usr/bin/env bash
# Publishes a client, serves it with nginx and updates an empty installation with orvex-update:
# the installation must end up byte for byte the client, again after a republish.
set -uo pipefail
source "$(dirname "$0")/../common/lib.sh"
publish=$1 update=$2
work=$(mktemp -d)
trap 'nginx_stop "$work/web" > /dev/null 2>&1; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

client=$work/client inst=$work/installation
mkdir -p "$client/data/sub dir" "$client/system" "$inst" "$work/web/www"
head -c 300000 /dev/urandom > "$client/data/sub dir/noise 1.bin"
seq 1 100000 > "$client/system/table.txt"
printf 'game' > "$client/game.exe"
printf 'latin' > "$client/data/caf$(printf '\xc3\xa9').dat"
: > "$client/empty.bin"
printf '[publish]\r\nCritical=*.exe\r\n' > "$client/publish.ini"

"$publish" build -q "$client" "$work/web/www" > /dev/null || fail "publish"
nginx_start "$work/web" > /dev/null || fail "nginx"
printf '[main]\r\nUpdatesUrl=%s\r\n' "$(cat "$work/web/url")" > "$inst/_settings.ini"

same_tree() {  # the installation holds exactly the client's published files
  diff -r -x _settings.ini -x publish.ini -x backup -x .orvex "$client" "$inst" > "$work/diff" 2>&1 ||
    fail "$1: trees differ: $(cat "$work/diff")"
}
"$update" "$inst" > "$work/out" 2>&1 || fail "first update: $(cat "$work/out")"
same_tree "first update"

printf 'game v2' > "$client/game.exe"
seq 1 100001 > "$client/system/table.txt"
"$publish" build -q "$client" "$work/web/www" > "$work/out" || fail "republish"
grep -q "compressed 2, reused 3" "$work/out" || fail "republish: $(cat "$work/out")"
"$update" "$inst" > "$work/out" 2>&1 || fail "second update: $(cat "$work/out")"
same_tree "update after republish"

# A move to a new key across three signed publishes: old key; old key naming the new one; new key
# alone. A player who takes the middle list follows; one who skips it is refused the last.
"$publish" keygen "$work/old.key" > /dev/null && "$publish" keygen "$work/new.key" > /dev/null || fail "keygen"
trust_old() { sed -i "s|^\[main\]\r\$|[main]\r\nUpdateKey=$(tail -n 1 "$work/old.key.pub")\r|" "$1/_settings.ini"; }
cp -r "$inst" "$work/skipping"
trust_old "$inst"
trust_old "$work/skipping"
signed_publish() {  # $1: what changes, then build's signing options
  printf '%s' "$1" > "$client/game.exe"
  shift
  "$publish" build -q "$@" "$client" "$work/web/www" > "$work/out" || fail "publish $*: $(cat "$work/out")"
}
signed_publish "game v3" --sign "$work/old.key"
"$update" "$inst" > "$work/out" 2>&1 || fail "update signed by the old key: $(cat "$work/out")"
"$update" "$work/skipping" > "$work/out" 2>&1 || fail "update signed by the old key: $(cat "$work/out")"
signed_publish "game v4" --sign "$work/old.key" --next-key "$work/new.key.pub"
"$update" "$inst" > "$work/out" 2>&1 || fail "update naming the new key: $(cat "$work/out")"
grep -q "^UpdateKey=$(tail -n 1 "$work/old.key.pub") $(tail -n 1 "$work/new.key.pub")" "$inst/_settings.ini" ||
  fail "the new key was not added: $(cat "$inst/_settings.ini")"
grep -qx "orvex-update: UpdateKey changed by the update list's keys section: added key $(head -n 1 "$work/new.key.pub" | sed 's/.* //')" "$work/out" ||
  fail "the added key not told: $(cat "$work/out")"
signed_publish "game v5" --sign "$work/new.key"
"$update" "$inst" > "$work/out" 2>&1 || fail "update signed by the new key: $(cat "$work/out")"
same_tree "update after the key moved"
"$update" "$work/skipping" > "$work/out" 2>&1 && fail "a player who never saw the new key took its list"
grep -q "made with a key not in UpdateKey" "$work/out" || fail "refusal without its reason: $(cat "$work/out")"
[ "$(cat "$work/skipping/game.exe")" = "game v3" ] || fail "a refused list changed game.exe"
echo "installation matches the client"
