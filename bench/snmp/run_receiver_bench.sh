#!/bin/sh
# The receiver benchmark (receiver_bench.cpp) and the same burst of 10,000
# traps fed to net-snmp's snmptrapd logging to a file: traps logged per
# second from the start of the burst to the last line, and traps lost.
# usage: bench/snmp/run_receiver_bench.sh [build dir, default build/win64]
set -eu
build=$(cd "${1:-build/win64}" && pwd)
bench=$build/tests/win/snmp/bench/snmp_receiver_bench.exe
work=$(mktemp -d)
trap 'kill "$daemon" 2>/dev/null || true; rm -rf "$work"' EXIT
echo "machine: $(nproc) CPUs, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1); $(WINEDEBUG=-all wine --version 2>/dev/null)"

"$build/wine-run.sh" "$bench"

port=$((20000 + $$ % 20000))
printf 'disableAuthorization yes\n' >"$work/snmptrapd.conf"
snmptrapd -f -n -On -M /dev/null -m : -C -c "$work/snmptrapd.conf" -Lf "$work/traps.log" \
  -F 'trap %B %v\n' "udp:127.0.0.1:$port" &
daemon=$!
hex=$(printf '%04X' "$port")
until grep -q ":$hex " /proc/net/udp; do sleep 0.1; done
: >"$work/traps.log"
start=$("$build/wine-run.sh" "$bench" "$port" | tee /dev/stderr | sed -n 's/^daemon burst start \([0-9.]*\),.*/\1/p')
# Done when the log stops growing for two seconds.
count=0 last=$(date +%s.%N) same=0
while [ $same -lt 40 ]; do
  n=$(grep -c '^trap ' "$work/traps.log" || true)
  if [ "$n" != "$count" ]; then count=$n last=$(date +%s.%N) same=0; else same=$((same + 1)); fi
  sleep 0.05
done
awk -v n="$count" -v s="$start" -v e="$last" \
  'BEGIN { printf "snmptrapd: %d of 10000 logged in %.3f s from the first send: %.0f traps/s; lost %d\n", n, e - s, n / (e - s), 10000 - n }'
