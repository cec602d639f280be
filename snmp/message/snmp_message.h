// SNMP trap messages on the wire: BER decoding of SNMPv1 Trap-PDUs and
// SNMPv2c SNMPv2-Trap / InformRequest PDUs, the encoding of the Response to
// an InformRequest (and of any message, for tests), and the mapping of v2
// notifications to the v1 trap fields. A pure component: no Windows header,
// built natively too, so that it can be fuzzed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brisel::snmp {

using Oid = std::vector<std::uint32_t>;

// Tags of the values a variable binding can carry.
enum class Tag : std::uint8_t {
  kInteger = 0x02,
  kOctetString = 0x04,
  kNull = 0x05,
  kObjectId = 0x06,
  kIpAddress = 0x40,
  kCounter32 = 0x41,
  kGauge32 = 0x42,  // also Unsigned32
  kTimeTicks = 0x43,
  kOpaque = 0x44,
  kCounter64 = 0x46,
  kNoSuchObject = 0x80,
  kNoSuchInstance = 0x81,
  kEndOfMibView = 0x82,
};

struct Value {
  Tag tag = Tag::kNull;
  std::int64_t integer = 0;        // kInteger (32-bit range)
  std::uint64_t number = 0;        // kCounter32, kGauge32, kTimeTicks (32-bit range), kCounter64
  std::vector<std::uint8_t> octets;  // kOctetString, kIpAddress (4 bytes), kOpaque
  Oid oid;                           // kObjectId
  bool operator==(const Value&) const = default;
};

struct VarBind {
  Oid name;
  Value value;
  bool operator==(const VarBind&) const = default;
};

enum class PduKind : std::uint8_t {
  kTrapV1 = 0xA4,
  kTrapV2 = 0xA7,
  kInform = 0xA6,
  kResponse = 0xA2,  // encoded only
};

struct Message {
  int version = 0;  // 0: SNMPv1, 1: SNMPv2c
  std::string community;  // octets as sent
  PduKind kind = PduKind::kTrapV1;
  // SNMPv1 Trap-PDU
  Oid enterprise;
  std::array<std::uint8_t, 4> agent_address{};
  std::int32_t generic = 0;
  std::int32_t specific = 0;
  std::uint32_t time_stamp = 0;
  // SNMPv2 PDUs
  std::int32_t request_id = 0;
  std::int32_t error_status = 0;
  std::int32_t error_index = 0;
  std::vector<VarBind> bindings;
  bool operator==(const Message&) const = default;
};

// Why a datagram was refused; kOk when it decoded.
enum class DecodeError {
  kOk,
  kTruncated,         // a length runs past the datagram (or past its enclosing element), or the datagram ends inside a header
  kBadLength,         // indefinite, non-minimal beyond what BER allows here, or longer than 4 bytes;
                      // also contents where the type has none (NULL, the exceptions), and a datagram
                      // over kMaxMessageBytes
  kTrailingBytes,     // bytes after the message, or inside a sequence after its last element
  kUnexpectedTag,     // a tag that is not the one this place of the message takes
  kBadInteger,        // empty, or longer than its type
  kBadOid,            // empty, more than 128 arcs, an arc above 2^32-1, or a non-minimal arc
  kBadAddress,        // an IpAddress that is not 4 bytes
  kUnsupportedVersion,
  kUnsupportedPdu,    // a PDU that is not a trap or an inform (or a v1 message with a v2 PDU)
  kTooDeep,           // nesting deeper than a trap message needs: a constructed element where a primitive one belongs
  kTooManyBindings,   // more bindings than kMaxBindings
};
const char* DecodeErrorText(DecodeError e);

constexpr std::size_t kMaxMessageBytes = 65535;
constexpr std::size_t kMaxOidArcs = 128;
constexpr std::size_t kMaxBindings = 1024;

// Decodes one datagram. Never reads outside [data, data + size); *out is
// written only when the result is kOk. Allocates (and may throw
// std::bad_alloc) in proportion to size only.
DecodeError Decode(const std::uint8_t* data, std::size_t size, Message* out);

// BER encoding of a whole message (definite minimal lengths). The fields are
// written as given, so a message Decode would refuse (an INTEGER out of
// range, an IpAddress of 3 bytes) can be made for tests.
std::vector<std::uint8_t> Encode(const Message& message);
// The Response PDU an InformRequest asks for: same version, community,
// request id and bindings, error status and index 0.
std::vector<std::uint8_t> EncodeResponse(const Message& inform);

// The v1 view of a notification (RFC 3584, section 3.2, for v2 PDUs; the
// fields as sent for a v1 Trap-PDU). sender: the UDP source address (IPv4
// as 4 bytes; an IPv6 sender gives 0.0.0.0 unless snmpTrapAddress.0 says).
struct V1Fields {
  Oid enterprise;
  std::array<std::uint8_t, 4> agent_address{};
  std::int32_t generic = 0;
  std::int32_t specific = 0;
  std::uint32_t time_stamp = 0;
  std::vector<VarBind> bindings;  // without sysUpTime.0 and snmpTrapOID.0 for v2
};
// sysUpTime.0 counts only as TimeTicks, snmpTrapOID.0 and
// snmpTrapEnterprise.0 only as OBJECT IDENTIFIER, snmpTrapAddress.0 only as
// IpAddress; the first of each counts. Without snmpTrapOID.0: generic 6,
// specific 0, no enterprise. Every binding named sysUpTime.0 or
// snmpTrapOID.0 is left out.
V1Fields ToV1(const Message& message, const std::array<std::uint8_t, 4>& sender);

}  // namespace brisel::snmp
