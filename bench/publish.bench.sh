#!/usr/bin/env bash
# Publishing 1 GiB in 2,000 files: orvex-publish against bzip2 -9 file by file in a shell loop, and
# a republish after one changed file against the first publish.
set -euo pipefail
client=$BENCH_DIR/publish-client
server=$BENCH_DIR/publish-server
loop_out=$BENCH_DIR/publish-loop
total=$((1024 * 1024 * 1024))
files=2000

if [ ! -f "$client/.complete" ]; then
  rm -rf "$client"
  # Mixed like a game client: incompressible media, text, and structured tables and models.
  python3 - "$client" "$total" "$files" <<'PY'
import base64, os, random, sys
root, total, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(7)
weights = [rng.paretovariate(1.2) for _ in range(count)]
scale = total / sum(weights)
sizes = [max(1, int(w * scale)) for w in weights]
sizes[-1] += total - sum(sizes)
words = [bytes(rng.choice(b"etaoinshrdlucmfwyp") for _ in range(rng.randint(2, 9))) for _ in range(3000)]
def text(n):
    out = bytearray()
    while len(out) < n:
        out += b" ".join(rng.choice(words) for _ in range(12)) + b"\r\n"
    return bytes(out[:n])
def structured(n):
    record = bytearray(os.urandom(64))
    out = bytearray()
    while len(out) < n:
        for _ in range(4):
            record[rng.randrange(64)] = rng.randrange(256)
        out += record
    return bytes(out[:n])
kinds = [os.urandom, text, structured]
for i, size in enumerate(sizes):
    folder = os.path.join(root, "data%02d" % (i % 40), "set %d" % (i % 7))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "file%04d.bin" % i), "wb") as f:
        f.write(kinds[i % 3](size))
PY
  touch "$client/.complete"
fi
printf '[publish]\r\nCritical=*.exe\r\nExclude=.complete\r\n' > "$client/publish.ini"
find "$client" -type f -name '*.bin' -print0 | sort -z > "$BENCH_DIR/publish-files"
cat "$client"/*/*/*.bin > /dev/null  # every run reads from the page cache

# Wall and CPU seconds (user + system, children included) of one timed block.
TIMEFORMAT='%R %U %S'
cpu() { echo "$2 + $3" | bc -l; }

rm -rf "$loop_out" && mkdir -p "$loop_out"
(cd "$client" && find . -type d -exec mkdir -p "$loop_out/{}" \;)
{ time while IFS= read -r -d '' f; do
  rel=${f#"$client"/}
  bzip2 -9 -c "$f" > "$loop_out/$rel.bz2"
done < "$BENCH_DIR/publish-files"; } 2> "$BENCH_DIR/publish-time"
read -r loop_s u s < "$BENCH_DIR/publish-time"; loop_cpu=$(cpu "$loop_s" "$u" "$s")

rm -rf "$server"
{ time "$NATIVE_BIN/orvex-publish" build -q "$client" "$server" > "$BENCH_DIR/publish-first.txt"; } 2> "$BENCH_DIR/publish-time"
read -r first_s u s < "$BENCH_DIR/publish-time"; first_cpu=$(cpu "$first_s" "$u" "$s")
"$NATIVE_BIN/orvex-publish" verify "$server" > /dev/null

changed=$(head -z -n 1000 "$BENCH_DIR/publish-files" | tail -z -n 1 | tr -d '\0')
date +%s%N | dd of="$changed" bs=1 seek=100 conv=notrunc status=none
{ time "$NATIVE_BIN/orvex-publish" build -q "$client" "$server" > "$BENCH_DIR/publish-again.txt"; } 2> "$BENCH_DIR/publish-time"
read -r again_s u s < "$BENCH_DIR/publish-time"; again_cpu=$(cpu "$again_s" "$u" "$s")
grep -q "compressed 1, reused $((files - 1))" "$BENCH_DIR/publish-again.txt" || { cat "$BENCH_DIR/publish-again.txt"; exit 1; }

loop_bytes=$(find "$loop_out" -name '*.bz2' -printf '%s\n' | paste -sd+ | bc)
ours_bytes=$(find "$server" -name '*.bz2' ! -name files.lst.bz2 -printf '%s\n' | paste -sd+ | bc)
printf '%-34s %8.2f s wall %8.2f s CPU  %s bytes out\n' "bzip2 -9 loop (1 core)" "$loop_s" "$loop_cpu" "$loop_bytes"
printf '%-34s %8.2f s wall %8.2f s CPU  %s bytes out\n' "orvex-publish first ($(nproc) cores)" "$first_s" "$first_cpu" "$ours_bytes"
printf '%-34s %8.3f s wall %8.3f s CPU\n' "orvex-publish one-file republish" "$again_s" "$again_cpu"
echo "load average after the runs: $(cut -d' ' -f1-3 /proc/loadavg) (other work on the machine skews the wall times)"
echo "first publish speed / bzip2 loop:    $(echo "scale=2; $loop_s / $first_s" | bc -l)"
echo "one-file republish speed / first:    $(echo "scale=1; $first_s / $again_s" | bc -l)"
