#!/usr/bin/env bash
# Shell helpers of the tests, the demo and the benchmarks: a private X server, a private nginx on
# 127.0.0.1, Wine with a prefix and home folder of the caller's own, and paths as Wine sees them.
# Each helper that keeps state takes its folder first.
#   source tests/common/lib.sh              and call the functions
#   tests/common/lib.sh FUNCTION ARGS...    runs one of them (ctest's fixtures do)
#
#   xvfb_start DIR DISPLAY SCREEN [XVFB_OPTION...]   e.g. xvfb_start build/x :93 1024x768x24
#   xvfb_stop DIR
#   nginx_start DIR     serves DIR/www; writes the base URL (ending in "/") to DIR/url
#   nginx_stop DIR
#   wine_env WINE_DIR   exports Wine's settings for the prefix WINE_DIR/prefix into this shell
#   wine_run WINE_DIR PROGRAM [ARG...]
#   win_path PATH       a Unix path as the Windows programs see it: /a/b -> Z:\a\b

# Stops the process whose id a pid file holds, waiting up to five seconds, and removes the file.
_stop_pidfile() {
  local pidfile=$1 pid
  if [[ -s $pidfile ]]; then
    pid=$(<"$pidfile")
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
  fi
  rm -f "$pidfile"
}

xvfb_start() {
  local dir display=$2 screen=$3
  dir=$(realpath -m "$1")
  shift 3
  mkdir -p "$dir"
  # A server already answering on that display (an earlier start's, or one started by hand) will do.
  if xdpyinfo -display "$display" >/dev/null 2>&1; then
    echo "X server already answers on $display"
    return 0
  fi
  _stop_pidfile "$dir/xvfb.pid"
  # A session of its own, so the server outlives the ctest step that started it.
  setsid Xvfb "$display" -screen 0 "$screen" -nolisten tcp "$@" >"$dir/xvfb.log" 2>&1 </dev/null &
  echo $! >"$dir/xvfb.pid"
  for _ in $(seq 100); do
    if xdpyinfo -display "$display" >/dev/null 2>&1; then
      echo "Xvfb serves $display"
      return 0
    fi
    sleep 0.1
  done
  echo "Xvfb did not start on $display:" >&2
  cat "$dir/xvfb.log" >&2
  _stop_pidfile "$dir/xvfb.pid"
  return 1
}

xvfb_stop() { _stop_pidfile "$(realpath -m "$1")/xvfb.pid"; }

_nginx_config() {
  local dir=$1 port=$2 user=""
  # As root, nginx's workers would otherwise switch to "nobody" and lose access to the folders.
  [[ $(id -u) == 0 ]] && user="user root;"
  cat >"$dir/nginx.conf" <<CONF
$user
worker_processes 1;
error_log $dir/logs/error.log;
events { worker_connections 64; }
http {
  default_type application/octet-stream;
  client_body_temp_path $dir/tmp/client_body;
  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;
  uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;
  log_format agents '\$remote_addr "\$request" \$status \$body_bytes_sent "\$http_user_agent"';
  access_log $dir/logs/access.log agents;
  server {
    listen 127.0.0.1:$port;
    root $dir/www;
    # /redirect/X answers 302 to /X.
    location /redirect/ { rewrite ^/redirect/(.*)\$ /\$1 redirect; }
    # Any address ending in .drop.bz2 is sent on to a port where nothing listens.
    location ~ \\.drop\\.bz2\$ { return 302 http://127.0.0.1:1/gone; }
    # /slow/X serves X at 150 KiB/s, for runs that last long enough to watch.
    location /slow/ { alias $dir/www/; limit_rate 150k; }
    # Echoes the client's user agent as the body.
    location = /agent { default_type text/plain; return 200 "\$http_user_agent"; }
  }
}
CONF
}

nginx_start() {
  local dir port
  dir=$(realpath -m "$1")
  nginx_stop "$dir"
  mkdir -p "$dir/www" "$dir/logs" "$dir/tmp"
  for _ in $(seq 40); do
    port=$((20000 + RANDOM % 30000))
    _nginx_config "$dir" "$port"
    if nginx -e "$dir/logs/error.log" -c "$dir/nginx.conf" -p "$dir" -g "daemon on; pid $dir/nginx.pid;" 2>"$dir/logs/start.log"; then
      echo "http://127.0.0.1:$port/" >"$dir/url"
      echo "nginx serves $dir/www at $(<"$dir/url")"
      return 0
    fi
    grep -q "Address already in use" "$dir/logs/start.log" || break
  done
  echo "nginx did not start:" >&2
  cat "$dir/logs/start.log" >&2
  return 1
}

nginx_stop() {
  local dir
  dir=$(realpath -m "$1")
  _stop_pidfile "$dir/nginx.pid"
  rm -f "$dir/url"
}

wine_env() {
  mkdir -p "$1/home"
  export WINEPREFIX="$1/prefix" HOME="$1/home" WINEARCH=win32 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
}

wine_run() { (wine_env "$1" && shift && exec wine "$@"); }

win_path() { printf 'Z:%s' "${1//\//\\}"; }

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
  set -euo pipefail
  case ${1:-} in
    xvfb_start | xvfb_stop | nginx_start | nginx_stop | wine_run | win_path) "$@" ;;
    *)
      echo "usage: $0 xvfb_start|xvfb_stop|nginx_start|nginx_stop|wine_run|win_path ARGS..." >&2
      exit 2
      ;;
  esac
fi
