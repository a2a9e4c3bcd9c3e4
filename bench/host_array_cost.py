#!/usr/bin/env python3
"""The app's load on the host beside its floor: `ventractl simulate` on the default scenario
(the app on a virtual clock with a fake GPU, so all it really does is allocate and fill the load's
1 GiB host array) against a bare program that only allocates and fills the same array. Wall
time and peak resident memory of each, median of several runs, in one run.

    bench/host_array_cost.py [BUILD] [RUNS]"""
import os
import os
import statistics
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from timed_run import timed_run  # noqa: E402


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build/default"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    programs = {
        "floor": [f"{build}/bench/host_array_floor", "16384"],
        "simulate": [f"{build}/tools/ventractl/ventractl", "simulate",
                     os.path.join(root, "scenarios/default.json")],
    }
    samples = {name: [] for name in programs}
    for _ in range(runs):
        for name, argv in programs.items():
            samples[name].append(timed_run(argv))
    medians = {}
    for name, values in samples.items():
        medians[name] = statistics.median(v[0] for v in values)
        peak = max(v[1] for v in values)
        print(f"{name:9} median {medians[name] * 1000:7.1f} ms   peak {peak:7.1f} MiB")
    print(f"simulate / floor: {medians['simulate'] / medians['floor']:.2f}")


if __name__ == "__main__":
    main()
