#!/usr/bin/env python3
"""Quorlen's bench, run through tools/bench.sh (HACKING.md says how each figure
is taken): how evenly a fade is paced, how long a capture takes to answer the
touch, and what the program costs in CPU, memory, start-up time and size,
beside what a fade step costs at the least (tools/fade-floor). Targets are
shown, never asserted. The programs are driven like a user through the
end-to-end harness (tests/e2e/harness.py) against the console simulator on
another loopback address, so the port lock on 127.0.0.1:10023 is never needed."""

import argparse
import collections
import contextlib
import json
import os
import shutil
import statistics
import subprocess
import sys
import tarfile
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the tree from the imports below
REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))

import debian_python  # noqa: E402,F401  (first: it may start this script again)
from PIL import Image  # noqa: E402

import fade_plot  # noqa: E402  (beside this file)
import harness  # noqa: E402
from harness import PERIOD_MS, CpuSampler, cpu_percent  # noqa: E402
from quorlen_window import FAST, NORMAL, SLOW, SPEEDS, TOO_SLOW  # noqa: E402

ADDRESS = "127.0.0.3"  # the simulator's, on loopback
MINIMUM = 2  # percent; with the touched levels below every fade has 154 to 161 messages
FADES = [  # option, name, touched level, colour in the level chart
    (TOO_SLOW, "Too Slow", 0.10, "#1f6fd1"),
    (SLOW, "Slow", 0.25, "#2a9d3a"),
    (NORMAL, "Normal", 0.50, "#d1831f"),
    (FAST, "Fast", 0.98, "#c2303a"),
]
ROWS = [1, 2, 3, 4, 5, 0]  # channel-list rows taken in turn; all of them show without scrolling
LONG_FADE_LEVEL = 0.5  # from here at "Too Slow" (0.0005 a step) down to 0: 1000 steps
LONG_FADES = 3
EDGE_S = 1.0  # left out at either end of the long fade and of fade-floor's run: starting and ending are not steps
FLOOR_STEPS = 1200  # of each fade-floor run: 8 s read between its start and its last second, as the long fade
FLOOR_RUNS = 3  # of each kind, taking turns
FLOOR_START_S = 3.0  # fade-floor under Wine: the prefix's and the window's start come first
PRODUCT = ["app", "config", "link", "ui", "resources", "cmake", "CMakeLists.txt"]  # what the programs are built from
PRESETS = {"quorlen.exe": "win64-release", "quorlen32.exe": "win32-release", "native": "linux-qt"}
Program = collections.namedtuple("Program", "label path wine driver")
# This tree's probe and simulator; each program measured gives its exe and output directory.
SETTINGS = harness.Settings(None, os.path.join(REPO, "build/win64-release/tools/quorlen-probe/quorlen-probe.exe"),
                            os.path.join(REPO, "build/linux-debug/tools/console-sim/console-sim"), None)


def fade(app, sampler, row, how, minimum, wait_s=0.0):
    """A capture, WAIT_S with no touch, the simulator's touch of ROW and the
    fade to its end, as HOW (a row of FADES) and MINIMUM were picked: the
    fade's figures, and the wait's and the fade's CPU as SAMPLER's stretches."""
    speed, name, touch, _ = how
    summaries = len(app.sim.summaries())
    since, _ = app.capture()
    waited_from = time.monotonic()
    time.sleep(wait_s + 0.3)
    app.sim.command("touch %s %r" % (row or "main", touch))
    summary = app.sim.wait_summary(summaries + 1, timeout=60)
    app.wait_idle(since)
    messages = [e for e in app.sim.fader_messages(since) if summary["start_us"] <= e["t_us"] <= summary["end_us"]]
    intervals = harness.intervals_ms(messages)
    pace = harness.pace(intervals)
    levels = [((m["t_us"] - messages[0]["t_us"]) / 1000.0, harness.level_of(m)) for m in messages]
    expected = harness.expected_fade(touch, SPEEDS[speed], minimum)
    span = tuple(summary[k] / 1e6 + app.sim.clock_offset for k in ("start_us", "end_us"))
    return {
        "speed": name, "row": row, "touch": touch, "count": len(messages), "expected_count": len(expected),
        "as_chosen": summary["fader"] == row and [level for _, level in levels] == expected,
        **{"%s_interval_ms" % k: pace[k] for k in ("mean", "p50", "p99", "max")},
        "duration_ms": levels[-1][0], "capture_latency_ms": summary["capture_latency_ms"],
        "duration_ratio": levels[-1][0] / ((len(messages) - 1) * PERIOD_MS), "intervals_ms": intervals,
        "levels": levels, "span": span, "cpu": sampler.between(*span),
        "waiting": sampler.between(waited_from, waited_from + wait_s),
    }


def measure(program, options, out_dir):
    settings = SETTINGS._replace(exe=program.path, out=out_dir)
    if program.wine and (reason := harness.skip_reason(settings)):
        print("bench: %s skipped: %s" % (program.label, reason), file=sys.stderr)
        return None
    with contextlib.closing(harness.Session(settings, address=ADDRESS, wine=program.wine)) as session:
        starts = []
        for i in range(options.starts):
            begun = time.monotonic()
            app = session.app(ADDRESS.split("."), name="start%d" % i, probe=program.driver == "probe")
            app.wait_ready()
            starts.append((app.ready_at - begun) * 1000.0)
            if i < options.starts - 1:
                app.close()
        sampler = CpuSampler(harness.watched_pids(session, app.proc.pid))
        begun = time.monotonic() + 1.0  # once the start's last probe queries and paints have settled
        time.sleep(1.0 + options.idle_seconds)
        idle = sampler.between(begun, time.monotonic())
        fades = []
        for i in range(options.rounds * len(FADES)):
            row, how = ROWS[i % len(ROWS)], FADES[i % len(FADES)]
            try:
                app.pick(row, how[0], MINIMUM)
                # The first capture also waits for a while with no touch.
                fades.append(fade(app, sampler, row, how, MINIMUM, 0.0 if fades else options.wait_seconds))
            except AssertionError as error:
                raise RuntimeError("%s, fade %d (row %d, %s): %s" % (program.label, i + 1, row, how[1], error))
        rss = harness.peak_memory_kib(app)
        # Main, "Too Slow", minimum 0: what every reset leaves. The median of
        # the seconds of a few: a natively run step costs tens of
        # microseconds, which one busy moment on the machine can shift by a third.
        print("bench: %s, %d long fades..." % (program.label, LONG_FADES), file=sys.stderr)
        spans = [fade(app, sampler, 0, (TOO_SLOW, "Too Slow", LONG_FADE_LEVEL, None), 0)["span"]
                 for _ in range(LONG_FADES)]
        step_us = statistics.median(figure for start, end in spans
                                    for figure in sampler.step_us_by_second(start + EDGE_S, end - EDGE_S))
        sampler.stop()
        app.close()
    latencies = [f["capture_latency_ms"] for f in fades if f["capture_latency_ms"] is not None]
    cpu = {"idle": cpu_percent([idle]), "waiting": cpu_percent([fades[0]["waiting"]]),
           "fading": cpu_percent([f["cpu"] for f in fades])}
    medians = ("mean_interval_ms", "p50_interval_ms", "p99_interval_ms", "max_interval_ms", "duration_ratio")
    figures = {key: statistics.median(f[key] for f in fades) for key in medians}
    figures.update(
        mean_interval_ratio=figures.pop("mean_interval_ms") / PERIOD_MS,
        worst_interval_ms=max(f["max_interval_ms"] for f in fades),
        **{"capture_latency_p%d_ms" % p: harness.nearest_rank(latencies, p) if latencies else None
           for p in (50, 95)},
        **{"cpu_%s_percent" % stretch: shares["total"] for stretch, shares in cpu.items()},
        cpu_step_us=step_us, peak_rss_mib=rss / 1024.0, start_ms=statistics.median(starts),
        exe_kib=os.path.getsize(program.path) / 1024.0)
    return {
        "label": program.label, "path": program.path, "driver": program.driver, "figures": figures,
        "cpu_split_percent": cpu,
        "starts_ms": starts, "fades_not_as_chosen": sum(not f["as_chosen"] for f in fades),
        "fades": [{k: v for k, v in f.items() if k not in ("intervals_ms", "levels", "span", "cpu", "waiting")}
                  for f in fades],
        "plot": fades,
    }


def measure_floor(program, options):
    """fade-floor's CPU per step on PROGRAM's platform, without and with the look
    at the socket, run and read as the program's long fades are: the median
    second of FLOOR_RUNS runs; Nones without fade-floor. For a second or a
    few at a time, fade-floor and the wineserver alike took three to five
    times their usual CPU per step here, which put one run's whole figure at
    twice its median second: fade-floor does the same at every step, so that
    is the shared machine's doing."""
    path = os.path.join(REPO, "build", PRESETS[program.label], "tools", "fade-floor",
                        "fade-floor" + (".exe" if program.wine else ""))
    if not os.path.exists(path):
        return None, None
    print("bench: fade-floor for %s..." % program.label, file=sys.stderr)
    settings = SETTINGS._replace(exe=path, out=os.path.join(options.out, "floor-" + program.label))
    seconds = FLOOR_STEPS * PERIOD_MS / 1000
    runs = {"nolook": [], "look": []}
    for look in [kind for _ in range(FLOOR_RUNS) for kind in runs]:
        with contextlib.closing(harness.Session(settings, address=ADDRESS, wine=program.wine)) as session:
            begun = time.monotonic()
            command = harness.wine_command(path) if program.wine else [path]
            proc = subprocess.Popen(command + [str(FLOOR_STEPS), ADDRESS, "10023", look], env=session.env,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            sampler = CpuSampler(harness.watched_pids(session, proc.pid))
            proc.wait(timeout=seconds + 120)
            sampler.stop()
            runs[look] += sampler.step_us_by_second(begun + FLOOR_START_S, begun + seconds - EDGE_S)
    return [statistics.median(seconds) if seconds else None for seconds in runs.values()]


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


def table(result, revision, ref):
    """RESULT's title, heading and a row per figure, with REF's and the ratios."""
    title = "%s at %s: %d fades, %s driver" % (result["label"], revision, len(result["fades"]), result["driver"])
    if result["fades_not_as_chosen"]:
        title += " (%d fades not as chosen: the driver's clicks missed)" % result["fades_not_as_chosen"]
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
    return title, heading, rows


def draw(results, png):
    """A row per program: its interval histogram and every fade's level."""
    figure, axes = fade_plot.plt.subplots(len(results), 2, figsize=(12.8, 3.2 * len(results)), dpi=100,
                                          squeeze=False, layout="constrained")
    colours = {name: colour for _, name, _, colour in FADES}
    for (hist, level), (revision, result) in zip(axes, results):
        fades = result.pop("plot")  # drawn here; the figures stay
        intervals = [x for f in fades for x in f["intervals_ms"]]
        # 0.25 ms bins up to 20 ms; longer ones count in the last.
        hist.hist([min(x, 19.99) for x in intervals], bins=80, range=(0, 20), color="#9a9a9a",
                  label="%.2f ms apart at most" % max(intervals))
        fade_plot.chart(hist, "%s at %s: %d intervals" % (result["label"], revision, len(intervals)),
                        "interval between messages (ms; 0.25 ms bins)", "intervals")
        hist.set(xlim=(0, 20), xticks=range(21))
        hist.legend()
        fade_plot.level_axes(level, "%s at %s: level of every fade" % (result["label"], revision),
                             "time since the fade's first message (ms)")
        for f in fades:
            level.plot(*zip(*f["levels"]), color=colours[f["speed"]], linewidth=1.5,
                       label=f["speed"] if f["speed"] not in level.get_legend_handles_labels()[1] else None)
        level.legend()
    figure.savefig(png, metadata={"Software": None})
    Image.open(png).convert("RGB").quantize(64).save(png, optimize=True)  # small enough for docs/


def git(*args):
    return subprocess.run(["git"] + list(args), cwd=REPO, check=True, capture_output=True, text=True).stdout.strip()


def programs_of(tree, options, log, instruments):
    """Builds TREE's programs (and, for this tree, the simulator, the probe and
    fade-floor) into TREE/build, logging to LOG; returns the ones there are."""
    with open(os.path.join(tree, "CMakePresets.json")) as f:  # an older tree may have no Qt build
        presets = {p["name"] for p in json.load(f)["configurePresets"]}
    targets = {preset: ["quorlen"] + (["fade-floor"] if instruments else [])
               for preset in PRESETS.values() if preset in presets}
    if instruments:
        targets["win64-release"].append("quorlen-probe")
        targets["linux-debug"] = ["console-sim"]
    for preset, names in targets.items():
        for step in (["cmake", "--preset", preset], ["cmake", "--build", "build/" + preset, "-j2", "--target"] + names):
            if subprocess.run(step, cwd=tree, stdout=log, stderr=subprocess.STDOUT).returncode != 0:
                raise SystemExit("bench: the build of %s failed; see %s" % (tree, log.name))
    found = [Program(label, os.path.join(tree, "build", preset, label), True, options.driver)
             for label, preset in PRESETS.items() if label != "native"]
    native = os.path.join(tree, "build", "linux-qt", "quorlen")
    found.append(Program("native", os.path.abspath(options.native) if instruments and options.native else native,
                         False, "coords"))
    return [p for p in found if p.label in options.programs and os.path.exists(p.path)]


def publish(report, texts, png):
    docs = os.path.join(REPO, "docs")
    shutil.copyfile(png, os.path.join(docs, "bench.png"))
    ref = report["ref"]
    against = (" against %s (ratio: this revision's figure over that one's, so below 1 is less%s)"
               % (ref["revision"], ref["noise_note"]) if ref else "")
    paragraphs = ["# Bench",
                  "The latest run of `tools/bench.sh %s`: %s, revision %s%s. It took %.0f s on a shared 2-core machine "
                  "whose load average was %.1f before and %.1f after, so only figures of one run compare. Each fade "
                  "has 154 to 161 messages, and a figure taken per fade is the median over the fades. CPU counts the "
                  "program's process and, under Wine, the wineserver, to the nanosecond."
                  % (" ".join(report["arguments"]), report["date"], report["revision"], against,
                     report["run_seconds"], report["load_before"][0], report["load_after"][0])]
    for heading, columns, rows in texts:
        markdown = "\n".join("| %s |" % " | ".join(row) for row in [columns, ["---"] * len(columns)] + rows)
        paragraphs.append("## %s\n\n%s" % (heading, markdown))
    with open(os.path.join(docs, "bench.md"), "w") as f:
        f.write("\n\n".join(paragraphs + ["![Interval histograms and the level of every fade](bench.png)\n"]))


def main():
    parser = argparse.ArgumentParser(description="Quorlen's bench (run it through tools/bench.sh)")
    parser.add_argument("--ref", help="also measure this revision and show ratios to it")
    parser.add_argument("--native", help="the native program (default: build/linux-qt/quorlen when it exists)")
    parser.add_argument("--driver", choices=["coords", "probe"], default="probe", help="how Windows programs are driven")
    parser.add_argument("--programs", type=lambda text: text.split(","), default="quorlen.exe,quorlen32.exe,native")
    parser.add_argument("--rounds", type=int, default=3, help="fades at each of the four speeds")
    parser.add_argument("--starts", type=int, default=3, help="starts timed per program")
    parser.add_argument("--idle-seconds", type=float, default=10.0)
    parser.add_argument("--wait-seconds", type=float, default=10.0)
    parser.add_argument("--out", default=os.path.join(REPO, "build", "bench"))
    parser.add_argument("--publish", action="store_true", help="write docs/bench.md and docs/bench.png")
    options = parser.parse_args()
    begun = time.monotonic()
    os.makedirs(options.out, exist_ok=True)

    # The revision's short name, and "+changes" when tracked files differ from it.
    report = {"revision": git("describe", "--always", "--dirty=+changes", "--exclude", "*"),
              "date": time.strftime("%Y-%m-%dT%H:%M:%S"), "arguments": sys.argv[1:],
              "load_before": os.getloadavg(), "programs": {}, "ref": None, "settings": vars(options)}
    results, texts = [], []  # results: (revision, result) in the order measured
    with tempfile.TemporaryDirectory(prefix="bench-ref-", dir=options.out) as ref_tree, \
            open(os.path.join(options.out, "build.log"), "w") as log:
        print("bench: building (log in %s)..." % log.name, file=sys.stderr)
        current = programs_of(REPO, options, log, instruments=True)
        ref = []
        if options.ref:
            commit = git("rev-parse", "--short", "--verify", options.ref + "^{commit}")
            with subprocess.Popen(["git", "archive", commit], cwd=REPO, stdout=subprocess.PIPE) as archive:
                tarfile.open(fileobj=archive.stdout, mode="r|").extractall(ref_tree)
            same = subprocess.run(["git", "diff", "--quiet", commit, "--"] + PRODUCT, cwd=REPO).returncode == 0
            report["ref"] = {"revision": commit, "programs": {}, "same_product": same, "noise_note":
                             "; both build the programs from the same code, so the ratios show only the run's noise"
                             if same else ""}
            ref = programs_of(ref_tree, options, log, instruments=False)
        for i, program in enumerate(current):
            runs = [(program, report, "")] + [(p, report["ref"], "ref-") for p in ref if p.label == program.label]
            measured = {}
            # One before the other, in turns, so that a load that drifts favours neither.
            for run, where, prefix in runs[::1 if i % 2 else -1]:
                print("bench: %s at %s..." % (run.label, where["revision"]), file=sys.stderr)
                result = measure(run, options, os.path.join(options.out, prefix + run.label))
                if result:
                    results.append((where["revision"], result))
                    where["programs"][run.label] = measured[prefix] = result
            plain, look = measure_floor(program, options)
            for figures in (result["figures"] for result in measured.values()):
                # The fades run with "Stop When Fader Is Moved" off: the ratio is to the floor without the look.
                step = figures["cpu_step_us"]
                figures.update(floor_step_us=plain, floor_look_step_us=look,
                               cpu_step_floor_ratio=step / plain if step is not None and plain else None)
            if "" in measured:
                texts.append(table(measured[""], report["revision"], measured.get("ref-")))
    if not results:
        raise SystemExit("bench: no program could be measured")

    png = os.path.join(options.out, "bench.png")
    draw(results, png)
    report.update(run_seconds=time.monotonic() - begun, load_after=os.getloadavg())
    with open(os.path.join(options.out, "bench.json"), "w") as f:
        json.dump(report, f, indent=1)
    if report["ref"]:
        print("\nratio: the figure at %s over the one at %s%s" % (report["revision"], report["ref"]["revision"],
                                                                  report["ref"]["noise_note"]))
    for heading, columns, rows in texts:
        widths = [max(len(row[i]) for row in [columns] + rows) for i in range(len(columns))]
        print("\n" + heading)
        for row in [columns] + rows:
            cells = (c.rjust(w) if i else c.ljust(w) for i, (c, w) in enumerate(zip(row, widths)))
            print(("  " + "  ".join(cells)).rstrip())
    print("\nbench: %.0f s in all, load average %.1f before and %.1f after; figures in %s, charts in %s"
          % (report["run_seconds"], report["load_before"][0], report["load_after"][0],
             os.path.join(options.out, "bench.json"), png))
    if options.publish:
        publish(report, texts, png)
        print("bench: wrote docs/bench.md and docs/bench.png")


if __name__ == "__main__":
    main()
