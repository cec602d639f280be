// The SNMP message decoder by message kind and by fault, the encoder, and the
// v1 view of notifications. Built for every target: the i686 build checks the
// length arithmetic with a 32-bit size type.
#include <gtest/gtest.h>

#include <string>

#include "snmp/message/snmp_message.h"
#include "tests/snmp_message/fault_table.h"

namespace brisel::snmp {
namespace {

using testing::Bytes;
using testing::Cat;
using testing::Element;
using testing::Of;

const auto H = testing::Hex;

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

TEST(SnmpMessageFaults, EachRefusedWithItsReason) {
  for (const testing::Fault& f : testing::Faults()) {
    Message m;
    m.community = "untouched";
    EXPECT_EQ(DecodeBytes(f.datagram, &m), f.ours) << f.name;
    if (f.ours != DecodeError::kOk) {
      EXPECT_EQ(m.community, "untouched") << f.name << ": a refused datagram leaves the output alone";
    }
  }
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
