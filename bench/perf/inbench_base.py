"""What every measurement inside the simulated router shares: the journals,
the result file (JSON, one object of figures), starting link3g, waiting
on the bench's clock, and the way the link went (PPP or network) with the
DNS queries of its passes.

No command here goes through /bin/sh: the bench journals the command lines
handed to the shell by link3g and by these programs alike, and only
link3g's may be counted.
"""
import collections
import json
import os
import subprocess
import sys
import time

JOURNAL = "/bench/journal"
SHELL_LOG = JOURNAL + "/shell.log"
DNS_LOG = JOURNAL + "/dns.log"
RELAY_LOG = JOURNAL + "/stick-dnsmasq.log"
STATUS_FILE = "/var/run/link3g.status"
LED_LOG = JOURNAL + "/led.log"
DAEMON_OUT = "/tmp/daemon.out"
DAEMON_ARGS = ["--cmd", "3g", "--3gCard", "AutoCheck-hsdpa", "--3gApn", "internet", "--3gDial", "*99#"]
FIRST_SERVER = "127.0.1.1"
PRELOAD_MARKS = ("libbenchproc", "libfaketime", "faketime_shm", "faketime_sem")

results = {}
out_path = None


def put(**kv):
    results.update(kv)


def write_results():
    with open(out_path, "w") as f:
        json.dump(results, f, indent=1, sort_keys=True)
        f.write("\n")


def fail(reason):
    put(error=reason)
    write_results()
    sys.stderr.write("inbench: %s\n" % reason)
    try:
        sys.stderr.write("--- daemon output:\n" + open(DAEMON_OUT).read())
    except OSError:
        pass
    sys.exit(1)


def real_now():
    """Seconds of real time (libfaketime does not reach /proc/uptime)."""
    with open("/proc/uptime") as f:
        return float(f.read().split()[0])


def lines(path):
    try:
        with open(path, errors="replace") as f:
            return f.read().splitlines()
    except FileNotFoundError:
        return []


def file_size(path):
    try:
        return os.path.getsize(path)
    except FileNotFoundError:
        return 0


def run(argv, env=None):
    r = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
    if r.returncode != 0:
        fail("%s exited %d: %s" % (" ".join(argv), r.returncode, r.stderr.strip()))
    return r.stdout


def keyvals(text, prefix):
    """A helper's key=value line as results, each key prefixed (the perf_*
    programs print numbers only)."""
    out = {}
    for word in text.split():
        k, _, v = word.partition("=")
        out[prefix + k] = float(v) if "." in v else int(v)
    return out


def env_without_preloads():
    return {k: v for k, v in os.environ.items() if k != "LD_PRELOAD" and not k.startswith("FAKETIME")}


def start_daemon(binary, env=None):
    out = open(DAEMON_OUT, "w")
    return subprocess.Popen([binary] + DAEMON_ARGS, stdout=out, stderr=subprocess.STDOUT, env=env)


def wait_for(daemon, cond, limit, what, step=0.25):
    """Polls cond on the bench clock; fails after limit bench seconds."""
    end = time.time() + limit
    while True:
        if daemon is not None and daemon.poll() is not None:
            fail("link3g ended (status %s) while waiting for %s" % (daemon.returncode, what))
        if cond():
            return
        if time.time() > end:
            fail("no %s within %g bench seconds" % (what, limit))
        time.sleep(step)


Way = collections.namedtuple("Way", "mode interface program")
PPP_WAY = Way("ppp", "ppp0", "pppd")


def link_status():
    """The daemon's status file, field by field (empty before it is
    written)."""
    return dict(l.split("=", 1) for l in lines(STATUS_FILE) if "=" in l)


def link_way():
    """The way the link goes, as the status file says: on the network way
    its interface and udhcpc, the program the supervisor looks for;
    otherwise ppp0 and pppd."""
    s = link_status()
    if s.get("mode") == "network" and s.get("interface"):
        return Way("network", s["interface"], "udhcpc")
    return PPP_WAY


def relay_queries():
    """Whether each query the stick's DNS relay took was answered, in order.
    The relay is the lease's name server, and so the daemon's first; it
    logs each query, where it went, and the reply (dnsmasq's log-queries):
      ... dnsmasq[263]: query[A] www.google.com from 192.168.8.190
      ... dnsmasq[263]: forwarded www.google.com to 127.0.1.1
      ... dnsmasq[263]: reply www.google.com is 93.184.216.34"""
    answered, waiting = [], {}
    for line in lines(RELAY_LOG):
        words = line.partition("]: ")[2].split()
        if len(words) < 2:
            continue
        if words[0].startswith("query["):
            waiting[words[1]] = len(answered)
            answered.append(False)
        elif words[0] == "reply" and words[1] in waiting:
            answered[waiting.pop(words[1])] = True
    return answered


def query_count(way):
    """The daemon's DNS queries so far, one a steady pass. On the PPP way
    the daemon asks the ISP's servers itself: a line of dns.log each. On
    the network way it asks the stick's relay, which sends some queries to
    both of the ISP's servers at once (dnsmasq tries all its servers again
    now and then): the relay's own log counts them."""
    return len(relay_queries()) if way.mode == "network" else len(lines(DNS_LOG))


def window_fault(way, start, end):
    """Why the queries start..end are not one answered query to the first
    name server each, or None."""
    if way.mode == "network":
        if not all(relay_queries()[start:end]):
            return "a query to the stick's relay went unanswered: not one answered query per pass"
    elif any(l.split()[1] != FIRST_SERVER for l in lines(DNS_LOG)[start:end]):
        return "queries went past the first server: not one answered query per pass"
    return None


def link_up():
    """The link's interface (ppp0, or the status file's on the network way)
    has an address, and a query of the daemon's was seen."""
    way = link_way()
    r = subprocess.run(["ip", "-4", "addr", "show", "dev", way.interface], stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, text=True)
    return "inet " in r.stdout and query_count(way) > 0


def program_pid(name):
    """The pid of the process whose command name is name; fails when there
    is none."""
    for entry in os.listdir("/proc"):
        try:
            with open("/proc/%s/comm" % entry) as f:
                if f.read().strip() == name:
                    return int(entry)
        except (OSError, ValueError):
            continue
    fail("no %s running" % name)


def led_held():
    """The LED is held once its journal stops growing for 3 bench seconds
    (a slow blink writes every second) with the LED lit."""
    before = file_size(LED_LOG)
    time.sleep(3)
    records = lines(LED_LOG)
    return before > 0 and file_size(LED_LOG) == before and records[-1].endswith(" 0")
