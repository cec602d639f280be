#!/bin/sh
# Runs one test script under cscript. cscript exits 0 without a word on an
# unhandled script error, so a pass needs both exit code 0 and the script's
# own final success line.
# usage: run-script-test.sh <wine-run.sh> <script>
out=$("$1" cscript //nologo "$2" 2>&1)
rc=$?
printf '%s\n' "$out"
if [ $rc -ne 0 ]; then
  echo "FAILED: cscript exit code $rc"
  exit 1
fi
if ! printf '%s\n' "$out" | tr -d '\r' | grep -qx "ALL TESTS PASSED"; then
  echo "FAILED: no success line"
  exit 1
fi
