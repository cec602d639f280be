// Messages shared by the tests and the fuzz seeds: a notification of each
// kind, and a value of every type the decoder takes.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "snmp/message/snmp_message.h"

namespace brisel::snmp::testing {

Value Of(Tag tag);

using Bytes = std::vector<std::uint8_t>;

// sysUpTime.0 = 12345 and snmpTrapOID.0 = 1.3.6.1.4.1.9.0.5 for v2 kinds.
Message Notification(PduKind kind);
// Values of every type, with the edges of each range.
std::vector<Value> EveryValue();
// Each kind with each value, and each kind with all of them.
std::vector<Message> ValidMessages();

// One BER element: tag, minimal length, contents.
Bytes Element(std::uint8_t tag, const Bytes& contents);
// A minimal definite length field.
Bytes Length(std::size_t n);
Bytes Cat(std::initializer_list<Bytes> parts);

}  // namespace brisel::snmp::testing

namespace brisel::snmp {
// Readable test failures.
void PrintTo(const Message& m, std::ostream* os);
}  // namespace brisel::snmp
