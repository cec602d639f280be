// net-snmp's own message parser as a peer of the decoder (host build only).
#pragma once

#include "snmp/message/snmp_message.h"

namespace brisel::snmp::peer {

enum class Verdict { kRefuses, kAccepts, kCannotCompare /* a PDU or value type a Message has no room for */ };

// Parses one datagram with snmp_parse and converts what it read into *out.
Verdict Decode(const std::uint8_t* data, std::size_t size, Message* out);

}  // namespace brisel::snmp::peer
