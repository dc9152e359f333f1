#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need; only missing ones.
set -eu

packages="cmake ninja-build g++ make pkg-config git ca-certificates openssl
nlohmann-json3-dev libcurl4-openssl-dev libssl-dev libgtest-dev libgmock-dev googletest
libbenchmark-dev libcpp-httplib-dev
clang-14 libclang-rt-14-dev
g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
wine wine64 xvfb xauth
clang lld llvm libc++-14-dev libc++abi-14-dev python3 curl"
# The collector's integration view is tested in a real browser, on Linux.
if [ "$(uname -s)" = Linux ]; then packages="$packages chromium"; fi

missing=""
for package in $packages; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  case $status in
    *"install ok installed"*) ;;
    *) missing="$missing $package" ;;
  esac
done

if [ -n "$missing" ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages:$missing (run as root to install them)" >&2
    exit 1
  fi
  echo "installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  # shellcheck disable=SC2086
  apt-get install -y -q --no-install-recommends $missing
fi
