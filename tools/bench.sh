#!/usr/bin/env bash
# Quorlen's bench (HACKING.md says what it measures): installs what is
# missing, builds what it measures and measures it.
#   tools/bench.sh [--ref REV] [--publish]    --help lists every option
# QUORLEN_BENCH_WINEPREFIX: the bench's own Wine prefix (default
# /tmp/quorlen-bench-wineprefix); its wineserver is stopped after each program.
set -uo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh || exit 1
export QUORLEN_E2E_WINEPREFIX="${QUORLEN_BENCH_WINEPREFIX:-/tmp/quorlen-bench-wineprefix}"
source tools/wine-env.sh  # how to run 32-bit programs here
exec python3 tools/bench.py "$@"
