#!/usr/bin/env python3
"""The demo, as tools/demo.sh starts it: builds what it runs, then plays Quorlen
against the console simulator in a new work directory."""

import argparse
import contextlib
import os
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the tree from the imports below
REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))
import fade_plot  # noqa: E402  (beside this file; first: it may start this script again)
import harness  # noqa: E402
from harness import LOOPBACK_CONFIG  # noqa: E402
from quorlen_window import SLOW  # noqa: E402


class Failed(Exception):
    pass


def must(what, step, *args, **kwargs):
    try:
        return step(*args, **kwargs)
    except (AssertionError, RuntimeError, OSError, subprocess.SubprocessError) as error:
        raise Failed("%s (%s)" % (what, error))


def headless(options, settings):
    """One cycle, as a user plays it, on a display of the demo's own."""
    work = options.work
    with contextlib.closing(must("the display, Wine or the console simulator did not start", harness.Session,
                                 settings, wine=options.wine)) as session:
        print("Playing one cycle headless on display %s: Ch 5, Slow, minimum 50, touch at 0.8." % session.display,
              flush=True)
        sim = session.sim
        with session.app(LOOPBACK_CONFIG, directory=work) as app:
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
            s = must("the fade did not end", sim.wait_summary, 1, 30)
            must("Quorlen did not reset", app.wait_idle, since)
            time.sleep(0.5)
            app.screenshot("screenshot")
            code = must("Quorlen did not close", app.close)
    if code != 0:
        raise Failed("Quorlen ended with exit code %d" % code)
    if not fade_plot.plot(os.path.join(work, "console-sim.jsonl"), os.path.join(work, "level.png"), 5,
                          "Ch 5 at Slow"):
        raise Failed("could not draw the plot")
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


def interactive(options, settings):
    with contextlib.closing(harness.Session(settings, wine=options.wine, display=os.environ["DISPLAY"],
                                            simulator=False)) as session:
        app = session.app(LOOPBACK_CONFIG, directory=options.work)
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
        status = subprocess.call([settings.sim, "--log", log, "--summary-json",
                                  os.path.join(options.work, "console-sim-fades.jsonl")])
        # The user may have closed it already.
        with contextlib.suppress(AssertionError, RuntimeError, subprocess.SubprocessError):
            app.wait_window(timeout=5)
            app.close()
        app.kill()
    if fade_plot.plot(log, os.path.join(options.work, "level.png")):
        print("Plot of the level against time: %s/level.png" % options.work)
    print("Simulator log: %s" % log)
    return status


def build(what, log, preset, *targets):
    """TARGETS built with PRESET, quietly; returns the build's directory."""
    with open(os.path.join(REPO, "build", "demo-%s.log" % log), "w") as out:
        for command in (["cmake", "--preset", preset], ["cmake", "--build", "--preset", preset, "-j2", "--target",
                                                        *targets]):
            if subprocess.call(command, cwd=REPO, stdout=out, stderr=subprocess.STDOUT) != 0:
                raise Failed("%s build failed: see build/demo-%s.log" % (what, log))
    return os.path.join(REPO, "build", preset)


def main():
    parser = argparse.ArgumentParser(prog="tools/demo.sh")
    parser.add_argument("--wine", action="store_true")
    parser.add_argument("--headless", action="store_true")
    options = parser.parse_args()
    os.makedirs(os.path.join(REPO, "build"), exist_ok=True)
    try:
        if options.wine:
            print("Building the console simulator and quorlen.exe (this takes a few minutes the first time)...",
                  flush=True)
            native = build("native", "native", "linux-debug", "console-sim")
            win64 = build("win64", "win64", "win64-release", "quorlen", "quorlen-probe")
            exe = os.path.join(win64, "quorlen.exe")
            probe = os.path.join(win64, "tools", "quorlen-probe", "quorlen-probe.exe")
            # A Wine prefix of the demo's own: stopping its wineserver at the end touches nothing else.
            prefix = os.environ["QUORLEN_E2E_WINEPREFIX"] = "/tmp/quorlen-demo-wineprefix"
            print("Preparing Wine (%s; the first time takes a minute)..." % prefix, flush=True)
        else:
            print("Building the console simulator and the Linux program (a minute the first time)...", flush=True)
            native = build("Linux", "qt", "linux-qt", "console-sim", "quorlen")
            exe, probe = os.path.join(native, "quorlen"), None
    except Failed as error:
        print("demo: %s" % error, file=sys.stderr)
        return 1
    options.work = tempfile.mkdtemp(prefix="quorlen-demo.", dir="/tmp")
    settings = harness.Settings(exe, probe, os.path.join(native, "tools", "console-sim", "console-sim"), options.work)
    try:
        if options.headless or not os.environ.get("DISPLAY"):
            return headless(options, settings)
        return interactive(options, settings)
    except Failed as error:
        print("demo: %s\ndemo: what it left so far is in %s" % (error, options.work), file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
