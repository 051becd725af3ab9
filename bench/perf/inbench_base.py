"""What every measurement inside the simulated router shares: the journals,
the result file (JSON, one object of figures), starting link3g and waiting
on the bench's clock.

No command here goes through /bin/sh: the bench journals the command lines
handed to the shell by link3g and by these programs alike, and only
link3g's may be counted.
"""
import json
import os
import subprocess
import sys
import time

JOURNAL = "/bench/journal"
SHELL_LOG = JOURNAL + "/shell.log"
DNS_LOG = JOURNAL + "/dns.log"
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


def link_up():
    r = subprocess.run(["ip", "-4", "addr", "show", "dev", "ppp0"], stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, text=True)
    return "inet " in r.stdout and len(lines(DNS_LOG)) > 0


def led_held():
    """The LED is held once its journal stops growing for 3 bench seconds
    (a slow blink writes every second) with the LED lit."""
    before = file_size(LED_LOG)
    time.sleep(3)
    records = lines(LED_LOG)
    return before > 0 and file_size(LED_LOG) == before and records[-1].endswith(" 0")
