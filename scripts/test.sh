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

step "Fuzz targets, 60 s each, under AddressSanitizer and UBSan"
fuzz="$build/fuzz"
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORBA_BUILD_FUZZERS=ON > "$fuzz.configure.log" 2>&1 \
  || { cat "$fuzz.configure.log"; exit 1; }
cmake --build "$fuzz" --target orba_fuzzers
# The targets run side by side. New inputs go to a scratch folder listed before the committed
# seeds, so that the repository's corpus stays as it is; crash inputs land beside the logs.
pids=""
for target in command string_util identity_file outbox_intake request_file; do
  rm -rf "$fuzz/run-$target" && mkdir -p "$fuzz/run-$target/corpus"
  # The command target's diagnostics (the core log) would flood the log; libFuzzer keeps its
  # own and the sanitizers' reports.
  quiet=""
  [ "$target" = command ] && quiet=-close_fd_mask=2
  "$fuzz/bin/fuzz_$target" -max_total_time=60 -max_len=65536 -timeout=30 -print_final_stats=1 $quiet \
    -artifact_prefix="$fuzz/run-$target/" "$fuzz/run-$target/corpus" "$root/fuzz/corpus/$target" \
    > "$fuzz/run-$target/log" 2>&1 &
  pids="$pids $target:$!"
done
failed=""
for entry in $pids; do
  target=${entry%%:*}
  if wait "${entry#*:}"; then
    printf '%s: %s\n' "$target" "$(grep -E '^stat::number_of_executed_units' "$fuzz/run-$target/log")"
  else
    cat "$fuzz/run-$target/log"
    failed="$failed $target"
  fi
done
[ -z "$failed" ] || { echo "fuzzing found a fault in:$failed (inputs under $fuzz/run-*/)" >&2; exit 1; }

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
