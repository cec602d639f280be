// Messages shared by the unit, differential and fuzz tests: valid notifications with a
// value of every type, and hand-made faults with what our decoder and net-snmp's make of them.
#pragma once

#include <cstdint>
#include <vector>

#include "snmp/message/snmp_message.h"

namespace brisel::snmp::testing {

using Bytes = std::vector<std::uint8_t>;

inline Value Of(Tag tag) {
  Value v;
  v.tag = tag;
  return v;
}

// sysUpTime.0 = 12345 and snmpTrapOID.0 = 1.3.6.1.4.1.9.0.5 for v2 kinds.
Message Notification(PduKind kind);
// Each kind alone, with one value of each type and range edge, and with all of them.
std::vector<Message> ValidMessages();

// One BER element with a minimal length field; bytes from hex text ("30 03 02 01 01").
Bytes Element(std::uint8_t tag, const Bytes& contents);
Bytes Cat(std::initializer_list<Bytes> parts);
Bytes Hex(const char* text);

enum class Peer { kRefuses, kAccepts, kCannotCompare /* a PDU or value type a Message has no room for */ };

// One place and one kind of damage at a time, and the valid neighbours of each bound.
struct Fault {
  const char* name;
  Bytes datagram;
  DecodeError ours;
  Peer peer;
};
std::vector<Fault> Faults();

}  // namespace brisel::snmp::testing
