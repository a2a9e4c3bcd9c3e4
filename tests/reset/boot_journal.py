#!/usr/bin/env python3
"""Reads what the test machine of scripts/boot-check.sh wrote about ventra-reset.service and
checks it: at boot the reset worked (status 0) with its lines in the journal as they happened,
boot reached multi-user.target before the reset ended, no warning about the unit's environment
or Mesa's cache; the README's tuning for the unit left a tuned tile in the unit's cache and
its undoing removed it; a second start found the shader cache warm; under the shipped sandbox
(without the drop-in) lavapipe is refused in words, the unit failed. Prints the journal's
excerpt and the times.

    boot_journal.py RESULTS_DIRECTORY
"""
import pathlib
import re
import sys

results = pathlib.Path(sys.argv[1])
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what)


def read(name):
    path = results / name
    return path.read_text(errors="replace") if path.exists() else ""


def state(name):
    return dict(line.split("=", 1) for line in read(name + ".state").split("\n") if "=" in line)


# "[  12.345678] host ventractl[123]: text": the monotonic time and the text.
LINE = re.compile(r"^\[\s*([0-9.]+)\]\s+\S+\s+([^:]+):\s?(.*)$")


def lines(name):
    found = []
    for raw in read(name).splitlines():
        match = LINE.match(raw)
        if match:
            found.append((float(match.group(1)), match.group(2), match.group(3)))
    return found


def ventractl_lines(name):
    return [(t, text) for t, source, text in lines(name) if source.startswith("ventractl")]


def first(found, needle):
    return next((t for t, text in found if needle in text), None)


def preparing_seconds(found):
    """From the load phase's first line to its first sample: the load made, its code compiled."""
    begun, sampled = first(found, "load: the GPU works"), first(found, "load: fan 0")
    return sampled - begun if begun is not None and sampled is not None else None


boot = ventractl_lines("boot.journal")
print("== ventra-reset.service at boot (journalctl -u ventra-reset, monotonic seconds):")
for t, text in boot:
    print(f"  [{t:9.3f}] {text}")
boot_state = state("boot")
check(boot_state.get("Result") == "success" and boot_state.get("ExecMainStatus") == "0",
      f"the boot's reset: {boot_state}")
worked = first(boot, "reset worked")
check(worked is not None, "the boot's reset has no 'reset worked' line")
check(len({t for t, _ in boot}) >= 3,
      "the boot's lines share their timestamps: they were not written as they happened")

everything = read("boot.all-journal")
reached = next((float(m.group(1)) for m in
                re.finditer(r"^\[\s*([0-9.]+)\].*Reached target multi-user\.target", everything,
                            re.M)), None)
check(reached is not None, "boot never reached multi-user.target")
if reached is not None and worked is not None:
    print(f"multi-user.target reached at {reached:.1f} s (monotonic); the reset ended at "
          f"{worked:.1f} s")
    check(reached < worked, "boot waited for the reset")
check("Referenced but unset environment variable" not in everything,
      "systemd warned of an unset environment variable")
check("Failed to create" not in everything, "Mesa could not create its shader cache")

warm = ventractl_lines("warm.journal")
cold_seconds, warm_seconds = preparing_seconds(boot), preparing_seconds(warm)
print(f"load prepared in {cold_seconds} s at boot (cache empty), {warm_seconds} s at the second "
      "start")
check(state("warm").get("ExecMainStatus") == "0", f"the second start: {state('warm')}")
check(cold_seconds is not None and warm_seconds is not None and warm_seconds < cold_seconds,
      "the second start did not find the shader cache warm")
check("mesa_shader_cache" in read("cache.txt"), "no shader cache in the unit's cache directory")
check("tiles.json" in read("cache.txt"), "the tile tuned for the unit is not in its cache")
print("tuned for the unit: " + (re.findall(r"tile \S+ \([^)]*\)", read("tuned.txt")) or ["?"])[0])
check("tuned on this device" in read("tuned.txt"),
      "the README's tuning for the unit left no tuned tile: " + read("tune.txt")[-300:])
check(read("clean.txt").strip().endswith("status 0"),
      "systemctl clean --what=cache failed: " + read("clean.txt")[-300:])
check("tuned on this device" not in read("untuned.txt") and "tile" in read("untuned.txt"),
      "systemctl clean --what=cache did not undo the tuning: " + read("untuned.txt")[-300:])

sandboxed = ventractl_lines("sandboxed.journal")
print("== without the drop-in, under the shipped sandbox:")
for t, text in sandboxed:
    print(f"  [{t:9.3f}] {text}")
sandboxed_state = state("sandboxed")
check(sandboxed_state.get("Result") == "exit-code" and
      sandboxed_state.get("ExecMainStatus") == "3", f"under the sandbox: {sandboxed_state}")
check(any("may not make memory it wrote executable" in text for _, text in sandboxed),
      "under the sandbox lavapipe was not refused in words")
check("status=11/SEGV" not in read("sandboxed.unit-journal"), "the reset crashed under the sandbox")
exposure = re.search(r"Overall exposure level.*", read("security.txt"))
print(exposure.group(0) if exposure else "no exposure figure")
sys.exit(1 if failures else 0)
