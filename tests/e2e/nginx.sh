#!/usr/bin/env bash
# Starts or stops the test web server: a private nginx on 127.0.0.1 serving DIR/www.
#   nginx.sh start DIR   writes the base URL (with a trailing "/") to DIR/url
#   nginx.sh stop DIR
set -euo pipefail
action=$1
dir=$(realpath -m "$2")
pidfile=$dir/nginx.pid

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
  rm -f "$pidfile" "$dir/url"
}

write_config() {
  local port=$1
  local user=""
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

case $action in
  start)
    stop
    mkdir -p "$dir/www" "$dir/logs" "$dir/tmp"
    for _ in $(seq 40); do
      port=$(( 20000 + RANDOM % 30000 ))
      write_config "$port"
      if nginx -e "$dir/logs/error.log" -c "$dir/nginx.conf" -p "$dir" -g "daemon on; pid $pidfile;" 2>"$dir/logs/start.log"; then
        echo "http://127.0.0.1:$port/" >"$dir/url"
        echo "nginx serves $dir/www at $(<"$dir/url")"
        exit 0
      fi
      grep -q "Address already in use" "$dir/logs/start.log" || break
    done
    echo "nginx did not start:" >&2
    cat "$dir/logs/start.log" >&2
    exit 1
    ;;
  stop)
    stop
    ;;
  *)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
