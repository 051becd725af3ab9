#!/usr/bin/python3
"""Turns the figures scripts/benchmark collected into docs/performance.md and
decides the budgets.

  report.py WORK OUT

WORK holds meta.txt and sizes.txt (key=value lines written by
scripts/benchmark) and one folder per bench run (steady, bare, static,
before, dns, bringup1...) with the result.txt that bench/perf/inbench.py
wrote. Prints the table and exits 1 when a budget is missed or a figure
could not be measured.
"""
import sys

import report_rows
import report_steady
import report_text
from report_base import Report, code


def steady_sections(r):
    """The steady daemon's rows; returns the runs by name."""
    runs = {name: r.run(name) for name in ("steady", "bare", "static")}
    rev = r.meta.get("compare_rev", "")
    runs["before"] = r.run("before") if rev else None
    st, bare, static = runs["steady"], runs["bare"], runs["static"]
    ref = report_steady.budget_reference(bare)

    r.group = "The 3g daemon, link up and LED held: glibc build (host-release)"
    if "error" in st:
        for fig, budget in (("Threads after 10 min of bench time", "exactly 2"),
                            ("Processes spawned per steady pass (LED held)", "0"),
                            ("CPU of one `pidof pppd` run", "—")):
            r.unmeasured_row(fig, budget, st["error"], r.cmd("steady"))
    else:
        report_steady.sped_up_rows(r, st, ref)
    if "error" in bare:
        for fig, budget in (("The daemon's own resident memory", "≤ %d kB" % report_steady.OWN_RSS_BUDGET_KB),
                            ("CPU, wakeups and system calls per steady pass, real time", "see above")):
            r.unmeasured_row(fig, budget, bare["error"], r.cmd("bare"))
    else:
        report_steady.bare_rows(r, bare, st, ref)

    r.group = "The 3g daemon, link up and LED held: static build (host-static, musl), real time"
    if "error" in static:
        r.unmeasured_row("The static daemon: memory, threads, CPU, wakeups and system calls per steady pass",
                         "VmRSS ≤ %d kB, RssAnon ≤ %d kB, ..." % (report_steady.STATIC_RSS_BUDGET_KB,
                                                                report_steady.STATIC_ANON_BUDGET_KB),
                         static["error"], r.cmd("static"))
    else:
        report_steady.static_rows(r, static, ref)

    if runs["before"] is not None:
        r.group = "The same steady pass before the LED thread slept and the lookup started from the last pppd " \
                  "(%s), same run" % rev
        if "error" in runs["before"]:
            r.row("Before (%s)" % rev, "not measured: " + runs["before"]["error"], "", None, r.cmd("before"))
        else:
            report_steady.before_rows(r, runs["before"], ref, rev)
    return runs


def main():
    if len(sys.argv) != 3:
        sys.stderr.write("usage: report.py WORK OUT\n")
        return 2
    work, out = sys.argv[1:]
    r = Report(work)
    r.group = "Size and libraries"
    report_rows.size_rows(r)
    runs = steady_sections(r)
    r.group = "The DNS probe beside dig (real time)"
    dns = r.run("dns")
    report_rows.dns_rows(r, dns)
    r.group = "A whole bring-up on the ok 1 path (real time)"
    bringups = report_rows.bringup_rows(r)

    write(out, r, runs, bringups)
    print_table(r)
    if not r.passed():
        sys.stderr.write("benchmark: %d budget(s) missed, %d figure(s) not measured: %s\n" % (
            len(r.missed), len(r.unmeasured), "; ".join(r.missed + r.unmeasured)))
        return 1
    return 0


def print_table(r):
    for _, figure, value, budget, result, _ in r.rows:
        print("%-8s %s: %s  [budget: %s]" % (result.strip("*"), figure, value, budget))


def header(r):
    m = r.meta
    verdict = "every budget met" if r.passed() else \
        "%d budget(s) missed%s" % (len(r.missed) + len(r.unmeasured),
                                   " (%d figure(s) could not be measured)" % len(r.unmeasured) if r.unmeasured else "")
    return [
        "# link3g: performance", "",
        "Written by `scripts/benchmark` (do not edit by hand; run it again). Every figure below was measured "
        "in that one run.", "",
        "- Date: %s; commit %s" % (m.get("date", "?"), m.get("commit", "?")),
        "- Machine: `%s`, %s processors (`nproc`)" % (m.get("uname", "?"), m.get("nproc", "?")),
        "- Load before / after the run: %s / %s (other work on the machine shows here)" % (
            m.get("load_start", "?"), m.get("load_end", "?")),
        "- Compilers: %s; %s" % (m.get("cxx", "?"), m.get("cross_cxx", "?")),
        "- The whole command took %s s of real time (`%s`)." % (m.get("seconds", "?"), m.get("command", "?")),
        "- Result: **%s**; the command exits %s." % (verdict, "0" if r.passed() else "1"), "",
        "`$WORK` in the commands is the temporary folder the run keeps its journals in (removed at the end). "
        "All commands run from the checkout's root; `bench/run` needs root.", ""]


def table(r):
    lines, group = [], None
    for row_group, figure, value, budget, result, command in r.rows:
        if row_group != group:
            group = row_group
            lines += ["", "### " + group, "", "| Figure | Value | Budget | Result | Command |", "|---|---|---|---|---|"]
        lines.append("| %s | %s | %s | %s | %s |" % (figure.replace("|", "\\|"), value.replace("|", "\\|"),
                                                   budget, result, code(command)))
    return lines


def write(out, r, runs, bringups):
    st, bare, static, before = runs["steady"], runs["bare"], runs["static"], runs["before"]
    L = header(r) + table(r)
    L += ["", report_text.HOW]
    if "error" not in bare:
        L.append(report_text.memory_text(r, st, bare))
    if "error" not in static:
        L.append(report_text.static_memory_text(static))
    measured = [(label, run) for label, run in (("glibc", bare), ("static", static)) if "error" not in run]
    if measured:
        L.append(report_text.steady_text(measured))
        L.append(report_text.cpu_text(st, bare, static))
    if not ("error" in bare and "error" in static):
        L.append(report_text.comparison_text(st, bare, static, before, r.meta.get("compare_rev", "")))
    if bringups:
        L += ["### The bring-up, command by command", "",
              "Seconds from the start of link3g to each command it handed to `/bin/sh` "
              "(`/bench/journal/shell.log`), first run:", "", "```"]
        L += bringups[0].get("timeline", "").split(" ; ")
        L += ["```", "", report_text.BRINGUP_TEXT]
    with open(out, "w") as f:
        f.write("\n".join(L).rstrip() + "\n")


if __name__ == "__main__":
    sys.exit(main())
