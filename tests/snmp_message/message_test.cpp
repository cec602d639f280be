// The SNMP message decoder by message kind and by fault, the encoder, and the
// v1 view of notifications. Built for every target: the i686 build checks the
// length arithmetic with a 32-bit size type.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "snmp/message/snmp_message.h"
#include "tests/snmp_message/test_messages.h"

namespace brisel::snmp {
namespace {

using testing::Bytes;
using testing::Cat;
using testing::Element;
using testing::Of;

Bytes H(const char* hex) {
  Bytes b;
  unsigned x = 0;
  int n = 0;
  while (std::sscanf(hex, " %2x%n", &x, &n) == 1) {
    b.push_back(static_cast<std::uint8_t>(x));
    hex += n;
  }
  return b;
}

DecodeError DecodeBytes(const Bytes& b, Message* m) { return Decode(b.data(), b.size(), m); }

// Written out by hand, not by our encoder.
const Bytes kV1Trap = H(
    "30 3B 02 01 00 04 06 70 75 62 6C 69 63 A4 2E 06 06 2B 06 01 04 01 09 40 04 0A 00 00 01"
    " 02 01 06 02 02 00 80 43 02 30 39 30 13 30 11 06 08 2B 06 01 02 01 02 01 00 04 05 68 6F 73 74 0A");
const Bytes kV2Trap = H(
    "30 40 02 01 01 04 06 70 75 62 6C 69 63 A7 33 02 01 4D 02 01 00 02 01 00 30 28"
    " 30 0E 06 08 2B 06 01 02 01 01 03 00 43 02 30 39"
    " 30 16 06 0A 2B 06 01 06 03 01 01 04 01 00 06 08 2B 06 01 04 01 09 00 05");

Oid Name(std::initializer_list<std::uint32_t> arcs) { return Oid(arcs); }

TEST(SnmpMessageKinds, V1TrapFieldsAsSent) {
  Message m;
  ASSERT_EQ(DecodeBytes(kV1Trap, &m), DecodeError::kOk);
  EXPECT_EQ(m.version, 0);
  EXPECT_EQ(m.community, "public");
  EXPECT_EQ(m.kind, PduKind::kTrapV1);
  EXPECT_EQ(m.enterprise, Name({1, 3, 6, 1, 4, 1, 9}));
  EXPECT_EQ(m.agent_address, (std::array<std::uint8_t, 4>{10, 0, 0, 1}));
  EXPECT_EQ(m.generic, 6);
  EXPECT_EQ(m.specific, 128);
  EXPECT_EQ(m.time_stamp, 12345u);
  ASSERT_EQ(m.bindings.size(), 1u);
  EXPECT_EQ(m.bindings[0].name, Name({1, 3, 6, 1, 2, 1, 2, 1, 0}));
  EXPECT_EQ(m.bindings[0].value.tag, Tag::kOctetString);
  EXPECT_EQ(m.bindings[0].value.octets, (std::vector<std::uint8_t>{'h', 'o', 's', 't', 0x0A}));
}

TEST(SnmpMessageKinds, V2TrapAndInform) {
  for (std::uint8_t pdu : {0xA7, 0xA6}) {
    Bytes b = kV2Trap;
    b[13] = pdu;
    Message m;
    ASSERT_EQ(DecodeBytes(b, &m), DecodeError::kOk);
    EXPECT_EQ(m.version, 1);
    EXPECT_EQ(static_cast<std::uint8_t>(m.kind), pdu);
    EXPECT_EQ(m.request_id, 77);
    ASSERT_EQ(m.bindings.size(), 2u);
    EXPECT_EQ(m.bindings[0].value.tag, Tag::kTimeTicks);
    EXPECT_EQ(m.bindings[0].value.number, 12345u);
    EXPECT_EQ(m.bindings[1].value.oid, Name({1, 3, 6, 1, 4, 1, 9, 0, 5}));
  }
}

TEST(SnmpMessageKinds, EncodeIsMinimalAndDecodesBack) {
  Message m;
  ASSERT_EQ(DecodeBytes(kV1Trap, &m), DecodeError::kOk);
  EXPECT_EQ(Encode(m), kV1Trap);
  ASSERT_EQ(DecodeBytes(kV2Trap, &m), DecodeError::kOk);
  EXPECT_EQ(Encode(m), kV2Trap);
  for (const Message& valid : testing::ValidMessages()) {
    const Bytes b = Encode(valid);
    Message back;
    ASSERT_EQ(DecodeBytes(b, &back), DecodeError::kOk);
    EXPECT_EQ(back, valid);
  }
}

TEST(SnmpMessageKinds, ResponseToAnInform) {
  Bytes inform = kV2Trap;
  inform[13] = 0xA6;
  Message m;
  ASSERT_EQ(DecodeBytes(inform, &m), DecodeError::kOk);
  Bytes expected = kV2Trap;
  expected[13] = 0xA2;  // same request id and bindings, errors 0
  EXPECT_EQ(EncodeResponse(m), expected);
  m.error_status = 5;
  m.error_index = 2;
  EXPECT_EQ(EncodeResponse(m), expected);
}

// One row per fault and place.
struct Fault {
  const char* name;
  Bytes datagram;
  DecodeError error;
};

Bytes V2With(const Bytes& binding_list_contents) {
  return Element(0x30, Cat({H("02 01 01 04 01 70"),
                            Element(0xA7, Cat({H("02 01 01 02 01 00 02 01 00"), Element(0x30, binding_list_contents)}))}));
}
Bytes Value2(const char* value) { return V2With(Element(0x30, Cat({H("06 01 2B"), H(value)}))); }
Bytes Name2(const Bytes& oid) { return V2With(Element(0x30, Cat({Element(0x06, oid), H("05 00")}))); }

TEST(SnmpMessageFaults, EachRefusedWithItsReason) {
  Bytes arcs128(127, 0x01), arcs129(128, 0x01);
  arcs128[0] = arcs129[0] = 0x2B;
  const Bytes one = H("30 05 06 01 2B 05 00");
  Bytes bindings1024;
  for (std::size_t i = 0; i < kMaxBindings; ++i) bindings1024.insert(bindings1024.end(), one.begin(), one.end());
  const Bytes bindings1025 = Cat({bindings1024, one});
  Bytes trailing = kV2Trap;
  trailing.push_back(0);
  Bytes huge = Value2("05 00");
  huge.resize(kMaxMessageBytes + 1);
  const Fault faults[] = {
      {"nothing", {}, DecodeError::kTruncated},
      {"header only", H("30"), DecodeError::kTruncated},
      {"length past the datagram", H("30 05 02 01 01"), DecodeError::kTruncated},
      {"length bytes missing", H("30 82 01"), DecodeError::kTruncated},
      {"inner length past its parent", H("30 03 02 05 01"), DecodeError::kTruncated},
      {"indefinite length", H("30 80 02 01 01 00 00"), DecodeError::kBadLength},
      {"five length bytes", H("30 85 00 00 00 00 03 02 01 01"), DecodeError::kBadLength},
      {"reserved length form", H("30 FF"), DecodeError::kBadLength},
      {"more than the largest datagram", huge, DecodeError::kBadLength},
      {"NULL with contents", Value2("05 01 00"), DecodeError::kBadLength},
      {"byte after the message", trailing, DecodeError::kTrailingBytes},
      {"element after the bindings", Element(0x30, Cat({H("02 01 01 04 01 70"), Element(0xA7, H("02 01 01 02 01 00 02 01 00 30 00 05 00"))})), DecodeError::kTrailingBytes},
      {"binding of three elements", V2With(H("30 07 06 01 2B 05 00 05 00")), DecodeError::kTrailingBytes},
      {"message not a SEQUENCE", H("31 03 02 01 01"), DecodeError::kUnexpectedTag},
      {"community an INTEGER", H("30 08 02 01 01 02 01 00 A7 00"), DecodeError::kUnexpectedTag},
      {"unknown value tag", Value2("47 01 05"), DecodeError::kUnexpectedTag},
      {"high tag number", Value2("1F 01 01 00"), DecodeError::kUnexpectedTag},
      {"not a PDU", H("30 07 02 01 01 04 00 30 00"), DecodeError::kUnexpectedTag},
      {"empty INTEGER", Value2("02 00"), DecodeError::kBadInteger},
      {"INTEGER of 5 bytes", Value2("02 05 00 80 00 00 00"), DecodeError::kBadInteger},
      {"Counter32 of 2^32", Value2("41 05 01 00 00 00 00"), DecodeError::kBadInteger},
      {"TimeTicks of 6 bytes", Value2("43 06 00 00 00 00 00 01"), DecodeError::kBadInteger},
      {"Counter64 of 2^64", Value2("46 09 01 00 00 00 00 00 00 00 00"), DecodeError::kBadInteger},
      {"version of 5 bytes", H("30 0B 02 05 00 00 00 00 01 04 00 A7 00"), DecodeError::kBadInteger},
      {"empty OID", Name2({}), DecodeError::kBadOid},
      {"129 arcs", Name2(arcs129), DecodeError::kBadOid},
      {"arc of 2^32", Name2(H("2B 90 80 80 80 00")), DecodeError::kBadOid},
      {"arc cut short", Name2(H("2B 86")), DecodeError::kBadOid},
      {"arc padded with 0x80", Name2(H("2B 80 06")), DecodeError::kBadOid},
      {"IpAddress of 3 bytes", Value2("40 03 01 02 03"), DecodeError::kBadAddress},
      {"agent address of 5 bytes", H("30 1C 02 01 00 04 00 A4 15 06 01 2B 40 05 01 02 03 04 05 02 01 06 02 01 01 43 01 00 30 00"), DecodeError::kBadAddress},
      {"version 3", H("30 07 02 01 03 04 00 A7 00"), DecodeError::kUnsupportedVersion},
      {"GetRequest", H("30 07 02 01 01 04 00 A0 00"), DecodeError::kUnsupportedPdu},
      {"SNMPv1 with an inform", H("30 07 02 01 00 04 00 A6 00"), DecodeError::kUnsupportedPdu},
      {"SNMPv2c with a v1 trap", H("30 07 02 01 01 04 00 A4 00"), DecodeError::kUnsupportedPdu},
      {"SEQUENCE as a value", Value2("30 03 02 01 00"), DecodeError::kTooDeep},
      {"constructed OCTET STRING", Value2("24 03 04 01 41"), DecodeError::kTooDeep},
      {"1025 bindings", V2With(bindings1025), DecodeError::kTooManyBindings},
  };
  for (const Fault& f : faults) {
    Message m;
    m.community = "untouched";
    EXPECT_EQ(DecodeBytes(f.datagram, &m), f.error) << f.name;
    EXPECT_EQ(m.community, "untouched") << f.name << ": a refused datagram leaves the output alone";
  }
  // The bounds themselves pass.
  Message m;
  EXPECT_EQ(DecodeBytes(Name2(arcs128), &m), DecodeError::kOk);
  EXPECT_EQ(m.bindings[0].name.size(), kMaxOidArcs);
  EXPECT_EQ(DecodeBytes(V2With(bindings1024), &m), DecodeError::kOk);
  EXPECT_EQ(m.bindings.size(), kMaxBindings);
}

TEST(SnmpMessageFaults, TruncationAtEveryByte) {
  for (const Message& valid : testing::ValidMessages()) {
    const Bytes b = Encode(valid);
    for (std::size_t n = 0; n < b.size(); ++n) {
      Message m;
      ASSERT_EQ(Decode(b.data(), n, &m), DecodeError::kTruncated) << n << " of " << b.size();
    }
  }
}

// The v1 view of v2 notifications (RFC 3584, 3.2), one rule per row.
struct Mapping {
  const char* name;
  Oid trap_oid;  // empty: no snmpTrapOID.0 binding
  std::vector<VarBind> extra;
  Oid enterprise;
  std::int32_t generic, specific;
  std::array<std::uint8_t, 4> agent;
};

VarBind Bind(Oid name, Value v) { return {std::move(name), std::move(v)}; }
Value OidValue(Oid oid) {
  Value v = Of(Tag::kObjectId);
  v.oid = std::move(oid);
  return v;
}
Value Address(std::vector<std::uint8_t> octets) {
  Value v = Of(Tag::kIpAddress);
  v.octets = std::move(octets);
  return v;
}

TEST(SnmpMessageToV1, MappingRules) {
  const Oid kTraps = {1, 3, 6, 1, 6, 3, 1, 1, 5};
  const Oid kTrapEnterprise = {1, 3, 6, 1, 6, 3, 1, 1, 4, 3, 0};
  const Oid kTrapAddress = {1, 3, 6, 1, 6, 3, 18, 1, 3, 0};
  const std::array<std::uint8_t, 4> sender = {192, 168, 1, 5};
  auto standard = [](std::uint32_t n) { return Oid{1, 3, 6, 1, 6, 3, 1, 1, 5, n}; };
  const Mapping rows[] = {
      {"coldStart", standard(1), {}, kTraps, 0, 0, sender},
      {"warmStart", standard(2), {}, kTraps, 1, 0, sender},
      {"linkDown", standard(3), {}, kTraps, 2, 0, sender},
      {"linkUp", standard(4), {}, kTraps, 3, 0, sender},
      {"authenticationFailure", standard(5), {}, kTraps, 4, 0, sender},
      {"egpNeighborLoss", standard(6), {}, kTraps, 5, 0, sender},
      {"standard trap, enterprise given", standard(3), {Bind(kTrapEnterprise, OidValue({1, 3, 6, 1, 4, 1, 9}))}, {1, 3, 6, 1, 4, 1, 9}, 2, 0, sender},
      {"snmpTraps.7 is not standard", standard(7), {}, kTraps, 6, 7, sender},
      {"specific trap after a 0 arc", {1, 3, 6, 1, 4, 1, 9, 0, 5}, {}, {1, 3, 6, 1, 4, 1, 9}, 6, 5, sender},
      {"specific trap without a 0 arc", {1, 3, 6, 1, 4, 1, 9, 9, 5}, {}, {1, 3, 6, 1, 4, 1, 9, 9}, 6, 5, sender},
      {"enterprise binding ignored when not standard", {1, 3, 6, 1, 4, 1, 9, 0, 5}, {Bind(kTrapEnterprise, OidValue({1, 3, 6, 1, 4, 1, 11}))}, {1, 3, 6, 1, 4, 1, 9}, 6, 5, sender},
      {"specific above 2^31-1 wraps", {1, 3, 6, 1, 4, 1, 9, 0, 4294967295u}, {}, {1, 3, 6, 1, 4, 1, 9}, 6, -1, sender},
      {"agent from snmpTrapAddress.0", {1, 3, 6, 1, 4, 1, 9, 0, 5}, {Bind(kTrapAddress, Address({10, 1, 2, 3}))}, {1, 3, 6, 1, 4, 1, 9}, 6, 5, {10, 1, 2, 3}},
      {"malformed snmpTrapAddress.0 ignored", {1, 3, 6, 1, 4, 1, 9, 0, 5}, {Bind(kTrapAddress, Of(Tag::kNull))}, {1, 3, 6, 1, 4, 1, 9}, 6, 5, sender},
      {"no snmpTrapOID.0", {}, {}, {}, 6, 0, sender},
  };
  for (const Mapping& r : rows) {
    Message m = testing::Notification(PduKind::kTrapV2);
    m.bindings.resize(1);  // sysUpTime.0 = 12345
    if (!r.trap_oid.empty()) m.bindings.push_back(Bind({1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0}, OidValue(r.trap_oid)));
    Value other = Of(Tag::kInteger);
    other.integer = -5;
    m.bindings.push_back(Bind({1, 3, 6, 1, 2, 1, 2, 1, 0}, other));
    m.bindings.insert(m.bindings.end(), r.extra.begin(), r.extra.end());
    const V1Fields v1 = ToV1(m, sender);
    EXPECT_EQ(v1.enterprise, r.enterprise) << r.name;
    EXPECT_EQ(v1.generic, r.generic) << r.name;
    EXPECT_EQ(v1.specific, r.specific) << r.name;
    EXPECT_EQ(v1.agent_address, r.agent) << r.name;
    EXPECT_EQ(v1.time_stamp, 12345u) << r.name;
    // Without sysUpTime.0 and snmpTrapOID.0, the rest in order.
    std::vector<VarBind> rest = {m.bindings[r.trap_oid.empty() ? 1 : 2]};
    rest.insert(rest.end(), r.extra.begin(), r.extra.end());
    EXPECT_EQ(v1.bindings, rest) << r.name;
  }
}

TEST(SnmpMessageToV1, V1TrapAndInformTakeTheirOwnFields) {
  Message v1trap;
  ASSERT_EQ(DecodeBytes(kV1Trap, &v1trap), DecodeError::kOk);
  const V1Fields a = ToV1(v1trap, {1, 1, 1, 1});
  EXPECT_EQ(a.enterprise, v1trap.enterprise);
  EXPECT_EQ(a.agent_address, v1trap.agent_address);
  EXPECT_EQ(a.specific, 128);
  EXPECT_EQ(a.time_stamp, 12345u);
  EXPECT_EQ(a.bindings, v1trap.bindings);
  const V1Fields b = ToV1(testing::Notification(PduKind::kInform), {1, 1, 1, 1});
  EXPECT_EQ(b.enterprise, Name({1, 3, 6, 1, 4, 1, 9}));
  EXPECT_EQ(b.specific, 5);
  EXPECT_TRUE(b.bindings.empty());
}

}  // namespace
}  // namespace brisel::snmp
