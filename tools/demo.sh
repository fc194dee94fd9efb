#!/usr/bin/env bash
# The demo: Quorlen against the console simulator on 127.0.0.1.
#   tools/demo.sh              the Linux program (Qt); with a display you press
#                              the buttons and type the console's touch into
#                              the simulator
#   tools/demo.sh --headless   (also used when there is no DISPLAY) its own
#                              Xvfb; the demo plays one whole cycle itself:
#                              Ch 5, Slow, minimum 50, capture, a touch at 0.8
#                              and the fade down to 0.5
#   tools/demo.sh --wine [--headless]   the same with quorlen.exe under Wine
# Installs what is missing, builds what it runs, and leaves screenshots, a
# plot of the level against time and the simulator's log in a work directory,
# whose name it prints. Exit code 0 when the cycle was played and the program
# ended normally. Leaves no process behind. tools/demo.py builds and plays it,
# through the window driver of the end-to-end tests.
set -uo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh || { echo "demo: could not install the packages it needs" >&2; exit 1; }
exec python3 tools/demo.py "$@"
