#!/usr/bin/env python3
"""The README's demonstration of the reset: the whole road on a simulated stuck tower, on a
virtual clock. Wall time and peak resident memory, median and worst of several runs; it should
take well under a second and far less than the app's 1 GiB matrix.

    bench/reset_demo_cost.py [VENTRACTL] [RUNS]
"""
import os
import statistics
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from timed_run import timed_run  # noqa: E402


def main():
    ventractl = sys.argv[1] if len(sys.argv) > 1 else "build/default/tools/ventractl/ventractl"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    demo = [ventractl, "--profile", "macpro5_1-stuck.json", "reset", "--gpu", "fake"]
    samples = [timed_run(demo) for _ in range(runs)]
    walls = [wall for wall, _ in samples]
    peak = max(memory for _, memory in samples)
    print(f"reset demo: wall median {statistics.median(walls) * 1000:.0f} ms, worst "
          f"{max(walls) * 1000:.0f} ms; peak memory {peak:.1f} MiB ({runs} runs)")


if __name__ == "__main__":
    main()
