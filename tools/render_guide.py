#!/usr/bin/env python3
"""Renders the user guide (docs/guide/quorlen-guide.html.in) into one
self-contained HTML file: the version filled in, a contents list made from the
section headings, the screenshot embedded as a data: address, the table of
fader units in dB computed from the console's fader law, and the table of
speeds computed from the steps the program uses. A figure the program's
sources no longer give stops the render, so the guide can't drift from them.

The guide speaks of one platform: the Windows zip's of Notepad and the .exe,
the Linux archive's and the .deb's of the desktop's editor and the package.
What only one of them says stands between <!--windows--> and <!--/windows-->,
or <!--linux--> and <!--/linux-->, also within a paragraph; the other's is
left out.

Usage: python3 tools/render_guide.py [--platform windows|linux] VERSION OUTPUT.html [SOURCE_ROOT]
Only the Python standard library is used; the output depends on the inputs
alone, so two release builds of one commit give the same bytes.
"""

import base64
import html
import os
import re
import struct
import sys

# The units the table shows: the fader's whole range, with the landmarks an
# engineer fades to.
TABLE_UNITS = [100, 90, 75, 60, 50, 40, 25, 10, 5, 0]


def fader_db(level):
    """The X32's fader law: four straight pieces from -90 dB to +10 dB, and
    -inf at the bottom. level is 0.0 to 1.0."""
    if level >= 0.5:
        return level * 40 - 30
    if level >= 0.25:
        return level * 80 - 50
    if level >= 0.0625:
        return level * 160 - 70
    if level > 0:
        return level * 480 - 90
    return float("-inf")


def db_text(db):
    if db == float("-inf"):
        return "-inf (off)"
    rounded = round(db, 1)
    if rounded == 0:
        return "0 dB"
    return ("%+d dB" if rounded == int(rounded) else "%+.1f dB") % rounded


def fader_law_table():
    # The console's own landmarks: 75 is 0 dB, 50 is -10 dB, 25 is -30 dB.
    for units, db in ((75, 0), (50, -10), (25, -30)):
        if abs(fader_db(units / 100) - db) > 1e-9:
            sys.exit("render_guide: the fader law gives %s dB at %d" % (fader_db(units / 100), units))
    rows = ['<tr><th>Fader units</th><th>dB on the console</th></tr>']
    for units in TABLE_UNITS:
        rows.append('<tr><td class="num">%d</td><td class="num">%s</td></tr>'
                    % (units, db_text(fader_db(units / 100))))
    return "<table>\n" + "\n".join(rows) + "\n</table>"


def speeds_table(root):
    """Each speed option's caption (ui/control_core.h) and step
    (app/fade_cycle.cpp), in the window's order, as fader units and times."""
    with open(os.path.join(root, "ui", "control_core.h"), encoding="utf-8") as f:
        captions = dict(re.findall(r'\{(\w+Option), ControlKind::Option, "([^"]+)"', f.read()))
    with open(os.path.join(root, "app", "fade_cycle.cpp"), encoding="utf-8") as f:
        steps = re.findall(r"case (\w+Option):\s*return ([0-9.]+)f;", f.read())
    if len(steps) != 4 or any(option not in captions for option, _ in steps):
        sys.exit("render_guide: the four speed options' captions and steps are not where the guide looks")
    rows = ["<tr><th>Speed</th><th>Step every 10 ms (fader units)</th><th>Fader units per second</th>"
            "<th>Whole travel, 100 to 0</th><th>From 0 dB (75) to 0</th></tr>"]
    for option, step in steps:
        units = float(step) * 100
        rows.append('<tr><td>%s</td><td class="num">%g</td><td class="num">%g</td><td class="num">%.2g s</td>'
                    '<td class="num">%.2g s</td></tr>'
                    % (html.escape(captions[option]), units, units * 100, 100 / units / 100, 75 / units / 100))
    return "<table>\n" + "\n".join(rows) + "\n</table>"


def contents(page):
    entries = []
    for anchor, title in re.findall(r'<h2 id="([^"]+)">(.*?)</h2>', page):
        entries.append('<li><a href="#%s">%s</a></li>' % (anchor, title))
    return "<ul>\n" + "\n".join(entries) + "\n</ul>"


PLATFORMS = ("windows", "linux")


def for_platform(page, platform):
    for name in PLATFORMS:
        # A block whose marks stand on lines of their own goes with those
        # lines; one within a line leaves the line's end in place.
        block = re.compile(r"<!--%s-->(\n?)(.*?)<!--/%s-->(\n?)" % (name, name), re.S)

        def keep_or_drop(m, kept=(name == platform)):
            if m.group(1):
                return m.group(2) if kept else ""
            return (m.group(2) if kept else "") + m.group(3)

        page = block.sub(keep_or_drop, page)
    left = re.findall(r"<!--/?(?:%s)-->" % "|".join(PLATFORMS), page)
    if left:
        sys.exit("render_guide: unpaired platform marks: %s" % ", ".join(left))
    return page


def main():
    args = sys.argv[1:]
    platform = "windows"
    if args[:1] == ["--platform"] and len(args) > 1 and args[1] in PLATFORMS:
        platform, args = args[1], args[2:]
    if len(args) not in (2, 3):
        sys.exit(__doc__)
    version, output = args[0], args[1]
    root = args[2] if len(args) == 3 else os.path.join(os.path.dirname(__file__), "..")
    with open(os.path.join(root, "docs", "guide", "quorlen-guide.html.in"), encoding="utf-8") as f:
        page = f.read()
    # Each platform's guide shows its own window.
    picture = "screenshot-linux.png" if platform == "linux" else "screenshot.png"
    with open(os.path.join(root, "docs", picture), "rb") as f:
        png = f.read()
    screenshot = "data:image/png;base64," + base64.b64encode(png).decode("ascii")
    width, height = struct.unpack(">II", png[16:24])  # the PNG's IHDR

    page = for_platform(page, platform)
    page = page.replace("@VERSION@", html.escape(version))
    page = page.replace("@CONTENTS@", contents(page))
    page = page.replace("@FADER_LAW_TABLE@", fader_law_table())
    page = page.replace("@SPEEDS_TABLE@", speeds_table(root))
    page = page.replace("@SCREENSHOT@", screenshot)
    page = page.replace("@SCREENSHOT_SIZE@", 'width="%d" height="%d"' % (width, height))
    left = re.findall(r"@[A-Z_]+@", page)
    if left:
        sys.exit("render_guide: nothing fills in %s" % ", ".join(sorted(set(left))))
    with open(output, "w", encoding="utf-8", newline="\n") as f:
        f.write(page)


if __name__ == "__main__":
    main()
