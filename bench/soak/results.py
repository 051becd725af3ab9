"""The soak's results: the checks over the whole run, the costs measured
from the journals, and the files scripts/soak keeps as docs/soak.json and
renders into docs/reliability.md. Functions of a finished Soak."""
import json
import os

from outside import FRONTS, JOURNAL, ZOMBIE_GRACE, now
from recoveries import analyse, forced_restart_times
from timing import (BRINGUP_FIRST, BRINGUP_REPLUG, BRINGUP_RESET, CHAT_WAITS, PASS, SERIALCOM_DELAY,
                    dns_recovery_window, dns_restart_window, forced_restart_window, spread)


def measured_costs(soak):
    """What the bench really took, from the journals, to set against the
    allowances of bounds()."""
    soak.read_journals()
    m = {}
    # Passes on a healthy link: one answered probe each.
    first = sorted(t for t, a in soak.probes if a == FRONTS[0])
    gaps = [b - a for a, b in zip(first, first[1:])
            if not soak.in_window(a) and not soak.in_window(b) and soak.dns_mode_at(a) and b - a < 60]
    m["pass_s"] = spread(gaps, 3)
    # pppd started by the daemon until ppp0 is up.
    starts = [(t, c) for t, c in soak.shell_cmds if c.startswith("pppd file ")]
    ups = sorted(t for t, _ in soak.ppp_up)
    chat, ex = [], []
    for i, (t, c) in enumerate(starts):
        nxt = starts[i + 1][0] if i + 1 < len(starts) else float("inf")
        up = next((u for u in ups if t < u < nxt), None)
        if up is not None:
            (ex if ".ex" in c else chat).append(up - t)
    m["up_chat_s"], m["up_ex_s"] = spread(chat), spread(ex)
    # Bring-ups that ended in a pppd start: from their first command to
    # the start, less the pass pause and the bring-up's own waits (the
    # first one, one after a replug, one after a reset), and serialcom's
    # cost within them.
    extra = []
    rmmods = [t for t, c in soak.shell_cmds if c == "rmmod usbserial"]
    for i, (t, c) in enumerate(starts):
        before = [r for r in rmmods if r < t]
        prev_start = starts[i - 1][0] if i else 0
        if before and before[-1] > prev_start:
            b = before[-1]
            reset = any(b - 20 < r < b for r in soak.reset_notes)
            waits = BRINGUP_RESET if reset else BRINGUP_FIRST if b - soak.t_start < 5 else BRINGUP_REPLUG
            extra.append(t - b - PASS - waits)
    m["bringup_extra_s"] = spread(extra)
    # serialcom: from its start to the record in /var/imsi, less its delay.
    runs = [t for t, c in soak.shell_cmds if c.startswith("serialcom ")]
    late = []
    for t, n in soak.record_notes:
        before = [r for r in runs if r < t]
        if before and n == 244:
            late.append(t - before[-1] - SERIALCOM_DELAY)
    m["serialcom_extra_s"] = spread(late)
    # A recovery's killall until its bring-up's first command: the reset
    # and the wait for the nodes (at most 1 + 5 s).
    cmds = soak.shell_cmds
    m["reset_to_bringup_s"] = spread([nxt[0] - t for (t, c), nxt in zip(cmds, cmds[1:])
                                      if c == "killall -9 pppd" and nxt[1] == "rmmod usbserial"])
    # A hang until pppd has flushed ppp0.
    m["hang_notice_s"] = spread([f["address_lost_s"] for f in soak.faults
                                 if f["kind"] == "hang" and f.get("address_lost_s") is not None])
    return m


def recovery_figures(soak):
    """For the faults a reset mends: the time to the answered probe and its
    parts, over every fault of the kind."""
    out = {}
    for kind in ("hang", "no_record", "first_link"):
        fs = [f for f in soak.faults + [soak.first_link] if f["kind"] == kind]
        out[kind] = {key: spread([f[key] for f in fs if f.get(key) is not None])
                     for key in ("recovery_s", "answer_to_answer_s", "address_lost_s", "reset_after_last_answer_s",
                                 "reset_s", "reset_to_bringup_s", "bringup_s", "dial_s", "failed_bringup_s",
                                 "hold_s")}
    return out


def write_results(soak, final):
    ok_samples = [s for s in soak.samples if s["alive"] and s["settled"]]
    hour = next((s for s in ok_samples if s["t"] >= 3600 * min(1.0, soak.args.hours / 2)), None)
    last = ok_samples[-1] if ok_samples else None
    checks = []

    def check(name, passed, detail):
        checks.append({"check": name, "ok": bool(passed), "detail": detail})
        if not passed:
            soak.failures.append("%s: %s" % (name, detail))

    check("daemon alive", final["alive"] and all(s["alive"] for s in soak.samples),
          "alive at every sample and at the end" if final["alive"] else "dead")
    if hour and last:
        check("descriptors steady", hour["fds"] == last["fds"],
              "%s at %.0f s, %s at %.0f s" % (hour["fds"], hour["t"], last["fds"], last["t"]))
        check("threads steady", hour["threads"] == last["threads"],
              "%s at %.0f s, %s at %.0f s" % (hour["threads"], hour["t"], last["threads"], last["t"]))
        check("RSS steady", abs(last["rss_kb"] - hour["rss_kb"]) <= soak.args.rss_slack_kb,
              "%s kB at %.0f s, %s kB at %.0f s (allowed drift %d kB)" % (
                  hour["rss_kb"], hour["t"], last["rss_kb"], last["t"], soak.args.rss_slack_kb))
    else:
        check("figures sampled", False, "no settled sample at the first hour or at the end")
    check("no zombie children", not soak.zombie_seen,
          "none at any look" if not soak.zombie_seen else json.dumps(soak.zombie_seen[:5]))
    check("one pppd at a time", not soak.double_pppd,
          "never two live pppd in two looks in a row" if not soak.double_pppd
          else json.dumps(soak.double_pppd[:5]))
    check("links back within bound", all(f.get("ok") for f in soak.faults + [soak.first_link]),
          "%d faults" % len(soak.faults))
    check("faults of every kind", all(any(f["kind"] == k for f in soak.faults) for k in soak.kinds)
          or soak.args.hours < 4,
          ", ".join("%s %d" % (k, sum(1 for f in soak.faults if f["kind"] == k)) for k in soak.kinds))

    recovery = analyse(soak, check)
    for f in soak.faults + [soak.first_link]:
        if f.get("window"):
            f["window"] = [round(x - soak.t_start, 1) for x in f["window"]]
    live = [s for s in soak.samples if s["alive"]]
    # Where VmRSS changed after the first link: [previous sample's time,
    # this one's, the change in kB].
    t0, steps, prev = (soak.first_link.get("window") or [0, 0])[1], [], None
    for s in (s for s in live if s.get("rss_kb")):
        if prev is not None and s["rss_kb"] != prev["rss_kb"] and s["t"] > t0:
            steps.append([prev["t"], s["t"], s["rss_kb"] - prev["rss_kb"]])
        prev = s
    res = {
        "hours": soak.args.hours, "speed": os.environ.get("BENCH_SPEED", "1"), "seed": soak.args.seed,
        "gap_min": soak.args.gap_min, "gap_max": soak.args.gap_max, "sample_s": soak.args.sample,
        "allowance_ms": {"pass": soak.args.pass_ms, "up_ex": soak.args.up_ex_ms,
                         "up_chat": soak.args.up_chat_ms, "bringup": soak.args.bringup_ms,
                         "serialcom": soak.args.serialcom_ms, "hang_notice": soak.args.hang_notice_ms,
                         "reset": soak.args.reset_ms},
        "chat_waits_s": CHAT_WAITS, "rss_slack_kb": soak.args.rss_slack_kb, "zombie_grace_s": ZOMBIE_GRACE,
        "costs": soak.costs, "bounds": {k: round(v, 1) for k, v in soak.bound.items()},
        "bound_parts": {k: [round(w, 1), round(a, 1)] for k, (w, a) in soak.bound_parts.items()},
        "measured": measured_costs(soak),
        "forced_restart_window_s": forced_restart_window(soak.costs),
        "dns_restart_window_s": [round(x, 1) for x in dns_restart_window(soak.costs)],
        "dns_reset_window_s": [round(x, 1) for x in dns_recovery_window(soak.costs)],
        "record_at_start": soak.args.record_at_start, "pin": soak.pin,
        "recovery": recovery, "recovery_figures": recovery_figures(soak),
        "bench_seconds": round(now() - soak.t_start, 1),
        "first_link": soak.first_link, "faults": soak.faults,
        "at_hour": hour, "at_end": last, "final": final,
        "fds_range": [min(s["fds"] for s in ok_samples), max(s["fds"] for s in ok_samples)] if ok_samples else None,
        "rss_range_kb": [min(s["rss_kb"] for s in ok_samples), max(s["rss_kb"] for s in ok_samples)] if ok_samples else None,
        "threads_range": [min(s["threads"] for s in live), max(s["threads"] for s in live)] if live else None,
        "max_live_pppd": max(n for _, n in soak.pppd_obs) if soak.pppd_obs else 0,
        "pppd_looks": len(soak.pppd_obs), "transient_double_pppd": soak.transient_double,
        "double_pppd": soak.double_pppd, "double_pppd_looks": soak.double_looks,
        "zombie_children": soak.zombie_seen,
        "zombie_transient": soak.zombie_transient,
        "max_other_zombies": soak.other_zombies,
        "max_load1": max((s["load1"] for s in soak.samples if s["load1"] is not None), default=None),
        "rss_steps": steps, "samples": len(soak.samples), "settled_samples": len(ok_samples),
        "samples_without_link": sum(1 for s in soak.samples if not s["ppp0"] or not s["dns"]),
        "daemon_probes": len(soak.probes), "pppd_starts": len(soak.pppd_starts),
        "forced_restarts": len(forced_restart_times(soak.shell_cmds)),
        "bringups": sum(1 for _, c in soak.shell_cmds if c == "rmmod usbserial"),
        "ppp_ifaces": sorted({n for _, n in soak.ppp_up}),
        "checks": checks, "failures": soak.failures,
    }
    with open(os.path.join(JOURNAL, "soak-results.json"), "w") as f:
        json.dump(res, f, indent=1)
    with open(os.path.join(JOURNAL, "soak-samples.json"), "w") as f:
        json.dump(soak.samples, f)
    with open(os.path.join(JOURNAL, "soak-samples.csv"), "w") as f:
        keys = ["t", "alive", "fds", "fds_raw", "rss_kb", "threads", "zombies", "pppd", "ppp0", "dns", "settled",
                "load1", "note"]
        f.write(",".join(keys) + "\n")
        for s in soak.samples:
            f.write(",".join(str(s[k]) for k in keys) + "\n")
    for c in checks:
        print("soak: %-4s %-24s %s" % ("ok" if c["ok"] else "FAIL", c["check"], c["detail"]), flush=True)
    soak.daemon.kill()
    soak.daemon.wait()
    return res

