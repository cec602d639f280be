// Decoder, encoder and v1 view, on every target (i686: 32-bit lengths); net-snmp is the fuzz target's oracle.
#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

#include "snmp/message/snmp_message.h"

// Designated initializers leave the fields they do not name at their defaults, as meant.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace brisel::snmp {
namespace {

using Bytes = std::vector<std::uint8_t>;

// sysUpTime.0 = 12345 and snmpTrapOID.0 = 1.3.6.1.4.1.9.0.5 for v2 kinds.
Message Notification(PduKind kind) {
  if (kind == PduKind::kTrapV1) {
    return {.community = "public", .kind = kind, .enterprise = {1, 3, 6, 1, 4, 1, 9}, .agent_address = {10, 0, 0, 1},
            .generic = 6, .specific = 5, .time_stamp = 12345};
  }
  return {.version = 1, .community = "public", .kind = kind, .request_id = 4711,
          .bindings = {{{1, 3, 6, 1, 2, 1, 1, 3, 0}, {.tag = Tag::kTimeTicks, .number = 12345}},
                       {{1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0}, {.tag = Tag::kObjectId, .oid = {1, 3, 6, 1, 4, 1, 9, 0, 5}}}}};
}

// Bytes joined, one BER element with a minimal length field, bytes from hex text ("30 03 02 01 01").
Bytes Cat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Element(std::uint8_t tag, const Bytes& contents) {
  Bytes length;  // from 0x80 on: 0x80 | the number of length bytes, then those bytes
  for (std::size_t n = contents.size(); n != 0 || length.empty(); n >>= 8) length.insert(length.begin(), static_cast<std::uint8_t>(n));
  if (contents.size() >= 0x80) length.insert(length.begin(), static_cast<std::uint8_t>(0x80 | length.size()));
  return Cat({{tag}, length, contents});
}

Bytes Hex(const char* text) {
  Bytes b;
  unsigned x = 0;
  for (int n = 0; std::sscanf(text, " %2x%n", &x, &n) == 1; text += n) b.push_back(static_cast<std::uint8_t>(x));
  return b;
}

// Written out by hand, not by our encoder.
const Bytes kV2Trap = Hex(
    "30 40 02 01 01 04 06 70 75 62 6C 69 63 A7 33 02 01 4D 02 01 00 02 01 00 30 28"
    " 30 0E 06 08 2B 06 01 02 01 01 03 00 43 02 30 39"
    " 30 16 06 0A 2B 06 01 06 03 01 01 04 01 00 06 08 2B 06 01 04 01 09 00 05");

TEST(SnmpMessage, NotificationsDecodeAndEncodeMinimally) {
  Message v2 = Notification(PduKind::kTrapV2), m;
  v2.request_id = 77;
  ASSERT_EQ(Decode(kV2Trap.data(), kV2Trap.size(), &m), DecodeError::kOk);
  EXPECT_EQ(m, v2);
  EXPECT_EQ(Encode(m), kV2Trap);
  // The response to an inform: same request id and bindings, errors 0 whatever the inform said.
  Bytes response = kV2Trap;
  response[13] = 0xA2;
  v2.kind = PduKind::kInform;
  v2.error_status = 5;
  v2.error_index = 2;
  EXPECT_EQ(EncodeResponse(v2), response);
  // A value of each type and range edge, in every kind: what is encoded decodes back, and every prefix is truncated.
  std::vector<Value> values;
  auto add = [&values](Tag tag) -> Value& { return values.emplace_back(Value{.tag = tag}); };
  for (std::int64_t i : {0LL, -1LL, 127LL, 128LL, -128LL, -129LL, 2147483647LL, -2147483648LL}) add(Tag::kInteger).integer = i;
  for (Tag t : {Tag::kCounter32, Tag::kGauge32, Tag::kTimeTicks}) {
    for (std::uint64_t n : {0ULL, 127ULL, 128ULL, 2147483648ULL, 4294967295ULL}) add(t).number = n;
  }
  for (std::uint64_t n : {0ULL, 255ULL, 4294967296ULL, 9223372036854775808ULL, 18446744073709551615ULL}) add(Tag::kCounter64).number = n;
  for (const Bytes& octets : {Bytes{}, Bytes{'A', 'B', 0x0A, 'C', 0x00, 0xFF}, Bytes(300, 0xA5)}) add(Tag::kOctetString).octets = octets;
  add(Tag::kOpaque).octets = {0x01, 0x02};
  add(Tag::kIpAddress).octets = {192, 168, 1, 5};
  for (const Oid& oid : std::vector<Oid>{{0, 0}, {1, 3, 6, 1, 4, 1, 311}, {2, 999, 4294967295u}, {1, 39, 128, 16383, 16384}}) add(Tag::kObjectId).oid = oid;
  for (Tag t : {Tag::kNull, Tag::kNoSuchObject, Tag::kNoSuchInstance, Tag::kEndOfMibView}) add(t);
  for (PduKind kind : {PduKind::kTrapV1, PduKind::kTrapV2, PduKind::kInform}) {
    Message all = Notification(kind);
    for (std::uint32_t i = 0; i < values.size(); ++i) all.bindings.push_back({{1, 3, 6, 1, 4, 1, 9, 9, i}, values[i]});
    all.community = "a community of some length";
    if (kind != PduKind::kTrapV1) all.request_id = -2147483647 - 1;
    for (const Message& valid : {Notification(kind), all}) {
      const Bytes b = Encode(valid);
      Message back;
      ASSERT_EQ(Decode(b.data(), b.size(), &back), DecodeError::kOk);
      EXPECT_EQ(back, valid);
      for (std::size_t n = 0; n < b.size(); ++n) ASSERT_EQ(Decode(b.data(), n, &back), DecodeError::kTruncated) << n << " of " << b.size();
    }
  }
}

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
// A v1 trap's contents: enterprise 1.3, the agent address as given, generic 6, specific 1, time 0, sysUpTime.0.
Bytes V1Pdu(const char* agent) { return Cat({Hex("06 01 2B"), Hex(agent), Hex("02 01 06 02 01 01 43 01 00"), Element(0x30, kUpTime)}); }

// One damage at a time, one row per check of the decoder, with the valid neighbour of each bound.
TEST(SnmpMessage, EachFaultRefusedWithItsReason) {
  using enum DecodeError;
  const Bytes pdu2 = Cat({kHeader2, Element(0x30, Cat({kUpTime, kTrapOid}))});
  const Bytes trap2 = Message2("02 01 01", 0xA7, pdu2);
  const struct { const char* name; Bytes datagram; DecodeError error; } rows[] = {
      // Lengths (prefixes: see above); at most 4 length bytes keep the arithmetic in 32 bits.
      {"length field of 4 bytes", WithValue("02 84 00 00 00 01 05"), kOk}, {"length field of 5 bytes", WithValue("02 85 00 00 00 00 01 05"), kBadLength},
      {"inner length past its parent", Cat({Element(0x30, Hex("02 05 01")), Hex("00 00 00 00")}), kTruncated},
      {"indefinite length", Hex("30 80 02 01 01 00 00"), kBadLength}, {"NULL with contents", WithValue("05 01 00"), kBadLength},
      {"more than 65535 bytes", WithBinding(Hex("06 01 2B"), Element(0x04, Bytes(65535, 'x'))), kBadLength},
      {"byte after the message", Cat({trap2, Hex("00")}), kTrailingBytes},
      {"element after the binding list", Message2("02 01 01", 0xA7, Cat({pdu2, Hex("05 00")})), kTrailingBytes},
      {"binding of three elements", WithBinding(Hex("06 01 2B"), Hex("05 00 05 00")), kTrailingBytes},
      {"INTEGER of 4 bytes", WithValue("02 04 80 00 00 00"), kOk}, {"INTEGER of 5 bytes", WithValue("02 05 00 00 00 00 01"), kBadInteger},
      {"INTEGER empty", WithValue("02 00"), kBadInteger}, {"Gauge32 of 2^32", WithValue("42 05 01 00 00 00 00"), kBadInteger},
      {"Counter32 with the leading zero", WithValue("41 05 00 FF FF FF FF"), kOk}, {"Counter32 of one byte FF", WithValue("41 01 FF"), kOk},
      {"Counter64 with the leading zero", WithValue("46 09 00 FF FF FF FF FF FF FF FF"), kOk},
      {"Counter64 of 2^64", WithValue("46 09 01 00 00 00 00 00 00 00 00"), kBadInteger}, {"Counter64 empty", WithValue("46 00"), kBadInteger},
      // Object identifiers: at least one subidentifier, no leading 0x80 (X.690).
      {"OID of 128 arcs", WithName(Cat({Hex("2B"), Bytes(126, 1)})), kOk}, {"OID of 129 arcs", WithName(Cat({Hex("2B"), Bytes(127, 1)})), kBadOid},
      {"arc of 2^32-1", WithName(Hex("2B 8F FF FF FF 7F")), kOk}, {"arc of 2^32", WithName(Hex("2B 90 80 80 80 00")), kBadOid},
      {"arc cut short", WithName(Hex("2B 06 81")), kBadOid}, {"OID empty", WithName({}), kBadOid},
      {"arc padded with 0x80", WithName(Hex("2B 80 01")), kBadOid}, {"IpAddress of 3 bytes", WithValue("40 03 01 02 03"), kBadAddress},
      {"agent address of 5 bytes", Message2("02 01 00", 0xA4, V1Pdu("40 05 01 02 03 04 05")), kBadAddress},
      {"UInteger32 of the SNMPv2 drafts", WithValue("47 01 05"), kUnexpectedTag}, {"context tag A9", Message2("02 01 01", 0xA9, pdu2), kUnexpectedTag},
      {"message not a SEQUENCE", Element(0x31, Bytes(trap2.begin() + 2, trap2.end())), kUnexpectedTag},
      {"SEQUENCE as a value", WithValue("30 03 02 01 00"), kTooDeep},
      {"constructed community", Element(0x30, Cat({Hex("02 01 01"), Element(0x24, Hex("04 01 70")), Element(0xA7, pdu2)})), kTooDeep},
      // SNMPv1 has no v2 PDUs, SNMPv2c no Trap-PDU (RFC 1157, 3416).
      {"version 2 (SNMPv2u)", Message2("02 01 02", 0xA7, pdu2), kUnsupportedVersion},
      {"SNMPv1 with a v2 trap", Message2("02 01 00", 0xA7, pdu2), kUnsupportedPdu},
      {"SNMPv2c with a v1 trap", Message2("02 01 01", 0xA4, V1Pdu("40 04 01 02 03 04")), kUnsupportedPdu},
      {"1024 bindings", Trap2(Cat(std::vector<Bytes>(kMaxBindings, Hex("30 05 06 01 2B 05 00")))), kOk},
      {"1025 bindings", Trap2(Cat(std::vector<Bytes>(kMaxBindings + 1, Hex("30 05 06 01 2B 05 00")))), kTooManyBindings},
  };
  for (const auto& r : rows) {
    Message m;
    m.community = "untouched";
    EXPECT_EQ(Decode(r.datagram.data(), r.datagram.size(), &m), r.error) << r.name;
    EXPECT_EQ(m.community, r.error == kOk ? "public" : "untouched") << r.name;  // a refused datagram leaves it alone
  }
}

// The v1 view of v2 notifications (RFC 3584, 3.2), one rule per row; a v1 trap's fields as sent.
TEST(SnmpMessage, V1View) {
  const Oid kTrapOid = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0}, kEnterprise = {1, 3, 6, 1, 6, 3, 1, 1, 4, 3, 0};
  const Oid kTrapAddress = {1, 3, 6, 1, 6, 3, 18, 1, 3, 0}, kUpTime = {1, 3, 6, 1, 2, 1, 1, 3, 0};
  const Oid kTraps = {1, 3, 6, 1, 6, 3, 1, 1, 5}, kCisco = {1, 3, 6, 1, 4, 1, 9}, kSpecific5 = {1, 3, 6, 1, 4, 1, 9, 0, 5};
  using Address = std::array<std::uint8_t, 4>;
  const Address sender = {192, 168, 1, 5};
  auto standard = [](std::uint32_t n) { return Oid{1, 3, 6, 1, 6, 3, 1, 1, 5, n}; };
  auto oid = [](Oid o) { return Value{.tag = Tag::kObjectId, .oid = std::move(o)}; };
  const Value address{.tag = Tag::kIpAddress, .octets = {10, 1, 2, 3}}, ticks{.tag = Tag::kTimeTicks, .number = 99};
  // No trap_oid: no snmpTrapOID.0; extra follows an INTEGER binding, kept in the view when one, left out when two.
  const struct { const char* name; Oid trap_oid; std::vector<VarBind> extra; Oid enterprise; std::int32_t generic, specific; Address agent; } rows[] = {
      {"coldStart", standard(1), {}, kTraps, 0, 0, sender},
      {"standard trap, enterprise given", standard(3), {{kEnterprise, oid(kCisco)}}, kCisco, 2, 0, sender},
      {"snmpTraps.7 is not standard", standard(7), {}, kTraps, 6, 7, sender},
      {"specific trap after a 0 arc", kSpecific5, {}, kCisco, 6, 5, sender},
      {"specific trap without a 0 arc", {1, 3, 6, 1, 4, 1, 9, 9, 5}, {}, {1, 3, 6, 1, 4, 1, 9, 9}, 6, 5, sender},
      {"enterprise binding ignored when not standard", kSpecific5, {{kEnterprise, oid({1, 3, 6, 1, 4, 1, 11})}}, kCisco, 6, 5, sender},
      {"specific above 2^31-1 wraps", {1, 3, 6, 1, 4, 1, 9, 0, 4294967295u}, {}, kCisco, 6, -1, sender},
      {"agent from snmpTrapAddress.0", kSpecific5, {{kTrapAddress, address}}, kCisco, 6, 5, {10, 1, 2, 3}},
      {"malformed snmpTrapAddress.0 ignored", kSpecific5, {{kTrapAddress, Value{.tag = Tag::kNull}}}, kCisco, 6, 5, sender},
      {"no snmpTrapOID.0", {}, {}, {}, 6, 0, sender},
      {"only the first snmpTrapOID.0 and sysUpTime.0 count; later ones are left out too", kSpecific5,
       {{kTrapOid, oid(standard(1))}, {kUpTime, ticks}}, kCisco, 6, 5, sender},
  };
  for (const auto& r : rows) {
    Message m = Notification((&r - rows) % 2 ? PduKind::kInform : PduKind::kTrapV2);  // both map alike
    m.bindings.resize(1);  // sysUpTime.0 = 12345
    if (!r.trap_oid.empty()) m.bindings.push_back({kTrapOid, oid(r.trap_oid)});
    std::vector<VarBind> rest = {{{1, 3, 6, 1, 2, 1, 2, 1, 0}, Value{.tag = Tag::kInteger, .integer = -5}}};  // what the view keeps
    if (r.extra.size() == 1) rest.push_back(r.extra[0]);
    m.bindings.insert(m.bindings.end(), rest.begin(), rest.end());
    if (r.extra.size() == 2) m.bindings.insert(m.bindings.end(), r.extra.begin(), r.extra.end());
    const V1Fields v1 = ToV1(m, sender);
    EXPECT_EQ(std::tuple(v1.enterprise, v1.generic, v1.specific, v1.agent_address, v1.time_stamp, v1.bindings),
              std::tuple(r.enterprise, r.generic, r.specific, r.agent, 12345u, rest)) << r.name;
  }
  Message v1trap = Notification(PduKind::kTrapV1);
  v1trap.bindings = {{kUpTime, ticks}, {kTrapOid, oid(standard(1))}};  // a v1 trap's bindings are all its own
  const V1Fields v1 = ToV1(v1trap, sender);
  EXPECT_EQ(std::tuple(v1.enterprise, v1.generic, v1.specific, v1.agent_address, v1.time_stamp, v1.bindings),
            std::tuple(kCisco, 6, 5, Address{10, 0, 0, 1}, 12345u, v1trap.bindings));
}

}  // namespace
}  // namespace brisel::snmp
