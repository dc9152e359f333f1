#!/bin/sh
# Runs a Windows program under Wine in a throwaway prefix inside the build tree.
# The build tree is taken from ORBA_BUILD_DIR, or else the current directory (ctest runs
# tests from the build tree).
build=${ORBA_BUILD_DIR:-$(pwd)}
export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
