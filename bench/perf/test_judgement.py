#!/usr/bin/python3
"""The CPU budget's judgement (judgement.py) on figures recorded on this
project's machines: the steady pass passes whether the machine is quiet or
busy, and the same pass doing its work twice fails, busy or not.

The figures are (pass µs, pidof µs) of each minute-long window, as
bench/perf/slowed.py printed them (`--repeat 1` and `--repeat 2` of
perf_pass_parts, pidof run once every 2 s beside them): RECORDED below.
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import judgement  # noqa: E402

# bench/run --build build/host-release --stick ok2 -- python3 bench/perf/slowed.py build/host-release 100,
# on a 2-core machine, quiet and beside a CPU-bound loop (`while :; do :; done`).
RECORDED = {
    "quiet": {"x1": [[730.9, 6032.4], [633.6, 5676.7], [594.7, 5337.9], [553.4, 5105.5]],
              "x2": [[1295.9, 4920.5], [1095.6, 4798.5], [1394.5, 5938.2], [1390.0, 5214.6]]},
    "busy": {"x1": [[718.1, 5985.2], [722.3, 6116.3], [871.2, 7019.7], [775.1, 5530.4]],
             "x2": [[1454.8, 5574.4], [1411.2, 5791], [1350.4, 5898.2], [1551.5, 8831.8]]},
}


def as_windows(figures):
    return [(p, q, p / q) for p, q in figures]


def snapshots_and_runs(figures, window_s=60.0, pass_s=2.0):
    """The daemon's snapshots and the pidof runs that give figures, one
    pass and one run every pass_s."""
    snaps, runs, cpu, n, t = [(0.0, 0, 0)], [], 0, 0, 0.0
    for pass_us, pidof_us in figures:
        for _ in range(int(window_s / pass_s)):
            runs.append((t + 0.7, pidof_us))
            t += pass_s
            cpu += int(pass_us * 1000)
            n += 1
            snaps.append((t, cpu, n))
    return snaps, runs


class Judgement(unittest.TestCase):
    def test_recorded_pass_passes_and_twice_its_work_fails(self):
        for load, figures in RECORDED.items():
            self.assertTrue(judgement.judge(as_windows(figures["x1"]), judgement.PIDOF_SHARE)["met"], load)
            self.assertFalse(judgement.judge(as_windows(figures["x2"]), judgement.PIDOF_SHARE)["met"], load)

    def test_a_burst_on_one_side_moves_one_window_not_the_verdict(self):
        figures = [list(w) for w in RECORDED["quiet"]["x1"]]
        figures[1][0] *= 3  # the pass's minute shared the machine with a build
        self.assertTrue(judgement.judge(as_windows(figures), judgement.PIDOF_SHARE)["met"])
        figures = [list(w) for w in RECORDED["quiet"]["x2"]]
        figures[2][1] *= 3  # pidof's minute did: the slow pass still fails
        self.assertFalse(judgement.judge(as_windows(figures), judgement.PIDOF_SHARE)["met"])

    def test_windows_are_cut_by_time_and_set_against_their_own_runs(self):
        figures = [[500.0, 4000.0], [800.0, 8000.0], [600.0, 4000.0]]
        snaps, runs = snapshots_and_runs(figures)
        windows = judgement.window_ratios(snaps, [runs])
        self.assertEqual(len(windows), 3)
        for (p, q), (wp, wq, ratio) in zip(figures, windows):
            self.assertAlmostEqual(wp, p, places=1)
            self.assertAlmostEqual(wq, q, places=1)
            self.assertAlmostEqual(ratio, p / q, places=4)
        # The cheaper form of pidof counts.
        dearer = [(t, cpu * 2) for t, cpu in runs]
        self.assertEqual([w[1] for w in judgement.window_ratios(snaps, [dearer, runs])], [w[1] for w in windows])

    def test_too_few_windows_or_runs_decide_nothing(self):
        figures = [[500.0, 4000.0], [500.0, 4000.0]]
        snaps, runs = snapshots_and_runs(figures)
        self.assertIsNone(judgement.judge(judgement.window_ratios(snaps, [runs]), 0.15)["met"])
        snaps, runs = snapshots_and_runs(figures * 2)
        self.assertEqual(judgement.window_ratios(snaps, [runs[:5]]), [])

    def test_snapshots_survive_their_text(self):
        snaps, _ = snapshots_and_runs([[512.5, 4000.0]] * 2)
        self.assertEqual(judgement.decode(judgement.encode(snaps)), [(round(t, 3), c, n) for t, c, n in snaps])


if __name__ == "__main__":
    unittest.main()
