#!/usr/bin/env bash
# Loopback FTP over explicit TLS against curl --ssl-reqd on the same vsftpd server (TLS required
# for login and data, session reuse required): a 256 MiB file down and up (best of three
# interleaved rounds) through the transfer worker as the window runs it. The certificate is
# self-signed and made here; curl is told to accept it (-k) as our side accepts it through its
# certificate question. vsftpd is used rather than pyftpdlib, whose TLS handler forgets a PROT P
# sent before the login (curl's order) and whose Python speed would be measured instead.
# Needs BUILD (the build folder) and root (vsftpd's chroot).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
BUILD="${BUILD:-build}"
case "$BUILD" in /*) ;; *) BUILD="$repo/$BUILD" ;; esac
thread="$BUILD/bin/bench_ftp_thread"
[ -x "$thread" ] || { echo "missing $thread"; exit 1; }

work="$(mktemp -d /tmp/varnello-ftps-bench-XXXXXX)"
server_pid=""
cleanup() {
    if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/srv/up" "$work/local" "$work/empty"
chmod 755 "$work" "$work/srv" "$work/empty"
chown ftp "$work/srv/up" 2>/dev/null || chmod 777 "$work/srv/up"
head -c $((256 << 20)) /dev/urandom > "$work/srv/big.bin"
chmod 644 "$work/srv/big.bin"
cp "$work/srv/big.bin" "$work/local/up.bin"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=bench -keyout "$work/key.pem" \
    -out "$work/cert.pem" >/dev/null 2>&1
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$work/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$port
background=NO
anonymous_enable=YES
local_enable=NO
no_anon_password=YES
anon_root=$work/srv
write_enable=YES
anon_upload_enable=YES
anon_umask=022
secure_chroot_dir=$work/empty
seccomp_sandbox=NO
xferlog_enable=NO
ssl_enable=YES
allow_anon_ssl=YES
force_anon_logins_ssl=YES
force_anon_data_ssl=YES
require_ssl_reuse=YES
rsa_cert_file=$work/cert.pem
rsa_private_key_file=$work/key.pem
CONF
/usr/sbin/vsftpd "$work/vsftpd.conf" 2>"$work/server.log" &
server_pid=$!
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
host="127.0.0.1:$port"
url="ftp://anonymous:@127.0.0.1:$port"
size=$((256 << 20))
curl_tls=(-s -k --ssl-reqd)

best() { sort -g | head -1; }
: > "$work/times"
# Anonymous uploads may not replace a file: every round writes new names. A failed transfer
# stops the run, so no failure's short time passes for a fast transfer.
run() { local t; t=$("$@") || { echo "failed: $*" >&2; exit 1; }; echo "$t" | awk '{print $1}'; }
for round in 1 2 3; do
    echo "curl_get $(run curl "${curl_tls[@]}" -o "$work/local/curl.bin" -w '%{time_total}' "$url/big.bin")" >> "$work/times"
    echo "thread_get $(VARNELLO_BENCH_TLS=1 run "$thread" get "$host" anonymous "" /big.bin "$work/local/thread.bin")" >> "$work/times"
    echo "curl_put $(run curl "${curl_tls[@]}" -T "$work/local/up.bin" -w '%{time_total}' "$url/up/curl-up-$round.bin")" >> "$work/times"
    echo "thread_put $(VARNELLO_BENCH_TLS=1 run "$thread" put "$host" anonymous "" "/up/thread-up-$round.bin" "$work/local/up.bin")" >> "$work/times"
done
cmp -s "$work/srv/big.bin" "$work/local/curl.bin" || { echo "curl download corrupted"; exit 1; }
cmp -s "$work/local/up.bin" "$work/srv/up/curl-up-3.bin" || { echo "curl upload corrupted"; exit 1; }
cmp -s "$work/srv/big.bin" "$work/local/thread.bin" || { echo "worker download corrupted"; exit 1; }
cmp -s "$work/local/up.bin" "$work/srv/up/thread-up-3.bin" || { echo "worker upload corrupted"; exit 1; }
best_of() { awk -v k="$1" '$1 == k && $2 != "" { print $2 }' "$work/times" | best; }
curl_get=$(best_of curl_get); thread_get=$(best_of thread_get)
curl_put=$(best_of curl_put); thread_put=$(best_of thread_put)

mbs() { awk -v s="$1" -v n="$size" 'BEGIN { printf "%.0f", n / s / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b / a }'; }
printf '%-14s %14s %12s\n' "256 MiB, TLS" "worker MB/s" "curl MB/s"
printf '%-14s %14s %12s\n' "download" "$(mbs "$thread_get")" "$(mbs "$curl_get")"
printf '%-14s %14s %12s\n' "upload" "$(mbs "$thread_put")" "$(mbs "$curl_put")"
echo "ftps-get-ratio $(ratio "$thread_get" "$curl_get")"
echo "ftps-put-ratio $(ratio "$thread_put" "$curl_put")"
