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
# ended normally. Leaves no process behind.
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

work=""
fail() {
  echo "demo: $*" >&2
  [ -n "$work" ] && echo "demo: what it left so far is in $work" >&2
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
  export QUORLEN_WINEPREFIX="${QUORLEN_DEMO_WINEPREFIX:-/tmp/quorlen-demo-wineprefix}"
else
  echo "Building the console simulator and the Linux program (a minute the first time)..."
  native_dir="${QUORLEN_DEMO_QT_DIR:-build/linux-qt}"
  { cmake --preset linux-qt -B "$native_dir" && cmake --build "$native_dir" -j2 --target console-sim quorlen; } \
    >build/demo-qt.log 2>&1 || fail "Linux build failed: see build/demo-qt.log"
  app_exe="$root/$native_dir/quorlen"
fi
sim_exe="$root/$native_dir/tools/console-sim/console-sim"
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
  [ "$wine" = 1 ] && quorlen_stop_wine
  quorlen_stop_display
  wait 2>/dev/null
}
trap cleanup EXIT

quorlen_start_display || fail "no X display"
if [ "$wine" = 1 ]; then
  echo "Preparing Wine ($WINEPREFIX; the first time takes a minute)..."
  quorlen_prepare_wine
fi

start_app() {
  if [ "$wine" = 1 ]; then
    (cd "$work" && exec env WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64 "$app_exe") >"$work/app.out" 2>&1 &
  else
    (cd "$work" && exec env QT_QPA_PLATFORM=xcb "$app_exe") >"$work/app.out" 2>&1 &
  fi
  app_pid=$!
}

wait_for() {  # wait_for SECONDS COMMAND...: until the command succeeds
  local limit=$(($1 * 10)) i
  shift
  for ((i = 0; i < limit; i++)); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}
summary_ready() { [ -s "$fades" ]; }
fade_seen() { grep -q '"action":"fader"' "$log"; }
subscriptions() { grep -c '"address":"/xremote"' "$log" 2>/dev/null; }
subscribed() { [ "$(subscriptions)" -ge "$1" ]; }

# The window's client area, its controls and what they show. Under Wine the
# window probe reads them from the program; the Linux program is clicked at
# its layout's client coordinates and checked at the simulator.
if [ "$wine" = 1 ]; then
  probe() { quorlen_wine64 "$probe_exe" "$@"; }
  field() {  # the value of one control's field from the probe's JSON: field ID KEY
    probe info | python3 -c 'import json,sys
d=json.load(sys.stdin); c=[c for c in d["controls"] if c["id"]==int(sys.argv[1])][0]; print(c[sys.argv[2]])' "$1" "$2"
  }
  field_is() { [ "$(field "$1" "$2")" = "$3" ]; }
  geometry() {
    probe info | python3 -c 'import json,sys; d=json.load(sys.stdin)
print("%dx%d+%d+%d" % (d["client"]["w"], d["client"]["h"], d["origin"]["x"], d["origin"]["y"]))'
  }
  wait_window() { probe wait 60000 >/dev/null && wait_for 10 field_is 999 blank False; }
  pick_ch5() { xdotool mousemove $(probe point 162 5) click 1; wait_for 5 field_is 162 selected 5; }
  click() { xdotool mousemove $(probe point "$1") click 1; }
  close_app() { probe close >/dev/null && probe gone 10000 >/dev/null; }
else
  window=""
  geometry() {
    xdotool getwindowgeometry --shell "$window" | python3 -c 'import sys
g=dict(l.strip().split("=") for l in sys.stdin if "=" in l); print("%sx%s+%s+%s" % (g["WIDTH"], g["HEIGHT"], g["X"], g["Y"]))'
  }
  wait_window() {
    window=$(timeout 30 xdotool search --sync --onlyvisible --name "Quorlen -Tavisk" | head -1)
    [ -n "$window" ]
  }
  at() {  # the client point of a control: at ID
    case "$1" in
      101) echo "49 58" ;; 162) echo "466 40" ;; 210) echo "172 27" ;; 350) echo "330 115" ;;
    esac
  }
  pick_ch5() { xdotool mousemove --window "$window" $(at 162) click 1 key --delay 15 Down Down Down Down Down; }
  click() { xdotool mousemove --window "$window" $(at "$1") click 1; }
  close_app() {  # the close box: WM_DELETE_WINDOW, as a window manager sends it
    python3 -c 'import sys; sys.path.insert(0, "tests/e2e"); import linux_smoke
linux_smoke.send_close_request(sys.argv[1], int(sys.argv[2]))' "$DISPLAY" "$window" && wait_for 10 app_gone
  }
  app_gone() { ! kill -0 "$app_pid" 2>/dev/null; }
fi
shot() { geometry >"$work/geometry" && import -window root -crop "$(cat "$work/geometry")" +repage "$1"; }

if [ "$headless" = 0 ]; then
  start_app
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
  wait_window && close_app
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
start_app

wait_window || fail "the Quorlen window did not appear"
# The start-up's last drain discards clicks made before the main loop runs.
sleep 0.3
shot "$work/idle.png"

pick_ch5 || fail "could not select Ch 5"
click 101
click 350
xdotool key --delay 15 $(printf 'Up %.0s' $(seq 1 50))
[ "$wine" = 1 ] && { wait_for 5 field_is 350 text 50 || fail "could not set the minimum to 50"; }
click 210
wait_for 10 subscribed 1 || fail "capture did not start"
shot "$work/waiting.png"
echo "Captured; the simulator touches fader 5 at 0.8 in 2.5 s."

wait_for 20 fade_seen || fail "no fade reached the console"
shot "$work/fading.png"
wait_for 30 summary_ready || fail "the fade did not end"
wait_for 15 subscribed 2 || fail "Quorlen did not reset"
sleep 0.5
shot "$work/screenshot.png"
wait "$sim_pid" 2>/dev/null
sim_pid=""

close_app || fail "Quorlen did not close"
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
