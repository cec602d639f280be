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
  # A real trap: the built-in receiver enabled in this prefix, net-snmp's
  # snmptrap sending to it, the sample printing what arrived.
  echo "== snmp_receiver.vbs: a trap sent by snmptrap ($arch)"
  key='HKLM\SOFTWARE\Talvane\Vigilor\4.0\Talvanemc\SnmpTrapReceiver'
  "$wine" reg add "$key" /v Port /t REG_DWORD /d 16162 /f >/dev/null
  "$wine" reg add "$key" /v Communities /t REG_MULTI_SZ /d public /f >/dev/null
  (cd scripts && "$wine" cscript //nologo snmp_receiver.vbs) &
  listener=$!
  for _ in $(seq 300); do grep -q ':3F22 ' /proc/net/udp && break; sleep 0.1; done
  snmptrap -M /dev/null -m : -v 2c -c public 127.0.0.1:16162 4242 1.3.6.1.4.1.8072.2.3.0.1 \
    1.3.6.1.2.1.1.5.0 s demo-host 1.3.6.1.2.1.2.2.1.10.1 C 123456789012
  wait "$listener" || true
  "$wine" reg delete "$key" /f >/dev/null
  wineserver -k >/dev/null 2>&1 || true
done
