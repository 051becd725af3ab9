#!/usr/bin/python3
"""Times a steady pass and the same pass with twice its work through the
CPU budget's judgement (judgement.py), beside pidof run once every 2 s:
the record behind bench/perf/test_judgement.py, which shows that a real
regression fails the budget whatever the load.

  bench/run --build build/host-release --stick ok2 -- python3 bench/perf/slowed.py BUILD PASSES

Prints the windows of both, as JSON.
"""
import json
import subprocess
import sys
import time

import inbench_base as base
import judgement
from judgement import read_runs


def main():
    build, passes = sys.argv[1], int(sys.argv[2])
    env = base.env_without_preloads()
    base.run(["ispdns", "start"])
    daemon = base.start_daemon(build + "/src/app/link3g", env)
    base.wait_for(daemon, base.link_up, 180, "link")
    time.sleep(10)
    daemon.kill()  # the passes below are the only ones now
    pidof = subprocess.Popen([build + "/bench/perf_run_many", "--no-preload", "--every", "2000", "--status", "0,1",
                              "--each", "/tmp/pidof.txt", str(2 * passes + 10), "--", "pidof", "pppd"], env=env,
                             stdout=subprocess.DEVNULL)
    out = {}
    for repeat in (1, 2):
        base.run([build + "/bench/perf_pass_parts", "--repeat", str(repeat), "--snapshots", "/tmp/snap.txt",
                  str(passes)], env)
        snaps = []
        for line in base.lines("/tmp/snap.txt"):
            t, cpu, n = line.split()
            snaps.append((float(t), int(cpu), int(n)))
        out["x%d" % repeat] = snaps
    pidof.wait()
    runs = [read_runs("/tmp/pidof.txt")]
    result = {}
    for key, snaps in out.items():
        windows = judgement.window_ratios(snaps, runs)
        result[key] = [[round(p, 1), round(q, 1)] for p, q, _ in windows]
    print(json.dumps(result))


if __name__ == "__main__":
    main()
