"""One program's wall time and peak resident memory, for the benchmark scripts beside this."""
import subprocess
import sys
import tempfile
import time


def timed_run(argv):
    """(seconds, MiB): GNU time reports the child's own peak; the wall clock includes its small
    start-up, the same for every program measured."""
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.monotonic()
        status = subprocess.call(["/usr/bin/time", "-f", "%M", "-o", report.name] + argv,
                                 stdout=subprocess.DEVNULL)
        wall = time.monotonic() - start
        if status != 0:
            sys.exit(f"{argv[0]} failed with status {status}")
        return wall, int(report.read().split()[-1]) / 1024  # KiB -> MiB
