#!/usr/bin/env bash
# Starts or stops a private X server for the window tests.
#   xvfb.sh start DIR DISPLAY   (e.g. :93) remembers the server's pid in DIR
#   xvfb.sh stop DIR
set -euo pipefail
action=$1
dir=$(realpath -m "$2")
pidfile=$dir/xvfb.pid

stop() {
  if [[ -s $pidfile ]]; then
    local pid
    pid=$(<"$pidfile")
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
  fi
  rm -f "$pidfile"
}

case $action in
  start)
    display=$3
    stop
    mkdir -p "$dir"
    # A server already answering on that display (a previous run's, or one started by hand) will do.
    if xdpyinfo -display "$display" >/dev/null 2>&1; then
      echo "X server already answers on $display"
      exit 0
    fi
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 &
    echo $! >"$pidfile"
    for _ in $(seq 100); do
      if xdpyinfo -display "$display" >/dev/null 2>&1; then
        echo "Xvfb serves $display"
        exit 0
      fi
      sleep 0.1
    done
    echo "Xvfb did not start on $display:" >&2
    cat "$dir/xvfb.log" >&2
    stop
    exit 1
    ;;
  stop)
    stop
    ;;
  *)
    echo "usage: $0 start DIR DISPLAY | stop DIR" >&2
    exit 2
    ;;
esac
