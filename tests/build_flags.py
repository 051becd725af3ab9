#!/usr/bin/python3
"""The CMake build and the make build compile each of the daemon's sources
with the same flags of the project's own (both read flags.mk): the compile
commands of a CMake build (its compile_commands.json) against those that
`make -n` prints for a fresh tree with WERROR=1.

  build_flags.py COMPILE_COMMANDS SOURCE_DIR

What belongs to the build's type or the tool, not to the project, is left
out: optimisation and debug levels, NDEBUG, dependency files, include paths,
the version (a -D in make, a forced header in CMake), the output and input,
and -pthread (make passes it to every compile, CMake through the thread
library to those that use it).
"""
import json
import os
import shlex
import subprocess
import sys
import tempfile

SKIP_WITH_ARG = {"-o", "-c", "-MF", "-MT", "-include", "-I", "-isystem"}


def project_flags(words):
    out, skip = set(), False
    for w in words[1:]:
        if skip:
            skip = False
            continue
        if w in SKIP_WITH_ARG:
            skip = w != "-c"
            continue
        if w.startswith(("-O", "-g", "-I", "-M", "-DLINK3G_VERSION")) or w in ("-DNDEBUG", "-pthread") or \
                not w.startswith("-"):
            continue
        out.add(w)
    return out


def main():
    commands, source = sys.argv[1], os.path.realpath(sys.argv[2])
    cmake = {}
    for entry in json.load(open(commands)):
        path = os.path.realpath(entry["file"])
        if path.startswith(os.path.join(source, "src") + os.sep) and path.endswith(".cpp"):
            cmake[os.path.relpath(path, source)] = project_flags(shlex.split(entry["command"]))
    with tempfile.TemporaryDirectory() as build:
        dry = subprocess.run(["make", "-n", "-B", "-C", source, "BUILD=" + build, "WERROR=1"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, check=True).stdout
    made = {}
    for line in dry.splitlines():
        words = shlex.split(line) if " -c " in line else []
        if words and words[-1].startswith("src/") and words[-1].endswith(".cpp"):
            made[words[-1]] = project_flags(words)
    failures = []
    if not cmake or set(cmake) != set(made):
        failures.append("sources: CMake %s, make %s" % (sorted(cmake), sorted(made)))
    for src in sorted(set(cmake) & set(made)):
        if cmake[src] != made[src]:
            failures.append("%s: only CMake %s, only make %s" % (src, sorted(cmake[src] - made[src]),
                                                                   sorted(made[src] - cmake[src])))
    for f in failures:
        print("build_flags: " + f)
    print("build_flags: %d sources compared" % len(cmake))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
