#!/usr/bin/env bash
# Hashes and modular exponentiation against their peers on the same run:
#   sha1, md5, hmac-sha1 (16 KiB blocks) against `openssl speed -elapsed`;
#   modexp with full-size exponents against GMP's mpz_powm_sec, in the same binary.
# Every figure is the best of a few repetitions by the wall clock, ours and the peer's alike, so a
# busy machine disturbs both sides the same way. Ratios are our time over the peer's time.
set -euo pipefail
BUILD=${BUILD:-build}
BIN="$BUILD/bin/bench_crypto_hash"
[ -x "$BIN" ] || { echo "missing $BIN (build first)" >&2; exit 1; }
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

"$BIN" --benchmark_filter='sha1|md5' --benchmark_report_aggregates_only=false --benchmark_repetitions=3 --benchmark_min_time=0.2 \
    --benchmark_format=json >"$TMP/hash.json" 2>/dev/null
"$BIN" --benchmark_filter='modexp|powm' --benchmark_repetitions=2 --benchmark_min_time=0.3 \
    --benchmark_format=json >"$TMP/modexp.json" 2>/dev/null

openssl_rate() { # prints the best kB/s figure of two runs at 16384 bytes
    local best=0 v
    for _ in 1 2; do
        v=$(openssl speed -elapsed -seconds 1 -bytes 16384 "$@" 2>/dev/null | awk '/^(sha1|md5|hmac)/ {sub(/k$/, "", $NF); print $NF}' | tail -1)
        best=$(awk -v a="$best" -v b="${v:-0}" 'BEGIN {print (b > a) ? b : a}')
    done
    echo "$best"
}
SHA1=$(openssl_rate -evp sha1)
MD5=$(openssl_rate -evp md5)
HMAC=$(openssl_rate -hmac sha1)

python3 - "$TMP/hash.json" "$TMP/modexp.json" "$SHA1" "$MD5" "$HMAC" <<'PY'
import json, sys
hashes = json.load(open(sys.argv[1]))["benchmarks"]
modexp = json.load(open(sys.argv[2]))["benchmarks"]
peer = {"sha1": float(sys.argv[3]) * 1000, "md5": float(sys.argv[4]) * 1000, "hmac_sha1": float(sys.argv[5]) * 1000}

def best_rate(name):
    runs = [b for b in hashes if b.get("run_type") == "iteration" and b["run_name"] == "BM_" + name + "/real_time"]
    return max(b["bytes_per_second"] for b in runs)

def best_ms(name):
    runs = [b for b in modexp if b.get("run_type") == "iteration" and b["run_name"] == name]
    return min(b["real_time"] for b in runs)  # unit: ms

print("%-16s %14s %14s %8s" % ("hash (16 KiB)", "ours MB/s", "openssl MB/s", "ratio"))
ratios = []
for name, label in (("sha1", "sha1"), ("md5", "md5"), ("hmac_sha1", "hmac-sha1")):
    ours = best_rate(name)
    ratio = peer[name] / ours if ours else float("inf")
    print("%-16s %14.1f %14.1f %8.2f" % (label, ours / 1e6, peer[name] / 1e6, ratio))
    ratios.append((label + "-ratio", ratio))
print("%-16s %14.1f %14s %8s" % ("sha1 portable", best_rate("sha1_portable") / 1e6, "", ""))
print()
print("%-16s %14s %14s %8s" % ("modexp", "ours ms", "gmp ms", "ratio"))
for bits in (1024, 2048, 4096, 8192):
    ours = best_ms("BM_modexp/%d/real_time" % bits)
    gmp = best_ms("BM_gmp_powm_sec/%d/real_time" % bits)
    print("%-16s %14.2f %14.2f %8.2f" % ("%d bits" % bits, ours, gmp, ours / gmp))
    ratios.append(("modexp-%d-ratio" % bits, ours / gmp))
print()
for name, value in ratios:
    print("%s %.2f" % (name, value))
PY
