#!/bin/sh
# Checks that a host built over the C interface takes nothing from the library but its C names.
# Usage: check-c-abi-imports.sh HOST_EXECUTABLE LIBRARY
set -eu
host=$1 library=$2
provided=$(mktemp) used=$(mktemp)
trap 'rm -f "$provided" "$used"' EXIT
nm -D --defined-only "$library" | awk '{print $3}' | sed 's/@.*//' | LC_ALL=C sort -u > "$provided"
nm -D --undefined-only "$host" | awk '{print $2}' | sed 's/@.*//' | LC_ALL=C sort -u > "$used"
from_library=$(LC_ALL=C comm -12 "$provided" "$used")
bad=$(printf '%s\n' "$from_library" | grep -v -E '^(orba_[a-z0-9_]+|createOrbaPluginInterface)$' || true)
if [ -n "$bad" ]; then
  echo "takes C++ symbols of the library:"; echo "$bad"; exit 1
fi
if ! printf '%s\n' "$from_library" | grep -q '^orba_'; then
  echo "takes no C name from the library: is it linked against it?"; exit 1
fi
echo "takes $(printf '%s\n' "$from_library" | wc -l) C names from the library, nothing else"
