#!/bin/sh
# shellcheck disable=SC2086
# The traps snmp_events_test.vbs expects, once the receiver listens on 127.0.0.1:$1 (no MIB files).
to=127.0.0.1:$1
opts="-M /dev/null -m :"
timeout 20 sh -c "until grep -q ':$(printf '%04X' "$1") ' /proc/net/udp; do sleep 0.1; done"
ent=1.3.6.1.4.1.99
all="$ent.1 i -5 $ent.2 u 4294967295 $ent.3 c 7 $ent.4 t 360000 $ent.5 a 192.0.2.1 $ent.6 o 1.3.6.1.4.1.9
     $ent.7 s hello_world $ent.8 x 41007FA9FF8081 $ent.9 n x"
snmptrap $opts -v 1 -c public "$to" 1.3.6.1.4.1.8072.2.3 10.1.2.3 6 17 4711 $all
snmptrap $opts -v 1 -c nobody "$to" 1.3.6.1.4.1.8072.2.3 10.1.2.3 6 50 1   # refused community
snmptrap $opts -v 2c -c public "$to" 12345 1.3.6.1.4.1.9.0.3 $all $ent.10 C 18446744073709551615
snmptrap $opts -v 2c -c public "$to" 1 1.3.6.1.4.1.9.0.99   # the script's filter takes it out
snmpinform $opts -v 2c -c ops -r 0 -t 10 "$to" 777 1.3.6.1.6.3.1.1.5.4 1.3.6.1.6.3.18.1.3.0 a 192.0.2.7
snmptrap $opts -v 2c -c public "$to" 2 1.3.6.1.4.1.9.0.100 $ent.100 s "inform exit $?"
