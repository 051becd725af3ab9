#!/usr/bin/python3
"""Every case of a bench test program is run by CTest: the cases that
tests/CMakeLists.txt lists for PROGRAM (each in a router of its own, with
its stick) are exactly those the program has. A case left out of the list
would never run, and nothing else would say so.

  bench_cases_listed.py PROGRAM SUITE.CASE...
"""
import subprocess
import sys


def cases_of(program):
    out = subprocess.run([program, "--gtest_list_tests"], stdout=subprocess.PIPE, text=True, check=True).stdout
    cases, suite = set(), ""
    for line in out.splitlines():
        if not line.startswith(" "):
            suite = line.split()[0]
        else:
            cases.add(suite + line.split()[0])
    return cases


def main():
    program, listed = sys.argv[1], set(sys.argv[2:])
    has = cases_of(program)
    for case in sorted(has - listed):
        print("%s: %s is not listed in tests/CMakeLists.txt: it never runs" % (program, case))
    for case in sorted(listed - has):
        print("%s: %s is listed but the program has no such case" % (program, case))
    return 0 if has == listed else 1


if __name__ == "__main__":
    sys.exit(main())
