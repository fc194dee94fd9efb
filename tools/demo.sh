#!/usr/bin/env bash
# The demo: Quorlen against the console simulator on 127.0.0.1.
#
#   tools/demo.sh              the Linux program (Qt); with a display you press
#                              the buttons and type the console's touch into
#                              the simulator
#   tools/demo.sh --headless   (also used when there is no DISPLAY) its own
#                              Xvfb; the demo plays one whole cycle itself:
#                              Ch 5, Slow, minimum 50, capture, a touch at 0.8
#                              and the fade down to 0.5
#   tools/demo.sh --wine [--headless]
#                              the same with quorlen.exe under Wine
#
# Installs what is missing, builds what it runs, and leaves screenshots, a
# plot of the level against time and the simulator's log in a work directory,
# whose name it prints. Exit code 0 when the cycle was played and the program
# ended normally. Leaves no process behind. tools/demo.py plays it, through
# the window driver of the end-to-end tests.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

headless=0
wine=0
for arg in "$@"; do
  case "$arg" in
    --headless) headless=1 ;;
    --wine) wine=1 ;;
    *) echo "usage: tools/demo.sh [--wine] [--headless]" >&2; exit 2 ;;
  esac
done
[ -z "${DISPLAY:-}" ] && headless=1

fail() {
  echo "demo: $*" >&2
  exit 1
}

tools/install-deps.sh || fail "could not install the packages it needs"

mkdir -p build
if [ "$wine" = 1 ]; then
  echo "Building the console simulator and quorlen.exe (this takes a few minutes the first time)..."
  native_dir="${QUORLEN_DEMO_NATIVE_DIR:-build/linux-debug}"
  win64_dir="${QUORLEN_DEMO_WIN64_DIR:-build/win64-release}"
  { cmake --preset linux-debug -B "$native_dir" && cmake --build "$native_dir" -j2 --target console-sim; } \
    >build/demo-native.log 2>&1 || fail "native build failed: see build/demo-native.log"
  { cmake --preset win64-release -B "$win64_dir" && cmake --build "$win64_dir" -j2 --target quorlen quorlen-probe; } \
    >build/demo-win64.log 2>&1 || fail "win64 build failed: see build/demo-win64.log"
  app_exe="$root/$win64_dir/quorlen.exe"
  probe_exe="$root/$win64_dir/tools/quorlen-probe/quorlen-probe.exe"
  # A Wine prefix of the demo's own, so that stopping its wineserver at the end
  # touches nothing else.
  export QUORLEN_E2E_WINEPREFIX="${QUORLEN_DEMO_WINEPREFIX:-/tmp/quorlen-demo-wineprefix}"
else
  echo "Building the console simulator and the Linux program (a minute the first time)..."
  native_dir="${QUORLEN_DEMO_QT_DIR:-build/linux-qt}"
  { cmake --preset linux-qt -B "$native_dir" && cmake --build "$native_dir" -j2 --target console-sim quorlen; } \
    >build/demo-qt.log 2>&1 || fail "Linux build failed: see build/demo-qt.log"
  app_exe="$root/$native_dir/quorlen"
fi
sim_exe="$root/$native_dir/tools/console-sim/console-sim"
[ "$headless" = 1 ] && run=(--headless) || run=()
[ "$wine" = 1 ] && run+=(--probe "$probe_exe")
work=$(mktemp -d /tmp/quorlen-demo.XXXXXX)
[ "$wine" = 1 ] && echo "Preparing Wine ($QUORLEN_E2E_WINEPREFIX; the first time takes a minute)..."
exec python3 tools/demo.py --exe "$app_exe" --sim "$sim_exe" --work "$work" "${run[@]}"
