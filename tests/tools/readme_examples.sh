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

# The README's signing commands, in order, each with its paths moved into the test's folders.
grep -E '^ +orvex-publish (keygen|build --sign|verify --key) ' "$readme" | sed 's/#.*//' > "$work/commands"
[ "$(wc -l < "$work/commands")" = 3 ] || fail "not the three signing commands in README: $(cat "$work/commands")"
mkdir "$work/keys"
while read -r command; do
  command=${command//\/srv\/keys\//$work/keys/}
  command=${command//\/srv\/client/$client}
  command=${command//\/var\/www\/talvora/$work/web/www}
  read -r -a words <<< "$command"
  "$publish" "${words[@]:1}" < /dev/null > "$work/out" 2>&1 || fail "$command: $(cat "$work/out")"
  grep -q '^UpdateKey=' "$work/out" && grep '^UpdateKey=' "$work/out" > "$work/key-line"
done < "$work/commands"
[ -s "$work/key-line" ] || fail "keygen printed no UpdateKey line"
minisign -Vm "$work/web/www/files.lst.bz2" -p "$work/keys/talvora.key.pub" > "$work/out" 2>&1 ||
  fail "minisign does not accept the signed list: $(cat "$work/out")"

nginx_start "$work/web" > /dev/null || fail "nginx"
sed "s|^UpdatesUrl=.*|UpdatesUrl=$(cat "$work/web/url")\n$(tr -d '\r\n' < "$work/key-line")|" "$work/settings.ini" > "$inst/_settings.ini"
"$update" "$inst" > "$work/out" 2>&1 || fail "orvex-update: $(cat "$work/out")"
cmp -s "$client/system/orvex.exe" "$inst/system/orvex.exe" || fail "the game was not installed: $(cat "$work/out")"
grep -qx 'AtRevision=1' <(tr -d '\r' < "$inst/_settings.ini") || fail "AtRevision not recorded: $(cat "$inst/_settings.ini")"
echo "the README's examples work as copied"
