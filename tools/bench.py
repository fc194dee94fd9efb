#!/usr/bin/env python3
"""Quorlen's bench: how evenly a fade is paced, how long a capture takes to
answer the touch, and what the program costs in CPU, memory, start-up time and
size, beside what a fade step costs at the least (tools/fade-floor). Run it
through tools/bench.sh; HACKING.md says how each figure is taken. Targets are
shown, never asserted. The programs are driven like a user through the window
driver (tests/e2e/quorlen_window.py) against the console simulator on another
loopback address, so the port lock on 127.0.0.1:10023 is never needed.
"""

import argparse
import collections
import contextlib
import ctypes
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
ROWS = [1, 2, 3, 4, 5, 0]  # channel-list rows taken in turn; all of them show without scrolling
LONG_FADE_LEVEL = 0.5  # from here at "Too Slow" (0.0005 a step) down to 0: 1000 steps
EDGE_S = 1.0  # left out at either end of the long fade and of fade-floor's run: starting and ending are not steps
FLOOR_START_S = 3.0  # fade-floor under Wine: the prefix's and the window's start come first
PRODUCT = ["app", "config", "link", "ui", "resources", "cmake", "CMakeLists.txt"]  # what the programs are built from
Program = collections.namedtuple("Program", "label path wine driver")

# ---------------------------------------------------------------------------
# Processes: CPU time, and finding them by name.

LIBC = ctypes.CDLL(None)


def cpu_seconds(pid):
    """The CPU time of every thread of PID so far, ended ones too; None once it
    has ended. The process's CPU clock counts in nanoseconds, where psutil's
    cpu_times reads 10 ms ticks, too coarse for steps of a few hundred us."""
    clock = ctypes.c_int()
    if LIBC.clock_getcpuclockid(pid, ctypes.byref(clock)) != 0:
        return None
    try:
        return time.clock_gettime(clock.value)
    except OSError:
        return None


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


def watched_pids(program, session, root):
    """The program's process and, under Wine, the prefix's wineserver."""
    if not program.wine:
        return {"program": root}
    name, deadline = os.path.basename(program.path), time.monotonic() + 30
    while (pid := find_process(name, root)) is None and time.monotonic() < deadline:
        time.sleep(0.05)  # the 32-bit wrapper takes a moment to come down to the program
    pids = {"program": pid, "wineserver": find_wineserver(session.env["WINEPREFIX"])}
    if None in pids.values():
        raise RuntimeError("%s: no %s under Wine" % (program.label, [k for k, v in pids.items() if v is None]))
    return pids


class CpuSampler(threading.Thread):
    """Reads the CPU time of the watched processes every 50 ms for the whole
    run, so that any stretch of it can be costed afterwards. A daemon: when a
    run fails, the bench ends with it."""

    def __init__(self, pids):
        super().__init__(daemon=True)
        self.pids = pids
        self.samples = []
        self.done = threading.Event()

    def run(self):
        while not self.done.is_set():
            last = self.samples[-1][1] if self.samples else {}
            values = {name: cpu_seconds(pid) for name, pid in self.pids.items()}
            # An ended process's last reading stands.
            self.samples.append((time.monotonic(), {name: last.get(name, 0.0) if value is None else value
                                                    for name, value in values.items()}))
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

    def per_step_us(self, start, end):
        """CPU microseconds per 10 ms step, all watched processes together."""
        wall, cpu = self.between(start, end)
        return sum(cpu.values()) * 1e3 * PERIOD_MS / wall if wall else None


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

def fade_figures(sim, since, summary, speed_name, row, touch, step):
    messages = [e for e in sim.read()[since:] if e["dir"] == "in" and e.get("action") == "fader"
                and summary["start_us"] <= e["t_us"] <= summary["end_us"]]
    intervals = fade_stats.intervals_ms(messages)
    pace = fade_stats.pace(intervals)
    expected = e2e.expected_fade(touch, step, MINIMUM)
    duration = (messages[-1]["t_us"] - messages[0]["t_us"]) / 1000.0
    return {
        "speed": speed_name, "row": row, "touch": touch, "count": len(messages), "expected_count": len(expected),
        "as_chosen": summary["fader"] == row and [e2e.level_of(m) for m in messages] == expected,
        "mean_interval_ms": pace["mean"], "p50_interval_ms": pace["p50"], "p99_interval_ms": pace["p99"],
        "max_interval_ms": pace["max"], "duration_ms": duration, "capture_latency_ms": summary["capture_latency_ms"],
        "duration_ratio": duration / ((len(messages) - 1) * PERIOD_MS), "intervals_ms": intervals,
        "levels": [((m["t_us"] - messages[0]["t_us"]) / 1000.0, e2e.level_of(m)) for m in messages],
    }


def fade(app, row, touch, wait_s=0.0):
    """A capture, WAIT_S with no touch, the simulator's touch of ROW at TOUCH
    and the fade to its end; returns the simulator's log mark from before, the
    fade's summary and when the wait began."""
    summaries = len(app.sim.summaries())
    since, _ = app.capture()
    waited_from = time.monotonic()
    time.sleep(wait_s + 0.3)
    app.sim.command("touch %s %r" % (row or "main", touch))
    summary = app.sim.wait_summary(summaries + 1, timeout=60)
    app.wait_idle(since)
    return since, summary, waited_from


def measure(program, options, out_dir):
    e2e.Settings.exe, e2e.Settings.out = program.path, out_dir
    reason = e2e.find_skip_reason() if program.wine else None
    if reason:
        print("bench: %s skipped: %s" % (program.label, reason), file=sys.stderr)
        return None
    with contextlib.closing(e2e.Session(address=options.address, wine=program.wine)) as session:
        starts = []
        for i in range(options.starts):
            begun = time.monotonic()
            app = e2e.App(options.address.split("."), name="start%d" % i, session=session,
                          command=None if program.wine else [program.path], probe=program.driver == "probe")
            app.wait_ready()
            starts.append((app.ready_at - begun) * 1000.0)
            if i < options.starts - 1:
                app.close()
        sampler = CpuSampler(watched_pids(program, session, app.proc.pid))
        sampler.start()
        begun = time.monotonic() + 1.0  # once the start's last probe queries and paints have settled
        time.sleep(1.0 + options.idle_seconds)
        idle = sampler.between(begun, time.monotonic())

        sim = session.sim
        fades = []
        waiting = None
        for i in range(options.rounds * len(FADES)):
            row = ROWS[i % len(ROWS)]
            speed, speed_name, touch, _ = FADES[i % len(FADES)]
            try:
                app.pick(row, speed, MINIMUM)
                # The first capture also waits for a while with no touch.
                wait_s = options.wait_seconds if waiting is None else 0.0
                since, summary, waited_from = fade(app, row, touch, wait_s)
                if waiting is None:
                    waiting = sampler.between(waited_from, waited_from + wait_s)
            except AssertionError as error:
                raise RuntimeError("%s, fade %d (row %d, %s): %s" % (program.label, i + 1, row, speed_name, error))
            figures = fade_figures(sim, since, summary, speed_name, row, touch, e2e.SPEEDS[speed])
            figures["cpu"] = sampler.between(summary["start_us"] / 1e6 + sim.clock_offset,
                                             summary["end_us"] / 1e6 + sim.clock_offset)
            fades.append(figures)
        rss = e2e.peak_memory_kib(app)
        step_us = None
        if options.floor_steps > 0:
            # Main, "Too Slow", minimum 0: what every reset leaves.
            print("bench: %s, one long fade..." % program.label, file=sys.stderr)
            _, summary, _ = fade(app, 0, LONG_FADE_LEVEL)
            start, end = (summary[k] / 1e6 + sim.clock_offset for k in ("start_us", "end_us"))
            step_us = sampler.per_step_us(start + EDGE_S, end - EDGE_S)
        sampler.stop()
        app.close()
    return summarise(program, starts, idle, waiting, fades, rss, step_us)


def summarise(program, starts, idle, waiting, fades, rss, step_us):
    latencies = [f["capture_latency_ms"] for f in fades if f["capture_latency_ms"] is not None]
    cpu = {"idle": cpu_percent([idle]), "waiting": cpu_percent([waiting]),
           "fading": cpu_percent([f["cpu"] for f in fades])}
    figures = {
        "mean_interval_ratio": statistics.median(f["mean_interval_ms"] for f in fades) / PERIOD_MS,
        "p50_interval_ms": statistics.median(f["p50_interval_ms"] for f in fades),
        "p99_interval_ms": statistics.median(f["p99_interval_ms"] for f in fades),
        "max_interval_ms": statistics.median(f["max_interval_ms"] for f in fades),
        "worst_interval_ms": max(f["max_interval_ms"] for f in fades),
        "duration_ratio": statistics.median(f["duration_ratio"] for f in fades),
        "capture_latency_p50_ms": fade_stats.nearest_rank(latencies, 50) if latencies else None,
        "capture_latency_p95_ms": fade_stats.nearest_rank(latencies, 95) if latencies else None,
        **{"cpu_%s_percent" % stretch: shares["total"] for stretch, shares in cpu.items()},
        "cpu_step_us": step_us,
        "peak_rss_mib": rss / 1024.0,
        "start_ms": statistics.median(starts),
        "exe_kib": os.path.getsize(program.path) / 1024.0,
    }
    return {
        "label": program.label, "path": program.path, "driver": program.driver, "figures": figures,
        "cpu_split_percent": cpu,
        "starts_ms": starts, "fades_not_as_chosen": sum(not f["as_chosen"] for f in fades),
        "fades": [{k: v for k, v in f.items() if k not in ("intervals_ms", "levels", "cpu")} for f in fades],
        "plot": {"intervals_ms": [x for f in fades for x in f["intervals_ms"]],
                 "levels": [(f["speed"], f["levels"]) for f in fades]},
    }


def measure_floor(program, options):
    """fade-floor's CPU per step on PROGRAM's platform, run and read as the
    program is, without and with the look at the socket; Nones where there
    is no fade-floor."""
    preset = {"quorlen.exe": "win64-release", "quorlen32.exe": "win32-release"}.get(program.label, "linux-qt")
    path = os.path.join(REPO, "build", preset, "tools", "fade-floor", "fade-floor" + (".exe" if program.wine else ""))
    if options.floor_steps <= 0 or not os.path.exists(path):
        return None, None
    print("bench: fade-floor for %s..." % program.label, file=sys.stderr)
    e2e.Settings.out = os.path.join(options.out, "floor-" + program.label)
    seconds = options.floor_steps * PERIOD_MS / 1000
    figures = []
    for look in ("nolook", "look"):
        with contextlib.closing(e2e.Session(address=options.address, wine=program.wine)) as session:
            begun = time.monotonic()
            command = (e2e.wine_command(path) if program.wine else [path]) + [str(options.floor_steps),
                                                                             options.address, "10023", look]
            proc = subprocess.Popen(command, env=session.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            sampler = CpuSampler(watched_pids(program._replace(path=path), session, proc.pid))
            sampler.start()
            proc.wait(timeout=seconds + 120)
            sampler.stop()
            figures.append(sampler.per_step_us(begun + FLOOR_START_S, begun + seconds - EDGE_S))
    return figures


def add_floor(figures, plain, look):
    """The floor's CPU per step beside the program's. The fades run with "Stop
    When Fader Is Moved" off, so the ratio is to the floor without the look."""
    step = figures["cpu_step_us"]
    figures.update(floor_step_us=plain, floor_look_step_us=look,
                   cpu_step_floor_ratio=step / plain if step is not None and plain else None)


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
    ("cpu_idle_percent", "CPU idle (% of a core)", "%.2f", "~ 0", lambda v: v <= 0.15),  # 15 ms in 10 s at most
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
    text = "%s at %s: %d fades, %s driver" % (result["label"], revision, len(result["fades"]), result["driver"])
    if result["fades_not_as_chosen"]:
        text += " (%d fades not as chosen: the driver's clicks missed)" % result["fades_not_as_chosen"]
    return text


def text_table(heading, rows):
    widths = [max(len(r[i]) for r in [heading] + rows) for i in range(len(heading))]
    return "\n".join("  " + "  ".join(c.ljust(w) if i == 0 else c.rjust(w) for i, (c, w) in
                                     enumerate(zip(r, widths))).rstrip() for r in [heading] + rows)


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
        fade_plot.chart(hist, "%s at %s: %d intervals" % (result["label"], revision, len(intervals)),
                        "interval between messages (ms; 0.25 ms bins)", "intervals")
        hist.set(xlim=(0, 20), xticks=range(21))
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


def programs_of(tree, options, log, instruments):
    """Builds TREE's programs (and, for this tree, the simulator, the probe
    and fade-floor) into TREE/build; returns the ones there are."""
    with open(os.path.join(tree, "CMakePresets.json")) as f:  # an older tree may have no Qt build
        has_qt = "linux-qt" in (p["name"] for p in json.load(f)["configurePresets"])
    presets = ["win64-release", "win32-release"] + (["linux-qt"] if has_qt else [])
    targets = {preset: ["quorlen"] + (["fade-floor"] if instruments else []) for preset in presets}
    if instruments:
        targets["win64-release"].append("quorlen-probe")
        targets["linux-debug"] = ["console-sim"]
    with open(log, "a") as out:
        for preset, names in [] if options.no_build else targets.items():
            for step in (["cmake", "--preset", preset],
                         ["cmake", "--build", "build/" + preset, "-j2", "--target"] + names):
                if subprocess.run(step, cwd=tree, stdout=out, stderr=subprocess.STDOUT).returncode != 0:
                    raise SystemExit("bench: the build of %s failed; see %s" % (tree, log))
    native = os.path.join(tree, "build", "linux-qt", "quorlen")
    if instruments and options.native:
        native = os.path.abspath(options.native)
    found = [Program("quorlen.exe", os.path.join(tree, "build", "win64-release", "quorlen.exe"), True, options.driver),
             Program("quorlen32.exe", os.path.join(tree, "build", "win32-release", "quorlen32.exe"), True,
                     options.driver),
             Program("native", native, False, "coords")]
    return [p for p in found if p.label in options.programs and os.path.exists(p.path)]


def describe(tree):
    """The commit's short name, and "+changes" when tracked files differ from it."""
    return git("describe", "--always", "--dirty=+changes", "--exclude", "*", cwd=tree)


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
             "program's process and, under Wine, the wineserver, to the nanosecond."
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
    parser.add_argument("--native", help="the native program (default: build/linux-qt/quorlen when it exists)")
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
              "arguments": sys.argv[1:], "load_before": os.getloadavg(), "programs": {}, "ref": None,
              "settings": vars(options)}
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
        results, texts = [], []  # results: (revision, result) in the order measured
        for i, program in enumerate(current):
            old = next((p for p in ref if p.label == program.label), None)
            runs = [(program, report, "")]
            if old:  # one before the other, in turns, so that a load that drifts favours neither
                runs.insert(i % 2, (old, report["ref"], "ref-"))
            measured = {}
            for run, where, prefix in runs:
                print("bench: %s at %s..." % (run.label, where["revision"]), file=sys.stderr)
                measured[prefix] = measure(run, options, os.path.join(options.out, prefix + run.label))
                if measured[prefix]:
                    results.append((where["revision"], measured[prefix]))
                    where["programs"][run.label] = measured[prefix]
            floor = measure_floor(program, options)
            for result in filter(None, measured.values()):
                add_floor(result["figures"], *floor)
            if measured[""]:
                heading, rows = table_rows(measured[""], measured.get("ref-"))
                texts.append((title(measured[""], report["revision"]), heading, rows))
    finally:
        if ref_tree:
            subprocess.run(["git", "worktree", "remove", "--force", ref_tree], cwd=REPO)
    if not results:
        raise SystemExit("bench: no program could be measured")

    png = os.path.join(options.out, "bench.png")
    draw(results, png)
    report["run_seconds"] = time.monotonic() - begun
    report["load_after"] = os.getloadavg()
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
