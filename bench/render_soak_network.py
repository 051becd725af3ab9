"""The "Soak of a network stick" section of docs/reliability.md from
docs/soak-network.json: the results of bench/soak/netsoak.py with the
command that ran it and its real time, as scripts/soak --stick hilink writes
them."""
from nettiming import (BRINGUP_FIRST, BRINGUP_REPLUG, BRINGUP_RESET, DHCP_PING, DHCP_TRYAGAIN, DISCOVER_TIMEOUT,
                       DISCOVERS, PROBE_FAIL)
from render import fmt
from render_soak import spread
from timing import RESET_NODES, STUCK

KINDS = [
    ("lease_loss", "the stick's DHCP server goes (`usbsim set dhcp=off`) for 150 to 300 s or 7 to 13 min, half "
                   "each, then serves again (`usbsim set dhcp=serve`): the lease (120 s, renewed every minute) runs "
                   "out, udhcpc takes eth1's address away; the shorter ones end before the link is stuck, the "
                   "longer ones after the reset 300 s after the last answer, whose bring-up gets no lease either"),
    ("hang", "the stick hangs (`usbsim hang`): its DHCP server and DNS relay answer nothing, eth1 stays; only a "
             "reset on the bus mends it"),
    ("dns_dead", "both ISP name servers behind the stick's relay drop every query (`ispdns mode ADDR drop`) for 15 "
                 "to 45 s or 2 to 10 min, half each: shorter and longer than it takes to force a restart (and the "
                 "longer ones past the reset at 300 s)"),
    ("unplug", "stick pulled (`usbsim unplug`), replugged 1 to 10 min later (`usbsim replug`)"),
]
REF = {
    "first_link": "the daemon's start",
    "lease_loss": "`dhcp=serve` returned",
    "lease_loss_reset": "`dhcp=serve` returned",
    "hang": "`usbsim hang` returned",
    "dns_dead": "the name servers relay again",
    "dns_dead_reset": "the name servers relay again",
    "unplug": "`usbsim replug` returned",
}


def span(xs, nd=1):
    s = spread(xs)
    return "-" if not s else "%s..%s" % (fmt(s[0], nd), fmt(s[2], nd))


def section(r):
    L = []
    faults = r["faults"]
    ok = not r["failures"]
    count = {k: sum(1 for f in faults if f["kind"] == k) for k, _ in KINDS}
    hours = fmt(r["hours"], 0) if float(r["hours"]).is_integer() else r["hours"]
    L.append("## Soak of a network stick")
    L.append("")
    L.append("link3g supervising the link of a simulated Huawei E3372h HiLink (`hilink`), an LTE stick that is a "
             "network card once switched (DHCP from the stick through the router's udhcpc on `eth1`, no pppd), for "
             "%s hours of the bench's clock at speed %s (%.1f minutes of real time), seed %s, while the link was "
             "broken %d times at random moments %s to %s bench minutes apart. Result: **%s**." % (
                 hours, r["speed"], r["real_seconds"] / 60.0, r["seed"], len(faults), fmt(r["gap_min"], 0),
                 fmt(r["gap_max"], 0), "every check passed" if ok else "%d check(s) failed" % len(r["failures"])))
    L.append("")
    L.append("Command (as root; builds the host preset first if needed):")
    L.append("")
    L.append("```sh")
    L.append(r["command"])
    L.append("```")
    L.append("")
    L.append("`scripts/soak --stick hilink [--hours H] [--speed S] [--seed N] [--journal DIR]` runs `bench/run "
             "--speed S --stick hilink --journal DIR -- /usr/bin/python3 bench/soak/netsoak.py`, the harness of "
             "the soak above with the network way's program, interface and name server. It sets the stick's "
             "lease to %d s (`usbsim set lease=%d`: udhcpc renews it every %d s, and it runs out at most %d s "
             "after the stick's DHCP server goes), starts `link3g --cmd 3g --3gCard AutoCheck --3gPin %s`, the "
             "router's command line for any stick (this one takes no PIN and no dial value: none may reach it), "
             "waits for the first link, and breaks the link only once it is settled (eth1 addressed, one "
             "udhcpc, the daemon's own DNS probe seen in the last seconds). Each sample (%s bench seconds apart, "
             "%d in all) looks at the daemon (alive, open descriptors, VmRSS, threads), its zombie children, the "
             "live udhcpc processes, eth1's address, whether the stick's relay (192.168.8.1, the lease's one "
             "name server) answers, and the status file's `mode` and `interface`; during a fault and its "
             "recovery it looks every half second. All samples are in `soak-samples.csv`, every figure in "
             "`soak-results.json` of the journal directory." % (
                 r["lease_s"], r["lease_s"], r["lease_s"] // 2, r["lease_s"], r["pin"], fmt(r["sample_s"], 0),
                 r["samples"]))
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
    fr, rr, tr = (r.get("fds_range") or [None, None], r.get("rss_range_kb") or [None, None],
                  r.get("threads_range") or [None, None])
    L.append("### The daemon over time")
    L.append("")
    L.append("| figure | after the first hour (%s s) | at the end (%s s) | range over all settled samples |" % (
        fmt(h.get("t"), 0), fmt(e.get("t"), 0)))
    L.append("|---|---|---|---|")
    L.append("| open descriptors | %s | %s | %s..%s |" % (h.get("fds"), e.get("fds"), fr[0], fr[1]))
    L.append("| VmRSS (kB) | %s | %s | %s..%s |" % (h.get("rss_kb"), e.get("rss_kb"), rr[0], rr[1]))
    L.append("| threads | %s | %s | %s..%s |" % (h.get("threads"), e.get("threads"), tr[0], tr[1]))
    L.append("")
    L.append("The descriptors at the end: %s. As on the PPP way: standard input, output and error, `/proc` (the "
             "process scan's directory), the bench clock's `faketime_shm` segment (not link3g's) and the "
             "one-daemon lock `/run/link3g.pid`; besides them the directory `/proc/PID` of the udhcpc found "
             "last, which the daemon holds while that udhcpc runs (the next pass asks it instead of scanning), "
             "and the one socket eth1's address is asked on. Counted as in the soak above (the median of five "
             "looks). RSS may differ by up to %d kB between the two samples; over the settled samples it stayed "
             "in %s..%s kB." % (
                 ", ".join("`%s`" % x for x in (e.get("fd_list") or [])), r.get("rss_slack_kb", 8), rr[0], rr[1]))
    L.append("")
    L.append("Processes: at most %d live udhcpc at any look (%d looks; a killed one on its way out, and udhcpc's own "
             "child between its fork and the script's exec, are not counted as live); two live udhcpc in two "
             "looks in a row: %d; zombie children of the daemon left unreaped for %s bench seconds: %d (%d caught "
             "in the instant before the daemon's wait). Over the run the daemon sent %d DNS probes (as the ISP's "
             "servers saw them through the stick's relay), started udhcpc %d times, ran %d bring-ups, %d forced "
             "restarts and %d resets of the stick; udhcpc's script set a lease %d times (bound and renewed) and "
             "took the address away %d times (deconfig: a lease lost, or a new udhcpc starting)." % (
                 r["max_live_udhcpc"], r["udhcpc_looks"], len(r["double_udhcpc"]), fmt(r["zombie_grace_s"], 0),
                 len(r["zombie_children"]), r["zombie_transient"], r["daemon_probes"], r["udhcpc_starts"],
                 r["bringups"], r["forced_restarts"], r["recovery"]["resets"], r["leases_set"], r["deconfigs"]))
    L.append("")
    L.append("The host's load average (1 min) was at most %s during the run (2 cores)." % r.get("max_load1"))
    L.append("")
    L.append("### Recovery")
    L.append("")
    L.append("From the reference moment to the daemon's first DNS probe on the restored link (any question but "
             "the harness's own, as the ISP's servers receive it from the stick's relay; the daemon probes only "
             "while eth1 has an address) after a new lease has set eth1's address (for every kind but `dns_dead`), "
             "with the harness seeing eth1 addressed and the relay answering. Bench seconds.")
    L.append("")
    L.append("| kind | from | n | min | median | max | bound (rules + stand-ins) |")
    L.append("|---|---|---|---|---|---|---|")
    parts = r["bound_parts"]
    rows = [("first_link", "`first_link`", [r["first_link"]])]
    for k, _ in KINDS:
        fs = [f for f in faults if f["kind"] == k]
        if k in ("lease_loss", "dns_dead"):
            # Judged with the reset's bound when a reset fell near the end.
            rows.append((k, "`%s`, no reset near the end" % k, [f for f in fs if "kind_bound" not in f]))
            rows.append((k + "_reset", "`%s`, stick reset near the end" % k, [f for f in fs if "kind_bound" in f]))
        else:
            rows.append((k, "`%s`" % k, fs))
    for k, name, fs in rows:
        s = spread([f.get("recovery_s") for f in fs])
        w, a = parts[k]
        if s:
            L.append("| %s | %s | %d | %s | %s | %s | %s (%s + %s) |" % (
                name, REF[k], s[3], fmt(s[0]), fmt(s[1]), fmt(s[2]), fmt(w + a), fmt(w), fmt(a)))
        else:
            L.append("| %s | %s | 0 | - | - | - | %s |" % (name, REF[k], fmt(w + a)))
    L.append("")
    ll = [f for f in faults if f["kind"] == "lease_loss"]
    dd = [f for f in faults if f["kind"] == "dns_dead"]
    hg = [f for f in faults if f["kind"] == "hang"]
    wa, wd = r["forced_restart_window_s"], r["dns_restart_window_s"]
    L.append("Forced restarts (`killall -9 udhcpc`, then `udhcpc -f -i eth1 -s /etc/ppp/udhcpc.script &`): in the "
             "%d lease losses eth1 lost its address %s s after the stick's DHCP server went, and the daemon "
             "restarted udhcpc %s s after that, %s (window %s..%s s: six counted passes without an address, the "
             "restart opening the next), and never again before the link was back: the link was no longer "
             "confirmed. With the name servers dead, %d of the %d outages (%s s long) brought one forced restart, "
             "%s s after the servers went dead (window %s..%s s: six unanswered probes of %d s, three 2 s attempts "
             "to the stick, the lease's one name server, each followed by the 2 s pause and from the third on the "
             "1 s trouble pause); each of the %d hangs brought one, %s s after `usbsim hang` (the same window; "
             "from %s s when the lease ran out first, as no renewal reaches a hung stick: the passes without an "
             "address count faster; %d of the hangs). The restarted udhcpc takes the address away (deconfig) "
             "before it asks again: on a live lease the stick offers it at once." % (
                 len(ll), span([f.get("address_lost_s") for f in ll]),
                 span([f.get("forced_restart_after_loss_s") for f in ll]),
                 "once each" if all(f.get("forced_restarts") == 1 for f in ll) else "see Failures",
                 fmt(wa[0]), fmt(wa[1]), sum(1 for f in dd if f.get("forced_restarts")), len(dd),
                 span([f.get("hold_s") for f in dd], 0), span([f.get("forced_restart_after_s") for f in dd]),
                 fmt(wd[0]), fmt(wd[1]), PROBE_FAIL, len(hg), span([f.get("forced_restart_after_s") for f in hg]),
                 fmt(wa[0]), sum(1 for f in hg if f.get("address_lost_s") is not None)))
    L.append("")
    stuck_section(L, r)
    L.append("")
    L.append("#### How the bounds are made")
    L.append("")
    L.append("The first figure of each bound is what the rules make it wait at worst: the supervisor's (a pass "
             "ends with a 2 s pause, plus 1 s once two probes in a row went unanswered, which stays until an "
             "answer; an unanswered probe is three 2 s attempts to the one name server; six counted failures of "
             "a confirmed link force a restart; a link is stuck %d s after the later of the last answer and the "
             "last bring-up's end, found at the end of a pass and up to a second late; the recovery kills "
             "udhcpc, resets the stick and waits 1 s, then up to 5 s for eth1, %d s at most), the bring-up's "
             "(this stick after a replug: 3 s after the driver reload, 6 s after the ejects, which do not switch "
             "it, 5 s after its switch file, 2 s after loading usbserial, %d s, and no wait of the network part: "
             "eth1 is there since the switch; the first one also loads usb-storage and, at its end, usbnet and "
             "cdc_ether, %d s with the one 1 s wait for eth1; after a reset the stick comes back switched: 3 + 2 "
             "= %d s) and those of DHCP (the stick's dnsmasq pings an address it holds no lease of for %d s "
             "before offering it: the first lease after a bring-up, whose stick lost its leases with its "
             "network, and the one after a lease ran out; busybox udhcpc without a lease sends %d discovers %d s "
             "apart, then waits %d s):" % (
                 STUCK, RESET_NODES, BRINGUP_REPLUG, BRINGUP_FIRST, BRINGUP_RESET, DHCP_PING, DISCOVERS,
                 DISCOVER_TIMEOUT, DHCP_TRYAGAIN))
    L.append("")
    L.append("- `first_link`: the first bring-up (%d s), a pass, the next pass starts udhcpc, the lease with the "
             "ping (%d s), the first pass after it probes: %d + 2 + %d + 2 s." % (
                 BRINGUP_FIRST, DHCP_PING, BRINGUP_FIRST, DHCP_PING))
    L.append("- `unplug`: the bring-up under way may just have found no stick (its 2 s), a pass, the bring-up after "
             "a replug (%d s), a pass, udhcpc, the lease with the ping, the first pass after it probes: 2 + 2 + "
             "%d + 2 + %d + 2 s." % (BRINGUP_REPLUG, BRINGUP_REPLUG, DHCP_PING))
    L.append("- `lease_loss`: udhcpc may have sent a discover just before the stick served again: it is lost "
             "(%d s), then udhcpc waits its %d s; the next discover is answered after the ping, the first pass after "
             "the lease probes: %d + %d + %d + 2 s (no trouble pause: the probes were answered until the address "
             "went). The stand-ins' part holds the stick's dnsmasq restarting on `usbsim set`." % (
                 DISCOVER_TIMEOUT, DHCP_TRYAGAIN, DISCOVER_TIMEOUT, DHCP_TRYAGAIN, DHCP_PING))
    L.append("- `lease_loss`, stick reset near the end: the link may be found stuck just before that lease would "
             "have come, or the reset's bring-up may still be under way: %d + %d s, then the recovery (the reset "
             "and the wait for eth1 %d s, the bring-up after a reset %d s, a pass, udhcpc, the lease with the ping "
             "%d s, a pass)." % (DISCOVER_TIMEOUT + DHCP_TRYAGAIN, DHCP_PING, RESET_NODES, BRINGUP_RESET, DHCP_PING))
    L.append("- `dns_dead`: the attempt under way may still time out (2 s), a pass with the trouble pause, and if a "
             "forced restart opens the next pass, its udhcpc's lease (the live one, no ping) and the first pass "
             "after it, with its trouble pause: 2 + 2 x (2 + 1) s.")
    L.append("- `dns_dead`, stick reset near the end: the outage's own figure and the recovery's (as above, each "
             "of its two passes with the trouble pause).")
    L.append("- `hang`: the last answer comes before `usbsim hang` returns (the stick's dnsmasq is stopped by then); "
             "the forced restart's udhcpc gets no lease, so the passes probe nothing but keep the trouble pause: "
             "%d s, the pass that finds the link stuck (1 + 2 s) and a second, then the recovery with its trouble "
             "pauses." % STUCK)
    L.append("")
    c, m, al = r["costs"], r["measured"], r["allowance_ms"]
    L.append("The second figure allows for what the bench's stand-ins cost in real time, which the clock at "
             "speed %s multiplies: %s real ms per pass, %s per bring-up, %s for udhcpc until eth1 has its "
             "address (udhcpc, its script's `ifconfig` and `route`, each journalled, and the stick's dnsmasq), "
             "%s for the stick's dnsmasq restarting after `usbsim set dhcp=serve`, %s for a recovery's killall and "
             "the simulated reset. Measured in this run against the allowances:" % (
                 r["speed"], fmt(al["pass"], 0), fmt(al["bringup"], 0), fmt(al["dhcp"], 0), fmt(al["serve"], 0),
                 fmt(al["reset"], 0)))
    L.append("")
    L.append("| stand-in cost | allowance | measured min / median / max (n) |")
    L.append("|---|---|---|")

    def mrow(name, allow, key, minus=0.0):
        s = m.get(key)
        L.append("| %s | %s s | %s |" % (name, fmt(allow, 2), "-" if not s else "%s / %s / %s (%d)" % (
            fmt(s["min"] - minus, 2), fmt(s["median"] - minus, 2), fmt(s["max"] - minus, 2), s["n"])))

    mrow("one pass beyond its 2 s pause (healthy link)", c["per_pass"], "pass_s", 2.0)
    mrow("udhcpc after a bring-up until eth1 has its lease, beyond the stick's %d s ping" % DHCP_PING, c["dhcp"],
         "dhcp_fresh_s")
    mrow("udhcpc of a forced restart until eth1 has its lease again (no ping)", c["dhcp"], "dhcp_known_s")
    mrow("a bring-up beyond its waits (to the udhcpc start, less a pass)", c["bringup"], "bringup_extra_s")
    mrow("a recovery's killall to its bring-up's first command, beyond 1 + 5 s", c["reset"], "reset_to_bringup_s",
         float(RESET_NODES))
    if r["failures"]:
        L.append("")
        L.append("### Failures")
        L.append("")
        for f in r["failures"]:
            L.append("- %s" % f)
    L.append("")
    return "\n".join(L)


def stuck_section(L, r):
    """The resets of the stick: the hangs' recovery and its parts, the lease
    losses that outlasted the 300 s."""
    rec, figs, parts = r["recovery"], r["recovery_figures"], r["bound_parts"]
    L.append("### Stuck links: resets of the stick")
    L.append("")
    h = figs["hang"]["recovery_s"]
    w, a = parts["hang"]
    if h:
        L.append("**Hangs: from each `usbsim hang` to the daemon's next answered probe, median %s s, worst %s s (%d "
                 "hangs), bound %s s** (%s of the rules + %s for the stand-ins)." % (
                     fmt(h["median"]), fmt(h["max"]), h["n"], fmt(w + a), fmt(w), fmt(a)))
    else:
        L.append("No hang in this run (bound %s s)." % fmt(w + a))
    L.append("")

    def mw(kind, key):
        x = figs[kind].get(key)
        return "-" if not x else "%s / %s" % (fmt(x["median"]), fmt(x["max"]))

    L.append("| bench seconds (median / worst) | `hang` |")
    L.append("|---|---|")
    for key, what in (("recovery_s", "`usbsim hang` returned to the next answered probe"),
                      ("last_answer_s", "the last answer, from `usbsim hang`'s return"),
                      ("forced_restart_after_s", "`usbsim hang` to the forced restart"),
                      ("reset_after_last_answer_s", "last answer to the reset"),
                      ("reset_to_bringup_s", "reset to the bring-up's first command"),
                      ("bringup_s", "bring-up and a pass (to udhcpc's start)"),
                      ("lease_s", "udhcpc's start to the answered probe (the lease, with the ping, and a pass)"),
                      ("answer_to_answer_s", "last answer to the next one")):
        L.append("| %s | %s |" % (what, mw("hang", key)))
    L.append("")
    q = rec.get("stuck_quiet_s")
    by = rec.get("resets_by_kind", {})
    ll = [f for f in r["faults"] if f["kind"] == "lease_loss"]
    reset_ll = [f for f in ll if f.get("resets")]
    lw, dw = r["lease_reset_window_s"], r["dns_reset_window_s"]
    L.append("The daemon reset the stick %d times (%s), each time with its one message (\"link3g: the link is "
             "stuck, no DNS answer for N s (WHY): reset the stick 12d1:14dc, bus 1 device 3.\"; N %s, WHY: %s); "
             "the status file counted recoveries=%s. Every reset was followed by an answer, so the ladder never "
             "climbed past %d s. Of the %d lease losses, %d outlasted the link's 300 s: each was reset once, %s s "
             "after the last answer (window %s..%s s: no address, so passes without a probe), and its bring-up's "
             "udhcpc got its lease once the stick served again; the others were back before. A DNS outage brings "
             "a reset %s..%s s after the servers went dead." % (
                 rec["resets"], ", ".join("%s %d" % kv for kv in sorted(by.items())) or "none",
                 "%d..%d" % (q["min"], q["max"]) if q else "-", ", ".join(rec["stuck_reasons"]) or "-",
                 rec["status_recoveries"], STUCK, len(ll), len(reset_ll),
                 span([f.get("reset_after_last_answer_s") for f in reset_ll]), fmt(lw[0]), fmt(lw[1]),
                 fmt(dw[0], 0), fmt(dw[1], 0)))
