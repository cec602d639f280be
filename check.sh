#!/bin/sh
# Builds every preset (x86_64 and i686 DLLs, native and fuzz builds of the
# pure components) and runs every test.
set -eu
cd "$(dirname "$0")"
tools/install-deps.sh
for preset in win64 win32 native fuzz; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
wine_build=build/win64 . tools/wine-env.sh
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
ctest --preset win64
ctest --preset native
ctest --preset fuzz
echo "check.sh: all builds and tests passed"
