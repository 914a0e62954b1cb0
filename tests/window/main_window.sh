#!/usr/bin/env bash
# Window tests of OrvexUpdater.exe under Wine on a private X server, driven with xdotool and judged
# by screenshots and by what lands on disk.
#   main_window.sh CASE     with BIN, WINE_DIR, WORK, SERVER_DIR (nginx_start's folder), DISPLAY
set -euo pipefail
source "$(dirname "$0")/../common/lib.sh"
case_name=$1
: "${BIN:?}" "${WINE_DIR:?}" "${WORK:?}" "${SERVER_DIR:?}" "${DISPLAY:?}"
export DISPLAY
exe=$BIN/OrvexUpdater.exe
url=$(<"$SERVER_DIR/url")
www=$SERVER_DIR/www
client=$WORK/client
pids=()

cleanup() {
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# A fresh installation folder with the given settings lines.
install_folder() {
  local dir=$WORK/cases/$case_name$1
  shift
  rm -rf "$dir"
  mkdir -p "$dir"
  if (($#)); then
    { echo "[main]"; printf '%s\n' "$@"; } | sed 's/$/\r/' >"$dir/_settings.ini"
  fi
  echo "$dir"
}

# Starts the launcher in a folder; its process id is in $launcher.
start_launcher() {
  (cd "$1" && wine_env "$WINE_DIR" && exec wine "$exe") >"$1/wine.log" 2>&1 &
  launcher=$!
  pids+=("$launcher")
}

visible_windows() { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; }
main_windows_are() { (($(visible_windows '^FormMain$' | wc -l) == $1)); }

# Waits for a visible window named exactly $1 larger than one pixel; prints its id.
find_window() {
  local name=$1 limit=${2:-40}
  for _ in $(seq $((limit * 4))); do
    for id in $(visible_windows "^$name\$"); do
      eval "$(xdotool getwindowgeometry --shell "$id")"
      if ((WIDTH > 1)); then
        echo "$id"
        return 0
      fi
    done
    sleep 0.25
  done
  return 1
}

wait_exit() {
  local pid=$1 limit=$2
  for _ in $(seq $((limit * 10))); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}

wait_for() {
  local limit=$1
  shift
  for _ in $(seq $((limit * 4))); do
    "$@" && return 0
    sleep 0.25
  done
  return 1
}

revision_recorded() { grep -q "^AtRevision=$2" "$1/_settings.ini"; }
same_file() { cmp -s "$1" "$2"; }
up_to_date() { revision_recorded "$1" 5 && same_file "$client/data/big.bin" "$1/data/big.bin"; }

shot() {
  import -window root "$1"
}
pixel() { convert "$1" -format "%[pixel:p{$2,$3}]" info:; }

# Window origin on the screen into $X and $Y.
origin() { eval "$(xdotool getwindowgeometry --shell "$1")"; }
click_at() {
  xdotool mousemove "$1" "$2"
  sleep 0.2
  xdotool mousemove "$(($1 + 1))" "$2" click 1
}

# Centres of the buttons, in client coordinates.
PLAY=(734 534)
CHECK=(625 519)
CANCEL=(625 548)
CROSS=(778 25)
OPTIONS=(741 25)

fast_settings() { echo "UpdatesUrl=${url}window-client/" "NewsUrl=${url}window-news.html" "Installed=1" "$@"; }
slow_settings() { echo "UpdatesUrl=${url}slow/window-client/" "NewsUrl=${url}window-news.html" "Installed=1" "$@"; }

case $case_name in
  publish)
    # The client the server publishes: one critical file, two normal ones (one slow to fetch).
    rm -rf "$client" "$www/window-client"
    mkdir -p "$client/data" "$www/window-client"
    echo "launcher settings of the test client" >"$client/launcher.cfg"
    head -c 1500000 /dev/urandom >"$client/data/big.bin"
    printf 'small normal file\r\n%.0s' $(seq 200) >"$client/data/small.txt"
    echo "<html><body>news</body></html>" >"$www/window-news.html"
    wine_run "$WINE_DIR" "$BIN/window_publish.exe" "$(win_path "$client")" "$(win_path "$www/window-client")" 5 \
      launcher.cfg -- 'data\big.bin' 'data\small.txt'
    ;;

  shows)
    dir=$(install_folder "" $(fast_settings))
    start_launcher "$dir"
    id=$(find_window FormMain) || fail "no window named FormMain"
    eval "$(xdotool getwindowgeometry --shell "$id")"
    screen=$(xdotool getdisplaygeometry)
    [[ "$WIDTH x $HEIGHT" == "800 x 599" ]] || fail "window is ${WIDTH}x$HEIGHT"
    [[ "$X $Y" == "$(((${screen% *} - 800) / 2)) $(((${screen#* } - 599) / 2))" ]] || fail "window at $X,$Y on $screen"
    wait_for 40 up_to_date "$dir" || fail "the run did not bring the installation to revision 5"
    sleep 0.5
    shot "$WORK/shows.png"
    for point in "$((X + 300)) $((Y + 533))" "$((X + 300)) $((Y + 548))"; do
      [[ $(pixel "$WORK/shows.png" $point) == "srgb(0,0,0)" ]] || fail "gauge at $point is not black"
    done
    echo "window $id at $X,$Y ${WIDTH}x$HEIGHT; revision recorded; screenshot $WORK/shows.png"
    click_at $((X + CROSS[0])) $((Y + CROSS[1]))
    wait_exit "$launcher" 10 || fail "the cross did not end the launcher"
    ;;

  run_hides_buttons)
    dir=$(install_folder "" $(slow_settings))
    start_launcher "$dir"
    id=$(find_window FormMain) || fail "no window"
    origin "$id"
    sleep 3
    shot "$WORK/during.png"
    ! up_to_date "$dir" || fail "the run ended before it could be watched"
    wait_for 60 up_to_date "$dir" || fail "the run did not end"
    sleep 1
    shot "$WORK/after.png"
    for name in PLAY CHECK OPTIONS; do
      declare -n at=$name
      during=$(pixel "$WORK/during.png" $((X + at[0])) $((Y + at[1])))
      after=$(pixel "$WORK/after.png" $((X + at[0])) $((Y + at[1])))
      [[ $during != "$after" ]] || fail "$name looks the same during and after the run ($during)"
      echo "$name: $during during the run, $after after it"
    done
    [[ $(pixel "$WORK/during.png" $((X + CANCEL[0])) $((Y + CANCEL[1]))) == \
       $(pixel "$WORK/after.png" $((X + CANCEL[0])) $((Y + CANCEL[1]))) ]] || fail "the cancel button changed"
    ;;

  cancel_during_run | cross_during_run)
    dir=$(install_folder "" $(slow_settings))
    start_launcher "$dir"
    id=$(find_window FormMain) || fail "no window"
    origin "$id"
    sleep 3
    ! up_to_date "$dir" || fail "the run ended too early"
    if [[ $case_name == cancel_during_run ]]; then
      click_at $((X + CANCEL[0])) $((Y + CANCEL[1]))
    else
      click_at $((X + CROSS[0])) $((Y + CROSS[1]))
    fi
    # Wine itself needs a few seconds to take a process down, also an idle one.
    wait_exit "$launcher" 8 || fail "the launcher still runs 8 s after the click"
    ! up_to_date "$dir" || fail "the launcher waited for the run"
    ! revision_recorded "$dir" 5 || fail "the cut-off run recorded its revision"
    ;;

  play)
    dir=$(install_folder "" $(fast_settings 'RunCustom=game\testgame.exe'))
    mkdir -p "$dir/game"
    cp "$BIN/window_test_game.exe" "$dir/game/testgame.exe"
    start_launcher "$dir"
    id=$(find_window FormMain) || fail "no window"
    origin "$id"
    wait_for 40 up_to_date "$dir" || fail "the run did not end"
    sleep 0.5
    click_at $((X + PLAY[0])) $((Y + PLAY[1]))
    wait_exit "$launcher" 10 || fail "the launcher did not end after play"
    wait_for 10 test -s "$dir/game/game-ran.txt" || fail "the game did not run"
    record=$(tr -d '\r' <"$dir/game/game-ran.txt")
    [[ $(sed -n 1p <<<"$record") == ran ]] || fail "record: $record"
    [[ $(sed -n 2p <<<"$record") == "$(win_path "$dir/game")" ]] || fail "the game ran in $(sed -n 2p <<<"$record")"
    echo "the game ran in $(sed -n 2p <<<"$record")"
    ;;

  missing_settings)
    dir=$(install_folder "")
    requests_before=$(wc -l <"$SERVER_DIR/logs/access.log" 2>/dev/null || echo 0)
    start_launcher "$dir"
    box=$(find_window OrvexUpdater) || fail "no message box"
    sleep 2.5
    shot "$WORK/missing.png"
    boxes=0
    for id in $(visible_windows '^OrvexUpdater$'); do
      eval "$(xdotool getwindowgeometry --shell "$id")"
      ((WIDTH > 1)) && boxes=$((boxes + 1))
    done
    ((boxes == 1)) || fail "$boxes message boxes"
    [[ -z $(visible_windows '^FormMain$') ]] || fail "the main window shows"
    xdotool windowactivate --sync "$box" 2>/dev/null || true
    xdotool key --window "$box" Return
    wait_exit "$launcher" 10 || fail "the launcher did not end after the message"
    requests_after=$(wc -l <"$SERVER_DIR/logs/access.log" 2>/dev/null || echo 0)
    ((requests_after == requests_before)) || fail "the server saw $((requests_after - requests_before)) requests"
    [[ ! -e $dir/_settings.ini ]] || fail "a settings file appeared"
    ;;

  check_repairs)
    dir=$(install_folder "" $(fast_settings))
    start_launcher "$dir"
    id=$(find_window FormMain) || fail "no window"
    origin "$id"
    wait_for 40 up_to_date "$dir" || fail "the first run did not end"
    sleep 0.5
    echo damaged >"$dir/data/small.txt"
    click_at $((X + CHECK[0])) $((Y + CHECK[1]))
    wait_for 30 same_file "$client/data/small.txt" "$dir/data/small.txt" || fail "the check did not repair data\\small.txt"
    click_at $((X + CANCEL[0])) $((Y + CANCEL[1]))
    wait_exit "$launcher" 10 || fail "cancel did not end the launcher"
    ;;

  second_instance)
    dir=$(install_folder "" $(fast_settings))
    other=$(install_folder "-other" $(fast_settings))
    start_launcher "$dir"
    first=$launcher
    find_window FormMain >/dev/null || fail "no window"
    start_launcher "$dir"
    wait_exit "$launcher" 15 || fail "a second launcher in the same folder keeps running"
    (($(visible_windows '^FormMain$' | wc -l) == 1)) || fail "two windows for one folder"
    kill -0 "$first" || fail "the first launcher ended"
    # orvex-update takes the launcher's lock: beside it, it stops at once.
    status=0
    (cd "$dir" && wine_run "$WINE_DIR" "$BIN/orvex-update.exe") >"$dir/tool.out" 2>&1 || status=$?
    ((status == 2)) || fail "orvex-update beside the launcher: exit $status: $(cat "$dir/tool.out")"
    grep -q "an update is already running" "$dir/tool.out" || fail "orvex-update gave no reason: $(cat "$dir/tool.out")"
    start_launcher "$other"
    wait_for 30 main_windows_are 2 || fail "another folder's launcher did not start"
    ;;

  *)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac
echo "PASS: $case_name"
