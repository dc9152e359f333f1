#!/bin/sh
# Builds and tests everything: the Linux library (plain and under AddressSanitizer + UBSan) and
# the Windows DLL, whose tests run under Wine inside a virtual display.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORBA_BUILD_ROOT:-$root/build}

"$root/scripts/install-deps.sh"

step() { printf '\n=== %s\n' "$*"; }

run_linux() {
  dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
  cmake --build "$dir"
  (cd "$dir" && ctest --output-on-failure)
}

mkdir -p "$build"

step "Linux build and tests"
run_linux "$build/linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo

step "Linux tests under AddressSanitizer and UBSan"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_linux "$build/linux-asan" -DCMAKE_BUILD_TYPE=Debug -DORBA_SANITIZE=ON

step "Windows build (mingw-w64) and tests under Wine"
win="$build/windows"
cmake -S "$root" -B "$win" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64-x86_64.cmake" \
  -DORBA_COLLECTOR_EXECUTABLE="$build/linux/bin/orba-collector" > "$win.configure.log" 2>&1 \
  || { cat "$win.configure.log"; exit 1; }
cmake --build "$win"
# One display for the whole Windows run: the first Wine process decides whether the prefix's
# server has one.
xvfb-run -a sh -c '
  cd "$1" && ctest --output-on-failure; rc=$?
  WINEPREFIX="$1/wineprefix" wineserver -k 2>/dev/null || true
  exit $rc' sh "$win"

step "all tests passed"
