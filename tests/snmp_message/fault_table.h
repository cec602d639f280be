// Hand-made datagrams, one place and one kind of damage at a time (and the
// valid neighbours of each bound), with what our decoder and net-snmp's make
// of them. The unit test checks ours everywhere, the differential test
// net-snmp's natively; where the two differ, the row says why.
#pragma once

#include <vector>

#include "tests/snmp_message/test_messages.h"

namespace brisel::snmp::testing {

enum class Peer {
  kRefuses,
  kAccepts,          // with the same fields when ours accepts too
  kCannotCompare,    // reads a PDU or value type a Message has no room for
};

struct Fault {
  const char* name;
  Bytes datagram;
  DecodeError ours;
  Peer peer;
};

std::vector<Fault> Faults();

// Bytes from hex text ("30 03 02 01 01").
Bytes Hex(const char* text);

}  // namespace brisel::snmp::testing
