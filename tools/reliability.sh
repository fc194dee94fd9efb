#!/usr/bin/env bash
# The long robustness checks, one table at the end:
#   tools/reliability.sh [--fuzz-minutes N] [ROW...]
# ROW picks rows by name (default: all of ROWS below, in order). A row is a
# function row_<name> that runs its check and calls add_row once per line of
# the table; to add one, write it and add its name to ROWS. Rows that bind UDP
# 127.0.0.1:10023 take the machine-wide lock (run_locked). CI doesn't run this;
# it runs the seed-corpus replays instead. Exit code 0 when every line passed.
set -uo pipefail
cd "$(dirname "$0")/.."
source tools/wine-env.sh  # how to run 32-bit programs here, and Wine's settings

ROWS=(fuzz bad_files_native bad_files_wine soak64 soak32 flood absent)
fuzz_minutes=16
if [ "${1:-}" = --fuzz-minutes ]; then
  fuzz_minutes=$2
  shift 2
fi
[ $# -gt 0 ] || set -- "${ROWS[@]}"

log_dir=build/reliability
mkdir -p "$log_dir"
table=()
failed=0

add_row() {  # TEST LOAD DURATION RESULT FIGURE
  table+=("$1|$2|$3|$4|$5")
  [ "$4" = pass ] || failed=$((failed + 1))
}

run_locked() { flock /tmp/quorlen-10023.lock "$@"; }

# pass_if COMMAND...: "pass" when COMMAND succeeds, else "FAIL".
pass_if() { if "$@"; then echo pass; else echo FAIL; fi; }

# build TEST PRESET TARGET...: configure and build, quietly; on failure TEST's
# failed row, and 1.
build() {
  local test=$1 preset=$2
  shift 2
  { cmake --preset "$preset" && cmake --build --preset "$preset" -j2 --target "$@"; } >"$log_dir/build-$preset.log" 2>&1 ||
    { add_row "$test" build - FAIL "see $log_dir/build-$preset.log"; return 1; }
}

# --- rows -----------------------------------------------------------------

# Each libFuzzer target for its share of the minutes (tools/fuzz.sh).
row_fuzz() {
  local status=0 name executions corpus findings seconds any=0
  tools/fuzz.sh "$fuzz_minutes" >"$log_dir/fuzz.log" 2>&1 || status=$?
  while read -r name executions _ corpus _ _ findings _ seconds; do
    [ "$executions" -ge 0 ] 2>/dev/null || continue
    any=1
    add_row "fuzz $name" "libFuzzer, ASan+UBSan" "$seconds" "$(pass_if [ "$findings" -eq 0 ])" \
      "$executions executions, $corpus corpus files, $findings findings"
  done <"$log_dir/fuzz.log"
  [ "$any" = 1 ] || add_row "fuzz" "tools/fuzz.sh $fuzz_minutes" "$((SECONDS - start))s" FAIL \
    "exit $status, see $log_dir/fuzz.log"
}

# config.txt that is no file, natively: the open returns at once; and a
# 50 MiB first line read by the headless program, with its peak memory.
row_bad_files_native() {
  build "bad config.txt, native" linux-debug file_test app_test || return
  local start=$SECONDS result=pass
  build/linux-debug/tests/file_test --gtest_filter='ExistingFile.*' >"$log_dir/file_test.log" 2>&1 || result=FAIL
  add_row "config.txt a FIFO, a device, a dangling link, a directory; removed after the open" \
    "native open + read" "$((SECONDS - start))s" "$result" \
    "$(sed -nE 's/^\[==========\] .*\((.*) total\)$/all opens returned in \1/p' "$log_dir/file_test.log")"
  start=$SECONDS result=pass
  run_locked build/linux-debug/tests/app_test --gtest_filter='*ReadsTheAddressFile*' >"$log_dir/app_test.log" 2>&1 ||
    result=FAIL
  add_row "config.txt: 50 MiB line, binary junk, UTF-16 without a mark" "headless program" \
    "$((SECONDS - start))s" "$result" \
    "$(sed -nE 's/^peak memory while reading a ([0-9]+) MiB line: (.*)/\1 MiB line: peak \2/p' "$log_dir/app_test.log")"
}

# The same under Wine, one end-to-end test each: quorlen.exe shows an
# address or takes the missing-file path, never crashes or hangs.
row_bad_files_wine() {
  build "bad config.txt, Wine" linux-debug console-sim &&
    build "bad config.txt, Wine" win64-release quorlen quorlen-probe || return
  local test label load figure measured
  while IFS='|' read -r test label load figure; do
    local start=$SECONDS log="$log_dir/e2e-${test##*.}.log" result
    run_locked python3 tests/e2e/quorlen_e2e.py --exe build/win64-release/quorlen.exe \
      --sim "$quorlen_sim" --out "$log_dir/e2e" "$test" >"$log" 2>&1
    case "$(grep -E '^(OK|FAILED)' "$log" | tail -1)" in
      "OK (skipped"*) result=skipped ;;
      OK*) result=pass ;;
      *) result=FAIL ;;
    esac
    measured=$(sed -nE 's/.*figure: (.*)/\1/p' "$log" | tail -1)  # unittest may print it after a test's name
    add_row "$label" "$load" "$((SECONDS - start))s" "$result" "${measured:-$figure}"
  done <<'EOF_ROWS'
AddressFileTest.test_long_line_in_bounded_memory|config.txt: 50 MiB line|quorlen.exe, Wine|
AddressFileTest.test_rows|config.txt: binary junk, UTF-16 without a mark, other rows|quorlen.exe, Wine|each shows its address
MissingFileTest.test_directory_named_config_txt|config.txt a directory|quorlen.exe, Wine|missing-file path, exit 0
MissingFileTest.test_file_held_by_another_program|config.txt open elsewhere, no sharing|quorlen.exe, Wine|missing-file path, exit 0
EOF_ROWS
}

# reliability_e2e TEST BITS EXE RUN [args...]: builds what it needs and runs
# tests/e2e/reliability_e2e.py, its log in the log directory; sets result to
# the run's RESULT json, or adds TEST's failed row and returns 1.
reliability_e2e() {
  local test=$1 bits=$2 exe=$3 run=$4 log="$log_dir/$4-$(basename "$3" .exe).log"
  shift 4
  build "$test" linux-debug console-sim && build "$test" win64-release quorlen quorlen-probe &&
    { [ "$bits" = 64 ] || build "$test" win32-release quorlen; } || return 1
  run_locked python3 tests/e2e/reliability_e2e.py --exe "$exe" --sim "$quorlen_sim" --probe "$quorlen_probe" \
    --out "$log_dir/e2e-$run" "$run" "$@" >"$log" 2>&1
  result=$(sed -n 's/^RESULT //p' "$log" | tail -1)
  [ -n "$result" ] || add_row "$test" - "$((SECONDS - start))s" FAIL "no result"
  [ -n "$result" ]
}

# field JSON EXPRESSION: a figure out of a RESULT, by a python expression on r.
field() { python3 -c 'import json, sys; r = json.loads(sys.argv[1]); print(eval(sys.argv[2]))' "$1" "$2"; }

# verdict JSON [EXPRESSION]: pass when the expression on r (r["ok"]) is true.
verdict() { pass_if [ "$(field "$1" "bool(${2:-r[\"ok\"]})")" = True ]; }

# Capture, a Fast fade over a short range, the reset, again and again; what the
# process holds, every 50 cycles.
soak() {  # soak BITS EXE CYCLES
  reliability_e2e "soak $(basename "$2")" "$1" "$2" soak --cycles "$3" || return
  add_row "soak $(basename "$2")" "$3 cycles, Fast fades" "$((SECONDS - start))s" "$(verdict "$result")" \
    "$(field "$result" '"%d fades exact, a new link each cycle (%d distinct ports); after warm-up: private %+d KiB, descriptors %+d, threads %+d (RSS %d KiB at the end)" % (r["cycles"] - len(r["faults"]), r["unique_ports"], r["growth"]["private_kib"], r["growth"]["descriptors"], r["growth"]["threads"], r["samples"][-1]["rss_kib"])')"
}
row_soak64() { soak 64 build/win64-release/quorlen.exe 500; }
row_soak32() { soak 32 build/win32-release/quorlen32.exe 100; }

# 10 s of junk at about 20,000 datagrams a second: while waiting, then
# during a fade with "Stop When Fader Is Moved" off and on.
row_flood() {
  reliability_e2e flood 64 build/win64-release/quorlen.exe flood || return
  add_row "flood while waiting, quorlen.exe" "$(field "$result" '"%d datagrams, %d/s, 10 s" % (r["waiting"]["sent"], r["waiting"]["rate"])')" \
    "$((SECONDS - start))s" "$(verdict "$result" 'r["waiting"]["ok"]')" \
    "$(field "$result" '"capture taken, first message %.0f ms after the flood; window answered throughout (slowest %.0f ms); CPU %.0f %% of a core with the wineserver" % (r["waiting"]["first_message_after_flood_ms"], r["waiting"]["probe_slowest_ms"], r["waiting"]["cpu_percent"]["total"])')"
  local i
  for i in 0 1; do
    add_row "flood during a fade, quorlen.exe" \
      "$(field "$result" '"%d datagrams, option %s" % (r["fading"]['$i']["sent"], "on" if r["fading"]['$i']["option_on"] else "off")')" \
      "10s" "$(verdict "$result" 'r["fading"]['$i']["ok"]')" \
      "$(field "$result" '"interval mean %.2f ms, p99 %.2f ms (without the flood %.2f, %.2f); levels exact" % tuple(r["fading"]['$i'][w][k] for w, k in (("during", "mean"), ("during", "p99"), ("before", "mean"), ("before", "p99")))')"
  done
}

# 60 s of waiting with nothing at the console's address (ICMP port unreachable).
row_absent() {
  reliability_e2e "console absent" 64 build/win64-release/quorlen.exe absent --seconds 60 || return
  add_row "console absent, quorlen.exe" "60 s waiting, ICMP unreachable" "$((SECONDS - start))s" "$(verdict "$result")" \
    "$(field "$result" '"keep-alives %d, %s s apart; CPU %.2f %% of a core with the wineserver; Reset Off took %.2f s" % (len(r["keep_alives_at"]), "/".join("%g" % g for g in sorted(set(r["gaps"]))), r["cpu_percent"]["total"], r["reset_off_seconds"])')"
}

# --- run and print ---------------------------------------------------------

for row in "$@"; do
  declare -F "row_$row" >/dev/null || { add_row "$row" - - FAIL "no such row (rows: ${ROWS[*]})"; continue; }
  echo "running $row..." >&2
  start=$SECONDS  # a row's duration, unless it times its lines itself
  "row_$row"
done

# One table, its columns as wide as their widest cell; a trailing separator
# makes column pad the last one too, for the rule under the heading.
printf '%s|\n' "test|load|duration|result|figure" "-|-|-|-|-" "${table[@]}" | column -t -s'|' -o' | ' |
  sed -E '2{s/ \| $//; s/ \| /-+-/g; s/ /-/g}; s/ +\| $//; s/\|$/| /'
echo "logs in $log_dir/"
[ "$failed" -eq 0 ]
