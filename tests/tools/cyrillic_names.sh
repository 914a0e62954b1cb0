#!/usr/bin/env bash
# A client with Cyrillic names for players whose ANSI code page is 1251: published natively and by
# orvex-publish.exe under Wine in a Russian locale into identical server folders (copies under
# their UTF-8 names, the list in code page 1251), served by nginx, and installed by orvex-update.exe
# under Wine and by the native orvex-update, each file under its own name with its content.
#   cyrillic_names.sh NATIVE_PUBLISH NATIVE_UPDATE WINDOWS_PUBLISH WINDOWS_UPDATE WINE_DIR
set -uo pipefail
source "$(dirname "$0")/../common/lib.sh"
publish=$1 update=$2 publish_exe=$3 update_exe=$4 wine_dir=$(realpath -m "$5")
if [ ! -x "$publish" ] || [ ! -x "$update" ]; then
  echo "no native orvex-publish and orvex-update beside $publish (build them first): skipped"
  exit 77
fi
work=$(mktemp -d)
trap 'nginx_stop "$work/web" > /dev/null 2>&1; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
locale -a | grep -qix 'ru_RU.utf8' || fail "no ru_RU.UTF-8 locale (make setup generates it)"
# Wine's ANSI code page is then 1251.
export LANG=ru_RU.UTF-8
wine() { wine_run "$wine_dir" "$@"; }

client=$work/client maps="data/Карты и уровни"
mkdir -p "$client/$maps" "$work/web/www"
printf 'map one' > "$client/$maps/карта 1.dat"
printf 'game' > "$client/game.exe"
printf '[publish]\r\nCritical=*.exe\r\nCodePage=1251\r\n' > "$client/publish.ini"

# The default code page has no Cyrillic letters: refused, naming the file and the code page.
"$publish" build -q --codepage 1252 "$client" "$work/refused" > "$work/out" 2>&1 && fail "1252 took Cyrillic names"
grep -qF "\"$(tr / '\\' <<<"$maps")\\карта 1.dat\" cannot be written in the list's code page 1252" "$work/out" ||
  fail "refusal: $(cat "$work/out")"

"$publish" build -q "$client" "$work/web/www/native" > "$work/out" 2>&1 || fail "native publish: $(cat "$work/out")"
wine "$publish_exe" build -q --codepage 1251 "$(win_path "$client")" "$(win_path "$work/web/www/wine")" \
  > "$work/out" 2>&1 || fail "publish under Wine: $(cat "$work/out")"
# Without the locale installed Wine cannot map the names back: refused, never left out unsaid.
LOCPATH=$work/no-locales wine "$publish_exe" build -q --codepage 1251 "$(win_path "$client")" \
  "$(win_path "$work/unmapped")" > "$work/out" 2>&1 && fail "published without the folder Wine could not map"
grep -qF 'does not open by that name' "$work/out" || fail "no reason for the unmapped name: $(cat "$work/out")"
diff -r "$work/web/www/native" "$work/web/www/wine" > "$work/diff" 2>&1 ||
  fail "the server folders differ: $(cat "$work/diff")"
[ -f "$work/web/www/native/$maps/карта 1.dat.bz2" ] || fail "no copy under the UTF-8 name: $(find "$work/web/www")"
bzip2 -dc "$work/web/www/native/files.lst.bz2" | iconv -f CP1251 -t UTF-8 | tr -d '\r' |
  grep -qF 'data\Карты и уровни\карта 1.dat|' || fail "the list names the file otherwise"
wine "$publish_exe" verify "$(win_path "$work/web/www/native")" > "$work/out" 2>&1 || fail "verify: $(cat "$work/out")"

nginx_start "$work/web" > /dev/null || fail "nginx"
url=$(cat "$work/web/url")
install() {  # install WHERE FROM RUNNER...: one installation updated from one server folder
  local inst=$work/$1
  mkdir -p "$inst"
  printf '[main]\r\nUpdatesUrl=%s%s/\r\n' "$url" "$2" > "$inst/_settings.ini"
  shift 2
  "$@" "$([ "$1" = wine ] && win_path "$inst" || echo "$inst")" > "$work/out" 2>&1 || fail "$inst: $(cat "$work/out")"
  diff -r -x _settings.ini -x publish.ini -x .orvex -x backup "$client" "$inst" > "$work/diff" 2>&1 ||
    fail "$inst differs from the client: $(cat "$work/diff")"
}
install wine-from-native native wine "$update_exe"
install native-from-wine wine "$update"
for folder in native wine; do
  grep -qF "\"GET /$folder/data/%D0%9A%D0%B0%D1%80%D1%82%D1%8B%20%D0%B8%20" "$work/web/logs/access.log" ||
    fail "not asked for in percent-encoded UTF-8: $(cat "$work/web/logs/access.log")"
done
echo "Cyrillic names published and installed on both sides"
