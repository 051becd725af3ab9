"""The resets of a stuck stick, as the journals show them: when they ran,
why the daemon said it ran them, which fault they belong to, and whether
each one's bring-up handed serialcom the PIN only once it was proven (an
operator record read in full, or an answered probe) on the stick plugged
then: a stick pulled out, or replugged, takes its proof with it."""
import bisect
import os
import re

from outside import JOURNAL
from timing import STUCK, spread

STUCK_LINE = re.compile(r"^link3g: the link is stuck, no DNS answer for (\d+) s \(([^)]*)\): (.*)$")
WITHHELD = "link3g: the SIM PIN is withheld from this bring-up"
STATUS_FILE = "/var/run/link3g.status"
# The kinds of fault whose recovery may reset the stick.
RESETTING = ("first_link", "hang", "no_record", "dns_dead")


def recovery_times(soak):
    """Bench times of every reset on the bus (the simulated kernel's note)."""
    soak.read_journals()
    return [t for t in soak.reset_notes]


def forced_restart_times(cmds):
    """Times of the designed forced restarts among the daemon's commands: a
    `killall -9 pppd` followed at once by pppd with options.ppp3g.ex. (A
    recovery's killall is followed by the reset and its bring-up.)"""
    return [t for (t, c), (_, nxt) in zip(cmds, cmds[1:])
            if c == "killall -9 pppd" and nxt == "pppd file /etc/ppp/options.ppp3g.ex &"]


def serialcom_pin(line):
    """The PIN of a "serialcom TTY PIN" command line ('' when it ends in a blank)."""
    return line[len("serialcom "):].partition(" ")[2]


def bringups(soak):
    """Every bring-up: (start, is a recovery's, its serialcom command lines)."""
    cmds = soak.shell_cmds
    resets = soak.reset_notes
    starts = [i for i, (_, c) in enumerate(cmds) if c == "rmmod usbserial"]
    out = []
    for n, i in enumerate(starts):
        t = cmds[i][0]
        prev = cmds[i - 1] if i else (0.0, "")
        recovery = prev[1] == "killall -9 pppd" and any(prev[0] < r <= t for r in resets)
        end = starts[n + 1] if n + 1 < len(starts) else len(cmds)
        lines = [c for _, c in cmds[i:end] if c.startswith("serialcom ")]
        out.append((t, recovery, lines))
    return out


def proof_time(soak):
    """When the PIN was first proven: a full record written for the daemon,
    or the daemon's first probe answered (the first one of the run is)."""
    times = [t for t, n in soak.record_notes if n == 244]
    if soak.probe_times:
        times.append(soak.probe_times[0])
    return min(times) if times else None


def proven_at(soak, t):
    """Whether the PIN was proven on the stick plugged at time t: a full
    record, or a probe (which only a configured link sends), since the
    last pull before t; before any pull, since the start."""
    pulls = [p for p in soak.pulls if p < t]
    since = pulls[-1] if pulls else None
    if since is None:
        proof = proof_time(soak)
        return proof is not None and t > proof
    proofs = sorted([r for r, n in soak.record_notes if n == 244] + soak.probe_times)
    i = bisect.bisect_right(proofs, since)
    return i < len(proofs) and proofs[i] < t


def stuck_lines():
    try:
        with open(os.path.join(JOURNAL, "daemon.out"), errors="replace") as f:
            text = f.read()
    except OSError:
        return [], 0
    lines = text.splitlines()
    stuck = [m.groups() for m in map(STUCK_LINE.match, lines) if m]
    return stuck, sum(1 for l in lines if l.startswith(WITHHELD))


def status_recoveries():
    try:
        with open(STATUS_FILE) as f:
            for line in f:
                if line.startswith("recoveries="):
                    return int(line.strip().split("=", 1)[1].strip("'"))
    except (OSError, ValueError):
        pass
    return None


def owner(soak, t):
    """The fault whose window holds time t, or None."""
    for f in [soak.first_link] + soak.faults:
        w = f.get("window")
        if w and w[0] <= t <= w[1]:
            return f
    return None


def analyse(soak, check):
    """The recoveries' checks (through check(name, passed, detail)) and
    their figures for the results."""
    resets = recovery_times(soak)
    stuck, withheld = stuck_lines()
    kinds = {}
    stray = []
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
    # Every recovery was answered before the next: the ladder stays at 300 s.
    check("ladder at 300 s", all(STUCK <= q < 2 * STUCK for q in quiet),
          "no answer for %s s at the resets" % ("%d..%d" % (min(quiet), max(quiet)) if quiet else "-"))
    proof = proof_time(soak)
    before, after, wrong = 0, 0, []
    for t, recovery, lines in bringups(soak):
        if not recovery:
            continue
        proven = proven_at(soak, t)
        before += not proven
        after += proven
        pins = {serialcom_pin(l) for l in lines}
        want = soak.pin if proven else ""
        if pins != {want}:
            wrong.append("%.0f s: %s" % (t - soak.t_start, sorted(pins)))
    check("PIN only once proven", not wrong and withheld == before,
          "recoveries without a proof on the stick %d (PIN withheld; messages: %d), with one %d (PIN sent)" % (
              before, withheld, after) if not wrong else "serialcom PINs " + "; ".join(wrong[:5]))
    return {"resets": len(resets), "resets_by_kind": kinds, "status_recoveries": counted,
            "stuck_quiet_s": spread(quiet, 0), "stuck_reasons": sorted({s[1] for s in stuck}),
            "stuck_lines": [list(s) for s in stuck[:3]],
            "pin_proven_at_s": round(proof - soak.t_start, 1) if proof is not None else None,
            "recoveries_before_proof": before, "recoveries_after_proof": after, "withheld_messages": withheld}
