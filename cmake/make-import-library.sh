#!/bin/sh
# Writes a module-definition file listing every name the built DLL exports, and from it an
# import library that MSVC's and LLVM's linkers read. Taken from the DLL itself after each
# link, so the import library cannot list a name the DLL lacks, or miss one it has.
# Usage: make-import-library.sh OBJDUMP DLLTOOL DLL DEF LIB
set -eu
objdump=$1 dlltool=$2 dll=$3 def=$4 lib=$5

names=$("$objdump" -p "$dll" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\] //p' | LC_ALL=C sort -u)
if [ -z "$names" ]; then
  echo "$dll exports nothing" >&2
  exit 1
fi
{
  echo "LIBRARY $(basename "$dll")"
  echo "EXPORTS"
  # Quoted: MSVC-decorated names carry '?' and '@', which a bare name may not.
  printf '%s\n' "$names" | sed 's/.*/    "&"/'
} > "$def.tmp"
mv "$def.tmp" "$def"
"$dlltool" -m i386:x86-64 -d "$def" -l "$lib"
