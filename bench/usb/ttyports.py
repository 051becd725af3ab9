#!/usr/bin/python3
"""Serial ports of the simulated USB bus.

One resident process holds every serial port the plugged stick currently
shows (/dev/ttyUSB<n>, /dev/ttyACM<n>): each is a pseudo-terminal whose
slave this process keeps open (so the port never reports a hang-up between
two users) and whose device node is a symbolic link to the slave. A port of
kind "at" answers AT commands with the simulated modem of modem.py; a port
of kind "status" is the stick's second AT port (modem.StatusModem), which
answers what is asked of the radio and the SIM; a port of kind "silent" (a
diagnostics or GPS port) swallows what it is sent.
Closing a port removes its node and closes both ends, so whoever still has
it open sees the hang-up of an unplugged modem.

The bus's shell code asks for ports through two FIFOs, which it can use
with shell builtins alone (no process to start): it writes its commands,
one a line, then "end N" to ports.in, and reads one reply line per command,
then "end N", from ports.out. The bus's lock keeps one client at a time;
N lets a client skip what an interrupted one left behind. Commands:

  open NAME at REPLYFILE   AT port; REPLYFILE holds PREFIX=REPLY lines and
                           optionally echo=off (may be "-")
  open NAME status FACTS   second AT port; FACTS the file of its answers
  open NAME silent         port that never answers
  mute NAME                the port's modem hangs: it takes what it is sent
                           and answers nothing (its node stays)
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
import stat
import sys
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import modem  # noqa: E402  (the AT dialogue and the modem journal)

REQUESTS = "/bench/state/usb/ports.in"
REPLIES = "/bench/state/usb/ports.out"


class Port:
    def __init__(self, name, kind, replies, echo):
        self.name = name
        self.kind = kind
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.pts = os.ttyname(self.slave)
        self.link = "/dev/" + name
        if kind == "at":
            self.modem = modem.Modem(name, replies, echo)
        elif kind == "status":
            self.modem = modem.StatusModem(name, replies)
        else:
            self.modem = None
        self.muted = False
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
        if self.muted:
            modem.journal(self.name, "<hung modem> %r" % data)
        elif self.modem is not None:
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
                        # "\r\n" written in a stick file ends a line of a
                        # reply of several lines.
                        replies.append((prefix, reply.replace("\\r", "\r").replace("\\n", "\n")))
        except OSError:
            pass
    return replies + modem.DEFAULT_REPLIES, echo


class Server:
    def __init__(self):
        self.ports = {}

    def command(self, line):
        words = line.split()
        if not words:
            return "error empty command"
        op = words[0]
        if op == "open" and len(words) >= 3 and words[2] in ("at", "status", "silent"):
            name = words[1]
            if "/" in name:
                return "error bad name %s" % name
            self.close(name)
            if words[2] == "status":
                replies, echo = (words[3] if len(words) > 3 else ""), True
            else:
                replies, echo = read_replies(words[3] if len(words) > 3 else None)
            try:
                port = Port(name, words[2], replies, echo)
            except OSError as e:
                return "error %s: %s" % (name, e)
            self.ports[name] = port
            return "ok %s %s" % (name, port.pts)
        if op == "mute" and len(words) == 2:
            port = self.ports.get(words[1])
            if port is None:
                return "error no port %s" % words[1]
            port.muted = True
            return "ok"
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
        for path in (REQUESTS, REPLIES):
            try:
                if not stat.S_ISFIFO(os.stat(path).st_mode):
                    os.unlink(path)
            except FileNotFoundError:
                pass
            if not os.path.exists(path):
                os.mkfifo(path, 0o600)
        # Both ends held open read-write: no end-of-file between clients,
        # and replies wait in the FIFO until their client reads them.
        requests = os.open(REQUESTS, os.O_RDWR)
        self.replies = os.open(REPLIES, os.O_RDWR)
        pending, batch = b"", []
        with open("/bench/state/usb/ports.pid", "w") as f:
            f.write("%d\n" % os.getpid())
        while True:
            fds = [requests] + [p.master for p in self.ports.values()]
            ready, _, _ = select.select(fds, [], [], 5.0)
            for r in ready:
                if r == requests:
                    pending += os.read(requests, 65536)
                    while b"\n" in pending:
                        line, pending = pending.split(b"\n", 1)
                        text = line.decode("utf-8", "replace").strip()
                        if text.startswith("end"):
                            self.answer(batch, text)
                            batch = []
                        elif text:
                            batch.append(self.command(text))
                else:
                    for port in list(self.ports.values()):
                        if port.master == r:
                            port.pump()

    def answer(self, replies, end):
        data = "".join(r + "\n" for r in replies) + end + "\n"
        os.write(self.replies, data.encode())

    def close_all(self):
        for name in list(self.ports):
            self.close(name)


def main():
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    server = Server()
    try:
        server.serve()
    finally:
        server.close_all()


if __name__ == "__main__":
    main()
