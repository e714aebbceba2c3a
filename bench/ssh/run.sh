#!/usr/bin/env bash
# Our SSH client against OpenSSH's ssh on one loopback sshd, in turns in one run:
#  - the time from TCP connect to an authenticated session that ran "true" (best of ten each);
#  - 1 GiB through an "exec" channel, up ("cat > /dev/null") and down ("cat FILE"), with
#    aes128-gcm@openssh.com, chacha20-poly1305@openssh.com and aes128-cbc + hmac-sha1 (best of two).
# Both authenticate with the same Ed25519 key. Needs root (sshd and a test user), BUILD in the
# environment. Ratios: handshake ours over theirs (lower is better), channel our MB/s over theirs.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
BUILD="${BUILD:-build}"
case "$BUILD" in /*) ;; *) BUILD="$repo/$BUILD" ;; esac
bench="$BUILD/bin/bench_ssh"
[ -x "$bench" ] || { echo "missing $bench"; exit 1; }
SIZE=${SSH_BENCH_BYTES:-$((1 << 30))}

work="$(mktemp -d -t varnello-ssh-bench-XXXXXX)"
chmod 755 "$work"
user="vrnbench$$"
sshd_pid=""
cleanup() {
    if [ -n "$sshd_pid" ]; then kill "$sshd_pid" 2>/dev/null || true; wait "$sshd_pid" 2>/dev/null || true; fi
    userdel -f "$user" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p /run/sshd
ssh-keygen -q -t ed25519 -N '' -f "$work/host_ed25519"
ssh-keygen -q -t ed25519 -N '' -f "$work/user_key"
useradd -M -d "$work" -s /bin/sh "$user"
# A locked account (no password at all) is refused even for keys; give it a random one.
echo "$user:$(head -c 18 /dev/urandom | base64)" | chpasswd
cp "$work/user_key.pub" "$work/authorized_keys"
chmod 644 "$work/authorized_keys"
head -c "$SIZE" /dev/urandom > "$work/big.bin"
chmod 644 "$work/big.bin"
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')

start_sshd() { # extra config lines
    if [ -n "$sshd_pid" ]; then kill "$sshd_pid"; wait "$sshd_pid" 2>/dev/null || true; fi
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
$1
CFG
    /usr/sbin/sshd -D -e -f "$work/sshd_config" 2>"$work/sshd.log" &
    sshd_pid=$!
    for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0; sleep 0.05; done
    echo "sshd did not start"; cat "$work/sshd.log"; exit 1
}
ssh_opts=(-F /dev/null -i "$work/user_key" -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null
          -o BatchMode=yes -o LogLevel=ERROR -p "$port")
theirs() { # seconds for one ssh run of the command, stdin from $2
    local t0 t1
    t0=$(date +%s.%N)
    ssh "${ssh_opts[@]}" "${@:3}" "$user@127.0.0.1" "$1" < "$2" > /dev/null
    t1=$(date +%s.%N)
    echo "$t1 - $t0" | bc -l
}
best() { sort -g | head -1; }

start_sshd ""
: > "$work/hs_ours"; : > "$work/hs_theirs"
for _ in $(seq 10); do
    "$bench" "$port" "$user" "$work/user_key" handshake | cut -d' ' -f1 >> "$work/hs_ours"
    theirs true /dev/null >> "$work/hs_theirs"
done
hs_ours=$(best < "$work/hs_ours"); hs_theirs=$(best < "$work/hs_theirs")
printf "%-44s %10s %10s\n" "handshake (s, best of 10)" "ours" "ssh"
printf "%-44s %10.4f %10.4f\n" "connect .. authenticated .. true" "$hs_ours" "$hs_theirs"
echo

printf "%-44s %10s %10s %8s\n" "$((SIZE >> 20)) MiB through exec (MB/s, best of 2)" "ours" "ssh" "ratio"
declare -A ratio
for pair in "aes128-gcm@openssh.com|" "chacha20-poly1305@openssh.com|" "aes128-cbc|hmac-sha1"; do
    cipher=${pair%%|*}; mac=${pair#*|}
    cfg="Ciphers $cipher"; extra=(-c "$cipher")
    if [ -n "$mac" ]; then cfg="$cfg
MACs $mac"; extra+=(-m "$mac"); fi
    start_sshd "$cfg"
    for dir in up down; do
        : > "$work/o"; : > "$work/t"
        for _ in 1 2; do
            if [ $dir = up ]; then
                "$bench" "$port" "$user" "$work/user_key" up "$SIZE" | cut -d' ' -f1 >> "$work/o"
                theirs "cat > /dev/null" "$work/big.bin" "${extra[@]}" >> "$work/t"
            else
                "$bench" "$port" "$user" "$work/user_key" down "$work/big.bin" "$SIZE" | cut -d' ' -f1 >> "$work/o"
                theirs "cat $work/big.bin" /dev/null "${extra[@]}" >> "$work/t"
            fi
        done
        o=$(best < "$work/o"); t=$(best < "$work/t")
        mo=$(echo "$SIZE / $o / 1000000" | bc -l); mt=$(echo "$SIZE / $t / 1000000" | bc -l)
        r=$(echo "$mo / $mt" | bc -l)
        printf "%-44s %10.1f %10.1f %8.2f\n" "$cipher${mac:+ + $mac} $dir" "$mo" "$mt" "$r"
        ratio["$cipher-$dir"]=$r
    done
done
echo
printf "ssh-handshake-ratio %.2f\n" "$(echo "$hs_ours / $hs_theirs" | bc -l)"
printf "ssh-channel-up-ratio %.2f\n" "${ratio[aes128-gcm@openssh.com-up]}"
printf "ssh-channel-down-ratio %.2f\n" "${ratio[aes128-gcm@openssh.com-down]}"
