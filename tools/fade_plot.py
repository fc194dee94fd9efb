#!/usr/bin/env python3
"""Draws the level of one fader against time, as the console simulator logged
the messages it received, into a PNG (ImageMagick's convert does the drawing).

    tools/fade_plot.py LOG.jsonl OUT.png [--fader N] [--title TEXT]

Prints the number of points drawn; exit 1 when the log holds no fader message.
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
            level = struct.unpack(">f", bytes.fromhex(entry["hex"])[24:28])[0]
            points.append((entry["t_us"] / 1000.0, level))
    return points


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
    plot_w, plot_h = WIDTH - LEFT - RIGHT, HEIGHT - TOP - BOTTOM

    def x_of(t):
        return LEFT + (t - t0) / duration * plot_w

    def y_of(level):
        return TOP + (1.0 - level) * plot_h

    draw = ["-stroke", "#dddddd", "-strokewidth", "1"]
    labels = []
    for i in range(11):  # level grid every 0.1
        y = y_of(i / 10.0)
        draw += ["-draw", "line %d,%.1f %d,%.1f" % (LEFT, y, LEFT + plot_w, y)]
        labels += ["-annotate", "+%d+%d" % (LEFT - 34, int(y) + 4), "%.1f" % (i / 10.0)]
    step = 100 if duration <= 1000 else 500 if duration <= 5000 else 2000
    t = 0
    while t <= duration + 0.5:
        x = x_of(t0 + t)
        draw += ["-draw", "line %.1f,%d %.1f,%d" % (x, TOP, x, TOP + plot_h)]
        labels += ["-annotate", "+%d+%d" % (int(x) - 10, TOP + plot_h + 16), "%d" % t]
        t += step
    draw += ["-stroke", "#333333", "-fill", "none",
             "-draw", "rectangle %d,%d %d,%d" % (LEFT, TOP, LEFT + plot_w, TOP + plot_h)]
    polyline = " ".join("%.1f,%.1f" % (x_of(t), y_of(level)) for t, level in points)
    draw += ["-stroke", "#1f6fd1", "-strokewidth", "2", "-draw", "polyline " + polyline]
    draw += ["-stroke", "none", "-fill", "#1f6fd1"]
    for t, level in points if len(points) <= 120 else []:
        draw += ["-draw", "circle %.1f,%.1f %.1f,%.1f" % (x_of(t), y_of(level), x_of(t) + 2, y_of(level))]

    caption = "%s: %d messages, %.3f to %.3f in %.0f ms" % (args.title, len(points), points[0][1],
                                                           points[-1][1], points[-1][0] - t0)
    command = (["convert", "-size", "%dx%d" % (WIDTH, HEIGHT), "xc:white"] + draw +
               ["-stroke", "none", "-fill", "#333333", "-font", "DejaVu-Sans", "-pointsize", "12"] + labels +
               ["-annotate", "+%d+%d" % (LEFT + plot_w // 2 - 60, HEIGHT - 14), "time since the first message (ms)",
                "-pointsize", "14", "-annotate", "+%d+26" % LEFT, caption,
                "-depth", "8", "-strip", args.png])
    subprocess.run(command, check=True)
    print(len(points))
    return 0


if __name__ == "__main__":
    sys.exit(main())
