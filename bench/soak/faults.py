"""The soak's fault kinds: each breaks a settled link in one way, then
watches the link come back (Soak.watch_recovery) and checks what the
daemon did on the way. Functions of a running Soak and the fault's record
(a dict that goes into the results as it is)."""
from outside import FRONTS, now, ppp0_address, run
from recoveries import forced_restart_times, recovery_times
from timing import dns_recovery_window, dns_restart_window, forced_restart_window

RECORD_HOLD = (60.0, 240.0)  # bench seconds serialcom stays without a record after a failed bring-up
FAILED_BRINGUP_WAIT = 600.0  # bench seconds a bring-up may take to fail


def pppd_kill(soak, fault):
    run(["killall", "-9", "pppd"])
    ref = now()
    fault["ref"] = "killall -9 pppd returned"
    soak.watch_recovery(fault, ref, True)


def addr_loss(soak, fault):
    run(["ip", "addr", "flush", "dev", "ppp0"])
    ref = now()
    fault["ref"] = "address flushed"
    soak.watch_recovery(fault, ref, True)
    kills = forced_restart_times(soak.daemon_commands(ref))
    lo, hi = forced_restart_window(soak.costs)
    fault["forced_restart_after_s"] = round(kills[0] - ref, 2) if kills else None
    if not kills or not lo - 0.5 <= kills[0] - ref <= hi:
        fault["ok"] = False
        soak.failures.append("addr_loss at %.0f s: forced restart %s, expected %.0f..%.0f s after the flush" % (
            fault["t"], "never" if not kills else "after %.1f s" % (kills[0] - ref), lo, hi))


def unplug(soak, fault):
    hold = soak.rng.uniform(60, 600)
    fault["hold_s"] = round(hold, 1)
    run(["usbsim", "unplug"])
    t_out = now()
    soak.pulls.append(t_out)
    soak.wait_until(t_out + hold, step=1.0, until=soak.look_only)
    # While the stick is out no pppd may be left and ppp0 is gone.
    fault["pppd_while_out"] = soak.pppd_obs[-1][1] if soak.pppd_obs else None
    fault["ppp0_while_out"] = ppp0_address() or ""
    fault["bringups_while_out"] = sum(1 for _, c in soak.daemon_commands(t_out) if c == "rmmod usbserial")
    run(["usbsim", "replug"])
    ref = now()
    fault["ref"] = "usbsim replug returned"
    if fault["pppd_while_out"] or fault["ppp0_while_out"]:
        soak.failures.append("unplug at %.0f s: with the stick out, pppd %s, ppp0 %r" % (
            fault["t"], fault["pppd_while_out"], fault["ppp0_while_out"]))
    soak.watch_recovery(fault, ref, True)
    fault["switch_files_run"] = sum(1 for _, c in soak.daemon_commands(ref, ref + fault["recovery_s"])
                                    if c.startswith("/bin/modemswitch -c")) if fault["recovery_s"] else None


def dns_dead(soak, fault):
    # Half the outages end before a forced restart is due, half after; the
    # longer ones may also outlast the 300 s after which the stick is reset.
    hold = soak.rng.uniform(20, 80) if soak.rng.random() < 0.5 else soak.rng.uniform(120, 600)
    fault["hold_s"] = round(hold, 1)
    for a in FRONTS:
        run(["ispdns", "mode", a, "drop"])
    soak.dns_mode = "drop"
    t_dead = now()
    soak.wait_until(t_dead + hold, step=1.0, until=soak.look_only)
    for a in FRONTS:
        run(["ispdns", "mode", a, "relay"])
    soak.dns_mode = "relay"
    ref = now()
    fault["ref"] = "name servers relaying again"
    kills = [t - t_dead for t in forced_restart_times(soak.daemon_commands(t_dead, ref))]
    fault["forced_restarts"] = len(kills)
    fault["forced_restart_after_s"] = round(kills[0], 1) if kills else None
    lo, hi = dns_restart_window(soak.costs)
    expect = [1] if hold > hi else [0] if hold < lo else [0, 1]
    rlo, rhi = dns_recovery_window(soak.costs)
    expect_r = [1] if hold > rhi else [0] if hold < rlo else [0, 1]
    # An outage that may outlast 300 s may bring a reset, perhaps still
    # under way when the servers come back: the bound then holds the reset's
    # bring-up and dial too.
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


def check_one_reset(soak, fault, since):
    """The fault's recovery reset the stick once, after `since`."""
    back = since + (fault["recovery_s"] or 0)
    resets = [t for t in recovery_times(soak) if since < t <= back]
    fault["resets"] = len(resets)
    fault["reset_s"] = round(resets[0] - since, 1) if resets else None
    if fault["recovery_s"] is not None and len(resets) != 1:
        fault["ok"] = False
        soak.failures.append("%s at %.0f s: %d resets of the stick before the link came back, expected 1" % (
            fault["kind"], fault["t"], len(resets)))
    if resets and fault["recovery_s"] is not None:
        # The recovery's parts: the reset and the wait for the nodes (to
        # the bring-up's first command), the bring-up and the pass after it
        # (to pppd's start), the dial (to the answered probe).
        cmds = soak.daemon_commands(resets[0], back)
        begun = next((t for t, c in cmds if c == "rmmod usbserial"), None)
        dialled = next((t for t, c in cmds if c.startswith("pppd file ")), None)
        if begun is not None and dialled is not None:
            fault["reset_to_bringup_s"] = round(begun - resets[0], 2)
            fault["bringup_s"] = round(dialled - begun, 2)
            fault["dial_s"] = round(back - dialled, 2)
    return resets


def hang(soak, fault):
    """The stick's firmware hangs: nothing mends it but the reset, 300 s
    after the last answered probe."""
    run(["usbsim", "hang"])
    ref = now()
    fault["ref"] = "usbsim hang returned"
    soak.watch_recovery(fault, ref, True)
    resets = check_one_reset(soak, fault, ref)
    # (pppd may notice before usbsim has returned.)
    lost = [t for t, _ in soak.hang_notes if t >= ref - 5]
    fault["address_lost_s"] = round(lost[0] - ref, 2) if lost else None
    if resets:
        answered = [t for t in soak.probe_times if t < resets[0]]
        last = answered[-1] if answered else None
        fault["last_answer_s"] = round(last - ref, 2) if last is not None else None
        fault["reset_after_last_answer_s"] = round(resets[0] - last, 2) if last is not None else None
        if fault["recovery_s"] is not None and last is not None:
            fault["answer_to_answer_s"] = round(ref + fault["recovery_s"] - last, 2)
    fault["forced_restarts"] = len(forced_restart_times(soak.daemon_commands(ref, resets[0] if resets else None)))


def wait_failed_bringup(soak, since):
    """The end of the bring-up that found no record: its last command, the
    killall of serialcom after its last look for the record."""
    def failed():
        for t, c in soak.daemon_commands(since):
            if c == "killall -9 serialcom":
                return t
        return None
    return soak.wait_until(since + FAILED_BRINGUP_WAIT, step=1.0, until=failed)


def no_record_then_record(soak, fault, since):
    """serialcom finds no record until the bring-up begun after `since` has
    failed, and for RECORD_HOLD more; then the record is there again. Watches
    the recovery from the failed bring-up's end."""
    failed = wait_failed_bringup(soak, since)
    if failed is None:
        run(["usbsim", "set", "serialcom=record"])
        fault.update({"recovery_s": None, "ok": False, "bound_s": round(soak.bound[fault["kind"]], 1)})
        soak.failures.append("%s at %.0f s: the bring-up without a record never ended" % (fault["kind"], fault["t"]))
        return
    fault["failed_bringup_s"] = round(failed - since, 1)
    hold = soak.rng.uniform(*RECORD_HOLD)
    fault["hold_s"] = round(hold, 1)
    soak.wait_until(failed + hold, step=1.0, until=soak.look_only)
    run(["usbsim", "set", "serialcom=record"])
    fault["ref"] = "the failed bring-up's end"
    soak.watch_recovery(fault, failed, True)
    check_one_reset(soak, fault, failed)


def no_record(soak, fault):
    """A bring-up (after a replug) that finds no operator record: the nodes
    stay, nothing is configured, and only the reset 300 s later brings it
    up again."""
    run(["usbsim", "set", "serialcom=never"])
    run(["usbsim", "replug"])
    soak.pulls.append(now())
    no_record_then_record(soak, fault, now())


def at_port_hang(soak, fault):
    """The stick's second AT port stops answering (its status side hangs)
    while the link carries on: the radio's reads wait out their time, and
    the link must not notice. No pppd is started, no stick reset."""
    hold = soak.rng.uniform(60, 600)
    fault["hold_s"] = round(hold, 1)
    t_hung = now()
    run(["usbsim", "set", "status_mode=silent"])
    soak.wait_until(t_hung + hold, step=1.0, until=soak.look_only)
    run(["usbsim", "set", "status_mode=answer"])
    ref = now()
    fault["ref"] = "the AT port answering again"
    soak.watch_recovery(fault, ref, False)
    touched = [c for _, c in soak.daemon_commands(t_hung, ref) if c.startswith(("pppd ", "killall"))]
    resets = [t for t in recovery_times(soak) if t_hung < t <= ref]
    fault["link_commands"] = len(touched)
    fault["resets"] = len(resets)
    if touched or resets:
        fault["ok"] = False
        soak.failures.append("at_port_hang at %.0f s: the link was touched while the AT port was silent (%s, %d resets)"
                             % (fault["t"], touched, len(resets)))


FAULTS = {"pppd_kill": pppd_kill, "addr_loss": addr_loss, "unplug": unplug, "dns_dead": dns_dead,
          "hang": hang, "no_record": no_record, "at_port_hang": at_port_hang}
KINDS = tuple(FAULTS)
