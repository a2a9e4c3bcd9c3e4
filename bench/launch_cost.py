#!/usr/bin/env python3
"""The cost of a launch that quits at its first test: `ventra` beside `sleep 1`, both started the
same way, wall time and peak resident memory of each, median of several runs.

    bench/launch_cost.py [VENTRA] [RUNS]

On a host that is not the target machine, ventra waits its mandated 1.0 s and quits at the
host-model test; everything above `sleep 1` is the price of starting."""
import os
import statistics
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from timed_run import timed_run  # noqa: E402


def main():
    ventra = sys.argv[1] if len(sys.argv) > 1 else "build/default/tools/ventra/ventra"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    samples = {"sleep 1": [], "ventra": []}
    for _ in range(runs):
        samples["sleep 1"].append(timed_run(["sleep", "1"]))
        samples["ventra"].append(timed_run([ventra]))
    medians = {}
    for name, values in samples.items():
        wall = statistics.median(v[0] for v in values)
        peak = max(v[1] for v in values)
        medians[name] = wall
        print(f"{name:8} median {wall * 1000:7.1f} ms   peak {peak:6.1f} MiB")
    extra = (medians["ventra"] - medians["sleep 1"]) * 1000
    print(f"ventra over sleep 1: {extra:+.1f} ms")


if __name__ == "__main__":
    main()
