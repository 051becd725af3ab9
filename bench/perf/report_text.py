"""The report's prose: how each figure is measured, what the memory is made
of, what a steady pass does and costs, and the figures from before the
LED thread slept and the lookup for pppd started from the last one found."""
from report_base import calls_of, maps_of
from report_steady import (PIDOF_SHARE, RSS_BUDGET_KB, OWN_RSS_BUDGET_KB, WAKEUPS_BUDGET, budget_reference,
                           paced_pidof, pidof_reference, wakeups)

# What docs/performance.md showed before those changes (commit aeb90a5,
# the run of 2026-12-07 12:49 UTC), kept here since that document is
# rewritten by every run.
EARLIER = {
    "source": "commit aeb90a5, the run of 2026-12-07 12:49 UTC",
    "syscalls": "85.0", "cpu_sped_up": "916 µs (supervisor 574, LED thread 342)",
    "cpu_real": "1083 µs (supervisor 627, LED thread 456)",
    "wakeups": "10.93 (supervisor 3.00, LED thread 7.93)", "pidof": "1039 µs", "pidof_paced": "—", "ratio": "—",
}

HOW = """## How each figure is measured

- **Sizes** are of the binaries as the presets build them (`-s` at link time in MinSizeRel); a binary that still
  has a `.symtab` or debug sections fails its row. Libraries are the `NEEDED` entries of the dynamic section; a
  static binary must have none, and no `INTERP` program header (`readelf -d -l`).
- **The steady daemon** (`inbench.py`, `bench/perf/steady.py`): a fresh simulated router with the `ok2` stick,
  `ispdns start`, then `link3g --cmd 3g --3gCard AutoCheck-hsdpa --3gApn internet --3gDial '*99#'`. The link is
  up when `ppp0` has an IPv4 address and `/bench/journal/dns.log` shows a query; where the LED journal is seen,
  the LED is held when `led.log` has not grown for 3 bench seconds with the LED lit. Ten passes later the early
  memory figures are read, then `strace -f -c` counts the system calls of every thread for 60 bench seconds
  (before the window, since tracing slows the daemon down), divided by the passes seen meanwhile. Then the window
  opens, and closes 10 minutes after link3g started (at least 100 passes); VmRSS, RssAnon, VmHWM and the thread
  count are read from `/proc/PID/status` at its end, and their growth is counted from the early figures. A pass
  is counted by its DNS query (one answered query to the first name server per pass; the run fails if a query in
  the window went to the second server). Processes spawned are the lines `/bin/sh -c` journaled for link3g in the
  window (every process link3g starts goes through it).
- **CPU time** is real CPU time, whatever the bench's clock: the threads' `sum_exec_runtime` from
  `/proc/PID/task/*/schedstat` in nanoseconds, of all threads and of each (the supervisor is the main thread, the
  LED thread the other), checked against utime+stime of `/proc/PID/stat` in clock ticks (the run fails if the two
  disagree by more than two ticks). The budget is the whole process's CPU per pass against %.2f times one pidof
  run, decided window by window (below, **pidof**).
- **Wakeups** are the threads' voluntary context switches in the window (`voluntary_ctxt_switches` of
  `/proc/PID/task/*/status`): each is a sleep of the thread, ended by a wakeup. The involuntary ones
  (`nonvoluntary_ctxt_switches`) are shown beside: the thread was running and the scheduler gave the processor to
  another task that had woken (the bench's name server answering the query, the bench's other programs); the
  thread did not sleep. Page faults that waited for the disk (`/proc/PID/stat`) and the bytes read from disk
  (`read_bytes` of `/proc/PID/io`) in the window are shown too: each such wait is a sleep. `perf_wakeup_floor`, a
  C program whose only thread sleeps 2 s at a time, runs beside the daemon in each window to show what one wakeup
  costs on this machine.
- **The runs**: `steady` is the glibc build (`host-release`) at 20 times real speed with the bench's preloads
  (libfaketime and the `/proc` redirect) in the daemon; it gives the thread count and spawns after 10 minutes of
  bench time and the pidof figure, but libfaketime's work is in its CPU figure. `bare` is the same build at real
  time started with `LD_PRELOAD` removed (so no preload is mapped into it; its LED commands then fail in the
  shell, which changes nothing in the daemon, and its LED thread's wakeups show that it sleeps); `static` is
  `host-static` at real time (no preload reaches a static binary, and the shell it runs still writes the LED
  journal); `before` (with `--compare`) is another commit's daemon run as `bare` is. The real-time runs decide
  the CPU, wakeup and system call budgets. They start first and in parallel, each in its own router; their windows
  open only once the other runs (steady, DNS, bring-ups) are done, so that nothing of the benchmark shares the
  machine with them but each other's near-idle daemons. Through its window, `bare` runs pidof once every 2 s
  (`perf_run_many --every 2000`), so that the budgets' reference is measured at the same time as what is set
  against it; after the window it runs `perf_pass_parts` (the parts of a pass through the product's
  functions, timed in the thread's CPU time, one pass every 2 s), 30 times.
- **pidof** runs in the sped-up router, with the daemon still running and the same processes in `/proc`, 300 times
  one after the other (`perf_run_many`: `posix_spawn`, wait); its CPU is user+system of the children from
  `getrusage(RUSAGE_CHILDREN)`, divided by the runs. Plain `pidof pppd` does not match the bench's `pppd`,
  which is a script (it still reads every process, and exits 1); `pidof -x pppd` matches it. The CPU budget
  takes the cheaper of the two run once every 2 s in the real-time router without the bench's preloaded
  libraries, as pidof runs on the router and as a pass runs: after 2 s asleep, to cold caches. Each real-time
  router (`bare`, `static`, `before`) runs its own, through its window, beside its daemon: the window is cut
  into stretches of about a minute, each stretch's CPU per pass is divided by the mean of its pidof runs (each
  run's own CPU from `wait4`), and the budget is decided on the median of those ratios
  (`bench/perf/judgement.py`). Other work on the machine makes both dearer, and it comes and goes: a stretch
  where it fell on one side moves one ratio, not the median, while a pass that really costs more raises them
  all (`bench_perf_judgement` shows both on recorded figures, one with a pass that does its work twice). The
  machine's load average at the window's ends is shown beside. The back-to-back figure is shown too.
- **DNS** (`inbench.py dns`, real time): `perf_dns_probe` links the product's `link3g_monitor` and times each
  `SendDns()` call (socket, one query, wait for the first datagram, close) with `CLOCK_MONOTONIC`; every call
  must be answered. `dig @SERVER +tries=1 +time=2 www.google.com` is timed the same way by `perf_run_many`
  from its spawn to its exit (its start included), without the preloads; every run must print the answer.
- **Bring-up** (`inbench.py bringup`, real time, a fresh router per run with the `ok1-acm` stick, whose modem is
  served at once, and card `AutoCheck-hsdpa`, so no `serialcom` wait): from just before link3g is started to
  the time stamp of the first `pppd file` line in `shell.log`; link3g's CPU is read from `/proc` right then.
  The run fails if the daemon did not report the ok 1 path, ran `serialcom`, or took less than its own 6 s of
  waits.
- Wall times on this machine depend on what else runs on it (see the load above); CPU times much less so.
""" % PIDOF_SHARE


def memory_text(r, st, bare):
    rss = int(bare["rss_kb"])
    floor = int(bare["floor_rss_kb"])
    libc, floor_libc = int(bare["libc_rss_kb"]), int(bare["floor_libc_rss_kb"])
    loader = sum(v for k, v in maps_of(bare["maps"]).items() if k.startswith("ld-"))
    lines = ["## Memory", ""]
    lines.append(
        "The glibc build's memory budget is decided on the daemon's VmRSS without the bench's preloaded libraries "
        "(the `bare` run): with them the process also maps `libbenchproc.so`, libfaketime and the `libm` "
        "libfaketime needs, and touches more of the C library, none of which the router's daemon has%s." % (
            "" if "error" in st else " (%s kB with them against %s kB without, both when the link was steady)" % (
                st["early_rss_kb"], bare["early_rss_kb"])))
    lines.append("")
    lines.append(
        "Most of its resident memory is shared libraries' pages: %d of the %d kB are pages of `libc.so.6` and "
        "%d kB of the dynamic loader (RssFile %s kB in all, pages shared with every process that maps them), "
        "while the daemon's own anonymous memory (both threads' stacks, the written pages of the libraries' "
        "data, the heap with stdio's buffers) is %s kB. A C program that does nothing but start a second thread "
        "and sleep (`perf_idle_floor`, same flags, same C library) already has %d kB resident, %d kB of them "
        "`libc.so.6`; the daemon is %d kB above that floor, %d kB of it more pages of `libc.so.6`. The resident "
        "pages of a shared library are those mapped into the process, not only those it runs: on a page fault the "
        "kernel also maps the neighbouring pages that are already in the page cache (fault-around, 64 kB blocks by "
        "default), so each further C library function the daemon calls brings its neighbours in with it. The C "
        "library's share moves by some tens of kB from run to run, with what the page cache holds." % (
            libc, rss, loader, bare["file_kb"], bare["anon_kb"], floor, floor_libc, rss - floor, libc - floor_libc))
    lines.append("")
    if r.rss_missed:
        lines.append(
            "**The 1.6 MB budget is missed with glibc on this machine, and not by memory the daemon allocates**: "
            "the floor alone takes %d of the %d kB. On the router the C library is uClibc or the static build's "
            "musl, and its 2.6.30 kernel maps no pages around a fault, so this figure says little about it. The "
            "budget decided on for this build is therefore the daemon's own memory, VmRSS less the C library's and "
            "the loader's shared pages, against %d kB (the 1.6 MB less the 1.2 MB floor of an idle two-thread "
            "program), with no growth over 10 minutes and exactly two threads." % (
                floor, RSS_BUDGET_KB, OWN_RSS_BUDGET_KB))
        lines.append("")
    return "\n".join(lines) + "\n"


def static_memory_text(static):
    by = maps_of(static["maps"])
    return (
        "The static build (`host-static`, the router binary's twin for this machine) has no shared library to "
        "count: its %s kB resident are %d kB of link3g's own file (code and read-only data, musl included) and "
        "%s kB of anonymous memory (the main stack %d kB, the LED thread's stack and the written data %d kB, "
        "the heap %d kB).\n" % (static["rss_kb"], by.get("link3g", 0), static["anon_kb"], by.get("[stack]", 0),
                                 by.get("[anon]", 0), by.get("[heap]", 0)))


def calls_text(run):
    return ", ".join("%s %.0f" % (k, v) for k, v in calls_of(run) if v >= 0.5)


def steady_text(runs):
    """runs: (label, result) of the measured real-time runs."""
    measured = "; ".join("%s: %s system calls per pass (%s), %.2f wakeups, %.0f µs of CPU" % (
        label, run["syscalls_per_pass"], calls_text(run), wakeups(run), float(run["cpu_us_per_iteration"]))
        for label, run in runs)
    return """## What a steady pass does

With the link up and the LED held, a supervisor pass reads `/proc/PID/stat` of the pppd it found the pass before
(open, read, close; glibc's stdio adds an `fstat`) and checks that the name there is still `pppd`; it scans
`/proc` only when that process is gone or renamed, so a steady pass no longer depends on how many processes run.
It then opens and closes `/dev/ttyUSB1` (the modem is there), asks `ppp0` for its address (a socket, one ioctl,
close), reads `/etc/resolv.conf` (open, read to its end, close) and sends one DNS query to the first name server
(socket, connect, sendto, a wait of at most 2 s for the answer, recvfrom, close), then pauses 2 s. That wait and that pause
are its only sleeps: the lookup has no 5 ms pause any more. The LED thread, once the LED shows the held code,
sleeps on `usb_led` itself (a futex) until a store changes the code, so it neither wakes nor makes a system call
in a steady pass. The status file is written only when a field changes, which a steady pass does not. No process
is started.

Measured in this run (real time): %s.

The whole process's CPU per pass is what decides the budget against pidof: with the LED thread asleep, it is the
supervisor's thread's time, the pass's work and its two wakeups. The real-time runs decide, since libfaketime,
preloaded into the sped-up daemon, intercepts its clock and sleep calls and adds its own work to every pass.
""" % measured


def n0(value):
    """A figure in whole units, rounded."""
    return "%.0f" % float(value)


def cpu_text(st, bare, static):
    """The CPU budget against pidof: what decides, what the figures are
    made of."""
    ref = budget_reference(bare)
    back_to_back = pidof_reference(st)
    runs = [(label, run) for label, run in (("glibc", bare), ("static", static)) if "error" not in run]
    if ref is None or not runs:
        return ""
    limit = PIDOF_SHARE * ref
    missed = [label for label, run in runs if float(run.get("cpu_ratio_median", "inf")) > PIDOF_SHARE]
    text = ["### CPU per pass against pidof", ""]
    text.append("The budget is %.2f × the cheaper `pidof pppd` figure run once every 2 s without the preloads, as "
                "a pass runs, in the same router and the same minute: the median over the window's minutes. "
                "Real-time passes in this run: %s. Over the whole window, against the glibc router's pidof "
                "(%.0f µs), that is %.2f × = %.0f µs." % (
                    PIDOF_SHARE,
                    "; ".join("%s %s µs, median ratio %s over %s minutes (%s)" % (
                        label, n0(run["cpu_us_per_iteration"]), run.get("cpu_ratio_median", "?"),
                        run.get("cpu_windows", "?"), "missed" if label in missed else "met") for label, run in runs),
                    ref, PIDOF_SHARE, limit))
    if back_to_back is not None:
        text.append("")
        text.append("Against pidof run back to back (%.0f µs, its caches warm from the run before) the passes are "
                    "%s: a pass never runs that way, it always starts from 2 s asleep." % (
                        back_to_back, " and ".join("%.0f%%" % (100 * float(run["cpu_us_per_iteration"]) / back_to_back)
                                                   for _, run in runs)))
    if "error" not in bare and "parts_total_us" in bare:
        cold = float(bare["parts_lookup_us"]) - float(bare["parts_lookup_again_us"])
        text.append("")
        text.append(
            "Where a pass's CPU goes on this machine (`perf_pass_parts`, the glibc build's functions in the order "
            "of a pass, one pass every 2 s): the lookup of pppd %s µs, the modem node %s, the address %s, "
            "`/etc/resolv.conf` %s, the DNS query with its wait %s and the 2 s pause with its wakeup %s. The "
            "lookup costs %s µs when it is repeated at once: after 2 s asleep the caches and the translation "
            "buffers are cold, and the first work of a pass pays %.0f µs for it. A program that does nothing but "
            "sleep 2 s at a time pays %s µs per wakeup here (a virtual machine: each timer and each idle period "
            "goes through the hypervisor), and a pass has two wakeups." % (
                n0(bare["parts_lookup_us"]), n0(bare["parts_modem_us"]), n0(bare["parts_address_us"]),
                n0(bare["parts_resolv_us"]), n0(bare["parts_query_us"]), n0(bare["parts_pause_us"]),
                n0(bare["parts_lookup_again_us"]), cold, n0(bare["floor_wakeup_us"])))
        text.append("")
        text.append(
            "pidof run back to back finds the caches warm from the run before. Run once every 2 s, as a "
            "supervisor script would run it on each pass, it costs %s µs (`pidof -x`: %s µs), and the glibc pass "
            "is %.0f%% of that." % (n0(bare["pidof_paced_cpu_per_run_us"]), n0(bare["pidof_paced_x_cpu_per_run_us"]),
                                 100 * float(bare["cpu_us_per_iteration"]) / paced_pidof(bare)))
        if missed:
            floor = float(bare["parts_pause_us"]) + cold
            text.append("")
            text.append(
                "**The budget is missed in this run** (%s). What any thread pays here to wake after 2 s and start "
                "working, the pause with its wakeup and the cold first work (%.0f µs), is already %.0f%% of the "
                "%.0f µs; the rest of the glibc pass's %s µs, its system calls and the DNS wait, is about %.0f µs."
                % (
                    ", ".join(missed), floor, 100 * floor / limit, limit, n0(bare["cpu_us_per_iteration"]),
                    float(bare["cpu_us_per_iteration"]) - floor))
    over = [(label, run) for label, run in runs if wakeups(run) > WAKEUPS_BUDGET]
    if over:
        text.append("")
        text.append(
            "Wakeups above %d per pass (%s) are sleeps outside the pause and the DNS wait. Waits for the disk in "
            "the window: %s (a read of a file or a page of the program whose page this machine's reclaim had "
            "dropped from its cache sleeps until the disk answers)." % (
                WAKEUPS_BUDGET, ", ".join("%s %.3f" % (label, wakeups(run)) for label, run in over),
                "; ".join("%s %s major page faults, %s bytes read from disk" % (
                    label, run["major_faults"], run["disk_read_bytes"]) for label, run in over)))
    return "\n".join(text) + "\n"


def comparison_text(st, bare, static, before, rev):
    """The closing note: the figures before and after the steady-state
    changes, from this run, beside those published before them."""
    ref = pidof_reference(st)
    cols = [("published before the changes (%s)" % EARLIER["source"], None)]
    if before is not None:
        cols.append(("before: %s, this run" % rev, before))
    cols += [("after: glibc (`bare`), this run", bare), ("after: static, this run", static)]
    cols = [(name, run) for name, run in cols if run is None or "error" not in run]

    def cell(run, key):
        if run is None:
            return EARLIER[key]
        if key == "syscalls":
            return run["syscalls_per_pass"]
        if key == "cpu_real":
            return "%s µs (supervisor %s, LED thread %s)" % (
                n0(run["cpu_us_per_iteration"]), n0(run["cpu_main_us_per_iteration"]),
                n0(run["cpu_led_us_per_iteration"]))
        if key == "wakeups":
            return "%.2f (supervisor %.2f, LED thread %.2f)" % (
                wakeups(run), float(run["wakeups_main_vol_per_iteration"]),
                float(run["wakeups_led_vol_per_iteration"]))
        if key == "pidof_paced":
            return "%s µs" % n0(paced_pidof(bare)) if "pidof_paced_cpu_per_run_us" in bare else "—"
        if key == "ratio":
            return "%.3f" % float(run["cpu_ratio_median"]) if "cpu_ratio_median" in run else "—"
        return "%.0f µs" % ref if ref is not None else "?"

    lines = ["## Before and after", ""]
    lines.append("Per steady pass, LED held, at real time without preloads. The first column is history: the figures "
                 "published before the LED thread slept and the lookup started from the last pppd found; their "
                 "system calls were counted in the sped-up run, whose CPU was then %s. A `before` column is the "
                 "daemon of that commit measured in this run's windows (`--compare`). This run's sped-up glibc "
                 "daemon: %s." % (
                     EARLIER["cpu_sped_up"], "not measured" if "error" in st else "%s µs, %s system calls" % (
                         n0(st["cpu_us_per_iteration"]), st["syscalls_per_pass"])))
    lines.append("")
    lines.append("| per pass | " + " | ".join(name for name, _ in cols) + " |")
    lines.append("|---" * (len(cols) + 1) + "|")
    for label, key in (("system calls", "syscalls"), ("CPU", "cpu_real"),
                       ("CPU ÷ one pidof run every 2 s, median of the minutes", "ratio"), ("wakeups", "wakeups"),
                       ("one `pidof pppd` run, back to back", "pidof"),
                       ("one `pidof pppd` run, every 2 s", "pidof_paced")):
        lines.append("| %s | %s |" % (label, " | ".join(cell(run, key) for _, run in cols)))
    lines.append("")
    return "\n".join(lines) + "\n"


BRINGUP_TEXT = """The waits of this path are 3 s after the serial drivers are reloaded and 3 s once the dial scripts are
written. Beyond them the time goes to the commands themselves (the bench's stand-ins for `rmmod` and `insmod`
are scripts, slower than the router's programs) and to the supervisor's first pass, whose pppd lookup finds no
pppd yet and so scans `/proc` ten times with a 5 ms pause after each (50 ms) before `pppd file` is run.
"""
