#!/bin/sh
# Runs one test under Wine and judges it by what the test itself reports as
# well as by the exit code: a 32-bit program under a 64-bit-only Wine exits 0
# without running, and cscript exits 0 on an unhandled script error.
#
# A complete passing run whose Wine process then dies in Wine's own exit path
# (ld.so's dl-fini assertion, a lost wineserver connection, a signal) is a
# pass, but it is printed and appended to the fault log, never hidden or
# retried. Any other non-zero exit after a passing run is a failure.
#
# usage: run-wine-test.sh gtest  <wine-run.sh> <fault log> <program>
#        run-wine-test.sh script <wine-run.sh> <fault log> <script> [line the output must hold]...
kind=$1 wine_run=$2 fault_log=$3 target=$4
shift 4
case $kind in
  gtest | script) ;;
  *) echo "run-wine-test.sh: unknown kind $kind"; exit 2 ;;
esac
out=$(mktemp)
trap 'rm -f "$out" "$out.rc"' EXIT
# Passed on as it comes, so that a run killed at its time limit still shows it.
{
  if [ "$kind" = gtest ]; then
    "$wine_run" "$target" 2>&1
  else
    "$wine_run" cscript //nologo "$target" 2>&1
  fi
  echo $? >"$out.rc"
} | tee "$out"
rc=$(cat "$out.rc")
text=$(tr -d '\r' <"$out")

count() {  # the number in the last summary line that matches $1
  printf '%s\n' "$text" | sed -n "s/$1/\\1/p" | tail -n 1
}
complete=no
if [ "$kind" = gtest ]; then
  ran=$(count '^\[==========\] \([0-9][0-9]*\) tests\{0,1\} from .* ran\..*')
  passed=$(count '^\[  PASSED  \] \([0-9][0-9]*\) tests\{0,1\}\.$')
  skipped=$(count '^\[  SKIPPED \] \([0-9][0-9]*\) tests\{0,1\}, listed below:$')
  failed=$(count '^\[  FAILED  \] \([0-9][0-9]*\) tests\{0,1\}, listed below:$')
  if [ -n "$ran" ] && [ -n "$passed" ] && [ -z "$failed" ] && [ $((passed + ${skipped:-0})) -eq "$ran" ]; then
    complete=yes
    what="$passed of $ran tests passed${skipped:+, $skipped skipped}"
  fi
else
  if printf '%s\n' "$text" | grep -qx "ALL TESTS PASSED"; then
    complete=yes
    what="ALL TESTS PASSED"
  fi
  for line in "$@"; do
    if ! printf '%s\n' "$text" | grep -qxF -- "$line"; then
      echo "FAILED: missing output line: $line"
      exit 1
    fi
  done
fi

if [ $complete = no ]; then
  if [ $rc -eq 0 ]; then
    echo "FAILED: exit code 0 but no complete passing summary (did the program run at all?)"
  else
    echo "FAILED: exit code $rc"
  fi
  exit 1
fi
[ $rc -eq 0 ] && exit 0
if [ $rc -gt 128 ] || printf '%s\n' "$text" | grep -q -e 'Inconsistency detected by ld\.so' -e '^wine client error'; then
  line="$(basename "$target"): exit code $rc after a complete passing run ($what)"
  echo "WINE EXIT-PATH FAULT: $line"
  printf '%s\n' "$line" >>"$fault_log"
  exit 0
fi
echo "FAILED: exit code $rc after a passing run, and no sign of a fault in Wine's exit path"
exit 1
