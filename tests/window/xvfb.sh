#!/usr/bin/env bash
# Starts or stops the window tests' own X server:  xvfb.sh start|stop DISPLAY STATE_DIR
set -euo pipefail
action=$1 display=$2 state=$3
pidfile=$state/xvfb${display#:}.pid
case $action in
start)
    mkdir -p "$state"
    if [[ -f $pidfile ]] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then exit 0; fi
    # White root, so whatever the skin cuts away shows white.
    setsid Xvfb "$display" -screen 0 1280x1024x24 -wr -nolisten tcp >"$state/xvfb.log" 2>&1 < /dev/null &
    echo $! >"$pidfile"
    for _ in $(seq 50); do
        DISPLAY=$display xdotool getdisplaygeometry >/dev/null 2>&1 && exit 0
        sleep 0.2
    done
    echo "Xvfb did not start on $display" >&2
    exit 1
    ;;
stop)
    if [[ -f $pidfile ]]; then
        kill "$(cat "$pidfile")" 2>/dev/null || true
        rm -f "$pidfile"
    fi
    ;;
esac
