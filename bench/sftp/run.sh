#!/usr/bin/env bash
# The Secure FTP window against OpenSSH's sftp (-b) on one loopback sshd, in turns in one run:
#  - 256 MiB download and upload, cipher aes128-gcm@openssh.com, both with the same Ed25519 key
#    (best of two each), directly and through a proxy holding every chunk 10 ms each way;
#  - entering a folder of 10,000 files until the window's list holds them (best of three).
# Needs root (sshd and a test user), BUILD in the environment. Ratios: our MB/s over theirs.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
BUILD="${BUILD:-build}"
case "$BUILD" in /*) ;; *) BUILD="$repo/$BUILD" ;; esac
bench="$BUILD/bin/bench_sftp"
[ -x "$bench" ] || { echo "missing $bench"; exit 1; }
SIZE=${SFTP_BENCH_BYTES:-$((256 << 20))}

work="$(mktemp -d -t varnello-sftp-bench-XXXXXX)"
chmod 755 "$work"
user="vrnsftp$$"
sshd_pid=""
proxy_pid=""
cleanup() {
    if [ -n "$proxy_pid" ]; then kill "$proxy_pid" 2>/dev/null || true; wait "$proxy_pid" 2>/dev/null || true; fi
    if [ -n "$sshd_pid" ]; then kill "$sshd_pid" 2>/dev/null || true; wait "$sshd_pid" 2>/dev/null || true; fi
    userdel -f "$user" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p /run/sshd
ssh-keygen -q -t ed25519 -N '' -f "$work/host_ed25519"
ssh-keygen -q -t ed25519 -N '' -f "$work/user_key"
home="$work/home"
mkdir "$home" "$work/local"
useradd -M -d "$home" -s /bin/sh "$user"
echo "$user:$(head -c 18 /dev/urandom | base64)" | chpasswd
cp "$work/user_key.pub" "$work/authorized_keys"
chmod 644 "$work/authorized_keys"
head -c "$SIZE" /dev/urandom > "$home/big.bin"
head -c "$SIZE" /dev/urandom > "$work/local/up.bin"
mkdir "$home/many"
(cd "$home/many" && seq -f "file%05g" 10000 | xargs touch)
chown -R "$user" "$home"
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$work/sshd_config" <<CFG
Port $port
ListenAddress 127.0.0.1
HostKey $work/host_ed25519
PidFile $work/sshd.pid
AuthorizedKeysFile $work/authorized_keys
StrictModes no
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
Ciphers aes128-gcm@openssh.com
Subsystem sftp /usr/lib/openssh/sftp-server
CFG
/usr/sbin/sshd -D -e -f "$work/sshd_config" 2>"$work/sshd.log" &
sshd_pid=$!
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.05; done

"$bench" proxy "$work/proxy_port" "$port" 10 &
proxy_pid=$!
for _ in $(seq 100); do [ -s "$work/proxy_port" ] && break; sleep 0.05; done
proxy_port=$(cat "$work/proxy_port")

now() { date +%s.%N; }
theirs() { # port, batch line: seconds for one sftp -b run
    local t0 t1
    echo "$2" > "$work/batch"
    t0=$(now)
    sftp -q -b "$work/batch" -F /dev/null -i "$work/user_key" -o StrictHostKeyChecking=no \
        -o UserKnownHostsFile=/dev/null -o LogLevel=ERROR -c aes128-gcm@openssh.com -P "$1" \
        "$user@127.0.0.1" > /dev/null
    t1=$(now)
    echo "$t1 - $t0" | bc -l
}
best() { sort -g | head -1; }
check() { cmp -s "$1" "$2" || { echo "transfer mismatch: $1 $2"; exit 1; }; }

printf "%-36s %10s %10s %8s\n" "$((SIZE >> 20)) MiB (MB/s, best of 2)" "ours" "sftp" "ratio"
declare -A ratio
for via in direct 20ms; do
    p=$port; [ $via = 20ms ] && p=$proxy_port
    for dir in get put; do
        : > "$work/o"; : > "$work/t"
        for _ in 1 2; do
            rm -f "$work/local/got.bin" "$home/up.bin"
            if [ $dir = get ]; then
                "$bench" "$p" "$user" "$work/user_key" get big.bin "$work/local/got.bin" >> "$work/o" 2>>"$work/bench.log"
                check "$home/big.bin" "$work/local/got.bin"; rm -f "$work/local/got.bin"
                theirs "$p" "get big.bin $work/local/got.bin" >> "$work/t"
                check "$home/big.bin" "$work/local/got.bin"
            else
                "$bench" "$p" "$user" "$work/user_key" put "$work/local/up.bin" >> "$work/o" 2>>"$work/bench.log"
                check "$work/local/up.bin" "$home/up.bin"; rm -f "$home/up.bin"
                theirs "$p" "put $work/local/up.bin up.bin" >> "$work/t"
                check "$work/local/up.bin" "$home/up.bin"
            fi
        done
        o=$(best < "$work/o"); t=$(best < "$work/t")
        mo=$(echo "$SIZE / $o / 1000000" | bc -l); mt=$(echo "$SIZE / $t / 1000000" | bc -l)
        r=$(echo "$mo / $mt" | bc -l)
        printf "%-36s %10.1f %10.1f %8.2f\n" "$dir $via" "$mo" "$mt" "$r"
        ratio["$dir-$via"]=$r
    done
done
: > "$work/l"
for _ in 1 2 3; do "$bench" "$port" "$user" "$work/user_key" list many 10002 >> "$work/l" 2>>"$work/bench.log"; done
list_ms=$(best < "$work/l")
echo
printf "sftp-get-ratio %.2f\n" "${ratio[get-direct]}"
printf "sftp-put-ratio %.2f\n" "${ratio[put-direct]}"
printf "sftp-get-20ms-ratio %.2f\n" "${ratio[get-20ms]}"
printf "sftp-put-20ms-ratio %.2f\n" "${ratio[put-20ms]}"
printf "sftp-list-10k-ms %.1f\n" "$list_ms"
