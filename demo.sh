#!/bin/sh
# Builds the DLL for both targets, installs each in a Wine prefix of its own
# (registration and the trace keys, as the installer does) and runs the sample
# monitoring scripts against it: the x86_64 build first, then the i686 build
# that users install, under the 32-bit Wine.
set -eu
cd "$(dirname "$0")"
tools/install-deps.sh
for preset in win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target brisel ntevents_sample
done
trap 'for a in win64 win32; do WINEPREFIX="$PWD/build/demo/$a/wineprefix" wineserver -k >/dev/null 2>&1 || true; done' EXIT
top=$PWD
for arch in win64 win32; do
  mkdir -p "build/demo/$arch"
  wine_build=build/demo/$arch wine_arch=$arch . tools/wine-env.sh
  (cd "build/$arch" && "$wine" regsvr32 /s brisel.dll)
  "$wine" regedit /s "Z:$top/tools/trace-keys.reg"
  echo "== registered build/$arch/brisel.dll ($arch prefix)"
  (
    cd scripts
    for s in processes.vbs processes.js mofcompile.vbs snmp_events.vbs ntevent_filter.vbs ntfiles.vbs ntevents.vbs; do
      echo "== $s ($arch)"
      "$wine" cscript //nologo "$s"
    done
  )
  # Under Wine the real event log stays empty; this program (built with the
  # tests) shows NtEvents on a simulated log with real message modules.
  echo "== NtEvents on a simulated event log ($arch)"
  "$wine" "build/$arch/tests/win/eventlog/ntevents_sample.exe"
  wineserver -k >/dev/null 2>&1 || true
done
