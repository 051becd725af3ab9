"""The soak report's section on stuck links: the resets of the stick, the
time from each hang to the next answered probe, and the SIM PIN's guard."""
from figures import fmt, spread
from timing import BRINGUP_RESET, STUCK


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
