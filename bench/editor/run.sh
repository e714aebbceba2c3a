#!/usr/bin/env bash
# Editor timings on a generated 200,000-line HTML/PHP file; the binary prints Google Benchmark's
# table and then one `name milliseconds` line per figure.
set -euo pipefail
BUILD=${BUILD:-build}
BIN="$BUILD/bin/bench_editor"
[ -x "$BIN" ] || { echo "missing $BIN (build first)" >&2; exit 1; }
QT_QPA_PLATFORM=offscreen "$BIN"
