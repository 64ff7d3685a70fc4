#!/usr/bin/env bash
# Times the folder scan against `find DIR -type f` on a tree of 200,000 small files in 421 folders.
# Usage: bench/scan_vs_find.sh [path/to/scan_bench]   (default: build-list/bin/scan_bench)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
bench="${1:-$here/../build-list/bin/scan_bench}"
base=/tmp/tarvelin-scan-bench
tree="$base/tree"
runs=5

if [[ ! -f "$base/complete" ]]; then
    echo "building the tree in $tree (once)..."
    rm -rf "$base"
    mkdir -p "$tree"
    # 20 folders of 20 folders each, 500 files in every inner folder; one in ten is not a .msg.
    python3 - "$tree" <<'PY'
import os, sys
root = sys.argv[1]
n = 0
for a in range(20):
    for b in range(20):
        folder = os.path.join(root, f"box{a:02d}", f"folder{b:02d}")
        os.makedirs(folder)
        for _ in range(500):
            ext = ".eml" if n % 10 == 9 else ".msg"
            with open(os.path.join(folder, f"md{n:07d}{ext}"), "w") as f:
                f.write(f"Subject: message {n}\r\n\r\nbody\r\n")
            n += 1
PY
    touch "$base/complete"
fi

# Warm the cache with both tools before timing.
find "$tree" -type f > /dev/null
"$bench" "$tree" > /dev/null

now() { echo "${EPOCHREALTIME/[.,]/}"; }  # microseconds
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }

scan_times=()
find_times=()
for ((i = 0; i < runs; i++)); do
    t0=$(now); "$bench" "$tree" > /dev/null; t1=$(now)
    scan_times+=($((t1 - t0)))
    t0=$(now); find "$tree" -type f > /dev/null; t1=$(now)
    find_times+=($((t1 - t0)))
done

"$bench" "$tree"
scan_med=$(median "${scan_times[@]}")
find_med=$(median "${find_times[@]}")
echo "scan_bench runs (us): ${scan_times[*]}"
echo "find runs (us):       ${find_times[*]}"
awk -v s="$scan_med" -v f="$find_med" \
    'BEGIN { printf "median scan_bench %.4f s, median find %.4f s, ratio %.2f\n", s / 1e6, f / 1e6, s / f }'
