#!/bin/sh
# Writes a module-definition file listing every name the built DLL exports, and from it an
# import library that MSVC's and LLVM's linkers read. Taken from the DLL itself after each
# link, so the import library cannot list a name the DLL lacks, or miss one it has.
# Usage: make-import-library.sh OBJDUMP DLLTOOL DLL DEF LIB
set -eu
objdump=$1 dlltool=$2 dll=$3 def=$4 lib=$5

dump=$("$objdump" -p "$dll")
image_base=$(printf '%s\n' "$dump" | sed -n 's/^ImageBase[[:space:]]*\([0-9a-fA-F]*\)$/\1/p')
# Code sections as "first-RVA end-RVA", from the section headers' VMA, size and flags.
code=$("$objdump" -h "$dll" | awk '/^ *[0-9]+ /{ size = $3; vma = $4; next } /CODE/{ print vma, size }' |
  while read -r vma size; do
    start=$((0x$vma - 0x$image_base))
    echo "$start $((start + 0x$size))"
  done)
# Export Address Table rows: "[   3] +base[   4] 1b50 Export RVA"; name rows: "[   3] name".
addresses=$(printf '%s\n' "$dump" | sed -n '/^Export Address Table -- /,/^$/p' |
  sed -n 's/^[[:space:]]*\[[[:space:]]*\([0-9]*\)\] +base\[[[:space:]]*[0-9]*\] \([0-9a-fA-F]*\) Export RVA$/\1 \2/p')
names=$(printf '%s\n' "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[[[:space:]]*\([0-9]*\)\] \(.*\)$/\1 \2/p')
if [ -z "$names" ] || [ -z "$code" ]; then
  echo "cannot read the exports of $dll" >&2
  exit 1
fi

{
  echo "LIBRARY $(basename "$dll")"
  echo "EXPORTS"
  printf '%s\n' "$names" | while read -r index name; do
    rva=$(printf '%s\n' "$addresses" | awk -v i="$index" '$1 == i { print $2 }')
    [ -n "$rva" ] || { echo "no address for export $name" >&2; exit 1; }
    kind=" DATA"
    while read -r start end; do
      if [ $((0x$rva)) -ge "$start" ] && [ $((0x$rva)) -lt "$end" ]; then kind=""; fi
    done <<CODE
$code
CODE
    # Quoted: MSVC-decorated names carry '?' and '@', which a bare name may not.
    echo "    \"$name\"$kind"
  done
} > "$def.tmp"
mv "$def.tmp" "$def"
"$dlltool" -m i386:x86-64 -d "$def" -l "$lib"
