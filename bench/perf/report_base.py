"""The report's rows and verdict, and the readers and formats every part of
it shares."""
import os


def read_kv(path):
    kv = {}
    try:
        with open(path) as f:
            for line in f:
                k, sep, v = line.rstrip("\n").partition("=")
                if sep:
                    kv[k] = v
    except FileNotFoundError:
        kv["error"] = "no result (%s missing)" % os.path.basename(os.path.dirname(path) or path)
    return kv


class Report:
    def __init__(self, work):
        self.work = work
        self.meta = read_kv(os.path.join(work, "meta.txt"))
        self.sizes = read_kv(os.path.join(work, "sizes.txt"))
        self.rows = []
        self.group = ""
        self.missed = []
        self.unmeasured = []
        self.rss_missed = False

    def run(self, name):
        return read_kv(os.path.join(self.work, name, "result.txt"))

    def cmd(self, name):
        return self.meta.get("cmd_" + name, "?")

    def row(self, figure, value, budget="", ok=None, command=""):
        """ok: True (pass), False (budget missed), None (no budget)."""
        if ok is None:
            result = "—"
        elif ok:
            result = "pass"
        else:
            result = "**FAIL**"
            self.missed.append(figure)
        self.rows.append((self.group, figure, value, budget or "—", result, command))

    def unmeasured_row(self, figure, budget, reason, command):
        self.unmeasured.append(figure)
        self.rows.append((self.group, figure, "not measured: " + reason, budget or "—", "**FAIL**", command))

    def passed(self):
        return not (self.missed or self.unmeasured)


def code(text):
    return "`" + text.replace("|", "\\|") + "`"


def kb(v):
    return "%d kB" % int(v)


def us(v):
    return "%.0f µs" % float(v)


def maps_of(summary):
    """The mapping summary inbench wrote, as {name: resident kB}."""
    out = {}
    for item in summary.split(","):
        name, _, v = item.rpartition(":")
        if name:
            out[name] = int(v)
    return out


def calls_of(run):
    """The system calls per pass strace counted, as [(name, per pass)]."""
    return [(k, float(v)) for k, _, v in (item.partition(":") for item in run.get("syscalls_top", "").split(","))
            if k]
