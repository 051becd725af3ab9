"""The fault kinds of a network stick's soak (netsoak.py): each breaks a
settled link in one way, watches it come back (Soak.watch_recovery) and
checks what the daemon did on the way. Functions of a running NetSoak and
the fault's record (a dict that goes into the results as it is)."""
from outside import FRONTS, now, run
from nettiming import (dns_reset_window, dns_restart_window, lease_reset_window, recovery)
from recoveries import recovery_times
from timing import forced_restart_window

UDHCPC = "udhcpc -f -i eth1 -s /etc/ppp/udhcpc.script &"
KILL = "killall -9 udhcpc"
# How long the stick serves no DHCP. The lease runs out within 120 s of its
# last renewal, so at most 120 s after the DHCP went (usually 60 s or more
# after it: udhcpc renews every minute, but a renewal may take a retry);
# the probes are answered until then, and the link is stuck 300 s after the
# last answer. So the shorter outages end before the link is stuck or about
# then, the longer ones after it, once the reset is due; the longest ends
# (and its lease comes) before the second rung, 600 s after the reset's
# bring-up, at least 900 s after the DHCP went: each lease loss is mended
# by one reset at most. Whether one was due is judged from the times seen.
LEASE_SHORT = (150.0, 300.0)
LEASE_LONG = (420.0, 780.0)


def forced_restarts(cmds):
    """Times of the designed forced restarts among the daemon's commands: a
    `killall -9 udhcpc` followed at once by udhcpc again. (A recovery's
    killall is followed by the reset and its bring-up; the one for a stick
    that went runs in the background, `killall -9 udhcpc &`.)"""
    return [t for (t, c), (_, nxt) in zip(cmds, cmds[1:]) if c == KILL and nxt == UDHCPC]


def bringup_starts(cmds):
    """Times of every bring-up's first command: the serial drivers'
    reload opens each (`rmmod usbserial` then `rmmod cdc-acm`; the network
    part's own `rmmod usbserial` comes later, alone)."""
    return [t for (t, c), (_, nxt) in zip(cmds, cmds[1:]) if c == "rmmod usbserial" and nxt == "rmmod cdc-acm"]


def set_dhcp(soak, mode):
    run(["usbsim", "set", "dhcp=" + mode])
    soak.dhcp_mode = mode


def set_dns(soak, mode):
    for a in FRONTS:
        run(["ispdns", "mode", a, mode])
    soak.dns_mode = mode


def recovery_parts(soak, fault, reset, back):
    """A recovery's parts, from the reset: to the bring-up's first command
    (the reset and the wait for eth1), the bring-up and the pass after it
    (to udhcpc's start), the lease and the pass after it (to the answered
    probe)."""
    cmds = soak.daemon_commands(reset, back)
    begun = next(iter(bringup_starts(cmds)), None)
    started = next((t for t, c in cmds if c == UDHCPC and begun is not None and t > begun), None)
    if begun is not None and started is not None:
        fault["reset_to_bringup_s"] = round(begun - reset, 2)
        fault["bringup_s"] = round(started - begun, 2)
        fault["lease_s"] = round(back - started, 2)


def last_answer_before(soak, t):
    answered = [p for p in soak.probe_times if p < t]
    return answered[-1] if answered else None


def lease_loss(soak, fault):
    """The stick's DHCP server goes (`usbsim set dhcp=off`) for 150..300 s
    or 420..780 s, half each, and comes back (`dhcp=serve`). The lease runs
    out within its 120 s (udhcpc's deconfig takes the address away); six
    passes later the daemon restarts udhcpc, once (the link is no longer
    confirmed); 300 s after the last answer the link is stuck and the stick
    reset, once, for the longer ones, whose bring-up's udhcpc gets no lease
    either until the stick serves again."""
    span = LEASE_LONG if soak.rng.random() < 0.5 else LEASE_SHORT
    hold = soak.rng.uniform(*span)
    fault["hold_s"] = round(hold, 1)
    t_off = now()
    set_dhcp(soak, "off")
    soak.wait_until(t_off + hold, step=1.0, until=soak.look_only)
    set_dhcp(soak, "serve")
    ref = now()
    fault["ref"] = "usbsim set dhcp=serve returned"
    soak.read_journals()
    lost = [t for t in soak.deconfigs if t_off < t <= ref]
    fault["address_lost_s"] = round(lost[0] - t_off, 2) if lost else None
    last = last_answer_before(soak, lost[0] if lost else ref)
    fault["last_answer_s"] = round(last - t_off, 2) if last is not None else None
    # Judged by the bound with a reset until the watch shows none came near
    # the end (as for a long outage of the name servers).
    fault["kind_bound"] = "lease_loss_reset"
    soak.watch_recovery(fault, ref, True)
    back = ref + fault["recovery_s"] if fault["recovery_s"] is not None else now()
    rec = recovery(soak.costs, False)
    rec_s = rec[0] + rec[1]
    resets = [t for t in recovery_times(soak) if t_off < t <= back]
    late = [t for t in resets if t > ref - rec_s]
    fault["resets"] = len(resets)
    fault["reset_after_last_answer_s"] = round(resets[0] - last, 1) if resets and last is not None else None
    if resets:
        recovery_parts(soak, fault, resets[0], back)
    if not late and fault["recovery_s"] is not None:
        del fault["kind_bound"]
        fault["bound_s"] = round(soak.bound["lease_loss"], 1)
        if fault["ok"] and fault["recovery_s"] > soak.bound["lease_loss"]:
            fault["ok"] = False
            soak.failures.append("lease_loss at %.0f s: link back after %.1f s, bound %.1f s" % (
                fault["t"], fault["recovery_s"], soak.bound["lease_loss"]))
    kills = forced_restarts(soak.daemon_commands(t_off, back))
    fault["forced_restarts"] = len(kills)
    fault["forced_restart_after_loss_s"] = round(kills[0] - lost[0], 2) if kills and lost else None

    def fail(why):
        fault["ok"] = False
        soak.failures.append("lease_loss at %.0f s (DHCP off %.0f s): %s" % (fault["t"], hold, why))

    if not lost:
        fail("eth1 kept its address")
    lo, hi = forced_restart_window(soak.costs)
    if lost and (len(kills) != 1 or not lo - 0.5 <= kills[0] - lost[0] <= hi):
        fail("forced restarts %s s after the address went, expected one after %.0f..%.0f s" % (
            [round(k - lost[0], 1) for k in kills], lo, hi))
    rlo, rhi = lease_reset_window(soak.costs)
    if last is not None:
        # Sure to be stuck: the stick still served nothing once the reset
        # was due; sure not to be: the link was back before it could be.
        expect = [1] if ref > last + rhi else [0] if back < last + rlo else [0, 1]
        if len(resets) not in expect or (resets and not rlo <= resets[0] - last <= rhi):
            fail("stick reset %s s after the last answer, expected %s (first %.0f..%.0f s)" % (
                [round(r - last, 1) for r in resets], " or ".join(map(str, expect)), rlo, rhi))


def hang(soak, fault):
    """The stick hangs (`usbsim hang`): its DHCP server and DNS relay answer
    nothing, eth1 stays. Six unanswered probes (or passes without an address,
    once the lease has run out) bring one forced restart,
    whose udhcpc takes the address away and gets none; only the reset 300 s
    after the last answer mends it."""
    t_cmd = now()
    run(["usbsim", "hang"])
    ref = now()
    fault["ref"] = "usbsim hang returned"
    soak.watch_recovery(fault, ref, True)
    back = ref + fault["recovery_s"] if fault["recovery_s"] is not None else now()
    resets = [t for t in recovery_times(soak) if ref < t <= back]
    fault["resets"] = len(resets)
    fault["reset_s"] = round(resets[0] - ref, 1) if resets else None
    last = last_answer_before(soak, ref)
    fault["last_answer_s"] = round(last - ref, 2) if last is not None else None
    if resets and last is not None:
        fault["reset_after_last_answer_s"] = round(resets[0] - last, 2)
        recovery_parts(soak, fault, resets[0], back)
    if fault["recovery_s"] is not None and last is not None:
        fault["answer_to_answer_s"] = round(back - last, 2)
    kills = forced_restarts(soak.daemon_commands(t_cmd, resets[0] if resets else back))
    fault["forced_restarts"] = len(kills)
    fault["forced_restart_after_s"] = round(kills[0] - t_cmd, 1) if kills else None
    # Six unanswered probes; but no renewal reaches a hung stick, and when
    # the lease runs out first the passes without an address count faster:
    # as few as six short passes when it ran out at once.
    lost = [t for t in soak.deconfigs if t_cmd < t < (kills[0] if kills else back)]
    fault["address_lost_s"] = round(lost[0] - t_cmd, 1) if lost else None
    lo, hi = dns_restart_window(soak.costs)
    if lost:
        lo = forced_restart_window(soak.costs)[0]
    if fault["recovery_s"] is not None and len(resets) != 1:
        fault["ok"] = False
        soak.failures.append("hang at %.0f s: %d resets of the stick before the link came back, expected 1" % (
            fault["t"], len(resets)))
    if len(kills) != 1 or not t_cmd + lo <= kills[0] <= ref + hi:
        fault["ok"] = False
        soak.failures.append("hang at %.0f s: forced restarts after %s s, expected one after %.0f..%.0f s" % (
            fault["t"], [round(k - t_cmd, 1) for k in kills], lo, hi))


def dns_dead(soak, fault):
    """Both ISP name servers behind the stick's relay drop every query for
    15..45 s or 2..10 min, half each: before and after a forced restart is
    due; the longer ones may also outlast the 300 s after which the stick
    is reset."""
    hold = soak.rng.uniform(15, 45) if soak.rng.random() < 0.5 else soak.rng.uniform(120, 600)
    fault["hold_s"] = round(hold, 1)
    set_dns(soak, "drop")
    t_dead = now()
    soak.wait_until(t_dead + hold, step=1.0, until=soak.look_only)
    set_dns(soak, "relay")
    ref = now()
    fault["ref"] = "name servers relaying again"
    kills = [t - t_dead for t in forced_restarts(soak.daemon_commands(t_dead, ref))]
    fault["forced_restarts"] = len(kills)
    fault["forced_restart_after_s"] = round(kills[0], 1) if kills else None
    lo, hi = dns_restart_window(soak.costs)
    expect = [1] if hold > hi else [0] if hold < lo else [0, 1]
    rlo, rhi = dns_reset_window(soak.costs)
    expect_r = [1] if hold > rhi else [0] if hold < rlo else [0, 1]
    if expect_r != [0]:
        fault["kind_bound"] = "dns_dead_reset"
    soak.watch_recovery(fault, ref, False)
    resets = [t - t_dead for t in recovery_times(soak) if t_dead < t <= ref + (fault["recovery_s"] or 0)]
    fault["resets"] = len(resets)
    fault["reset_after_s"] = round(resets[0], 1) if resets else None
    if not resets and fault["recovery_s"] is not None and "kind_bound" in fault:
        del fault["kind_bound"]  # no reset: judged by the outage's own bound
        fault["bound_s"] = round(soak.bound["dns_dead"], 1)
        if fault["ok"] and fault["recovery_s"] > soak.bound["dns_dead"]:
            fault["ok"] = False
            soak.failures.append("dns_dead at %.0f s: link back after %.1f s, bound %.1f s" % (
                fault["t"], fault["recovery_s"], soak.bound["dns_dead"]))
    if len(kills) not in expect or (kills and not lo - 0.5 <= kills[0] <= hi):
        fault["ok"] = False
        soak.failures.append("dns_dead at %.0f s for %.0f s: forced restarts after %s s, expected %s (first %.0f..%.0f s)" % (
            fault["t"], hold, [round(k, 1) for k in kills], " or ".join(map(str, expect)), lo, hi))
    if len(resets) not in expect_r or (resets and not rlo <= resets[0] <= rhi):
        fault["ok"] = False
        soak.failures.append("dns_dead at %.0f s for %.0f s: stick reset after %s s, expected %s (first %.0f..%.0f s)" % (
            fault["t"], hold, [round(r, 1) for r in resets], " or ".join(map(str, expect_r)), rlo, rhi))


def unplug(soak, fault):
    """The stick pulled (`usbsim unplug`) for 1..10 min, then put back
    (`usbsim replug`): eth1 goes with it, udhcpc must be killed, and the
    bring-up after the replug switches the stick again."""
    hold = soak.rng.uniform(60, 600)
    fault["hold_s"] = round(hold, 1)
    # (eth1 goes, and the daemon may notice, before usbsim has returned.)
    t_cmd = now()
    run(["usbsim", "unplug"])
    t_out = now()
    soak.wait_until(t_out + hold, step=1.0, until=soak.look_only)
    fault["udhcpc_while_out"] = soak.pppd_obs[-1][1] if soak.pppd_obs else None
    fault["address_while_out"] = soak.link_address() or ""
    cmds = soak.daemon_commands(t_cmd)
    fault["bringups_while_out"] = len(bringup_starts(cmds))
    killed = [t for t, c in cmds if c == KILL + " &"]
    fault["udhcpc_killed_s"] = round(killed[0] - t_cmd, 2) if killed else None
    run(["usbsim", "replug"])
    ref = now()
    fault["ref"] = "usbsim replug returned"
    if fault["udhcpc_while_out"] or fault["address_while_out"] or not killed:
        soak.failures.append("unplug at %.0f s: with the stick out, udhcpc %s (killed: %s), eth1 %r" % (
            fault["t"], fault["udhcpc_while_out"], "yes" if killed else "no", fault["address_while_out"]))
    soak.watch_recovery(fault, ref, True)
    if fault["recovery_s"] is not None:
        fault["switch_files_run"] = sum(1 for _, c in soak.daemon_commands(ref, ref + fault["recovery_s"])
                                        if c.startswith("/bin/modemswitch -c"))


FAULTS = {"lease_loss": lease_loss, "hang": hang, "dns_dead": dns_dead, "unplug": unplug}
KINDS = tuple(FAULTS)
