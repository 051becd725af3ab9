"""A network stick's soak's results: the checks over the whole run, the
costs measured from the journals, and the files scripts/soak keeps as
docs/soak-network.json and renders into docs/reliability.md. Functions of a
finished NetSoak."""
import json
import os

from netfaults import KILL, UDHCPC, bringup_starts, forced_restarts
from nettiming import (BRINGUP_FIRST, BRINGUP_REPLUG, BRINGUP_RESET, DHCP_PING, dns_reset_window,
                       dns_restart_window, lease_reset_window)
from outside import JOURNAL, ZOMBIE_GRACE, now
from recoveries import owner, recovery_times, status_recoveries, stuck_lines
from timing import PASS, STUCK, forced_restart_window, spread

# The kinds of fault whose recovery may reset the stick.
RESETTING = ("hang", "lease_loss", "dns_dead")


def measured_costs(soak):
    """What the bench really took, from the journals, to set against the
    allowances of nettiming.bounds()."""
    soak.read_journals()
    m = {}
    # Passes on a healthy link: one answered probe each.
    t = soak.probe_times
    m["pass_s"] = spread([b - a for a, b in zip(t, t[1:])
                          if not soak.in_window(a) and not soak.in_window(b) and soak.dns_mode_at(a) and b - a < 60], 3)
    # udhcpc started by the daemon until eth1 has its lease: after a
    # bring-up (the stick pings the address first) and on a forced restart
    # (the live lease offered at once).
    cmds = soak.shell_cmds
    starts = [t for t, c in cmds if c == UDHCPC]
    forced = set(forced_restarts(cmds))
    kills = [t for t, c in cmds if c == KILL]
    leases = sorted(t for t, _ in soak.ppp_up)
    fresh, known = [], []
    for i, s in enumerate(starts):
        nxt = starts[i + 1] if i + 1 < len(starts) else float("inf")
        up = next((u for u in leases if s < u < nxt), None)
        if up is None or not soak.dhcp_served(s, up):
            continue
        if any(s - 1 < k <= s for k in forced):
            known.append(up - s)
        else:
            fresh.append(up - s - DHCP_PING)
    m["dhcp_fresh_s"], m["dhcp_known_s"] = spread(fresh), spread(known)
    # Bring-ups that ended in a udhcpc start: from their first command to the
    # start, less the pass and the bring-up's own waits (the first one, one
    # after a replug, one after a reset).
    extra = []
    begun = bringup_starts(cmds)
    for i, s in enumerate(starts):
        before = [b for b in begun if b < s]
        prev = starts[i - 1] if i else 0
        if before and before[-1] > prev and not any(s - 1 < k <= s for k in forced):
            b = before[-1]
            reset = any(b - 20 < r < b for r in soak.reset_notes)
            waits = BRINGUP_RESET if reset else BRINGUP_FIRST if b - soak.t_start < 5 else BRINGUP_REPLUG
            extra.append(s - b - PASS - waits)
    m["bringup_extra_s"] = spread(extra)
    # A recovery's killall until its bring-up's first command: the reset and
    # the wait for eth1 (at most 1 + 5 s).
    m["reset_to_bringup_s"] = spread([next(b for b in begun if b > k) - k for k in kills
                                      if k not in forced and any(b > k for b in begun)
                                      and next(b for b in begun if b > k) - k < 60])
    return m


def recovery_figures(soak):
    out = {}
    for kind in ("hang", "lease_loss", "dns_dead", "unplug", "first_link"):
        fs = [f for f in soak.faults + [soak.first_link] if f["kind"] == kind]
        out[kind] = {key: spread([f[key] for f in fs if f.get(key) is not None])
                     for key in ("recovery_s", "answer_to_answer_s", "address_lost_s", "last_answer_s",
                                 "reset_after_last_answer_s", "reset_s", "reset_to_bringup_s", "bringup_s",
                                 "lease_s", "forced_restart_after_s", "forced_restart_after_loss_s",
                                 "udhcpc_killed_s", "hold_s")}
    return out


def analyse(soak, check):
    """The resets and the way: every reset belongs to a fault that leaves
    the link stuck, says so once, and stays on the first rung; the daemon
    went the network way throughout, and no PIN, pppd or serialcom reached
    the stick."""
    resets = recovery_times(soak)
    stuck, withheld = stuck_lines()
    kinds, stray = {}, []
    for r in resets:
        f = owner(soak, r)
        if f is None or f["kind"] not in RESETTING:
            stray.append("%.0f s (%s)" % (r - soak.t_start, f["kind"] if f else "settled link"))
        else:
            kinds[f["kind"]] = kinds.get(f["kind"], 0) + 1
    check("resets only when stuck", not stray,
          "%d resets: %s" % (len(resets), ", ".join("%s %d" % kv for kv in sorted(kinds.items())))
          if not stray else "resets outside a stuck link at " + ", ".join(stray[:5]))
    counted = status_recoveries()
    quiet = [int(s[0]) for s in stuck]
    check("one message per reset", len(stuck) == len(resets) and counted == len(resets),
          "%d messages, %d resets, recoveries=%s in the status file" % (len(stuck), len(resets), counted))
    check("ladder at 300 s", all(STUCK <= q < 2 * STUCK for q in quiet),
          "no answer for %s s at the resets" % ("%d..%d" % (min(quiet), max(quiet)) if quiet else "-"))
    settled = [s for s in soak.samples if s["alive"] and s["settled"]]
    ways = sorted({"%s/%s" % (s.get("mode"), s.get("interface")) for s in settled})
    check("the network way", ways == ["network/eth1"],
          "status file at %d settled samples: %s" % (len(settled), ", ".join(ways) or "-"))
    foreign = [c for _, c in soak.shell_cmds
               if c.startswith(("pppd", "serialcom", "comgt")) or soak.pin in c]
    check("no PPP, no PIN", not foreign and not withheld,
          "no pppd, serialcom or comgt run, the PIN in no command line, no message of it" if not foreign
          and not withheld else "%s; %d PIN messages" % (foreign[:5], withheld))
    return {"resets": len(resets), "resets_by_kind": kinds, "status_recoveries": counted,
            "stuck_quiet_s": spread(quiet, 0), "stuck_reasons": sorted({s[1] for s in stuck}),
            "stuck_lines": [list(s) for s in stuck[:3]], "ways": ways}


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
    check("one udhcpc at a time", not soak.double_pppd,
          "never two live udhcpc in two looks in a row" if not soak.double_pppd
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
    t0, steps, prev = (soak.first_link.get("window") or [0, 0])[1], [], None
    for s in (s for s in live if s.get("rss_kb")):
        if prev is not None and s["rss_kb"] != prev["rss_kb"] and s["t"] > t0:
            steps.append([prev["t"], s["t"], s["rss_kb"] - prev["rss_kb"]])
        prev = s
    a = soak.args
    res = {
        "stick": "hilink", "interface": "eth1", "lease_s": a.lease,
        "hours": a.hours, "speed": os.environ.get("BENCH_SPEED", "1"), "seed": a.seed,
        "gap_min": a.gap_min, "gap_max": a.gap_max, "sample_s": a.sample,
        "allowance_ms": {"pass": a.pass_ms, "bringup": a.bringup_ms, "dhcp": a.dhcp_ms, "serve": a.serve_ms,
                         "reset": a.reset_ms},
        "rss_slack_kb": a.rss_slack_kb, "zombie_grace_s": ZOMBIE_GRACE, "pin": soak.pin,
        "costs": soak.costs, "bounds": {k: round(v, 1) for k, v in soak.bound.items()},
        "bound_parts": {k: [round(w, 1), round(x, 1)] for k, (w, x) in soak.bound_parts.items()},
        "measured": measured_costs(soak),
        "forced_restart_window_s": [round(x, 1) for x in forced_restart_window(soak.costs)],
        "dns_restart_window_s": [round(x, 1) for x in dns_restart_window(soak.costs)],
        "dns_reset_window_s": [round(x, 1) for x in dns_reset_window(soak.costs)],
        "lease_reset_window_s": [round(x, 1) for x in lease_reset_window(soak.costs)],
        "recovery": recovery, "recovery_figures": recovery_figures(soak),
        "bench_seconds": round(now() - soak.t_start, 1),
        "first_link": soak.first_link, "faults": soak.faults,
        "at_hour": hour, "at_end": last, "final": final,
        "fds_range": [min(s["fds"] for s in ok_samples), max(s["fds"] for s in ok_samples)] if ok_samples else None,
        "rss_range_kb": [min(s["rss_kb"] for s in ok_samples), max(s["rss_kb"] for s in ok_samples)] if ok_samples else None,
        "threads_range": [min(s["threads"] for s in live), max(s["threads"] for s in live)] if live else None,
        "max_live_udhcpc": max(n for _, n in soak.pppd_obs) if soak.pppd_obs else 0,
        "udhcpc_looks": len(soak.pppd_obs), "transient_double_udhcpc": soak.transient_double,
        "double_udhcpc": soak.double_pppd, "double_udhcpc_looks": soak.double_looks,
        "zombie_children": soak.zombie_seen, "zombie_transient": soak.zombie_transient,
        "max_other_zombies": soak.other_zombies,
        "max_load1": max((s["load1"] for s in soak.samples if s["load1"] is not None), default=None),
        "rss_steps": steps, "samples": len(soak.samples), "settled_samples": len(ok_samples),
        "samples_without_link": sum(1 for s in soak.samples if not s["eth1"] or not s["dns"]),
        "daemon_probes": len(soak.probes), "udhcpc_starts": len(soak.pppd_starts),
        "leases_set": len(soak.ppp_up), "deconfigs": len(soak.deconfigs),
        "forced_restarts": len(forced_restarts(soak.shell_cmds)),
        "bringups": len(bringup_starts(soak.shell_cmds)),
        "checks": checks, "failures": soak.failures,
    }
    with open(os.path.join(JOURNAL, "soak-results.json"), "w") as f:
        json.dump(res, f, indent=1)
    with open(os.path.join(JOURNAL, "soak-samples.json"), "w") as f:
        json.dump(soak.samples, f)
    with open(os.path.join(JOURNAL, "soak-samples.csv"), "w") as f:
        keys = ["t", "alive", "fds", "fds_raw", "rss_kb", "threads", "zombies", "udhcpc", "eth1", "dns", "settled",
                "mode", "interface", "load1", "note"]
        f.write(",".join(keys) + "\n")
        for s in soak.samples:
            f.write(",".join(str(s.get(k)) for k in keys) + "\n")
    for c in checks:
        print("soak: %-4s %-24s %s" % ("ok" if c["ok"] else "FAIL", c["check"], c["detail"]), flush=True)
    soak.daemon.kill()
    soak.daemon.wait()
    return res
