#!/usr/bin/env bash
# Signed lists: the check of a signed 2,000-entry list as the run makes it (read, verify, trusted
# comment), best of 50, against `minisign -V` on the same files (best of 5, a process each); and,
# when the Windows build is there, how much OrvexUpdater.exe grew against the launcher before it
# checked signatures (LAUNCHER_BASE, built once into BENCH_DIR).
set -euo pipefail
data=$BENCH_DIR/signature
base_commit=${LAUNCHER_BASE:-664bf49}
mkdir -p "$data"

if [ ! -f "$data/done" ]; then
  rm -rf "$data/client" "$data/server" "$data"/key*
  mkdir -p "$data/client/data"
  for i in $(seq -w 1 2000); do printf 'file %s\n' "$i" > "$data/client/data/part$i.dat"; done
  "$NATIVE_BIN/orvex-publish" keygen "$data/key" > /dev/null
  "$NATIVE_BIN/orvex-publish" build -q --sign "$data/key" "$data/client" "$data/server" > /dev/null 2>&1
  touch "$data/done"
fi
list=$data/server/files.lst.bz2 signature=$data/server/files.lst.bz2.minisig
entries=$(bzip2 -dc "$list" | grep -c '|[0-9a-f]\{32\}|')
read -r verdict _ _ ours_s < <("$NATIVE_BIN/verify_bench" "$list" "$signature" "$(tail -n 1 "$data/key.pub")" 50)

minisign_s=""
for _ in 1 2 3 4 5; do
  start=$(date +%s.%N)
  minisign -Vqm "$list" -p "$data/key.pub" > /dev/null
  t=$(echo "$(date +%s.%N) - $start" | bc -l)
  if [ -z "$minisign_s" ] || [ "$(echo "$t < $minisign_s" | bc -l)" = 1 ]; then minisign_s=$t; fi
done
ms() { printf '%.2f' "$(echo "$1 * 1000" | bc -l)"; }
printf 'list: %d entries, %d bytes packed; verdict %s\n' "$entries" "$(stat -c %s "$list")" "$verdict"
printf '%-22s %8s ms\n' "our check" "$(ms "$ours_s")" "minisign -V" "$(ms "$minisign_s")"
printf 'ratio minisign -V / ours: %.1f\n' "$(echo "$minisign_s / $ours_s" | bc -l)"

launcher=$WIN32_BIN/OrvexUpdater.exe
if [ -f "$launcher" ]; then
  base=$data/launcher-$base_commit/OrvexUpdater.exe
  if [ ! -f "$base" ]; then
    tree=$data/tree-$base_commit
    rm -rf "$tree"
    git -C "$ROOT" worktree add -q --detach "$tree" "$base_commit"
    ln -s "$ROOT/third_party" "$tree/third_party"
    cmake -S "$tree" -B "$tree/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake > /dev/null
    cmake --build "$tree/build" --target OrvexUpdater > /dev/null
    mkdir -p "$(dirname "$base")" && cp "$tree/build/bin/OrvexUpdater.exe" "$base"
    git -C "$ROOT" worktree remove --force "$tree"
  fi
  before=$(stat -c %s "$base") after=$(stat -c %s "$launcher")
  printf 'OrvexUpdater.exe: %d bytes at %s, %d now: grew by %d bytes (%.1f KiB)\n' \
    "$before" "$base_commit" "$after" "$((after - before))" "$(echo "($after - $before) / 1024" | bc -l)"
fi
