#!/usr/bin/env bash
# Runs the libFuzzer programs (tests/fuzz, preset linux-fuzz: clang 14 with
# ASan + UBSan) for about MINUTES in all (default 4), each for its share:
#   tools/fuzz.sh [minutes]
# Each target's working corpus lives outside the repo, in
# $QUORLEN_FUZZ_WORK/<target>/corpus (default /tmp/quorlen-fuzz), seeded from
# tests/fuzz/corpus/<target>/ and kept between runs; an input that breaks a
# property or crashes is written to <target>/findings/. Prints one line per
# target and exits non-zero on any finding. Binds no port.
set -uo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-4}
work=${QUORLEN_FUZZ_WORK:-/tmp/quorlen-fuzz}

# name weight max_len: the slower targets get a larger share of the time, so
# that each reaches a similar number of executions. Inputs longer than
# max_len add nothing the shorter ones don't reach (the address reader stops
# after four lines, a fader report is 28 bytes) and only slow the run down.
targets=(
  "address_file 4 512"
  "osc_roundtrip 2 512"
  "sim_decoder 2 4096"
  "capture_filter 1 256"
)

tools/install-deps.sh >/dev/null || exit 1
mkdir -p build
if ! { cmake --preset linux-fuzz && cmake --build --preset linux-fuzz -j2; } >build/linux-fuzz.build.log 2>&1; then
  grep -E "error|Error" build/linux-fuzz.build.log | head -40
  echo "the fuzz build failed (build/linux-fuzz.build.log)"
  exit 1
fi

total_weight=$(printf '%s\n' "${targets[@]}" | awk '{ total += $2 } END { print total }')

found=0
for entry in "${targets[@]}"; do
  read -r name weight max_len <<<"$entry"
  seconds=$(awk -v m="$minutes" -v w="$weight" -v t="$total_weight" 'BEGIN { s = int(m * 60 * w / t); print (s < 1 ? 1 : s) }')
  dir="$work/$name"
  mkdir -p "$dir/corpus" "$dir/findings"
  rm -f "$dir/findings"/*
  cp -n tests/fuzz/corpus/"$name"/* "$dir/corpus/"
  dict=()
  [ -f "tests/fuzz/$name.dict" ] && dict=(-dict="tests/fuzz/$name.dict")
  "build/linux-fuzz/tests/${name}_fuzz" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$dir/findings/" "${dict[@]}" "$dir/corpus" >"$dir/log" 2>&1
  status=$?
  executions=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$dir/log" | tail -1)
  corpus=$(find "$dir/corpus" -type f | wc -l)
  findings=$(find "$dir/findings" -type f | wc -l)
  # A fuzzer that stopped with an error but wrote no input is a finding too.
  [ "$status" -ne 0 ] && [ "$findings" -eq 0 ] && findings=1
  printf "%-16s %12s executions %7s corpus files %4s findings %6ss\n" \
    "$name" "${executions:-0}" "$corpus" "$findings" "$seconds"
  if [ "$findings" -gt 0 ]; then
    echo "  see $dir/log and $dir/findings/"
    found=$((found + findings))
  fi
done
[ "$found" -eq 0 ]
