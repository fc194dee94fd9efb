#!/usr/bin/env bash
# Builds and runs every test of Quorlen on a Debian 12 machine:
#   native (null UI, POSIX sockets), native under ASan + UBSan,
#   the win64 build under Wine, the win32 build under Wine,
#   and the end-to-end suite that drives quorlen.exe / quorlen32.exe.
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

mkdir -p build
quorlen_start_display || exit 1
trap 'quorlen_stop_wine; quorlen_stop_display' EXIT
quorlen_prepare_wine

run_suite "native" linux-debug
run_suite "native, ASan + UBSan" linux-asan
run_suite "win64 under Wine" win64-release
run_suite "win32 under Wine" win32-release

echo
for f in "${failures[@]}"; do echo "FAILED: $f"; done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
