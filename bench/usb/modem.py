#!/usr/bin/python3
"""A simulated 3G modem behind one serial port of the bench.

It owns a pseudo-terminal and links the port's device node to it, then
answers AT commands the way a real modem does: each command is echoed back
(until ATE0), followed by its reply. Replies can be set per command prefix;
an empty reply means the modem stays silent. Every command received goes to
the modem journal with the bench's time.

StatusModem is the stick's second AT port (a ZTE stick's, Huawei's "PCUI"
port): it answers what a modem manager asks of the radio and the SIM from
the facts the bus writes (see FACTS_KEYS), which it reads again at every
command, so that "usbsim set signal=..." shows at the next read.

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


# Network names as the status shows them, to AT+COPS's access technology.
ACCESS = {"GSM": 0, "GSM-compact": 1, "UMTS": 2, "EDGE": 3, "HSDPA": 4, "HSUPA": 5, "HSPA": 6, "LTE": 7}
REGISTRATION = {"unregistered": 0, "home": 1, "searching": 2, "denied": 3, "unknown": 4, "roaming": 5}
SIM = {"ready": "+CPIN: READY", "pin": "+CPIN: SIM PIN", "puk": "+CPIN: SIM PUK", "absent": "+CME ERROR: 10"}
# What the bus writes for a status port: signal in dBm (or "unknown"),
# operator (bytes as they are), registration, network, sim, status_mode
# (answer | silent | garbage) and curc (on: unsolicited reports until
# AT^CURC=0, as Huawei's firmware sends them).
FACTS_KEYS = ("signal", "operator", "registration", "network", "sim", "status_mode", "curc")
# What a port that has gone wrong sends: broken information lines, stray
# bytes, an unterminated quote, numbers out of every range.
GARBAGE = (b"\r\n+CSQ: 4294967296,,\r\n\xff\xfe\x00\x1b[2J+COPS: 0,0,\"$(reboot)\x07`id`;\r\n"
           b"+CREG: 9999999999,-1\r\n+CPIN: \x00READY\r\n" + bytes(range(1, 32)) * 4 + b"\r\nOK\r\n")


def read_facts(path):
    facts = {}
    try:
        with open(path, "rb") as f:
            for line in f.read().split(b"\n"):
                key, eq, value = line.partition(b"=")
                if eq:
                    facts[key.decode("ascii", "replace")] = value
    except OSError:
        pass
    return facts


class StatusModem(Modem):
    def __init__(self, port, facts_path):
        super().__init__(port, [], True)
        self.facts_path = facts_path
        self.curc_off = False

    def answer(self, command, facts):
        text = lambda key, default="": facts.get(key, default.encode()).decode("latin-1")
        upper = command.upper()
        if upper.startswith("AT^CURC=0"):
            self.curc_off = True
            return b"OK"
        if upper.startswith("AT+CSQ"):
            signal = text("signal", "unknown")
            rssi = (int(signal) + 113) // 2 if signal.lstrip("-").isdigit() else 99
            return b"+CSQ: %d,99\r\n\r\nOK" % rssi
        if upper.startswith("AT+COPS?"):
            reg = text("registration", "home")
            if reg not in ("home", "roaming"):
                return b"+COPS: 0\r\n\r\nOK"
            act = ACCESS.get(text("network", "UMTS"))
            tail = b"" if act is None else b",%d" % act
            return b'+COPS: 0,0,"' + facts.get("operator", b"") + b'"' + tail + b"\r\n\r\nOK"
        if upper.startswith("AT+CREG?"):
            return b"+CREG: 0,%d\r\n\r\nOK" % REGISTRATION.get(text("registration", "home"), 4)
        if upper.startswith("AT+CPIN?"):
            sim = SIM.get(text("sim", "ready"), "+CME ERROR: 10")
            return sim.encode() if sim.startswith("+CME") else sim.encode() + b"\r\n\r\nOK"
        if upper in ("AT", "ATE0", "ATE1") or upper.startswith("AT+COPS="):
            return b"OK"
        return b"ERROR"

    def handle(self, command):
        journal(self.port, command)
        facts = read_facts(self.facts_path)
        mode = facts.get("status_mode", b"answer")
        if mode == b"silent":
            return b""
        if mode == b"garbage":
            return GARBAGE
        unsolicited = b"\r\n^RSSI:17\r\n" if facts.get("curc") == b"on" and not self.curc_off else b""
        return unsolicited + b"\r\n" + self.answer(command, facts) + b"\r\n"


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
