#!/usr/bin/env python3
"""Quorlen's bench: how evenly a fade is paced, how long a capture takes to
answer the touch, and what the program costs in CPU, memory, start-up time and
size. Run it through tools/bench.sh, which installs and sources what it needs.

Each program runs on an Xvfb display of its own against the console simulator
on another loopback address (127.0.0.3 by default, so the shared port lock on
127.0.0.1:10023 is never needed), and is driven like a user: a channel, a
speed and a minimum, then "Get Main Position Until Touch", then the
simulator's touch. The figures come from the simulator's log (t_us of every
datagram) and its fade summaries; a figure taken per fade is the median over
the fades. Targets are shown, never asserted.

    tools/bench.sh [--ref REV] [--native PATH] [--driver probe|coords] [--publish]

--ref REV checks REV out into a temporary git worktree under build/, builds
its programs there and measures them in the same run, each program of REV
next to the same program of this tree (which goes first takes turns); the
table then shows each figure as a ratio to REV. The instruments (simulator and
probe) are this tree's.
"""

import argparse
import datetime
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True  # no __pycache__ in the tree from the imports below
TOOLS = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(TOOLS)
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))

import debian_python  # noqa: E402,F401  (first: it may start this script again)
import psutil  # noqa: E402
from PIL import Image  # noqa: E402

import bench_floor  # noqa: E402  (beside this file)
import fade_plot  # noqa: E402  (beside this file)
import fade_stats  # noqa: E402  (beside this file)
import quorlen_e2e as e2e  # noqa: E402
from fade_plot import plt  # noqa: E402

PERIOD_MS = 10.0
MINIMUM = 2  # percent; with the touched levels below every fade has 154 to 161 messages
FADES = [  # option, name, touched level, colour in the level chart
    (e2e.TOO_SLOW, "Too Slow", 0.10, "#1f6fd1"),
    (e2e.SLOW, "Slow", 0.25, "#2a9d3a"),
    (e2e.NORMAL, "Normal", 0.50, "#d1831f"),
    (e2e.FAST, "Fast", 0.98, "#c2303a"),
]
PRODUCT = ["app", "config", "link", "ui", "resources", "cmake", "CMakeLists.txt"]  # what the programs are built from
ROWS = [1, 2, 3, 4, 5, 0]  # channel-list rows taken in turn; all of them show without scrolling

# ---------------------------------------------------------------------------
# Processes: CPU time, peak memory, and finding them by name.

def peak_rss_kib(pid):
    """The kernel's high-water mark, VmHWM: psutil reads no peak on Linux."""
    with open("/proc/%d/status" % pid) as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))


def find_process(name, root):
    """The process named NAME (as Wine names a program's process) that is ROOT
    or started from it: the 32-bit wrapper runs it a few execs and forks down."""
    try:
        family = [psutil.Process(root)] + psutil.Process(root).children(recursive=True)
        return next((p.pid for p in family if p.name() == name), None)
    except psutil.Error:
        return None


def find_wineserver(prefix):
    for p in psutil.process_iter(["name", "environ"]):
        if p.info["name"].startswith("wineserver") and (p.info["environ"] or {}).get("WINEPREFIX") == prefix:
            return p.pid
    return None


class CpuSampler(threading.Thread):
    """Reads the CPU time of the watched processes every 50 ms for the whole
    run, so that any stretch of it can be costed afterwards."""

    def __init__(self, pids):
        super().__init__(daemon=True)
        self.pids = pids
        self.processes = {name: psutil.Process(pid) for name, pid in pids.items()}
        self.samples = []
        self.done = threading.Event()

    def sample(self):
        values = {}
        for name, process in self.processes.items():
            try:
                times = process.cpu_times()  # of every thread
                values[name] = times.user + times.system
            except psutil.Error:  # ended: its last reading stands
                values[name] = self.samples[-1][1][name] if self.samples else 0.0
        self.samples.append((time.monotonic(), values))

    def run(self):
        while not self.done.is_set():
            self.sample()
            self.done.wait(0.05)

    def stop(self):
        self.done.set()
        self.join()

    def between(self, start, end):
        """(wall seconds, {name: CPU seconds}) between the first sample at or
        after START and the last one at or before END."""
        inside = [s for s in self.samples if start <= s[0] <= end]
        if len(inside) < 2:
            return 0.0, {name: 0.0 for name in self.pids}
        (t0, a), (t1, b) = inside[0], inside[-1]
        return t1 - t0, {name: b[name] - a[name] for name in self.pids}


def cpu_percent(stretches):
    """% of one core over a list of (wall, {name: CPU}) stretches, per
    process and in all."""
    wall = sum(w for w, _ in stretches)
    names = stretches[0][1].keys() if stretches else []
    shares = {n: 100.0 * sum(c[n] for _, c in stretches) / wall if wall else None for n in names}
    shares["total"] = sum(shares.values()) if wall else None
    return shares


# ---------------------------------------------------------------------------
# One program, measured.

class Program:
    def __init__(self, label, path, wine, driver):
        self.label, self.path, self.wine, self.driver = label, path, wine, driver


def fade_figures(sim, since, summary, speed_name, row, touch, step):
    messages = [e for e in sim.read()[since:] if e["dir"] == "in" and e.get("action") == "fader"
                and summary["start_us"] <= e["t_us"] <= summary["end_us"]]
    intervals = fade_stats.intervals_ms(messages)
    pace = fade_stats.pace(intervals)
    expected = e2e.expected_fade(touch, step, MINIMUM)
    duration = (messages[-1]["t_us"] - messages[0]["t_us"]) / 1000.0
    nominal = (len(messages) - 1) * PERIOD_MS
    return {
        "speed": speed_name, "row": row, "touch": touch, "count": len(messages), "expected_count": len(expected),
        "as_chosen": summary["fader"] == row and [e2e.level_of(m) for m in messages] == expected,
        "mean_interval_ms": pace["mean"], "p50_interval_ms": pace["p50"], "p99_interval_ms": pace["p99"],
        "max_interval_ms": pace["max"], "duration_ms": duration, "nominal_ms": nominal,
        "duration_ratio": duration / nominal, "capture_latency_ms": summary["capture_latency_ms"],
        "intervals_ms": intervals,
        "levels": [((m["t_us"] - messages[0]["t_us"]) / 1000.0, e2e.level_of(m)) for m in messages],
    }


def measure(program, options, out_dir):
    e2e.Settings.exe, e2e.Settings.out = program.path, out_dir
    reason = e2e.find_skip_reason() if program.wine else None
    if reason:
        print("bench: %s skipped: %s" % (program.label, reason), file=sys.stderr)
        return None
    os.makedirs(out_dir, exist_ok=True)
    session = e2e.Session(address=options.address, wine=program.wine)
    sampler = None
    config = options.address.split(".")
    command = None if program.wine else [program.path]
    try:
        starts = []
        for i in range(options.starts):
            begun = time.monotonic()
            app = e2e.App(config, name="start%d" % i, session=session, command=command,
                          probe=program.driver == "probe")
            app.wait_ready()
            starts.append((app.ready_at - begun) * 1000.0)
            if i < options.starts - 1:
                app.close()
        pid = find_process(os.path.basename(program.path), app.proc.pid) or app.proc.pid
        watched = {"program": pid}
        if program.wine:
            watched["wineserver"] = find_wineserver(session.env["WINEPREFIX"])
            if watched["wineserver"] is None:
                raise RuntimeError("no wineserver runs for %s" % session.env["WINEPREFIX"])
        sampler = CpuSampler(watched)
        sampler.start()
        time.sleep(1.0)  # the start's last probe queries and paints settle
        begun = time.monotonic()
        time.sleep(options.idle_seconds)
        idle = sampler.between(begun, time.monotonic())

        sim = session.sim
        fades = []
        waiting = None
        for i in range(options.rounds * len(FADES)):
            row = ROWS[i % len(ROWS)]
            speed, speed_name, touch, _ = FADES[i % len(FADES)]
            try:
                app.pick(row, speed, MINIMUM)
                summaries = len(sim.summaries())
                since, _ = app.capture()
                if waiting is None:  # the first capture also waits for a while with no touch
                    begun = time.monotonic()
                    time.sleep(options.wait_seconds)
                    waiting = sampler.between(begun, time.monotonic())
                time.sleep(0.3)
                sim.command("touch %s %r" % (row or "main", touch))
                summary = sim.wait_summary(summaries + 1, timeout=60)
                app.wait_idle(since)
            except AssertionError as error:
                raise RuntimeError("%s, fade %d (row %d, %s): %s" % (program.label, i + 1, row, speed_name, error))
            fade = fade_figures(sim, since, summary, speed_name, row, touch, e2e.SPEEDS[speed])
            fade["cpu"] = sampler.between(summary["start_us"] / 1e6 + sim.clock_offset,
                                          summary["end_us"] / 1e6 + sim.clock_offset)
            fades.append(fade)
        rss = peak_rss_kib(pid)
        sampler.stop()
        app.close()
    finally:
        if sampler is not None and sampler.is_alive():
            sampler.stop()
        session.close()
    return summarise(program, starts, idle, waiting, fades, rss)


def summarise(program, starts, idle, waiting, fades, rss):
    latencies = [f["capture_latency_ms"] for f in fades if f["capture_latency_ms"] is not None]
    figures = {
        "mean_interval_ratio": statistics.median(f["mean_interval_ms"] for f in fades) / PERIOD_MS,
        "p50_interval_ms": statistics.median(f["p50_interval_ms"] for f in fades),
        "p99_interval_ms": statistics.median(f["p99_interval_ms"] for f in fades),
        "max_interval_ms": statistics.median(f["max_interval_ms"] for f in fades),
        "worst_interval_ms": max(f["max_interval_ms"] for f in fades),
        "duration_ratio": statistics.median(f["duration_ratio"] for f in fades),
        "capture_latency_p50_ms": fade_stats.nearest_rank(latencies, 50) if latencies else None,
        "capture_latency_p95_ms": fade_stats.nearest_rank(latencies, 95) if latencies else None,
        "cpu_idle_percent": cpu_percent([idle])["total"],
        "cpu_waiting_percent": cpu_percent([waiting])["total"],
        "cpu_fading_percent": cpu_percent([f["cpu"] for f in fades])["total"],
        "peak_rss_mib": rss / 1024.0,
        "start_ms": statistics.median(starts),
        "exe_kib": os.path.getsize(program.path) / 1024.0,
    }
    return {
        "label": program.label, "path": program.path, "driver": program.driver, "figures": figures,
        "cpu_split_percent": {"idle": cpu_percent([idle]), "waiting": cpu_percent([waiting]),
                              "fading": cpu_percent([f["cpu"] for f in fades])},
        "starts_ms": starts, "fades_not_as_chosen": sum(not f["as_chosen"] for f in fades),
        "fades": [{k: v for k, v in f.items() if k not in ("intervals_ms", "levels", "cpu")} for f in fades],
        "plot": {"intervals_ms": [x for f in fades for x in f["intervals_ms"]],
                 "levels": [(f["speed"], f["levels"]) for f in fades]},
    }


# ---------------------------------------------------------------------------
# The floor: what a fade step costs at the least (tools/fade-floor, this
# tree's, beside each program of this tree and of the reference).

FLOOR_PRESETS = {"quorlen.exe": "win64-release", "quorlen32.exe": "win32-release"}


def measure_floors(program, options):
    """fade-floor for PROGRAM's platform, without and with the look at the
    socket (the fades here run with "Stop When Fader Is Moved" off, so the
    first is the one to compare with); None where there is no floor."""
    if options.floor_steps <= 0:
        return None
    preset = FLOOR_PRESETS.get(program.label, options.native_preset)
    path = bench_floor.floor_path(REPO, preset, native=not program.wine)
    if not os.path.exists(path):
        return None
    print("bench: fade-floor for %s..." % program.label, file=sys.stderr)
    out = os.path.join(options.out, "floor-" + program.label)
    return {"plain": bench_floor.measure_floor(path, program.wine, options.address, options.floor_steps, False, out),
            "look": bench_floor.measure_floor(path, program.wine, options.address, options.floor_steps, True, out)}


def measure_steps(program, options, out_dir):
    """The program's CPU per step over one long fade (tools/bench_floor.py)."""
    if options.floor_steps <= 0:
        return None
    print("bench: %s, one long fade..." % program.label, file=sys.stderr)
    return bench_floor.measure_fade_steps(program.path, program.wine, program.driver, options.address, out_dir)


def add_floor(result, steps, floor):
    """CPU per fade step and the floor's, in RESULT's figures."""
    figures = result["figures"]
    figures["cpu_step_us"] = steps["cpu_us_per_step"] if steps else None
    plain = floor and floor["plain"]
    look = floor and floor["look"]
    figures["floor_step_us"] = plain["cpu_us_per_step"] if plain else None
    figures["floor_look_step_us"] = look["cpu_us_per_step"] if look else None
    figures["cpu_step_floor_ratio"] = (figures["cpu_step_us"] / figures["floor_step_us"]
                                       if figures["cpu_step_us"] is not None and figures["floor_step_us"] else None)
    result["floor"] = floor
    result["steps"] = steps


# ---------------------------------------------------------------------------
# The table, the chart and the files.

# key, what, format, target (text), target met
TABLE = [
    ("mean_interval_ratio", "mean interval / 10 ms", "%.4f", "<= 1.005", lambda v: v <= 1.005),
    ("p50_interval_ms", "p50 interval (ms)", "%.3f", "", None),
    ("p99_interval_ms", "p99 interval (ms)", "%.3f", "<= 11.5", lambda v: v <= 11.5),
    ("max_interval_ms", "max interval (ms)", "%.3f", "", None),
    ("worst_interval_ms", "max interval, worst fade (ms)", "%.3f", "", None),
    ("duration_ratio", "fade duration / nominal", "%.4f", "<= 1.01", lambda v: v <= 1.01),
    ("capture_latency_p50_ms", "capture latency p50 (ms)", "%.3f", "", None),
    ("capture_latency_p95_ms", "capture latency p95 (ms)", "%.3f", "<= 1", lambda v: v <= 1.0),
    ("cpu_idle_percent", "CPU idle (% of a core)", "%.2f", "~ 0", lambda v: v <= 0.15),  # a tick in 10 s at most
    ("cpu_waiting_percent", "CPU waiting for the touch (%)", "%.2f", "<= 0.5", lambda v: v <= 0.5),
    ("cpu_fading_percent", "CPU fading (%)", "%.2f", "", None),
    ("cpu_step_us", "CPU per fade step, long fade (us)", "%.0f", "", None),
    ("floor_step_us", "floor: CPU per step (us)", "%.0f", "", None),
    ("floor_look_step_us", "floor, with a look at the socket (us)", "%.0f", "", None),
    ("cpu_step_floor_ratio", "CPU per fade step / floor", "%.2f", "<= 1.5", lambda v: v <= 1.5),
    ("peak_rss_mib", "peak RSS (MiB)", "%.1f", "", None),
    ("start_ms", "start to ready (ms)", "%.0f", "", None),
    ("exe_kib", "exe size (KiB)", "%.0f", "", None),
]


def table_rows(result, ref):
    """[heading, rows]: one row per figure, with REF's value and the ratio
    when there is one."""
    heading = ["figure", "value", "target", "met"] + (["ref", "ratio"] if ref else [])
    rows = []
    for key, what, fmt, target, met in TABLE:
        value = result["figures"][key]
        row = [what, "-" if value is None else fmt % value, target,
               "" if met is None or value is None else ("yes" if met(value) else "no")]
        if ref:
            old = ref["figures"][key]
            row += ["-" if old is None else fmt % old, "%.3f" % (value / old) if value is not None and old else "-"]
        rows.append(row)
    return heading, rows


def title(result, revision):
    fades = len(result["fades"])
    text = "%s at %s: %d fades, %s driver" % (result["label"], revision, fades, result["driver"])
    if result["fades_not_as_chosen"]:
        text += " (%d fades not as chosen: the driver's clicks missed)" % result["fades_not_as_chosen"]
    return text


def text_table(heading, rows):
    widths = [max(len(r[i]) for r in [heading] + rows) for i in range(len(heading))]
    lines = []
    for r in [heading] + rows:
        lines.append("  " + "  ".join(c.ljust(w) if i == 0 else c.rjust(w) for i, (c, w) in
                                      enumerate(zip(r, widths))).rstrip())
    return "\n".join(lines)


def markdown_table(heading, rows):
    return "\n".join("| " + " | ".join(r) + " |" for r in [heading, ["---"] * len(heading)] + rows)


def draw(results, png):
    """One row per program: its interval histogram and every fade's level
    against time."""
    figure, axes = plt.subplots(len(results), 2, figsize=(12.8, 3.2 * len(results)), dpi=100, squeeze=False,
                                layout="constrained")
    colours = {name: colour for _, name, _, colour in FADES}
    for (hist, level), (revision, result) in zip(axes, results):
        intervals = result["plot"]["intervals_ms"]
        # 0.25 ms bins up to 20 ms; longer ones count in the last.
        hist.hist([min(x, 19.99) for x in intervals], bins=80, range=(0, 20), color="#9a9a9a",
                  label="%.2f ms apart at most" % max(intervals))
        hist.set_title("%s at %s: %d intervals" % (result["label"], revision, len(intervals)), loc="left",
                       fontsize=11)
        hist.set_xlabel("interval between messages (ms; 0.25 ms bins)")
        hist.set_ylabel("intervals")
        hist.set_xlim(0, 20)
        hist.set_xticks(range(21))
        hist.grid(color="#dddddd")
        hist.set_axisbelow(True)
        hist.legend()
        fade_plot.level_axes(level, "%s at %s: level of every fade" % (result["label"], revision),
                             "time since the fade's first message (ms)")
        for name, points in result["plot"]["levels"]:
            level.plot([t for t, _ in points], [v for _, v in points], color=colours[name], linewidth=1.5,
                       label=name if name not in level.get_legend_handles_labels()[1] else None)
        level.legend()
    figure.savefig(png, metadata={"Software": None})
    Image.open(png).convert("RGB").quantize(64).save(png, optimize=True)  # small enough for docs/


# ---------------------------------------------------------------------------
# Building this tree and the reference.

def git(*args, cwd=REPO):
    return subprocess.run(["git"] + list(args), cwd=cwd, check=True, capture_output=True, text=True).stdout.strip()


def build(tree, targets, log):
    """Configures and builds TARGETS ({preset: [target, ...]}) in TREE;
    returns False when the build failed (its output is in LOG)."""
    with open(log, "a") as out:
        for preset, names in targets.items():
            for step in (["cmake", "--preset", preset],
                         ["cmake", "--build", "build/" + preset, "-j2", "--target"] + names):
                if subprocess.run(step, cwd=tree, stdout=out, stderr=subprocess.STDOUT).returncode != 0:
                    return False
    return True


def has_preset(tree, preset):
    try:
        with open(os.path.join(tree, "CMakePresets.json")) as f:
            return any(p["name"] == preset for p in json.load(f).get("configurePresets", []))
    except (OSError, ValueError):
        return False


def programs_of(tree, options, log, instruments):
    """Builds TREE's programs (and, for this tree, the simulator and the
    probe); returns the ones there are."""
    targets = {"win64-release": ["quorlen"], "win32-release": ["quorlen"]}
    if instruments:
        targets = {"linux-debug": ["console-sim"], "win64-release": ["quorlen", "quorlen-probe", "fade-floor"],
                   "win32-release": ["quorlen", "fade-floor"]}
    native = os.path.join(tree, "build", options.native_preset, "quorlen")
    if instruments and options.native:
        native = os.path.abspath(options.native)
    elif has_preset(tree, options.native_preset):
        targets[options.native_preset] = ["quorlen"]
    if instruments and has_preset(tree, options.native_preset):
        targets.setdefault(options.native_preset, []).append("fade-floor")
    if not options.no_build and not build(tree, targets, log):
        raise SystemExit("bench: the build of %s failed; see %s" % (tree, log))
    found = [Program("quorlen.exe", os.path.join(tree, "build", "win64-release", "quorlen.exe"), True, options.driver),
             Program("quorlen32.exe", os.path.join(tree, "build", "win32-release", "quorlen32.exe"), True,
                     options.driver),
             Program("native", native, False, "coords")]
    return [p for p in found if p.label in options.programs and os.path.exists(p.path)]


def describe(tree):
    commit = git("rev-parse", "--short", "HEAD", cwd=tree)
    dirty = bool(git("status", "--porcelain", "--untracked-files=no", cwd=tree))
    return commit + ("+changes" if dirty else "")


def load_average():
    """The machine's load over the last 1, 5 and 15 minutes: how busy the
    other sessions kept it."""
    with open("/proc/loadavg") as f:
        return [float(x) for x in f.read().split()[:3]]


def noise_note(report):
    if report["ref"]["same_product"]:
        return "; both build the programs from the same code, so the ratios show only the run's noise"
    return ""


def publish(report, texts, png):
    docs = os.path.join(REPO, "docs")
    shutil.copyfile(png, os.path.join(docs, "bench.png"))
    against = ""
    if report["ref"]:
        against = (" against %s (ratio: this revision's figure over that one's, so below 1 is less%s)"
                   % (report["ref"]["revision"], noise_note(report)))
    lines = ["# Bench", "",
             "The latest run of `tools/bench.sh %s`: %s, revision %s%s. It took %.0f s on a shared 2-core machine "
             "whose load average was %.1f before and %.1f after, so only figures of one run compare. Each fade has "
             "154 to 161 messages, and a figure taken per fade is the median over the fades. CPU counts the "
             "program's process and, under Wine, the wineserver, in the kernel's 10 ms ticks."
             % (" ".join(report["arguments"]), report["date"], report["revision"], against, report["run_seconds"],
                report["load_before"][0], report["load_after"][0]),
             ""]
    for heading, table in texts:
        lines += ["## " + heading, "", table, ""]
    lines += ["![Interval histograms and the level of every fade](bench.png)", ""]
    with open(os.path.join(docs, "bench.md"), "w") as f:
        f.write("\n".join(lines))


def main():
    parser = argparse.ArgumentParser(description="Quorlen's bench (run it through tools/bench.sh)")
    parser.add_argument("--ref", help="also measure this revision and show ratios to it")
    parser.add_argument("--native", help="the native program (default: build/NATIVE_PRESET/quorlen when it exists)")
    parser.add_argument("--native-preset", default="linux-qt")
    parser.add_argument("--driver", choices=["coords", "probe"], default="probe", help="how Windows programs are driven")
    parser.add_argument("--programs", default="quorlen.exe,quorlen32.exe,native")
    parser.add_argument("--rounds", type=int, default=3, help="fades at each of the four speeds")
    parser.add_argument("--starts", type=int, default=3, help="starts timed per program")
    parser.add_argument("--idle-seconds", type=float, default=10.0)
    parser.add_argument("--wait-seconds", type=float, default=10.0)
    parser.add_argument("--address", default="127.0.0.3", help="the simulator's loopback address")
    parser.add_argument("--out", default=os.path.join(REPO, "build", "bench"))
    parser.add_argument("--no-build", action="store_true")
    parser.add_argument("--floor-steps", type=int, default=1500,
                        help="steps of each fade-floor run (0: neither the floor nor the long fade)")
    parser.add_argument("--publish", action="store_true", help="write docs/bench.md and docs/bench.png")
    options = parser.parse_args()
    options.programs = options.programs.split(",")
    if not options.address.startswith("127."):
        parser.error("the simulator listens on loopback only")
    begun = time.monotonic()
    os.makedirs(options.out, exist_ok=True)
    log = os.path.join(options.out, "build.log")
    open(log, "w").close()

    e2e.Settings.sim = os.path.join(REPO, "build", "linux-debug", "tools", "console-sim", "console-sim")
    e2e.Settings.probe = os.path.join(REPO, "build", "win64-release", "tools", "quorlen-probe", "quorlen-probe.exe")
    report = {"revision": describe(REPO), "date": datetime.datetime.now().isoformat(timespec="seconds"),
              "arguments": sys.argv[1:], "load_before": load_average(), "programs": {}, "ref": None,
              "settings": {k: getattr(options, k) for k in ("rounds", "starts", "idle_seconds", "wait_seconds",
                                                            "address", "driver")}}
    ref_tree = None
    try:
        print("bench: building (log in %s)..." % log, file=sys.stderr)
        current = programs_of(REPO, options, log, instruments=True)
        ref = []
        if options.ref:
            commit = git("rev-parse", "--verify", options.ref + "^{commit}")
            ref_tree = tempfile.mkdtemp(prefix="bench-ref-", dir=os.path.join(REPO, "build"))
            git("worktree", "add", "--detach", ref_tree, commit)
            report["ref"] = {"revision": describe(ref_tree), "programs": {},
                             "same_product": subprocess.run(["git", "diff", "--quiet", commit, "--"] + PRODUCT,
                                                            cwd=REPO).returncode == 0}
            ref = programs_of(ref_tree, options, log, instruments=False)
        results = []  # (revision, result) in the order measured
        texts = []
        for i, program in enumerate(current):
            runs = [(program, report["revision"], program.label)]
            old = next((p for p in ref if p.label == program.label), None)
            if old:  # one before the other, in turns, so that a load that drifts favours neither
                runs.insert(i % 2, (old, report["ref"]["revision"], "ref-" + old.label))
            measured = {}
            steps = {}
            for run, revision, name in runs:
                print("bench: %s at %s..." % (run.label, revision), file=sys.stderr)
                measured[run] = measure(run, options, os.path.join(options.out, name))
                if measured[run]:
                    results.append((revision, measured[run]))
                    steps[run] = measure_steps(run, options, os.path.join(options.out, name + "-steps"))
            floor = measure_floors(program, options)
            for run, result in measured.items():
                if result:
                    add_floor(result, steps.get(run), floor)
            if old and measured[old]:
                report["ref"]["programs"][old.label] = measured[old]
            if measured[program]:
                report["programs"][program.label] = measured[program]
                heading, rows = table_rows(measured[program], measured.get(old))
                texts.append((title(measured[program], report["revision"]), heading, rows))
    finally:
        if ref_tree:
            subprocess.run(["git", "worktree", "remove", "--force", ref_tree], cwd=REPO)
    if not results:
        raise SystemExit("bench: no program could be measured")

    png = os.path.join(options.out, "bench.png")
    draw(results, png)
    report["run_seconds"] = time.monotonic() - begun
    report["load_after"] = load_average()
    for _, result in results:
        result.pop("plot")  # drawn; the figures stay
    with open(os.path.join(options.out, "bench.json"), "w") as f:
        json.dump(report, f, indent=1)
    if report["ref"]:
        print("\nratio: the figure at %s over the one at %s%s" % (report["revision"], report["ref"]["revision"],
                                                                  noise_note(report)))
    for heading, columns, rows in texts:
        print("\n" + heading)
        print(text_table(columns, rows))
    print("\nbench: %.0f s in all, load average %.1f before and %.1f after; figures in %s, charts in %s"
          % (report["run_seconds"], report["load_before"][0], report["load_after"][0],
             os.path.join(options.out, "bench.json"), png))
    if options.publish:
        publish(report, [(h, markdown_table(c, r)) for h, c, r in texts], png)
        print("bench: wrote docs/bench.md and docs/bench.png")


if __name__ == "__main__":
    main()
