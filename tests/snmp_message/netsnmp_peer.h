// net-snmp's own message parser as a peer of the decoder (host build only).
#pragma once

#include <string>

#include "tests/snmp_message/test_messages.h"

namespace brisel::snmp::peer {

// kIncomparable: net-snmp read a PDU other than a notification, or a value type a
// Message has no room for (the float, double, ... it unpacks from Opaque); *why says which.
enum class Verdict { kRefused, kAccepted, kIncomparable };

// Parses one datagram with snmp_parse and converts what it read into a Message.
Verdict Decode(const testing::Bytes& datagram, Message* out, std::string* why);

}  // namespace brisel::snmp::peer
