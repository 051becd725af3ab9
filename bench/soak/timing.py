"""The soak's timing model: the supervisor's own waits and the bound each
kind of fault's recovery may take (bench seconds)."""

# The supervisor's own waits, bench seconds (src/monitor/supervisor.cpp,
# src/dns/dns_probe.cpp, src/ppp/link_bringup.cpp, src/usb/).
PASS = 2.0          # pause between passes
DNS_PAUSE = 1.0     # extra pause per pass after two unanswered probes
ATTEMPT = 2.0       # one unanswered DNS attempt (select timeout)
PROBE_FAIL = 6 * ATTEMPT  # an unanswered probe: three attempts per server
# serialcom (card name AutoCheck): the bring-up looks for the record every
# 2 s; the stand-in writes it 3 s after its start, so the second look reads
# it.
RECORD_POLL = 2
SERIALCOM_DELAY = 3
SERIALCOM = 2 * RECORD_POLL
# A bring-up that finds no record: 16 looks, each 2 s and, when serialcom
# has ended without one, 1 s after starting it again.
SERIALCOM_FAILED = 16 * (RECORD_POLL + 1)
# A bring-up of the ZTE MF626 after a replug (usb-storage stays loaded):
# driver reload 3 s, eject 6 s, two switch files 5 s each, usbserial 2 s,
# serialcom, final pause 3 s.
BRINGUP_REPLUG = 3 + 6 + 5 + 5 + 2 + SERIALCOM + 3
# The first bring-up also loads usb-storage (6 s).
BRINGUP_FIRST = BRINGUP_REPLUG + 6
# A bring-up after a reset: the stick is back as a modem, so driver reload
# 3 s, usbserial 2 s, serialcom, final pause 3 s.
BRINGUP_RESET = 3 + 2 + SERIALCOM + 3
# A bring-up with no stick on the bus: reload 3 s, no ids, 2 s.
BRINGUP_EMPTY = 3 + 2
# The operator record of the soak's stick (zte-mf626 op_apn, op_dial), whose
# values the chat script dials with.
RECORD_APN, RECORD_DIAL = "3gnet", "*99#"
# comgt's own waits in the chat script the daemon writes: waitquiet 1 s, then
# the characters sent at 50 ms each: "AT", "AT+CFUN=1",
# 'AT+CGDCONT=1,"IP","APN",,0,0', "ATDTNUMBER", each with its carriage
# return (44 characters and the APN and the number).
CHAT_WAITS = 1 + (44 + len(RECORD_APN) + len(RECORD_DIAL)) * 0.05
# A stuck link: no answer for 300 s (the first rung of the ladder; each
# recovery of the soak is answered, so the ladder never climbs). The pass
# that finds it ends up to a pass and a second late (whole seconds of the
# monotonic clock). After the reset: 1 s, then up to 5 s for the nodes.
STUCK = 300
# After a bring-up that found the modem, the pass that starts pppd looks
# for the stick's second AT port: zte-mf626's silent ttyUSB0 takes its
# whole wait (2 s) before ttyUSB1 answers. A port that stops answering
# costs a read the same, once a minute.
AT_WAIT = 2.0
RESET_NODES = 1 + 5


def bounds(costs):
    """The time each kind of fault may take to recover, from its reference
    moment (kill, flush, replug, name servers back) to the daemon's first
    probe on the new link: (waits of the supervisor's rules, allowance for
    the stand-ins). `costs` are bench seconds:
      up_chat  pppd started with options.ppp3g until ppp0 is up, beyond
               comgt's own waits (CHAT_WAITS, counted with the rules)
      up_ex    pppd started with options.ppp3g.ex until ppp0 is up (no chat)
      per_pass what the commands of one pass cost beyond its pauses (process
               scan, node and address checks, one answered probe)
      bringup  what the commands of one bring-up cost beyond its waits
               (about fifteen stand-ins: module tools, eject, modemswitch)
      serialcom what serialcom costs beyond its 3 s (its record written late)
      hang_notice  the pppd stand-in noticing a hung modem and flushing
               ppp0 (DNS answers until then)
      reset    a recovery's `killall -9 pppd` and the simulated kernel's
               reset of the stick, before the daemon waits for the nodes
    Every pass boundary below may come up to one pass late, so each pass
    is counted as PASS + per_pass.
    """
    u_chat, u_ex, c = costs["up_chat"], costs["up_ex"], costs["per_pass"]
    # A record written late is read at the next look for it.
    s = costs["serialcom"] + SERIALCOM_DELAY + RECORD_POLL - SERIALCOM
    h = costs["hang_notice"]
    b = costs["bringup"] + s  # every bring-up runs serialcom
    out = {}
    # pppd killed: the pass under way ends (at worst it had just found the
    # old pppd: <= PASS), the next one starts pppd (either options file; the
    # chat is the longer), and the first pass after ppp0 is up probes
    # (<= PASS after that).
    out["pppd_kill"] = (2 * PASS + CHAT_WAITS, 3 * c + u_chat)
    # ppp0 without address: the pass under way may have just seen the
    # address; six passes count a failure each; the next opens with the
    # forced restart (killall -9, pppd .ex); the first pass after ppp0 is up
    # probes.
    out["addr_loss"] = (8 * PASS, 9 * c + u_ex)
    # Replug: the bring-up under way has at worst just found no stick (its
    # 2 s wait), a pass, the full bring-up, a pass, pppd started, the first
    # pass after ppp0 is up probes.
    out["unplug"] = (2 + PASS + BRINGUP_REPLUG + PASS + AT_WAIT + CHAT_WAITS + PASS, 5 * c + b + u_chat)
    # Name servers back: the attempt under way may still time out (the
    # sixth of its probe), a pass with its trouble pause; a forced restart
    # may open the next pass, whose trouble pause lets the new pppd (.ex)
    # come up, else one more pass with its pause.
    out["dns_dead"] = (ATTEMPT + 2 * PASS + 2 * DNS_PAUSE, 4 * c + u_ex)
    # From the start: the first bring-up, a pass starts pppd (options.ppp3g),
    # the first pass after ppp0 is up probes.
    out["first_link"] = (BRINGUP_FIRST + PASS + AT_WAIT + CHAT_WAITS, 3 * c + b + u_chat)
    # The reset and what follows it: killall, the reset and the wait for the
    # nodes, the bring-up, a pass, pppd started (with chat, the longer), the
    # first pass after ppp0 is up probes.
    recovery = (RESET_NODES + BRINGUP_RESET + PASS + AT_WAIT + CHAT_WAITS + PASS,
                costs["reset"] + 3 * c + b + u_chat)
    # No record after a replug: from the failed bring-up's end, 300 s, the
    # pass that finds it stuck, the recovery.
    # (The bring-up ends after its killall of serialcom, which is counted
    # as a pass's commands.)
    out["no_record"] = (STUCK + PASS + 1 + recovery[0], 3 * c + recovery[1])
    # A hang: the last answer may come until the pppd stand-in has noticed
    # (then as for no record, counted from the last answer).
    out["hang"] = (out["no_record"][0], h + out["no_record"][1])
    # Name servers back while a reset is under way (an outage longer than
    # 300 s): the outage's own bound and the recovery's.
    out["dns_dead_reset"] = (out["dns_dead"][0] + recovery[0], out["dns_dead"][1] + recovery[1])
    # The second AT port answering again: the link never went; the pass
    # under way may hold the last silent read, the next one probes.
    out["at_port_hang"] = (AT_WAIT + 2 * PASS, 2 * c)
    return out


def forced_restart_window(costs):
    """From the moment ppp0 loses its address to the daemon's forced restart:
    at least six passes (the failure counted in the pass under way, five
    more, the restart opens the next), at most seven (the pass under way had
    just seen the address)."""
    c = costs["per_pass"]
    return 6 * PASS - 0.5, 7 * (PASS + c) + c


def dns_restart_window(costs):
    """From the name servers going dead to the forced restart: six counted
    passes, each an unanswered probe (six attempts) and a pause, the trouble
    pause from the third on; at most one pass more when the pass under way
    had just had its answer."""
    c = costs["per_pass"]
    lo = 6 * (PROBE_FAIL + PASS) + 4 * DNS_PAUSE - 0.5
    hi = 7 * (PASS + c) + 6 * PROBE_FAIL + 4 * DNS_PAUSE + c
    return lo, hi


def dns_recovery_window(costs):
    """From the name servers going dead to the reset of the stick: 300 s
    after the last answer (the pass under way may have had it, a pass
    before), found at the end of a pass: an unanswered probe, its pause and
    the trouble pause, and a second for the whole-second clock; the reset
    is seen once the recovery's killall and the reset itself have run."""
    c = costs["per_pass"]
    return STUCK - PASS - c - 1, STUCK + PROBE_FAIL + PASS + DNS_PAUSE + 2 * c + 1 + costs["reset"]


def median(xs):
    xs = sorted(xs)
    if not xs:
        return None
    n = len(xs)
    return xs[n // 2] if n % 2 else (xs[n // 2 - 1] + xs[n // 2]) / 2


def spread(xs, nd=2):
    """min, median, max (rounded), n."""
    if not xs:
        return None
    return {"min": round(min(xs), nd), "median": round(median(xs), nd), "max": round(max(xs), nd), "n": len(xs)}

