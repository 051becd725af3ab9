#!/usr/bin/python3
"""The 3G story on the simulated router, told as it happens.

Runs inside the bench (bench/run), on its clock: plugs a stick, starts the
link3g daemon, and narrates what the journals show: every command the daemon
hands to the shell, its messages, the LED's pattern, what the modem is told,
the DNS queries. Then it runs the dns and qos commands, pulls the stick out
and puts it back, makes the stick's firmware hang (the daemon resets it on
its bus after 300 s without a DNS answer), and finally lets DNS die: the
self-check holds the reboot back on a router up for two minutes and
requests it on one up for an hour. At each stage it asks link3g --cmd
status what the daemon is doing. A stick that is a network card once
switched (an LTE stick: bench/sticks/README.md) goes the network way: DHCP
from the stick's own server through the router's udhcpc instead of pppd.

  demo.py [--stick NAME] [--binary PATH]
"""
import argparse
import os
import re
import subprocess
import sys
import threading
import time

JOURNAL = "/bench/journal"
T0 = time.time()


def stamp(t=None):
    return "[%6.1fs]" % ((t if t is not None else time.time()) - T0)


def say(kind, text, t=None):
    for i, line in enumerate(text.rstrip("\n").split("\n")):
        print("%s %-7s %s" % (stamp(t) if i == 0 else " " * 9, kind if i == 0 else "", line), flush=True)


def section(title):
    print("\n==== %s %s" % (stamp(), title), flush=True)


def legend():
    print("Each line: the router's clock, then where it comes from:\n"
          "  shell   a command line link3g handed to the shell, byte for byte\n"
          "  link3g  what link3g printed (and the programs it ran)\n"
          "  LED     the status LED's pattern, from the levels written to /proc/led_enable\n"
          "  modem   an AT command the simulated modem received (comgt dialling)\n"
          "  dns     a DNS query seen by the ISP's name servers\n"
          "  stick   what a network stick's DHCP server did (network sticks only)\n"
          "  router  the simulated router: pppd, reboot requests, commands the demo runs\n"
          "  status  what link3g --cmd status says, and its exit status (0 up, 1 not up, 3 no daemon)\n"
          "  file    a file link3g wrote", flush=True)


class Tail:
    """Follows one journal file; calls show(time, text) for each new line."""

    def __init__(self, path, show, timed=True):
        self.path, self.show, self.timed, self.pos = path, show, timed, 0

    def poll(self):
        try:
            with open(self.path, "rb") as f:
                if os.fstat(f.fileno()).st_size < self.pos:
                    self.pos = 0  # emptied since the last look
                f.seek(self.pos)
                data = f.read()
        except FileNotFoundError:
            return
        end = data.rfind(b"\n")
        if end < 0:
            return
        self.pos += end + 1
        for raw in data[: end + 1].decode("utf-8", "replace").splitlines():
            if self.timed and " " in raw:
                t, _, rest = raw.partition(" ")
                try:
                    self.show(float(t), rest)
                    continue
                except ValueError:
                    pass
            self.show(None, raw)


class Led:
    """Turns the LED's level writes into the pattern a person sees."""

    def __init__(self):
        self.writes = []  # (time, lit)
        self.shown = None

    def add(self, t, value):
        self.writes.append((t, value.strip() == "0"))

    def pattern(self, now):
        if not self.writes:
            return None
        t_last, lit = self.writes[-1]
        if now - t_last > 1.6:
            return "steady on  ●" if lit else "off        ○"
        if len(self.writes) >= 3:
            gap = (self.writes[-1][0] - self.writes[-3][0]) / 2
            return "fast blink ●○●○" if gap < 0.6 else "slow blink ●   ○   ●"
        return None

    def update(self, now):
        p = self.pattern(now)
        if p and p != self.shown:
            self.shown = p
            say("LED", p)


class Narrator(threading.Thread):
    def __init__(self, daemon_out):
        super().__init__(daemon=True)
        self.led = Led()
        self.tails = [
            Tail(JOURNAL + "/shell.log", self.shell),
            Tail(daemon_out, lambda t, s: say("link3g", s), timed=False),
            Tail(JOURNAL + "/led.log", lambda t, s: self.led.add(t, s)),
            Tail(JOURNAL + "/modem.log", self.modem),
            Tail(JOURNAL + "/standins.log", self.standin),
            Tail(JOURNAL + "/dns.log", self.dns),
            Tail(JOURNAL + "/stick-dnsmasq.log", self.stick, timed=False),
        ]
        self.running = True

    def shell(self, t, line):
        if "/proc/led_enable" not in line:
            say("shell", line.replace("\\n", "⏎"), t)

    def modem(self, t, line):
        port, _, text = line.partition(" ")
        if not text.startswith("<data"):
            say("modem", "%s got %s" % (port, text.replace("\\\\", "\\")), t)

    def standin(self, t, line):
        usb_event = line.startswith("# usb:") and any(w in line for w in ("hangs", "reset", "back on the bus",
                                                                           "modem personality"))
        if line.startswith("# pppd") or line.startswith("# reboot") or usb_event:
            say("router", line[2:], t)

    def stick(self, t, line):
        m = re.search(r"(DHCP[A-Z]+\(.*)", line)
        if m:
            say("stick", m.group(1).strip(), t)

    def dns(self, t, line):
        addr, _, data = line.partition(" ")
        qid = data.split()[0][:4] if data else "?"
        say("dns", "query id 0x%s to %s" % (qid, addr), t)

    def run(self):
        while self.running:
            for tail in self.tails:
                tail.poll()
            self.led.update(time.time())
            time.sleep(0.1)

    def flush(self):
        for tail in self.tails:
            tail.poll()


def sh(cmd, show=True):
    # dash itself, not /bin/sh: the shell journal is for the daemon's commands.
    out = subprocess.run(["/bin/dash", "-c", cmd], capture_output=True, text=True).stdout
    if show and out.strip():
        say("router", "$ " + cmd + "\n" + out)
    return out


def status(binary):
    """Asks the daemon's state as a router's script would; returns the text."""
    r = subprocess.run([binary, "--cmd", "status"], capture_output=True, text=True)
    say("status", "%s(exit %d)" % (r.stdout, r.returncode))
    return r.stdout


def state():
    """The daemon's state as its status file says, as a web page reads it."""
    try:
        with open("/var/run/link3g.status") as f:
            return dict(l.rstrip("\n").partition("=")[::2] for l in f).get("state")
    except FileNotFoundError:
        return None


def wait_for(cond, limit):
    end = time.time() + limit
    while time.time() < end:
        if cond():
            return True
        time.sleep(0.5)
    return cond()


def up_for(seconds, cmd):
    """cmd on a router up for `seconds`: a time namespace moves the boot
    clock that sysinfo() and /proc/uptime read."""
    with open("/proc/uptime") as f:
        now = int(float(f.read().split()[0]))
    return "unshare -T --boottime %d --fork %s" % (seconds - now, cmd)


def status_key(key):
    try:
        with open("/var/run/link3g.status") as f:
            return dict(l.rstrip("\n").partition("=")[::2] for l in f).get(key, "")
    except FileNotFoundError:
        return ""


def interface():
    """The link's interface: ppp0, or a network stick's as the status says."""
    return (status_key("interface") or "ppp0") if status_key("mode") == "network" else "ppp0"


def link_up():
    return "inet " in sh("ip -4 addr show dev %s 2>/dev/null" % interface(), show=False)


def stick_way(name):
    """Which way the stick goes, from its file's net key."""
    try:
        with open(os.path.join(os.path.dirname(__file__), "..", "sticks", name + ".stick")) as f:
            net = [l.split("=", 1)[1].strip() for l in f if l.startswith("net=")]
    except FileNotFoundError:
        net = []
    if net:
        return "network", "a network card once switched (%s): DHCP through udhcpc, no pppd, no PIN" % net[0]
    return "ppp", "a modem once switched: a modem tty, pppd and comgt"


def dns_size():
    try:
        return os.path.getsize(JOURNAL + "/dns.log")
    except FileNotFoundError:
        return 0


def output_since(path, offset):
    with open(path) as f:
        f.seek(offset)
        return f.read()


def show_file(path, head=None):
    try:
        lines = open(path).read().splitlines()
    except FileNotFoundError:
        return
    body = lines if head is None else lines[:head] + (["... (%d lines)" % len(lines)] if len(lines) > head else [])
    say("file", path + "\n" + "\n".join("  " + l for l in body))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--stick", default="zte-mf626")
    p.add_argument("--binary", required=True)
    args = p.parse_args()
    daemon_out = "/tmp/link3g.out"
    open(daemon_out, "w").close()
    narrator = Narrator(daemon_out)
    legend()
    narrator.start()

    section("The router starts: the ISP's name servers, the LAN bridge br0")
    sh("ispdns start", show=False)
    sh("ip link add br0 type veth peer name lan0 && ip addr add 192.168.1.1/24 dev br0 && "
       "ip link set br0 up && ip link set lan0 up", show=False)
    way, why = stick_way(args.stick)
    section("A 3G stick is plugged in: " + args.stick)
    say("demo", "it goes the %s way: %s" % (way, why))
    sh("usbsim plug " + args.stick, show=False)
    sh("grep -E '^(T|P|S):' /proc/bus/usb/devices | grep -v 'Linux\\|Host Controller\\|SerialNumber'")

    section("link3g --cmd 3g --3gCard AutoCheck --3gPin 1234 &")
    daemon = subprocess.Popen([args.binary, "--cmd", "3g", "--3gCard", "AutoCheck", "--3gPin", "1234"],
                              stdout=open(daemon_out, "w"), stderr=subprocess.DEVNULL)
    time.sleep(1)
    narrator.flush()
    status(args.binary)
    if not wait_for(lambda: link_up() and dns_size() > 0, 180):
        say("demo", "the link did not come up")
    narrator.flush()
    section("The link is up")
    status(args.binary)
    if way == "network":
        show_file("/etc/ppp/udhcpc.script")
    else:
        show_file("/etc/ppp/options.ppp3g")
        show_file("/etc/ppp/chat.ppp3g", head=26)
    sh("ip -4 addr show dev " + interface())
    sh("cat /etc/resolv.conf")
    time.sleep(4)

    section("link3g --cmd dns: the LAN's DNS relay, NAT, and a DNS check")
    sh(args.binary + " --cmd dns")
    show_file("/etc/dnsfw.sh")
    sh("iptables -t nat -S POSTROUTING")
    time.sleep(1)
    sh("python3 -c \"import dns.resolver as r; x=r.Resolver(configure=False); x.nameservers=['192.168.1.1'];"
       "print('a LAN client asks the relay at 192.168.1.1 for www.example.org:', x.resolve('www.example.org','A')[0])\"")

    section("link3g --cmd qos --qos '100,120,64;121,130,32;' --LanH 192.168.1.")
    sh(args.binary + " --cmd qos --qos '100,120,64;121,130,32;' --LanH 192.168.1.")
    sh("iptables -t mangle -S FORWARD")

    section("The stick is pulled out")
    mark = os.path.getsize(daemon_out)
    sh("usbsim unplug", show=False)
    wait_for(lambda: "get usb id modem failed" in output_since(daemon_out, mark), 60)
    wait_for(lambda: state() == "no-modem", 30)
    narrator.flush()
    status(args.binary)
    time.sleep(6)
    section("... and plugged in again")
    sh("usbsim replug", show=False)
    queries = dns_size()
    if not wait_for(lambda: link_up() and dns_size() > queries, 180):
        say("demo", "the link did not come back")
    narrator.flush()
    section("The link is back")
    sh("ip -4 addr show dev " + interface())
    status(args.binary)
    time.sleep(3)

    section("The stick's firmware hangs: it answers nothing, its nodes stay")
    mark = os.path.getsize(daemon_out)
    sh("usbsim hang", show=False)
    if way == "network":
        wait_for(lambda: state() == "dns-failing", 40)
        narrator.flush()
        say("demo", "the address stays but nothing answers: restarting udhcpc does not mend it;\n"
            "after 300 s without a DNS answer link3g resets the stick on its USB bus")
    else:
        wait_for(lambda: not link_up(), 30)
        narrator.flush()
        say("demo", "the link is down and nothing the design does brings it back; after 300 s\n"
            "without a DNS answer link3g resets the stick on its USB bus")
    wait_for(lambda: "the link is stuck" in output_since(daemon_out, mark), 400)
    queries = dns_size()
    if not wait_for(lambda: link_up() and dns_size() > queries, 120):
        say("demo", "the link did not come back")
    narrator.flush()
    section("The link is back after the reset")
    status(args.binary)
    time.sleep(3)

    section("The ISP's DNS goes dead; the start-up scripts run link3g --cmd dns")
    sh("ispdns mode 127.0.1.1 drop; ispdns mode 127.0.1.2 drop", show=False)
    wait_for(lambda: state() == "dns-failing", 40)
    narrator.flush()
    status(args.binary)
    say("router", "the router came up 2 minutes ago")
    sh(up_for(120, args.binary + " --cmd dns"))
    narrator.flush()
    section("An hour after boot, DNS still dead: link3g --cmd dns again")
    sh(up_for(3600, args.binary + " --cmd dns"))
    time.sleep(1)
    narrator.flush()
    time.sleep(0.5)
    section("Done: the daemon is stopped and the simulated router goes away")
    narrator.running = False
    daemon.kill()
    daemon.wait()
    status(args.binary)
    print("%.0f s of the router's time" % (time.time() - T0), flush=True)


if __name__ == "__main__":
    sys.exit(main())
