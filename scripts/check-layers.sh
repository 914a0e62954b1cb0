#!/usr/bin/env bash
# Fails, naming file and line, when a folder includes a header from a folder to its right in
#   base <- util <- formats <- update <- ui <- options <- app <- tools
# assets/ is data for the windows (ui, options, app); tests/ and bench/ may use anything.
# Usage: check-layers.sh [ROOT]   (default: this repository)
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

layers=(base util formats update ui options app tools)
declare -A rank
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done

status=0
for folder in "${layers[@]}"; do
  while IFS=: read -r file line text; do
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^/"]+)\/.*/\1/' <<<"$text")
    if [ "$target" = assets ]; then
      case $folder in ui|options|app) continue ;; esac
    elif [ -z "${rank[$target]+x}" ] || [ "${rank[$target]}" -le "${rank[$folder]}" ]; then
      continue
    fi
    echo "$file:$line: $folder/ may not include $target/ (${text#"${text%%[![:space:]]*}"})"
    status=1
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^/"]+/' "$folder" \
             --include='*.h' --include='*.cpp' || true)
done
[ $status = 0 ] && echo "layers: every include points left"
exit $status
