"""The floor of a fade step for the bench: tools/fade-floor run the way the
bench runs the program (its own Xvfb, Wine prefix and console simulator on
the bench's loopback address), its CPU read from outside, as the program's is:
the process and, under Wine, the prefix's wineserver.

    python3 tools/bench_floor.py PATH [--steps N] [--address 127.0.0.3] [--nolook]

bench.py imports measure_floor(). The figure is microseconds of CPU per step
over the middle of the run: the window's creation and Wine's start stay out.
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

SETTLE_S = 3.0  # after the start: Wine's and the window's start-up is not a step
TAIL_S = 1.0    # before the end: closing is not a step either
PERIOD_US = 10000.0


def floor_path(tree, preset, native):
    name = "fade-floor" if native else "fade-floor.exe"
    return os.path.join(tree, "build", preset, "tools", "fade-floor", name)


def measure_floor(path, wine, address="127.0.0.3", steps=2000, look=True, out_dir=None):
    """{"cpu_us_per_step": outside figure, "own_cpu_us_per_step": the floor's
    own, "cpu_split_us": per process} or None when it couldn't run."""
    import bench  # noqa: E402  (the process readers; imported late, bench imports this module)
    if not os.path.exists(path):
        return None
    e2e.Settings.out = out_dir or os.path.join(REPO, "build", "bench", "floor")
    os.makedirs(e2e.Settings.out, exist_ok=True)
    session = e2e.Session(address=address, wine=wine)
    sampler = None
    try:
        command = (e2e.wine_command(path) if wine else [path]) + [str(steps), address, "10023",
                                                                 "look" if look else "nolook"]
        proc = subprocess.Popen(command, env=session.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                text=True)
        begun = time.monotonic()
        pid = None
        while pid is None and time.monotonic() - begun < 30:
            pid = bench.find_process(os.path.basename(path), proc.pid) if wine else proc.pid
            time.sleep(0.05)
        watched = {"program": pid}
        if wine:
            watched["wineserver"] = bench.find_wineserver(session.env["WINEPREFIX"])
        sampler = bench.CpuSampler(watched)
        sampler.start()
        output, _ = proc.communicate(timeout=steps * PERIOD_US / 1e6 + 120)
        ended = time.monotonic()
        sampler.stop()
        own = json.loads(output.strip().splitlines()[-1])
        wall, cpu = sampler.between(begun + SETTLE_S, ended - TAIL_S)
        if wall <= 0:
            return None
        per_step = {name: seconds * 1e6 / (wall * 1e6 / PERIOD_US) for name, seconds in cpu.items()}
        return {"cpu_us_per_step": sum(per_step.values()), "cpu_split_us": per_step,
                "own_cpu_us_per_step": own["cpu_us_per_step"], "steps": own["steps"], "look": own["look"]}
    finally:
        if sampler is not None and sampler.is_alive():
            sampler.stop()
        session.close()


def main():
    parser = argparse.ArgumentParser(description="fade-floor's CPU per step, measured as the bench measures")
    parser.add_argument("path")
    parser.add_argument("--steps", type=int, default=2000)
    parser.add_argument("--address", default="127.0.0.3")
    parser.add_argument("--nolook", action="store_true")
    options = parser.parse_args()
    e2e.Settings.sim = next((p for p in (os.path.join(REPO, "build", preset, "tools", "console-sim", "console-sim")
                             for preset in ("linux-debug", "linux-qt")) if os.path.exists(p)), None)
    e2e.Settings.probe = os.path.join(REPO, "build", "win64-release", "tools", "quorlen-probe", "quorlen-probe.exe")
    wine = options.path.endswith(".exe")
    print(json.dumps(measure_floor(options.path, wine, options.address, options.steps, not options.nolook)))


if __name__ == "__main__":
    main()
