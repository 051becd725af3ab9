#!/usr/bin/python3
"""The soak of a network stick: link3g supervising the link of an LTE stick
that is a network card once switched (`hilink`) for hours of the bench's
clock while the link is broken now and then, watched from the outside.

Runs inside the bench (bench/run --stick hilink ... -- /usr/bin/python3
bench/soak/netsoak.py), on the bench's clock; scripts/soak --stick hilink
starts it and turns its results into docs/reliability.md. The harness is
soak.py's (samples, recovery watch, settled link, fault schedule); what
differs is the way: udhcpc for pppd, eth1 for ppp0, DNS through the stick.

What it does:
  - `usbsim set lease=120` (--lease), so that a lease runs out two minutes
    after the stick's DHCP server goes (udhcpc renews it every minute), then
    the daemon as the router starts it, with the same command line as for a
    3G stick: `link3g --cmd 3g --3gCard AutoCheck --3gPin 1234` (the stick
    takes no PIN and no dial value: none may reach it);
  - waits for the first link, then injects faults at seeded random times
    (bench/soak/netfaults.py):
      lease_loss  `usbsim set dhcp=off` for 150..300 s or 7..13 min (half
                  each: before and after the reset), then `dhcp=serve`: the
                  lease runs out, udhcpc takes the address away, the daemon
                  restarts udhcpc once and resets the stick once for the
                  longer ones
      hang        `usbsim hang`: the stick's DHCP server and DNS relay
                  answer nothing; one forced restart, and the reset 300 s
                  after the last answer mends it
      dns_dead    both ISP name servers behind the stick's relay drop every
                  query for 15..45 s or 2..10 min (before and after a forced
                  restart; the longer ones past the reset too)
      unplug      `usbsim unplug` for 1..10 min, `usbsim replug`
    A fault is injected only once the link is settled (eth1 has an address,
    one udhcpc runs, the daemon's own probe was seen in the last seconds);
  - samples as soak.py does, with live udhcpc for pppd and eth1 for ppp0,
    and the status file's mode and interface.

The link counts as back at the daemon's first DNS probe (as the ISP's
servers see it, relayed by the stick's dnsmasq: any question but the
harness's own) after a new lease set eth1's address (for every kind but
dns_dead), with the harness seeing eth1 addressed and the stick's relay
answering at that moment.

Results: /bench/journal/soak-results.json, soak-samples.csv and
soak-samples.json. Exit status 0 when every check passed, 1 otherwise.
"""
import fcntl
import socket
import struct
import sys

import netfaults
from netresults import write_results
from nettiming import bounds
from options import parse_args
from outside import HARNESS_QUERY_ID, SIOCGIFADDR, now, processes, run, stamp_of
from soak import Soak
from timing import ATTEMPT, PASS

INTERFACE = "eth1"
STICK_DNS = "192.168.8.1"  # the stick: its DHCP server and DNS relay
HARNESS_NAME = "soak.example.net"
STATUS_FILE = "/var/run/link3g.status"


def if_address(name):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        try:
            r = fcntl.ioctl(s.fileno(), SIOCGIFADDR, struct.pack("256s", name.encode()))
        except OSError:
            return None
    addr = socket.inet_ntoa(r[20:24])
    return None if addr == "0.0.0.0" else addr


def harness_query():
    name = b"".join(bytes([len(p)]) + p for p in HARNESS_NAME.encode().split(b".")) + b"\0"
    return struct.pack(">HHHHHH", HARNESS_QUERY_ID, 0x0100, 1, 0, 0, 0) + name + struct.pack(">HH", 1, 1)


def question(hexdata):
    """The question's name of a journalled datagram, or None."""
    try:
        data = bytes.fromhex(hexdata)
        i, labels = 12, []
        while data[i]:
            labels.append(data[i + 1:i + 1 + data[i]].decode("ascii", "replace"))
            i += data[i] + 1
        return ".".join(labels)
    except (ValueError, IndexError):
        return None


def status_keys():
    out = {}
    try:
        with open(STATUS_FILE) as f:
            for line in f:
                k, _, v = line.strip().partition("=")
                out[k] = v.strip("'")
    except OSError:
        pass
    return out


class NetSoak(Soak):
    LINK_KEYS = ("udhcpc", INTERFACE)
    FAULTS = netfaults.FAULTS

    def __init__(self, args):
        super().__init__(args)
        self.deconfigs = []   # times udhcpc's script took eth1's address away
        self.dhcp_mode = "serve"
        self.last_forward = None

    def timing(self, args, k):
        costs = {"per_pass": round(args.pass_ms * k, 2), "bringup": round(args.bringup_ms * k, 2),
                 "dhcp": round(args.dhcp_ms * k, 2), "serve": round(args.serve_ms * k, 2),
                 "reset": round(args.reset_ms * k, 2)}
        return costs, bounds(costs)

    # ---- the link: udhcpc, eth1, the stick's relay
    def live_links(self, procs):
        """udhcpc processes that run (not zombies, not on their way out, not
        udhcpc's own child between its fork and the script's exec)."""
        ours = {p[0] for p in procs if p[1] == "udhcpc"}
        return sum(1 for p in procs if p[1] == "udhcpc" and p[2] not in "ZXx" and p[3] not in ours)

    def link_address(self):
        return if_address(INTERFACE)

    def link_dns(self):
        """Whether the stick's relay answers the harness (one try, 2 s)."""
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.settimeout(ATTEMPT)
            try:
                s.sendto(harness_query(), (STICK_DNS, 53))
                data = s.recv(512)
                return len(data) >= 2 and struct.unpack(">H", data[:2])[0] == HARNESS_QUERY_ID
            except OSError:
                return False

    # ---- journals
    def read_journals(self):
        for line in self.tails["dns.log"].lines():
            parts = line.split()
            if len(parts) != 3:
                continue
            name = question(parts[2])
            if name is None or name == HARNESS_NAME:
                continue
            # The relay may send one query to both servers: one probe.
            if parts[2] == self.last_forward:
                continue
            self.last_forward = parts[2]
            self.probes.append((float(parts[0]), parts[1]))
            self.probe_times.append(float(parts[0]))
        for line in self.tails["standins.log"].lines():
            t = stamp_of(line)
            if t is None:
                continue
            body = line.split(" ", 1)[1] if " " in line else ""
            if body.startswith("ifconfig %s " % INTERFACE):
                words = body.split()
                if len(words) > 2 and words[2] == "0.0.0.0":
                    self.deconfigs.append(t)
                elif len(words) > 3 and words[3] == "netmask":
                    self.ppp_up.append((t, INTERFACE))  # a lease set (bound or renewed)
            elif body.startswith("udhcpc "):
                self.pppd_starts.append((t, body))
            elif body.startswith("# usb: ") and " reset on the bus " in body:
                self.reset_notes.append(t)
        for line in self.tails["shell.log"].lines():
            t = stamp_of(line)
            if t is None or "/proc/led_enable" in line:
                continue
            self.shell_cmds.append((t, line.split(" ", 1)[1]))

    def settled(self):
        """eth1 addressed, one udhcpc, the daemon probing, the stick serving
        and the name servers relaying."""
        self.read_journals()
        t = now()
        if self.link_address() is None or self.dns_mode != "relay" or self.dhcp_mode != "serve":
            return False
        if not self.probes or t - self.probes[-1][0] > 3 * PASS + 1:
            return False
        return self.live_links(processes()) == 1

    def dhcp_served(self, a, b):
        """Whether the stick served leases all through [a, b]."""
        return not any(f["kind"] == "lease_loss" and self.t_start + f["t"] <= b
                       and a <= self.t_start + f["t"] + f.get("hold_s", 0) + 1 for f in self.faults)

    def sample(self, note=""):
        s = super().sample(note)
        keys = status_keys()
        s["mode"], s["interface"] = keys.get("mode"), keys.get("interface")
        return s

    # ---- the run
    def prepare_router(self):
        run(["usbsim", "set", "lease=%d" % self.args.lease])

    def watch_first_link(self, first):
        self.watch_recovery(first, self.t_start, True)

    def write_results(self, final):
        write_results(self, final)


def main():
    soak = NetSoak(parse_args(__doc__.split("\n")[0], netfaults.KINDS))
    soak.main()
    return 1 if soak.failures else 0


if __name__ == "__main__":
    sys.exit(main())
