#!/usr/bin/env bash
# The README's _settings.ini and publish.ini, copied as they stand: orvex-publish builds and verifies
# a client with that publish.ini, and orvex-update brings an installation with that _settings.ini
# (its UpdatesUrl pointed at the test server) up to date. The signing commands of README run with their
# folders pointed at the test's, and the printed UpdateKey line goes into the installation's settings.
#   readme_examples.sh README ORVEX_PUBLISH ORVEX_UPDATE
set -uo pipefail
source "$(dirname "$0")/../common/lib.sh"
readme=$1 publish=$2 update=$3
work=$(mktemp -d)
trap 'nginx_stop "$work/web" > /dev/null 2>&1; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

example() {  # example SECTION: the indented block of README that starts with [SECTION], unindented
  awk -v start="[$1]" '
    !inside && $1 == start { inside = 1; indent = index($0, "[") - 1 }
    inside && /^[[:space:]]*$/ { exit }
    inside { print substr($0, indent + 1) }' "$readme"
}

client=$work/client inst=$work/installation
mkdir -p "$client/screenshots" "$client/system" "$inst" "$work/web/www"
example publish > "$client/publish.ini"
example main > "$work/settings.ini"
grep -q '^Critical=' "$client/publish.ini" || fail "no publish.ini example in README: $(cat "$client/publish.ini")"
grep -q '^UpdatesUrl=' "$work/settings.ini" || fail "no _settings.ini example in README: $(cat "$work/settings.ini")"

printf 'launcher' > "$client/OrvexUpdater.exe"
printf 'game' > "$client/system/orvex.exe"
printf 'library' > "$client/a.dll"
printf 'log' > "$client/run.log"
printf 'picture' > "$client/screenshots/one.bmp"

"$publish" build -q "$client" "$work/web/www" > "$work/out" 2>&1 || fail "orvex-publish build: $(cat "$work/out")"
"$publish" verify "$work/web/www" > "$work/out" 2>&1 || fail "orvex-publish verify: $(cat "$work/out")"
for excluded in run.log.bz2 screenshots/one.bmp.bz2; do
  [ -e "$work/web/www/$excluded" ] && fail "Exclude of the example did not hold: $excluded published"
done
bzip2 -dc "$work/web/www/files.lst.bz2" | tr -d '\r' > "$work/list"
grep -q '^a.dll|' <(sed -n '/^\[files_critical\]/,/^\[\/files_critical\]/p' "$work/list") ||
  fail "Critical of the example did not hold: $(cat "$work/list")"

# The README's signing commands, in order, each with its paths moved into the test's folders; an
# installation that trusts the first key made takes every list they publish, across the key change.
grep -E '^ +orvex-publish (keygen|build --sign|verify --key) ' "$readme" | sed 's/#.*//' > "$work/commands"
[ "$(wc -l < "$work/commands")" = 6 ] || fail "not the six signing commands in README: $(cat "$work/commands")"
mkdir "$work/keys"
nginx_start "$work/web" > /dev/null || fail "nginx"
version=0
while read -r command; do
  command=${command//\/srv\/keys\//$work/keys/}
  command=${command//\/srv\/client/$client}
  command=${command//\/var\/www\/talvora/$work/web/www}
  read -r -a words <<< "$command"
  [ "${words[1]}" = build ] && printf 'v%d' $((++version)) > "$client/system/orvex.exe"
  "$publish" "${words[@]:1}" < /dev/null > "$work/out" 2>&1 || fail "$command: $(cat "$work/out")"
  if [ ! -s "$inst/_settings.ini" ] && grep -q '^UpdateKey=' "$work/out"; then
    key_line=$(grep '^UpdateKey=' "$work/out" | tr -d '\r\n')
    sed "s|^UpdatesUrl=.*|UpdatesUrl=$(cat "$work/web/url")\n$key_line|" "$work/settings.ini" > "$inst/_settings.ini"
  fi
  [ "${words[1]}" = build ] || continue
  signer=${words[3]}
  minisign -Vm "$work/web/www/files.lst.bz2" -p "$signer.pub" > "$work/out" 2>&1 ||
    fail "minisign does not accept the list signed by $signer: $(cat "$work/out")"
  "$update" "$inst" > "$work/out" 2>&1 || fail "orvex-update after $command: $(cat "$work/out")"
  cmp -s "$client/system/orvex.exe" "$inst/system/orvex.exe" || fail "the game was not installed: $(cat "$work/out")"
done < "$work/commands"
[ -s "$inst/_settings.ini" ] || fail "keygen printed no UpdateKey line"
grep -qx "AtRevision=$((version + 1))" <(tr -d '\r' < "$inst/_settings.ini") || fail "AtRevision not recorded: $(cat "$inst/_settings.ini")"
# The mirroring commands, the mirror served beside the folder: an installation whose main server
# is down updates from it, and a copy pruned from the folder goes from the mirror too.
grep -E '^ +rsync ' "$readme" > "$work/mirroring"
[ "$(wc -l < "$work/mirroring")" = 3 ] || fail "not the three mirroring commands in README: $(cat "$work/mirroring")"
mkdir -p "$work/web/www/mirror/pruned"
printf 'gone' > "$work/web/www/mirror/pruned/file.bin.bz2"
while read -r command; do
  command=${command//mirror:\/var\/www\/talvora/$work/web/www/mirror}
  command=${command//\/var\/www\/talvora/$work/web/www}
  eval "$command --exclude mirror" || fail "$command"
done < "$work/mirroring"
"$publish" verify "$work/web/www/mirror" > "$work/out" 2>&1 || fail "the mirror does not verify: $(cat "$work/out")"
[ ! -e "$work/web/www/mirror/pruned" ] || fail "the mirror kept what the folder no longer holds"
printf 'v%d' $((++version)) > "$client/system/orvex.exe"
"$publish" build -q --sign "$work/keys/talvora-2.key" "$client" "$work/web/www/mirror" > /dev/null 2>&1 || fail "publish to the mirror"
sed -i "s|^UpdatesUrl=.*|UpdatesUrl=http://127.0.0.1:1/\r\nMirrors=$(cat "$work/web/url")mirror|" "$inst/_settings.ini"
"$update" "$inst" > "$work/out" 2>&1 || fail "orvex-update from the mirror: $(cat "$work/out")"
cmp -s "$client/system/orvex.exe" "$inst/system/orvex.exe" || fail "the mirror's game was not installed: $(cat "$work/out")"
# The delta-update commands, into a folder of their own: the chunk store verifies, deeply.
grep -E '^ +orvex-publish (build --chunks|verify --deep) ' "$readme" | sed 's/#.*//' > "$work/chunked"
[ "$(wc -l < "$work/chunked")" = 2 ] || fail "not the two --chunks commands in README: $(cat "$work/chunked")"
while read -r command; do
  command=${command//\/srv\/client/$client}
  command=${command//\/var\/www\/talvora/$work/chunks-www}
  read -r -a words <<< "$command"
  "$publish" "${words[@]:1}" < /dev/null > "$work/out" 2>&1 || fail "$command: $(cat "$work/out")"
done < "$work/chunked"
[ -f "$work/chunks-www/files.idx.zst" ] || fail "build --chunks wrote no index"
# The release commands, into a folder of their own that the installation then takes: a player at
# the newer release is brought back to the older one.
grep -E '^ +orvex-publish (build --release|rollback) ' "$readme" > "$work/releases"
[ "$(wc -l < "$work/releases")" = 3 ] || fail "not the three release commands in README: $(cat "$work/releases")"
sed -i -e "s|^UpdatesUrl=.*|UpdatesUrl=$(cat "$work/web/url")releases-www/\r|" -e '/^Mirrors=/d' "$inst/_settings.ini"
while read -r command; do
  command=${command//\/srv\/keys\//$work/keys/}
  command=${command//\/srv\/client/$client}
  command=${command//\/var\/www\/talvora/$work/web/www/releases-www}
  read -r -a words <<< "$command"
  [ "${words[1]}" = build ] && printf 'release %s' "${words[3]}" > "$client/system/orvex.exe"
  "$publish" "${words[@]:1}" < /dev/null > "$work/out" 2>&1 || fail "$command: $(cat "$work/out")"
  "$update" "$inst" > "$work/out" 2>&1 || fail "orvex-update after $command: $(cat "$work/out")"
done < "$work/releases"
[ "$(cat "$inst/system/orvex.exe")" = "release 1.3" ] || fail "rollback did not bring release 1.3 back: $(cat "$work/out")"
"$publish" verify --deep --key "$work/keys/talvora-2.key.pub" "$work/web/www/releases-www" > "$work/out" 2>&1 ||
  fail "the rolled-back folder does not verify: $(cat "$work/out")"
echo "the README's examples work as copied"
