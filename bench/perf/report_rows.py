"""The report's rows for the binaries (size, libraries, interpreter), the
DNS probe beside dig and the bring-up."""
import glob
import os
import re
import statistics

from report_base import us

# Bytes, stripped, router-static preset (musl, every MIPS32 core: release 1,
# soft-float), the router's own binary. The glibc MIPS build (router preset)
# is a development build that cannot run on the router (its glibc needs
# Linux 3.2): its size is shown, not budgeted.
STATIC_SIZE_BUDGET = 114688
BRINGUP_CPU_BUDGET_MS = 20.0
BRINGUP_WAITS_S = 6.0         # 3 s after the driver reload + 3 s final pause
LIBRARIES_ALLOWED = re.compile(r"^(libc|libpthread)\.so(\.[0-9]+)*$")

# name in sizes.txt, label, short label, how it is built, size budget in
# bytes (None: no budget), linked statically
BINARIES = (
    ("router", "MIPS, development build (router preset: glibc, -Os, not PIE, stripped)", "MIPS",
     "cmake --build --preset router", None, False),
    ("router_static", "MIPS, static (router-static preset: musl, MIPS32 release 1, soft-float, -Os, not PIE, "
     "stripped)", "MIPS, static",
     "cmake --build --preset router-static", STATIC_SIZE_BUDGET, True),
    ("host", "host (host-release preset: MinSizeRel, stripped)", "host", "cmake --build build/host-release",
     None, False),
    ("host_static", "host, static (host-static preset: musl, MinSizeRel, stripped)", "host, static",
     "cmake --build --preset host-static", None, True),
)


def size_rows(r):
    s = r.sizes
    for name, label, short, build_cmd, budget, static in BINARIES:
        path = s.get(name + "_path", "?")
        if name + "_size" not in s:
            r.unmeasured_row("link3g for %s: size" % label, "", "no binary", build_cmd)
            continue
        size = int(s[name + "_size"])
        stripped = s.get(name + "_symtab") == "0"
        value = "{:,} bytes (text {}, data {}, bss {})".format(size, s.get(name + "_text", "?"),
                                                                s.get(name + "_data", "?"), s.get(name + "_bss", "?"))
        if not stripped:
            value += ", NOT stripped (has .symtab or debug sections)"
        if name + "_xz" in s:
            value += "; {:,} bytes after `xz -9e`".format(int(s[name + "_xz"]))
        command = "%s; stat -c %%s %s; xz -9e -c %s | wc -c" % (build_cmd, path, path)
        if budget is None:
            r.row("link3g for %s: stripped size" % label, value, "", None if stripped else False, command)
        else:
            r.row("link3g for %s: stripped size" % label, value,
                  "≤ {:,} bytes ({} KB)".format(budget, budget // 1024), stripped and size <= budget, command)
        needed = [n for n in s.get(name + "_needed", "").split(",") if n]
        if static:
            interp = int(s.get(name + "_interp", "1"))
            r.row("link3g for %s: libraries needed, program interpreter" % short,
                  "%s; %s" % (", ".join(needed) or "none", "INTERP present" if interp else "no INTERP"),
                  "none; no INTERP", not needed and not interp, "readelf -d -l %s | grep -E 'NEEDED|INTERP'" % path)
            continue
        ok = bool(needed) and all(LIBRARIES_ALLOWED.match(n) for n in needed) and any(
            n.startswith("libc.so") for n in needed)
        r.row("link3g for %s: libraries needed" % short, ", ".join(needed) or "(none)",
              "the C library only (and libpthread where it is apart)", ok, "readelf -d %s | grep NEEDED" % path)


def dns_rows(r, dns):
    if "error" in dns:
        r.unmeasured_row("DNS probe SendDns() to an answered query", "", dns["error"], r.cmd("dns"))
        return
    for tag, server in (("dnsmasq", "dnsmasq 127.0.2.1"), ("front", "ISP front 127.0.1.1 (relays to dnsmasq)")):
        r.row("SendDns() to an answered query, %s (in-process, %s queries)" % (server, dns["probe_%s_count" % tag]),
              "median %s (first %s, p90 %s, max %s)" % (
                  us(dns["probe_%s_median_us" % tag]), us(dns["probe_%s_first_us" % tag]),
                  us(dns["probe_%s_p90_us" % tag]), us(dns["probe_%s_max_us" % tag])), "", None, r.cmd("dns"))
        r.row("`dig +tries=1 +time=2` to the same server, wall time with its start (%s runs)" %
              dns["dig_%s_count" % tag],
              "median %.1f ms (p90 %.1f ms; CPU %.1f ms per run)" % (
                  float(dns["dig_%s_wall_median_us" % tag]) / 1000, float(dns["dig_%s_wall_p90_us" % tag]) / 1000,
                  float(dns["dig_%s_cpu_per_run_us" % tag]) / 1000), "", None, r.cmd("dns"))


def bringup_rows(r):
    """Returns the runs that succeeded."""
    runs = [r.run(os.path.basename(d)) for d in sorted(glob.glob(os.path.join(r.work, "bringup*")))]
    good = [b for b in runs if "error" not in b]
    bad = [b for b in runs if "error" in b]
    if not runs or bad:
        r.unmeasured_row("Bring-up on the ok 1 path", "≤ 20 ms of link3g's CPU",
                         bad[0]["error"] if bad else "no run", r.cmd("bringup1"))
    command = r.cmd("bringup1")
    if len(runs) > 1:
        command = "for i in %s; do %s; done" % (" ".join(str(i) for i in range(1, len(runs) + 1)),
                                              command.replace("bringup1", "bringup$i"))
    if good:
        walls = [float(b["wall_s"]) for b in good]
        cpus = [float(b["cpu_ms"]) for b in good]
        r.row("Bring-up on the ok 1 path (%s, AutoCheck-hsdpa), real time: start to the first `pppd file` command" %
              good[0]["stick"],
              "median %.3f s of %d runs (%s); mandated waits %.3f s, so %.0f ms beyond them" % (
                  statistics.median(walls), len(walls), ", ".join("%.3f" % w for w in walls), BRINGUP_WAITS_S,
                  (statistics.median(walls) - BRINGUP_WAITS_S) * 1000), "", None, command)
        r.row("Bring-up: link3g's own CPU (utime+stime of its threads, not its children)",
              "%.1f ms at most (%s ms)" % (max(cpus), ", ".join("%.1f" % c for c in cpus)),
              "≤ 20 ms", max(cpus) <= BRINGUP_CPU_BUDGET_MS, command)
    return good
