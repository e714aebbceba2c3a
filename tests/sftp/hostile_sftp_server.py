#!/usr/bin/python3
"""A lying SFTP server over paramiko's SSH transport, for one session.

Usage: hostile_sftp_server.py PORT_FILE MODE USER PASSWORD
Listens on a free loopback port (written to PORT_FILE), authenticates USER with PASSWORD and
answers the "sftp" subsystem with hand-made packets. Every mode answers INIT, REALPATH, OPENDIR,
OPEN and CLOSE plainly; the lie is in:
  names     - READDIR lists names holding "/", "\\", "..", "." and dots only, and "ok.txt"
  endless   - READDIR never reports the end: every answer holds 1000 more entries
  longdata  - READ answers with more bytes than asked
  unknownid - the answer to OPENDIR carries an id no request used
"""
import os
import socket
import struct
import sys
import threading
import warnings

warnings.filterwarnings("ignore")

import logging

import paramiko

logging.basicConfig(level=logging.INFO, stream=sys.stderr)

FXP_INIT, FXP_VERSION, FXP_OPEN, FXP_CLOSE, FXP_READ = 1, 2, 3, 4, 5
FXP_OPENDIR, FXP_READDIR, FXP_REALPATH = 11, 12, 16
FXP_STATUS, FXP_HANDLE, FXP_DATA, FXP_NAME = 101, 102, 103, 104


def sstr(b):
    if isinstance(b, str):
        b = b.encode()
    return struct.pack(">I", len(b)) + b


def packet(kind, body):
    return struct.pack(">IB", len(body) + 1, kind) + body


def status(rid, code, text):
    return packet(FXP_STATUS, struct.pack(">II", rid, code) + sstr(text) + sstr(""))


def names(rid, entries):
    body = struct.pack(">II", rid, len(entries))
    for name, is_dir in entries:
        perm = 0o40755 if is_dir else 0o100644
        body += sstr(name) + sstr(name) + struct.pack(">IQI", 0x5, 4, perm)
    return packet(FXP_NAME, body)


class Server(paramiko.ServerInterface):
    def __init__(self, user, password):
        self.user, self.password = user, password
        self.subsystem = threading.Event()

    def check_auth_password(self, username, password):
        ok = username == self.user and password == self.password
        return paramiko.AUTH_SUCCESSFUL if ok else paramiko.AUTH_FAILED

    def get_allowed_auths(self, username):
        return "password"

    def check_channel_request(self, kind, chanid):
        return paramiko.OPEN_SUCCEEDED if kind == "session" else paramiko.OPEN_FAILED_ADMINISTRATIVELY_PROHIBITED

    def check_channel_subsystem_request(self, channel, name):
        if name != "sftp":
            return False
        # Served from the main thread once paramiko has answered this request.
        self.subsystem.set()
        return True


MODE = ""


def read_exact(chan, n):
    data = b""
    while len(data) < n:
        # A client that drops the whole connection may leave the channel open on this side;
        # look at the transport now and then instead of waiting forever.
        try:
            part = chan.recv(n - len(data))
        except socket.timeout:
            if chan.closed or not chan.get_transport().is_active():
                return None
            continue
        if not part:
            return None
        data += part
    return data


def serve(chan):
    listed = 0
    try:
        while True:
            head = read_exact(chan, 4)
            if head is None:
                break
            body = read_exact(chan, struct.unpack(">I", head)[0])
            if body is None:
                break
            kind = body[0]
            if kind == FXP_INIT:
                chan.sendall(packet(FXP_VERSION, struct.pack(">I", 3)))
                continue
            rid = struct.unpack(">I", body[1:5])[0]
            if kind == FXP_REALPATH:
                chan.sendall(names(rid, [("/hostile", True)]))
            elif kind == FXP_OPENDIR:
                if MODE == "unknownid":
                    chan.sendall(packet(FXP_HANDLE, struct.pack(">I", rid + 1000) + sstr("D")))
                else:
                    chan.sendall(packet(FXP_HANDLE, struct.pack(">I", rid) + sstr("D")))
                listed = 0
            elif kind == FXP_READDIR:
                if MODE == "endless":
                    chan.sendall(names(rid, [("e%d" % (listed + i), False) for i in range(1000)]))
                    listed += 1000
                elif listed == 0:
                    listed = 1
                    chan.sendall(names(rid, [("../escape", False), ("sub/file", False), ("back\\slash", False),
                                             ("nul\0name", False), ("..", True), (".", True), ("...", False),
                                             ("ok.txt", False)]))
                else:
                    chan.sendall(status(rid, 1, "End of file"))
            elif kind == FXP_OPEN:
                chan.sendall(packet(FXP_HANDLE, struct.pack(">I", rid) + sstr("F")))
            elif kind == FXP_READ:
                hlen = struct.unpack(">I", body[5:9])[0]
                offset, length = struct.unpack(">QI", body[9 + hlen:9 + hlen + 12])
                if offset >= 1 << 20:
                    chan.sendall(status(rid, 1, "End of file"))
                elif MODE == "longdata":
                    chan.sendall(packet(FXP_DATA, struct.pack(">I", rid) + sstr(b"L" * (length + 100))))
                else:
                    chan.sendall(packet(FXP_DATA, struct.pack(">I", rid) + sstr(b"d" * length)))
            elif kind == FXP_CLOSE:
                chan.sendall(status(rid, 0, "Success"))
            else:
                chan.sendall(status(rid, 8, "Unsupported"))
    except (EOFError, OSError, paramiko.SSHException):
        pass


def main():
    global MODE
    port_file, MODE, user, password = sys.argv[1:5]
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    with open(port_file + ".tmp", "w") as f:
        f.write(str(listener.getsockname()[1]))
    os.rename(port_file + ".tmp", port_file)
    listener.settimeout(30)
    conn, _ = listener.accept()
    t = paramiko.Transport(conn)
    t.add_server_key(paramiko.RSAKey.generate(2048))
    server = Server(user, password)
    t.start_server(server=server)
    chan = t.accept(20)
    if chan is None or not server.subsystem.wait(20):
        sys.exit(2)
    # Serves until the client closes the channel (or the test stops this process).
    chan.settimeout(0.5)
    serve(chan)
    # Closing a transport whose peer already went can block in paramiko's own threads; this
    # process has nothing left to do, so it leaves without waiting for them.
    closer = threading.Thread(target=t.close, daemon=True)
    closer.start()
    closer.join(2)
    sys.stdout.flush()
    os._exit(0)

if __name__ == "__main__":
    main()
