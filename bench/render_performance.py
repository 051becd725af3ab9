"""docs/performance.md from docs/performance.json, the figures of one
scripts/benchmark run: rows set against the budgets, group by group, then
how the figures are measured. page() returns the text and whether every
budget was met and every figure measured."""
import re
import statistics

from judgement import PIDOF_SHARE, judge
from render import md_table

# The router runs the static MIPS binary; the glibc MIPS build cannot run
# there (its glibc needs Linux 3.2), so its size is shown, not budgeted.
STATIC_SIZE_BUDGET = 114688
# 1.6 MB of VmRSS cannot be met with this host's glibc (an idle two-thread C
# program has about 1.2 MB resident): shown, while the glibc build is held to
# its own memory (VmRSS less the C library's and the loader's pages) against
# the 1.6 MB less that floor.
RSS_BUDGET_KB = 1600
OWN_RSS_BUDGET_KB = 400
STATIC_RSS_BUDGET_KB = 256
STATIC_ANON_BUDGET_KB = 64
THREADS = 2
# Per pass: the 2 s pause and the DNS wait; and, once a minute (every 30
# passes), the read of the radio on the stick's second AT port, at most
# two waits for each of its five commands.
RADIO_PASSES = 30             # passes between two reads of the radio (60 s)
RADIO_WAKEUPS = 5 * 2 / RADIO_PASSES
WAKEUPS_BUDGET = 2 + RADIO_WAKEUPS
SYSCALLS_BUDGET = 30          # per pass, all threads
BRINGUP_CPU_BUDGET_MS = 20.0
BRINGUP_WAITS_S = 6.0         # 3 s after the driver reload, 3 s at the end
LIBRARIES_ALLOWED = re.compile(r"^(libc|libpthread)\.so(\.[0-9]+)*$")
SPED_UP = "not decided on: libfaketime's work is in it"
UNMEASURED = "unmeasured"     # a row's check when its figure is missing
# The network stick's pass asks its DNS across the veth of the bench's stick,
# whose namespace's receive path (and its relay's forwarding) the kernel
# charges in part to the sender: a bench cost a PPP pass does not carry, and
# one that comes and goes with the machine (0.13 to 0.17 of one pidof in
# runs of the same commit). Shown against the budget, not decided on.
NETWORK_SHOWN = "shown, not decided on: the bench's stick network is partly charged to the probe"

# name in sizes, what it is, its short name, size budget
BINARIES = (
    ("router", "MIPS, development build (router preset: glibc, -Os, not PIE, stripped)", "MIPS", None),
    ("router_static", "MIPS, static (router-static preset: musl, MIPS32 release 1, soft-float, -Os, not PIE, "
     "stripped)", "MIPS, static", STATIC_SIZE_BUDGET),
    ("host", "host (host-release preset: MinSizeRel, stripped)", "host", None),
    ("host_static", "host, static (host-static preset: musl, MinSizeRel, stripped)", "host, static", None),
)
SIZE_COMMAND = ("for each preset P: cmake --build build/P; stat -c %s build/P/src/app/link3g; "
                "xz -9e -c build/P/src/app/link3g | wc -c; readelf -d -l -S build/P/src/app/link3g")


class Page:
    def __init__(self):
        self.groups = []
        self.missed, self.unmeasured = [], []

    def group(self, title, command):
        self.groups.append((title, command, []))

    def row(self, figure, value, budget="—", ok=None):
        """ok: True (pass), False (missed), None (no budget), UNMEASURED."""
        if ok == UNMEASURED:
            self.unmeasured.append(figure)
        elif ok is False:
            self.missed.append(figure)
        result = "—" if ok is None else "pass" if ok is True else "**FAIL**"
        self.groups[-1][2].append((figure, value, budget, result))

    def rows(self, f, rows):
        """Rows of (figure, value, budget, check): figure, value and budget
        formatted with the figures f, check a function of f or None."""
        for figure, value, budget, check in rows:
            try:
                ok = check(f) if callable(check) else check
                self.row(figure.format(**f), value.format(**f), budget.format(**f), ok)
            except KeyError as e:
                self.row(figure, "not measured: no figure %s" % e, budget, UNMEASURED)

    def passed(self):
        return not (self.missed or self.unmeasured)

    def lines(self):
        out = []
        for title, command, rows in self.groups:
            out += ["", "### " + title, "", "Command: `%s`" % command, ""]
            out += md_table(("Figure", "Value", "Budget", "Result"), rows)
        return out


def size_rows(page, sizes):
    page.group("Size and libraries", SIZE_COMMAND)
    for name, label, short, budget in BINARIES:
        s = sizes.get(name, {})
        if "size" not in s:
            page.row("link3g for %s: stripped size" % label, "not measured: no binary", "—", UNMEASURED)
            continue
        stripped = s["symtab"] == 0
        value = "{size:,} bytes (text {text}, data {data}, bss {bss}); {xz:,} bytes after `xz -9e`".format(**s)
        if not stripped:
            value += "; NOT stripped (has .symtab or debug sections)"
        if budget is None:
            page.row("link3g for %s: stripped size" % label, value, "—", None if stripped else False)
        else:
            page.row("link3g for %s: stripped size" % label, value, "≤ {:,} bytes ({} KB)".format(
                budget, budget // 1024), stripped and s["size"] <= budget)
        needed = s["needed"]
        if name.endswith("static"):
            page.row("link3g for %s: libraries needed, program interpreter" % short, "%s; %s" % (
                ", ".join(needed) or "none", "INTERP present" if s["interp"] else "no INTERP"),
                "none; no INTERP", not needed and not s["interp"])
        else:
            page.row("link3g for %s: libraries needed" % short, ", ".join(needed) or "(none)",
                     "the C library only (and libpthread where it is apart)",
                     bool(needed) and all(LIBRARIES_ALLOWED.match(n) for n in needed) and
                     any(n.startswith("libc.so") for n in needed))


def paced_pidof(run):
    """What the CPU budget is set against: the cheaper form of pidof run
    once every 2 s (from 2 s asleep, as a pass runs), or None."""
    if "pidof_paced_cpu_per_run_us" not in run:
        return None
    return min(run["pidof_paced_cpu_per_run_us"], run["pidof_paced_x_cpu_per_run_us"])


def steady_figures(run, ref):
    """A steady run's figures with those the rows derive from them."""
    f = dict(run)
    maps = run["maps"]
    f.update(growth=run["rss_kb"] - run["early_rss_kb"], anon_growth=run["anon_kb"] - run["early_anon_kb"],
             wakeups=run["wakeups_main_vol_per_iteration"] + run["wakeups_led_vol_per_iteration"],
             invol=run["wakeups_main_invol_per_iteration"] + run["wakeups_led_invol_per_iteration"],
             spawned_per_pass=run["spawned"] / run["iterations"], runtime_ms=run["cpu_ns"] / 1e6,
             calls=", ".join("%s %.1f" % (k, v) for k, v in run["syscalls_top"]),
             libs=sum(v for k, v in maps.items() if k.startswith(("libc.so", "ld-"))),
             loader=sum(v for k, v in maps.items() if k.startswith("ld-")),
             limit=PIDOF_SHARE * ref if ref else None, limit_us="%.0f µs" % (PIDOF_SHARE * ref) if ref else "?",
             led="" if "led_bytes_written" not in run else "; LED journal unchanged" if not run["led_bytes_written"]
             else "; LED journal grew by %d bytes: LED not held" % run["led_bytes_written"])
    f["own"] = run["rss_kb"] - f["libs"]
    f.update({"map_" + k.strip("[]"): maps.get(k, 0) for k in ("link3g", "[stack]", "[anon]", "[heap]")})
    if "floor_rss_kb" in run:
        f.update(above_floor=run["rss_kb"] - run["floor_rss_kb"],
                 more_libc=run["libc_rss_kb"] - run["floor_libc_rss_kb"],
                 rss_verdict="met" if run["rss_kb"] <= RSS_BUDGET_KB else "missed")
    if "parts_lookup_us" in run:
        f.update(cold=run["parts_lookup_us"] - run["parts_lookup_again_us"],
                 radio_per_pass=run.get("parts_radio_us", 0) / RADIO_PASSES)
    if paced_pidof(run):
        f["paced_pct"] = 100 * run["cpu_us_per_iteration"] / paced_pidof(run)
    if "window_processes" in run:
        names = run["window_processes"]
        f.update(processes=len(names), process_names=", ".join(
            "%s ×%d" % (n, names.count(n)) if names.count(n) > 1 else n for n in sorted(set(names))))
    f.update(judge([tuple(w) for w in run.get("cpu_windows", [])], PIDOF_SHARE))
    return f


def spawned_row(figure):
    return (figure, "{spawned} in {iterations} passes ({spawned_per_pass:.3f} per pass){led}", "0",
            lambda f: f["spawned"] == 0 and "grew" not in f["led"])


def cpu_row(f, label, decided):
    figure = "CPU per steady pass, %s (link3g's threads, {iterations} passes)" % label
    value = ("{cpu_us_per_iteration:.0f} µs: supervisor {cpu_main_us_per_iteration:.0f}, LED thread "
             "{cpu_led_us_per_iteration:.0f} (runtime {runtime_ms:.1f} ms; {cpu_ticks} ticks)")
    if not decided:
        return (figure, value, "≤ %.2f × one pidof run every 2 s = {limit_us}" % PIDOF_SHARE,
                lambda f: f["limit"] is not None and f["cpu_us_per_iteration"] <= f["limit"])
    budget = ("the median over the windows of its CPU per pass ÷ one pidof run every 2 s of the same window "
              "≤ %.2f (over the whole window: {limit_us})" % PIDOF_SHARE)
    if f["met"] is None:
        return (figure, "not measured: fewer than 3 windows with their passes and pidof runs", budget, UNMEASURED)
    return (figure, value + "; {windows} windows of about a minute, pass ÷ pidof: median {median:.3f} (best "
            "{best:.3f}, worst {worst:.3f}); load average {load_window_start} at the window's start, "
            "{load_window_end} at its end", budget, lambda f: f["met"])


def network_pass_rows(f):
    """The network stick's pass: its CPU shown against the budget (see
    NETWORK_SHOWN), the rest decided as for the PPP passes."""
    rows = pass_rows(f, "network stick, real time", True)
    fig, value, budget, check = rows[0]
    if callable(check):
        rows[0] = (fig, value, "%s: %s, %s" % (budget, "met" if check(f) else "missed", NETWORK_SHOWN), None)
    return rows


def pass_rows(f, label, decided):
    """CPU, wakeups and system calls per pass; when not decided on, the
    budget is shown as met or missed and decides nothing."""
    rows = [cpu_row(f, label, decided),
            ("  the supervisor's thread per pass", "{cpu_main_us_per_iteration:.0f} µs with its "
             "{wakeups_main_vol_per_iteration:.2f} wakeups (the 2 s pause, the DNS wait)", "—", None),
            ("  the LED thread per pass, LED held", "{cpu_led_us_per_iteration:.0f} µs, "
             "{wakeups_led_vol_per_iteration:.2f} wakeups: asleep until usb_led changes", "—", None),
            ("Wakeups per steady pass, %s (all threads)" % label,
             "{wakeups:.2f}: supervisor {wakeups_main_vol_per_iteration:.2f}, LED thread "
             "{wakeups_led_vol_per_iteration:.2f} (voluntary switches); besides, {invol:.2f} involuntary switches "
             "(preempted while running, no sleep); in the window {major_faults} major page faults and "
             "{disk_read_bytes} bytes read from disk; a sleeping program paid {floor_wakeup_us} µs per wakeup here",
             "≤ %.2f (the 2 s pause, the DNS wait; the radio's read once a minute)" % WAKEUPS_BUDGET,
             lambda f: f["wakeups"] <= WAKEUPS_BUDGET),
            ("System calls per steady pass, %s (`strace -f -c` of link3g over {syscall_passes} passes, "
             "{syscall_processes} processes in /proc)" % label, "{syscalls_per_pass:.1f} ({calls})",
             "≤ %d" % SYSCALLS_BUDGET, lambda f: f["syscalls_per_pass"] <= SYSCALLS_BUDGET)]
    if decided:
        return rows
    return [(fig, value, budget, None) if check is None else
            (fig, value, "%s: %s, %s" % (budget, "met" if check(f) else "missed", SPED_UP), None)
            for fig, value, budget, check in rows]


SPED_UP_ROWS = (
    ("VmRSS / VmHWM after {bench_minutes:.2f} min of bench time (speed {speed}), bench's preloads in",
     "{rss_kb} kB / {hwm_kb} kB ({growth:+d} kB since {early_rss_kb} kB after the LED was held)", "—", None),
    ("Threads after 10 min of bench time", "{threads}", "exactly %d" % THREADS, lambda f: f["threads"] == THREADS),
    spawned_row("Processes spawned per steady pass (LED held)"),
    ("CPU of one `pidof pppd` run, back to back (user+sys of the children, {pidof_count} runs, no preloads)",
     "{pidof_cpu_per_run_us:.0f} µs (`pidof -x pppd`: {pidof_x_cpu_per_run_us:.0f} µs; with the bench's preloads: "
     "{pidof_bench_cpu_per_run_us:.0f} µs / {pidof_bench_x_cpu_per_run_us:.0f} µs){against_passes}", "—", None),
)
BARE_ROWS = (
    ("VmRSS of the steady daemon without the bench's preloads after {bench_minutes:.2f} min of real time",
     "{rss_kb} kB ({growth:+d} kB since the link was steady); VmHWM {hwm_kb} kB; threads {threads}",
     "≤ %d kB (1.6 MB): {rss_verdict} on this host's C library, not decided on (see Memory)" % RSS_BUDGET_KB, None),
    ("The daemon's own resident memory: VmRSS less the C library's and the loader's pages; threads",
     "{own} kB ({rss_kb} kB − {libs} kB shared), {growth:+d} kB growth in 10 min; threads {threads}",
     "≤ %d kB, no growth, exactly %d threads" % (OWN_RSS_BUDGET_KB, THREADS),
     lambda f: f["own"] <= OWN_RSS_BUDGET_KB and f["growth"] <= 0 and f["threads"] == THREADS),
    ("  of which the C library's pages / the loader's / the daemon's own anonymous memory",
     "{libc_rss_kb} kB / {loader} kB / {anon_kb} kB (RssFile {file_kb} kB, RssAnon {anon_kb} kB)", "—", None),
    ("  floor: VmRSS of a C program that only starts a second thread and sleeps (perf_idle_floor)",
     "{floor_rss_kb} kB (C library {floor_libc_rss_kb} kB); the daemon is {above_floor} kB above it, "
     "{more_libc} kB of that more pages of the C library", "—", None),
)
BARE_AFTER_PASS_ROWS = (
    ("  where it goes: the parts of a pass, one pass every 2 s through the product's functions "
     "(`perf_pass_parts`, {parts_passes} passes, medians)",
     "pppd's `/proc/PID/stat` {parts_lookup_us:.0f}, the modem node {parts_modem_us:.0f}, ppp0's address "
     "{parts_address_us:.0f}, `/etc/resolv.conf` {parts_resolv_us:.0f}, the DNS query with its wait "
     "{parts_query_us:.0f}, the 2 s pause with its wakeup {parts_pause_us:.0f}: {parts_total_us:.0f} µs in all; "
     "the same lookup again with the caches warm: {parts_lookup_again_us:.0f} µs (the first pays {cold:.0f} µs "
     "for cold caches)", "—", None),
    ("  the read of the radio on the stick's second AT port, once a minute beside the passes "
     "(`perf_pass_parts`, {parts_radio_reads} reads, medians)",
     "{parts_radio_us:.0f} µs of CPU, {parts_radio_wall_ms:.1f} ms: {radio_per_pass:.1f} µs a pass over the 30 "
     "passes of its minute (in the steady figures above)", "—", None),
    ("CPU of one `pidof pppd` run, one run every 2 s as a pass would run it, through the window "
     "({pidof_paced_count} runs, no preloads)",
     "{pidof_paced_cpu_per_run_us:.0f} µs (`pidof -x pppd`: {pidof_paced_x_cpu_per_run_us:.0f} µs): the "
     "reference of the CPU budgets; the real-time pass above is {paced_pct:.0f}% of the cheaper", "—", None),
    spawned_row("Processes spawned per steady pass, real time without preloads"),
    ("  the bench's preloads (libbenchproc, libfaketime and its libm) add to VmRSS",
     "{preloads:+d} kB ({sped_up_early_rss_kb} with them, after the LED was held, vs {early_rss_kb} without)",
     "—", None),
)
STATIC_ROWS = (
    ("VmRSS of the static daemon after {bench_minutes:.2f} min of real time",
     "{rss_kb} kB: link3g's own file {map_link3g} kB (code and read-only data, musl included), the main stack "
     "{map_stack} kB, the LED thread's stack and the written data {map_anon} kB, the heap {map_heap} kB "
     "(RssFile {file_kb} kB; VmHWM {hwm_kb} kB)", "≤ %d kB" % STATIC_RSS_BUDGET_KB,
     lambda f: f["rss_kb"] <= STATIC_RSS_BUDGET_KB),
    ("RssAnon of the static daemon (stacks, written data, heap)", "{anon_kb} kB", "≤ %d kB" % STATIC_ANON_BUDGET_KB,
     lambda f: f["anon_kb"] <= STATIC_ANON_BUDGET_KB),
    ("Growth of the static daemon from the steady link to 10 minutes; threads",
     "VmRSS {growth:+d} kB (from {early_rss_kb} kB), RssAnon {anon_growth:+d} kB (from {early_anon_kb} kB); "
     "threads {threads}", "no growth, exactly %d threads" % THREADS,
     lambda f: f["growth"] <= 0 and f["anon_growth"] <= 0 and f["threads"] == THREADS),
    spawned_row("Processes spawned per steady pass, static daemon"),
)
NETWORK_ROWS = (
    ("The link's way: the status file's mode and interface", "{link_mode} on {link_interface}: the supervisor "
     "looks for {link_program} where a PPP link has pppd", "network", lambda f: f["link_mode"] == "network"),
    BARE_ROWS[1],
)
NETWORK_AFTER_PASS_ROWS = (
    spawned_row("Processes spawned per steady pass, network stick"),
    ("CPU of one `pidof {link_program}` run, one run every 2 s as a pass would run it, through the window "
     "({pidof_paced_count} runs, no preloads)",
     "{pidof_paced_cpu_per_run_us:.0f} µs (`pidof -x {link_program}`: {pidof_paced_x_cpu_per_run_us:.0f} µs): the "
     "reference of this run's CPU budget; the pass above is {paced_pct:.0f}% of the cheaper. It read the "
     "{processes} processes of this router: {process_names}", "—", None),
)


def steady_groups(page, runs, commands):
    """The four steady runs; returns their figures by name (None when the
    run failed)."""
    bare_ref = paced_pidof(runs.get("bare", {}))
    figures = {}
    for name in ("steady", "bare", "static", "network"):
        run = runs.get(name, {"error": "not run"})
        try:
            figures[name] = None if "error" in run else steady_figures(run, paced_pidof(run) or bare_ref)
        except (KeyError, TypeError, ZeroDivisionError) as e:
            runs[name], figures[name] = {"error": "no figure %s" % e}, None
    st, bare, static = figures["steady"], figures["bare"], figures["static"]
    if st:
        st["against_passes"] = "".join("; the %s pass is %.0f%% of the cheaper" % (
            label, 100 * f["cpu_us_per_iteration"] / min(st["pidof_cpu_per_run_us"], st["pidof_x_cpu_per_run_us"]))
            for label, f in (("glibc", bare), ("static", static)) if f)
    if bare:
        bare["sped_up_early_rss_kb"] = st["early_rss_kb"] if st else "?"
        bare["preloads"] = st["early_rss_kb"] - bare["early_rss_kb"] if st else 0
    for name, title, rows in (
            ("steady", "glibc build (host-release), 20 times real speed, the bench's preloads in",
             lambda f: SPED_UP_ROWS + tuple(pass_rows(f, "sped-up run", False))),
            ("bare", "glibc build (host-release), real time, no preloads",
             lambda f: BARE_ROWS + tuple(pass_rows(f, "real time, no preloads", True)) + BARE_AFTER_PASS_ROWS),
            ("static", "static build (host-static, musl), real time",
             lambda f: STATIC_ROWS + tuple(pass_rows(f, "static daemon, real time", True))),
            ("network", "glibc build (host-release), real time, no preloads, a network stick (`%s`: udhcpc, no "
             "pppd)" % runs.get("network", {}).get("stick", "?"),
             lambda f: NETWORK_ROWS + tuple(network_pass_rows(f)) + NETWORK_AFTER_PASS_ROWS)):
        page.group("The 3g daemon, link up and LED held: " + title, commands.get(name, "?"))
        if figures[name] is None:
            page.row("Every figure of this run", "not measured: " + runs.get(name, {}).get("error", "not run"),
                     "the budgets of this run", UNMEASURED)
        else:
            page.rows(figures[name], rows(figures[name]))
    return figures


def dns_rows(page, dns, command):
    page.group("The DNS probe beside dig (real time)", command)
    if "error" in dns:
        page.row("SendDns() to an answered query", "not measured: " + dns["error"], "—", UNMEASURED)
        return
    f = dict(dns, **{k[:-3] + "_ms": v / 1000 for k, v in dns.items() if k.startswith("dig_") and k.endswith("_us")})
    for tag, server in (("dnsmasq", "dnsmasq 127.0.2.1"), ("front", "ISP front 127.0.1.1 (relays to dnsmasq)")):
        page.rows(f, (
            ("SendDns() to an answered query, %s (in-process, {probe_%s_count} queries)" % (server, tag),
             "median {p_median_us:.0f} µs (first {p_first_us:.0f} µs, p90 {p_p90_us:.0f} µs, max {p_max_us:.0f} µs)"
             .replace("p_", "probe_%s_" % tag), "—", None),
            ("`dig +tries=1 +time=2` to the same server, wall time with its start ({dig_%s_count} runs)" % tag,
             "median {d_wall_median_ms:.1f} ms (p90 {d_wall_p90_ms:.1f} ms; CPU {d_cpu_per_run_ms:.1f} ms per run)"
             .replace("d_", "dig_%s_" % tag), "—", None)))


def bringup_rows(page, runs, commands):
    """Returns the runs that succeeded."""
    names = sorted(n for n in runs if n.startswith("bringup"))
    command = "for i in %s; do %s; done" % (" ".join(n[len("bringup"):] for n in names),
                                           commands.get("bringup1", "?").replace("bringup1", "bringup$i"))
    page.group("A whole bring-up on the ok 1 path (real time)", command)
    good = [runs[n] for n in names if "error" not in runs[n]]
    bad = [runs[n]["error"] for n in names if "error" in runs[n]]
    if not names or bad:
        page.row("Bring-up on the ok 1 path", "not measured: " + (bad[0] if bad else "no run"),
                 "≤ 20 ms of link3g's CPU", UNMEASURED)
    if good:
        walls, cpus = [b["wall_s"] for b in good], [b["cpu_ms"] for b in good]
        median = statistics.median(walls)
        page.row("Bring-up on the ok 1 path (%s, AutoCheck-hsdpa), real time: start to the first `pppd file` command"
                 % good[0]["stick"], "median %.3f s of %d runs (%s); mandated waits %.3f s, so %.0f ms beyond them" % (
                     median, len(walls), ", ".join("%.3f" % w for w in walls), BRINGUP_WAITS_S,
                     (median - BRINGUP_WAITS_S) * 1000))
        page.row("Bring-up: link3g's own CPU (utime+stime of its threads, not its children)",
                 "%.1f ms at most (%s ms)" % (max(cpus), ", ".join("%.1f" % c for c in cpus)),
                 "≤ %.0f ms" % BRINGUP_CPU_BUDGET_MS, max(cpus) <= BRINGUP_CPU_BUDGET_MS)
    return good



def header(meta, p):
    failed = len(p.missed) + len(p.unmeasured)
    verdict = "every budget met" if p.passed() else "%d budget(s) missed%s" % (
        failed, " (%d figure(s) could not be measured)" % len(p.unmeasured) if p.unmeasured else "")
    m = dict((k, "?") for k in ("date", "commit", "uname", "nproc", "load_start", "load_end", "cxx", "cross_cxx",
                                "seconds", "command"))
    m.update(meta)
    return [
        "# link3g: performance", "",
        "Written by `scripts/benchmark` from the figures it keeps in `docs/performance.json` (do not edit by "
        "hand; run it again, or `python3 bench/render.py performance docs/performance.json docs/performance.md` "
        "to make the page again from the same figures). Every figure below was measured in that one run.", "",
        "- Date: {date}; commit {commit}".format(**m),
        "- Machine: `{uname}`, {nproc} processors (`nproc`)".format(**m),
        "- Load before / after the run: {load_start} / {load_end} (other work on the machine shows here)".format(**m),
        "- Compilers: {cxx}; {cross_cxx}".format(**m),
        "- The whole command took {seconds} s of real time (`{command}`).".format(**m),
        "- Result: **%s**; the command exits %s." % (verdict, "0" if p.passed() else "1"), "",
        "`$WORK` in the commands is the temporary folder the run keeps its journals in (removed at the end). "
        "All commands run from the checkout's root; `bench/run` needs root."]


HOW = """## How each figure is measured

- **Sizes** are of the binaries as the presets build them (`-s` at link time in MinSizeRel); a binary that still
  has a `.symtab` or debug sections fails its row. Libraries are the `NEEDED` entries of the dynamic section; a
  static binary must have none, and no `INTERP` program header (`readelf -d -l`).
- **The steady daemon** (`inbench.py`, `bench/perf/steady.py`): a fresh simulated router with the `ok2` stick
  (the `network` run: `hilink`, a network card once switched), `ispdns start`, then `link3g --cmd 3g --3gCard
  AutoCheck-hsdpa --3gApn internet --3gDial '*99#'`. The link is up when its interface (`ppp0`; on the network way
  the status file's `interface`) has an IPv4 address and a query was seen; where the LED journal is seen,
  the LED is held when `led.log` has not grown for 3 bench seconds with the LED lit. Ten passes later the early
  memory figures are read, then `strace -f -c` counts the system calls of every thread for 60 bench seconds
  (before the window, since tracing slows the daemon down), divided by the passes seen meanwhile. Then the window
  opens, and closes 10 minutes after link3g started (at least 100 passes); VmRSS, RssAnon, VmHWM and the thread
  count are read from `/proc/PID/status` at its end, and their growth is counted from the early figures. A pass
  is counted by its DNS query (one answered query to the first name server per pass; the run fails if a query in
  the window went to the second server). On the network way the first name server is the lease's, the stick's DNS
  relay, which sends some queries on to both of the ISP's servers at once (so `dns.log` has more lines than
  passes): the passes are the queries of the relay's own log (`stick-dnsmasq.log`), and the run fails if one of
  the window's went unanswered. Processes spawned are the lines `/bin/sh -c` journaled for link3g in the
  window (every process link3g starts goes through it).
- **CPU time** is real CPU time, whatever the bench's clock: the threads' `sum_exec_runtime` from
  `/proc/PID/task/*/schedstat` in nanoseconds, of all threads and of each (the supervisor is the main thread, the
  LED thread the other), checked against utime+stime of `/proc/PID/stat` in clock ticks (the run fails if the two
  disagree by more than two ticks).
- **Wakeups** are the threads' voluntary context switches in the window (`voluntary_ctxt_switches` of
  `/proc/PID/task/*/status`): each is a sleep of the thread, ended by a wakeup. The involuntary ones
  (`nonvoluntary_ctxt_switches`) are shown beside: the thread was running and the scheduler gave the processor to
  another task that had woken; the thread did not sleep. Page faults that waited for the disk (`/proc/PID/stat`)
  and the bytes read from disk (`read_bytes` of `/proc/PID/io`) in the window are shown too: each such wait is a
  sleep. `perf_wakeup_floor`, a C program whose only thread sleeps 2 s at a time, runs beside the daemon in each
  window to show what one wakeup costs on this machine.
- **The runs**: `steady` is the glibc build (`host-release`) at 20 times real speed with the bench's preloads
  (libfaketime and the `/proc` redirect) in the daemon; it gives the thread count and spawns after 10 minutes of
  bench time and the back-to-back pidof figure, but libfaketime's work is in its CPU figure. `bare` is the same
  build at real time started with `LD_PRELOAD` removed (so no preload is mapped into it; its LED commands then fail
  in the shell, which changes nothing in the daemon, and its LED thread's wakeups show that it sleeps); `static`
  is `host-static` at real time (no preload reaches a static binary, and the shell it runs still writes the LED
  journal). `network` is `bare` with the `hilink` stick: the link goes the network way (`udhcpc` on `eth1`), the
  router's own ISP servers are stopped once it is up (that ISP is reached through the stick, whose servers run
  behind it, in its network namespace but among the router's processes), and `perf_pass_parts`, which times the
  parts of a PPP pass, is not run. The real-time runs decide the CPU, wakeup and system call budgets. They start
  first and in parallel, each in its own router; their windows open only once the other runs (steady, DNS,
  bring-ups) are done. After its window `bare` runs `perf_pass_parts` (the parts of a pass through the product's
  functions, timed in the thread's CPU time, one pass every 2 s), 30 times.
- **pidof**: `perf_run_many` runs `pidof pppd` and `pidof -x pppd` (plain pidof does not match the bench's
  `pppd`, a script, but reads every process all the same); its CPU is user+system of the children. In the sped-up
  router they run 300 times back to back, with and without the preloads. The CPU budget takes the cheaper of the
  two run once every 2 s without the preloads, as pidof runs on the router and as a pass runs: after 2 s asleep,
  to cold caches. The `network` run runs `pidof udhcpc` and `pidof -x udhcpc` instead, udhcpc being what its
  supervisor looks for there (busybox's, which both forms find), so that the reference does the lookup's work;
  every pidof reads all the processes of its router, whose names that run lists. Each real-time router runs its
  own through its window, beside its daemon: the window is cut into stretches of about a minute, each stretch's
  CPU per pass is divided by the mean of its pidof runs (each run's own CPU from `wait4`), and the budget of %.2f
  is decided on the median of those ratios (`bench/perf/judgement.py`). Other work on the machine makes both
  dearer, and it comes and goes: a stretch where it fell on one side moves one ratio, not the median, while a pass
  that really costs more raises them all (`bench_perf_judgement` shows both on recorded figures). The load average
  at the window's ends is shown beside.
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


def memory(f):
    """What the glibc daemon's resident memory is made of (the bare run)."""
    if f is None or "floor_rss_kb" not in f:
        return []
    lines = ["## Memory", "",
             "The glibc build's memory is measured without the bench's preloaded libraries (the `bare` run): with "
             "them the process also maps `libbenchproc.so`, libfaketime and the `libm` libfaketime needs, and "
             "touches more of the C library ({sped_up_early_rss_kb} kB against {early_rss_kb} kB, both when the "
             "link was steady). Most of its resident memory is shared libraries' pages: {libc_rss_kb} of the "
             "{rss_kb} kB are pages of `libc.so.6` and {loader} kB of the dynamic loader, while the daemon's own "
             "anonymous memory (both threads' stacks, the written pages of the libraries' data, the heap with "
             "stdio's buffers) is {anon_kb} kB. A C program that only starts a second thread and sleeps "
             "(`perf_idle_floor`) already has {floor_rss_kb} kB resident, {floor_libc_rss_kb} kB of them "
             "`libc.so.6`. The resident pages of a shared library are those mapped into the process, not only "
             "those it runs: on a page fault the kernel also maps the neighbouring pages already in the page "
             "cache (fault-around, 64 kB blocks), so the C library's share moves by some tens of kB from run to "
             "run.".format(**f), ""]
    if f["rss_kb"] > RSS_BUDGET_KB:
        lines += ["**The 1.6 MB budget is missed with glibc on this machine, and not by memory the daemon "
                  "allocates**: the floor alone takes {floor_rss_kb} of the {budget} kB. On the router the C "
                  "library is uClibc or the static build's musl, and its 2.6.30 kernel maps no pages around a "
                  "fault. The budget decided on for this build is therefore the daemon's own memory, VmRSS less "
                  "the C library's and the loader's shared pages, against {own_budget} kB (the 1.6 MB less the "
                  "1.2 MB floor of an idle two-thread program), with no growth over 10 minutes and exactly two "
                  "threads.".format(budget=RSS_BUDGET_KB, own_budget=OWN_RSS_BUDGET_KB, **f), ""]
    return lines


WAYS = (("bare", "PPP (`{stick}`), glibc"), ("static", "PPP (`{stick}`), static"),
        ("network", "network (`{stick}`), glibc"))
WAYS_ROWS = (
    ("CPU", "{cpu_us_per_iteration:.0f} µs"),
    ("CPU ÷ one pidof run every 2 s of the same window", "median {median:.3f} of {windows} windows"),
    ("one pidof run every 2 s, the reference", "{reference:.0f} µs (the cheaper of `pidof {link_program}` and "
     "`pidof -x {link_program}`), {processes} processes read"),
    ("wakeups", "{wakeups:.2f}"),
    ("system calls", "{syscalls_per_pass:.1f}"),
    ("processes spawned", "{spawned_per_pass:.3f}"),
)


def ways(figures):
    """The real-time steady runs side by side, per pass: the PPP link of
    both builds and the network stick's."""
    runs = [(label, figures.get(name)) for name, label in WAYS]
    if not any(f for _, f in runs):
        return []

    def cell(f, value):
        try:
            return value.format(reference=paced_pidof(f), **f)
        except (KeyError, TypeError, ValueError):
            return "—"

    header = ["per steady pass, real time"] + [label.format(stick=(f or {}).get("stick", "?")) for label, f in runs]
    rows = [[figure] + [cell(f, value) if f else "not measured" for _, f in runs] for figure, value in WAYS_ROWS]
    return ["## The steady pass, way by way", "",
            "The real-time runs above set side by side (each in its own router, its pidof runs its own).", ""] + \
        md_table(header, rows) + [""]


PASS = """## What a steady pass does

With the link up and the LED held, a supervisor pass reads `/proc/PID/stat` of the pppd it found the pass before
(open, read, close; glibc's stdio adds an `fstat`) and checks that the name there is still `pppd`; it scans
`/proc` only when that process is gone or renamed, so a steady pass does not depend on how many processes run.
It then opens and closes `/dev/ttyUSB1` (the modem is there), asks `ppp0` for its address (a socket, one ioctl,
close), reads `/etc/resolv.conf` (open, read to its end, close) and sends one DNS query to the first name server
(socket, connect, sendto, a wait of at most 2 s for the answer, recvfrom, close), then pauses 2 s. That wait and
that pause are its only sleeps. The LED thread, once the LED shows the held code, sleeps on `usb_led` itself (a
futex) until a store changes the code, so it neither wakes nor makes a system call in a steady pass. The status
file is written only when a field changes, which a steady pass does not. No process is started.

On the network way a pass is the same with `udhcpc` for `pppd` and the stick's interface for `ppp0`: the held
`/proc` directory of the udhcpc found before, the interface asked for on the kept socket (one `ioctl`, where the
PPP pass opens and closes `/dev/ttyUSB1`), its address on the same socket, `/etc/resolv.conf`, and one query to the
lease's name server, the stick's DNS relay; there is no radio to read.

The whole process's CPU per pass is what decides the budget against pidof: with the LED thread asleep, it is the
supervisor's thread's time, the pass's work and its two wakeups. pidof run back to back finds the caches warm
from the run before; a pass never runs that way, it always starts from 2 s asleep, and so does the paced pidof
the budget is set against. The real-time runs decide, since libfaketime, preloaded into the sped-up daemon,
intercepts its clock and sleep calls and adds its own work to every pass.
"""

HISTORY = """## History: the LED thread asleep, the lookup from the last pppd found

Figures kept from earlier runs, not measured again. The run of 2026-12-08 16:16 UTC (commit 5ba818e) also
measured, in a run of its own since retired, the daemon of commit cbcf463, from before the LED thread slept and
the lookup started from the last pppd found, in the same windows as that commit's daemons. Per
steady pass, LED held, real time without preloads; the first column is what was published before those changes
(commit aeb90a5, the run of 2026-12-07 12:49 UTC), whose system calls were counted in the sped-up run, whose CPU
was then 916 µs (supervisor 574, LED thread 342).

| per pass | published before the changes (aeb90a5) | before: cbcf463 | after: glibc (`bare`) | after: static |
|---|---|---|---|---|
| system calls | 85.0 | 19.0 | 14.0 | 15.0 |
| CPU | 1083 µs (supervisor 627, LED thread 456) | 551 µs (supervisor 551, LED thread 0) | 514 µs (supervisor 514, LED thread 0) | 421 µs (supervisor 421, LED thread 0) |
| CPU ÷ one pidof run every 2 s | — | 0.110 of the whole window's | median 0.110 of 9 minutes | median 0.081 of 9 minutes |
| wakeups | 10.93 (supervisor 3.00, LED thread 7.93) | 2.00 | 2.00 | 2.00 |
| one `pidof pppd` run, back to back | 1039 µs | 3600 µs | 3600 µs | 3600 µs |
| one `pidof pppd` run, every 2 s | — | 4993 µs | 4993 µs | 4993 µs |
"""

BRINGUP = """The waits of this path are 3 s after the serial drivers are reloaded and 3 s once the dial scripts are
written. Beyond them the time goes to the commands themselves (the bench's stand-ins for `rmmod` and `insmod`
are scripts, slower than the router's programs) and to the supervisor's first pass, whose pppd lookup finds no
pppd yet and so scans `/proc` ten times with a 5 ms pause after each (50 ms) before `pppd file` is run.
"""


def bringup(timeline):
    return (["### The bring-up, command by command", "",
             "Seconds from the start of link3g to each command it handed to `/bin/sh` (`/bench/journal/shell.log`), "
             "first run:", "", "```"] + timeline + ["```", "", BRINGUP])


def page(doc):
    """The page's text and the rows that failed (a missed budget, a figure
    not measured)."""
    p = Page()
    size_rows(p, doc.get("sizes", {}))
    figures = steady_groups(p, doc.get("runs", {}), doc.get("commands", {}))
    dns_rows(p, doc.get("runs", {}).get("dns", {"error": "not run"}), doc.get("commands", {}).get("dns", "?"))
    bringups = bringup_rows(p, doc.get("runs", {}), doc.get("commands", {}))
    lines = (header(doc.get("meta", {}), p) + p.lines() + [""] + ways(figures) + [HOW] + memory(figures["bare"]) +
             [PASS, HISTORY])
    if bringups:
        lines += bringup(bringups[0]["timeline"])
    return "\n".join(lines).rstrip() + "\n", p.missed + p.unmeasured
