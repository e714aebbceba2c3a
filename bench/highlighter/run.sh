#!/usr/bin/env bash
# The highlighting scanner on a 200,000-line web page: cold state scan to line 190,000, a warm
# repaint of one screen there, and one page of scrolling. Each figure is the best of three runs by
# the wall clock; the last lines are `name milliseconds`.
set -euo pipefail
BUILD=${BUILD:-build}
BIN="$BUILD/bin/bench_highlighter"
[ -x "$BIN" ] || { echo "missing $BIN (build first)" >&2; exit 1; }
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
"$BIN" --benchmark_repetitions=3 --benchmark_format=json >"$TMP/out.json" 2>/dev/null
python3 - "$TMP/out.json" <<'PY'
import json, sys
runs = [b for b in json.load(open(sys.argv[1]))["benchmarks"] if b.get("run_type") == "iteration"]
def best(name):
    return min(b["real_time"] for b in runs if b["run_name"].startswith(name))  # ms
figures = [("highlighter-cold-190k-ms", best("BM_cold_state_scan")),
           ("highlighter-warm-screen-ms", best("BM_warm_screen")),
           ("highlighter-scroll-page-ms", best("BM_scroll_page"))]
for name, value in figures:
    print("%-28s %10.3f" % (name, value))
print()
for name, value in figures:
    print("%s %.3f" % (name, value))
PY
