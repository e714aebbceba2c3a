#!/usr/bin/env bash
# SHA-2, AES-CTR, AES-GCM and ChaCha20-Poly1305 against `openssl speed -elapsed -evp` on 16 KiB
# blocks, and X25519 / Ed25519 operations against nettle timed in the same binary.
# Every figure is the best of three runs by the wall clock, ours and the peer's alike, taken in
# three interleaved rounds, so a busy machine disturbs both sides alike.
# Ratios are our time over the peer's time.
set -euo pipefail
BUILD=${BUILD:-build}
BIN="$BUILD/bin/bench_crypto_modern"
[ -x "$BIN" ] || { echo "missing $BIN (build first)" >&2; exit 1; }
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

ours() { "$BIN" --benchmark_min_time=0.5 --benchmark_format=json >"$1" 2>/dev/null; }
openssl_rate() { # kB/s at 16384 bytes, one one-second run
    openssl speed -elapsed -seconds 1 -bytes 16384 -evp "$1" 2>/dev/null |
        awk '$1 !~ /^(The|type|version|built|options|compiler|CPUINFO)/ && NF >= 2 {sub(/k$/, "", $NF); print $NF}' | tail -1
}
# Three interleaved rounds; the best figure of each side counts.
for round in 1 2 3; do
    ours "$TMP/ours$round.json"
    for alg in sha256 sha512 aes-128-ctr aes-128-gcm chacha20-poly1305; do
        echo "$alg $(openssl_rate "$alg")"
    done >>"$TMP/openssl.txt"
done

python3 - "$TMP/openssl.txt" "$TMP"/ours*.json <<'PY'
import json, sys
runs = [b for f in sys.argv[2:] for b in json.load(open(f))["benchmarks"] if b.get("run_type") == "iteration"]
peer = {}
for line in open(sys.argv[1]):
    name, rate = line.split()
    peer[name] = max(peer.get(name, 0.0), float(rate) * 1000)  # openssl prints 1000s of bytes per second

def best(name, key):
    values = [b[key] for b in runs if b["run_name"] == "BM_" + name + "/real_time"]
    if not values:
        raise SystemExit("no benchmark result for " + name)
    return max(values) if key == "bytes_per_second" else min(values)

def ns(name):
    values = [b["real_time"] for b in runs if b["run_name"] == "BM_" + name + "/real_time"]
    unit = {"ns": 1, "us": 1e3, "ms": 1e6}[[b for b in runs if b["run_name"] == "BM_" + name + "/real_time"][0]["time_unit"]]
    return min(values) * unit

ratios = []
print("%-26s %12s %12s %8s" % ("bulk (16 KiB blocks)", "ours MB/s", "openssl MB/s", "ratio"))
for bench, label in (("sha256", "sha256"), ("sha512", "sha512"), ("aes128_ctr", "aes-128-ctr"),
                     ("aes128_gcm", "aes-128-gcm"), ("chacha20_poly1305", "chacha20-poly1305")):
    ours = best(bench, "bytes_per_second")
    theirs = peer[label]
    ratio = theirs / ours if ours else float("inf")
    print("%-26s %12.1f %12.1f %8.2f" % (label, ours / 1e6, theirs / 1e6, ratio))
    ratios.append((label + "-ratio", ratio))
for bench, label in (("sha256_portable", "sha256 portable"), ("aes128_ctr_portable", "aes-128-ctr portable"),
                     ("aes128_gcm_portable", "aes-128-gcm portable"),
                     ("chacha20_poly1305_portable", "chacha20-poly1305 portable"),
                     ("chacha20_poly1305_openssh", "chacha20-poly1305@openssh")):
    print("%-26s %12.1f %12s %8s" % (label, best(bench, "bytes_per_second") / 1e6, "", ""))
print()
print("%-26s %12s %12s %8s" % ("operation", "ours op/s", "nettle op/s", "ratio"))
for bench, label in (("x25519", "x25519"), ("ed25519_sign", "ed25519-sign"), ("ed25519_verify", "ed25519-verify")):
    ours = ns(bench)
    theirs = ns("nettle_" + bench)
    print("%-26s %12.0f %12.0f %8.2f" % (label, 1e9 / ours, 1e9 / theirs, ours / theirs))
    ratios.append((label + "-ratio", ours / theirs))
print()
for name, value in ratios:
    print("%s %.2f" % (name, value))
PY
