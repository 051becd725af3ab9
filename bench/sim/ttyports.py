#!/usr/bin/python3
"""Serial ports of the simulated USB bus.

One resident process holds every serial port the plugged stick currently
shows (/dev/ttyUSB<n>, /dev/ttyACM<n>): each is a pseudo-terminal whose
slave this process keeps open (so the port never reports a hang-up between
two users) and whose device node is a symbolic link to the slave. A port of
kind "at" answers AT commands with the simulated modem of modem.py; a port
of kind "silent" (a diagnostics or GPS port) swallows what it is sent.
Closing a port removes its node and closes both ends, so whoever still has
it open sees the hang-up of an unplugged modem.

The bus's shell code asks for ports over a Unix socket, one command a line,
and reads one reply line per command once it has shut its side down:

  open NAME at REPLYFILE   AT port; REPLYFILE holds PREFIX=REPLY lines and
                           optionally echo=off (may be "-")
  open NAME silent         port that never answers
  close NAME               remove the port (no error when absent)
  closeall                 remove every port
  list                     "NAME KIND /dev/pts/N" for each port
  ping                     "ok"

It is resident, rather than one process per port, because the stand-ins
that create ports must return within milliseconds: the bench's clock runs
up to 20 times faster than the real one, and a Python start-up takes longer
than the daemon under test waits for a node.
"""
import os
import select
import signal
import socket
import sys
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import modem  # noqa: E402  (the AT dialogue and the modem journal)

SOCKET = "/bench/state/usb/ports.sock"


class Port:
    def __init__(self, name, kind, replies, echo):
        self.name = name
        self.kind = kind
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.pts = os.ttyname(self.slave)
        self.link = "/dev/" + name
        self.modem = modem.Modem(name, replies, echo) if kind == "at" else None
        try:
            os.unlink(self.link)
        except FileNotFoundError:
            pass
        os.symlink(self.pts, self.link)

    def pump(self):
        try:
            data = os.read(self.master, 4096)
        except OSError:
            return
        if self.modem is not None:
            out = self.modem.feed(data)
            if out:
                try:
                    os.write(self.master, out)
                except OSError:
                    pass
        else:
            modem.journal(self.name, "<silent port> %r" % data)

    def close(self):
        try:
            if os.readlink(self.link) == self.pts:
                os.unlink(self.link)
        except OSError:
            pass
        for fd in (self.master, self.slave):
            try:
                os.close(fd)
            except OSError:
                pass


def read_replies(path):
    replies, echo = [], True
    if path and path != "-":
        try:
            with open(path) as f:
                for line in f:
                    line = line.rstrip("\n")
                    if not line:
                        continue
                    prefix, _, reply = line.partition("=")
                    if prefix == "echo":
                        echo = reply != "off"
                    else:
                        replies.append((prefix, reply))
        except OSError:
            pass
    return replies + modem.DEFAULT_REPLIES, echo


class Server:
    def __init__(self):
        self.ports = {}
        self.clients = {}

    def command(self, line):
        words = line.split()
        if not words:
            return "error empty command"
        op = words[0]
        if op == "open" and len(words) >= 3 and words[2] in ("at", "silent"):
            name = words[1]
            if "/" in name:
                return "error bad name %s" % name
            self.close(name)
            replies, echo = read_replies(words[3] if len(words) > 3 else None)
            try:
                port = Port(name, words[2], replies, echo)
            except OSError as e:
                return "error %s: %s" % (name, e)
            self.ports[name] = port
            return "ok %s %s" % (name, port.pts)
        if op == "close" and len(words) == 2:
            self.close(words[1])
            return "ok"
        if op == "closeall":
            for name in list(self.ports):
                self.close(name)
            return "ok"
        if op == "list":
            return "; ".join("%s %s %s" % (p.name, p.kind, p.pts) for p in self.ports.values()) or "-"
        if op == "ping":
            return "ok"
        return "error unknown command: %s" % line

    def close(self, name):
        port = self.ports.pop(name, None)
        if port is not None:
            port.close()

    def serve(self):
        try:
            os.unlink(SOCKET)
        except FileNotFoundError:
            pass
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        listener.bind(SOCKET + ".new")
        listener.listen(16)
        os.rename(SOCKET + ".new", SOCKET)
        while True:
            fds = [listener] + list(self.clients) + [p.master for p in self.ports.values()]
            ready, _, _ = select.select(fds, [], [], 5.0)
            for r in ready:
                if r is listener:
                    conn, _ = listener.accept()
                    self.clients[conn] = b""
                elif r in self.clients:
                    self.from_client(r)
                else:
                    for port in list(self.ports.values()):
                        if port.master == r:
                            port.pump()

    def from_client(self, conn):
        try:
            data = conn.recv(65536)
        except OSError:
            data = b""
        if data:
            self.clients[conn] += data
            return
        # The client has shut its side: answer each of its commands.
        text = self.clients.pop(conn).decode("utf-8", "replace")
        replies = [self.command(line) for line in text.splitlines() if line.strip()]
        try:
            conn.sendall(("\n".join(replies) + "\n").encode())
        except OSError:
            pass
        conn.close()


def main():
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    Server().serve()


if __name__ == "__main__":
    main()
