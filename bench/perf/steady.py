"""The steady daemon: link3g --cmd 3g with the link up and the LED held,
measured over a window of supervisor passes, the same way for every build
and clock.

A pass is counted by its DNS query: one answered query to the first name
server per pass (the measurement fails if a query of the window went to the
second one, or, on the network way, went unanswered by the stick's relay).
In order:

  1. link3g starts; the link is up once its interface (ppp0, or on the
     network way the status file's) has an address and a query was seen;
     on the network way the router's own ISP servers are stopped (the
     stick's serve it); with the LED journal visible, the LED must then be
     held;
  2. after `settle` more passes the early memory figures are read;
  3. strace -f -c counts the system calls of every thread over
     strace_seconds (before the window: tracing slows the daemon down);
  4. with `quiet`, the window waits for that file: the benchmark creates it
     once its other runs are done, so that they do not share the machine
     with the window;
  5. the window: CPU time and context switches of each thread, with
     perf_wakeup_floor beside it (and, for the budgets' reference, pidof
     run as often as a pass); it closes `minutes` after link3g started,
     and not before min_passes passes;
  6. the memory figures again, for the growth since step 2.
"""
import os
import shutil
import signal
import subprocess
import time

import procfs
from inbench_base import (LED_LOG, PRELOAD_MARKS, SHELL_LOG, fail, file_size, led_held, lines, link_up, link_way,
                          put, query_count, real_now, run, start_daemon, wait_for, window_fault)

# How long the window may wait for the benchmark's other runs, and how
# often it looks, in bench seconds.
QUIET_LIMIT_S = 1800
POLL_S = 5.0


def snapshot(pid, way):
    utime, stime = procfs.proc_stat(pid)
    minflt, majflt = procfs.page_faults(pid)
    s = procfs.cpu_and_switches(pid)
    s.update(bench=time.time(), real=real_now(), ticks=utime + stime, minflt=minflt, majflt=majflt,
             disk=procfs.disk_read_bytes(pid),
             shell=len(lines(SHELL_LOG)),
             dns=query_count(way), led=file_size(LED_LOG))
    return s


def memory(pid, prefix=""):
    s = procfs.status(pid)
    return {prefix + "rss_kb": s["VmRSS"], prefix + "hwm_kb": s["VmHWM"], prefix + "anon_kb": s["RssAnon"],
            prefix + "file_kb": s["RssFile"], prefix + "threads": s["Threads"]}


def start_wakeup_floor(build, env):
    """perf_wakeup_floor (one thread sleeping 2 s at a time), left to run
    beside the daemon through the window: what one wakeup costs here."""
    floor = subprocess.Popen([build + "/bench/perf_wakeup_floor"], env=env)
    time.sleep(0.5)  # past its start-up, which is not a wakeup's cost
    if floor.poll() is not None:
        fail("perf_wakeup_floor ended with status %s" % floor.returncode)
    return floor


def floor_figures(floor, before):
    after = procfs.cpu_and_switches(floor.pid)
    floor.kill()
    floor.wait()
    wakeups = after["main_vol"] - before["main_vol"]
    if wakeups < 20:
        fail("perf_wakeup_floor woke only %d times in the window" % wakeups)
    return {"floor_wakeups": wakeups,
            "floor_wakeup_us": round((after["main_ns"] - before["main_ns"]) / wakeups / 1000, 1)}


def syscalls(pid, way, seconds):
    """System calls of the daemon (all threads) per pass, counted by
    strace -c -f over seconds of bench time."""
    if shutil.which("strace") is None:
        fail("strace is not installed")
    summary = "/tmp/strace.txt"
    before = query_count(way)
    tracer = subprocess.Popen(["strace", "-f", "-c", "-q", "-o", summary, "-p", str(pid)])
    time.sleep(seconds)
    tracer.send_signal(signal.SIGINT)
    tracer.wait()
    passes = query_count(way) - before
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
            "syscalls_per_pass": round(sum(calls.values()) / passes, 1),
            "syscalls_top": [[k, round(v / passes, 1)] for k, v in top]}


def per_pass(value, passes, digits=2):
    return round(value / passes, digits)


def window_figures(a, b, passes):
    """CPU time and wakeups per pass, of the whole process and of each
    thread: the supervisor (the main thread) and the LED thread (the
    other)."""
    d = {k: b[k] - a[k] for k in ("main_ns", "main_vol", "main_invol", "other_ns", "other_vol", "other_invol")}
    ns = d["main_ns"] + d["other_ns"]
    wakeups = d["main_vol"] + d["main_invol"] + d["other_vol"] + d["other_invol"]
    return {"cpu_ns": ns, "cpu_us_per_iteration": per_pass(ns / 1000, passes),
            "cpu_main_us_per_iteration": per_pass(d["main_ns"] / 1000, passes),
            "cpu_led_us_per_iteration": per_pass(d["other_ns"] / 1000, passes),
            "cpu_ticks": b["ticks"] - a["ticks"],
            "cpu_tick_us_per_iteration": per_pass((b["ticks"] - a["ticks"]) * 1e6 / procfs.TICK, passes, 1),
            "wakeups_per_iteration": per_pass(wakeups, passes, 3),
            "wakeups_main_vol_per_iteration": per_pass(d["main_vol"], passes, 3),
            "wakeups_main_invol_per_iteration": per_pass(d["main_invol"], passes, 3),
            "wakeups_led_vol_per_iteration": per_pass(d["other_vol"], passes, 3),
            "wakeups_led_invol_per_iteration": per_pass(d["other_invol"], passes, 3),
            "minor_faults": b["minflt"] - a["minflt"], "major_faults": b["majflt"] - a["majflt"],
            "disk_read_bytes": b["disk"] - a["disk"]}


def check_window(a, b, way, led_visible):
    """The window's passes, each one answered query to the first server;
    the CPU time's two readings must agree."""
    fault = window_fault(way, a["dns"], b["dns"])
    if fault is not None:
        fail(fault)
    ns = (b["main_ns"] + b["other_ns"]) - (a["main_ns"] + a["other_ns"])
    tick_ns = 1e9 / procfs.TICK
    ticks = b["ticks"] - a["ticks"]
    # The tick figure is the same time rounded down twice (utime, stime).
    if abs(ticks * tick_ns - ns) > 2 * tick_ns + 0.02 * ns:
        fail("utime+stime (%d ticks) and the threads' runtime (%d ns) disagree" % (ticks, ns))
    out = {"iterations": b["dns"] - a["dns"], "spawned": b["shell"] - a["shell"]}
    if led_visible:
        out["led_bytes_written"] = b["led"] - a["led"]
    return out


def start_steady(binary, env, led_visible, settle):
    """Steps 1 and 2: link3g started, its link up and steady; returns
    the daemon, the start's bench and real times, and the link's way."""
    run(["ispdns", "start"])
    t_start, r_start = time.time(), real_now()
    daemon = start_daemon(binary, env)
    wait_for(daemon, link_up, 180, "link (the interface's address and a DNS query)")
    way = link_way()
    put(daemon_pid=daemon.pid, link_up_bench_s=round(time.time() - t_start, 1), link_mode=way.mode,
        link_interface=way.interface, link_program=way.program)
    if way.mode == "network":
        stop_router_isp()
    if led_visible:
        wait_for(daemon, led_held, 60, "held LED", step=0)
    held = query_count(way)
    wait_for(daemon, lambda: query_count(way) >= held + settle, 30 + 4 * settle,
             "%d answered queries after the link was steady" % settle)
    return daemon, t_start, r_start, way


def stop_router_isp():
    """On the network way the ISP is reached through the stick, with name
    servers of its own behind it: those started in the router (ispdns
    start, before the way was known) serve no one. They are stopped, so that
    the processes in /proc, which every pidof run reads, are those of a
    router with such a stick."""
    run(["ispdns", "stop"])
    try:
        with open(ROUTER_ISP_PID) as f:
            os.kill(int(f.read()), signal.SIGTERM)
    except (OSError, ValueError) as e:
        fail("the router's ISP server (%s) not stopped: %s" % (ROUTER_ISP_PID, e))


ROUTER_ISP_PID = "/run/ispdns.pid"  # the dnsmasq behind the router's fronts


def cpu_snapshot(pid, way):
    """For the CPU budget's windows: the time, the daemon's CPU so far and
    its passes so far (its answered queries)."""
    s = procfs.cpu_and_switches(pid)
    return time.time(), s["main_ns"] + s["other_ns"], query_count(way)


def window(daemon, way, build, floor_env, end, min_passes, beside=None):
    """Step 5: the snapshots at the window's two ends, and the CPU
    snapshots every POLL_S between them that the CPU budget's windows are
    cut from (judgement.py), with what one
    wakeup of perf_wakeup_floor cost meanwhile. beside(seconds), when
    given, starts what is to be measured in the same window (as long as it
    lasts), and is handed back to its own finish() once the window has
    closed."""
    floor = start_wakeup_floor(build, floor_env)
    floor_start = procfs.cpu_and_switches(floor.pid)
    a = snapshot(daemon.pid, way)
    put(load_window_start=load_average())
    alongside = beside(max(end - time.time(), 2.0 * min_passes)) if beside is not None else None
    put(window_processes=procfs.process_names())
    snapshots = [cpu_snapshot(daemon.pid, way)]
    wait_for(daemon, lambda: snapshots.append(cpu_snapshot(daemon.pid, way)) or
             (time.time() >= end and query_count(way) - a["dns"] >= min_passes),
             max(end - time.time(), 0) + 4 * min_passes, "%d passes in the window" % min_passes, step=POLL_S)
    b = snapshot(daemon.pid, way)
    put(load_window_end=load_average())
    put(**floor_figures(floor, floor_start))
    if alongside is not None:
        put(**alongside.finish())
    return a, b, snapshots


def load_average():
    """The machine's load averages (1, 5, 15 minutes): other work shows here."""
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def measure(binary, build, env, floor_env, led_visible, minutes=10.0, settle=10, min_passes=100, quiet=None,
            strace_seconds=60, beside=None):
    """Steps 1 to 6 above; returns the daemon, still running, and the CPU
    snapshots of the window."""
    daemon, t_start, r_start, way = start_steady(binary, env, led_visible, settle)
    pid = daemon.pid
    put(**memory(pid, "early_"))
    put(**syscalls(pid, way, strace_seconds))
    if quiet is not None:
        wait_for(daemon, lambda: os.path.exists(quiet), QUIET_LIMIT_S, "end of the benchmark's other runs",
                 step=POLL_S)
    a, b, snapshots = window(daemon, way, build, floor_env, t_start + minutes * 60, min_passes, beside)
    passes = check_window(a, b, way, led_visible)
    put(**passes)
    put(**window_figures(a, b, passes["iterations"]))
    by = procfs.rss_by_mapping(pid)
    put(**memory(pid))
    put(bench_minutes=round((b["bench"] - t_start) / 60, 2), real_seconds_total=round(b["real"] - r_start, 1),
        window_opened_bench_s=round(a["bench"] - t_start, 1),
        window_bench_s=round(b["bench"] - a["bench"], 1), window_real_s=round(b["real"] - a["real"], 2),
        pass_bench_s=round((b["bench"] - a["bench"]) / passes["iterations"], 3),
        maps=procfs.mapping_summary(by),
        preload_rss_kb=sum(v for k, v in by.items() if any(m in k for m in PRELOAD_MARKS)),
        libc_rss_kb=procfs.rss_of(by, "/libc.so"))
    return daemon, snapshots


def without_preloads_mapped(pid):
    """Fails when a library the bench preloads is mapped into pid."""
    preloaded = [k for k in procfs.rss_by_mapping(pid) if any(m in k for m in PRELOAD_MARKS)]
    if preloaded:
        fail("the daemon has preloaded libraries mapped: %s" % ", ".join(preloaded))
