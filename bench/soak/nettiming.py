"""The timing model of a network stick's soak (netsoak.py): the waits of
the supervisor, of the hilink stick's bring-up and of its DHCP, and the
bound each kind of fault's recovery may take (bench seconds). The
supervisor's own waits are those of timing.py: the same passes run with
udhcpc for pppd and eth1 for ppp0."""
from timing import ATTEMPT, DNS_PAUSE, PASS, RESET_NODES, STUCK

# The lease's resolv.conf names one name server, the stick (192.168.8.1):
# an unanswered probe is its three attempts, no second server is asked.
PROBE_FAIL = 3 * ATTEMPT
# Bring-ups of the hilink stick (src/usb/modem_init.cpp, switch_files.cpp,
# ppp/net_bringup.cpp). After a replug (usb-storage, usbnet and cdc_ether
# stay loaded): driver reload 3 s, the ejects 6 s (they do not switch this
# stick), its switch file 5 s, usbserial for its ids 2 s; the network part
# has no wait of its own, eth1 being there since the switch, and no final
# pause.
BRINGUP_REPLUG = 3 + 6 + 5 + 2
# The first one also loads usb-storage (6 s), then usbnet and cdc_ether at
# its end, whose eth1 may take the network part's first 1 s wait.
BRINGUP_FIRST = BRINGUP_REPLUG + 6 + 1
# After a reset the stick comes back switched: driver reload 3 s, usbserial
# 2 s.
BRINGUP_RESET = 3 + 2
# With no stick on the bus: reload 3 s, no ids, 2 s.
BRINGUP_EMPTY = 3 + 2
# The stick's dnsmasq pings an address it holds no lease of before it
# offers it, 3 s: the first udhcpc after a bring-up (the stick's leases go
# with its network on a reset or an unplug) and the one after a lease that
# ran out. A udhcpc restarted on a live lease is offered it at once.
DHCP_PING = 3
# busybox udhcpc without a lease: three discovers 3 s apart, then 20 s
# before the next three. A discover sent just before the stick serves
# again is lost: its 3 s, then the 20 s.
DISCOVER_TIMEOUT, DISCOVERS, DHCP_TRYAGAIN = 3, 3, 20
DHCP_RETRY = DISCOVER_TIMEOUT + DHCP_TRYAGAIN


def recovery(costs, trouble):
    """A stuck link's recovery, from the pass that finds it stuck to the
    probe on the new lease: the killall, the reset and the wait for eth1,
    the bring-up after a reset, a pass; the next pass starts udhcpc, the
    lease with the ping, the first pass after it probes. With `trouble`
    (probes went unanswered before: the daemon's count of them stays until
    an answer) each of those two passes opens with the 1 s trouble pause."""
    p = DNS_PAUSE if trouble else 0
    c = costs["per_pass"]
    return (RESET_NODES + BRINGUP_RESET + PASS + p + DHCP_PING + PASS + p,
            costs["reset"] + costs["bringup"] + costs["dhcp"] + 3 * c)


def bounds(costs):
    """The time each kind of fault may take to recover, from its reference
    moment to the daemon's first probe on the restored link: (waits of the
    rules, allowance for the stand-ins). `costs` are bench seconds:
      per_pass  what the commands of one pass cost beyond its pauses
      bringup   what the commands of one bring-up cost beyond its waits
      dhcp      udhcpc started until eth1 has its address, beyond the
                stick's ping (udhcpc and its script's ifconfig and routes,
                the stick's dnsmasq)
      serve     `usbsim set dhcp=serve` returned until the stick's
                restarted dnsmasq answers
      reset     a recovery's `killall -9 udhcpc` and the simulated reset,
                before the daemon waits for eth1
    A udhcpc started by a pass leases after DHCP_PING and `dhcp`; the first
    pass after that probes, at most a pass (PASS + per_pass) later.
    """
    c, d, b = costs["per_pass"], costs["dhcp"], costs["bringup"]
    out = {}
    # From the start: the first bring-up, a pass, the next starts udhcpc,
    # the lease with the ping, the first pass after it probes.
    out["first_link"] = (BRINGUP_FIRST + PASS + DHCP_PING + PASS, b + d + 3 * c)
    # Replug: the bring-up under way may just have found no stick (its 2 s
    # wait), a pass, the full bring-up after a replug, a pass, the next
    # starts udhcpc, the lease with the ping, the first pass after it probes.
    out["unplug"] = (2 + PASS + BRINGUP_REPLUG + PASS + DHCP_PING + PASS, b + d + 4 * c)
    # The stick serving leases again: the udhcpc without a lease may have
    # lost a discover just then (3 s, and udhcpc's 20 s), the next one is
    # answered after the ping (the lease ran out), the first pass after the
    # lease probes; no trouble pause (the probes were answered until the
    # address went). The stick's dnsmasq restarts on the knob's change.
    out["lease_loss"] = (DHCP_RETRY + DHCP_PING + PASS, costs["serve"] + d + c)
    # ... with the link found stuck (300 s after the last answer) before that
    # lease came, or the reset's bring-up still under way: at worst just
    # before the lease, then the recovery.
    r = recovery(costs, False)
    out["lease_loss_reset"] = (DHCP_RETRY + DHCP_PING + r[0], costs["serve"] + d + r[1])
    # Name servers back: the attempt under way may still time out (the last
    # of its probe), a pass with its trouble pause; a forced restart may open
    # the next pass: its udhcpc takes the address away (deconfig) and is
    # offered the live lease at once, and the first pass after the lease
    # probes, with its trouble pause.
    out["dns_dead"] = (ATTEMPT + 2 * PASS + 2 * DNS_PAUSE, d + 4 * c)
    # ... past the reset (an outage longer than 300 s): the outage's own
    # bound and the recovery's, the reset perhaps still under way.
    rt = recovery(costs, True)
    out["dns_dead_reset"] = (out["dns_dead"][0] + rt[0], out["dns_dead"][1] + rt[1])
    # A hang: the stick's dnsmasq stops as `usbsim hang` runs, so the last
    # answer comes before it returns. Six unanswered probes bring the forced
    # restart, whose udhcpc takes the address away and gets none: the passes
    # then probe nothing but keep their trouble pause. The link is stuck 300 s
    # after the last answer, found at the end of such a pass and a second
    # late (whole seconds of the monotonic clock), then the recovery.
    out["hang"] = (STUCK + DNS_PAUSE + PASS + 1 + rt[0], 2 * c + rt[1])
    return out


def dns_restart_window(costs):
    """From the stick's relay answering nothing (the ISP's servers dead, or
    the stick hung) to the forced restart: six counted passes, each an
    unanswered probe (three attempts) and a pause, the trouble pause from
    the third on; at most one pass more when the pass under way had just had
    its answer."""
    c = costs["per_pass"]
    lo = 6 * (PROBE_FAIL + PASS) + 4 * DNS_PAUSE - 0.5
    hi = 7 * (PASS + c) + 6 * PROBE_FAIL + 4 * DNS_PAUSE + c
    return lo, hi


def dns_reset_window(costs):
    """From the name servers going dead to the reset of the stick: 300 s
    after the last answer (the pass under way may have had it, a pass
    before), found at the end of a pass (an unanswered probe, its pause and
    the trouble pause: eth1 keeps or regains its lease) and a second late;
    the reset is seen once the recovery's killall and the reset have run."""
    c = costs["per_pass"]
    return STUCK - PASS - c - 1, STUCK + PROBE_FAIL + PASS + DNS_PAUSE + 2 * c + 1 + costs["reset"]


def lease_reset_window(costs):
    """From the last answer before a lease ran out to the reset: 300 s (the
    whole seconds of the monotonic clock may make it up to one less), found
    at the end of a pass without an address (no probe, no trouble pause) and
    a second late; seen once the killall and the reset have run."""
    c = costs["per_pass"]
    return STUCK - 1, STUCK + PASS + c + 1 + costs["reset"]
