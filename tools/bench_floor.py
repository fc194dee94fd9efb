"""What a fade step costs, against its floor, for the bench: one long fade of
the program, and tools/fade-floor, each run the way the bench runs a program
(an Xvfb, Wine prefix and console simulator of its own, on the bench's
loopback address). CPU is read from outside, for the process and, under Wine,
the prefix's wineserver, as on-CPU time from /proc/PID/task/*/schedstat
(nanoseconds: over 8 s of steps, the kernel's 10 ms ticks would be too
coarse), over the middle of the run: starting and ending are not steps.

    python3 tools/bench_floor.py fade-floor PATH [--steps N] [--nolook]
    python3 tools/bench_floor.py program PATH

bench.py calls measure_floor() and measure_fade_steps().
"""

import argparse
import json
import os
import subprocess
import sys
import time

sys.dont_write_bytecode = True
TOOLS = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(TOOLS)
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))
sys.path.insert(0, TOOLS)

import quorlen_e2e as e2e  # noqa: E402

PERIOD_US = 10000.0
SETTLE_S = 3.0          # fade-floor: Wine's and the window's start are not steps
FADE_SETTLE_S = 1.5     # the long fade: its first steps (the capture, the touch ending) are left out
MEASURED_S = 8.0        # of the long fade's 10 s
LONG_FADE_LEVEL = 0.5   # at "Too Slow" (0.0005 a step) down to 0: 1000 steps


def floor_path(tree, preset, native):
    return os.path.join(tree, "build", preset, "tools", "fade-floor", "fade-floor" if native else "fade-floor.exe")


def on_cpu_seconds(pids):
    total = 0
    for pid in pids:
        try:
            tasks = os.listdir("/proc/%d/task" % pid)
        except OSError:
            continue
        for task in tasks:
            try:
                with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                    total += int(f.read().split()[0])
            except (OSError, ValueError, IndexError):
                pass
    return total / 1e9


def per_step_us(pids, seconds):
    """Microseconds of CPU per 10 ms step over the next SECONDS, per pid."""
    before = {pid: on_cpu_seconds([pid]) for pid in pids}
    begun = time.monotonic()
    time.sleep(seconds)
    wall = time.monotonic() - begun
    return {pid: (on_cpu_seconds([pid]) - before[pid]) * 1e6 / (wall * 1e6 / PERIOD_US) for pid in pids}


def session_pids(bench, session, path, root, wine):
    """The program's process and, under Wine, the prefix's wineserver."""
    pid = None
    deadline = time.monotonic() + 30
    while pid is None and time.monotonic() < deadline:
        pid = bench.find_process(os.path.basename(path), root) if wine else root
        if pid is None:
            time.sleep(0.05)
    pids = {"program": pid}
    if wine:
        pids["wineserver"] = bench.find_wineserver(session.env["WINEPREFIX"])
    return pids


def figures(pids, split):
    named = {name: split[pid] for name, pid in pids.items()}
    return {"cpu_us_per_step": sum(named.values()), "cpu_split_us": named}


def measure_floor(path, wine, address="127.0.0.3", steps=1500, look=True, out_dir=None):
    """fade-floor's CPU per step: {"cpu_us_per_step", "cpu_split_us",
    "own_cpu_us_per_step" (its own reading, the process alone)}, or None."""
    import bench  # noqa: E402  (late: bench imports this module)
    if not os.path.exists(path) or steps * PERIOD_US / 1e6 < SETTLE_S + 3:
        return None
    e2e.Settings.out = out_dir or os.path.join(REPO, "build", "bench", "floor")
    os.makedirs(e2e.Settings.out, exist_ok=True)
    session = e2e.Session(address=address, wine=wine)
    try:
        command = (e2e.wine_command(path) if wine else [path]) + [str(steps), address, "10023",
                                                                 "look" if look else "nolook"]
        proc = subprocess.Popen(command, env=session.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                text=True)
        begun = time.monotonic()
        pids = session_pids(bench, session, path, proc.pid, wine)
        time.sleep(max(0.0, SETTLE_S - (time.monotonic() - begun)))
        split = per_step_us(list(pids.values()), steps * PERIOD_US / 1e6 - SETTLE_S - 1.0)
        output, _ = proc.communicate(timeout=steps * PERIOD_US / 1e6 + 120)
        result = figures(pids, split)
        result["own_cpu_us_per_step"] = json.loads(output.strip().splitlines()[-1])["cpu_us_per_step"]
        return result
    finally:
        session.close()


def measure_fade_steps(path, wine, driver, address="127.0.0.3", out_dir=None):
    """The program's CPU per fade step over the middle of one 1000-step fade
    (Main, "Too Slow", minimum 0: the settings every start has), or None."""
    import bench  # noqa: E402
    e2e.Settings.exe, e2e.Settings.out = path, out_dir or os.path.join(REPO, "build", "bench", "steps")
    if wine and e2e.find_skip_reason():
        return None
    os.makedirs(e2e.Settings.out, exist_ok=True)
    session = e2e.Session(address=address, wine=wine)
    try:
        app = e2e.App(address.split("."), name="steps", session=session, command=None if wine else [path],
                      probe=driver == "probe")
        app.wait_ready()
        time.sleep(1.0)
        pids = session_pids(bench, session, path, app.proc.pid, wine)
        summaries = len(session.sim.summaries())
        mark = session.sim.mark()
        app.capture()
        time.sleep(0.3)
        session.sim.command("touch main %r" % LONG_FADE_LEVEL)
        time.sleep(FADE_SETTLE_S)
        split = per_step_us(list(pids.values()), MEASURED_S)
        summary = session.sim.wait_summary(summaries + 1, timeout=60)
        app.wait_idle(since=mark)
        app.close()
        result = figures(pids, split)
        result["messages"] = summary["count"]
        return result
    finally:
        session.close()


def main():
    parser = argparse.ArgumentParser(description="CPU per fade step of fade-floor or a program, as the bench reads it")
    parser.add_argument("what", choices=["fade-floor", "program"])
    parser.add_argument("path")
    parser.add_argument("--steps", type=int, default=1500)
    parser.add_argument("--address", default="127.0.0.3")
    parser.add_argument("--nolook", action="store_true")
    options = parser.parse_args()
    path = os.path.abspath(options.path)
    e2e.Settings.sim = next((p for p in (os.path.join(REPO, "build", preset, "tools", "console-sim", "console-sim")
                                         for preset in ("linux-debug", "linux-qt")) if os.path.exists(p)), None)
    e2e.Settings.probe = os.path.join(REPO, "build", "win64-release", "tools", "quorlen-probe", "quorlen-probe.exe")
    wine = path.endswith(".exe")
    if options.what == "fade-floor":
        result = measure_floor(path, wine, options.address, options.steps, not options.nolook)
    else:
        result = measure_fade_steps(path, wine, "probe" if wine else "coords", options.address)
    print(json.dumps(result))


if __name__ == "__main__":
    main()
