"""Readers of what /proc says about one process: CPU time, context
switches, memory, mappings. Every figure is of the process's threads
themselves, never of its children. And the names of all processes."""
import os

TICK = os.sysconf("SC_CLK_TCK")


def process_names():
    """The command name of every process in /proc, sorted: what each pidof
    run reads through."""
    names = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/comm" % entry) as f:
                names.append(f.read().strip())
        except (OSError, ValueError):
            continue
    return sorted(names)


def threads(pid):
    return [int(tid) for tid in os.listdir("/proc/%d/task" % pid)]


def stat_fields(pid):
    """The fields of /proc/PID/stat after the command name: [0] is the
    state (the third field)."""
    with open("/proc/%d/stat" % pid) as f:
        return f.read().rsplit(")", 1)[1].split()


def proc_stat(pid):
    """utime and stime of the whole process (all its threads), in clock
    ticks."""
    fields = stat_fields(pid)
    return int(fields[11]), int(fields[12])


def page_faults(pid):
    """Minor and major page faults of the whole process: a major one had to
    wait for the page to be read from its file."""
    fields = stat_fields(pid)
    return int(fields[7]), int(fields[9])


def disk_read_bytes(pid):
    """Bytes the process had read from storage, not from the page cache
    (read_bytes of /proc/PID/io): each such read is a wait for the disk."""
    return status_fields("/proc/%d/io" % pid, ("read_bytes",))["read_bytes"]


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
    return status_fields("/proc/%d/status" % pid, ("VmRSS", "VmHWM", "Threads", "RssAnon", "RssFile"))


def thread_figures(pid, tid):
    """One thread's CPU time in nanoseconds (the scheduler's
    sum_exec_runtime, of which utime + stime are the tick-rounded split) and
    its context switches: voluntary (it slept: each pause, each wait for a
    reply) and involuntary (it was still running and another task was given
    the processor)."""
    with open("/proc/%d/task/%d/schedstat" % (pid, tid)) as f:
        ns = int(f.read().split()[0])
    sw = status_fields("/proc/%d/task/%d/status" % (pid, tid),
                       ("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches"))
    return {"ns": ns, "vol": sw["voluntary_ctxt_switches"], "invol": sw["nonvoluntary_ctxt_switches"]}


def cpu_and_switches(pid):
    """thread_figures of the main thread (main_*) and summed over the others
    (other_*)."""
    out = {"main_ns": 0, "main_vol": 0, "main_invol": 0, "other_ns": 0, "other_vol": 0, "other_invol": 0}
    for tid in threads(pid):
        prefix = "main_" if tid == pid else "other_"
        for k, v in thread_figures(pid, tid).items():
            out[prefix + k] += v
    return out


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


def mapping_summary(by):
    """Resident kB by the mapped file's name (without its folder)."""
    out = {}
    for k, v in by.items():
        out[os.path.basename(k)] = out.get(os.path.basename(k), 0) + v
    return out


def rss_of(by, mark):
    return sum(v for k, v in by.items() if mark in k)
