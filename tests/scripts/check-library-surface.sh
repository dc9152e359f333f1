#!/bin/sh
# Checks that the built library exports exactly the expected names and, for the Windows DLL,
# imports only DLLs that Windows itself ships.
# Usage: check-library-surface.sh linux|windows LIBRARY EXPECTED_EXPORTS_FILE
set -eu
kind=$1 library=$2 expected=$3
actual=$(mktemp)
trap 'rm -f "$actual"' EXIT

case $kind in
linux)
  nm -D --defined-only "$library" | awk '{print $3}' | grep -v '^$' | LC_ALL=C sort -u > "$actual"
  ;;
windows)
  dump=$(x86_64-w64-mingw32-objdump -p "$library")
  # Export table rows look like "[   3] +base[   4]  0003 name".
  printf '%s\n' "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\] //p' | LC_ALL=C sort -u > "$actual"
  imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  allowed='^(kernel32|user32|advapi32|ole32|oleaut32|shell32|ws2_32|iphlpapi|version|winhttp|bcrypt|crypt32|rpcrt4|combase|msvcrt|ntdll|api-ms-win-[a-z0-9-]+)\.dll$'
  bad=$(printf '%s\n' "$imports" | grep -v -E "$allowed" || true)
  if [ -n "$bad" ]; then
    echo "imports DLLs that Windows does not ship:"; echo "$bad"; exit 1
  fi
  echo "imports: $(echo $imports)"
  ;;
*) echo "unknown kind $kind"; exit 2 ;;
esac

if ! diff -u "$expected" "$actual"; then
  echo "export list differs from $expected"; exit 1
fi
echo "exports match $expected ($(wc -l < "$actual") names)"
