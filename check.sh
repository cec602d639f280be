#!/bin/sh
# Builds every preset (x86_64 and i686 DLLs with their tests, native and fuzz
# builds of the pure components) and runs every test: the x86_64 tests under
# the system's Wine, the i686 ones under the 32-bit Wine that runs through qemu.
set -eu
cd "$(dirname "$0")"
started=$(date +%s)
mark=$started
times=""
lap() {  # records the seconds since the last lap under a name
  now=$(date +%s)
  times="$times
check.sh: $1 $((now - mark)) s"
  mark=$now
}
tools/install-deps.sh
lap install
for preset in win64 win32 native bench fuzz; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  lap "build-$preset"
done

trap 'for b in build/win64 build/win32; do WINEPREFIX="$PWD/$b/wineprefix" wineserver -k >/dev/null 2>&1 || true; done' EXIT
failed=""
faults=""
for preset in win64 win32; do
  log=build/$preset/wine-exit-faults.log
  rm -f "$log"
  # A subshell: each preset's Wine settings stay with its own run.
  (wine_build=build/$preset wine_arch=$preset . tools/wine-env.sh && ctest --preset "$preset") || failed="$failed $preset"
  if [ -s "$log" ]; then
    faults="$faults
$(sed "s/^/  $preset: /" "$log")"
  fi
  lap "test-$preset"
done
ctest --preset native || failed="$failed native"
lap test-native
ctest --preset fuzz || failed="$failed fuzz"
lap test-fuzz

printf '%s\n' "$times"
echo "check.sh: total $(( $(date +%s) - started )) s"
n=$(printf '%s' "$faults" | grep -c . || true)
echo "check.sh: $n Wine exit-path faults after complete passing runs (counted as passes)$faults"
# Tests stay at most 0.35 of the product's size: more fails the check.
size=$(tools/test-size.sh --max 0.35) || failed="$failed test-size"
printf '%s\n' "$size" | sed 's/^/check.sh: /'
if [ -n "$failed" ]; then
  echo "check.sh: tests failed:$failed"
  exit 1
fi
echo "check.sh: all builds and tests passed"
