# Sourced by the test, bench, reliability and release scripts: one Wine prefix
# for the whole run (QUORLEN_WINEPREFIX, default /tmp/quorlen-wine, made once),
# an Xvfb of our own (quorlen_start_display), how to run 32-bit programs where
# plain wine can't (QUORLEN_WINE32), and the end-to-end suites' helpers.

export QUORLEN_WINEPREFIX="${QUORLEN_WINEPREFIX:-/tmp/quorlen-wine}"
# No Mono or Gecko: nothing here needs them, and Wine would offer to install them.
export WINEPREFIX="$QUORLEN_WINEPREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine maps file names through the locale; a UTF-8 one keeps non-ASCII names.
export LC_ALL=C.UTF-8

# 32-bit programs: plain wine where 32-bit code runs, else through qemu-i386
# in a namespace of their own (tools/wine32-setup.sh, tools/wine32-ns).
quorlen_tools_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ -z "${QUORLEN_WINE32:-}" ] && ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  export QUORLEN_WINE32="$quorlen_tools_dir/wine32-ns wine"
fi
# The end-to-end suites' simulator and 64-bit window probe, of this tree's builds.
quorlen_sim=${quorlen_tools_dir%/tools}/build/linux-debug/tools/console-sim/console-sim
quorlen_probe=${quorlen_tools_dir%/tools}/build/win64-release/tools/quorlen-probe/quorlen-probe.exe

quorlen_start_display() {
  # Xvfb takes a free display number itself and writes it once it listens,
  # so that two runs starting together never pick the same one.
  coproc quorlen_xvfb { exec Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null; }
  local number=""
  read -r -t 10 number <&"${quorlen_xvfb[0]}"
  [ -n "$number" ] || { echo "could not start Xvfb" >&2; return 1; }
  export DISPLAY=":$number"
}

# Makes the prefix once (through qemu where 32-bit programs go that way, or its
# syswow64 stays empty; a prefix without it is made anew) and keeps a wineserver
# running for the whole run, so that each program starts in well under a second.
quorlen_prepare_wine() {
  local wine64=(env WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64) wrap=()
  [ -n "${QUORLEN_WINE32:-}" ] && wrap=("$quorlen_tools_dir/wine32-ns")
  if [ -f "$WINEPREFIX/system.reg" ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
    echo "The Wine prefix $WINEPREFIX has no 32-bit support; making it anew..."
    /usr/lib/wine/wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX (once)..."
    "${wrap[@]}" "${wine64[@]}" wineboot -i >/dev/null 2>&1 || true
  fi
  # The wineserver that stays for the run starts out here: one started inside
  # the 32-bit wrapper's namespace can't reach other programs' memory.
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  /usr/lib/wine/wineserver -p 2>/dev/null || true
  # Start the prefix's services now, with nothing of ours open: started by
  # the first test program, they would hold its output pipe open for good.
  "${wine64[@]}" wineboot </dev/null >/dev/null 2>&1 || true
}

# The end of the run: its wineserver, then its Xvfb.
quorlen_stop() {
  /usr/lib/wine/wineserver -k 2>/dev/null
  [ -z "${quorlen_xvfb_PID:-}" ] || kill "$quorlen_xvfb_PID" 2>/dev/null
}
