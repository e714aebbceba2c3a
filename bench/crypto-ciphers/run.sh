#!/usr/bin/env bash
# Ciphers against their peers on the same run, 16 KiB buffers, MB/s:
#   AES, 3DES, Blowfish, CAST-128, RC4 against `openssl speed -elapsed -evp` (legacy provider for
#   bf-cbc, cast5-cbc and rc4; once with AES-NI masked for our table AES);
#   Twofish and Serpent against nettle, in our benchmark binary.
# Every figure is the best of a few repetitions by the wall clock, ours and the peer's alike, so a
# busy machine disturbs both sides the same way. Ratios are our time over the peer's time.
set -euo pipefail
BUILD=${BUILD:-build}
BIN="$BUILD/bin/bench_crypto_ciphers"
[ -x "$BIN" ] || { echo "missing $BIN (build first)" >&2; exit 1; }
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

"$BIN" --benchmark_repetitions=3 --benchmark_min_time=0.5 --benchmark_format=json >"$TMP/ours.json" 2>/dev/null

LEGACY=(-provider legacy -provider default)
openssl_rate() { # best kB/s of three runs at 16384 bytes
    local best=0 v
    for _ in 1 2 3; do
        v=$(openssl speed -elapsed -seconds 1 -bytes 16384 "$@" 2>/dev/null | tail -1 | awk '{sub(/k$/, "", $NF); print $NF}')
        best=$(awk -v a="$best" -v b="${v:-0}" 'BEGIN {print (b + 0 > a + 0) ? b : a}')
    done
    echo "$best"
}
{
    echo "aes128_enc $(openssl_rate -evp aes-128-cbc)"
    echo "aes128_dec $(openssl_rate -decrypt -evp aes-128-cbc)"
    echo "aes256_enc $(openssl_rate -evp aes-256-cbc)"
    echo "aes256_dec $(openssl_rate -decrypt -evp aes-256-cbc)"
    echo "aes128_table_enc $(OPENSSL_ia32cap='~0x200000200000000:~0' openssl_rate -evp aes-128-cbc)"
    echo "aes128_table_dec $(OPENSSL_ia32cap='~0x200000200000000:~0' openssl_rate -decrypt -evp aes-128-cbc)"
    echo "3des_enc $(openssl_rate -evp des-ede3-cbc)"
    echo "blowfish_enc $(openssl_rate "${LEGACY[@]}" -evp bf-cbc)"
    echo "cast128_enc $(openssl_rate "${LEGACY[@]}" -evp cast5-cbc)"
    echo "rc4_enc $(openssl_rate "${LEGACY[@]}" -evp rc4)"
} >"$TMP/openssl.txt"

python3 - "$TMP/ours.json" "$TMP/openssl.txt" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
peer = {}
for line in open(sys.argv[2]):
    name, value = line.split()
    peer[name] = float(value) * 1000  # openssl prints 1000s of bytes per second

def best(name):
    rates = [b["bytes_per_second"] for b in runs
             if b.get("run_type") == "iteration" and b["run_name"] == "BM_" + name + "/real_time"]
    return max(rates) if rates else 0.0

rows = [  # label, our benchmark, peer figure, peer label, ratio name
    ("aes-128-cbc encrypt", "aes128_enc", "aes128_enc", "openssl", "aes-128-cbc-encrypt-ratio"),
    ("aes-128-cbc decrypt", "aes128_dec", "aes128_dec", "openssl", "aes-128-cbc-decrypt-ratio"),
    ("aes-256-cbc encrypt", "aes256_enc", "aes256_enc", "openssl", "aes-256-cbc-encrypt-ratio"),
    ("aes-256-cbc decrypt", "aes256_dec", "aes256_dec", "openssl", None),
    ("aes-128-cbc table enc", "aes128_table_enc", "aes128_table_enc", "openssl no AES-NI", "aes-128-cbc-table-ratio"),
    ("aes-128-cbc table dec", "aes128_table_dec", "aes128_table_dec", "openssl no AES-NI", None),
    ("3des-cbc encrypt", "3des_enc", "3des_enc", "openssl", "3des-cbc-ratio"),
    ("blowfish-cbc encrypt", "blowfish_enc", "blowfish_enc", "openssl", "blowfish-cbc-ratio"),
    ("cast128-cbc encrypt", "cast128_enc", "cast128_enc", "openssl", "cast128-cbc-ratio"),
    ("arcfour", "rc4_enc", "rc4_enc", "openssl", "rc4-ratio"),
    ("twofish256-cbc encrypt", "twofish256_enc", "nettle_twofish256_enc", "nettle", "twofish256-cbc-ratio"),
    ("twofish256-cbc decrypt", "twofish256_dec", "nettle_twofish256_dec", "nettle", None),
    ("serpent256-cbc encrypt", "serpent256_enc", "nettle_serpent256_enc", "nettle", "serpent256-cbc-ratio"),
    ("serpent256-cbc decrypt", "serpent256_dec", "nettle_serpent256_dec", "nettle", None),
    ("idea-cbc encrypt", "idea_enc", None, "-", None),
    ("des-cbc encrypt", "des_enc", None, "-", None),
]
print("%-24s %12s %12s  %-18s %7s" % ("cipher (16 KiB)", "ours MB/s", "peer MB/s", "peer", "ratio"))
ratios = []
for label, ours_name, peer_name, peer_label, ratio_name in rows:
    ours = best(ours_name)
    if peer_name is None:
        print("%-24s %12.1f %12s  %-18s %7s" % (label, ours / 1e6, "-", peer_label, "-"))
        continue
    theirs = peer[peer_name] if peer_name in peer else best(peer_name)
    if not theirs or not ours:  # a peer that could not run (e.g. no legacy provider) gives no ratio
        print("%-24s %12.1f %12.1f  %-18s %7s" % (label, ours / 1e6, theirs / 1e6, peer_label, "n/a"))
        if ratio_name:
            ratios.append((ratio_name, float("nan")))
        continue
    ratio = theirs / ours
    print("%-24s %12.1f %12.1f  %-18s %7.2f" % (label, ours / 1e6, theirs / 1e6, peer_label, ratio))
    if ratio_name:
        ratios.append((ratio_name, ratio))
print()
for name, ratio in ratios:
    print("%s %.2f" % (name, ratio))
PY
