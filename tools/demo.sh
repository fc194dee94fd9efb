#!/usr/bin/env bash
# The demo: Quorlen under Wine against the console simulator on 127.0.0.1.
#
#   tools/demo.sh              with a display: you press the buttons, and type
#                              the console's touch into the simulator
#   tools/demo.sh --headless   (also used when there is no DISPLAY) its own
#                              Xvfb; the demo plays one whole cycle itself:
#                              Ch 5, Slow, minimum 50, capture, a touch at 0.8
#                              and the fade down to 0.5
#
# Installs what is missing, builds the simulator (native preset) and
# quorlen.exe with the window probe (win64 preset), and leaves a screenshot,
# a plot of the level against time and the simulator's log in a work
# directory, whose name it prints. Exit code 0 when the cycle was played and
# the program ended normally. Leaves no process behind.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

headless=0
[ "${1:-}" = "--headless" ] && headless=1
[ -z "${DISPLAY:-}" ] && headless=1

work=""
fail() {
  echo "demo: $*" >&2
  [ -n "$work" ] && echo "demo: what it left so far is in $work" >&2
  exit 1
}

tools/install-deps.sh || fail "could not install the packages it needs"

echo "Building the console simulator and quorlen.exe (this takes a few minutes the first time)..."
mkdir -p build
native_dir="${QUORLEN_DEMO_NATIVE_DIR:-build/linux-debug}"
win64_dir="${QUORLEN_DEMO_WIN64_DIR:-build/win64-release}"
{ cmake --preset linux-debug -B "$native_dir" && cmake --build "$native_dir" -j2 --target console-sim; } \
  >build/demo-native.log 2>&1 || fail "native build failed: see build/demo-native.log"
{ cmake --preset win64-release -B "$win64_dir" && cmake --build "$win64_dir" -j2 --target quorlen quorlen-probe; } \
  >build/demo-win64.log 2>&1 || fail "win64 build failed: see build/demo-win64.log"
sim_exe="$root/$native_dir/tools/console-sim/console-sim"
app_exe="$root/$win64_dir/quorlen.exe"
probe_exe="$root/$win64_dir/tools/quorlen-probe/quorlen-probe.exe"

# A Wine prefix of the demo's own, so that stopping its wineserver at the end
# touches nothing else.
export QUORLEN_WINEPREFIX="${QUORLEN_DEMO_WINEPREFIX:-/tmp/quorlen-demo-wineprefix}"
[ "$headless" = 1 ] || export QUORLEN_USE_DISPLAY=1
source tools/wine-env.sh

work=$(mktemp -d /tmp/quorlen-demo.XXXXXX)
printf '127\n0\n0\n1\n' >"$work/config.txt"
log="$work/console-sim.jsonl"
fades="$work/fades.jsonl"

sim_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  quorlen_stop_wine
  quorlen_stop_display
  wait 2>/dev/null
}
trap cleanup EXIT

quorlen_start_display || fail "no X display"
echo "Preparing Wine ($WINEPREFIX; the first time takes a minute)..."
quorlen_prepare_wine

probe() { quorlen_wine64 "$probe_exe" "$@"; }
# The value of one control's field from the probe's JSON: field ID KEY
field() {
  probe info | python3 -c 'import json,sys
d=json.load(sys.stdin); c=[c for c in d["controls"] if c["id"]==int(sys.argv[1])][0]; print(c[sys.argv[2]])' "$1" "$2"
}
click() { xdotool mousemove $(probe point "$@") click 1; }
wait_for() {  # wait_for SECONDS COMMAND...: until the command succeeds
  local limit=$(( $1 * 10 )) i
  shift
  for ((i = 0; i < limit; i++)); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}
field_is() { [ "$(field "$1" "$2")" = "$3" ]; }
summary_ready() { [ -s "$fades" ]; }
fade_seen() { grep -q '"action":"fader"' "$log"; }

shot() {  # the window's client area (Xvfb draws no caption)
  probe info | python3 -c 'import json,sys; d=json.load(sys.stdin)
print("%dx%d+%d+%d" % (d["client"]["w"], d["client"]["h"], d["origin"]["x"], d["origin"]["y"]))' >"$work/geometry" &&
    import -window root -crop "$(cat "$work/geometry")" +repage "$1"
}

if [ "$headless" = 0 ]; then
  (cd "$work" && exec env WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64 "$app_exe") >"$work/wine.out" 2>&1 &
  app_pid=$!
  cat <<EOF

Quorlen is running against the console simulator (127.0.0.1:10023).
In the Quorlen window:
  1. pick "Ch 5" in the list, click "Fast", and set "Fade to" to 50 with the arrows;
  2. press "Get Main Position Until Touch".
Then touch the fader on the "console": type below
      touch 5 0.8
and watch the level bar fall to 0.5. "Reset Off" stops a fade; type "quit" to end the demo.

EOF
  "$sim_exe" --log "$log" --summary-json "$fades"
  sim_status=$?
  probe close >/dev/null 2>&1
  wait "$app_pid" 2>/dev/null
  app_pid=""
  if python3 tools/fade_plot.py "$log" "$work/level.png" >/dev/null 2>&1; then
    echo "Plot of the level against time: $work/level.png"
  fi
  echo "Simulator log: $log"
  exit "$sim_status"
fi

echo "Playing one cycle headless on display $DISPLAY: Ch 5, Slow, minimum 50, touch at 0.8."
"$sim_exe" --log "$log" --summary-json "$fades" --no-bar --touch 5:0.8@2500 \
  --exit-after-fades 1 --timeout 120 >"$work/console-sim.out" 2>&1 &
sim_pid=$!
sim_ready() { grep -q "listening on" "$work/console-sim.out"; }
if ! wait_for 10 sim_ready; then
  sim_pid=""
  fail "the console simulator did not start: $(cat "$work/console-sim.out")"
fi
(cd "$work" && exec env WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64 "$app_exe") >"$work/wine.out" 2>&1 &
app_pid=$!

probe wait 60000 >/dev/null || fail "the Quorlen window did not appear"
# The address field fills in once the address file is read; a moment later
# the main loop takes clicks (the start-up's last drain discards them).
wait_for 10 field_is 999 blank False || fail "Quorlen did not finish starting"
sleep 0.3
shot "$work/idle.png"

click 162 5
wait_for 5 field_is 162 selected 5 || fail "could not select Ch 5"
click 101
wait_for 5 field_is 101 checked 1 || fail "could not select Slow"
click 350
xdotool key --delay 15 $(printf 'Up %.0s' $(seq 1 50))
wait_for 5 field_is 350 text 50 || fail "could not set the minimum to 50"
click 210
wait_for 5 field_is 210 text "Touch Selected Downwards" || fail "capture did not start"
shot "$work/waiting.png"
echo "Captured; the simulator touches fader 5 at 0.8 in 2.5 s."

wait_for 20 fade_seen || fail "no fade reached the console"
shot "$work/fading.png"
wait_for 30 summary_ready || fail "the fade did not end"
wait_for 15 field_is 210 text "Get Main Position Until Touch" || fail "Quorlen did not reset"
shot "$work/screenshot.png"
wait "$sim_pid" 2>/dev/null
sim_pid=""

probe close >/dev/null
probe gone 10000 >/dev/null || fail "Quorlen did not close"
wait "$app_pid"
app_status=$?
app_pid=""
[ "$app_status" -eq 0 ] || fail "Quorlen ended with exit code $app_status"

python3 tools/fade_plot.py "$log" "$work/level.png" --fader 5 --title "Ch 5 at Slow" >/dev/null ||
  fail "could not draw the plot"

echo
echo "The console simulator's summary:"
grep -v "listening on" "$work/console-sim.out"
cat "$fades"
echo
echo "Screenshots:      $work/waiting.png (captured, waiting for the touch)"
echo "                  $work/fading.png, $work/screenshot.png (after the reset)"
echo "Level over time:  $work/level.png"
echo "Simulator log:    $log"
python3 - "$fades" <<'EOF' || exit 1
import json, sys
s = json.loads(open(sys.argv[1]).readline())
ok = s["fader"] == 5 and s["count"] > 1 and abs(s["first"] - 0.8) < 1e-6 and 0.5 < s["last"] < 0.51
print("Demo %s: %d messages from %.3f to %.4f, mean interval %.2f ms, p99 %.2f ms, capture latency %.2f ms"
      % ("done" if ok else "FAILED", s["count"], s["first"], s["last"], s["mean_interval_ms"],
         s["p99_interval_ms"], s["capture_latency_ms"]))
sys.exit(0 if ok else 1)
EOF
