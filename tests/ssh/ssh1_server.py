#!/usr/bin/python3
"""A scripted SSH protocol 1.5 server for the client's loopback tests.

Written from the public protocol 1.5 description: its own RSA server and host keys, the session
key decrypted from the client's double PKCS #1 type 2 encryption, CRC-32 checked on every packet,
password and RSA challenge authentication, optional compression, pty, and an echo shell or a
command session ending with an exit status.

It listens on 127.0.0.1 on a free port, prints "PORT <n>", serves one client and prints
"RESULT <key=value ...>" (or "FAIL <reason>") before it exits.
"""
import argparse
import binascii
import hashlib
import os
import socket
import struct
import sys
import zlib
import warnings

warnings.filterwarnings("ignore")
from cryptography.hazmat.primitives.asymmetric import rsa  # noqa: E402
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes  # noqa: E402

MSG = dict(DISCONNECT=1, PUBLIC_KEY=2, SESSION_KEY=3, USER=4, AUTH_RHOSTS=5, AUTH_RSA=6,
           RSA_CHALLENGE=7, RSA_RESPONSE=8, AUTH_PASSWORD=9, REQUEST_PTY=10, EXEC_SHELL=12,
           EXEC_CMD=13, SUCCESS=14, FAILURE=15, STDIN=16, STDOUT=17, STDERR=18, EXIT_STATUS=20,
           PORT_FORWARD=28, AGENT_FORWARD=30, IGNORE=32, EXIT_CONFIRMATION=33, X11_FORWARD=34,
           DEBUG=36, REQUEST_COMPRESSION=37)


class Fail(Exception):
    pass


def crc(data):
    # Protocol 1 CRC-32: initial value 0 and no final inversion, unlike zlib's convention.
    return binascii.crc32(data, 0xFFFFFFFF) ^ 0xFFFFFFFF


def mpint(value):
    bits = value.bit_length()
    return struct.pack(">H", bits) + value.to_bytes((bits + 7) // 8, "big")


def read_mpint(data, pos):
    bits = struct.unpack_from(">H", data, pos)[0]
    n = (bits + 7) // 8
    return int.from_bytes(data[pos + 2:pos + 2 + n], "big"), pos + 2 + n


def string(b):
    return struct.pack(">I", len(b)) + b


def read_string(data, pos):
    n = struct.unpack_from(">I", data, pos)[0]
    if pos + 4 + n > len(data):
        raise Fail("string past the end")
    return data[pos + 4:pos + 4 + n], pos + 4 + n


def pad_type2(data, k):
    ps = b""
    while len(ps) < k - 3 - len(data):
        ps += bytes(b for b in os.urandom(k) if b != 0)
    return b"\x00\x02" + ps[:k - 3 - len(data)] + b"\x00" + data


def unpad_type2(block):
    if block[:2] != b"\x00\x02":
        raise Fail("session key block is not type 2")
    end = block.index(b"\x00", 2)
    return block[end + 1:]


class Swapped:
    """Blowfish of protocol 1: CBC over 32-bit words taken little-endian."""

    def __init__(self, ctx):
        self.ctx = ctx

    @staticmethod
    def swap(b):
        return b"".join(b[i:i + 4][::-1] for i in range(0, len(b), 4))

    def update(self, b):
        return self.swap(self.ctx.update(self.swap(b)))


class Idea:
    """IDEA block encryption (the cipher of protocol 1 number 1, used in CFB mode)."""

    def __init__(self, key):
        bits = int.from_bytes(key, "big")
        self.k = []
        while len(self.k) < 52:
            for i in range(8):
                self.k.append((bits >> (112 - 16 * i)) & 0xFFFF)
            bits = ((bits << 25) | (bits >> 103)) & ((1 << 128) - 1)
        self.k = self.k[:52]

    @staticmethod
    def mul(a, b):
        a = a or 0x10000
        b = b or 0x10000
        return (a * b % 0x10001) & 0xFFFF

    def block(self, data):
        m, k = self.mul, self.k
        x1, x2, x3, x4 = (int.from_bytes(data[i:i + 2], "big") for i in range(0, 8, 2))
        for r in range(8):
            s = k[6 * r:6 * r + 6]
            x1 = m(x1, s[0])
            x2 = (x2 + s[1]) & 0xFFFF
            x3 = (x3 + s[2]) & 0xFFFF
            x4 = m(x4, s[3])
            t = m(x1 ^ x3, s[4])
            u = m(((x2 ^ x4) + t) & 0xFFFF, s[5])
            t = (t + u) & 0xFFFF
            x1, x2, x3, x4 = x1 ^ u, x3 ^ u, x2 ^ t, x4 ^ t
        y = (m(x1, k[48]), (x3 + k[49]) & 0xFFFF, (x2 + k[50]) & 0xFFFF, m(x4, k[51]))
        return b"".join(v.to_bytes(2, "big") for v in y)


class IdeaCfb:
    def __init__(self, key, decrypt):
        self.idea = Idea(key)
        self.iv = bytes(8)
        self.decrypt = decrypt

    def update(self, data):
        out = b""
        for i in range(0, len(data), 8):
            ks = self.idea.block(self.iv)
            chunk = data[i:i + 8]
            res = bytes(a ^ b for a, b in zip(chunk, ks))
            self.iv = chunk if self.decrypt else res
            out += res
        return out


# OpenSSL 3 leaves IDEA to its legacy provider, so it is written out here.
class Plain:
    def update(self, b):
        return b


def make_ciphers(number, key):
    """(server->client encryptor, client->server decryptor)."""
    iv = bytes(8)
    if number == 0:
        return Plain(), Plain()
    if number == 2:
        c = lambda: Cipher(algorithms.TripleDES(key[:8] * 3), modes.CBC(iv))  # noqa: E731
        return c().encryptor(), c().decryptor()
    if number == 5:
        return (Cipher(algorithms.ARC4(key[:16]), None).encryptor(),
                Cipher(algorithms.ARC4(key[16:32]), None).decryptor())
    if number == 6:
        c = lambda: Cipher(algorithms.Blowfish(key), modes.CBC(iv))  # noqa: E731
        return Swapped(c().encryptor()), Swapped(c().decryptor())
    if number == 1:
        return IdeaCfb(key[:16], False), IdeaCfb(key[:16], True)
    raise Fail("cipher %d not offered" % number)


class Conn:
    def __init__(self, sock):
        self.sock = sock
        self.enc = self.dec = None
        self.deflate = self.inflate = None
        self.pending_compression = False

    def recv_exact(self, n):
        out = b""
        while len(out) < n:
            part = self.sock.recv(n - len(out))
            if not part:
                raise Fail("client closed")
            out += part
        return out

    def read_line(self):
        line = b""
        while not line.endswith(b"\n") and len(line) < 255:
            line += self.recv_exact(1)
        return line.decode("latin-1").rstrip("\r\n")

    def read(self):
        length = struct.unpack(">I", self.recv_exact(4))[0]
        if length < 5 or length > 262144:
            raise Fail("bad length %d" % length)
        pad = 8 - length % 8
        body = self.recv_exact(length + pad)
        if self.dec:
            body = self.dec.update(body)
        if crc(body[:-4]) != struct.unpack(">I", body[-4:])[0]:
            raise Fail("bad CRC")
        payload = body[pad:-4]
        if self.inflate:
            payload = self.inflate.decompress(payload)
        return payload[0], payload[1:]

    def send(self, kind, data=b""):
        payload = bytes([kind]) + data
        if self.deflate:
            payload = self.deflate.compress(payload) + self.deflate.flush(zlib.Z_PARTIAL_FLUSH)
        length = len(payload) + 4
        pad = 8 - length % 8
        body = (os.urandom(pad) if self.enc else bytes(pad)) + payload
        body += struct.pack(">I", crc(body))
        if self.enc:
            body = self.enc.update(body)
        self.sock.sendall(struct.pack(">I", length) + body)


def serve(conn, args, result):
    conn.sock.sendall(b"SSH-1.5-ScriptedOne\n")
    line = conn.read_line()
    if not line.startswith("SSH-1.5-"):
        raise Fail("client line %r" % line)
    server_key = rsa.generate_private_key(public_exponent=65537, key_size=1024)
    host_key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
    keys = []
    for k in (server_key, host_key):
        p = k.private_numbers()
        keys.append((p.public_numbers.n, p.public_numbers.e, p.d))
    cookie = os.urandom(8)
    msg = cookie
    for n, e, _ in keys:
        msg += struct.pack(">I", n.bit_length()) + mpint(e) + mpint(n)
    auth_mask = (1 << 3) | (1 << 2)
    msg += struct.pack(">III", 0, 1 << args.cipher, auth_mask)
    conn.send(MSG["PUBLIC_KEY"], msg)

    kind, data = conn.read()
    if kind != MSG["SESSION_KEY"]:
        raise Fail("expected SESSION_KEY, got %d" % kind)
    cipher = data[0]
    if data[1:9] != cookie:
        raise Fail("cookie not echoed")
    value, pos = read_mpint(data, 9)
    flags = struct.unpack_from(">I", data, pos)[0]
    if cipher != args.cipher:
        raise Fail("cipher %d chosen, %d offered" % (cipher, args.cipher))
    # The larger modulus is the outer layer.
    for n, _, d in sorted(keys, key=lambda k: -k[0]):
        kb = (n.bit_length() + 7) // 8
        value = int.from_bytes(unpad_type2(pow(value, d, n).to_bytes(kb, "big")), "big")
    session_id = hashlib.md5(keys[1][0].to_bytes((keys[1][0].bit_length() + 7) // 8, "big")
                             + keys[0][0].to_bytes((keys[0][0].bit_length() + 7) // 8, "big")
                             + cookie).digest()
    key = bytearray(value.to_bytes(32, "big"))
    for i in range(16):
        key[i] ^= session_id[i]
    conn.enc, conn.dec = make_ciphers(cipher, bytes(key))
    result["cipher"] = cipher
    result["flags"] = flags
    conn.send(MSG["SUCCESS"])

    kind, data = conn.read()
    if kind != MSG["USER"]:
        raise Fail("expected USER")
    user, _ = read_string(data, 0)
    if user.decode() != args.user:
        raise Fail("user %r" % user)
    conn.send(MSG["FAILURE"])

    challenge = None
    authorized = int(args.authorized, 16) if args.authorized else None
    for _ in range(16):
        kind, data = conn.read()
        if kind == MSG["AUTH_PASSWORD"]:
            password, _ = read_string(data, 0)
            if password.decode() == args.password:
                result["auth"] = "password"
                conn.send(MSG["SUCCESS"])
                break
            conn.send(MSG["FAILURE"])
        elif kind == MSG["AUTH_RSA"]:
            n, _ = read_mpint(data, 0)
            if n != authorized:
                conn.send(MSG["FAILURE"])
                continue
            challenge = os.urandom(32)
            kb = (n.bit_length() + 7) // 8
            c = pow(int.from_bytes(pad_type2(challenge, kb), "big"), 65537, n)
            conn.send(MSG["RSA_CHALLENGE"], mpint(c))
        elif kind == MSG["RSA_RESPONSE"]:
            if challenge and data == hashlib.md5(challenge + session_id).digest():
                result["auth"] = "rsa"
                conn.send(MSG["SUCCESS"])
                break
            conn.send(MSG["FAILURE"])
        else:
            conn.send(MSG["FAILURE"])
    else:
        raise Fail("no authentication")

    while True:
        kind, data = conn.read()
        if kind == MSG["REQUEST_COMPRESSION"]:
            level = struct.unpack(">I", data)[0]
            result["compression"] = level
            conn.send(MSG["SUCCESS"])
            conn.deflate = zlib.compressobj(level)
            conn.inflate = zlib.decompressobj()
        elif kind == MSG["REQUEST_PTY"]:
            term, pos = read_string(data, 0)
            rows, cols = struct.unpack_from(">II", data, pos)
            if data[-1] != 0:
                raise Fail("pty modes not ended by 0")
            result["pty"] = "%s:%dx%d" % (term.decode(), cols, rows)
            conn.send(MSG["SUCCESS"])
        elif kind in (MSG["PORT_FORWARD"], MSG["AGENT_FORWARD"], MSG["X11_FORWARD"]):
            conn.send(MSG["FAILURE"])
        elif kind == MSG["EXEC_CMD"]:
            command, _ = read_string(data, 0)
            result["command"] = command.decode()
            if command.startswith(b"echo "):
                conn.send(MSG["STDOUT"], string(command[5:] + b"\n"))
            conn.send(MSG["STDERR"], string(b"note\n"))
            conn.send(MSG["EXIT_STATUS"], struct.pack(">I", 3))
            break
        elif kind == MSG["EXEC_SHELL"]:
            result["shell"] = 1
            echoed = b""
            while True:
                kind, data = conn.read()
                if kind != MSG["STDIN"]:
                    raise Fail("expected stdin, got %d" % kind)
                text, _ = read_string(data, 0)
                echoed += text
                conn.send(MSG["STDOUT"], string(text))
                if b"exit" in echoed:
                    break
            result["echoed"] = len(echoed)
            conn.send(MSG["EXIT_STATUS"], struct.pack(">I", 0))
            break
        elif kind == MSG["IGNORE"] or kind == MSG["DEBUG"]:
            continue
        else:
            raise Fail("unexpected message %d" % kind)
    kind, _ = conn.read()
    if kind != MSG["EXIT_CONFIRMATION"]:
        raise Fail("expected EXIT_CONFIRMATION, got %d" % kind)
    result["confirmed"] = 1


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cipher", type=int, default=6)
    ap.add_argument("--user", default="user")
    ap.add_argument("--password", default="secret")
    ap.add_argument("--authorized", default="", help="modulus (hex) of the one RSA key let in")
    args = ap.parse_args()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    listener.settimeout(30)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    sock, _ = listener.accept()
    sock.settimeout(30)
    result = {}
    try:
        serve(Conn(sock), args, result)
        print("RESULT " + " ".join("%s=%s" % kv for kv in sorted(result.items())), flush=True)
    except (Fail, OSError, struct.error, ValueError, IndexError) as e:
        print("FAIL %s" % e, flush=True)
        return 1
    finally:
        sock.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
