#!/usr/bin/env bash
# The chunk store's cost: build --chunks against build on the same 256 MiB client (goal: at most
# 1.5 times the time), and a one-file republish with chunks against the first (goal: 30 times
# faster or more).
set -euo pipefail
client=$BENCH_DIR/chunks-client
plain=$BENCH_DIR/chunks-server-plain
chunked=$BENCH_DIR/chunks-server
total=$((256 * 1024 * 1024))
files=300

if [ ! -f "$client/.complete" ]; then
  rm -rf "$client"
  # Incompressible media, text, and structured tables, a few large files among many small ones.
  python3 - "$client" "$total" "$files" <<'PY'
import os, random, sys
root, total, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(11)
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
    folder = os.path.join(root, "data%02d" % (i % 20))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "file%04d.bin" % i), "wb") as f:
        f.write(kinds[i % 3](size))
PY
  touch "$client/.complete"
fi
printf '[publish]\r\nExclude=.complete\r\n' > "$client/publish.ini"
cat "$client"/*/*.bin > /dev/null  # every run reads from the page cache

TIMEFORMAT='%R'
timed() {  # timed OUTPUT command...: the wall seconds
  local out=$1; shift
  { time "$@" > "$out" 2> "$out.err"; } 2>&1
}

rm -rf "$plain" "$chunked"
plain_s=$(timed "$BENCH_DIR/chunks-plain.txt" "$NATIVE_BIN/orvex-publish" build -q "$client" "$plain")
first_s=$(timed "$BENCH_DIR/chunks-first.txt" "$NATIVE_BIN/orvex-publish" build -q --chunks "$client" "$chunked")
"$NATIVE_BIN/orvex-publish" verify "$chunked" > /dev/null

changed=$(find "$client" -name '*.bin' -size +1M | sort | head -n 1)
date +%s%N | dd of="$changed" bs=1 seek=100 conv=notrunc status=none
again_s=$(timed "$BENCH_DIR/chunks-again.txt" "$NATIVE_BIN/orvex-publish" build -q --chunks "$client" "$chunked")
grep -q "compressed 1, reused $((files - 1))" "$BENCH_DIR/chunks-again.txt" || { cat "$BENCH_DIR/chunks-again.txt"; exit 1; }
written=$(sed -n 's/.*chunks written \([0-9]*\).*/\1/p' "$BENCH_DIR/chunks-again.txt")
"$NATIVE_BIN/orvex-publish" verify --deep "$chunked" > /dev/null

chunks=$(find "$chunked/chunks" -type f | wc -l)
store_bytes=$(du -sb "$chunked/chunks" | cut -f1)
printf '%-36s %8.2f s\n' "build ($(nproc) cores)" "$plain_s"
printf '%-36s %8.2f s  %s chunks, %s bytes\n' "build --chunks" "$first_s" "$chunks" "$store_bytes"
printf '%-36s %8.3f s  %s chunks written\n' "one-file republish --chunks" "$again_s" "$written"
echo "load average after the runs: $(cut -d' ' -f1-3 /proc/loadavg) (other work on the machine skews the wall times)"
echo "build --chunks time / build:           $(echo "scale=2; $first_s / $plain_s" | bc -l)  (goal <= 1.5)"
echo "one-file republish speed / first:      $(echo "scale=1; $first_s / $again_s" | bc -l)  (goal >= 30)"
