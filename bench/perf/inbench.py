#!/usr/bin/python3
"""The benchmark's measurements inside the simulated router.

scripts/benchmark runs each of these through bench/run (a fresh router each):

  inbench.py steady  BUILD OUT   link3g --cmd 3g on a plugged stick, link up and
                                 LED held: memory and threads after 10 minutes
                                 of bench time, processes spawned and CPU time
                                 per supervisor pass, and the CPU time of one
                                 `pidof pppd` run beside it
  inbench.py bare    BUILD OUT   the same daemon started without the bench's
                                 preloaded libraries (run it at speed 1, where
                                 libfaketime is not used): memory and threads
  inbench.py bringup BUILD OUT   one bring-up at real time: wall time from the
                                 start to the first "pppd file" command, and
                                 the daemon's own CPU time for it
  inbench.py dns     BUILD OUT   SendDns() and dig against the bench's name
                                 servers, at real time

BUILD is the build tree (link3g and the perf_* helpers); OUT a file that
gets key=value lines. A measurement that cannot be made (link never up, LED
never held, daemon gone, a query unanswered...) ends with status 1 and the
reason on standard error and as error=... in OUT.

No command here goes through /bin/sh: the bench journals the command lines
handed to the shell by link3g and by this program alike, and only link3g's
may be counted.
"""
import os
import shutil
import signal
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
TICK = os.sysconf("SC_CLK_TCK")

results = {}
out_path = None


def put(**kv):
    results.update(kv)


def write_results():
    with open(out_path, "w") as f:
        for k, v in results.items():
            f.write("%s=%s\n" % (k, v))


def fail(reason):
    put(error=reason.replace("\n", " "))
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
    """A helper's key=value line as results, each key prefixed."""
    out = {}
    for word in text.split():
        k, _, v = word.partition("=")
        out[prefix + k] = v
    return out


def env_without_preloads():
    return {k: v for k, v in os.environ.items() if k != "LD_PRELOAD" and not k.startswith("FAKETIME")}


def start_daemon(build, env=None):
    out = open(DAEMON_OUT, "w")
    return subprocess.Popen([build + "/src/app/link3g"] + DAEMON_ARGS, stdout=out, stderr=subprocess.STDOUT,
                            env=env)


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


def proc_stat(pid):
    """utime and stime of the whole process (all its threads, not its
    children), in clock ticks."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]), int(fields[12])


def runtime_ns(pid, thread=None):
    """CPU time of the process's threads in nanoseconds (the scheduler's
    sum_exec_runtime, of which utime + stime are the tick-rounded split):
    all of them, or only thread (a thread id)."""
    total = 0
    for tid in os.listdir("/proc/%d/task" % pid):
        if thread is not None and int(tid) != thread:
            continue
        with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
            total += int(f.read().split()[0])
    return total


def voluntary_switches(pid, thread=None):
    """How often the process's threads gave the processor up of their own
    accord (each sleep, each wait for a reply): all of them, or only thread."""
    total = 0
    for tid in os.listdir("/proc/%d/task" % pid):
        if thread is not None and int(tid) != thread:
            continue
        total += status_fields("/proc/%d/task/%s/status" % (pid, tid),
                               ("voluntary_ctxt_switches",))["voluntary_ctxt_switches"]
    return total


def start_wakeup_floor(build, env=None):
    """perf_wakeup_floor, started the same way as the daemon and left to run
    beside it through the window."""
    floor = subprocess.Popen([build + "/bench/perf_wakeup_floor"], env=env)
    time.sleep(0.5)  # past its start-up, which is not a wakeup's cost
    if floor.poll() is not None:
        fail("perf_wakeup_floor ended with status %s" % floor.returncode)
    return floor


def floor_snapshot(floor):
    return {"ns": runtime_ns(floor.pid), "sw": voluntary_switches(floor.pid)}


def wakeup_figures(a, b, fa, fb, iterations):
    """How often each of the daemon's threads woke per pass, and what one
    wakeup of perf_wakeup_floor cost meanwhile."""
    floor_wakeups = fb["sw"] - fa["sw"]
    if floor_wakeups < 20:
        fail("perf_wakeup_floor woke only %d times in the window" % floor_wakeups)
    main = b["sw_main"] - a["sw_main"]
    led = (b["sw"] - a["sw"]) - main
    return {"wakeups_main_per_iteration": "%.2f" % (main / iterations),
            "wakeups_led_per_iteration": "%.2f" % (led / iterations),
            "floor_wakeups": floor_wakeups,
            "floor_wakeup_us": "%.1f" % ((fb["ns"] - fa["ns"]) / floor_wakeups / 1000)}


def status_fields(path, keys):
    """The numbers of the named fields of a /proc status file."""
    s = {}
    with open(path) as f:
        for line in f:
            k, _, v = line.partition(":")
            if k in keys:
                s[k] = int(v.split()[0])
    return s


def status(pid):
    return status_fields("/proc/%d/status" % pid, ("VmRSS", "VmHWM", "Threads"))


def rss_by_mapping(pid):
    """Resident kB of each mapped file, [heap], [stack] and anonymous
    memory."""
    by = {}
    name = None
    with open("/proc/%d/smaps" % pid) as f:
        for line in f:
            first = line.split()
            if not first:
                continue
            if not first[0].endswith(":"):  # a mapping's header line
                name = first[5] if len(first) > 5 else "[anon]"
            elif first[0] == "Rss:":
                by[name] = by.get(name, 0) + int(first[1])
    return by


def snapshot(pid):
    utime, stime = proc_stat(pid)
    s = status(pid)
    return {
        "bench": time.time(), "real": real_now(), "utime": utime, "stime": stime,
        "ns": runtime_ns(pid), "ns_main": runtime_ns(pid, pid), "sw": voluntary_switches(pid),
        "sw_main": voluntary_switches(pid, pid),
        "rss": s["VmRSS"], "hwm": s["VmHWM"], "threads": s["Threads"],
        "shell": len(lines(SHELL_LOG)), "dns": len(lines(DNS_LOG)), "led": file_size(LED_LOG),
    }


def led_held(daemon):
    """The LED is held once its journal stops growing for 3 bench seconds
    (12 ticks of its thread; a slow blink writes every 4) with the LED lit."""
    before = file_size(LED_LOG)
    time.sleep(3)
    records = lines(LED_LOG)
    return before > 0 and file_size(LED_LOG) == before and records[-1].endswith(" 0")


def mapping_summary(by):
    return ",".join("%s:%d" % (os.path.basename(k), v) for k, v in sorted(by.items(), key=lambda kv: -kv[1]))


def steady(build, minutes=10.0, settle_queries=10, pidof_runs=300):
    run(["ispdns", "start"])
    t_start, r_start = time.time(), real_now()
    daemon = start_daemon(build)
    pid = daemon.pid
    wait_for(daemon, link_up, 180, "link (ppp0 address and a DNS query)")
    put(link_up_bench_s="%.1f" % (time.time() - t_start))
    wait_for(daemon, lambda: led_held(daemon), 60, "held LED", step=0)
    held_queries = len(lines(DNS_LOG))
    wait_for(daemon, lambda: len(lines(DNS_LOG)) >= held_queries + settle_queries, 120,
             "%d answered queries after the LED was held" % settle_queries)
    sleeper = start_wakeup_floor(build)
    a, fa = snapshot(pid), floor_snapshot(sleeper)
    end = t_start + minutes * 60
    if a["bench"] >= end:
        fail("the link took longer than the whole run")
    while time.time() < end:
        if daemon.poll() is not None:
            fail("link3g ended (status %s) in the steady window" % daemon.returncode)
        time.sleep(min(5.0, max(0.05, end - time.time())))
    b, fb = snapshot(pid), floor_snapshot(sleeper)
    sleeper.kill()
    sleeper.wait()
    by = rss_by_mapping(pid)

    window_dns = lines(DNS_LOG)[a["dns"]:b["dns"]]
    iterations = len(window_dns)
    other_servers = [l for l in window_dns if l.split()[1] != FIRST_SERVER]
    if iterations < 100:
        fail("only %d supervisor passes in the steady window" % iterations)
    if other_servers:
        fail("%d queries went past the first server: not one answered query per pass" % len(other_servers))
    ticks = (b["utime"] + b["stime"]) - (a["utime"] + a["stime"])
    ns = b["ns"] - a["ns"]
    tick_ns = 1e9 / TICK
    # The tick figure is the same time rounded down twice (utime, stime).
    if abs(ticks * tick_ns - ns) > 2 * tick_ns + 0.02 * ns:
        fail("utime+stime (%d ticks) and the threads' runtime (%d ns) disagree" % (ticks, ns))
    put(daemon_pid=pid,
        bench_minutes="%.2f" % ((b["bench"] - t_start) / 60),
        real_seconds_total="%.1f" % (b["real"] - r_start),
        rss_early_kb=a["rss"], hwm_early_kb=a["hwm"], threads_early=a["threads"],
        rss_kb=b["rss"], hwm_kb=b["hwm"], threads=b["threads"],
        iterations=iterations,
        window_bench_s="%.1f" % (b["bench"] - a["bench"]),
        window_real_s="%.2f" % (b["real"] - a["real"]),
        pass_bench_s="%.3f" % ((b["bench"] - a["bench"]) / iterations),
        spawned=b["shell"] - a["shell"],
        led_bytes_written=b["led"] - a["led"],
        cpu_ticks=ticks, tick_us="%.0f" % (tick_ns / 1000),
        cpu_tick_us_per_iteration="%.1f" % (ticks * tick_ns / 1000 / iterations),
        cpu_ns=ns,
        cpu_us_per_iteration="%.2f" % (ns / 1000 / iterations),
        cpu_main_us_per_iteration="%.2f" % ((b["ns_main"] - a["ns_main"]) / 1000 / iterations),
        cpu_led_us_per_iteration="%.2f" % ((ns - (b["ns_main"] - a["ns_main"])) / 1000 / iterations),
        utime_ticks=b["utime"] - a["utime"], stime_ticks=b["stime"] - a["stime"],
        maps=mapping_summary(by),
        preload_rss_kb=sum(v for k, v in by.items() if any(m in k for m in PRELOAD_MARKS)),
        libm_rss_kb=sum(v for k, v in by.items() if "/libm.so" in k))
    put(**wakeup_figures(a, b, fa, fb, iterations))
    if daemon.poll() is not None:
        fail("link3g ended")
    put(**syscalls(pid))
    # pidof as the supervisor would otherwise run it, in the same router with
    # the daemon still running: without the bench's preloads (as on the
    # router) and, for comparison, with them. The bench's pppd is a script,
    # which plain pidof does not match (it reads every process all the same,
    # and exits 1); -x makes it match scripts too. Both are measured.
    helper = build + "/bench/perf_run_many"
    for tag, opts in (("pidof_", ["--no-preload"]), ("pidof_bench_", [])):
        put(**keyvals(run([helper] + opts + ["--status", "0,1", str(pidof_runs), "--", "pidof", "pppd"]), tag))
        put(**keyvals(run([helper] + opts + ["--output", str(pppd_pid()), str(pidof_runs), "--",
                           "pidof", "-x", "pppd"]), tag + "x_"))
    put(pidof_path=os.path.realpath(shutil.which("pidof") or "pidof"))


def syscalls(pid, seconds=60):
    """System calls of the daemon (all threads) per pass, counted by
    strace -c -f over seconds of bench time; after the CPU window, since
    tracing slows the daemon down."""
    if shutil.which("strace") is None:
        fail("strace is not installed")
    summary = "/tmp/strace.txt"
    before = len(lines(DNS_LOG))
    tracer = subprocess.Popen(["strace", "-f", "-c", "-q", "-o", summary, "-p", str(pid)])
    time.sleep(seconds)
    tracer.send_signal(signal.SIGINT)
    tracer.wait()
    passes = len(lines(DNS_LOG)) - before
    processes = sum(1 for e in os.listdir("/proc") if e.isdigit())
    calls = {}
    for line in lines(summary):
        f = line.split()
        # % time, seconds, usecs/call, calls, [errors,] syscall
        if len(f) >= 5 and f[-1] != "total" and f[3].isdigit():
            calls[f[-1]] = int(f[3])
    if passes < 10 or not calls:
        fail("strace saw %d passes and %d system calls" % (passes, sum(calls.values())))
    top = sorted(calls.items(), key=lambda kv: -kv[1])
    return {"syscall_passes": passes, "syscall_processes": processes,
            "syscalls_per_pass": "%.1f" % (sum(calls.values()) / passes),
            "syscalls_top": ",".join("%s:%.1f" % (k, v / passes) for k, v in top)}


def pppd_pid():
    for entry in os.listdir("/proc"):
        try:
            with open("/proc/%s/comm" % entry) as f:
                if f.read().strip() == "pppd":
                    return int(entry)
        except (OSError, ValueError):
            continue
    fail("no pppd running")


def bare(build, settle_queries=3, window_queries=15):
    run(["ispdns", "start"])
    env = env_without_preloads()
    daemon = start_daemon(build, env)
    pid = daemon.pid
    wait_for(daemon, link_up, 120, "link (ppp0 address and a DNS query)")
    up_queries = len(lines(DNS_LOG))
    wait_for(daemon, lambda: len(lines(DNS_LOG)) >= up_queries + settle_queries, 60,
             "%d answered queries after the link came up" % settle_queries)
    sleeper = start_wakeup_floor(build, env)
    a, fa = snapshot(pid), floor_snapshot(sleeper)
    wait_for(daemon, lambda: len(lines(DNS_LOG)) >= a["dns"] + window_queries, 120,
             "%d more answered queries" % window_queries)
    b, fb = snapshot(pid), floor_snapshot(sleeper)
    sleeper.kill()
    sleeper.wait()
    by = rss_by_mapping(pid)
    kinds = status_kinds(pid)
    floor = idle_floor(build, env)
    preloaded = [k for k in by if any(m in k for m in PRELOAD_MARKS)]
    if preloaded:
        fail("the daemon has preloaded libraries mapped: %s" % ", ".join(preloaded))
    window_dns = lines(DNS_LOG)[a["dns"]:b["dns"]]
    if any(l.split()[1] != FIRST_SERVER for l in window_dns):
        fail("queries went past the first server: not one answered query per pass")
    iterations = len(window_dns)
    put(daemon_pid=pid, rss_early_kb=a["rss"], rss_kb=b["rss"], hwm_kb=b["hwm"], threads=b["threads"],
        iterations=iterations, spawned=b["shell"] - a["shell"],
        cpu_ns=b["ns"] - a["ns"], cpu_us_per_iteration="%.2f" % ((b["ns"] - a["ns"]) / 1000 / iterations),
        cpu_main_us_per_iteration="%.2f" % ((b["ns_main"] - a["ns_main"]) / 1000 / iterations),
        cpu_led_us_per_iteration="%.2f" % (((b["ns"] - a["ns"]) - (b["ns_main"] - a["ns_main"])) / 1000 / iterations),
        cpu_ticks=(b["utime"] + b["stime"]) - (a["utime"] + a["stime"]),
        maps=mapping_summary(by), rss_anon_kb=kinds["RssAnon"], rss_file_kb=kinds["RssFile"],
        libc_rss_kb=sum(v for k, v in by.items() if "/libc.so" in k))
    put(**wakeup_figures(a, b, fa, fb, iterations))
    put(**floor)


def status_kinds(pid):
    return status_fields("/proc/%d/status" % pid, ("RssAnon", "RssFile", "RssShmem"))


def idle_floor(build, env):
    """The resident memory of perf_idle_floor (two threads asleep, the C
    library only), started the same way as the daemon."""
    floor = subprocess.Popen([build + "/bench/perf_idle_floor"], env=env)
    try:
        time.sleep(1)
        if floor.poll() is not None:
            fail("perf_idle_floor ended with status %s" % floor.returncode)
        s = status(floor.pid)
        by = rss_by_mapping(floor.pid)
        return {"floor_rss_kb": s["VmRSS"], "floor_threads": s["Threads"],
                "floor_libc_rss_kb": sum(v for k, v in by.items() if "/libc.so" in k),
                "floor_maps": mapping_summary(by)}
    finally:
        floor.kill()
        floor.wait()


def bringup(build):
    t0 = time.time()
    daemon = start_daemon(build)
    pid = daemon.pid
    found = []

    def pppd_started():
        for line in lines(SHELL_LOG):
            when, _, command = line.partition(" ")
            if command.startswith("pppd file"):
                found.append(float(when))
                return True
        return False

    wait_for(daemon, pppd_started, 60, "\"pppd file\" command", step=0.002)
    utime, stime = proc_stat(pid)
    ns = runtime_ns(pid)
    journal = lines(SHELL_LOG)
    output = open(DAEMON_OUT).read()
    if "init ok 1." not in output:
        fail("the bring-up did not take the ok 1 path")
    if any("serialcom" in l for l in journal):
        fail("the bring-up ran serialcom")
    wall = found[0] - t0
    if wall < 6.0:
        fail("bring-up in %.3f s, shorter than its own 6 s of waits: the clock is not real time" % wall)
    timeline = []
    for line in journal:
        when, _, command = line.partition(" ")
        timeline.append("%+.3f %s" % (float(when) - t0, command))
    put(timeline=" ; ".join(timeline))
    put(daemon_pid=pid, wall_s="%.3f" % wall, waits_s="6.000", overhead_ms="%.0f" % ((wall - 6.0) * 1000),
        cpu_ticks=utime + stime, tick_ms="%.0f" % (1000.0 / TICK),
        cpu_ns=ns, cpu_ms="%.2f" % (ns / 1e6), commands=len(journal))


def dns(build, probes=300, digs=100):
    run(["ispdns", "start"])
    probe = build + "/bench/perf_dns_probe"
    runner = build + "/bench/perf_run_many"
    for server, name in (("127.0.2.1", "dnsmasq"), ("127.0.1.1", "front")):
        put(**keyvals(run([probe, server, str(probes)]), "probe_%s_" % name))
        put(**keyvals(run([runner, "--no-preload", "--output", "93.184.216.34", str(digs), "--",
                           "dig", "@" + server, "+tries=1", "+time=2", "www.google.com"]),
                      "dig_%s_" % name))


def main():
    global out_path
    if len(sys.argv) != 4 or sys.argv[1] not in ("steady", "bare", "bringup", "dns"):
        sys.stderr.write("usage: inbench.py steady|bare|bringup|dns BUILD OUT\n")
        sys.exit(2)
    what, build, out_path = sys.argv[1:]
    if not os.path.isdir(JOURNAL):
        sys.stderr.write("inbench: run me inside the bench (bench/run)\n")
        sys.exit(2)
    put(speed=os.environ.get("BENCH_SPEED", "1"), stick=os.environ.get("BENCH_STICK", ""))
    {"steady": steady, "bare": bare, "bringup": bringup, "dns": dns}[what](build)
    write_results()


if __name__ == "__main__":
    main()
