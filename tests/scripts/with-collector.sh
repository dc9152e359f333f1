#!/bin/sh
# Runs a command while a local collector serves on a free port, and tells the command where it
# is through ORBA_TEST_COLLECTOR_URL, ORBA_TEST_CA_FILE, ORBA_TEST_RECORD_FILE,
# ORBA_TEST_COUNTERS_FILE, ORBA_TEST_DEV_KEY and ORBA_TEST_COLLECTOR_OPTIONS (the extra options).
# Exits with the command's status.
# Usage: with-collector.sh COLLECTOR_EXECUTABLE [COLLECTOR_OPTION...] -- COMMAND [ARGS...]
# (extra collector options are single words, such as --intermediate)
set -u
usage() {
  echo "usage: $0 COLLECTOR_EXECUTABLE [COLLECTOR_OPTION...] -- COMMAND [ARGS...]" >&2
  exit 2
}
[ $# -ge 3 ] || usage
collector=$1; shift
collector_options=
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  collector_options="$collector_options $1"; shift
done
[ $# -ge 2 ] || usage
shift

dir=$(mktemp -d "${TMPDIR:-/tmp}/orba-collector.XXXXXX") || exit 1
dev_key="orba-e2e-dev-key"
# shellcheck disable=SC2086 # the extra options are meant to split into words
"$collector" --port 0 --dev-key "$dev_key" --ca-out "$dir/ca.pem" --record "$dir/record.jsonl" \
  --counters "$dir/counters.json" $collector_options > "$dir/collector.out" 2> "$dir/collector.err" &
pid=$!

stop_collector() {
  if kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  fi
}
trap 'stop_collector; rm -rf "$dir"' EXIT
trap 'exit 130' INT TERM

# The collector prints {"listening":PORT} once it accepts connections.
port=
tries=0
while [ -z "$port" ]; do
  port=$(sed -n '1s/^{"listening":\([0-9][0-9]*\)}$/\1/p' "$dir/collector.out" 2>/dev/null)
  [ -n "$port" ] && break
  if ! kill -0 "$pid" 2>/dev/null || [ "$tries" -ge 200 ]; then
    echo "with-collector.sh: the collector did not start" >&2
    cat "$dir/collector.err" >&2
    exit 1
  fi
  tries=$((tries + 1))
  sleep 0.05
done

export ORBA_TEST_COLLECTOR_URL="https://localhost:$port"
export ORBA_TEST_CA_FILE="$dir/ca.pem"
export ORBA_TEST_RECORD_FILE="$dir/record.jsonl"
export ORBA_TEST_COUNTERS_FILE="$dir/counters.json"
export ORBA_TEST_DEV_KEY="$dev_key"
export ORBA_TEST_COLLECTOR_OPTIONS="${collector_options# }"

"$@"
rc=$?
if [ "$rc" -ne 0 ]; then
  echo "with-collector.sh: the command failed ($rc); the collector saw (lines cut at 300 characters):" >&2
  cut -c1-300 "$dir/collector.out" "$dir/collector.err" >&2
fi
exit "$rc"
