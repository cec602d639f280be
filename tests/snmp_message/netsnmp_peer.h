// net-snmp's own message parser as a peer of the decoder (host build only).
#pragma once

#include <string>

#include "tests/snmp_message/test_messages.h"

namespace brisel::snmp::peer {

// Parses one datagram with snmp_parse and converts what it read into a Message; *why says
// what it could not compare (a PDU other than a notification, a value type such as the
// float net-snmp unpacks from Opaque).
testing::Peer Decode(const testing::Bytes& datagram, Message* out, std::string* why);

}  // namespace brisel::snmp::peer
