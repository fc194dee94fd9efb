#!/usr/bin/env bash
# Builds and runs every test of Quorlen on a Debian 12 machine, installing what
# is missing first: native (null UI, POSIX sockets) and under ASan + UBSan, the
# Linux program on Qt (its control layer, starting programs, the program end to
# end under Xvfb), the win64 and win32 builds under Wine, and the end-to-end
# suite on quorlen.exe and quorlen32.exe. Ends with one "N passed, N failed" line.
set -uo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh || exit 1
source tools/wine-env.sh

passed=0 failed=0 skipped=0
failures=()
helpers=(--sim "$quorlen_sim" --probe "$quorlen_probe")

# tally PASSED FAILED [WHAT_FAILED]
tally() {
  passed=$((passed + $1))
  failed=$((failed + $2))
  [ "$2" -eq 0 ] || failures+=("$3")
}

# run_suite NAME PRESET [ctest args...]
run_suite() {
  local name=$1 preset=$2 log=build/$2.ctest.log bad total
  shift 2
  echo "=== $name ($preset) ==="
  if ! cmake --preset "$preset" >"build/$preset.configure.log" 2>&1; then
    cat "build/$preset.configure.log"
    tally 0 1 "$name: configure"
  elif ! cmake --build --preset "$preset" -j2 >"build/$preset.build.log" 2>&1; then
    grep -E "error|Error" "build/$preset.build.log" | head -40
    tally 0 1 "$name: build"
  else
    ctest --preset "$preset" -j2 "$@" 2>&1 | tee "$log"
    read -r bad total < <(sed -nE 's/.*tests passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1 \2/p' "$log" | tail -1)
    if [ -z "$total" ]; then
      tally 0 1 "$name: no test ran"
    else
      tally $((total - bad)) "$bad" "$name: $bad of $total failed"
    fi
  fi
}

# run_e2e NAME EXE: the end-to-end suite (tests/e2e) for one Windows program;
# counts unittest's passed, failed and skipped tests.
run_e2e() {
  local name=$1 log=build/e2e-$1.log ran result bad skip
  echo "=== end-to-end, $name ==="
  python3 tests/e2e/quorlen_e2e.py --exe "$2" "${helpers[@]}" --out "build/e2e-$name" 2>&1 | tee "$log"
  ran=$(sed -nE 's/^Ran ([0-9]+) tests? in .*/\1/p' "$log" | tail -1)
  result=$(grep -E "^(OK|FAILED)" "$log" | tail -1)
  if [ -z "$ran" ] || [ -z "$result" ]; then
    tally 0 1 "e2e $name: no result"
    return
  fi
  # The last line is "OK" or "FAILED", with counts such as "(failures=1, skipped=2)".
  read -r bad skip < <(awk -v RS='[(,)]' -F= '{ sub(/^ +/, "", $1) } $1 == "skipped" { skip += $2 }
    $1 ~ /^(failures|errors|unexpected successes)$/ { bad += $2 } END { print bad + 0, skip + 0 }' <<<"$result")
  skipped=$((skipped + skip))
  tally $((ran - bad - skip)) "$bad" "e2e $name: $bad of $ran failed"
}

# run_soak NAME EXE CYCLES: a short soak (tests/e2e/reliability_e2e.py) as one
# more test: every capture taken, every fade exact, a fresh port each cycle,
# nothing the process holds grows. tools/reliability.sh runs the long ones.
run_soak() {
  local name=$1 log=build/soak-$1.log status=0
  echo "=== soak, $name, $3 cycles ==="
  python3 tests/e2e/reliability_e2e.py --exe "$2" "${helpers[@]}" --out "build/soak-$name" soak \
    --cycles "$3" >"$log" 2>&1 || status=$?
  grep '^RESULT ' "$log" | cut -c1-400
  case "$status" in
    0) tally 1 0 ;;
    77) skipped=$((skipped + 1)) ;;
    *) tally 0 1 "soak $name: see $log" ;;
  esac
}

mkdir -p build
quorlen_start_display || exit 1
trap quorlen_stop EXIT
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
[ "$skipped" -eq 0 ] || echo "($skipped end-to-end tests skipped; the reason is in their log)"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
