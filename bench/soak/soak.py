#!/usr/bin/python3
"""The soak: link3g supervising a 3G link for hours of the bench's clock
while the link is broken now and then, watched from the outside.

Runs inside the bench (bench/run ... -- /usr/bin/python3 bench/soak/soak.py),
on the bench's (possibly sped-up) clock: every time here is a bench second.
scripts/soak starts it and turns its results into docs/reliability.md.

What it does:
  - `ispdns start`, then the daemon as the router starts it, with the card
    name that has serialcom read the SIM's operator record:
      link3g --cmd 3g --3gCard AutoCheck --3gPin 1234
    (standard output and error into the journal directory); serialcom finds
    no record at first (unless --record-at-start), so the first bring-up
    fails and the link comes with the reset 300 s later, the PIN withheld;
  - waits for the first link, then injects faults at seeded random times, one
    every --gap-min..--gap-max minutes, kinds drawn from a shuffled bag so
    that every kind comes up about as often (bench/soak/faults.py):
      pppd_kill   `killall -9 pppd`: the ISP drops the line, pppd dies
      addr_loss   `ip addr flush dev ppp0`: pppd runs on without an address
      unplug      `usbsim unplug`, the stick out for 1..10 min, `usbsim replug`
      dns_dead    both ISP name servers drop every query for 20..80 s or
                  2..10 min (half each: before and after a forced restart;
                  the longer ones also past the reset at 300 s)
      hang        `usbsim hang`: the stick's firmware hangs, its nodes stay;
                  only the reset 300 s after the last answer mends it
      no_record   `usbsim set serialcom=never` and `usbsim replug`: the
                  bring-up finds no record and fails with the nodes there;
                  the record is back 1..4 min later, the reset 300 s after
                  the failure brings the link up
      at_port_hang  `usbsim set status_mode=silent` for 1..10 min: the
                  radio's reads wait out their time; the link is not touched
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
addressed and the name servers answering at that moment. Every reset of the
stick must belong to a fault that leaves the link stuck, and hand serialcom
the PIN only once it is proven (bench/soak/recoveries.py).

Results: /bench/journal/soak-results.json, soak-samples.csv and
soak-samples.json (every sample, with the daemon's open files). Exit status 0
when every check passed, 1 otherwise.

For a focused soak: --kinds (e.g. addr_loss alone, to force restart after
restart), --gap-min/--gap-max (minutes between faults), --hours, --seed.
"""
import bisect
import os
import random
import subprocess
import sys
import time

import faults
from options import parse_args
from outside import (JOURNAL, ZOMBIE_GRACE, Tail, daemon_figures, dns_answers, live_pppds,
                     now, ppp0_address, processes, run, stamp_of)
from results import write_results
from timing import PASS, bounds

PIN = "1234"
DAEMON_ARGS = ["--cmd", "3g", "--3gCard", "AutoCheck", "--3gPin", PIN]
DAEMON_QUERY_IDS = {"%04x" % (0x7329 + i) for i in range(6)}
KINDS = faults.KINDS


class Soak:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.kinds = [k for k in args.kinds.split(",") if k]
        for k in self.kinds:
            if k not in self.FAULTS:
                raise SystemExit("soak: no fault kind %s (%s)" % (k, ", ".join(self.FAULTS)))
        # Allowances for the stand-ins: real milliseconds, which the sped-up
        # clock turns into speed times as many bench milliseconds.
        self.speed = float(os.environ.get("BENCH_SPEED", "1"))
        self.costs, self.bound_parts = self.timing(args, self.speed / 1000.0)
        self.pin = PIN
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
        self.reset_notes = []       # times of every reset of the stick on the bus
        self.hang_notes = []        # (time, interface) a pppd lost its link to a hung modem
        self.record_notes = []      # (time, bytes) serialcom left in /var/imsi
        self.pulls = []             # times the stick was pulled out (or replugged) by a fault
        self.tails = {n: Tail(os.path.join(JOURNAL, n)) for n in ("dns.log", "standins.log", "shell.log")}
        self.dns_mode = "relay"
        self.daemon = None
        self.t_start = None

    def timing(self, args, k):
        """The allowances in bench seconds (k: bench seconds per real ms) and
        the bounds' parts."""
        costs = {"up_chat": round(args.up_chat_ms * k, 2), "up_ex": round(args.up_ex_ms * k, 2),
                 "per_pass": round(args.pass_ms * k, 2), "bringup": round(args.bringup_ms * k, 2),
                 "serialcom": round(args.serialcom_ms * k, 2), "hang_notice": round(args.hang_notice_ms * k, 2),
                 "reset": round(args.reset_ms * k, 2)}
        parts = bounds(costs)
        if not args.record_at_start:
            # The first bring-up finds no record: counted from its end, as
            # for a failed bring-up later on.
            parts["first_link"] = parts["no_record"]
        return costs, parts

    # ---- the link as the harness sees it: the daemon's way decides which
    # program, interface and name servers (the network stick's soak,
    # netsoak.py, has its own)
    LINK_KEYS = ("pppd", "ppp0")  # the sample's keys: live link programs, the interface's address
    FAULTS = faults.FAULTS

    def live_links(self, procs):
        return live_pppds(procs)

    def link_address(self):
        return ppp0_address()

    def link_dns(self):
        return dns_answers()

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
            elif body.startswith("# usb: ") and " reset on the bus " in body:
                self.reset_notes.append(t)
            elif body.startswith("# pppd: the modem hangs, link lost on "):
                self.hang_notes.append((t, body.rsplit(" ", 1)[1]))
            elif body.startswith("# usb: serialcom: ") and " bytes in /var/imsi" in body:
                self.record_notes.append((t, int(body.split()[3])))
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
        live_pppd = self.live_links(procs)
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
                                      "pppd": [[p[0], p[2], p[3]] for p in procs if p[1] == self.LINK_KEYS[0]]})
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
        addr = self.link_address()
        dns = self.link_dns()
        self.read_journals()
        try:
            with open("/proc/loadavg") as f:
                load1 = float(f.read().split()[0])
        except (OSError, ValueError):
            load1 = None
        s = {"t": round(t - self.t_start, 1), "load1": load1, "alive": alive and fig is not None and fig.get("state") != "Z",
             "fds": fig and fig.get("fds"), "fds_raw": fig and fig.get("fds_raw"),
             "fd_list": fig and fig.get("fd_list"), "fd_raw_list": fig and fig.get("fd_raw_list"), "rss_kb": fig and fig.get("rss_kb"),
             "threads": fig and fig.get("threads"), "zombies": zombies, self.LINK_KEYS[0]: live_pppd,
             self.LINK_KEYS[1]: addr or "", "dns": dns, "settled": self.settled(), "note": note}
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
        if self.link_address() is None or not self.link_dns():
            return None
        return self.probe_times[i]

    def look_only(self):
        """For wait_until: a look at the processes, never done."""
        self.look_processes()
        return None

    def watch_recovery(self, fault, ref, need_new_pppd):
        bound = self.bound[fault.get("kind_bound", fault["kind"])]
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
            fault["window"] = self.windows[-1]
            fault["recovery_s"] = None
            fault["ok"] = False
            self.failures.append("%s at %.0f s: link not back within %.0f s" % (
                fault["kind"], fault["t"], limit - ref))
            return
        fault["recovery_s"] = round(got - ref, 2)
        self.windows.append((self.t_start + fault["t"] - 1, got + 5))
        fault["window"] = self.windows[-1]
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

    def dns_mode_at(self, t):
        return not any(f["kind"] == "dns_dead" and self.t_start + f["t"] <= t <= self.t_start + f["t"] + f.get("hold_s", 0) + 120
                       for f in self.faults)

    def daemon_commands(self, since, until=None):
        self.read_journals()
        return [(t, c) for t, c in self.shell_cmds if t > since and (until is None or t <= until)]

    # ---- the whole run
    def prepare_router(self):
        run(["ispdns", "start"])
        if not self.args.record_at_start:
            run(["usbsim", "set", "serialcom=never"])

    def start(self):
        self.prepare_router()
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
        self.first_link = first
        self.watch_first_link(first)
        bag = []
        next_fault = now() + self.rng.uniform(a.gap_min, a.gap_max) * 60
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
            self.FAULTS[kind](self, fault)
            print("soak: %7s   back after %s s (bound %s s)" % ("", fault.get("recovery_s"), fault.get("bound_s")),
                  flush=True)
            self.current_kind = "settled"
            next_fault = now() + self.rng.uniform(a.gap_min, a.gap_max) * 60
        self.wait_until(end)
        final = self.sample("end")
        self.write_results(final)

    def watch_first_link(self, first):
        if self.args.record_at_start:
            self.watch_recovery(first, self.t_start, True)
        else:
            faults.no_record_then_record(self, first, self.t_start)

    def write_results(self, final):
        write_results(self, final)

def main():
    soak = Soak(parse_args(__doc__.split("\n")[0], KINDS))
    soak.main()
    return 1 if soak.failures else 0


if __name__ == "__main__":
    sys.exit(main())
