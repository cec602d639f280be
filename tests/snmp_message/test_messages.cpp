#include "tests/snmp_message/test_messages.h"

#include <cstdio>

namespace brisel::snmp::testing {

Message Notification(PduKind kind) {
  Message m;
  m.version = kind == PduKind::kTrapV1 ? 0 : 1;
  m.community = "public";
  m.kind = kind;
  if (kind == PduKind::kTrapV1) {
    m.enterprise = {1, 3, 6, 1, 4, 1, 9};
    m.agent_address = {10, 0, 0, 1};
    m.generic = 6;
    m.specific = 5;
    m.time_stamp = 12345;
    return m;
  }
  m.request_id = 4711;
  m.bindings = {{{1, 3, 6, 1, 2, 1, 1, 3, 0}, Of(Tag::kTimeTicks)}, {{1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0}, Of(Tag::kObjectId)}};
  m.bindings[0].value.number = 12345;
  m.bindings[1].value.oid = {1, 3, 6, 1, 4, 1, 9, 0, 5};
  return m;
}

std::vector<Message> ValidMessages() {
  std::vector<Value> values;
  auto add = [&values](Tag tag) -> Value& { return values.emplace_back(Of(tag)); };
  for (std::int64_t i : {0LL, -1LL, 127LL, 128LL, -128LL, -129LL, 2147483647LL, -2147483648LL}) add(Tag::kInteger).integer = i;
  for (Tag t : {Tag::kCounter32, Tag::kGauge32, Tag::kTimeTicks}) {
    for (std::uint64_t n : {0ULL, 127ULL, 128ULL, 2147483648ULL, 4294967295ULL}) add(t).number = n;
  }
  for (std::uint64_t n : {0ULL, 255ULL, 4294967296ULL, 9223372036854775808ULL, 18446744073709551615ULL}) add(Tag::kCounter64).number = n;
  add(Tag::kOctetString);  // empty
  add(Tag::kOctetString).octets = {'A', 'B', 0x0A, 'C', 0x00, 0xFF};
  add(Tag::kOctetString).octets.assign(300, 0xA5);  // a two-byte length
  add(Tag::kOpaque).octets = {0x01, 0x02};
  add(Tag::kIpAddress).octets = {192, 168, 1, 5};
  for (const Oid& oid : std::vector<Oid>{{0, 0}, {1, 3, 6, 1, 4, 1, 311}, {2, 999, 4294967295u}, {1, 39, 128, 16383, 16384}}) add(Tag::kObjectId).oid = oid;
  for (Tag t : {Tag::kNull, Tag::kNoSuchObject, Tag::kNoSuchInstance, Tag::kEndOfMibView}) add(t);
  std::vector<Message> out;
  for (PduKind kind : {PduKind::kTrapV1, PduKind::kTrapV2, PduKind::kInform}) {
    out.push_back(Notification(kind));
    Message all = Notification(kind);
    for (std::size_t i = 0; i < values.size(); ++i) {
      Message& one = out.emplace_back(Notification(kind));
      one.bindings.push_back({{1, 3, 6, 1, 4, 1, 9, 9, static_cast<std::uint32_t>(i)}, values[i]});
      all.bindings.push_back(one.bindings.back());
    }
    all.community = "a community of some length";
    if (kind != PduKind::kTrapV1) all.request_id = -2147483647 - 1;
    out.push_back(all);
  }
  return out;
}

Bytes Element(std::uint8_t tag, const Bytes& contents) {
  const std::size_t n = contents.size();
  const int bytes = n < 0x80 ? 0 : n < 0x100 ? 1 : n < 0x10000 ? 2 : 3;
  Bytes out{tag};
  if (bytes > 0) out.push_back(static_cast<std::uint8_t>(0x80 | bytes));
  for (int i = bytes > 0 ? bytes - 1 : 0; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
  out.insert(out.end(), contents.begin(), contents.end());
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Hex(const char* text) {
  Bytes b;
  unsigned x = 0;
  for (int n = 0; std::sscanf(text, " %2x%n", &x, &n) == 1; text += n) b.push_back(static_cast<std::uint8_t>(x));
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
  while (n-- > 0) out.insert(out.end(), b.begin(), b.end());
  return out;
}

}  // namespace

std::vector<Fault> Faults() {
  using enum DecodeError;
  using enum Peer;
  const Bytes pdu2 = Cat({kHeader2, Element(0x30, Cat({kUpTime, kTrapOid}))});
  const Bytes trap2 = Message2("02 01 01", 0xA7, pdu2);
  const Bytes binding = Hex("30 05 06 01 2B 05 00");
  return {
      // Lengths (every prefix of a valid message is truncated: see the unit test). BER allows the long
      // forms; net-snmp takes fields of up to sizeof(long) bytes, but no datagram needs more than 2, and
      // at most 4 keep the length arithmetic in 32 bits on every target.
      {"long length field of 4 bytes", WithValue("02 84 00 00 00 01 05"), kOk, kAccepts},
      {"long length field of 5 bytes", WithValue("02 85 00 00 00 00 01 05"), kBadLength, kAccepts},
      {"inner length past its parent", Cat({Element(0x30, Hex("02 05 01")), Hex("00 00 00 00")}), kTruncated, kRefuses},
      {"indefinite length", Hex("30 80 02 01 01 00 00"), kBadLength, kRefuses}, {"reserved length form", Hex("30 FF"), kBadLength, kRefuses},
      {"more than 65535 bytes", WithBinding(Hex("06 01 2B"), Element(0x04, Bytes(65535, 'x'))), kBadLength, kAccepts},  // no datagram is longer
      // NULL and the exceptions have no contents (X.690 8.8.2); net-snmp skips whatever is there.
      {"NULL with contents", WithValue("05 01 00"), kBadLength, kAccepts},
      // net-snmp ignores what follows the message or the binding list: a datagram is one message, more is forged.
      {"byte after the message", Cat({trap2, Hex("00")}), kTrailingBytes, kAccepts},
      {"element after the binding list", Message2("02 01 01", 0xA7, Cat({pdu2, Hex("05 00")})), kTrailingBytes, kAccepts},
      {"binding of three elements", WithBinding(Hex("06 01 2B"), Hex("05 00 05 00")), kTrailingBytes, kRefuses},
      // net-snmp goes on after a binding's value whatever the binding's length says.
      {"binding claiming a byte of the next", Trap2(Cat({Hex("30 0F"), Bytes(kUpTime.begin() + 2, kUpTime.end()), kTrapOid})), kTrailingBytes, kAccepts},
      // Integers of each type, at their width and one byte past it.
      {"INTEGER of 4 bytes", WithValue("02 04 80 00 00 00"), kOk, kAccepts},
      // net-snmp takes up to 8 bytes plus a leading zero into a C long and cuts it to 32 bits; INTEGER is 32 bits.
      {"INTEGER of 5 bytes", WithValue("02 05 00 00 00 00 01"), kBadInteger, kAccepts},
      {"INTEGER empty", WithValue("02 00"), kBadInteger, kRefuses},
      {"version of 5 bytes (2^32 + 1)", Message2("02 05 01 00 00 00 01", 0xA7, pdu2), kBadInteger, kAccepts},
      {"v1 generic of 5 bytes", V1(Hex("06 01 2B"), "40 04 01 02 03 04 02 05 01 00 00 00 00 02 01 01 43 01 00"), kBadInteger, kAccepts},
      {"Counter32 with the leading zero", WithValue("41 05 00 FF FF FF FF"), kOk, kAccepts},
      {"Counter32 read as the magnitude meant", WithValue("41 01 FF"), kOk, kAccepts},
      {"Gauge32 of 2^32", WithValue("42 05 01 00 00 00 00"), kBadInteger, kAccepts},  // net-snmp cuts it to 0
      {"v1 time stamp of 2^32", V1(Hex("06 01 2B"), "40 04 01 02 03 04 02 01 06 02 01 01 43 05 01 00 00 00 00"), kBadInteger, kAccepts},
      {"Counter64 with the leading zero", WithValue("46 09 00 FF FF FF FF FF FF FF FF"), kOk, kAccepts},
      {"Counter64 of 2^64", WithValue("46 09 01 00 00 00 00 00 00 00 00"), kBadInteger, kRefuses},
      {"Counter64 empty", WithValue("46 00"), kBadInteger, kAccepts},  // net-snmp reads 0
      // Object identifiers.
      {"OID of 128 arcs", WithName(Arcs(128)), kOk, kAccepts}, {"OID of 129 arcs", WithName(Arcs(129)), kBadOid, kRefuses},
      {"enterprise of 129 arcs", V1(Element(0x06, Arcs(129)), kV1Fields), kBadOid, kRefuses},
      {"arc of 2^32-1", WithName(Hex("2B 8F FF FF FF 7F")), kOk, kAccepts},
      {"arc of 2^32", WithName(Hex("2B 90 80 80 80 00")), kBadOid, kRefuses},
      {"first subidentifier of 2^32", WithName(Hex("90 80 80 80 00")), kBadOid, kRefuses},
      {"arc cut short", WithName(Hex("2B 06 81")), kBadOid, kRefuses},
      // X.690: at least one subidentifier, no leading 0x80; net-snmp reads .0.0 and the padded arc.
      {"OID empty", WithName({}), kBadOid, kAccepts}, {"arc padded with 0x80", WithName(Hex("2B 80 01")), kBadOid, kAccepts},
      // An IpAddress is 4 bytes (RFC 1155); net-snmp pads a short agent address with zeros nobody sent.
      {"IpAddress of 3 bytes", WithValue("40 03 01 02 03"), kBadAddress, kRefuses},
      {"IpAddress of 5 bytes", WithValue("40 05 01 02 03 04 05"), kBadAddress, kRefuses},
      {"agent address of 3 bytes", V1(Hex("06 01 2B"), "40 03 01 02 03 02 01 06 02 01 01 43 01 00"), kBadAddress, kAccepts},
      {"agent address of 5 bytes", V1(Hex("06 01 2B"), "40 05 01 02 03 04 05 02 01 06 02 01 01 43 01 00"), kBadAddress, kRefuses},
      // Tags. net-snmp also takes some neither SNMPv1 nor SNMPv2 has.
      {"UInteger32 of the SNMPv2 drafts", WithValue("47 01 05"), kUnexpectedTag, kCannotCompare},
      {"high tag number", WithValue("1F 01 01 00"), kUnexpectedTag, kRefuses},
      {"message not a SEQUENCE", Element(0x31, Bytes(trap2.begin() + 2, trap2.end())), kUnexpectedTag, kRefuses},
      {"community not an OCTET STRING", Element(0x30, Cat({Hex("02 01 01 02 01 00"), Element(0xA7, pdu2)})), kUnexpectedTag, kRefuses},
      {"binding list holding a NULL", Trap2(Hex("05 00")), kUnexpectedTag, kRefuses},
      {"context tag A9 for a PDU", Message2("02 01 01", 0xA9, pdu2), kUnexpectedTag, kRefuses},
      {"SEQUENCE as a value", WithValue("30 03 02 01 00"), kTooDeep, kRefuses},
      {"constructed OCTET STRING", WithValue("24 03 04 01 41"), kTooDeep, kRefuses},
      {"constructed community", Element(0x30, Cat({Hex("02 01 01"), Element(0x24, Hex("04 01 70")), Element(0xA7, pdu2)})), kTooDeep, kRefuses},
      // Versions and PDUs.
      {"SNMPv2c trap", trap2, kOk, kAccepts}, {"SNMPv2c inform", Message2("02 01 01", 0xA6, pdu2), kOk, kAccepts},
      {"version 2 (SNMPv2u)", Message2("02 01 02", 0xA7, pdu2), kUnsupportedVersion, kRefuses},
      {"version -1", Message2("02 01 FF", 0xA7, pdu2), kUnsupportedVersion, kRefuses},
      // net-snmp parses any PDU in any version; SNMPv1 has no v2 PDUs, SNMPv2c no Trap-PDU (RFC 1157, 3416).
      {"SNMPv1 with a v2 trap", Message2("02 01 00", 0xA7, pdu2), kUnsupportedPdu, kAccepts},
      {"SNMPv2c with a v1 trap", Message2("02 01 01", 0xA4, Cat({Hex("06 01 2B"), Hex(kV1Fields), Element(0x30, kUpTime)})), kUnsupportedPdu, kAccepts},
      {"GetRequest", Message2("02 01 01", 0xA0, pdu2), kUnsupportedPdu, kCannotCompare},
      // The bound keeps a datagram's work and memory small; net-snmp has none.
      {"1024 bindings", Trap2(Repeat(binding, kMaxBindings)), kOk, kAccepts},
      {"1025 bindings", Trap2(Repeat(binding, kMaxBindings + 1)), kTooManyBindings, kAccepts},
  };
}

}  // namespace brisel::snmp::testing
