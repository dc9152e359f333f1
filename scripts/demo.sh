#!/bin/sh
# Builds the Linux library and the sample host, then plays a sample game session through the
# library with its core logging on.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORBA_BUILD_ROOT:-$root/build}/demo

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBA_BUILD_TESTS=OFF > /dev/null
cmake --build "$build" --target orba-host

echo "--- sample session (commands, then the library's log lines) ---"
"$build/bin/orba-host" --log "$root/tools/orba-host/sample-session.txt" 2>&1
