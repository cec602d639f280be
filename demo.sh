#!/bin/sh
# Builds the DLL for both targets, registers the x86_64 one in a Wine prefix
# and runs the sample monitoring scripts against it.
set -eu
cd "$(dirname "$0")"
tools/install-deps.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target brisel
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target brisel ntevents_sample
mkdir -p build/demo
wine_build=build/demo . tools/wine-env.sh
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
(cd build/win64 && wine regsvr32 /s brisel.dll)
echo "registered build/win64/brisel.dll (i686 build: build/win32/brisel.dll)"
cd scripts
for s in processes.vbs processes.js mofcompile.vbs snmp_events.vbs ntevent_filter.vbs ntfiles.vbs ntevents.vbs; do
  echo "== $s"
  wine cscript //nologo "$s"
done
# Under Wine the real event log stays empty; this program (built with the
# tests) shows NtEvents on a simulated log with real message modules.
echo "== NtEvents on a simulated event log"
wine ../build/win64/tests/win/eventlog/ntevents_sample.exe
