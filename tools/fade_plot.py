"""The level charts, on matplotlib, with the console's dB scale beside the 0..1
level: the demo's plot() of a fader's level as the console simulator logged
it, and the chart() and level_axes() of the bench's charts (tools/bench.py)."""

import json

import debian_python  # noqa: F401  (first: it may start the script that imports this again)
import matplotlib

matplotlib.use("Agg")  # files only, never a window
import matplotlib.pyplot as plt  # noqa: E402
from harness import level_of  # noqa: E402  (tests/e2e: both scripts that import this put it on the path)

# Where the console's fader shows each dB mark: engineers read faders in dB.
DB_MARKS = [(1.0, "+10"), (0.75, "0"), (0.5, "-10"), (0.25, "-30"), (0.0625, "-60")]


def chart(ax, caption, x_label, y_label):
    """The caption, labels and grid every chart of the bench and the demo has."""
    ax.set_title(caption, loc="left", fontsize=11)
    ax.set(xlabel=x_label, ylabel=y_label)
    ax.grid(color="#dddddd")
    ax.set_axisbelow(True)


def level_axes(ax, caption, x_label):
    """A chart of levels 0..1 against time, with the dB scale on the right."""
    chart(ax, caption, x_label, "level (0 to 1)")
    ax.set_ylim(0.0, 1.0)
    ax.margins(x=0.0)  # time starts at the first message
    db = ax.secondary_yaxis("right")
    db.set_yticks([level for level, _ in DB_MARKS], [text for _, text in DB_MARKS])
    db.set_ylabel("dB at the console")


def plot(log_path, png, fader=None, title="Fader level at the console"):
    """Draws the level of FADER (of every fader when None) into PNG from the
    simulator's log LOG_PATH; returns the number of points, drawing nothing
    when there is none."""
    with open(log_path, encoding="utf-8") as f:
        entries = [json.loads(line) for line in f if line.strip()]
    points = [(e["t_us"] / 1000.0, level_of(e), e["fader"]) for e in entries
              if e.get("dir") == "in" and e.get("action") == "fader" and fader in (None, e["fader"])]
    if not points:
        return 0
    t0 = points[0][0]
    caption = "%s: %d messages, %.3f to %.3f in %.0f ms" % (title, len(points), points[0][1], points[-1][1],
                                                           points[-1][0] - t0)
    figure, ax = plt.subplots(figsize=(7.2, 4.0), dpi=100, layout="constrained")
    level_axes(ax, caption, "time since the first message (ms)")
    faders = sorted({fader for _, _, fader in points})
    ax.plot([t - t0 for t, _, _ in points], [level for _, level, _ in points], color="#1f6fd1",
            marker="o" if len(points) <= 120 else None, markersize=3,
            label="level received, fader%s %s" % ("s" if len(faders) > 1 else "", ", ".join(map(str, faders))))
    ax.legend()
    figure.savefig(png, metadata={"Software": None})
    return len(points)
