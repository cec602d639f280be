// net-snmp's own message parser as a peer of the decoder, for the
// differential test and the fuzz target (host build only).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "snmp/message/snmp_message.h"

namespace brisel::snmp::peer {

enum class Verdict {
  kRefused,
  kAccepted,
  // net-snmp read something a Message has no room for: a PDU other than a
  // notification, or one of the special Opaque types (float, double, ...) it
  // unpacks from Opaque contents; what it is goes to *why.
  kIncomparable,
};

// Parses one datagram with net-snmp (snmp_parse) and converts what it read
// into a Message.
Verdict Decode(const std::vector<std::uint8_t>& datagram, Message* out, std::string* why);

// Decodes with both; empty when they agree (both refuse, or both accept with
// equal fields, or net-snmp's reading cannot be compared), else a
// description of the difference.
std::string Compare(const std::vector<std::uint8_t>& datagram);

}  // namespace brisel::snmp::peer
