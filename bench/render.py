#!/usr/bin/python3
"""Makes the bench's pages from the figures its measuring runs keep, and
from nothing else, so that the same figures always give the same page:

  render.py performance docs/performance.json docs/performance.md
  render.py soak docs/soak.json docs/reliability.md
  render.py soak-network docs/soak-network.json docs/reliability.md

performance writes the whole page and exits 1 when a budget is missed or a
figure was not measured (render_performance.py). soak replaces the page's
"Soak" section, from its heading to the next heading of level 1 or 2, and
leaves the rest of the page as it is (render_soak.py); soak-network does the
same with the section "Soak of a network stick" (render_soak_network.py),
added at the page's end the first time. Whether the soak passed is
scripts/soak's exit status, not this one's.
"""
import json
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[1:1] = [os.path.join(HERE, "perf"), os.path.join(HERE, "soak")]


def fmt(x, nd=1):
    return "-" if x is None else "%.*f" % (nd, x)


def md_table(header, rows):
    """A Markdown table; a | inside a cell is escaped."""
    cells = [" | ".join(str(c).replace("|", "\\|") for c in row) for row in rows]
    return ["| " + " | ".join(header) + " |", "|---" * len(header) + "|"] + ["| %s |" % c for c in cells]


def replace_section(old, heading, new):
    """old with the section under heading replaced by new (or new added at
    its end)."""
    if not old.strip():
        return "# Reliability\n\n" + new
    m = re.search(r"^%s[ \t]*\n" % re.escape(heading), old, re.M)
    if not m:
        return old.rstrip("\n") + "\n\n" + new
    nxt = re.search(r"^#{1,2} (?!#)", old[m.end():], re.M)
    end = m.end() + nxt.start() if nxt else len(old)
    return old[:m.start()] + new + ("\n" if nxt else "") + old[end:]


def write(path, text):
    with open(path + ".tmp", "w") as f:
        f.write(text)
    os.replace(path + ".tmp", path)


def main(argv):
    if len(argv) != 3 or argv[0] not in ("performance", "soak", "soak-network"):
        sys.stderr.write(__doc__)
        return 2
    what, source, out = argv
    with open(source) as f:
        figures = json.load(f)
    if what == "performance":
        import render_performance
        text, failed = render_performance.page(figures)
        write(out, text)
        if failed:
            sys.stderr.write("benchmark: %d budget(s) missed or figure(s) not measured: %s\n" % (
                len(failed), "; ".join(failed)))
        return 1 if failed else 0
    if what == "soak":
        import render_soak as renderer
        heading = "## Soak"
    else:
        import render_soak_network as renderer
        heading = "## Soak of a network stick"
    old = open(out).read() if os.path.exists(out) else ""
    write(out, replace_section(old, heading, renderer.section(figures)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
