#!/usr/bin/env python3
"""Renders the user guide (docs/guide/quorlen-guide.html.in) into one
self-contained HTML file: the version, a contents list from the section
headings, the screenshot as a data: address, and the tables of fader units in
dB (from the console's fader law) and of the speeds (from the steps in the
program's sources, so a figure they no longer give stops the render). Text
between <!--windows--> and <!--/windows--> (or the same linux marks), also
within a paragraph, is left out of the other platform's guide. Only Python's
standard library, and nothing but the inputs, so two release builds of one
commit agree."""

import argparse
import base64
import html
import pathlib
import re
import struct
import sys

# The units the table shows: the fader's whole range, with the landmarks an
# engineer fades to.
TABLE_UNITS = [100, 90, 75, 60, 50, 40, 25, 10, 5, 0]
PLATFORMS = ("windows", "linux")


def fader_law(root):
    """The X32's fader law as the program has it (kFaderLaw, link/fader_table.h):
    (from, slope, offset) pieces, from each level up dB = level * slope + offset."""
    source = (root / "link" / "fader_table.h").read_text(encoding="utf-8")
    table = re.search(r"kFaderLaw\[\] = \{(.*?)\};", source, re.S)
    pieces = re.findall(r"\{([-0-9.]+), ([-0-9.]+), ([-0-9.]+)\}", table[1] if table else "")
    if len(pieces) != 4:
        sys.exit("render_guide: the fader law is not where the guide looks (link/fader_table.h)")
    return [tuple(float(n) for n in piece) for piece in pieces]


def fader_db(law, level):
    return next((level * slope + offset for low, slope, offset in law if level > 0 and level >= low), float("-inf"))


def db_text(db):
    if db == float("-inf"):
        return "-inf (off)"
    rounded = round(db, 1)
    return "0 dB" if rounded == 0 else "%+g dB" % rounded


def table(heading, rows):
    return "<table>\n" + "\n".join([heading] + rows) + "\n</table>"


def fader_law_table(root):
    law = fader_law(root)
    # The console's own landmarks: 75 is 0 dB, 50 is -10 dB, 25 is -30 dB.
    for units, db in ((75, 0), (50, -10), (25, -30)):
        if abs(fader_db(law, units / 100) - db) > 1e-9:
            sys.exit("render_guide: the fader law gives %s dB at %d" % (fader_db(law, units / 100), units))
    return table('<tr><th>Fader units</th><th>dB on the console</th></tr>',
                 ['<tr><td class="num">%d</td><td class="num">%s</td></tr>'
                  % (units, db_text(fader_db(law, units / 100))) for units in TABLE_UNITS])


def speeds_table(root):
    """Each speed option's caption and step, from the speed table of
    ui/controls.h, in the window's order, as fader units and times."""
    source = (root / "ui" / "controls.h").read_text(encoding="utf-8")
    speeds = re.findall(r'\{(\w+Option), ([0-9.]+)f, "([^"]+)"\}', source)
    if len(speeds) != 4:
        sys.exit("render_guide: the four speed options are not where the guide looks (ui/controls.h)")
    rows = []
    for _, step, caption in speeds:
        units = float(step) * 100
        rows.append('<tr><td>%s</td><td class="num">%g</td><td class="num">%g</td><td class="num">%.2g s</td>'
                    '<td class="num">%.2g s</td></tr>'
                    % (html.escape(caption), units, units * 100, 100 / units / 100, 75 / units / 100))
    return table("<tr><th>Speed</th><th>Step every 10 ms (fader units)</th><th>Fader units per second</th>"
                 "<th>Whole travel, 100 to 0</th><th>From 0 dB to -&infin; dB (75 to 0)</th></tr>", rows)


def contents(page):
    return "<ul>\n" + "\n".join('<li><a href="#%s">%s</a></li>' % entry
                                for entry in re.findall(r'<h2 id="([^"]+)">(.*?)</h2>', page)) + "\n</ul>"


def for_platform(page, platform):
    # A block whose marks stand on lines of their own goes with those lines;
    # one within a line leaves the line's end in place.
    page = re.sub(r"<!--(%s)-->(\n?)(.*?)<!--/\1-->(\n?)" % "|".join(PLATFORMS),
                  lambda m: (m[3] if m[1] == platform else "") + ("" if m[2] else m[4]), page, flags=re.S)
    left = re.findall(r"<!--/?(?:%s)-->" % "|".join(PLATFORMS), page)
    if left:
        sys.exit("render_guide: unpaired platform marks: %s" % ", ".join(left))
    return page


def main():
    parser = argparse.ArgumentParser(description="Renders the user guide into one HTML file.")
    parser.add_argument("--platform", choices=PLATFORMS, default="windows")
    parser.add_argument("version")
    parser.add_argument("output")
    parser.add_argument("source_root", nargs="?", type=pathlib.Path, default=pathlib.Path(__file__).parent / "..")
    args = parser.parse_args()
    root = args.source_root
    page = for_platform((root / "docs" / "guide" / "quorlen-guide.html.in").read_text(encoding="utf-8"), args.platform)
    fills = {"@VERSION@": html.escape(args.version), "@CONTENTS@": contents(page),
             "@FADER_LAW_TABLE@": fader_law_table(root), "@SPEEDS_TABLE@": speeds_table(root)}
    # @IMAGE:name@ is the src and size of docs/name.png; each platform's guide
    # shows its own window, docs/name-linux.png where there is one.
    for name in set(re.findall(r"@IMAGE:([\w-]+)@", page)):
        own = root / "docs" / (name + "-linux.png")
        png = (own if args.platform == "linux" and own.exists() else root / "docs" / (name + ".png")).read_bytes()
        fills["@IMAGE:%s@" % name] = 'src="data:image/png;base64,%s" width="%d" height="%d"' % (
            base64.b64encode(png).decode("ascii"), *struct.unpack(">II", png[16:24]))  # the PNG's IHDR
    left = set(re.findall(r"@[A-Z_]+(?::[\w-]+)?@", page)) - fills.keys()
    if left:
        sys.exit("render_guide: nothing fills in %s" % ", ".join(sorted(left)))
    page = re.sub(r"@[A-Z_]+(?::[\w-]+)?@", lambda mark: fills[mark.group()], page)
    pathlib.Path(args.output).write_text(page, encoding="utf-8", newline="\n")


if __name__ == "__main__":
    main()
