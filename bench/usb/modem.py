#!/usr/bin/python3
"""A simulated 3G modem behind one serial port of the bench.

It owns a pseudo-terminal and links the port's device node to it, then
answers AT commands the way a real modem does: each command is echoed back
(until ATE0), followed by its reply. Replies can be set per command prefix;
an empty reply means the modem stays silent. Every command received goes to
the modem journal with the bench's time.

  modem.py --link /dev/ttyUSB1 [--reply PREFIX=REPLY]... [--echo on|off]
"""
import argparse
import os
import select
import signal
import sys
import time
import tty

JOURNAL = "/bench/journal/modem.log"

DEFAULT_REPLIES = [
    ("ATE0", "OK"),
    ("ATE1", "OK"),
    ("ATD", "CONNECT 7200000"),
    ("AT+CGDCONT", "OK"),
    ("AT+CFUN", "OK"),
    ("AT", "OK"),
]


def journal(port, text):
    line = "%.3f %s %s\n" % (time.time(), port, text.encode("unicode_escape").decode("ascii"))
    with open(JOURNAL, "a") as f:
        f.write(line)


class Modem:
    def __init__(self, port, replies, echo):
        self.port = port
        self.replies = replies
        self.echo = echo
        self.online = False
        self.pending = b""

    def reply_for(self, command):
        upper = command.upper()
        for prefix, reply in self.replies:
            if upper.startswith(prefix.upper()):
                return reply
        return "ERROR"

    def handle(self, command):
        journal(self.port, command)
        if command.upper().startswith("ATE0"):
            self.echo = False
        elif command.upper().startswith("ATE1"):
            self.echo = True
        reply = self.reply_for(command)
        out = b""
        if reply:
            out = ("\r\n%s\r\n" % reply).encode()
        if reply.startswith("CONNECT"):
            self.online = True
        return out

    def feed(self, data):
        """Bytes from the host side; returns the bytes the modem sends back."""
        if self.online:
            journal(self.port, "<data %d bytes>" % len(data))
            return b""
        out = data if self.echo else b""
        self.pending += data
        while b"\r" in self.pending:
            line, self.pending = self.pending.split(b"\r", 1)
            command = line.strip(b"\n").decode("latin-1").strip()
            if command:
                out += self.handle(command)
        return out


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("--link", required=True)
    p.add_argument("--reply", action="append", default=[])
    p.add_argument("--echo", default="on")
    return p.parse_args()


def main():
    args = parse_args()
    replies = []
    for r in args.reply:
        prefix, _, reply = r.partition("=")
        replies.append((prefix, reply))
    replies += DEFAULT_REPLIES
    master, slave = os.openpty()
    # Raw: the line discipline must neither echo nor translate; the modem
    # echoes by itself. The slave stays open here so the port never reports
    # a hang-up between two users.
    tty.setraw(slave)
    try:
        os.unlink(args.link)
    except FileNotFoundError:
        pass
    os.symlink(os.ttyname(slave), args.link)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    modem = Modem(os.path.basename(args.link), replies, args.echo == "on")
    while True:
        ready, _, _ = select.select([master], [], [], 1.0)
        if not ready:
            continue
        try:
            data = os.read(master, 4096)
        except OSError:
            time.sleep(0.05)
            continue
        out = modem.feed(data)
        if out:
            os.write(master, out)


if __name__ == "__main__":
    main()
