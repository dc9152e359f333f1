#!/bin/sh
# Builds the release archive of a build tree, unpacks it into a scratch prefix and uses it as a
# game would: checks what the archive holds, then builds consumer programs through find_package
# and runs them against the unpacked library, never the build tree's.
# Usage: check-package.sh linux|windows BUILD_DIR SOURCE_DIR VERSION
set -eu
kind=$1 build=$2 source=$3 version=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/orba-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
consumer_src="$source/tests/package"

fail() { echo "FAIL: $*"; exit 1; }
need() { for f in "$@"; do [ -e "$prefix/$f" ] || fail "the archive lacks $f"; done; }
# Runs "$@", keeping its output in $work/out and $work/err; shows both when it fails.
run() {
  "$@" > "$work/out" 2> "$work/err" || { cat "$work/out" "$work/err"; fail "$* exited with $?"; }
}

run cpack --config "$build/CPackConfig.cmake" -B "$work/dist"
case $kind in linux) ext=tar.gz ;; windows) ext=zip ;; *) fail "unknown kind $kind" ;; esac
archive=$(ls "$work"/dist/OrbaTracker-"$version"-*."$ext")
(cd "$work" && cmake -E tar xf "$archive")
prefix="$work/$(basename "$archive" ".$ext")"
echo "unpacked $(basename "$archive") ($(du -k "$archive" | cut -f1) KiB)"

need include/orba/Plugin.h include/orba/Logger.h \
  lib/cmake/OrbaTracker/OrbaTrackerConfig.cmake lib/cmake/OrbaTracker/OrbaTrackerConfigVersion.cmake \
  lib/cmake/OrbaTracker/OrbaTrackerTargets.cmake \
  share/doc/OrbaTracker/README.md share/doc/OrbaTracker/docs/README.md \
  share/doc/OrbaTracker/docs/commands.md share/doc/OrbaTracker/docs/c-interface.md \
  share/doc/OrbaTracker/LICENSES/nlohmann-json.txt share/doc/OrbaTracker/examples/sample-session.txt
# Every relative link of the installed docs leads to a file of the package.
for page in "$prefix"/share/doc/OrbaTracker/*.md "$prefix"/share/doc/OrbaTracker/docs/*.md; do
  for target in $(grep -o '](\([^)#]*\)' "$page" | sed 's/^](//' | grep -v -e '^[a-z]*:' -e '^$'); do
    [ -e "$(dirname "$page")/$target" ] || fail "$(basename "$page") links to $target, which the package lacks"
  done
done
# Nothing of the build tree may leak into the package's description.
if grep -q -e "$source" -e "$build" "$prefix"/lib/cmake/OrbaTracker/*.cmake; then
  fail "the CMake package names the build machine's folders"
fi

# The debug link names the file beside the library, and the library itself carries no DWARF.
check_split_debug() {
  library=$1 objdump=$2
  need "$library.debug"
  "$objdump" -h "$prefix/$library" > "$work/sections"
  grep -q '\.gnu_debuglink' "$work/sections" || fail "$library has no debug link"
  if grep -q '\.debug_info' "$work/sections"; then fail "$library still carries its debug information"; fi
  "$objdump" -h "$prefix/$library.debug" | grep -q '\.debug_info' || fail "$library.debug holds no debug information"
}

if [ "$kind" = linux ]; then
  real=lib/libOrbaTracker.so.$version
  need "$real" lib/libOrbaTracker.so.0 lib/libOrbaTracker.so bin/orba-host bin/orba-collector
  readelf -d "$prefix/$real" | grep -q 'SONAME.*\[libOrbaTracker\.so\.0\]' || fail "$real has no SONAME libOrbaTracker.so.0"
  check_split_debug "$real" objdump
  export HOME="$work/home" XDG_STATE_HOME="$work/state"

  # A program built by clang++ against libc++, while the library uses libstdc++.
  run cmake -S "$consumer_src" -B "$work/consumer" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS=-stdlib=libc++ \
    -DCMAKE_EXE_LINKER_FLAGS=-stdlib=libc++ -DCMAKE_PREFIX_PATH="$prefix"
  run cmake --build "$work/consumer"
  consumer="$work/consumer/orba_consumer"
  readelf -d "$consumer" | grep -q 'NEEDED.*\[libc++\.so' || fail "the consumer was not linked against libc++"
  run "$consumer"
  grep -q 'not valid JSON' "$work/err" || { cat "$work/err"; fail "the consumer's malformed command was not logged"; }
  grep -q 'commands delivered' "$work/out" || fail "the consumer did not finish"

  # Of the library's symbols, the consumer may import C ones only: its C++ calls go through the
  # C interface.
  nm -D --defined-only "$prefix/$real" | awk '{print $3}' | LC_ALL=C sort -u > "$work/defined"
  nm -D --undefined-only "$consumer" | awk '{print $2}' | sed 's/@.*//' | LC_ALL=C sort -u > "$work/used"
  imported=$(LC_ALL=C comm -12 "$work/defined" "$work/used")
  [ -n "$imported" ] || fail "the consumer imports nothing of the library"
  cxx=$(printf '%s\n' "$imported" | grep '^_Z' || true)
  [ -z "$cxx" ] || fail "the consumer imports C++ symbols of the library: $cxx"
  echo "clang++/libc++ consumer imports: $(echo $imported)"

  run python3 "$consumer_src/ctypes_consumer.py" "$prefix/lib/libOrbaTracker.so.0"
  grep -q 'not valid JSON' "$work/err" || { cat "$work/err"; fail "the ctypes consumer's command was not logged"; }
  echo "ctypes consumer ran"

  # The sample host finds the library of its installed tree.
  printf '%s\n' '{"event":' > "$work/one-command.txt"
  run "$prefix/bin/orba-host" --log "$work/one-command.txt"
  grep -q 'not valid JSON' "$work/err" || { cat "$work/err"; fail "the installed sample host did not reach the library"; }
  echo "installed sample host ran"
else
  need bin/OrbaTracker.dll lib/libOrbaTracker.dll.a lib/OrbaTracker.lib bin/orba-host.exe \
    share/doc/OrbaTracker/LICENSES/gcc-runtime-library-exception.txt \
    share/doc/OrbaTracker/LICENSES/mingw-w64-runtime.txt
  size=$(wc -c < "$prefix/bin/OrbaTracker.dll")
  [ "$size" -le 3145728 ] || fail "bin/OrbaTracker.dll is $size bytes, more than 3 MiB"
  echo "bin/OrbaTracker.dll: $size bytes"
  check_split_debug bin/OrbaTracker.dll x86_64-w64-mingw32-objdump
  strings -el "$prefix/bin/OrbaTracker.dll" | grep -q -x "$version" || fail "the DLL's version resource lacks $version"

  # The same C++ program built by mingw through find_package; the runtimes linked in as a game
  # would, so that only the DLL has to sit beside it.
  run cmake -S "$consumer_src" -B "$work/consumer" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$source/cmake/toolchain-mingw-w64-x86_64.cmake" \
    -DCMAKE_EXE_LINKER_FLAGS=-static -DOrbaTracker_DIR="$prefix/lib/cmake/OrbaTracker"
  run cmake --build "$work/consumer"
  cp "$prefix/bin/OrbaTracker.dll" "$work/consumer/"
  run "$source/cmake/wine-run.sh" "$work/consumer/orba_consumer.exe"
  grep -q 'commands delivered' "$work/out" || fail "the mingw consumer did not finish"
  echo "mingw consumer ran"

  # A C program of the MSVC ABI, linked by lld-link against the MSVC-style import library.
  mkdir "$work/msvc"
  run clang --target=x86_64-pc-windows-msvc -ffreestanding -fno-stack-protector -O1 -c \
    "$consumer_src/msvc_consumer.c" -o "$work/msvc/msvc_consumer.obj"
  run lld-link /nologo /nodefaultlib /entry:mainCRTStartup /subsystem:console \
    /out:"$work/msvc/msvc_consumer.exe" "$work/msvc/msvc_consumer.obj" \
    "$prefix/lib/OrbaTracker.lib" /usr/x86_64-w64-mingw32/lib/libkernel32.a
  cp "$prefix/bin/OrbaTracker.dll" "$work/msvc/"
  run "$source/cmake/wine-run.sh" "$work/msvc/msvc_consumer.exe"
  grep -q 'commands delivered' "$work/out" || fail "the MSVC-ABI consumer did not finish"
  echo "MSVC-ABI consumer ran"
fi
echo "package checks passed"
