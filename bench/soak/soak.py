#!/usr/bin/python3
"""The soak: link3g supervising a 3G link for hours of the bench's clock
while the link is broken now and then, watched from the outside.

Runs inside the bench (bench/run ... -- /usr/bin/python3 bench/soak/soak.py),
on the bench's (possibly sped-up) clock: every time here is a bench second.
scripts/soak starts it and turns its results into docs/reliability.md.

What it does:
  - `ispdns start`, then the daemon as the router starts it:
      link3g --cmd 3g --3gCard AutoCheck-hsdpa --3gApn internet --3gDial '*99#'
    (standard output and error into the journal directory);
  - waits for the first link, then injects faults at seeded random times, one
    every --gap-min..--gap-max minutes, kinds drawn from a shuffled bag so
    that every kind comes up about as often:
      pppd_kill   `killall -9 pppd`: the ISP drops the line, pppd dies
      addr_loss   `ip addr flush dev ppp0`: pppd runs on without an address
      unplug      `usbsim unplug`, the stick out for 1..10 min, `usbsim replug`
      dns_dead    both ISP name servers drop every query for 20..80 s or
                  2..10 min (half each: before and after a forced restart)
    A fault is injected only once the link is settled (ppp0 has an address,
    one pppd runs, the daemon's own DNS probe was seen in the last seconds);
  - samples every --sample seconds: daemon alive, its open descriptors,
    VmRSS, threads, zombie children, live pppd processes, ppp0's address,
    whether the ISP's name servers answer; while a fault is being recovered
    from it watches every half second;
  - after each fault measures how long the link takes to come back and
    compares it with the bound the supervisor's rules allow (see bounds()).

The link counts as back at the first DNS probe of the daemon itself (query
ids 0x7329..0x732e in dns.log, sent only while ppp0 has an address) after a
new pppd has brought ppp0 up (for faults that take pppd or its address away),
or after the name servers came back (dns_dead), with the harness seeing ppp0
addressed and the name servers answering at that moment.

Results: /bench/journal/soak-results.json, soak-samples.csv and
soak-samples.json (every sample, with the daemon's open files). Exit status 0
when every check passed, 1 otherwise.

For a focused soak: --kinds (e.g. addr_loss alone, to force restart after
restart), --gap-min/--gap-max (minutes between faults), --hours, --seed.
"""
import argparse
import bisect
import fcntl
import json
import os
import random
import socket
import struct
import subprocess
import sys
import time
from collections import Counter

JOURNAL = "/bench/journal"
DAEMON_ARGS = ["--cmd", "3g", "--3gCard", "AutoCheck-hsdpa", "--3gApn", "internet", "--3gDial", "*99#"]
FRONTS = ("127.0.1.1", "127.0.1.2")
DAEMON_QUERY_IDS = {"%04x" % (0x7329 + i) for i in range(6)}
HARNESS_QUERY_ID = 0x5a5a  # never one of the daemon's
KINDS = ("pppd_kill", "addr_loss", "unplug", "dns_dead")
SIOCGIFADDR = 0x8915
ZOMBIE_GRACE = 10.0  # bench seconds a zombie child may wait for its parent

# ---------------------------------------------------------------- timing model
# The supervisor's own waits, bench seconds (src/monitor/supervisor.cpp,
# src/monitor/dns_probe.cpp, src/ppp/link_bringup.cpp, src/usb/).
PASS = 2.0          # pause between passes
DNS_PAUSE = 1.0     # extra pause per pass after two unanswered probes
ATTEMPT = 2.0       # one unanswered DNS attempt (select timeout)
PROBE_FAIL = 6 * ATTEMPT  # an unanswered probe: three attempts per server
# A bring-up of the ZTE MF626 after a replug (usb-storage stays loaded):
# driver reload 3 s, eject 6 s, two switch files 5 s each, usbserial 2 s,
# final pause 3 s.
BRINGUP_REPLUG = 3 + 6 + 5 + 5 + 2 + 3
# The first bring-up also loads usb-storage (6 s).
BRINGUP_FIRST = BRINGUP_REPLUG + 6
# A bring-up with no stick on the bus: reload 3 s, no ids, 2 s.
BRINGUP_EMPTY = 3 + 2
# comgt's own waits in the chat script the daemon writes: waitquiet 1 s, then
# 57 characters sent at 50 ms each (AT, AT+CFUN=1, AT+CGDCONT=... with the
# APN "internet", ATDT*99#, each with its carriage return).
CHAT_WAITS = 1 + 57 * 0.05


def bounds(costs):
    """The time each kind of fault may take to recover, from its reference
    moment (kill, flush, replug, name servers back) to the daemon's first
    probe on the new link: (waits of the supervisor's rules, allowance for
    the stand-ins). `costs` are bench seconds:
      up_chat  pppd started with options.ppp3g until ppp0 is up, beyond
               comgt's own waits (CHAT_WAITS, counted with the rules)
      up_ex    pppd started with options.ppp3g.ex until ppp0 is up (no chat)
      per_pass what the commands of one pass cost beyond its pauses (process
               scan, node and address checks, one answered probe)
      bringup  what the commands of one bring-up cost beyond its waits
               (about fifteen stand-ins: module tools, eject, modemswitch)
    Every pass boundary below may come up to one pass late, so each pass
    is counted as PASS + per_pass.
    """
    u_chat, u_ex, c, b = costs["up_chat"], costs["up_ex"], costs["per_pass"], costs["bringup"]
    out = {}
    # pppd killed: the pass under way ends (at worst it had just found the
    # old pppd: <= PASS), the next one starts pppd (either options file; the
    # chat is the longer), and the first pass after ppp0 is up probes
    # (<= PASS after that).
    out["pppd_kill"] = (2 * PASS + CHAT_WAITS, 3 * c + u_chat)
    # ppp0 without address: the pass under way may have just seen the
    # address; six passes count a failure each; the next opens with the
    # forced restart (killall -9, pppd .ex); the first pass after ppp0 is up
    # probes.
    out["addr_loss"] = (8 * PASS, 9 * c + u_ex)
    # Replug: the bring-up under way has at worst just found no stick (its
    # 2 s wait), a pass, the full bring-up, a pass, pppd started, the first
    # pass after ppp0 is up probes.
    out["unplug"] = (2 + PASS + BRINGUP_REPLUG + PASS + CHAT_WAITS + PASS, 5 * c + b + u_chat)
    # Name servers back: the attempt under way may still time out (the
    # sixth of its probe), a pass with its trouble pause; a forced restart
    # may open the next pass, whose trouble pause lets the new pppd (.ex)
    # come up, else one more pass with its pause.
    out["dns_dead"] = (ATTEMPT + 2 * PASS + 2 * DNS_PAUSE, 4 * c + u_ex)
    # From the start: the first bring-up, a pass starts pppd (options.ppp3g),
    # the first pass after ppp0 is up probes.
    out["first_link"] = (BRINGUP_FIRST + PASS + CHAT_WAITS, 3 * c + b + u_chat)
    return out


def forced_restart_window(costs):
    """From the moment ppp0 loses its address to the daemon's forced restart:
    at least six passes (the failure counted in the pass under way, five
    more, the restart opens the next), at most seven (the pass under way had
    just seen the address)."""
    c = costs["per_pass"]
    return 6 * PASS - 0.5, 7 * (PASS + c) + c


def dns_restart_window(costs):
    """From the name servers going dead to the forced restart: six counted
    passes, each an unanswered probe (six attempts) and a pause, the trouble
    pause from the third on; at most one pass more when the pass under way
    had just had its answer."""
    c = costs["per_pass"]
    lo = 6 * (PROBE_FAIL + PASS) + 4 * DNS_PAUSE - 0.5
    hi = 7 * (PASS + c) + 6 * PROBE_FAIL + 4 * DNS_PAUSE + c
    return lo, hi


def median(xs):
    xs = sorted(xs)
    if not xs:
        return None
    n = len(xs)
    return xs[n // 2] if n % 2 else (xs[n // 2 - 1] + xs[n // 2]) / 2


def spread(xs, nd=2):
    """min, median, max (rounded), n."""
    if not xs:
        return None
    return {"min": round(min(xs), nd), "median": round(median(xs), nd), "max": round(max(xs), nd), "n": len(xs)}


# ------------------------------------------------------------------ the router
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


PF_EXITING = 0x4


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
    a leak or a loss, a descriptor left open counts. The raw list of the
    first look is kept too."""
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
        fig["fds"] = len(steady)
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


# --------------------------------------------------------------------- the run
class Soak:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.kinds = [k for k in args.kinds.split(",") if k]
        for k in self.kinds:
            if k not in KINDS:
                raise SystemExit("soak: no fault kind %s (%s)" % (k, ", ".join(KINDS)))
        # Allowances for the stand-ins: real milliseconds, which the sped-up
        # clock turns into speed times as many bench milliseconds.
        self.speed = float(os.environ.get("BENCH_SPEED", "1"))
        k = self.speed / 1000.0
        self.costs = {"up_chat": round(args.up_chat_ms * k, 2), "up_ex": round(args.up_ex_ms * k, 2),
                      "per_pass": round(args.pass_ms * k, 2), "bringup": round(args.bringup_ms * k, 2)}
        self.bound_parts = bounds(self.costs)
        self.bound = {k: w + a for k, (w, a) in self.bound_parts.items()}
        self.windows = []           # (start, end) of every fault and its recovery
        self.failures = []
        self.samples = []
        self.faults = []
        self.pppd_obs = []          # (time, live pppd) of every /proc look
        self.double_pppd = []       # settled double pppd: two looks in a row
        self.transient_double = 0
        self.double_looks = []      # every look that saw two pppd (first 50)
        self.current_kind = "first_link"
        self.zombie_seen = []       # zombie children never waited for
        self.zombie_pending = {}    # pid -> first look that saw it a zombie
        self.zombie_reported = set()
        self.zombie_transient = 0   # zombies gone by the next look
        self.other_zombies = 0
        self.ppp_up = []            # (time, interface) from pppd's notes
        self.probes = []            # (time, server) of the daemon's DNS queries
        self.probe_times = []       # their times, in journal order
        self.probes_seen = 0
        self.shell_cmds = []        # (time, command) run by the daemon, LED's aside
        self.pppd_starts = []       # (time, file) of every pppd the stand-in saw start
        self.tails = {n: Tail(os.path.join(JOURNAL, n)) for n in ("dns.log", "standins.log", "shell.log")}
        self.dns_mode = "relay"
        self.daemon = None
        self.t_start = None

    # ---- journals
    def read_journals(self):
        for line in self.tails["dns.log"].lines():
            parts = line.split()
            if len(parts) == 3 and parts[2][:4] in DAEMON_QUERY_IDS:
                self.probes.append((float(parts[0]), parts[1]))
                self.probe_times.append(float(parts[0]))
        for line in self.tails["standins.log"].lines():
            t = stamp_of(line)
            if t is None:
                continue
            body = line.split(" ", 1)[1] if " " in line else ""
            if body.startswith("# pppd: ") and " up, local " in body:
                self.ppp_up.append((t, body[len("# pppd: "):].split()[0]))
            elif body.startswith("pppd "):
                self.pppd_starts.append((t, body))
        for line in self.tails["shell.log"].lines():
            t = stamp_of(line)
            if t is None or "/proc/led_enable" in line:
                continue
            self.shell_cmds.append((t, line.split(" ", 1)[1]))

    # ---- looks at the router
    def look_processes(self):
        t = now()
        procs = processes()
        pid = self.daemon.pid
        live_pppd = live_pppds(procs)
        zombies = [p for p in procs if p[2] == "Z" and p[3] == pid]
        self.other_zombies = max(self.other_zombies, sum(1 for p in procs if p[2] == "Z" and p[3] != pid))
        # A child caught between its exit and the daemon's wait for it is a
        # zombie for an instant; one that is still there ZOMBIE_GRACE later
        # was never waited for.
        current = {z[0]: z for z in zombies}
        for zpid, first in list(self.zombie_pending.items()):
            if zpid not in current:
                del self.zombie_pending[zpid]
                self.zombie_transient += 1
            elif t - first >= ZOMBIE_GRACE and zpid not in self.zombie_reported:
                self.zombie_reported.add(zpid)
                self.zombie_seen.append({"t": round(first - self.t_start, 1), "pid": zpid,
                                         "comm": current[zpid][1], "still_at": round(t - self.t_start, 1)})
        for zpid in current:
            self.zombie_pending.setdefault(zpid, t)
        if live_pppd >= 2 and len(self.double_looks) < 50:
            self.double_looks.append({"t": round(t - self.t_start, 2), "during": self.current_kind,
                                      "pppd": [[p[0], p[2], p[3]] for p in procs if p[1] == "pppd"]})
        if live_pppd >= 2:
            prev = self.pppd_obs[-1] if self.pppd_obs else None
            if prev and prev[1] >= 2 and t - prev[0] >= PASS:
                self.double_pppd.append({"t": round(t - self.t_start, 1), "pppd": live_pppd,
                                         "since": round(prev[0] - self.t_start, 1)})
            elif not (prev and prev[1] >= 2):
                self.transient_double += 1
        if not self.pppd_obs or live_pppd != self.pppd_obs[-1][1] or t - self.pppd_obs[-1][0] >= PASS:
            self.pppd_obs.append((t, live_pppd))
        return live_pppd, len(zombies)

    def sample(self, note=""):
        t = now()
        live_pppd, zombies = self.look_processes()
        follow = t
        while self.zombie_pending and now() - follow < ZOMBIE_GRACE + 1:
            time.sleep(1.0)  # is the zombie waited for, or left?
            self.look_processes()
        alive = self.daemon.poll() is None
        fig = daemon_figures(self.daemon.pid) if alive else None
        addr = ppp0_address()
        dns = dns_answers()
        self.read_journals()
        try:
            with open("/proc/loadavg") as f:
                load1 = float(f.read().split()[0])
        except (OSError, ValueError):
            load1 = None
        s = {"t": round(t - self.t_start, 1), "load1": load1, "alive": alive and fig is not None and fig.get("state") != "Z",
             "fds": fig and fig.get("fds"), "fds_raw": fig and fig.get("fds_raw"),
             "fd_list": fig and fig.get("fd_list"), "fd_raw_list": fig and fig.get("fd_raw_list"), "rss_kb": fig and fig.get("rss_kb"),
             "threads": fig and fig.get("threads"), "zombies": zombies, "pppd": live_pppd,
             "ppp0": addr or "", "dns": dns, "settled": self.settled(), "note": note}
        self.samples.append(s)
        return s

    def settled(self):
        """ppp0 addressed, one pppd, the daemon probing in relay mode."""
        self.read_journals()
        t = now()
        if ppp0_address() is None or self.dns_mode != "relay":
            return False
        if not self.probes or t - self.probes[-1][0] > 3 * PASS + 1:
            return False
        return live_pppds(processes()) == 1

    # ---- waiting on the bench clock, sampling on schedule
    def wait_until(self, deadline, step=None, until=None):
        """Sleeps until deadline (bench time), sampling when due; with until,
        polls it every `step` and returns its first true value."""
        while True:
            t = now()
            if t >= self.next_sample:
                self.sample()
                self.next_sample += self.args.sample
                continue
            if until is not None:
                got = until()
                if got:
                    return got
            if t >= deadline:
                return None
            nap = min(deadline, self.next_sample) - t
            if step is not None:
                nap = min(nap, step)
            time.sleep(max(nap, 0.01))

    # ---- recovery
    def link_back(self, ref, need_new_pppd):
        """The time of the daemon's first probe on the restored link, or None."""
        self.read_journals()
        after = ref
        if need_new_pppd:
            ups = [t for t, _ in self.ppp_up if t > ref]
            if not ups:
                return None
            after = ups[0]
        i = bisect.bisect_right(self.probe_times, after)
        if i == len(self.probe_times):
            return None
        if ppp0_address() is None or not dns_answers():
            return None
        return self.probe_times[i]

    def watch_recovery(self, fault, ref, need_new_pppd):
        bound = self.bound[fault["kind"]]
        last_proc = [0.0]

        def back():
            t = now()
            if t - last_proc[0] >= 1.0:
                last_proc[0] = t
                self.look_processes()
            return self.link_back(ref, need_new_pppd)

        limit = ref + max(10 * bound, 900.0)
        got = self.wait_until(limit, step=0.5, until=back)
        fault["bound_s"] = round(bound, 1)
        if got is None:
            self.windows.append((self.t_start + fault["t"] - 1, now()))
            fault["recovery_s"] = None
            fault["ok"] = False
            self.failures.append("%s at %.0f s: link not back within %.0f s" % (
                fault["kind"], fault["t"], limit - ref))
            return
        fault["recovery_s"] = round(got - ref, 2)
        self.windows.append((self.t_start + fault["t"] - 1, got + 5))
        ups = [(t, n) for t, n in self.ppp_up if t > ref and t <= got]
        fault["ppp_up_s"] = round(ups[0][0] - ref, 2) if ups else None
        fault["ifaces"] = sorted({n for _, n in ups})
        fault["ok"] = fault["recovery_s"] <= bound
        if not fault["ok"]:
            self.failures.append("%s at %.0f s: link back after %.1f s, bound %.1f s" % (
                fault["kind"], fault["t"], fault["recovery_s"], bound))
        # Watch one more minute on the restored link (double pppd, zombies).
        end = now() + 60
        while now() < end:
            self.look_processes()
            self.wait_until(min(end, now() + 1.0))

    def in_window(self, t):
        return any(a <= t <= b for a, b in self.windows)

    def measured_costs(self):
        """What the bench really took, from the journals, to set against the
        allowances of bounds()."""
        self.read_journals()
        m = {}
        # Passes on a healthy link: one answered probe each.
        first = sorted(t for t, a in self.probes if a == FRONTS[0])
        gaps = [b - a for a, b in zip(first, first[1:])
                if not self.in_window(a) and not self.in_window(b) and self.dns_mode_at(a) and b - a < 60]
        m["pass_s"] = spread(gaps, 3)
        # pppd started by the daemon until ppp0 is up.
        starts = [(t, c) for t, c in self.shell_cmds if c.startswith("pppd file ")]
        ups = sorted(t for t, _ in self.ppp_up)
        chat, ex = [], []
        for i, (t, c) in enumerate(starts):
            nxt = starts[i + 1][0] if i + 1 < len(starts) else float("inf")
            up = next((u for u in ups if t < u < nxt), None)
            if up is not None:
                (ex if ".ex" in c else chat).append(up - t)
        m["up_chat_s"], m["up_ex_s"] = spread(chat), spread(ex)
        # Bring-ups that ended in a pppd start: from their first command to
        # the start, less the pass pause and the bring-up's own waits.
        extra = []
        rmmods = [t for t, c in self.shell_cmds if c == "rmmod usbserial"]
        for i, (t, c) in enumerate(starts):
            before = [r for r in rmmods if r < t]
            prev_start = starts[i - 1][0] if i else 0
            if before and before[-1] > prev_start:
                waits = BRINGUP_FIRST if before[-1] - self.t_start < 5 else BRINGUP_REPLUG
                extra.append(t - before[-1] - PASS - waits)
        m["bringup_extra_s"] = spread(extra)
        return m

    def dns_mode_at(self, t):
        return not any(f["kind"] == "dns_dead" and self.t_start + f["t"] <= t <= self.t_start + f["t"] + f.get("hold_s", 0) + 120
                       for f in self.faults)

    def daemon_commands(self, since, until=None):
        self.read_journals()
        return [(t, c) for t, c in self.shell_cmds if t > since and (until is None or t <= until)]

    # ---- faults
    def fault_pppd_kill(self, fault):
        run(["killall", "-9", "pppd"])
        ref = now()
        fault["ref"] = "killall -9 pppd returned"
        self.watch_recovery(fault, ref, True)

    def fault_addr_loss(self, fault):
        run(["ip", "addr", "flush", "dev", "ppp0"])
        ref = now()
        fault["ref"] = "address flushed"
        self.watch_recovery(fault, ref, True)
        kills = [t for t, c in self.daemon_commands(ref) if c == "killall -9 pppd"]
        lo, hi = forced_restart_window(self.costs)
        fault["forced_restart_after_s"] = round(kills[0] - ref, 2) if kills else None
        if not kills or not lo - 0.5 <= kills[0] - ref <= hi:
            fault["ok"] = False
            self.failures.append("addr_loss at %.0f s: forced restart %s, expected %.0f..%.0f s after the flush" % (
                fault["t"], "never" if not kills else "after %.1f s" % (kills[0] - ref), lo, hi))

    def fault_unplug(self, fault):
        hold = self.rng.uniform(60, 600)
        fault["hold_s"] = round(hold, 1)
        run(["usbsim", "unplug"])
        t_out = now()
        self.wait_until(t_out + hold, step=1.0, until=lambda: (self.look_processes(), None)[1])
        # While the stick is out no pppd may be left and ppp0 is gone.
        fault["pppd_while_out"] = self.pppd_obs[-1][1] if self.pppd_obs else None
        fault["ppp0_while_out"] = ppp0_address() or ""
        fault["bringups_while_out"] = sum(1 for _, c in self.daemon_commands(t_out) if c == "rmmod usbserial")
        run(["usbsim", "replug"])
        ref = now()
        fault["ref"] = "usbsim replug returned"
        if fault["pppd_while_out"] or fault["ppp0_while_out"]:
            self.failures.append("unplug at %.0f s: with the stick out, pppd %s, ppp0 %r" % (
                fault["t"], fault["pppd_while_out"], fault["ppp0_while_out"]))
        self.watch_recovery(fault, ref, True)
        fault["switch_files_run"] = sum(1 for _, c in self.daemon_commands(ref, ref + fault["recovery_s"])
                                        if c.startswith("/bin/modemswitch -c")) if fault["recovery_s"] else None

    def fault_dns_dead(self, fault):
        # Half the outages end before a forced restart is due, half after.
        hold = self.rng.uniform(20, 80) if self.rng.random() < 0.5 else self.rng.uniform(120, 600)
        fault["hold_s"] = round(hold, 1)
        for a in FRONTS:
            run(["ispdns", "mode", a, "drop"])
        self.dns_mode = "drop"
        t_dead = now()
        self.wait_until(t_dead + hold, step=1.0, until=lambda: (self.look_processes(), None)[1])
        for a in FRONTS:
            run(["ispdns", "mode", a, "relay"])
        self.dns_mode = "relay"
        ref = now()
        fault["ref"] = "name servers relaying again"
        kills = [t - t_dead for t, c in self.daemon_commands(t_dead, ref) if c == "killall -9 pppd"]
        fault["forced_restarts"] = len(kills)
        fault["forced_restart_after_s"] = round(kills[0], 1) if kills else None
        lo, hi = dns_restart_window(self.costs)
        expect = [1] if hold > hi else [0] if hold < lo else [0, 1]
        self.watch_recovery(fault, ref, False)
        if len(kills) not in expect or (kills and not lo - 0.5 <= kills[0] <= hi):
            fault["ok"] = False
            self.failures.append("dns_dead at %.0f s for %.0f s: forced restarts after %s s, expected %s (first %.0f..%.0f s)" % (
                fault["t"], hold, [round(k, 1) for k in kills], " or ".join(map(str, expect)), lo, hi))

    # ---- the whole run
    def start(self):
        run(["ispdns", "start"])
        out = open(os.path.join(JOURNAL, "daemon.out"), "w")
        err = open(os.path.join(JOURNAL, "daemon.err"), "w")
        self.t_start = now()
        self.daemon = subprocess.Popen([self.args.binary] + DAEMON_ARGS, stdin=subprocess.DEVNULL,
                                       stdout=out, stderr=err, close_fds=True)
        out.close()
        err.close()
        self.next_sample = self.t_start + self.args.sample

    def main(self):
        a = self.args
        self.start()
        end = self.t_start + a.hours * 3600
        first = {"kind": "first_link", "t": 0.0}
        self.watch_recovery(first, self.t_start, True)
        self.first_link = first
        bag = []
        next_fault = now() + self.rng.uniform(a.gap_min, a.gap_max) * 60
        hour_mark = self.t_start + 3600
        while True:
            longest = 600 + max(self.bound.values()) + 120
            if next_fault + longest > end:
                break
            self.wait_until(next_fault)
            # Only a settled link is broken again.
            waited = now()
            if not self.wait_until(waited + 1800, step=1.0, until=self.settled):
                self.failures.append("link not settled for 30 min before the fault due at %.0f s" % (
                    next_fault - self.t_start))
                next_fault = now() + self.rng.uniform(a.gap_min, a.gap_max) * 60
                continue
            if not bag:
                bag = list(self.kinds)
                self.rng.shuffle(bag)
            kind = bag.pop()
            self.current_kind = kind
            fault = {"kind": kind, "t": round(now() - self.t_start, 1),
                     "settle_wait_s": round(now() - waited, 1)}
            self.faults.append(fault)
            print("soak: %7.0f s %s" % (fault["t"], kind), flush=True)
            getattr(self, "fault_" + kind)(fault)
            print("soak: %7s   back after %s s (bound %s s)" % ("", fault.get("recovery_s"), fault.get("bound_s")),
                  flush=True)
            self.current_kind = "settled"
            next_fault = now() + self.rng.uniform(a.gap_min, a.gap_max) * 60
        self.wait_until(end)
        final = self.sample("end")
        self.finish(hour_mark, final)

    def finish(self, hour_mark, final):
        ok_samples = [s for s in self.samples if s["alive"] and s["settled"]]
        hour = next((s for s in ok_samples if s["t"] >= 3600 * min(1.0, self.args.hours / 2)), None)
        last = ok_samples[-1] if ok_samples else None
        checks = []

        def check(name, passed, detail):
            checks.append({"check": name, "ok": bool(passed), "detail": detail})
            if not passed:
                self.failures.append("%s: %s" % (name, detail))

        check("daemon alive", final["alive"] and all(s["alive"] for s in self.samples),
              "alive at every sample and at the end" if final["alive"] else "dead")
        if hour and last:
            check("descriptors steady", hour["fds"] == last["fds"],
                  "%s at %.0f s, %s at %.0f s" % (hour["fds"], hour["t"], last["fds"], last["t"]))
            check("threads steady", hour["threads"] == last["threads"],
                  "%s at %.0f s, %s at %.0f s" % (hour["threads"], hour["t"], last["threads"], last["t"]))
            check("RSS steady", abs(last["rss_kb"] - hour["rss_kb"]) <= self.args.rss_slack_kb,
                  "%s kB at %.0f s, %s kB at %.0f s (allowed drift %d kB)" % (
                      hour["rss_kb"], hour["t"], last["rss_kb"], last["t"], self.args.rss_slack_kb))
        else:
            check("figures sampled", False, "no settled sample at the first hour or at the end")
        check("no zombie children", not self.zombie_seen,
              "none at any look" if not self.zombie_seen else json.dumps(self.zombie_seen[:5]))
        check("one pppd at a time", not self.double_pppd,
              "never two live pppd in two looks in a row" if not self.double_pppd
              else json.dumps(self.double_pppd[:5]))
        check("links back within bound", all(f.get("ok") for f in self.faults + [self.first_link]),
              "%d faults" % len(self.faults))
        check("faults of every kind", all(any(f["kind"] == k for f in self.faults) for k in self.kinds)
              or self.args.hours < 4,
              ", ".join("%s %d" % (k, sum(1 for f in self.faults if f["kind"] == k)) for k in self.kinds))

        live = [s for s in self.samples if s["alive"]]
        res = {
            "hours": self.args.hours, "speed": os.environ.get("BENCH_SPEED", "1"), "seed": self.args.seed,
            "gap_min": self.args.gap_min, "gap_max": self.args.gap_max, "sample_s": self.args.sample,
            "allowance_ms": {"pass": self.args.pass_ms, "up_ex": self.args.up_ex_ms,
                             "up_chat": self.args.up_chat_ms, "bringup": self.args.bringup_ms},
            "chat_waits_s": CHAT_WAITS, "rss_slack_kb": self.args.rss_slack_kb, "zombie_grace_s": ZOMBIE_GRACE,
            "costs": self.costs, "bounds": {k: round(v, 1) for k, v in self.bound.items()},
            "bound_parts": {k: [round(w, 1), round(a, 1)] for k, (w, a) in self.bound_parts.items()},
            "measured": self.measured_costs(),
            "forced_restart_window_s": forced_restart_window(self.costs),
            "dns_restart_window_s": [round(x, 1) for x in dns_restart_window(self.costs)],
            "bench_seconds": round(now() - self.t_start, 1),
            "first_link": self.first_link, "faults": self.faults,
            "at_hour": hour, "at_end": last, "final": final,
            "fds_range": [min(s["fds"] for s in ok_samples), max(s["fds"] for s in ok_samples)] if ok_samples else None,
            "rss_range_kb": [min(s["rss_kb"] for s in ok_samples), max(s["rss_kb"] for s in ok_samples)] if ok_samples else None,
            "threads_range": [min(s["threads"] for s in live), max(s["threads"] for s in live)] if live else None,
            "max_live_pppd": max(n for _, n in self.pppd_obs) if self.pppd_obs else 0,
            "pppd_looks": len(self.pppd_obs), "transient_double_pppd": self.transient_double,
            "double_pppd": self.double_pppd, "double_pppd_looks": self.double_looks,
            "zombie_children": self.zombie_seen,
            "zombie_transient": self.zombie_transient,
            "max_other_zombies": self.other_zombies,
            "max_load1": max((s["load1"] for s in self.samples if s["load1"] is not None), default=None),
            "samples": len(self.samples), "settled_samples": len(ok_samples),
            "samples_without_link": sum(1 for s in self.samples if not s["ppp0"] or not s["dns"]),
            "daemon_probes": len(self.probes), "pppd_starts": len(self.pppd_starts),
            "forced_restarts": sum(1 for _, c in self.shell_cmds if c == "killall -9 pppd"),
            "bringups": sum(1 for _, c in self.shell_cmds if c == "rmmod usbserial"),
            "ppp_ifaces": sorted({n for _, n in self.ppp_up}),
            "checks": checks, "failures": self.failures,
        }
        with open(os.path.join(JOURNAL, "soak-results.json"), "w") as f:
            json.dump(res, f, indent=1)
        with open(os.path.join(JOURNAL, "soak-samples.json"), "w") as f:
            json.dump(self.samples, f)
        with open(os.path.join(JOURNAL, "soak-samples.csv"), "w") as f:
            keys = ["t", "alive", "fds", "fds_raw", "rss_kb", "threads", "zombies", "pppd", "ppp0", "dns", "settled",
                    "load1", "note"]
            f.write(",".join(keys) + "\n")
            for s in self.samples:
                f.write(",".join(str(s[k]) for k in keys) + "\n")
        for c in checks:
            print("soak: %-4s %-24s %s" % ("ok" if c["ok"] else "FAIL", c["check"], c["detail"]), flush=True)
        self.daemon.kill()
        self.daemon.wait()
        return res


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--hours", type=float, default=24.0)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--binary", default="build/host/src/app/link3g")
    p.add_argument("--gap-min", type=float, default=20.0, help="minutes between faults, at least")
    p.add_argument("--gap-max", type=float, default=60.0, help="minutes between faults, at most")
    p.add_argument("--kinds", default=",".join(KINDS), help="fault kinds to draw from, comma-separated")
    p.add_argument("--sample", type=float, default=120.0, help="seconds between samples")
    # Stand-in costs, real ms (worst seen at speeds 50..120 on 2 cores, about
    # 1.5 times over): pass 8, pppd .ex until ppp0 up 50, pppd with chat 70
    # beyond comgt's waits, bring-up 200 beyond its waits.
    p.add_argument("--pass-ms", type=float, default=12.0, help="allowance: commands of one pass, real ms")
    p.add_argument("--up-ex-ms", type=float, default=75.0, help="allowance: pppd .ex until ppp0 is up, real ms")
    p.add_argument("--up-chat-ms", type=float, default=100.0,
                   help="allowance: pppd with chat until ppp0 is up, real ms beyond comgt's waits")
    p.add_argument("--bringup-ms", type=float, default=300.0, help="allowance: commands of one bring-up, real ms")
    p.add_argument("--rss-slack-kb", type=int, default=8, help="RSS drift allowed, kB (two pages)")
    args = p.parse_args()
    args.binary = os.path.abspath(args.binary)
    soak = Soak(args)
    soak.main()
    return 1 if soak.failures else 0


if __name__ == "__main__":
    sys.exit(main())
