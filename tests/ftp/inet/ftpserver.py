"""FTP peer for the interop tests: pyftpdlib on a loopback address and a free port.

Prints one line "PORT <n>" once it listens, then serves until it is killed. The modes imitate
the server set-ups the client must cope with:
  active     PORT/EPRT accepted (pyftpdlib connects at once)
  no-active  PORT/EPRT refused with 502, as by servers that allow passive mode only
  late-425   PORT/EPRT accepted but the transfer command answers 425 (no data connection)
  no-epsv    EPSV refused, PORT refused: the client must use PASV
  no-mlsd    MLSD/MLST not offered: the client must parse LIST
  (any mode) "DELE long-reply" is refused with a reply of 6,000 characters
  intruder   before each active data connection, a connection from 127.0.0.2 that sends
             "INTRUDER" (a third host racing the server to the client's data port)
  slow       data connections throttled to 4 MiB/s each way, so a transfer is still running
             when a test stops the server
  masquerade passive only, PASV naming a foreign host (192.0.2.1) and EPSV refused
  <mode>+slow  the same, with data sent to the client at 4 MiB/s, so that a test can act
             while a download is still running
  single     one connection per client address (a second one is answered 421), data sent
             to the client at 4 MiB/s
  cut-tls    over TLS, a download of "cut.bin" ends its data connection without close_notify
             (the 226 still follows)

--tls explicit|implicit serves FTP over TLS with --cert/--key (explicit: AUTH TLS; implicit:
TLS from the first byte); --tls-required refuses login and data without TLS. --idle N closes a
control connection idle for N seconds with 421, as hosting servers do.
"""
import argparse
import logging
import socket
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler, ThrottledDTPHandler
try:
    from pyftpdlib.handlers import TLS_FTPHandler, TLS_DTPHandler
except ImportError:  # no pyOpenSSL: plain tests still run
    TLS_FTPHandler = TLS_DTPHandler = None
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", default="tester")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--mode", default="active")
    parser.add_argument("--tls", default="none")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--tls-required", action="store_true")
    parser.add_argument("--idle", type=float, default=0)
    args = parser.parse_args()
    logging.basicConfig(level=logging.ERROR)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    mode = args.mode
    slow = mode.endswith("+slow")
    if slow:
        mode = mode[: -len("+slow")]

    base = FTPHandler
    idle_watch = set()
    if args.tls != "none":
        base = TLS_FTPHandler
        base.certfile = args.cert
        base.keyfile = args.key
        base.tls_control_required = args.tls_required
        base.tls_data_required = args.tls_required

    class Handler(base):
        late425 = False

        def handle(self):
            self.last_command = time.monotonic()
            idle_watch.add(self)
            if args.tls == "implicit":
                self.secure_connection(self.ssl_context)
            return base.handle(self)

        def ftp_PORT(self, line):
            if mode in ("no-active", "no-epsv", "masquerade"):
                return self.respond("502 Active mode not allowed.")
            if mode == "late-425":
                self.late425 = True
                return self.respond("200 PORT command successful.")
            if mode == "intruder":
                self.intrude(line)
            return base.ftp_PORT(self, line)

        def intrude(self, line):
            numbers = [int(n) for n in line.split(",")]
            port = numbers[4] * 256 + numbers[5]
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.bind(("127.0.0.2", 0))
            s.connect(("127.0.0.1", port))
            s.sendall(b"INTRUDER")
            s.close()

        def ftp_EPRT(self, line):
            if mode in ("no-active", "no-epsv", "masquerade"):
                return self.respond("502 Active mode not allowed.")
            if mode == "late-425":
                self.late425 = True
                return self.respond("200 EPRT command successful.")
            return base.ftp_EPRT(self, line)

        def ftp_EPSV(self, line):
            if mode in ("no-epsv", "masquerade"):
                return self.respond("500 Command not understood.")
            return base.ftp_EPSV(self, line)

        def pre_process_command(self, line, cmd, arg):
            self.last_command = time.monotonic()
            if cmd == "DELE" and arg == "long-reply":  # a refusal longer than any reply buffer
                return self.respond("550-" + "x" * 3000 + "\r\n550 " + "y" * 3000)
            if self.late425 and cmd in ("RETR", "STOR", "LIST", "MLSD", "NLST"):
                self.late425 = False
                return self.respond("425 Can't open data connection.")
            if self.late425 and cmd in ("PASV", "EPSV"):
                self.late425 = False
            if mode == "no-mlsd" and cmd in ("MLSD", "MLST"):
                return self.respond("500 Command \"%s\" not understood." % cmd)
            if mode == "cut-tls" and cmd == "RETR" and arg.endswith("cut.bin"):
                self.cut_next = True
            return base.pre_process_command(self, line, cmd, arg)

        def ftp_FEAT(self, line):
            if mode != "no-mlsd":
                return base.ftp_FEAT(self, line)
            self.push("211-Features supported:\r\n UTF8\r\n SIZE\r\n EPSV\r\n211 End FEAT.\r\n")

    Handler.authorizer = authorizer
    if mode == "cut-tls":
        class CutDTPHandler(TLS_DTPHandler):
            def close(self):
                if getattr(self.cmd_channel, "cut_next", False):
                    self.cmd_channel.cut_next = False
                    self._error = True  # closes without close_notify
                return TLS_DTPHandler.close(self)
        Handler.dtp_handler = CutDTPHandler
    if slow:
        class SlowDTPHandler(ThrottledDTPHandler):
            write_limit = 4 * 1024 * 1024
        Handler.dtp_handler = SlowDTPHandler
    if mode == "single":
        class SlowDTPHandler(ThrottledDTPHandler):
            write_limit = 4 * 1024 * 1024
        Handler.dtp_handler = SlowDTPHandler
    if mode == "slow":
        class Throttled(ThrottledDTPHandler):
            read_limit = 4 << 20
            write_limit = 4 << 20
        Handler.dtp_handler = Throttled
    if mode == "masquerade":
        Handler.masquerade_address = "192.0.2.1"
    Handler.banner = "Test peer ready."
    Handler.auth_failed_timeout = 0  # answer a bad password at once
    server = FTPServer((args.host, 0), Handler)
    if mode == "single":
        server.max_cons_per_ip = 1
    if args.idle:
        # pyftpdlib's own time-out does not fire after a login, so the peer keeps its own.
        def drop_idle():
            now = time.monotonic()
            for h in list(idle_watch):
                if now - h.last_command > args.idle:
                    idle_watch.remove(h)
                    if h.connected:
                        h.respond("421 Idle connection closed.")
                        h.close_when_done()
        server.ioloop.call_every(0.2, drop_idle)
    print("PORT %d" % server.address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
