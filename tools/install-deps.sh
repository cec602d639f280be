#!/bin/sh
# Installs whatever the build and the tests need and is not there yet
# (Debian 12, as root).
set -eu
packages="cmake ninja-build g++ g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
  wine wine64 libwine-dev googletest clang libclang-rt-14-dev libpcre2-dev libexpat1-dev wine64-tools
  libz-mingw-w64 snmp snmptrapd libsnmp-dev"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing
fi
# The i686 DLL's tests and demo run under a 32-bit Wine of their own.
"$(dirname "$0")/wine32-root.sh"
