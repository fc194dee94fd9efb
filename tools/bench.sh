#!/usr/bin/env bash
# Quorlen's bench (HACKING.md says what it measures): installs what is
# missing, builds what it measures and measures it.
#   tools/bench.sh [--ref REV] [--publish]    --help lists every option
set -uo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh || exit 1
# The bench's own Wine prefix: its wineserver is stopped after each program.
export QUORLEN_E2E_WINEPREFIX=/tmp/quorlen-bench-wineprefix
source tools/wine-env.sh  # how to run 32-bit programs here
exec python3 tools/bench.py "$@"
