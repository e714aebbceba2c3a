#!/usr/bin/env bash
# Ciphers against their peers on the same run, 16 KiB buffers, MB/s:
#   AES, 3DES, DES, Blowfish, CAST-128, RC4 against `openssl speed -elapsed -evp` (legacy provider
#   for des-cbc, bf-cbc, cast5-cbc and rc4; once with AES-NI masked for our table AES);
#   Twofish and Serpent against nettle, IDEA against libgcrypt, in our benchmark binary.
# Ours and the peer take turns item by item, twice over, and each side keeps its best figure by the
# wall clock, so a busy machine disturbs both sides alike. Ratios are our time over the peer's time.
set -euo pipefail
BUILD=${BUILD:-build}
BIN="$BUILD/bin/bench_crypto_ciphers"
[ -x "$BIN" ] || { echo "missing $BIN (build first)" >&2; exit 1; }
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

LEGACY=(-provider legacy -provider default)
MASK='~0x200000200000000:~0'
openssl_rate() { # kB/s of one run at 16384 bytes
    openssl speed -elapsed -seconds 1 -bytes 16384 "$@" 2>/dev/null | tail -1 | awk '{sub(/k$/, "", $NF); print $NF + 0}'
}
ours() { # adds one short measurement of the benchmarks matching $1
    RUN=$((RUN + 1))
    "$BIN" --benchmark_filter="$1" --benchmark_repetitions=2 --benchmark_min_time=0.25 \
        --benchmark_format=json >"$TMP/ours.$RUN.json" 2>/dev/null
}
peer() { # appends one openssl figure under our benchmark's name
    local name=$1
    shift
    echo "$name $(openssl_rate "$@")" >>"$TMP/openssl.txt"
}
RUN=0
: >"$TMP/openssl.txt"
# Ours and the peer alternate item by item, twice over, so a change in the machine's load during
# the run falls on both sides; each side keeps its best figure.
for pass in 1 2; do
    ours '^BM_aes128_enc/';       peer aes128_enc -evp aes-128-cbc
    ours '^BM_aes128_dec/';       peer aes128_dec -decrypt -evp aes-128-cbc
    ours '^BM_aes256_enc/';       peer aes256_enc -evp aes-256-cbc
    ours '^BM_aes256_dec/';       peer aes256_dec -decrypt -evp aes-256-cbc
    ours '^BM_aes128_table_enc/'; OPENSSL_ia32cap=$MASK peer aes128_table_enc -evp aes-128-cbc
    ours '^BM_aes128_table_dec/'; OPENSSL_ia32cap=$MASK peer aes128_table_dec -decrypt -evp aes-128-cbc
    ours '^BM_3des_enc/';         peer 3des_enc -evp des-ede3-cbc
    ours '^BM_blowfish_enc/';     peer blowfish_enc "${LEGACY[@]}" -evp bf-cbc
    ours '^BM_cast128_enc/';      peer cast128_enc "${LEGACY[@]}" -evp cast5-cbc
    ours '^BM_rc4_enc/';          peer rc4_enc "${LEGACY[@]}" -evp rc4
    ours '^BM_des_enc/';          peer des_enc "${LEGACY[@]}" -evp des-cbc
    ours 'twofish|serpent|idea'
done

python3 - "$TMP" <<'PY'
import glob, json, os, sys
runs = []
for path in glob.glob(os.path.join(sys.argv[1], "ours.*.json")):
    runs += json.load(open(path))["benchmarks"]
peer = {}
for line in open(os.path.join(sys.argv[1], "openssl.txt")):
    name, value = line.split()
    peer[name] = max(peer.get(name, 0.0), float(value) * 1000)  # openssl prints 1000s of bytes/s

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
    ("idea-cbc encrypt", "idea_enc", "gcrypt_idea_enc", "libgcrypt", "idea-cbc-ratio"),
    ("des-cbc encrypt", "des_enc", "des_enc", "openssl", "des-cbc-ratio"),
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
# The figures the targets are read from come last, in this order; other ratios precede them.
last = ["aes-128-cbc-encrypt-ratio", "aes-128-cbc-decrypt-ratio", "aes-256-cbc-encrypt-ratio",
        "aes-128-cbc-table-ratio", "3des-cbc-ratio", "blowfish-cbc-ratio", "cast128-cbc-ratio", "rc4-ratio"]
ratios.sort(key=lambda item: last.index(item[0]) if item[0] in last else -1)
for name, ratio in ratios:
    print("%s %.2f" % (name, ratio))
PY
