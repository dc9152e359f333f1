#!/bin/sh
# The demo: a plain PC game session played through the tracker library against the local
# collector, a real HTTPS server on loopback with a throwaway certificate authority.
#
#   scripts/demo.sh            the Linux library and tools/orba-host
#   scripts/demo.sh --windows  the Windows DLL and orba-host.exe under Wine
#   scripts/demo.sh --ui       then keeps the collector and its integration view (a page on
#                              127.0.0.1) up until Enter or Ctrl-C
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
builds=${ORBA_BUILD_ROOT:-$root/build}
windows=false
ui=false
for option in "$@"; do
  case $option in
    --windows) windows=true ;;
    --ui) ui=true ;;
    *) echo "usage: $0 [--windows] [--ui]" >&2; exit 2 ;;
  esac
done

"$root/scripts/install-deps.sh"

linux="$builds/demo-linux"
cmake -S "$root" -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBA_BUILD_TESTS=OFF > /dev/null
cmake --build "$linux" --target orba-host orba-collector
if $windows; then
  win="$builds/demo-windows"
  cmake -S "$root" -B "$win" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBA_BUILD_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64-x86_64.cmake" > /dev/null
  cmake --build "$win" --target orba-host
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/orba-demo.XXXXXX")
collector_pid=
cleanup() {
  [ -n "$collector_pid" ] && kill "$collector_pid" 2>/dev/null && wait "$collector_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

view_option=
if $ui; then view_option="--ui-port 0"; fi
# shellcheck disable=SC2086 # the view's option is two words or none
"$linux/bin/orba-collector" --port 0 --dev-key demo-dev-key --ca-out "$work/ca.pem" --pretty \
  $view_option > "$work/collector.out" 2> "$work/collector.err" &
collector_pid=$!
port=
view=
for _ in $(seq 200); do
  port=$(sed -n '1s/^{"listening":\([0-9][0-9]*\)}$/\1/p' "$work/collector.out")
  view=$(sed -n '2s/^{"ui":"\(.*\)"}$/\1/p' "$work/collector.out")
  [ -n "$port" ] && { ! $ui || [ -n "$view" ]; } && break
  sleep 0.05
done
[ -n "$port" ] || { echo "the collector did not start:"; cat "$work/collector.err"; exit 1; }
echo "collector listening on https://localhost:$port (dev key demo-dev-key)"

ca="$work/ca.pem"
if $windows; then
  export WINEPREFIX="$win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wine wineboot --init > /dev/null 2>&1 || true
  # A Windows path, with forward slashes so that it needs no escaping inside JSON.
  ca=$(winepath -w "$ca" 2>/dev/null | tr '\\' '/')
fi
sed -e "s|@ENDPOINT@|https://localhost:$port|" -e "s|@CAFILE@|$ca|" \
  "$root/tools/orba-host/sample-session.txt" > "$work/session.txt"

echo
echo "--- the game's commands, and the library's log lines ---"
if $windows; then
  wine "$win/bin/orba-host.exe" --log "$work/session.txt" 2>&1 | tr -d '\r'
else
  XDG_STATE_HOME="$work/state" "$linux/bin/orba-host" --log "$work/session.txt" 2>&1
fi

echo
echo "--- what the collector received ---"
if ! $ui; then
  tail -n +2 "$work/collector.out"
  exit 0
fi
tail -n +3 "$work/collector.out"
echo
echo "integration view: $view  (the collector stays up: Enter or Ctrl-C ends the demo)"
# Without a terminal to read from, only Ctrl-C (or a signal) ends it.
read -r _ || wait "$collector_pid"
