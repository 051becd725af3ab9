"""The simulated router seen from outside: its processes, ppp0, the ISP's
name servers and the bench's journals, looked at without going through
the shell whose journal is the daemon's."""
import fcntl
import os
import socket
import struct
import subprocess
import re
import time
from collections import Counter

from timing import ATTEMPT

JOURNAL = "/bench/journal"
FRONTS = ("127.0.1.1", "127.0.1.2")  # the ISP's name servers
HARNESS_QUERY_ID = 0x5a5a  # never one of the daemon's
SIOCGIFADDR = 0x8915
PF_EXITING = 0x4
ZOMBIE_GRACE = 10.0  # bench seconds a zombie child may wait for its parent


def now():
    return time.time()


def run(argv, **kw):
    """A control command, run directly (never through /bin/sh, whose journal
    is the daemon's)."""
    return subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, **kw)


def ppp0_address():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        try:
            r = fcntl.ioctl(s.fileno(), SIOCGIFADDR, struct.pack("256s", b"ppp0"))
        except OSError:
            return None
    return socket.inet_ntoa(r[20:24])


def dns_query():
    name = b"".join(bytes([len(p)]) + p for p in b"soak.example.net".split(b".")) + b"\0"
    return struct.pack(">HHHHHH", HARNESS_QUERY_ID, 0x0100, 1, 0, 0, 0) + name + struct.pack(">HH", 1, 1)


def dns_answers():
    """Whether one of the ISP's name servers answers (one try each, 2 s)."""
    q = dns_query()
    for server in FRONTS:
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.settimeout(ATTEMPT)
            try:
                s.sendto(q, (server, 53))
                data = s.recv(512)
                if len(data) >= 2 and struct.unpack(">H", data[:2])[0] == HARNESS_QUERY_ID:
                    return True
            except OSError:
                pass
    return False



def processes():
    """(pid, comm, state, ppid) of every process of the bench; a process
    already on its way out (killed, tearing down) has state "x"."""
    out = []
    for d in os.listdir("/proc"):
        if not d.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % d) as f:
                stat = f.read()
        except OSError:
            continue
        lp, rp = stat.find("("), stat.rfind(")")
        rest = stat[rp + 2:].split()
        state = rest[0]
        if state not in "ZX" and int(rest[6]) & PF_EXITING:
            state = "x"
        out.append((int(d), stat[lp + 1:rp], state, int(rest[1])))
    return out


def fd_targets(pid):
    out = {}
    for fd in os.listdir("/proc/%d/fd" % pid):
        try:
            out[fd] = os.readlink("/proc/%d/fd/%s" % (pid, fd))
        except OSError:
            pass
    return out


def live_pppds(procs):
    """pppd processes that run: not zombies, not on their way out, and not a
    pppd's own child caught between its fork and its exec (it still bears
    the name)."""
    pppd = {p[0] for p in procs if p[1] == "pppd"}
    return sum(1 for p in procs if p[1] == "pppd" and p[2] not in "ZXx" and p[3] not in pppd)


def daemon_figures(pid):
    """Descriptors, VmRSS, threads. Descriptors are looked at five times, a
    fifth of a bench second apart, and a file counts as many times as it is
    open in the middle look of the five (the median): a probe's socket or the
    process scan's /proc caught closing and opening again does not count as
    a leak or a loss, a descriptor left open counts. The stat file of the
    pppd found last, which the daemon holds open while that pppd runs, is
    left out of the count when it is the only such file (between two pppd
    there is none). The raw list of the first look is kept too."""
    fig = {}
    try:
        looks = []
        for i in range(5):
            if i:
                time.sleep(0.2)
            looks.append(Counter(fd_targets(pid).values()))
        steady = []
        for target in set().union(*looks):
            n = sorted(l[target] for l in looks)[len(looks) // 2]
            steady += [target] * n
        fig["fds_raw"] = sum(looks[0].values())
        held = [t for t in steady if re.fullmatch(r"/proc/\d+/stat", t)]
        fig["fds"] = len(steady) - (1 if len(held) == 1 else 0)
        fig["fd_list"] = sorted(steady)
        fig["fd_raw_list"] = sorted(looks[0].elements())
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                key, _, value = line.partition(":")
                if key == "VmRSS":
                    fig["rss_kb"] = int(value.split()[0])
                elif key == "Threads":
                    fig["threads"] = int(value)
                elif key == "State":
                    fig["state"] = value.split()[0]
    except OSError:
        return None
    return fig


class Tail:
    """New complete lines of a journal since the last call."""

    def __init__(self, path):
        self.path, self.offset, self.rest = path, 0, b""

    def lines(self):
        try:
            with open(self.path, "rb") as f:
                f.seek(self.offset)
                data = f.read()
        except FileNotFoundError:
            return []
        self.offset += len(data)
        data = self.rest + data
        parts = data.split(b"\n")
        self.rest = parts.pop()
        return [p.decode("utf-8", "replace") for p in parts]


def stamp_of(line):
    try:
        return float(line.split(" ", 1)[0])
    except ValueError:
        return None

