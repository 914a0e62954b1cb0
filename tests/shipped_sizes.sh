#!/usr/bin/env bash
# The players' programs stay small: every player downloads the launcher, and orvex-update goes into
# scripted installs. Usage: shipped_sizes.sh FILE LIMIT [FILE LIMIT]... (bytes, stripped files)
set -euo pipefail
status=0
while [ $# -ge 2 ]; do
  size=$(stat -c %s "$1")
  if [ "$size" -ge "$2" ]; then
    echo "FAIL: $(basename "$1") is $size bytes, not under $2"
    status=1
  else
    echo "$(basename "$1"): $size bytes (under $2)"
  fi
  shift 2
done
exit $status
