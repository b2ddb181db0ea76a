#!/usr/bin/env bash
# Runs one fuzz program for a bounded time:
#   tests/fuzz/run.sh FUZZER SECONDS WORK [CORPUS...]
# WORK/corpus collects what the run finds (kept for the next run) and
# WORK/artifacts any input that crashed it; the CORPUS folders (seeds, saved
# regressions) are read only, and those missing are skipped. Exits non-zero
# when the fuzzer found a fault.
set -euo pipefail
if [ $# -lt 3 ]; then
    echo "usage: $0 FUZZER SECONDS WORK [CORPUS...]" >&2
    exit 2
fi
fuzzer=$1 seconds=$2 work=$3
shift 3
corpora=()
for dir in "$@"; do
    if [ -d "$dir" ]; then
        corpora+=("$dir")
    fi
done
mkdir -p "$work/corpus" "$work/artifacts"
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" "${corpora[@]}"
