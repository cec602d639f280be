#include "tests/snmp_message/fault_table.h"

#include <cstdio>

namespace brisel::snmp::testing {

Bytes Hex(const char* text) {
  Bytes b;
  unsigned x = 0;
  int n = 0;
  while (std::sscanf(text, " %2x%n", &x, &n) == 1) {
    b.push_back(static_cast<std::uint8_t>(x));
    text += n;
  }
  return b;
}

namespace {

const Bytes kUpTime = Element(0x30, Hex("06 08 2B 06 01 02 01 01 03 00 43 02 30 39"));
const Bytes kTrapOid = Element(0x30, Hex("06 0A 2B 06 01 06 03 01 01 04 01 00 06 08 2B 06 01 04 01 09 00 05"));
const Bytes kHeader2 = Hex("02 01 01 02 01 00 02 01 00");  // request id, error status, error index

Bytes Message2(const char* version, std::uint8_t pdu_tag, const Bytes& pdu) {
  return Element(0x30, Cat({Hex(version), Hex("04 06 70 75 62 6C 69 63"), Element(pdu_tag, pdu)}));
}
Bytes Trap2(const Bytes& list) { return Message2("02 01 01", 0xA7, Cat({kHeader2, Element(0x30, list)})); }
// A v2c trap whose third binding is name and value as given.
Bytes WithBinding(const Bytes& name, const Bytes& value) {
  return Trap2(Cat({kUpTime, kTrapOid, Element(0x30, Cat({name, value}))}));
}
Bytes WithValue(const char* value) { return WithBinding(Hex("06 03 2B 06 01"), Hex(value)); }
Bytes WithName(const Bytes& oid) { return WithBinding(Element(0x06, oid), Hex("05 00")); }
// A v1 trap: enterprise, then the fields from the agent address to the time stamp.
Bytes V1(const Bytes& enterprise, const char* fields) {
  return Message2("02 01 00", 0xA4, Cat({enterprise, Hex(fields), Element(0x30, kUpTime)}));
}
constexpr const char* kV1Fields = "40 04 01 02 03 04 02 01 06 02 01 01 43 01 00";
Bytes Arcs(std::size_t n) {  // 1.3, then 1s
  Bytes b(n - 1, 0x01);
  b[0] = 0x2B;
  return b;
}
Bytes Repeat(const Bytes& b, std::size_t n) {
  Bytes out;
  for (std::size_t i = 0; i < n; ++i) out.insert(out.end(), b.begin(), b.end());
  return out;
}

}  // namespace

std::vector<Fault> Faults() {
  using E = DecodeError;
  const Bytes pdu2 = Cat({kHeader2, Element(0x30, Cat({kUpTime, kTrapOid}))});
  const Bytes trap2 = Message2("02 01 01", 0xA7, pdu2);
  const Bytes binding = Hex("30 05 06 01 2B 05 00");
  return {
      // Lengths and truncation.
      {"nothing", {}, E::kTruncated, Peer::kRefuses},
      {"tag only", Hex("30"), E::kTruncated, Peer::kRefuses},
      {"length past the datagram", Hex("30 05 02 01 01"), E::kTruncated, Peer::kRefuses},
      {"length bytes missing", Hex("30 82 01"), E::kTruncated, Peer::kRefuses},
      {"inner length past its parent", Cat({Element(0x30, Hex("02 05 01")), Hex("00 00 00 00")}), E::kTruncated, Peer::kRefuses},
      {"indefinite length", Hex("30 80 02 01 01 00 00"), E::kBadLength, Peer::kRefuses},
      {"reserved length form", Hex("30 FF"), E::kBadLength, Peer::kRefuses},
      // A datagram holds at most 65535 bytes anyway; net-snmp has no bound.
      {"more than 65535 bytes", WithBinding(Hex("06 01 2B"), Element(0x04, Bytes(65535, 'x'))), E::kBadLength, Peer::kAccepts},
      // NULL and the exceptions have no contents (X.690 8.8.2); net-snmp
      // skips whatever is there.
      {"NULL with contents", WithValue("05 01 00"), E::kBadLength, Peer::kAccepts},
      {"noSuchObject with contents", WithValue("80 01 00"), E::kBadLength, Peer::kAccepts},
      // net-snmp reads the first message of a datagram and ignores what
      // follows, and stops reading a PDU after its binding list; a datagram
      // is one message, so more means a broken or forged sender.
      {"byte after the message", Cat({trap2, Hex("00")}), E::kTrailingBytes, Peer::kAccepts},
      {"element after the binding list", Message2("02 01 01", 0xA7, Cat({pdu2, Hex("05 00")})), E::kTrailingBytes, Peer::kAccepts},
      {"binding of three elements", WithBinding(Hex("06 01 2B"), Hex("05 00 05 00")), E::kTrailingBytes, Peer::kRefuses},
      // Integers of each type, at their width and one byte past it.
      {"INTEGER of 4 bytes", WithValue("02 04 80 00 00 00"), E::kOk, Peer::kAccepts},
      {"INTEGER padded to 2 bytes", WithValue("02 02 00 01"), E::kOk, Peer::kAccepts},
      // net-snmp holds an INTEGER in a C long (64 bits here) and takes up to
      // 8 bytes plus a leading zero, cutting what does not fit to 32 bits
      // with a log line; INTEGER is 32 bits, so 5 bytes are never one.
      {"INTEGER of 5 bytes", WithValue("02 05 00 00 00 00 01"), E::kBadInteger, Peer::kAccepts},
      {"INTEGER of 10 bytes", WithValue("02 0A 00 00 00 00 00 00 00 00 00 01"), E::kBadInteger, Peer::kRefuses},
      {"INTEGER empty", WithValue("02 00"), E::kBadInteger, Peer::kRefuses},
      {"request id of 5 bytes", Message2("02 01 01", 0xA7, Cat({Hex("02 05 01 00 00 00 00 02 01 00 02 01 00"), Element(0x30, kUpTime)})), E::kBadInteger, Peer::kAccepts},
      {"version of 5 bytes (2^32 + 1)", Message2("02 05 01 00 00 00 01", 0xA7, pdu2), E::kBadInteger, Peer::kAccepts},
      {"v1 generic of 5 bytes", V1(Hex("06 01 2B"), "40 04 01 02 03 04 02 05 01 00 00 00 00 02 01 01 43 01 00"), E::kBadInteger, Peer::kAccepts},
      {"Counter32 with the leading zero", WithValue("41 05 00 FF FF FF FF"), E::kOk, Peer::kAccepts},
      {"Counter32 without it", WithValue("41 04 FF FF FF FF"), E::kOk, Peer::kAccepts},
      {"Counter32 read as the magnitude meant", WithValue("41 01 FF"), E::kOk, Peer::kAccepts},
      // The same C long for the unsigned types: 2^32 is cut to 0.
      {"Counter32 of 2^32", WithValue("41 05 01 00 00 00 00"), E::kBadInteger, Peer::kAccepts},
      {"Gauge32 of 2^32", WithValue("42 05 01 00 00 00 00"), E::kBadInteger, Peer::kAccepts},
      {"TimeTicks of 6 bytes", WithValue("43 06 00 00 00 00 00 01"), E::kBadInteger, Peer::kAccepts},
      {"v1 time stamp of 2^32", V1(Hex("06 01 2B"), "40 04 01 02 03 04 02 01 06 02 01 01 43 05 01 00 00 00 00"), E::kBadInteger, Peer::kAccepts},
      {"Counter32 empty", WithValue("41 00"), E::kBadInteger, Peer::kRefuses},
      {"Counter64 with the leading zero", WithValue("46 09 00 FF FF FF FF FF FF FF FF"), E::kOk, Peer::kAccepts},
      {"Counter64 of 2^64", WithValue("46 09 01 00 00 00 00 00 00 00 00"), E::kBadInteger, Peer::kRefuses},
      // net-snmp reads no contents as 0; BER has no empty integer.
      {"Counter64 empty", WithValue("46 00"), E::kBadInteger, Peer::kAccepts},
      // Object identifiers.
      {"OID of 128 arcs", WithName(Arcs(128)), E::kOk, Peer::kAccepts},
      {"OID of 129 arcs", WithName(Arcs(129)), E::kBadOid, Peer::kRefuses},
      {"OID value of 129 arcs", WithBinding(Hex("06 01 2B"), Element(0x06, Arcs(129))), E::kBadOid, Peer::kRefuses},
      {"enterprise of 129 arcs", V1(Element(0x06, Arcs(129)), kV1Fields), E::kBadOid, Peer::kRefuses},
      {"arc of 2^32-1", WithName(Hex("2B 8F FF FF FF 7F")), E::kOk, Peer::kAccepts},
      {"arc of 2^32", WithName(Hex("2B 90 80 80 80 00")), E::kBadOid, Peer::kRefuses},
      {"first subidentifier of 2^32", WithName(Hex("90 80 80 80 00")), E::kBadOid, Peer::kRefuses},
      {"arc cut short", WithName(Hex("2B 06 81")), E::kBadOid, Peer::kRefuses},
      // X.690 gives an identifier at least one subidentifier and each arc
      // one encoding (no leading 0x80); net-snmp reads .0.0 and the padded arc.
      {"OID empty", WithName({}), E::kBadOid, Peer::kAccepts},
      {"arc padded with 0x80", WithName(Hex("2B 80 01")), E::kBadOid, Peer::kAccepts},
      // Addresses: an IpAddress is 4 bytes (RFC 1155). net-snmp fills a short
      // agent address up with zeros, an address nobody sent.
      {"IpAddress of 3 bytes", WithValue("40 03 01 02 03"), E::kBadAddress, Peer::kRefuses},
      {"IpAddress of 5 bytes", WithValue("40 05 01 02 03 04 05"), E::kBadAddress, Peer::kRefuses},
      {"agent address of 3 bytes", V1(Hex("06 01 2B"), "40 03 01 02 03 02 01 06 02 01 01 43 01 00"), E::kBadAddress, Peer::kAccepts},
      {"agent address of 5 bytes", V1(Hex("06 01 2B"), "40 05 01 02 03 04 05 02 01 06 02 01 01 43 01 00"), E::kBadAddress, Peer::kRefuses},
      // Tags. net-snmp also takes three that neither SNMPv1 (RFC 1155) nor
      // SNMPv2 (RFC 3416) has: UInteger32 and NsapAddress of the withdrawn
      // SNMPv2 drafts, and BIT STRING (BITS travel as OCTET STRING).
      {"UInteger32 of the SNMPv2 drafts", WithValue("47 01 05"), E::kUnexpectedTag, Peer::kCannotCompare},
      {"NsapAddress", WithValue("45 01 05"), E::kUnexpectedTag, Peer::kCannotCompare},
      {"BIT STRING", WithValue("03 01 00"), E::kUnexpectedTag, Peer::kCannotCompare},
      {"BOOLEAN", WithValue("01 01 00"), E::kUnexpectedTag, Peer::kRefuses},
      {"high tag number", WithValue("1F 01 01 00"), E::kUnexpectedTag, Peer::kRefuses},
      {"message not a SEQUENCE", Element(0x31, Bytes(trap2.begin() + 2, trap2.end())), E::kUnexpectedTag, Peer::kRefuses},
      {"community not an OCTET STRING", Element(0x30, Cat({Hex("02 01 01 02 01 00"), Element(0xA7, pdu2)})), E::kUnexpectedTag, Peer::kRefuses},
      {"binding list holding a NULL", Trap2(Hex("05 00")), E::kUnexpectedTag, Peer::kRefuses},
      {"context tag A9 for a PDU", Message2("02 01 01", 0xA9, pdu2), E::kUnexpectedTag, Peer::kRefuses},
      {"SEQUENCE as a value", WithValue("30 03 02 01 00"), E::kTooDeep, Peer::kRefuses},
      {"constructed OCTET STRING", WithValue("24 03 04 01 41"), E::kTooDeep, Peer::kRefuses},
      {"constructed community", Element(0x30, Cat({Hex("02 01 01"), Element(0x24, Hex("04 01 70")), Element(0xA7, pdu2)})), E::kTooDeep, Peer::kRefuses},
      // Versions and PDUs.
      {"SNMPv2c trap", trap2, E::kOk, Peer::kAccepts},
      {"SNMPv2c inform", Message2("02 01 01", 0xA6, pdu2), E::kOk, Peer::kAccepts},
      {"version 2 (SNMPv2u)", Message2("02 01 02", 0xA7, pdu2), E::kUnsupportedVersion, Peer::kRefuses},
      {"version 3", Message2("02 01 03", 0xA7, pdu2), E::kUnsupportedVersion, Peer::kRefuses},
      {"version -1", Message2("02 01 FF", 0xA7, pdu2), E::kUnsupportedVersion, Peer::kRefuses},
      // net-snmp parses any PDU in any version; SNMPv1 has no v2 PDUs and
      // SNMPv2c no Trap-PDU (RFC 1157, RFC 3416), so a sender mixing them is
      // broken, and mapping its fields would be guesswork.
      {"SNMPv1 with a v2 trap", Message2("02 01 00", 0xA7, pdu2), E::kUnsupportedPdu, Peer::kAccepts},
      {"SNMPv1 with an inform", Message2("02 01 00", 0xA6, pdu2), E::kUnsupportedPdu, Peer::kAccepts},
      {"SNMPv2c with a v1 trap", Message2("02 01 01", 0xA4, Cat({Hex("06 01 2B"), Hex(kV1Fields), Element(0x30, kUpTime)})), E::kUnsupportedPdu, Peer::kAccepts},
      {"GetRequest", Message2("02 01 01", 0xA0, pdu2), E::kUnsupportedPdu, Peer::kCannotCompare},
      {"Response", Message2("02 01 01", 0xA2, pdu2), E::kUnsupportedPdu, Peer::kCannotCompare},
      {"Report", Message2("02 01 01", 0xA8, pdu2), E::kUnsupportedPdu, Peer::kCannotCompare},
      // The binding bound keeps a datagram's work and memory small; net-snmp
      // has none.
      {"1024 bindings", Trap2(Repeat(binding, kMaxBindings)), E::kOk, Peer::kAccepts},
      {"1025 bindings", Trap2(Repeat(binding, kMaxBindings + 1)), E::kTooManyBindings, Peer::kAccepts},
  };
}

}  // namespace brisel::snmp::testing
