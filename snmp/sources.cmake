# SNMP trap monitoring: SnmpEvents and its items.
set(BRISEL_SNMP_SOURCES
  snmp/snmp_api.cpp
  snmp/varbind.cpp
  snmp/trap_filter.cpp
  snmp/trap_source.cpp
  snmp/snmp_objects.cpp
  snmp/udp_trap_source.cpp
  snmp/testing.cpp)
# mgmtapi.dll is loaded at run time (mingw has no import library for it).
target_link_libraries(brisel_core PUBLIC snmpapi)
# The built-in trap receiver reads a Winsock socket.
target_link_libraries(brisel_core PUBLIC ws2_32)
