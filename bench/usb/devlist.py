#!/usr/bin/python3
"""Reads USB device lists and stick files the way the bench needs to check them.

  devlist.py check [STICK...]    checks stick files (default: the catalogue)
  devlist.py table [STICK...]    the catalogue as a Markdown table

The probes are an independent rendering of the daemon's reading rules: the
vendor and product of the first device after the first root hub (skipping
one USB 2.0 root hub), read within the first 2048 bytes; the modem test (five
"Driver=" entries, each found at least 12 characters after the previous one,
within the first 2048 bytes, and a "Manufacturer=" somewhere in them); and
the index of the first "usbserial_generic" interface followed by three "Ad="
lines, read line by line in pieces of at most 255 characters.

A stick file is checked for the kernel's line formats, for ids that agree
with its header, for serial ports that agree with its interfaces, and for
what the daemon will conclude from each personality once the drivers the
daemon loads are bound.
"""
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
CATALOGUE = os.path.join(os.path.dirname(HERE), "sticks")
READ_MAX = 2048

# Line formats of drivers/usb/core/devices.c (Linux 2.6.30); "A:" lines
# and the "Driver=" placeholder of inactive configurations included.
LINE_FORMATS = [
    r"T:  Bus=\d\d Lev=\d\d Prnt=\d\d Port=\d\d Cnt=\d\d Dev#=[ \d]{2}\d Spd=(480|12|1\.5|5000|10000) +MxCh=[ \d]\d",
    r"B:  Alloc=[ \d]{2}\d/[ \d]{2}\d us \([ \d]\d%\), #Int=[ \d]{2}\d, #Iso=[ \d]{2}\d",
    r"D:  Ver=[ \d]\d\.[0-9a-f]{2} Cls=[0-9a-f]{2}\(.{5}\) Sub=[0-9a-f]{2} Prot=[0-9a-f]{2} MxPS=[ \d]\d #Cfgs=[ \d]{2}\d",
    r"P:  Vendor=[0-9a-f]{4} ProdID=[0-9a-f]{4} Rev=[ \d]\d\.[0-9a-f]{2}",
    r"S:  (Manufacturer|Product|SerialNumber)=.{0,100}",
    r"C:[* ] #Ifs=[ \d]\d Cfg#=[ \d]\d Atr=[0-9a-f]{2} MxPwr=[ \d]{2}\dmA",
    r"A:  FirstIf#=[ \d]\d IfCount=[ \d]\d Cls=[0-9a-f]{2}\(.{5}\) Sub=[0-9a-f]{2} Prot=[0-9a-f]{2}",
    r"I:[* ] If#=[ \d]\d Alt=[ \d]\d #EPs=[ \d]\d Cls=[0-9a-f]{2}\(.{5}\) Sub=[0-9a-f]{2} Prot=[0-9a-f]{2} Driver=\S*",
    r"E:  Ad=[0-9a-f]{2}\([IOB]\) Atr=[0-9a-f]{2}\((Ctrl|Isoc|Bulk|Int\.)\) MxPS=[ \d]{3}\d Ivl=\d+[mu]s",
]
LINE_RE = [re.compile(f + "$") for f in LINE_FORMATS]

KNOWN_KEYS = {
    "model", "about", "storage_ids", "modem_ids", "initial", "power_on", "switch", "switch_after",
    "switch_delay", "storage_nodes", "modem_storage_nodes", "media", "ports", "at_port",
    "serial_driver", "acm", "acm_ports", "hotplug_modules", "builtin_drivers", "op_user",
    "op_password", "op_apn", "op_dial", "op_family", "op_imsi", "op_name", "at_reply", "at_echo",
    "serialcom", "serialcom_delay", "status_port", "signal", "operator", "registration", "network", "sim",
    "status_mode", "net", "net_if", "net_mac", "net_ip", "lease", "dhcp", "dns_relay", "dhcp_domain",
    "dhcp_dns", "dhcp_option",
}
# The classes each network driver takes (Linux 2.6.30's device tables): the
# CDC-Ethernet control interface; RNDIS as a wireless controller, or as
# Microsoft's ACM variant with a vendor protocol.
NET_CLASSES = {"cdc_ether": {("02", "06", None)}, "rndis_host": {("e0", "01", "03"), ("02", "02", "ff")}}
TRIGGER_RE = re.compile(r"(storage-driver|reset|huawei-mode|eject:s[rd][a-z0-9]+|marker:[^/ ]+|message:[0-9a-f]{62})$")


# --- The daemon's three probes --------------------------------------------

def _find(text, what, start):
    if start > len(text):
        return -1
    return text.find(what, start)


def _hex4(field):
    """sscanf("%04x") of an up-to-4-character field: None when no number."""
    m = re.match(rb"[0-9a-fA-F]{1,4}", field.lstrip(b" \t\n"))
    if not m:
        return None
    return int(m.group(0), 16)


def probe_ids(data):
    """(vendor, product) as the id probe reads them, or None on failure."""
    text = data[:READ_MAX]
    m = _find(text, b" Manufacturer=Linux", 0)
    if m < 0:
        return None
    vendor = product = None

    def one_pass(start):
        nonlocal vendor, product
        v = _find(text, b"Vendor", start)
        if v < 0:
            return -1
        vf = text[v + 7:v + 11]
        p = _find(text, b"ProdID", v)
        if p < 0:
            return -1
        pf = text[p + 7:p + 11]
        nv, np_ = _hex4(vf), _hex4(pf)
        if nv is not None:
            vendor = nv
        if np_ is not None:
            product = np_
        return p

    p = one_pass(m + 12)
    if p < 0:
        return None
    if (vendor, product) == (0x1D6B, 0x0002):
        if one_pass(p + 12) < 0:
            return None
    return vendor, product


def probe_modem_mode(data):
    text = data[:READ_MAX]
    if b"Manufacturer=" not in text:
        return 0
    pos = _find(text, b"Driver=", 0)
    for _ in range(4):
        if pos < 0:
            return 0
        pos = _find(text, b"Driver=", pos + 12) if pos + 12 <= len(text) else -1
    return 1 if pos >= 0 else 0


def probe_modem_port(data):
    pieces = []
    for line in data.split(b"\n"):
        line += b"\n"
        while len(line) > 255:
            pieces.append(line[:255])
            line = line[255:]
        if line:
            pieces.append(line)
    if pieces and data.endswith(b"\n"):
        pieces.pop()  # the split's empty tail
    inside, count, endpoints = False, 0, 0
    for piece in pieces:
        if not inside:
            if b"usbserial_generic" in piece:
                inside, count, endpoints = True, count + 1, 0
        elif b"Ad=" in piece:
            endpoints += 1
            if endpoints == 3:
                return min(count - 1, 12)
        elif b"usbserial_generic" in piece:
            count, endpoints = count + 1, 0
        else:
            inside = False
    return 0


# --- Stick files ----------------------------------------------------------

class Stick:
    def __init__(self, path):
        self.path = path
        self.name = os.path.basename(path)[:-6] if path.endswith(".stick") else os.path.basename(path)
        self.keys = {}
        self.sections = {}
        self.order = []
        self.errors = []
        section = None
        with open(path, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                line = line.rstrip("\n")
                m = re.match(r"\[(storage|modem|file [^\]/]+|medium [a-z0-9]+/[^\]]+)\]$", line)
                if m:
                    section = m.group(1)
                    self.sections[section] = []
                    self.order.append(section)
                    continue
                if section is None:
                    if re.match(r"\s*(#|$)", line):
                        continue
                    km = re.match(r"([a-z_][a-z0-9_]*)=(.*)$", line)
                    if not km:
                        self.errors.append("line %d: not key=value: %r" % (number, line))
                        continue
                    self.keys.setdefault(km.group(1), []).append(km.group(2))
                else:
                    self.sections[section].append(line)
        for lines in self.sections.values():
            while lines and lines[-1] == "":
                lines.pop()

    def key(self, name, default=""):
        values = self.keys.get(name)
        return values[-1] if values else default

    def listing(self, personality):
        lines = self.sections.get(personality)
        return None if lines is None else "\n".join(lines) + "\n"


def render(listing, bound):
    """The list as the bench publishes it: drivers not bound read (none)."""
    out = []
    for line in listing.splitlines():
        m = re.match(r"(I:.*Driver=)(\S+)$", line)
        if m and m.group(2) != "(none)" and m.group(2) not in bound:
            line = m.group(1) + "(none)"
        out.append(line)
    return "\n".join(out) + "\n"


def blocks(listing):
    """Device blocks: (lines of the block) in list order."""
    result, current = [], None
    for line in listing.splitlines():
        if line == "":
            current = []
            result.append(current)
        elif current is not None:
            current.append(line)
    return result


def ids_of(block):
    for line in block:
        m = re.match(r"P:  Vendor=([0-9a-f]{4}) ProdID=([0-9a-f]{4})", line)
        if m:
            return "%s:%s" % m.groups()
    return None


def is_root_hub(block):
    return any(re.match(r"T:.* Lev=00 ", line) for line in block)


def serial_interfaces(listing, driver):
    """Endpoint counts of the active interfaces bound to driver, in order."""
    counts, current = [], None
    for line in listing.splitlines():
        if line.startswith("I:"):
            current = None
            if line.startswith("I:*") and line.endswith("Driver=" + driver):
                counts.append(0)
                current = len(counts) - 1
        elif line.startswith("E:") and current is not None:
            counts[current] += 1
        else:
            current = None
    return counts


def active_interfaces(listing):
    """(class, subclass, protocol, driver) of the active interfaces, in order."""
    result = []
    for line in listing.splitlines():
        m = re.match(r"I:\* .*Cls=([0-9a-f]{2})\(.{5}\) Sub=([0-9a-f]{2}) Prot=([0-9a-f]{2}) Driver=(\S*)$", line)
        if m:
            result.append(m.groups())
    return result


def check_net(stick, errors):
    net = stick.key("net")
    if net not in NET_CLASSES:
        errors.append("net=%s is not one of %s" % (net, ", ".join(sorted(NET_CLASSES))))
        return
    if stick.key("ports", "0") != "0" or stick.key("acm") == "yes":
        errors.append("net=%s but serial ports too: a network stick has none" % net)
    listing = stick.listing("modem")
    if listing is None:
        errors.append("net=%s but no [modem] section" % net)
        return
    takes = NET_CLASSES[net]
    if not any(d == net and any((c, s) == (tc, ts) and tp in (None, p) for tc, ts, tp in takes)
               for c, s, p, d in active_interfaces(listing)):
        errors.append("net=%s but [modem] has no active interface of its class bound to it" % net)


def check(stick):
    errors = list(stick.errors)
    keys = stick.keys
    for k, values in keys.items():
        if k not in KNOWN_KEYS:
            errors.append("unknown key %s" % k)
        if len(values) > 1 and k not in ("at_reply",):
            errors.append("key %s given %d times" % (k, len(values)))
    for trigger in stick.key("switch").split():
        if not TRIGGER_RE.match(trigger):
            errors.append("bad switch trigger %r" % trigger)
    facts = {}
    for personality in ("storage", "modem"):
        listing = stick.listing(personality)
        ids = stick.key(personality + "_ids")
        if listing is None:
            if ids:
                errors.append("%s_ids given but no [%s] section" % (personality, personality))
            continue
        if not listing.startswith("\n"):
            errors.append("[%s] must start with the blank line that opens each device" % personality)
        for line in listing.splitlines():
            if line and not any(r.match(line) for r in LINE_RE):
                errors.append("[%s] line not in the kernel's format: %r" % (personality, line))
        devs = [b for b in blocks(listing) if not is_root_hub(b)]
        hubs = [b for b in blocks(listing) if is_root_hub(b)]
        if not hubs:
            errors.append("[%s] has no root hub" % personality)
        stick_ids = [ids_of(b) for b in devs]
        if ids not in stick_ids:
            errors.append("[%s] shows no device %s (devices: %s)" % (personality, ids, stick_ids))
        if personality == "storage":
            bound = {"hub", "usb-storage"} | set(stick.key("builtin_drivers").split())
        else:
            bound = {"hub", "usb-storage", "cdc_acm", stick.key("serial_driver", "usbserial_generic")}
            if stick.key("net"):
                bound.add(stick.key("net"))
            bound |= set(stick.key("builtin_drivers").split()) | set(stick.key("hotplug_modules").split())
        for variant, text in (("bound", render(listing, bound)), ("unbound", render(listing, {"hub"}))):
            data = text.encode()
            facts[personality, variant] = (probe_ids(data), probe_modem_mode(data), probe_modem_port(data), len(data))
        # The modem test decides the personality, drivers bound or not.
        want = 1 if personality == "modem" else 0
        for variant in ("bound", "unbound"):
            if facts[personality, variant][1] != want:
                errors.append("[%s] %s: the modem test says %d" % (personality, variant, 1 - want))
    if stick.key("net"):
        check_net(stick, errors)
    if stick.listing("modem") is not None:
        driver = stick.key("serial_driver", "usbserial_generic")
        eps = serial_interfaces(stick.listing("modem"), driver)
        ports = int(stick.key("ports", "0"))
        if len(eps) != ports:
            errors.append("ports=%d but [modem] has %d %s interfaces" % (ports, len(eps), driver))
        at = int(stick.key("at_port", "0"))
        three = [i for i, n in enumerate(eps) if n >= 3]
        if ports and three and three[0] != at:
            errors.append("at_port=%d but the first serial interface with three endpoints is port %d" % (at, three[0]))
        if ports and at >= ports:
            errors.append("at_port=%d outside the %d ports" % (at, ports))
        status = stick.key("status_port")
        serial = ports or (int(stick.key("acm_ports", "1")) if stick.key("acm") == "yes" else 0)
        dial = at if ports else 0
        if status and (not status.isdigit() or int(status) >= serial or int(status) == dial):
            errors.append("status_port=%s is not one of the %d ports other than the AT port" % (status, serial))
        if stick.key("acm") == "yes" and not serial_interfaces(stick.listing("modem"), "cdc_acm"):
            errors.append("acm=yes but no cdc_acm interface in [modem]")
    for name in [s for s in stick.order if s.startswith("file ")]:
        text = "\n".join(stick.sections[name])
        if not re.search(r"^DefaultVendor\s*=", text, re.M) or not re.search(r"^MessageContent\s*=", text, re.M):
            errors.append("[%s] lacks DefaultVendor or MessageContent" % name)
    return errors, facts


def fmt_ids(ids):
    return "-" if ids is None else "%04x:%04x" % ids


def stick_paths(args):
    if args:
        return [a if "/" in a else os.path.join(CATALOGUE, a + ".stick") for a in args]
    return sorted(os.path.join(CATALOGUE, f) for f in os.listdir(CATALOGUE) if f.endswith(".stick"))


def main(argv):
    if len(argv) >= 1 and argv[0] in ("check", "table"):
        status = 0
        if argv[0] == "table":
            print("| stick | model | storage ids | modem ids | switched by | ports | AT port | acm |")
            print("|---|---|---|---|---|---|---|---|")
        for path in stick_paths(argv[1:]):
            stick = Stick(path)
            errors, facts = check(stick)
            if argv[0] == "table":
                ports = stick.key("ports", "0")
                at = "/dev/ttyUSB%s" % stick.key("at_port", "0") if ports != "0" else "-"
                if stick.key("acm") == "yes":
                    at = "/dev/ttyACM0"
                print("| %s | %s | %s | %s | %s | %s | %s | %s |" % (
                    stick.name, stick.key("model"), stick.key("storage_ids") or "-",
                    stick.key("modem_ids") or "-", stick.key("switch") or "-", ports, at,
                    stick.key("acm", "no")))
                continue
            print("%s: %s" % (stick.name, "ok" if not errors else "%d problem(s)" % len(errors)))
            for e in errors:
                print("  problem: %s" % e)
            for (personality, variant), (ids, mode, port, length) in sorted(facts.items()):
                print("  %-7s %-7s ids %s  modem mode %d  modem port %d  %d bytes" % (
                    personality, variant, fmt_ids(ids), mode, port, length))
            if errors:
                status = 1
        return status
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
