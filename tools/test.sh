#!/usr/bin/env bash
# Builds and runs every test of Quorlen on a Debian 12 machine:
#   native (null UI, POSIX sockets), native under ASan + UBSan,
#   the Linux program on Qt (its control layer, starting programs, and the
#   program end to end under Xvfb), the win64 build under Wine, the win32
#   build under Wine, and the end-to-end suite that drives quorlen.exe /
#   quorlen32.exe.
# Installs what is missing first. Ends with one "N passed, N failed" line.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

tools/install-deps.sh || exit 1
source tools/wine-env.sh

passed=0
failed=0
failures=()

# run_suite NAME PRESET [ctest args...]
run_suite() {
  local name=$1 preset=$2
  shift 2
  echo "=== $name ($preset) ==="
  if ! cmake --preset "$preset" >"build/$preset.configure.log" 2>&1; then
    cat "build/$preset.configure.log"
    failures+=("$name: configure")
    failed=$((failed + 1))
    return
  fi
  if ! cmake --build --preset "$preset" -j2 >"build/$preset.build.log" 2>&1; then
    grep -E "error|Error" "build/$preset.build.log" | head -40
    failures+=("$name: build")
    failed=$((failed + 1))
    return
  fi
  local log="build/$preset.ctest.log"
  ctest --preset "$preset" -j2 "$@" 2>&1 | tee "$log"
  local line
  line=$(grep -E "tests passed, [0-9]+ tests? failed out of [0-9]+" "$log" | tail -1)
  if [ -z "$line" ]; then
    failures+=("$name: no test ran")
    failed=$((failed + 1))
    return
  fi
  local bad total
  bad=$(echo "$line" | sed -E 's/.*passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
  total=$(echo "$line" | sed -E 's/.*failed out of ([0-9]+).*/\1/')
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  [ "$bad" -eq 0 ] || failures+=("$name: $bad of $total failed")
}

# run_e2e NAME EXE: the end-to-end suite (tests/e2e) for one Windows program,
# looked into by the 64-bit window probe; counts unittest's passed, failed and
# skipped tests.
run_e2e() {
  local name=$1 exe=$2
  echo "=== end-to-end, $name ==="
  local log="build/e2e-$name.log"
  python3 tests/e2e/quorlen_e2e.py --exe "$exe" --sim build/linux-debug/tools/console-sim/console-sim \
    --probe build/win64-release/tools/quorlen-probe/quorlen-probe.exe --out "build/e2e-$name" 2>&1 | tee "$log"
  local ran result bad skipped
  ran=$(sed -nE 's/^Ran ([0-9]+) tests? in .*/\1/p' "$log" | tail -1)
  result=$(grep -E "^(OK|FAILED)" "$log" | tail -1)
  if [ -z "$ran" ] || [ -z "$result" ]; then
    failures+=("e2e $name: no result")
    failed=$((failed + 1))
    return
  fi
  count() {
    local n
    n=$(echo "$result" | sed -nE "s/.*[(, ]$1=([0-9]+).*/\1/p")
    echo "${n:-0}"
  }
  bad=$(( $(count failures) + $(count errors) + $(count "unexpected successes") ))
  skipped=$(count skipped)
  passed=$((passed + ran - bad - skipped))
  failed=$((failed + bad))
  [ "$skipped" -eq 0 ] || skipped_total=$((skipped_total + skipped))
  [ "$bad" -eq 0 ] || failures+=("e2e $name: $bad of $ran failed")
}
skipped_total=0

# run_soak NAME EXE CYCLES: a short soak (tests/e2e/reliability_e2e.py) as one
# more test: every capture taken, every fade exact, a fresh port each cycle,
# nothing the process holds grows. tools/reliability.sh runs the long ones.
run_soak() {
  local name=$1 exe=$2 cycles=$3
  echo "=== soak, $name, $cycles cycles ==="
  local log="build/soak-$name.log"
  python3 tests/e2e/reliability_e2e.py --exe "$exe" --sim build/linux-debug/tools/console-sim/console-sim \
    --probe build/win64-release/tools/quorlen-probe/quorlen-probe.exe --out "build/soak-$name" soak \
    --cycles "$cycles" >"$log" 2>&1
  local status=$?
  grep '^RESULT ' "$log" | cut -c1-400
  case "$status" in
    0) passed=$((passed + 1)) ;;
    77) skipped_total=$((skipped_total + 1)) ;;
    *) failed=$((failed + 1)); failures+=("soak $name: see $log") ;;
  esac
}

mkdir -p build
quorlen_start_display || exit 1
trap 'quorlen_stop_wine; quorlen_stop_display' EXIT
quorlen_prepare_wine

# The end-to-end entries of the native builds run once, below, after the
# Windows builds they drive.
run_suite "native" linux-debug -E '^e2e_quorlen'
run_suite "native, ASan + UBSan" linux-asan -E '^e2e_quorlen'
run_suite "Linux program, Qt" linux-qt
run_suite "win64 under Wine" win64-release
run_suite "win32 under Wine" win32-release
run_e2e quorlen64 build/win64-release/quorlen.exe
run_e2e quorlen32 build/win32-release/quorlen32.exe
run_soak quorlen64 build/win64-release/quorlen.exe 20

echo
for f in "${failures[@]}"; do echo "FAILED: $f"; done
[ "$skipped_total" -eq 0 ] || echo "($skipped_total end-to-end tests skipped; the reason is in their log)"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
