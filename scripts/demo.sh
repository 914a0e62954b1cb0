#!/usr/bin/env bash
# The demo: publishes a small game client to a local nginx, its list signed with a demo key, prepares an installation with
# _settings.ini and a news page, starts OrvexUpdater.exe under Wine (on the user's display, or on
# Xvfb with a screenshot) and reports what the run did. Its display, Wine prefix and server are
# its own, so it can run beside the tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tests/common/lib.sh"
demo=$root/build/demo
server=$demo/nginx
client=$demo/client
install=$demo/install
wine_dir=$demo/wine
demo_display=:95
exe=$root/build/win32/bin/OrvexUpdater.exe
publish=$root/build/native/bin/orvex-publish
own_xvfb=0

cleanup() {
  [[ -n ${launcher:-} ]] && kill "$launcher" 2>/dev/null || true
  ((own_xvfb)) && xvfb_stop "$demo/xvfb"
  nginx_stop "$server" >/dev/null 2>&1 || true
}
trap cleanup EXIT

rm -rf "$client" "$install" "$demo/keys"
mkdir -p "$client/system" "$client/data/maps" "$install"

# The game client as the publisher has it.
cp "$root/build/win32/bin/window_test_game.exe" "$client/system/orvex.exe" 2>/dev/null ||
  echo "demo game program" >"$client/system/orvex.exe"
for i in 1 2 3; do head -c $((200000 * i)) /dev/urandom >"$client/data/maps/map$i.dat"; done
printf 'Resolution=1024x768\r\n' >"$client/system/option.ini"
printf '[publish]\r\nCritical=*.exe\r\n' >"$client/publish.ini"

nginx_start "$server" >/dev/null
url=$(<"$server/url")
# The publisher's key stays outside the served folder; players' settings get its public line.
mkdir -p "$demo/keys"
"$publish" keygen "$demo/keys/demo.key" >/dev/null
"$publish" build -q --sign "$demo/keys/demo.key" "$client" "$server/www/client" --rev 3
cat >"$server/www/news.html" <<'HTML'
<html><body style="background:#0b1220;color:#c8d2e0;font-family:sans-serif">
<h2>Talvora news</h2><p>The demo server is up. Revision 3 brings three new maps.</p></body></html>
HTML

printf '[main]\r\nNewsUrl=%snews.html\r\nUpdatesUrl=%sclient/\r\nLinkName=\r\nInstalled=1\r\nCreateBackup=0\r\nAtRevision=0\r\nUpdateKey=%s\r\n' \
  "$url" "$url" "$(tail -n 1 "$demo/keys/demo.key.pub")" >"$install/_settings.ini"
# One damaged file of the set the run has to replace.
mkdir -p "$install/data/maps"
echo "damaged" >"$install/data/maps/map2.dat"

if [[ -z ${DISPLAY:-} ]]; then
  export DISPLAY=$demo_display
  own_xvfb=1
  xvfb_start "$demo/xvfb" "$DISPLAY" 1024x768x24 >/dev/null
fi
[[ -d $wine_dir/prefix ]] || wine_run "$wine_dir" wineboot -i >/dev/null 2>&1
(cd "$install" && wine_env "$wine_dir" && exec wine "$exe") >"$demo/wine.log" 2>&1 &
launcher=$!

echo "OrvexUpdater.exe runs in $install against ${url}client/ (display $DISPLAY)"
for _ in $(seq 120); do
  grep -q '^AtRevision=3' "$install/_settings.ini" && break
  sleep 0.5
done
sleep 1
updated=0
for f in system/orvex.exe data/maps/map1.dat data/maps/map2.dat data/maps/map3.dat system/option.ini; do
  cmp -s "$client/$f" "$install/$f" && updated=$((updated + 1))
done
echo "files up to date: $updated of 5"
echo "revision recorded: $(tr -d '\r' <"$install/_settings.ini" | sed -n 's/^AtRevision=//p')"
echo "signed list accepted, sequence number recorded: $(tr -d '\r' <"$install/_settings.ini" | sed -n 's/^ListSeq=//p')"
echo "requests the server saw: $(wc -l <"$server/logs/access.log")"
if ((own_xvfb)); then
  import -window root "$demo/screenshot.png"
  echo "screenshot: $demo/screenshot.png"
else
  echo "The launcher stays open on your display; close it with its cross."
  wait "$launcher" || true
fi
