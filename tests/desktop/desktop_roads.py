"""Every road of the app on the real Linux desktop, answered through dunst (run by
run-desktop-tests.sh, which provides the bus, the display and the server)."""
import json
import os
import signal
import subprocess
import sys
import time

VENTRACTL = os.environ["VENTRACTL"]
SCENARIOS = os.environ["SCENARIOS"]
WORK = os.environ["WORK"]
TOLERANCE = 0.1  # seconds, against the app's own timings
# The load itself takes real time before its work reaches the (fake) GPU and the app quits: the
# 1 GiB host array of ones is allocated and written first.
# Generous: under the sanitizers on a busy 2-core machine writing 1 GiB took 7.7 s. The roads
# are told apart by their order and their start times, not by how fast the load is.
LOAD_ALLOWANCE = 30.0
TITLE = "High Fan Speed Detected"
BODY = "Ventra will try to reset the fans."

failures = []
timings = []


def check(road, condition, what):
    if not condition:
        failures.append(f"{road}: {what}")


def dunstctl(*args):
    return subprocess.run(["dunstctl", *args], capture_output=True, text=True).stdout.strip()


def displayed():
    text = dunstctl("count", "displayed")
    return int(text) if text.isdigit() else -1


def history():
    entries = json.loads(dunstctl("history") or '{"data": [[]]}')["data"][0]
    return [{key: value["data"] for key, value in entry.items()} for entry in entries]


def wait_for(condition, seconds=5.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.02)
    return False


def pick(label):
    with open(os.path.join(WORK, "pick"), "w") as menu_choice:
        menu_choice.write(label)
    dunstctl("context")


def run(scenario, answer=None):
    command = [VENTRACTL, "simulate", f"{SCENARIOS}/{scenario}.json", "--desktop", "linux", "--json"]
    app = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if answer:
        if wait_for(lambda: displayed() == 1):
            answer()
        else:
            failures.append(f"{scenario}: the notification never showed")
    out, err = app.communicate(timeout=60)
    return app.returncode, [json.loads(line) for line in out.splitlines()], err


def times(trace, event):
    return [e["t"] for e in trace if e["event"] == event]


def near(values, expected):
    return len(values) == 1 and abs(values[0] - expected) <= TOLERANCE


def after_load(values, start):
    """Once, no earlier than `start` and no later than the load allows."""
    return len(values) == 1 and start - TOLERANCE <= values[0] <= start + LOAD_ALLOWANCE


def record(road, trace):
    decisive = ("deliverNotification", "userAnswer", "removeDeliveredNotification", "gpuLoad",
                "terminate")
    timings.append((road, " ".join(f"{e['event']}@{e['t']:.3f}" for e in trace
                                   if e["event"] in decisive)))


def shown_and_gone(road, before):
    check(road, wait_for(lambda: displayed() == 0), "a notification is left on screen")
    entries = history()
    check(road, len(entries) == before + 1, f"dunst's history grew by {len(entries) - before}")
    if entries:
        latest = entries[0]
        check(road, latest.get("summary") == TITLE or latest.get("summary") == "Forced Mode",
              f"title {latest.get('summary')!r}")
        check(road, latest.get("body") == BODY, f"body {latest.get('body')!r}")
        check(road, latest.get("appname") == "Ventra", f"app {latest.get('appname')!r}")


def answered(road, label, loads):
    before = len(history())
    status, trace, _ = run("default", lambda: pick(label) if label else dunstctl("action", "0"))
    record(road, trace)
    check(road, status == 0, f"exit status {status}")
    check(road, near(times(trace, "deliverNotification"), 1.0), "alert not at 1.0 s")
    answers = times(trace, "userAnswer")
    check(road, len(answers) == 1, "no single answer")
    check(road, len(times(trace, "gpuLoad")) == (1 if loads else 0), "wrong load")
    if answers:
        quits = near if not loads else after_load
        check(road, quits(times(trace, "terminate"), answers[0]), "no quit at the answer")
    shown_and_gone(road, before)


def unanswered(road, scenario, title):
    before = len(history())
    status, trace, _ = run(scenario)
    record(road, trace)
    check(road, status == 0, f"exit status {status}")
    alerts = [e for e in trace if e["event"] == "deliverNotification"]
    check(road, len(alerts) == 1 and alerts[0]["title"] == title, "wrong alert")
    check(road, near(times(trace, "deliverNotification"), 1.0), "alert not at 1.0 s")
    check(road, near(times(trace, "removeDeliveredNotification"), 10.0),
          "removeDeliveredNotification not at 10.0 s")
    for event in ("gpuLoad", "terminate"):
        check(road, after_load(times(trace, event), 10.0), f"{event} not right after 10.0 s")
    return before


def main():
    answered("reset", "Reset", True)
    answered("cancel", "Cancel", False)
    answered("body click", None, False)
    before = unanswered("no answer", "default", TITLE)
    shown_and_gone("no answer", before)
    before = unanswered("forced", "forced", "Forced Mode")
    shown_and_gone("forced", before)

    before = len(history())
    status, trace, _ = run("wrong-host")
    record("ineligible host", trace)
    check("ineligible host", status == 0 and near(times(trace, "terminate"), 1.0), "no quit at 1.0 s")
    check("ineligible host", not times(trace, "deliverNotification"), "an alert was delivered")
    check("ineligible host", len(history()) == before and displayed() == 0, "dunst showed something")

    # Ctrl-C while the alert is up: the alert is withdrawn, the scripted host's files go, and
    # the trace so far is printed; the status says how it ended.
    before = len(history())
    scratch = os.path.join(WORK, "interrupted-tmp")
    os.makedirs(scratch)
    command = [VENTRACTL, "simulate", f"{SCENARIOS}/default.json", "--desktop", "linux", "--json"]
    app = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                           env={**os.environ, "TMPDIR": scratch})
    if wait_for(lambda: displayed() == 1):
        app.send_signal(signal.SIGINT)
    out, err = app.communicate(timeout=60)
    trace = [json.loads(line) for line in out.splitlines()]
    record("interrupted", trace)
    check("interrupted", app.returncode == 130, f"exit status {app.returncode}: {err!r}")
    check("interrupted", near(times(trace, "deliverNotification"), 1.0), "no trace printed")
    check("interrupted", not times(trace, "gpuLoad"), "the load ran")
    check("interrupted", wait_for(lambda: displayed() == 0), "the alert is left on screen")
    check("interrupted", len(history()) == before + 1, "not shown once")
    check("interrupted", os.listdir(scratch) == [], f"left behind: {os.listdir(scratch)}")

    # A server stopped when the alert is due is sent nothing: resumed after the app quit, it
    # must not show an alert whose buttons answer nobody. The timeout road runs as usual.
    dunst = int(os.environ["DUNST_PID"])
    before = len(history())
    os.kill(dunst, signal.SIGSTOP)
    try:
        status, trace, err = run("default")
    finally:
        os.kill(dunst, signal.SIGCONT)
    record("stopped server", trace)
    late = [after_load(times(trace, e), 10.0) for e in ("gpuLoad", "terminate")]
    check("stopped server", status == 0 and all(late), "not the timeout road")
    check("stopped server", "no notification server answered" in err, f"no message: {err!r}")
    time.sleep(1.0)  # what dunst had queued, it has now handled
    check("stopped server", displayed() == 0 and len(history()) == before,
          "an alert came up after the app quit")

    os.kill(dunst, signal.SIGTERM)
    time.sleep(0.3)
    status, trace, err = run("default")
    record("no server", trace)
    unanswered_checks = [after_load(times(trace, e), 10.0) for e in ("gpuLoad", "terminate")]
    check("no server", status == 0 and all(unanswered_checks), "not the timeout road")
    check("no server", "could not be shown" in err, f"no message: {err!r}")

    # A bus daemon that takes connections and never answers: the app gives up on the bus after
    # its bounded wait and the timeout road still runs, that wait later.
    bus = int(os.environ["BUS_PID"])
    os.kill(bus, signal.SIGSTOP)
    try:
        status, trace, err = run("default")
    finally:
        os.kill(bus, signal.SIGCONT)
    record("stalled bus", trace)
    late = [len(times(trace, e)) == 1 and 10.0 <= times(trace, e)[0] <= 12.5 + LOAD_ALLOWANCE
            for e in ("gpuLoad", "terminate")]
    check("stalled bus", status == 0 and all(late), "not the timeout road")
    check("stalled bus", "no session bus" in err and "'ventractl reset'" in err,
          f"no message, or no road without a desktop: {err!r}")

    for road, line in timings:
        print(f"{road:16} {line}")
    for failure in failures:
        print("FAIL:", failure)
    print(f"desktop: {len(timings) - len({f.split(':')[0] for f in failures})} passed, "
          f"{len({f.split(':')[0] for f in failures})} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
