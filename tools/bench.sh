#!/usr/bin/env bash
# Quorlen's bench: the pace of a fade, the capture's answer to the touch, CPU
# while idle, waiting and fading, peak memory, start-up time and size, for
# quorlen.exe and quorlen32.exe under Wine (and a native build when there is
# one), in one table per program. Installs what is missing, builds what it
# measures and measures it; tools/bench.py says how.
#
#   tools/bench.sh                  this tree
#   tools/bench.sh --ref HEAD~1     and HEAD~1 in the same run, as ratios
#   tools/bench.sh --publish        also writes docs/bench.md and docs/bench.png
#   tools/bench.sh --help           every option
#
# QUORLEN_BENCH_WINEPREFIX: the bench's own Wine prefix (default
# /tmp/quorlen-bench-wineprefix); its wineserver is stopped after each program.
set -uo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh || exit 1
export QUORLEN_WINEPREFIX="${QUORLEN_BENCH_WINEPREFIX:-/tmp/quorlen-bench-wineprefix}"
export QUORLEN_E2E_WINEPREFIX="$QUORLEN_WINEPREFIX"
source tools/wine-env.sh
exec python3 tools/bench.py "$@"
