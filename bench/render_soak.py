"""The "Soak" section of docs/reliability.md from docs/soak.json: the
results of bench/soak/soak.py (soak-results.json) with the command that ran
it, its real time and where VmRSS changed, as scripts/soak writes them."""
import statistics

from render import fmt
from timing import (BRINGUP_FIRST, BRINGUP_REPLUG, BRINGUP_RESET, RECORD_APN, RECORD_DIAL, RESET_NODES, SERIALCOM,
                    SERIALCOM_FAILED, STUCK)


def spread(xs):
    """Least, median, most and count of the figures given, or None."""
    xs = sorted(x for x in xs if x is not None)
    return (xs[0], statistics.median(xs), xs[-1], len(xs)) if xs else None


KINDS = [
    ("pppd_kill", "pppd killed (`killall -9 pppd`: the ISP drops the line)"),
    ("addr_loss", "ppp0 loses its address (`ip addr flush dev ppp0`, pppd runs on)"),
    ("unplug", "stick pulled (`usbsim unplug`), replugged 1 to 10 min later (`usbsim replug`)"),
    ("dns_dead", "both ISP name servers drop every query (`ispdns mode ADDR drop`) for 20 to 80 s or 2 to "
                 "10 min, half each: shorter and longer than it takes to force a restart (and the longer ones "
                 "past the reset at 300 s)"),
    ("hang", "the stick's firmware hangs (`usbsim hang`): its AT port answers nothing, its nodes stay, pppd "
             "loses its address and gets none again; only a reset on the bus mends it"),
    ("no_record", "a bring-up finds no operator record (`usbsim set serialcom=never`, then `usbsim replug`): "
                  "it fails with the nodes there; the record is back (`usbsim set serialcom=record`) 1 to 4 "
                  "min after the failure"),
    ("at_port_hang", "the stick's second AT port stops answering (`usbsim set status_mode=silent`) for 1 to 10 "
                     "min, the link carrying on: nothing of the link may be touched"),
]
REF = {
    "pppd_kill": "`killall` returned",
    "addr_loss": "the flush",
    "unplug": "`usbsim replug` returned",
    "dns_dead": "the name servers relay again",
    "dns_dead_reset": "the name servers relay again",
    "hang": "`usbsim hang` returned",
    "no_record": "the failed bring-up's end",
    "at_port_hang": "the AT port answering again",
    "first_link": "the daemon's start",
}


PASS_S = 2.0  # the pause between passes


def short_outages(dd, lo):
    short = [f for f in dd if f["hold_s"] < lo]
    if not short:
        return "checked when one is drawn; none of this run's was"
    return "%d of this run's, %s s long, brought %s" % (
        len(short), ", ".join(fmt(f["hold_s"], 0) for f in short),
        "none" if not any(f.get("forced_restarts") for f in short) else
        "%d: see Failures" % sum(f.get("forced_restarts") or 0 for f in short))


def rss_steps(r):
    """Where VmRSS changed after the first link ([from_s, to_s, kB] of each
    change, from the samples): a step that stays is a path run for the first
    time, a drift would be a leak."""
    steps = []
    for t0, t1, kb in r.get("rss_steps") or []:
        fault = next((f for f in reversed(r["faults"]) if f["t"] <= t1), None)
        steps.append("%+d kB between %.0f and %.0f s%s" % (
            kb, t0, t1, " (after the %s fault at %.0f s)" % (fault["kind"], fault["t"]) if fault else ""))
    if not steps:
        return ""
    return ": after the first link it changed " + "; ".join(steps) + (", and stayed so to the end"
                                                                       if len(steps) == 1 else "")


def section(r):
    command, real_seconds = r["command"], r["real_seconds"]
    L = []
    ok = not r["failures"]
    faults = r["faults"]
    count = {k: sum(1 for f in faults if f["kind"] == k) for k, _ in KINDS}
    L.append("## Soak")
    L.append("")
    L.append("link3g supervising the link of a simulated ZTE MF626 (`zte-mf626`) for %s hours of the "
             "bench's clock at speed %s (%.1f minutes of real time), seed %s, while the link was "
             "broken %d times at random moments %s to %s bench minutes apart. Result: **%s**." % (
                 fmt(r["hours"], 0) if float(r["hours"]).is_integer() else r["hours"], r["speed"],
                 real_seconds / 60.0, r["seed"], len(faults), fmt(r["gap_min"], 0), fmt(r["gap_max"], 0),
                 "every check passed" if ok else "%d check(s) failed" % len(r["failures"])))
    L.append("")
    L.append("Command (as root; builds the host preset first if needed):")
    L.append("")
    L.append("```sh")
    L.append(command)
    L.append("```")
    L.append("")
    L.append("`scripts/soak [--hours H] [--speed S] [--seed N] [--journal DIR]` runs "
             "`bench/run --speed S --stick zte-mf626 --journal DIR -- /usr/bin/python3 bench/soak/soak.py`. "
             "The harness starts `ispdns start`, then `link3g --cmd 3g --3gCard AutoCheck --3gPin %s` "
             "(serialcom reads the dial values from the SIM's operator record, the stick's `op_*` keys; the "
             "daemon's output in the journal directory: `daemon.out`, `daemon.err`)%s, waits for the first "
             "link, and breaks the link only once it is settled "
             "(ppp0 addressed, one pppd, the daemon's own DNS probe seen in the last seconds). "
             "Each sample (%s bench seconds apart, %d in all) looks at the daemon (alive, open "
             "descriptors, VmRSS, threads), its zombie children, the live pppd processes, ppp0's "
             "address and whether the ISP's name servers answer; during a fault and its recovery "
             "it looks every half second. All samples are in `soak-samples.csv`, every figure in "
             "`soak-results.json` of the journal directory." % (
                 r["pin"], "" if r["record_at_start"] else
                 "; serialcom finds no record at first (`usbsim set serialcom=never`), so the first bring-up "
                 "fails with the nodes in place, the record is back 1 to 4 minutes later and the first link "
                 "comes with the reset 300 s after the failure, the PIN withheld (not yet proven)",
                 fmt(r["sample_s"], 0), r["samples"]))
    L.append("")
    L.append("### Faults")
    L.append("")
    L.append("| kind | what | count |")
    L.append("|---|---|---|")
    for k, what in KINDS:
        L.append("| `%s` | %s | %d |" % (k, what, count[k]))
    L.append("")
    L.append("### Checks")
    L.append("")
    L.append("| check | result | detail |")
    L.append("|---|---|---|")
    for c in r["checks"]:
        L.append("| %s | %s | %s |" % (c["check"], "pass" if c["ok"] else "**FAIL**", c["detail"].replace("|", "/")))
    L.append("")
    h, e = r.get("at_hour") or {}, r.get("at_end") or {}
    L.append("### The daemon over time")
    L.append("")
    L.append("| figure | after the first hour (%s s) | at the end (%s s) | range over all settled samples |" % (
        fmt(h.get("t"), 0), fmt(e.get("t"), 0)))
    L.append("|---|---|---|---|")
    fr, rr, tr = r.get("fds_range") or [None, None], r.get("rss_range_kb") or [None, None], r.get("threads_range") or [None, None]
    L.append("| open descriptors | %s | %s | %s..%s |" % (h.get("fds"), e.get("fds"), fr[0], fr[1]))
    L.append("| VmRSS (kB) | %s | %s | %s..%s |" % (h.get("rss_kb"), e.get("rss_kb"), rr[0], rr[1]))
    L.append("| threads | %s | %s | %s..%s |" % (h.get("threads"), e.get("threads"), tr[0], tr[1]))
    L.append("")
    L.append("The descriptors at the end: %s. Standard input, output and error; `/proc` is the "
             "process scan's directory, which stays open after a scan that found pppd (the next "
             "scan resumes there); the `faketime_shm` segment belongs to the bench's clock "
             "(libfaketime), not to link3g; `/run/link3g.pid` (`/var/run` is a link to `/run` here) is the "
             "one-daemon lock, held for the daemon's life. Descriptors are looked at five times 0.2 bench seconds "
             "apart and a file counts as often as it is open in the median look, so that a probe's "
             "socket caught in passing, or /proc caught between its closing and reopening by the "
             "scan, is neither a leak nor a loss. RSS may differ by up to %d kB (two pages) between the two "
             "samples without failing the check; it did not move in this run%s." % (
                 ", ".join("`%s`" % x for x in (e.get("fd_list") or [])), r.get("rss_slack_kb", 8),
                 "" if rr[0] == rr[1] else " outside %s..%s kB%s" % (rr[0], rr[1], rss_steps(r))))
    L.append("")
    L.append("Processes: at most %d live pppd at any look (%d looks at the pppd count; a killed "
             "pppd still tearing down its interface, and a pppd's own child between its fork and its "
             "exec, are not counted as live); two live pppd in two "
             "looks in a row: %d; zombie children of the daemon left unreaped for %s bench seconds: %d "
             "(%d caught in the instant between a child's exit and the daemon's wait for it, gone at "
             "the next look). ppp interfaces ever brought up: %s. Over the run the daemon sent %d DNS "
             "probe queries, started pppd %d times, ran %d bring-ups, %d forced restarts and %d resets of the "
             "stick." % (
                 r["max_live_pppd"], r["pppd_looks"], len(r["double_pppd"]), fmt(r["zombie_grace_s"], 0),
                 len(r["zombie_children"]), r["zombie_transient"], ", ".join(r["ppp_ifaces"]),
                 r["daemon_probes"], r["pppd_starts"], r["bringups"], r["forced_restarts"],
                 r["recovery"]["resets"]))
    L.append("")
    L.append("The host's load average (1 min) was at most %s during the run (2 cores)." % r.get("max_load1"))
    L.append("")
    L.append("### Recovery")
    L.append("")
    L.append("From the reference moment to the daemon's first DNS probe on the restored link "
             "(query ids 0x7329..0x732e in `dns.log`; it probes only while ppp0 has an address) "
             "after a new pppd has brought ppp0 up, for the kinds that take pppd or its address "
             "away, and with the harness seeing ppp0 addressed and the name servers answering. "
             "Bench seconds.")
    L.append("")
    L.append("| kind | from | n | min | median | max | bound (rules + stand-ins) |")
    L.append("|---|---|---|---|---|---|---|")
    parts = r["bound_parts"]
    first_ref = REF["first_link"] if r["record_at_start"] else "the failed first bring-up's end"
    rows = [("first_link", "`first_link`", [r["first_link"]])]
    for k, _ in KINDS:
        fs = [f for f in faults if f["kind"] == k]
        if k == "dns_dead":
            rows.append((k, "`dns_dead`, no reset", [f for f in fs if not f.get("resets")]))
            rows.append(("dns_dead_reset", "`dns_dead`, stick reset", [f for f in fs if f.get("resets")]))
        else:
            rows.append((k, "`%s`" % k, fs))
    for k, name, fs in rows:
        s = spread([f.get("recovery_s") for f in fs])
        w, a = parts[k]
        ref = first_ref if k == "first_link" else REF[k]
        if s:
            L.append("| %s | %s | %d | %s | %s | %s | %s (%s + %s) |" % (
                name, ref, s[3], fmt(s[0]), fmt(s[1]), fmt(s[2]), fmt(w + a), fmt(w), fmt(a)))
        else:
            L.append("| %s | %s | 0 | - | - | - | %s |" % (name, ref, fmt(w + a)))
    L.append("")
    al = spread([f.get("forced_restart_after_s") for f in faults if f["kind"] == "addr_loss"])
    dd = [f for f in faults if f["kind"] == "dns_dead"]
    dr = spread([f.get("forced_restart_after_s") for f in dd])
    win_a, win_d = r["forced_restart_window_s"], r["dns_restart_window_s"]
    L.append("Forced restarts: after a lost address the daemon ran `killall -9 pppd` and "
             "`pppd file /etc/ppp/options.ppp3g.ex &` %s s after the flush (window %s..%s s: six "
             "counted passes, the restart opening the next). With the name servers dead, %d of "
             "the %d outages (%s s long) brought one forced restart, %s s after the servers went "
             "dead (window %s..%s s: six unanswered probes of six 2 s attempts, a 2 s pause after "
             "each and the 1 s trouble pause from the third on), and none brought a second one while "
             "the link stayed unconfirmed. An outage shorter than %s s must bring none (%s)." % (
                 "%s..%s" % (fmt(al[0]), fmt(al[2])) if al else "-", fmt(win_a[0]), fmt(win_a[1]),
                 sum(1 for f in dd if f.get("forced_restarts")), len(dd),
                 "%s..%s" % (fmt(min(f["hold_s"] for f in dd), 0), fmt(max(f["hold_s"] for f in dd), 0)) if dd else "-",
                 "%s..%s" % (fmt(dr[0]), fmt(dr[2])) if dr else "-", fmt(win_d[0]), fmt(win_d[1]), fmt(win_d[0], 0),
                 short_outages(dd, win_d[0])))
    L.append("")
    stuck_section(L, r)
    L.append("")
    L.append("#### How the bounds are made")
    L.append("")
    L.append("The first figure of each bound is what the supervisor's rules make it wait at worst "
             "(a pass ends with a 2 s pause, plus 1 s once two probes in a row went unanswered; an "
             "unanswered DNS attempt lasts 2 s; six counted failures of a confirmed link force a "
             "restart; a bring-up of this stick after a replug waits 3 s after the driver reload, "
             "6 s after the eject, 5 s after each of its two switch files, 2 s after loading "
             "usbserial, %d s for serialcom's record (looked for every 2 s, written 3 s after serialcom's "
             "start) and 3 s at the end, %d s in all, %d s for the first one, which also loads "
             "usb-storage; one after a reset, with the stick back as a modem, waits 3 + 2 + %d + 3 = %d s; "
             "one that finds no record gives up after 16 looks, at most %d s; one that finds no stick waits "
             "3 + 2 s. A link is stuck after %d s without an answer, counted from the later of the last "
             "answer and the last bring-up's end; the pass that finds it may end a pass and a second "
             "(whole seconds) late; the recovery kills pppd, resets the stick and waits 1 s, then up to "
             "5 s for the nodes, %d s at most):" % (
                 SERIALCOM, BRINGUP_REPLUG, BRINGUP_FIRST, SERIALCOM, BRINGUP_RESET, SERIALCOM_FAILED,
                 STUCK, RESET_NODES))
    L.append("")
    L.append("- `pppd_kill`: the pass under way ends (at worst it had just found the old pppd), the "
             "next starts pppd, the first pass after ppp0 is up probes: 2 passes and comgt's waits "
             "(the alternation may pick options.ppp3g, whose chat runs).")
    L.append("- `addr_loss`: the pass under way may just have seen the address, six passes count a "
             "failure each, the next opens with the forced restart, the first pass after the new "
             "ppp0 is up probes: 8 passes; the new pppd (.ex) runs no chat.")
    L.append("- `unplug`: the bring-up under way may just have found no stick (2 s), a pass, the "
             "full bring-up (%d s, serialcom's %d s included), a pass, pppd started, the first pass after "
             "ppp0 is up probes: 2 + %d s, 3 passes and comgt's waits." % (BRINGUP_REPLUG, SERIALCOM, BRINGUP_REPLUG))
    L.append("- `dns_dead`: the attempt under way may still time out (2 s), a pass with the trouble "
             "pause, and if a forced restart opens the next pass, that pass too: 2 + 2 x (2 + 1) s; "
             "the new pppd (.ex) runs no chat.")
    if r["record_at_start"]:
        L.append("- `first_link`: the first bring-up (%d s), a pass, comgt's waits (options.ppp3g)." % BRINGUP_FIRST)
    else:
        L.append("- `first_link`: as `no_record` below, from the end of the first bring-up, which found no "
                 "record.")
    L.append("- `no_record`: from the failed bring-up's end, %d s, the pass that finds the link stuck "
             "(2 + 1 s), the reset and the wait for the nodes (%d s), the bring-up after a reset (%d s), a "
             "pass, comgt's waits, the first pass after ppp0 is up probes: %d + 3 + %d + %d s, 2 passes "
             "and comgt's waits." % (STUCK, RESET_NODES, BRINGUP_RESET, STUCK, RESET_NODES, BRINGUP_RESET))
    L.append("- `hang`: as `no_record`, counted from the last answered probe, which may come until the "
             "pppd stand-in has noticed the hang and flushed ppp0 (an allowance below).")
    L.append("- `dns_dead`, stick reset: an outage past the reset (%d s after the last answer) is bound by "
             "the outage's own figure and the reset's (%d + %d s, 2 passes and comgt's waits), the reset "
             "perhaps still under way when the servers come back." % (STUCK, RESET_NODES, BRINGUP_RESET))
    L.append("")
    L.append("comgt's own waits in the chat script link3g writes are %s s: `waitquiet 1`, then %d "
             "characters sent at 50 ms each (the record's APN `%s` and number `%s`)." % (
                 fmt(r["chat_waits_s"], 2), round((r["chat_waits_s"] - 1) / 0.05), RECORD_APN, RECORD_DIAL))
    L.append("")
    c = r["costs"]
    m = r["measured"]
    L.append("The second figure allows for what the bench's stand-ins cost. Their time is real time "
             "(Python and shell stand-ins starting, the simulated USB bus rewriting its lists), which "
             "the sped-up clock multiplies by the speed, so each allowance is a real-time budget times "
             "the speed: %s real ms per pass, pppd until ppp0 is up %s real ms without chat and "
             "%s real ms beyond comgt's waits with it, %s real ms per bring-up and %s more for serialcom's "
             "record (read at the next look, up to 2 s later), %s real ms for a recovery's killall and the "
             "simulated reset, %s real ms for pppd to notice a hang. The budgets are about 1.5 to 2 times the "
             "worst seen in runs at speeds 50 to 120 on this 2-core machine. Measured in this run against the "
             "allowances at speed %s:" % (
                 fmt(r["allowance_ms"]["pass"], 0), fmt(r["allowance_ms"]["up_ex"], 0),
                 fmt(r["allowance_ms"]["up_chat"], 0), fmt(r["allowance_ms"]["bringup"], 0),
                 fmt(r["allowance_ms"]["serialcom"], 0), fmt(r["allowance_ms"]["reset"], 0),
                 fmt(r["allowance_ms"]["hang_notice"], 0), r["speed"]))
    L.append("")
    L.append("| stand-in cost | allowance | measured min / median / max (n) |")
    L.append("|---|---|---|")

    def mrow(name, allow, key, minus=0.0):
        s = m.get(key)
        L.append("| %s | %s s | %s |" % (name, fmt(allow, 2), "-" if not s else "%s / %s / %s (%d)" % (
            fmt(s["min"] - minus, 2), fmt(s["median"] - minus, 2), fmt(s["max"] - minus, 2), s["n"])))

    mrow("one pass beyond its 2 s pause (healthy link)", c["per_pass"], "pass_s", 2.0)
    mrow("pppd with options.ppp3g until ppp0 is up, beyond comgt's waits", c["up_chat"], "up_chat_s",
         r["chat_waits_s"])
    mrow("pppd with options.ppp3g.ex until ppp0 is up", c["up_ex"], "up_ex_s")
    mrow("a bring-up beyond its waits (to the pppd start, less a pass; serialcom's share included)",
         c["bringup"] + c["serialcom"] + 1, "bringup_extra_s")
    mrow("serialcom until its record is there, beyond its 3 s", c["serialcom"], "serialcom_extra_s")
    mrow("a recovery's killall to its bring-up's first command, beyond 1 + 5 s", c["reset"],
         "reset_to_bringup_s", float(RESET_NODES))
    mrow("a hang until pppd has flushed ppp0", c["hang_notice"], "hang_notice_s")
    notes = []
    if m.get("pass_s") and (m["pass_s"]["min"] < PASS_S or m["pass_s"]["max"] > 2 * PASS_S):
        notes.append("The passes are timed by the stamps the simulated name server puts on the queries as "
                     "it takes them off its socket; with the host loaded it takes several at once or late "
                     "(the minimum below 2 s, the maximum far above), and an answer relayed later than 2 s "
                     "of the bench's clock (25 real ms at speed 80) makes the daemon try again.")
    b = m.get("bringup_extra_s")
    if b and b["max"] > c["bringup"] + c["serialcom"] + 1:
        notes.append("A bring-up over its allowance here is one that began as `usbsim replug` was still "
                     "putting the stick on the bus: the daemon's module commands wait for the simulated bus, "
                     "so the replug's own real time counts in them; the `unplug` bound counts from the "
                     "replug's return.")
    if notes:
        L.append("")
        L.append(" ".join(notes))
    L.append("")
    L.append("### Speed")
    L.append("")
    sp = float(r["speed"])
    L.append("Speed %s runs 24 bench hours in %.0f real minutes; one real millisecond is %s bench "
             "milliseconds. The supervisor's own waits stay exact at any speed (libfaketime), but the "
             "stand-ins' real cost grows with it in bench time (table above). %s "
             "the slowest round speed that keeps 24 hours under 20 minutes. In calibration runs "
             "(2 bench hours, 12 faults, seed 5) the worst extra of a bring-up was 8.9 s at speed 50, "
             "12.0 s at 80, 19.3 s at 100 and 23.8 s at 120, and a pppd with chat took up to 5.3, "
             "8.6, 11.0 and 11.4 s to bring ppp0 up: beyond 80 the stand-ins' share grows quickly "
             "while nothing new happens." % (
                 r["speed"], 86400.0 / sp / 60.0, fmt(sp, 0),
                 "80, the default of `scripts/soak`, is" if sp == 80 else
                 "This run chose its own speed; the default of `scripts/soak`, 80, is"))
    if r["failures"]:
        L.append("")
        L.append("### Failures")
        L.append("")
        for f in r["failures"]:
            L.append("- %s" % f)
    L.append("")
    return "\n".join(L)


def stuck_section(L, r):
    """The faults a reset of the stick mends: the hang's figures first."""
    rec, figs = r["recovery"], r["recovery_figures"]
    parts = r["bound_parts"]

    def mw(key, kind="hang"):
        x = figs[kind].get(key)
        return "-" if not x else "%s / %s" % (fmt(x["median"]), fmt(x["max"]))

    L.append("### Stuck links: resets of the stick")
    L.append("")
    h = figs["hang"]["recovery_s"]
    w, a = parts["hang"]
    if h:
        L.append("**Hangs: from each `usbsim hang` to the daemon's next answered probe, median %s s, worst "
                 "%s s (%d hangs), bound %s s** (%s of the rules + %s for the stand-ins)." % (
                     fmt(h["median"]), fmt(h["max"]), h["n"], fmt(w + a), fmt(w), fmt(a)))
        worst = max((f for f in r["faults"] if f["kind"] == "hang" and f.get("recovery_s") is not None),
                    key=lambda f: f["recovery_s"])
        if worst.get("dial_s") is not None and worst.get("reset_after_last_answer_s") is not None:
            la = worst["last_answer_s"]
            L.append("The worst is %s s: the last answer %s s %s the hang, %d s without an answer, %s s "
                     "to the end of the pass that found the link stuck and the reset, %s s for the nodes to "
                     "come back, one bring-up (and the pass after it) of %s s, one dial of %s s: %d s + one "
                     "bring-up + one dial and %s s of the pass's end, the reset and the wait for the nodes. "
                     "(The bring-up after a reset waits %d s and the pass 2 s; the rest is the stand-ins' real "
                     "time at speed %s.)" % (
                         fmt(worst["recovery_s"]), fmt(abs(la)), "after" if la > 0 else "before", STUCK,
                         fmt(worst["reset_after_last_answer_s"] - STUCK), fmt(worst["reset_to_bringup_s"]),
                         fmt(worst["bringup_s"]), fmt(worst["dial_s"]), STUCK,
                         fmt(worst["reset_after_last_answer_s"] - STUCK + worst["reset_to_bringup_s"]
                             + la),
                         BRINGUP_RESET, r["speed"]))
    else:
        L.append("No hang in this run (bound %s s)." % fmt(w + a))
    L.append("")
    L.append("| bench seconds (median / worst) | `hang` | `no_record` | `first_link` |")
    L.append("|---|---|---|---|")
    for key, what in (("recovery_s", "to the next answered probe (from the row's reference)"),
                      ("address_lost_s", "hang to ppp0 flushed by pppd"),
                      ("answer_to_answer_s", "last answered probe to the next one"),
                      ("failed_bringup_s", "the bring-up that found no record (from its start)"),
                      ("hold_s", "then without a record for"),
                      ("reset_s", "reference to the reset"),
                      ("reset_after_last_answer_s", "last answered probe to the reset"),
                      ("reset_to_bringup_s", "reset to the bring-up's first command"),
                      ("bringup_s", "bring-up and a pass (to pppd's start)"),
                      ("dial_s", "dial: pppd's start to the answered probe")):
        L.append("| %s | %s | %s | %s |" % (what, mw(key), mw(key, "no_record"), mw(key, "first_link")))
    L.append("")
    q = rec.get("stuck_quiet_s")
    by = rec.get("resets_by_kind", {})
    L.append("The daemon reset the stick %d times (%s), each time with its one message (\"link3g: the link "
             "is stuck, no DNS answer for N s (WHY): reset the stick 19d2:0031, bus 1 device 3.\"; N %s, "
             "WHY: %s); the status file counted recoveries=%s. Every reset was followed by an answer, so "
             "the ladder never climbed past %d s. An outage of the name servers past %s..%s s after they "
             "went dead brings a reset (the last answer's 300 s, found at the end of a pass with its "
             "unanswered probe); one shorter brings none." % (
                 rec["resets"], ", ".join("%s %d" % kv for kv in sorted(by.items())) or "none",
                 "%d..%d" % (q["min"], q["max"]) if q else "-", ", ".join(rec["stuck_reasons"]) or "-",
                 rec["status_recoveries"], STUCK, fmt(r["dns_reset_window_s"][0], 0),
                 fmt(r["dns_reset_window_s"][1], 0)))
    L.append("")
    L.append("The PIN (`%s`): proven %s s into the run (%s). Recoveries before that: %d, each handing "
             "serialcom an empty PIN (\"serialcom /dev/ttyUSB2 \", the line ending in a blank) with the "
             "daemon's message that it withholds the PIN (messages: %d); after it: %d, each handing serialcom "
             "the PIN. The bring-ups of a replug always pass it, as designed." % (
                 r["pin"], fmt(rec["pin_proven_at_s"]),
                 "the first record read in full, with the first link" if not r["record_at_start"]
                 else "the first bring-up's record", rec["recoveries_before_proof"],
                 rec["withheld_messages"], rec["recoveries_after_proof"]))
