#!/bin/sh
# Runs a Windows binary under Wine with a quiet, project-owned prefix.
# QUORLEN_WINEPREFIX (or WINEPREFIX) picks the prefix; the default lives in /tmp
# so that every build directory of one checkout shares it.
#
# 64-bit programs go straight to Wine's 64-bit loader: on machines that can't
# execute 32-bit ELF code, /usr/bin/wine fails before it gets that far.
# 32-bit programs use QUORLEN_WINE32 when it is set (see tools/wine-env.sh).
: "${WINEPREFIX:=${QUORLEN_WINEPREFIX:-/tmp/quorlen-wine}}"
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

program=$1
machine=$(od -An -tx1 -j "$(od -An -tu4 -j 60 -N 4 "$program" | tr -d ' ')" -N 6 "$program" 2>/dev/null | tr -d ' \n')
case "$machine" in
  504500004c01) # PE, i386
    exec ${QUORLEN_WINE32:-wine} "$@" ;;
  *)
    if [ -x /usr/lib/wine/wine64 ]; then
      export WINELOADER=/usr/lib/wine/wine64
      exec /usr/lib/wine/wine64 "$@"
    fi
    exec wine "$@" ;;
esac
