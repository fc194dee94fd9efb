#!/usr/bin/env python3
"""The demo's run, which tools/demo.sh builds and starts (its head says what it
shows); a Windows program, with --probe, runs under Wine:

    tools/demo.py --exe PROGRAM --sim CONSOLE_SIM [--probe PROBE] --work DIR [--headless]
"""

import argparse
import os
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the tree from the imports below
TOOLS = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(TOOLS), "tests", "e2e"))
import quorlen_e2e as e2e  # noqa: E402
from quorlen_window import SLOW  # noqa: E402


class Failed(Exception):
    pass


def must(what, step, *args, **kwargs):
    try:
        return step(*args, **kwargs)
    except (AssertionError, RuntimeError, OSError, subprocess.SubprocessError) as error:
        raise Failed("%s (%s)" % (what, error))


def plot(work, *args):
    return subprocess.run([sys.executable, os.path.join(TOOLS, "fade_plot.py"), os.path.join(work, "console-sim.jsonl"),
                           os.path.join(work, "level.png")] + list(args), stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def play(app, sim):
    """One cycle, as a user plays it; returns the program's exit code and the
    simulator's summary of the fade."""
    must("the Quorlen window did not appear", app.wait_ready)
    app.screenshot("idle")
    must("could not select Ch 5, Slow and the minimum 50", app.pick, 5, SLOW, 50)
    since, subscription = must("capture did not start", app.capture)
    app.screenshot("waiting")
    print("Captured; the simulator touches fader 5 at 0.8 in 2.5 s.", flush=True)
    time.sleep(max(0.0, subscription["t_us"] / 1e6 + sim.clock_offset + 2.5 - time.monotonic()))
    sim.command("touch 5 0.8")
    must("no fade reached the console", sim.wait_for, lambda e: e["dir"] == "in" and e.get("action") == "fader",
         since, 20, "a fade")
    app.screenshot("fading")
    summary = must("the fade did not end", sim.wait_summary, 1, 30)
    must("Quorlen did not reset", app.wait_idle, since)
    time.sleep(0.5)
    app.screenshot("screenshot")
    return must("Quorlen did not close", app.close), summary


def headless(options, command):
    session = must("the display, Wine or the console simulator did not start", e2e.Session, wine=bool(options.probe))
    try:
        print("Playing one cycle headless on display %s: Ch 5, Slow, minimum 50, touch at 0.8." % session.display,
              flush=True)
        app = e2e.App(e2e.LOOPBACK_CONFIG, session=session, command=command, directory=options.work)
        try:
            code, s = play(app, session.sim)
        finally:
            app.kill()
    finally:
        session.close()
    if code != 0:
        raise Failed("Quorlen ended with exit code %d" % code)
    if not plot(options.work, "--fader", "5", "--title", "Ch 5 at Slow"):
        raise Failed("could not draw the plot")
    work = options.work
    with open(os.path.join(work, "console-sim.out")) as out, open(os.path.join(work, "console-sim-fades.jsonl")) as f:
        print("\nThe console simulator's summary:\n" + "".join(line for line in out if "listening on" not in line)
              + f.read())
    print("Screenshots:      %s/waiting.png (captured, waiting for the touch)" % work)
    print("                  %s/fading.png, %s/screenshot.png (after the reset)" % (work, work))
    print("Level over time:  %s/level.png" % work)
    print("Simulator log:    %s/console-sim.jsonl" % work)
    ok = s["fader"] == 5 and s["count"] > 1 and abs(s["first"] - 0.8) < 1e-6 and 0.5 < s["last"] < 0.51
    print("Demo %s: %d messages from %.3f to %.4f, mean interval %.2f ms, p99 %.2f ms, capture latency %.2f ms"
          % ("done" if ok else "FAILED", s["count"], s["first"], s["last"], s["mean_interval_ms"],
             s["p99_interval_ms"], s["capture_latency_ms"]))
    return 0 if ok else 1


def interactive(options, command):
    session = e2e.Session(wine=bool(options.probe), display=os.environ["DISPLAY"], simulator=False)
    try:
        app = e2e.App(e2e.LOOPBACK_CONFIG, session=session, command=command, directory=options.work)
        print('''
Quorlen is running against the console simulator (127.0.0.1:10023).
In the Quorlen window:
  1. pick "Ch 5" in the list, click "Fast", and set "Fade to" to 50 with the arrows;
  2. press "Get Main Position Until Touch".
Then touch the fader on the "console": type below
      touch 5 0.8
and watch the level bar fall to 0.5. "Reset Off" stops a fade; type "quit" to end the demo.
''', flush=True)
        log = os.path.join(options.work, "console-sim.jsonl")
        status = subprocess.call([e2e.Settings.sim, "--log", log, "--summary-json",
                                  os.path.join(options.work, "console-sim-fades.jsonl")])
        try:
            app.wait_window(timeout=5)
            app.close()
        except (AssertionError, RuntimeError, subprocess.SubprocessError):
            pass  # the user closed it already
        app.kill()
    finally:
        session.close()
    if plot(options.work):
        print("Plot of the level against time: %s/level.png" % options.work)
    print("Simulator log: %s" % log)
    return status


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--probe")
    parser.add_argument("--work", required=True)
    parser.add_argument("--headless", action="store_true")
    options = parser.parse_args()
    e2e.Settings.exe, e2e.Settings.sim, e2e.Settings.out = options.exe, options.sim, options.work
    e2e.Settings.probe = options.probe
    command = e2e.wine_command(options.exe) if options.probe else [options.exe]
    try:
        return headless(options, command) if options.headless else interactive(options, command)
    except Failed as error:
        print("demo: %s\ndemo: what it left so far is in %s" % (error, options.work), file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
