"""FTP server for the tests: pyftpdlib's threaded server on 127.0.0.1.

Writes the port it listens on to --ready once it accepts connections, and
every command it receives to --log, one line each: session number, command,
argument (a password is never written). Options make it misbehave in the
ways the tests need.
"""

import argparse
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import ThreadedFTPServer


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--ready", required=True)
    ap.add_argument("--log", required=True)
    ap.add_argument("--user", default="user")
    ap.add_argument("--password", default="secret")
    ap.add_argument("--total-line", action="store_true",
                    help="listings begin with a summary line 'total 0'")
    ap.add_argument("--extra-line", action="append", default=[],
                    help="a line added at the end of every listing")
    ap.add_argument("--refuse-stor", action="append", default=[],
                    help="STOR of this name is always refused")
    ap.add_argument("--refuse-stor-once", action="append", default=[],
                    help="the first STOR of this name is refused")
    ap.add_argument("--drop-after-stor", type=int, default=0,
                    help="the server closes the control connection right after "
                         "the Nth STOR of its life completes")
    args = ap.parse_args()

    lock = threading.Lock()
    log = open(args.log, "a", buffering=1, encoding="utf-8")
    state = {"sessions": 0, "stors": 0, "refused_once": set()}

    def write(line):
        with lock:
            log.write(line + "\n")
            log.flush()

    class FS(AbstractedFS):
        def format_list(self, basedir, listing, ignore_err=True):
            if args.total_line:
                yield b"total 0\r\n"
            yield from super().format_list(basedir, listing, ignore_err)
            for line in args.extra_line:
                yield (line + "\r\n").encode("utf-8")

    class Handler(FTPHandler):
        abstracted_fs = FS
        session = 0

        def on_connect(self):
            with lock:
                state["sessions"] += 1
                self.session = state["sessions"]
            write("%d CONNECT" % self.session)

        def on_disconnect(self):
            write("%d DISCONNECT" % self.session)

        def pre_process_command(self, line, cmd, arg):
            shown = "****" if cmd == "PASS" else (arg or "")
            write(("%d %s %s" % (self.session, cmd, shown)).rstrip())
            if cmd == "STOR" and arg:
                name = os.path.basename(arg)
                refuse = name in args.refuse_stor
                with lock:
                    if name in args.refuse_stor_once and name not in state["refused_once"]:
                        state["refused_once"].add(name)
                        refuse = True
                if refuse:
                    self.respond("550 Refused by the test server.")
                    return
            return super().pre_process_command(line, cmd, arg)

        def on_file_received(self, file):
            with lock:
                state["stors"] += 1
                drop = state["stors"] == args.drop_after_stor
            if drop:
                # Once the 226 has gone out and the data channel is done,
                # as a server dropping an idle connection would.
                self.ioloop.call_later(0.01, self.close)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    Handler.authorizer = authorizer
    Handler.permit_privileged_ports = False
    Handler.banner = "test server ready"

    server = ThreadedFTPServer(("127.0.0.1", 0), Handler)
    port = server.socket.getsockname()[1]
    tmp = args.ready + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d\n" % port)
    os.rename(tmp, args.ready)
    try:
        server.serve_forever(handle_exit=True)
    finally:
        server.close_all()


if __name__ == "__main__":
    sys.exit(main())
