#!/bin/sh
# Runs the delivery benchmark: starts the collector (with a throwaway CA and dev key) and a proxy
# that delays each direction by 5 ms, then times SendEvent against a bare keep-alive client on
# loopback and through the proxy.
# Usage: bench/run-delivery.sh [BUILD_DIR] [SAMPLES]   (default build/linux, 300 samples)
# ORBA_BENCH_STATE_PARENT: the folder under which the run's state folder is made (default /tmp).
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build/linux}
samples=${2:-300}
bin=$build/bin
for program in orba-collector orba_delay_proxy orba_bench_delivery; do
  [ -x "$bin/$program" ] || { echo "run-delivery.sh: no $bin/$program; build first" >&2; exit 2; }
done
export ORBA_BENCH_BIN="$bin" ORBA_BENCH_SAMPLES="$samples"
exec "$here/../tests/scripts/with-collector.sh" "$bin/orba-collector" -- sh -c '
  port=${ORBA_TEST_COLLECTOR_URL##*:}
  out=$(mktemp) || exit 1
  "$ORBA_BENCH_BIN/orba_delay_proxy" --target "$port" --delay-ms 5 > "$out" &
  proxy=$!
  trap "kill $proxy 2>/dev/null; wait $proxy 2>/dev/null; rm -f \"$out\"" EXIT
  listening=
  tries=0
  while [ -z "$listening" ] && [ "$tries" -lt 200 ]; do
    listening=$(sed -n "1s/^{\"listening\":\([0-9][0-9]*\)}\$/\1/p" "$out")
    [ -n "$listening" ] || { tries=$((tries + 1)); sleep 0.05; }
  done
  [ -n "$listening" ] || { echo "run-delivery.sh: the proxy did not start" >&2; exit 1; }
  ORBA_BENCH_DELAYED_URL="https://localhost:$listening" "$ORBA_BENCH_BIN/orba_bench_delivery" "$ORBA_BENCH_SAMPLES"
'
