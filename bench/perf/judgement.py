"""How the CPU budget of a steady pass is decided: against pidof, run once
every 2 s in the same router and in the same stretch of time as the passes
it is set beside, window by window.

Other work on the machine makes both dearer, and it comes and goes: a
figure taken over the whole run moves with whatever else ran meanwhile.
So the run is cut into windows of about a minute; in each, the daemon's
CPU per pass is divided by the mean CPU of the pidof runs of that window,
and the budget is decided on the median of those ratios. A window where
the load fell on one side alone moves one ratio, not the median; a pass
that really costs more raises every ratio.
"""
import statistics

PIDOF_SHARE = 0.15    # a steady pass costs at most this share of one pidof run
WINDOW_S = 60.0       # the length of a window, about
MIN_PASSES = 10       # a window with fewer passes or pidof runs is not used
MIN_RUNS = 10
MIN_WINDOWS = 3


def window_ratios(snapshots, forms, window_s=WINDOW_S):
    """snapshots: (time, cpu_ns, passes) of the daemon, in time order, the
    passes counted so far; forms: for each form of the pidof run (plain,
    -x), the (time, cpu_us) of each run. Returns [(pass_us, pidof_us,
    ratio)] for each window, pidof_us the cheaper form's mean."""
    out = []
    start = 0
    for end in range(1, len(snapshots)):
        t0, cpu0, n0 = snapshots[start]
        t1, cpu1, n1 = snapshots[end]
        if t1 - t0 < window_s and end != len(snapshots) - 1:
            continue
        start = end
        inside = [[cpu for t, cpu in runs if t0 <= t < t1] for runs in forms]
        if n1 - n0 < MIN_PASSES or min(len(i) for i in inside) < MIN_RUNS:
            continue
        pass_us = (cpu1 - cpu0) / 1000.0 / (n1 - n0)
        pidof_us = min(statistics.mean(i) for i in inside)
        out.append((pass_us, pidof_us, pass_us / pidof_us))
    return out


def judge(windows, share):
    """The figures the budget is decided on: median, best and worst ratio,
    whether the median is within share, and how many windows there were.
    Too few windows decide nothing (met is None)."""
    ratios = [w[2] for w in windows]
    if len(ratios) < MIN_WINDOWS:
        return {"windows": len(ratios), "median": None, "best": None, "worst": None, "met": None}
    median = statistics.median(ratios)
    return {"windows": len(ratios), "median": median, "best": min(ratios), "worst": max(ratios),
            "met": median <= share}


def encode(snapshots):
    return ";".join("%.3f:%d:%d" % s for s in snapshots)


def decode(text):
    out = []
    for item in text.split(";"):
        if item:
            t, cpu, n = item.split(":")
            out.append((float(t), int(cpu), int(n)))
    return out


def read_runs(path):
    """The lines perf_run_many --each wrote: time, CPU in µs."""
    runs = []
    with open(path) as f:
        for line in f:
            t, cpu = line.split()
            runs.append((float(t), int(cpu)))
    return runs
