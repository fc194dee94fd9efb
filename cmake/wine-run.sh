#!/bin/sh
# Runs a Windows test binary under Wine with a quiet, project-owned prefix.
# QUORLEN_WINEPREFIX (or WINEPREFIX) picks the prefix; the default lives in /tmp
# so that every build directory of one checkout shares it.
: "${WINEPREFIX:=${QUORLEN_WINEPREFIX:-/tmp/quorlen-wineprefix}}"
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
