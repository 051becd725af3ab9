#!/usr/bin/python3
"""The benchmark's measurements inside the simulated router.

scripts/benchmark runs each of these through bench/run (a fresh router each):

  inbench.py steady  BUILD OUT   link3g --cmd 3g on a plugged stick, link up and
                                 LED held, on the bench's clock (sped up): the
                                 steady measurement of steady.py over 10 minutes
                                 of bench time, then the CPU time of one
                                 `pidof pppd` run beside it
  inbench.py bare    BUILD OUT   the same daemon started without the bench's
                                 preloaded libraries (run it at speed 1, where
                                 libfaketime is not used), over 10 real minutes,
                                 with pidof run once every 2 s, as a pass runs,
                                 through the window; then the memory of a
                                 program that only sleeps, and on the PPP way
                                 the parts of a pass (perf_pass_parts), one
                                 every 2 s. With a network stick the link goes
                                 the network way: pidof looks for udhcpc, the
                                 program the supervisor looks for there
  inbench.py static  BUILD OUT   the steady measurement over 10 real minutes for
                                 a static link3g (--daemon), which no preload
                                 reaches
  inbench.py bringup BUILD OUT   one bring-up at real time: wall time from the
                                 start to the first "pppd file" command, and
                                 the daemon's own CPU time for it
  inbench.py dns     BUILD OUT   SendDns() and dig against the bench's name
                                 servers, at real time

  --daemon PATH   the link3g to run (default BUILD/src/app/link3g)
  --quiet FILE    open the steady window only once FILE exists
  --minutes M     the steady run's length (default 10)
  --passes N      the fewest passes a steady window may hold (default 100)

BUILD is the build tree of the bench's helpers (the perf_* programs); OUT a
JSON file that gets the figures, one object. A measurement that cannot be
made (link never up, LED never held, daemon gone, a query unanswered...)
ends with status 1 and the reason on standard error and as "error" in OUT.
"""
import argparse
import os
import shutil
import subprocess
import time

import inbench_base as base
import judgement
import procfs
import steady
from inbench_base import fail, keyvals, lines, put, run


def steady_sped_up(opt, pidof_runs=300):
    daemon, _ = steady.measure(opt.daemon, opt.build, None, None, True, minutes=opt.minutes, min_passes=opt.passes,
                            quiet=opt.quiet)
    if daemon.poll() is not None:
        fail("link3g ended")
    # pidof as the supervisor would otherwise run it, in the same router with
    # the daemon still running: without the bench's preloads (as on the
    # router) and, for comparison, with them.
    helper = opt.build + "/bench/perf_run_many"
    for tag, opts in (("pidof_", ["--no-preload"]), ("pidof_bench_", [])):
        (plain_checks, plain), (x_checks, x) = pidof_forms(base.link_way())
        put(**keyvals(run([helper] + opts + plain_checks + [str(pidof_runs), "--"] + plain), tag))
        put(**keyvals(run([helper] + opts + x_checks + [str(pidof_runs), "--"] + x), tag + "x_"))
    put(pidof_path=os.path.realpath(shutil.which("pidof") or "pidof"))


def pidof_forms(way):
    """The two forms of pidof measured, each as perf_run_many's checks of
    a run and the command: plain and -x, both asking for the program the
    supervisor looks for on the link's way (pppd, or udhcpc). The bench's
    pppd is a script, which plain pidof does not match (it reads every
    process all the same, and exits 1); -x makes it match scripts too. The
    bench's udhcpc is busybox's, which both forms find."""
    pid = str(base.program_pid(way.program))
    plain = ["--status", "0,1"] if way.mode == "ppp" else ["--output", pid]
    return (plain, ["pidof", way.program]), (["--output", pid], ["pidof", "-x", way.program])


def bare(opt):
    """Without the preloads its LED commands fail in the shell, which
    changes nothing in the daemon; the LED journal stays empty, so the LED
    thread's wakeups tell whether it sleeps. perf_pass_parts times the parts
    of a PPP pass (pppd, the modem node, ppp0): on the network way it is not
    run."""
    env = base.env_without_preloads()
    daemon, snapshots = steady.measure(opt.daemon, opt.build, env, env, False, minutes=opt.minutes,
                                       min_passes=opt.passes, quiet=opt.quiet,
                                       beside=lambda seconds: PacedPidof(opt.build, env, seconds))
    steady.without_preloads_mapped(daemon.pid)
    judge_cpu(snapshots)
    put(**idle_floor(opt.build, env))
    if base.link_way().mode == "ppp":
        put(**run_staggered([("parts_", [opt.build + "/bench/perf_pass_parts", str(PARTS_PASSES)])], env))


def static(opt):
    """A static link3g maps nothing the bench preloads, while the shell it
    runs still has the bench's redirect of /proc/led_enable: the LED
    journal is seen as in the sped-up run."""
    env = base.env_without_preloads()
    daemon, snapshots = steady.measure(opt.daemon, opt.build, None, env, True, minutes=opt.minutes,
                                       min_passes=opt.passes, quiet=opt.quiet,
                                       beside=lambda seconds: PacedPidof(opt.build, env, seconds))
    steady.without_preloads_mapped(daemon.pid)
    judge_cpu(snapshots)


def judge_cpu(snapshots):
    """The CPU budget's windows, (pass µs, pidof µs, ratio) of each, against
    the pidof runs of this router (the cheaper of its two forms in each
    window): the renderer decides the budget on them (judgement.judge)."""
    windows = judgement.window_ratios(snapshots, [judgement.read_runs(path) for path in PACED_RUNS])
    put(cpu_windows=[[round(p, 1), round(q, 1), round(r, 4)] for p, q, r in windows])


PARTS_PASSES = 30
STAGGER_S = 0.7  # between programs paced on the same 2 s, not to run at once
# Each paced pidof run, for the CPU budget's windows: plain and -x.
PACED_RUNS = ("/tmp/pidof_paced.txt", "/tmp/pidof_paced_x.txt")


class PacedPidof:
    """pidof run once every 2 s, as a pass would run it, after a pause
    that lets the caches go cold (back to back, as perf_run_many runs it
    otherwise, each run finds them warm): the reference of the CPU budgets.
    It runs through the daemons' window, so that the reference and what is
    set against it share the machine's state of the moment, and asks for
    the program the daemon looks for, so that its work is the lookup's."""

    def __init__(self, build, env, seconds):
        runs = max(int(seconds / 2) - 1, PARTS_PASSES)
        runner = [build + "/bench/perf_run_many", "--no-preload", "--every", "2000"]
        (plain_checks, plain), (x_checks, x) = pidof_forms(base.link_way())
        plain_each, x_each = PACED_RUNS
        self.started = start_staggered(
            [("pidof_paced_", runner + ["--each", plain_each] + plain_checks + [str(runs), "--"] + plain),
             ("pidof_paced_x_", runner + ["--each", x_each] + x_checks + [str(runs), "--"] + x)],
            env)

    def finish(self):
        return collect(self.started)


def start_staggered(argvs, env):
    started = []
    for tag, argv in argvs:
        started.append((tag, argv, subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                                     text=True, env=env)))
        time.sleep(STAGGER_S)
    return started


def collect(started):
    out = {}
    for tag, argv, p in started:
        stdout, stderr = p.communicate()
        if p.returncode != 0:
            fail("%s exited %d: %s" % (" ".join(argv), p.returncode, stderr.strip()))
        out.update(keyvals(stdout, tag))
    return out


def run_staggered(argvs, env):
    return collect(start_staggered(argvs, env))


def idle_floor(build, env):
    """The resident memory of perf_idle_floor (two threads asleep, the C
    library only), started the same way as the daemon."""
    floor = subprocess.Popen([build + "/bench/perf_idle_floor"], env=env)
    try:
        time.sleep(1)
        if floor.poll() is not None:
            fail("perf_idle_floor ended with status %s" % floor.returncode)
        s = procfs.status(floor.pid)
        by = procfs.rss_by_mapping(floor.pid)
        return {"floor_rss_kb": s["VmRSS"], "floor_threads": s["Threads"],
                "floor_libc_rss_kb": procfs.rss_of(by, "/libc.so"), "floor_maps": procfs.mapping_summary(by)}
    finally:
        floor.kill()
        floor.wait()


def bringup(opt):
    t0 = time.time()
    daemon = base.start_daemon(opt.daemon)
    pid = daemon.pid
    found = []

    def pppd_started():
        for line in lines(base.SHELL_LOG):
            when, _, command = line.partition(" ")
            if command.startswith("pppd file"):
                found.append(float(when))
                return True
        return False

    base.wait_for(daemon, pppd_started, 60, "\"pppd file\" command", step=0.002)
    utime, stime = procfs.proc_stat(pid)
    ns = sum(procfs.thread_figures(pid, tid)["ns"] for tid in procfs.threads(pid))
    journal = lines(base.SHELL_LOG)
    output = open(base.DAEMON_OUT).read()
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
    put(timeline=timeline, daemon_pid=pid, wall_s=round(wall, 3), cpu_ticks=utime + stime,
        tick_ms=round(1000.0 / procfs.TICK), cpu_ns=ns, cpu_ms=round(ns / 1e6, 2), commands=len(journal))


def dns(opt, probes=300, digs=100):
    run(["ispdns", "start"])
    probe = opt.build + "/bench/perf_dns_probe"
    runner = opt.build + "/bench/perf_run_many"
    for server, name in (("127.0.2.1", "dnsmasq"), ("127.0.1.1", "front")):
        put(**keyvals(run([probe, server, str(probes)]), "probe_%s_" % name))
        put(**keyvals(run([runner, "--no-preload", "--output", "93.184.216.34", str(digs), "--",
                           "dig", "@" + server, "+tries=1", "+time=2", "www.google.com"]),
                      "dig_%s_" % name))


MEASUREMENTS = {"steady": steady_sped_up, "bare": bare, "static": static, "bringup": bringup, "dns": dns}


def main():
    parser = argparse.ArgumentParser(description="a benchmark measurement inside the simulated router")
    parser.add_argument("what", choices=sorted(MEASUREMENTS))
    parser.add_argument("build")
    parser.add_argument("out")
    parser.add_argument("--daemon")
    parser.add_argument("--quiet")
    parser.add_argument("--minutes", type=float, default=10.0)
    parser.add_argument("--passes", type=int, default=100)
    opt = parser.parse_args()
    opt.daemon = opt.daemon or opt.build + "/src/app/link3g"
    base.out_path = opt.out
    if not os.path.isdir(base.JOURNAL):
        parser.error("run me inside the bench (bench/run)")
    put(speed=os.environ.get("BENCH_SPEED", "1"), stick=os.environ.get("BENCH_STICK", ""),
        daemon=opt.daemon)
    MEASUREMENTS[opt.what](opt)
    base.write_results()


if __name__ == "__main__":
    main()
