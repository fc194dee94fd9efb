#!/usr/bin/env bash
# The demo (README.md says what it shows): tools/demo.sh [--wine] [--headless].
# Installs what is missing; tools/demo.py builds what it runs and plays it, and
# prints where it left the screenshots, the level plot and the simulator's log.
# Exit code 0 when the cycle was played and the program ended normally. Leaves
# no process behind.
set -uo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh || { echo "demo: could not install the packages it needs" >&2; exit 1; }
exec python3 tools/demo.py "$@"
