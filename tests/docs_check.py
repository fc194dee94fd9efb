#!/usr/bin/env python3
"""Fails when what users and developers read drifts from the tree: the guide
must render (its speeds come from the program's sources), and every script,
preset and version the documents name must exist.

Usage: python3 tests/docs_check.py VERSION OUTPUT_DIR
"""

import json
import os
import re
import subprocess
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
DOCS = ["README.md", "BUILDING.md", "HACKING.md"]


def main():
    version, out = sys.argv[1], sys.argv[2]
    problems = []
    for platform in ("windows", "linux"):
        guide = os.path.join(out, "quorlen-guide-%s.html" % platform)
        render = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "render_guide.py"), "--platform",
                                 platform, version, guide, ROOT], capture_output=True, text=True)
        if render.returncode != 0:
            problems.append("the %s guide does not render: %s" % (platform, render.stderr.strip()))
    with open(os.path.join(ROOT, "CMakePresets.json"), encoding="utf-8") as f:
        presets = {p["name"] for p in json.load(f)["configurePresets"]}
    for doc in DOCS:
        with open(os.path.join(ROOT, doc), encoding="utf-8") as f:
            text = f.read()
        for path in sorted(set(re.findall(r"\b(tools/[\w./-]+\.(?:sh|py))\b", text))):
            if not os.path.isfile(os.path.join(ROOT, path)):
                problems.append("%s names %s, which is not in the tree" % (doc, path))
        for preset in sorted(set(re.findall(r"--preset ([\w-]+)|`((?:linux|win(?:32|64))-[\w-]+)`", text))):
            name = preset[0] or preset[1]
            if name not in presets:
                problems.append("%s names the preset %s, which CMakePresets.json lacks" % (doc, name))
        # A version written into a document goes stale with the next release.
        for written in sorted(set(re.findall(r"\bquorlen[-_](\d+\.\d+\.\d+)", text))):
            if written != version:
                problems.append("%s names version %s; the build's is %s" % (doc, written, version))
    with open(os.path.join(ROOT, "CHANGELOG.md"), encoding="utf-8") as f:
        if "## " + version not in f.read():
            problems.append("CHANGELOG.md has no heading for version %s" % version)
    for problem in problems:
        print(problem)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
