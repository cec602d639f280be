#!/bin/sh
# Verdicts of cmake/run-wine-test.sh for what a Wine run can look like, with a
# stand-in for wine-run.sh that plays each case.
# usage: wine_runner_test.sh <run-wine-test.sh>
runner=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/fake-wine-run.sh" <<'EOF'
#!/bin/sh
ran='[==========] 3 tests from 1 test suite ran. (5 ms total)'
case $FAKE in
  silent) exit 0 ;;                                   # 32-bit program, 64-bit-only Wine
  pass) printf '%s\r\n[  PASSED  ] 3 tests.\r\n' "$ran"; exit 0 ;;
  skip) printf '%s\n[  PASSED  ] 2 tests.\n[  SKIPPED ] 1 test, listed below:\n' "$ran"; exit 0 ;;
  fail) printf '%s\n[  PASSED  ] 2 tests.\n[  FAILED  ] 1 test, listed below:\n' "$ran"; exit 1 ;;
  crash) printf '[ RUN      ] A.B\n'; exit 139 ;;
  ldso) printf '%s\n[  PASSED  ] 3 tests.\n' "$ran"
        echo "Inconsistency detected by ld.so: dl-fini.c: 87: _dl_fini: Assertion failed!" >&2; exit 127 ;;
  signal) printf '%s\n[  PASSED  ] 3 tests.\n' "$ran"; exit 134 ;;
  exitcode) printf '%s\n[  PASSED  ] 3 tests.\n' "$ran"; exit 5 ;;  # the program's own exit code
  script) printf 'ok 1\r\nALL TESTS PASSED\r\n'; exit 0 ;;
  script-error) printf 'ok 1\n'; exit 0 ;;          # cscript on an unhandled error
  script-lines) printf 'worker: cannot open key\nALL TESTS PASSED\n'; exit 0 ;;
esac
EOF
chmod +x "$work/fake-wine-run.sh"

failures=0
# case | kind | expected exit | expected fault-log lines | required output line
while IFS='|' read -r fake kind want faults line; do
  rm -f "$work/faults.log"
  if [ -n "$line" ]; then
    FAKE=$fake "$runner" "$kind" "$work/fake-wine-run.sh" "$work/faults.log" x.exe "$line" >"$work/out" 2>&1
  else
    FAKE=$fake "$runner" "$kind" "$work/fake-wine-run.sh" "$work/faults.log" x.exe >"$work/out" 2>&1
  fi
  rc=$?
  got=$( [ -f "$work/faults.log" ] && wc -l <"$work/faults.log" || echo 0)
  if [ "$rc" -ne "$want" ] || [ "$got" -ne "$faults" ]; then
    echo "FAIL $fake ($kind): exit $rc (want $want), fault log lines $got (want $faults)"
    sed 's/^/  | /' "$work/out"
    failures=$((failures + 1))
  fi
done <<'EOF'
silent|gtest|1|0|
pass|gtest|0|0|
skip|gtest|0|0|
fail|gtest|1|0|
crash|gtest|1|0|
ldso|gtest|0|1|
signal|gtest|0|1|
exitcode|gtest|1|0|
script|script|0|0|
script-error|script|1|0|
script-lines|script|0|0|worker: cannot open key
script|script|1|0|worker: cannot open key
EOF
[ $failures -eq 0 ] && echo "wine runner: all verdicts as expected"
exit $failures
