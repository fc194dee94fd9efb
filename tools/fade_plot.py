#!/usr/bin/env python3
"""Draws the level of one fader against time, as the console simulator logged
the messages it received, into a PNG (ImageMagick's convert does the drawing).

    tools/fade_plot.py LOG.jsonl OUT.png [--fader N] [--title TEXT]

Prints the number of points drawn; exit 1 when the log holds no fader message.
The bench (tools/bench.py) draws its charts with chart() as well.
"""

import argparse
import json
import struct
import subprocess
import sys

WIDTH, HEIGHT = 720, 400
LEFT, RIGHT, TOP, BOTTOM = 70, 24, 44, 56


def fader_points(log_path, fader):
    points = []
    with open(log_path, encoding="utf-8") as f:
        for line in f:
            if not line.strip():
                continue
            entry = json.loads(line)
            if entry.get("dir") != "in" or entry.get("action") != "fader":
                continue
            if fader is not None and entry.get("fader") != fader:
                continue
            level = struct.unpack(">f", bytes.fromhex(entry["hex"])[-4:])[0]  # a DCA's message is 24 bytes
            points.append((entry["t_us"] / 1000.0, level))
    return points


def time_step(duration_ms):
    return 100 if duration_ms <= 1000 else 500 if duration_ms <= 5000 else 2000


def chart(png, caption, x_label, x_max, x_step, y_max, y_step, y_format="%.1f", lines=(), bars=(), dots=False,
          legend=(), size=(WIDTH, HEIGHT)):
    """One chart with a grid from 0 to x_max and 0 to y_max: lines is a list
    of (colour, [(x, y), ...]), bars a list of (x0, x1, y) drawn in grey,
    legend a list of (colour, text) at the top right."""
    width, height = size
    plot_w, plot_h = width - LEFT - RIGHT, height - TOP - BOTTOM

    def x_of(x):
        return LEFT + x / x_max * plot_w

    def y_of(y):
        return TOP + (1.0 - y / y_max) * plot_h

    draw = ["-stroke", "#dddddd", "-strokewidth", "1"]
    labels = []
    rows = int(round(y_max / y_step))
    for i in range(rows + 1):
        value = i * y_max / rows
        y = round(y_of(value))  # ImageMagick centres pixels on whole numbers: a sharp line
        draw += ["-draw", "line %d,%.1f %d,%.1f" % (LEFT, y, LEFT + plot_w, y)]
        labels += ["-annotate", "+%d+%d" % (LEFT - 34, int(y) + 4), y_format % value]
    x = 0
    while x <= x_max + x_step / 200.0:
        column = round(x_of(x))
        draw += ["-draw", "line %.1f,%d %.1f,%d" % (column, TOP, column, TOP + plot_h)]
        labels += ["-annotate", "+%d+%d" % (int(x_of(x)) - 10, TOP + plot_h + 16), "%d" % x]
        x += x_step
    draw += ["-stroke", "none", "-fill", "#9a9a9a"]
    for x0, x1, y in bars:
        draw += ["-draw", "rectangle %.1f,%.1f %.1f,%.1f" % (x_of(x0), y_of(min(y, y_max)), x_of(x1), y_of(0))]
    draw += ["-stroke", "#333333", "-fill", "none",
             "-draw", "rectangle %d,%d %d,%d" % (LEFT, TOP, LEFT + plot_w, TOP + plot_h)]
    for colour, points in lines:
        polyline = " ".join("%.1f,%.1f" % (x_of(x), y_of(y)) for x, y in points)
        draw += ["-stroke", colour, "-strokewidth", "2", "-fill", "none", "-draw", "polyline " + polyline]
        draw += ["-stroke", "none", "-fill", colour]
        for x, y in points if dots else []:
            draw += ["-draw", "circle %.1f,%.1f %.1f,%.1f" % (x_of(x), y_of(y), x_of(x) + 2, y_of(y))]
    for i, (colour, text) in enumerate(legend):
        labels += ["-fill", colour, "-annotate", "+%d+%d" % (LEFT + plot_w - 110, TOP + 18 + 16 * i), text]

    command = (["convert", "-size", "%dx%d" % (width, height), "xc:white"] + draw +
               ["-stroke", "none", "-fill", "#333333", "-font", "DejaVu-Sans", "-pointsize", "12"] + labels +
               ["-fill", "#333333", "-annotate", "+%d+%d" % (LEFT + plot_w // 2 - 60, height - 14), x_label,
                "-pointsize", "14", "-annotate", "+%d+26" % LEFT, caption,
                "-depth", "8", "-strip", png])
    subprocess.run(command, check=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("log")
    parser.add_argument("png")
    parser.add_argument("--fader", type=int)
    parser.add_argument("--title", default="Fader level at the console")
    args = parser.parse_args()

    points = fader_points(args.log, args.fader)
    if not points:
        print("no fader message in %s" % args.log, file=sys.stderr)
        return 1
    t0 = points[0][0]
    duration = max(points[-1][0] - t0, 1.0)
    caption = "%s: %d messages, %.3f to %.3f in %.0f ms" % (args.title, len(points), points[0][1],
                                                           points[-1][1], points[-1][0] - t0)
    chart(args.png, caption, "time since the first message (ms)", duration, time_step(duration), 1.0, 0.1,
          lines=[("#1f6fd1", [(t - t0, level) for t, level in points])], dots=len(points) <= 120)
    print(len(points))
    return 0


if __name__ == "__main__":
    sys.exit(main())
