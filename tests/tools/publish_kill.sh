#!/usr/bin/env bash
# Kills real `orvex-publish build --chunks --prune --sign` runs at random moments: after each kill
# the server folder must pass `verify --deep --key` (the old release, whole), unless the kill landed
# in the final burst of renames, which leaves the publisher's mark: verify must then name it. The
# next complete publish must leave no temporary and no mark behind. KILLS sets the number of kills
# (default 8).
set -uo pipefail
tool=$1 kills=${KILLS:-8} seed=${SEED:-$RANDOM}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
RANDOM=$seed
fail() { echo "FAIL (SEED=$seed): $*" >&2; exit 1; }
now() { date +%s.%N; }

client=$work/client server=$work/server
mkdir -p "$client/data" "$client/maps"
for i in 1 2 3 4 5 6; do head -c 700000 /dev/urandom > "$client/data/pack$i.bin"; done
for i in 1 2 3 4 5 6 7 8; do seq "$i" 3 400000 > "$client/maps/map$i.txt"; done
"$tool" keygen "$work/key" > /dev/null || fail "keygen"
build=("$tool" build -q --chunks --prune --sign "$work/key" "$client" "$server")
publish() { "${build[@]}" > "$work/out" 2>&1; }
check() { "$tool" verify --deep --key "$work/key.pub" "$server" > "$work/verify" 2>&1 || fail "$1: $(cat "$work/verify")"; }
# A new release: some files change, one goes, one comes.
change() {
  local n=$1
  head -c 700000 /dev/urandom > "$client/data/pack$((n % 6 + 1)).bin"
  seq "$n" 7 500000 > "$client/maps/map$((n % 8 + 1)).txt"
  rm -f "$client/maps/extra$((n - 1)).txt"
  seq 1 "$n" 90000 > "$client/maps/extra$n.txt"
}

publish || fail "first publish: $(cat "$work/out")"
change 1
start=$(now)
publish || fail "timed publish: $(cat "$work/out")"
window=$(echo "$start $(now)" | awk '{ print ($2 - $1) * 1.2 }')
check "complete publish"

landed=0 in_burst=0
for k in $(seq 2 $((kills + 1))); do
  change "$k"
  delay=$(awk -v w="$window" -v r=$RANDOM 'BEGIN { printf "%.3f", w * r / 32768 }')
  "${build[@]}" > "$work/out" 2>&1 &  # not through a function: $! must be the publisher itself
  pid=$!
  sleep "$delay"
  kill -9 "$pid" 2> /dev/null
  wait "$pid" 2> /dev/null
  [ $? = 137 ] && landed=$((landed + 1))
  if [ -e "$server/publish-in-progress" ]; then
    "$tool" verify --deep --key "$work/key.pub" "$server" > "$work/verify" 2>&1 && fail "verify passed beside the mark"
    grep -q "publish-in-progress: a publish is putting its files in place" "$work/verify" ||
      fail "verify did not name the mark: $(cat "$work/verify")"
    in_burst=$((in_burst + 1))
  else
    check "killed after ${delay}s of ${window}s"
  fi
done

[ "$landed" -gt 0 ] || fail "no kill landed in a running publish"
publish || fail "publish after the kills: $(cat "$work/out")"
check "publish after the kills"
left=$(find "$server" -name '*.orvex-part' -o -name publish-in-progress)
[ -z "$left" ] || fail "temporaries left: $left"
echo "$landed of $kills kills landed in a running publish, $in_burst in its burst (SEED=$seed): every folder verified"
