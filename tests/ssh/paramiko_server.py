#!/usr/bin/python3
"""A paramiko SSH server for one session, as a second real peer of the client.

Usage: paramiko_server.py PORT_FILE CIPHER MAC COMPRESSION USER PASSWORD
Listens on a free loopback port (written to PORT_FILE), accepts one connection that may only use
the given cipher, MAC and compression, authenticates USER with PASSWORD, answers one "exec"
with the command's text reversed and exit status 0, and ends.

paramiko lacks the older block ciphers; they are added to its table here: Blowfish, CAST-128,
RC4 from python3-cryptography, Twofish and Serpent from nettle and IDEA from libgcrypt
through ctypes.
"""
import ctypes
import ctypes.util
import socket
import sys
import threading
import warnings

warnings.filterwarnings("ignore")

import paramiko
from cryptography.hazmat.primitives.ciphers import algorithms, modes

_nettle = ctypes.CDLL(ctypes.util.find_library("nettle"))


class NettleCbc:
    """CBC over a nettle block cipher, shaped like a cryptography encryptor (update only)."""

    def __init__(self, algo, key, iv, encrypt):
        self.ctx = ctypes.create_string_buffer(16384)
        getattr(_nettle, "nettle_%s_set_key" % algo).argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_char_p]
        getattr(_nettle, "nettle_%s_set_key" % algo)(self.ctx, len(key), bytes(key))
        fn = getattr(_nettle, "nettle_%s_%s" % (algo, "encrypt" if encrypt else "decrypt"))
        self.fn = ctypes.cast(fn, ctypes.c_void_p)
        self.iv = ctypes.create_string_buffer(bytes(iv[:16]), 16)
        self.run = _nettle.nettle_cbc_encrypt if encrypt else _nettle.nettle_cbc_decrypt
        self.run.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_void_p,
                             ctypes.c_size_t, ctypes.c_void_p, ctypes.c_char_p]

    def update(self, data):
        out = ctypes.create_string_buffer(len(data))
        self.run(self.ctx, self.fn, 16, self.iv, len(data), out, bytes(data))
        return out.raw


_gcrypt = ctypes.CDLL(ctypes.util.find_library("gcrypt"))
_gcrypt.gcry_check_version.restype = ctypes.c_char_p
_gcrypt.gcry_check_version(None)


class GcryptIdeaCbc:
    """IDEA-CBC from libgcrypt (OpenSSL 3 no longer offers IDEA by default)."""

    def __init__(self, key, iv, encrypt):
        self.h = ctypes.c_void_p()
        # GCRY_CIPHER_IDEA = 1, GCRY_CIPHER_MODE_CBC = 3
        if _gcrypt.gcry_cipher_open(ctypes.byref(self.h), 1, 3, 0) != 0:
            raise RuntimeError("gcrypt IDEA unavailable")
        _gcrypt.gcry_cipher_setkey(self.h, bytes(key), ctypes.c_size_t(len(key)))
        _gcrypt.gcry_cipher_setiv(self.h, bytes(iv[:8]), ctypes.c_size_t(8))
        self.run = _gcrypt.gcry_cipher_encrypt if encrypt else _gcrypt.gcry_cipher_decrypt

    def update(self, data):
        out = ctypes.create_string_buffer(len(data))
        self.run(self.h, out, ctypes.c_size_t(len(data)), bytes(data), ctypes.c_size_t(len(data)))
        return out.raw


class OldCipherTransport(paramiko.Transport):
    _cipher_info = dict(paramiko.Transport._cipher_info)
    for name, cls, block, key in (("blowfish-cbc", algorithms.Blowfish, 8, 16),
                                  ("cast128-cbc", algorithms.CAST5, 8, 16),
                                  # single DES: Triple DES with one 8-byte key is DES
                                  ("des-cbc", algorithms.TripleDES, 8, 8)):
        _cipher_info[name] = {"class": cls, "mode": modes.CBC, "block-size": block, "key-size": key}
    _cipher_info["idea-cbc"] = {"class": "idea", "mode": modes.CBC, "block-size": 8, "key-size": 16}
    _cipher_info["arcfour"] = {"class": algorithms.ARC4, "mode": None, "block-size": 8, "key-size": 16}
    for bits in (128, 192, 256):
        for algo in ("twofish", "serpent"):
            _cipher_info["%s%d-cbc" % (algo, bits)] = {"class": algo, "mode": modes.CBC, "block-size": 16,
                                                       "key-size": bits // 8}
    _preferred_ciphers = tuple(_cipher_info)

    def _get_cipher(self, name, key, iv, operation):
        info = self._cipher_info[name]
        if info["class"] == "idea":
            return GcryptIdeaCbc(key, iv, operation is self._ENCRYPT)
        if isinstance(info["class"], str):
            return NettleCbc(info["class"], key, iv, operation is self._ENCRYPT)
        if info["mode"] is None:
            from cryptography.hazmat.primitives.ciphers import Cipher
            c = Cipher(info["class"](key), None)
            return c.encryptor() if operation is self._ENCRYPT else c.decryptor()
        return paramiko.Transport._get_cipher(self, name, key, iv, operation)


class Server(paramiko.ServerInterface):
    def __init__(self, user, password):
        self.user, self.password = user, password
        self.done = threading.Event()
        self.command = b""

    def check_auth_password(self, username, password):
        ok = username == self.user and password == self.password
        return paramiko.AUTH_SUCCESSFUL if ok else paramiko.AUTH_FAILED

    def get_allowed_auths(self, username):
        return "password"

    def check_channel_request(self, kind, chanid):
        return paramiko.OPEN_SUCCEEDED if kind == "session" else paramiko.OPEN_FAILED_ADMINISTRATIVELY_PROHIBITED

    def check_channel_exec_request(self, channel, command):
        self.command = command
        self.done.set()
        return True


def main():
    port_file, cipher, mac, compression, user, password = sys.argv[1:7]
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    with open(port_file + ".tmp", "w") as f:
        f.write(str(listener.getsockname()[1]))
    import os
    os.rename(port_file + ".tmp", port_file)
    listener.settimeout(30)
    conn, _ = listener.accept()
    t = OldCipherTransport(conn)
    t.add_server_key(paramiko.Ed25519Key.from_private_key_file(sys.argv[7]) if len(sys.argv) > 7
                     else paramiko.RSAKey.generate(2048))
    t.use_compression(compression != "none")
    opts = t.get_security_options()
    opts.ciphers = (cipher,)
    opts.digests = (mac,)
    opts.compression = (compression,)
    server = Server(user, password)
    t.start_server(server=server)
    chan = t.accept(20)
    if chan is None or not server.done.wait(20):
        sys.exit(2)
    chan.sendall(server.command[::-1] + b"\n")
    chan.send_exit_status(0)
    chan.shutdown_write()
    chan.close()
    # Let the client read the rest and close.
    for _ in range(100):
        if not t.is_active():
            break
        threading.Event().wait(0.05)
    t.close()


if __name__ == "__main__":
    main()
