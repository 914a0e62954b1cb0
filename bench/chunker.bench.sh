#!/usr/bin/env bash
# Content-defined chunking throughput over 256 MiB in memory, beside SHA-256's.
set -euo pipefail
"$NATIVE_BIN/chunker_bench" 256
