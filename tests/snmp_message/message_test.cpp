// The SNMP message decoder by fault, the encoder, and the v1 view of notifications. Built for
// every target: the i686 build checks the length arithmetic with a 32-bit size type.
#include <gtest/gtest.h>

#include <tuple>

#include "tests/snmp_message/test_messages.h"

namespace brisel::snmp {
namespace {

using testing::Bytes;

// Written out by hand, not by our encoder.
const Bytes kV2Trap = testing::Hex(
    "30 40 02 01 01 04 06 70 75 62 6C 69 63 A7 33 02 01 4D 02 01 00 02 01 00 30 28"
    " 30 0E 06 08 2B 06 01 02 01 01 03 00 43 02 30 39"
    " 30 16 06 0A 2B 06 01 06 03 01 01 04 01 00 06 08 2B 06 01 04 01 09 00 05");

TEST(SnmpMessage, NotificationsDecodeAndEncodeMinimally) {
  Message v2 = testing::Notification(PduKind::kTrapV2), m;
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
  for (const Message& valid : testing::ValidMessages()) {
    const Bytes b = Encode(valid);
    Message back;
    ASSERT_EQ(Decode(b.data(), b.size(), &back), DecodeError::kOk);
    EXPECT_EQ(back, valid);
    for (std::size_t n = 0; n < b.size(); ++n) {
      ASSERT_EQ(Decode(b.data(), n, &back), DecodeError::kTruncated) << n << " of " << b.size();
    }
  }
}

TEST(SnmpMessage, EachFaultRefusedWithItsReason) {
  for (const testing::Fault& f : testing::Faults()) {
    Message m;
    m.community = "untouched";
    EXPECT_EQ(Decode(f.datagram.data(), f.datagram.size(), &m), f.ours) << f.name;
    if (f.ours != DecodeError::kOk) {
      EXPECT_EQ(m.community, "untouched") << f.name << ": a refused datagram leaves the output alone";
    }
  }
}

Value OidValue(Oid oid) {
  Value v = testing::Of(Tag::kObjectId);
  v.oid = std::move(oid);
  return v;
}

// The v1 view of v2 notifications (RFC 3584, 3.2), one rule per row; a v1 trap's fields as sent.
TEST(SnmpMessage, V1View) {
  const Oid kTrapOid = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0}, kEnterprise = {1, 3, 6, 1, 6, 3, 1, 1, 4, 3, 0};
  const Oid kTrapAddress = {1, 3, 6, 1, 6, 3, 18, 1, 3, 0}, kUpTime = {1, 3, 6, 1, 2, 1, 1, 3, 0};
  const Oid kTraps = {1, 3, 6, 1, 6, 3, 1, 1, 5}, kCisco = {1, 3, 6, 1, 4, 1, 9}, kSpecific5 = {1, 3, 6, 1, 4, 1, 9, 0, 5};
  using Address = std::array<std::uint8_t, 4>;
  const Address sender = {192, 168, 1, 5};
  auto standard = [](std::uint32_t n) { return Oid{1, 3, 6, 1, 6, 3, 1, 1, 5, n}; };
  Value address = testing::Of(Tag::kIpAddress), integer = testing::Of(Tag::kInteger), ticks = testing::Of(Tag::kTimeTicks);
  address.octets = {10, 1, 2, 3};
  integer.integer = -5;
  ticks.number = 99;
  // trap_oid empty: no snmpTrapOID.0 binding; extra: bindings after the trap OID and an INTEGER binding,
  // kept in the view when one, left out when two (a second snmpTrapOID.0 and sysUpTime.0).
  const struct { const char* name; Oid trap_oid; std::vector<VarBind> extra; Oid enterprise; std::int32_t generic, specific; Address agent; } rows[] = {
      {"coldStart", standard(1), {}, kTraps, 0, 0, sender}, {"egpNeighborLoss", standard(6), {}, kTraps, 5, 0, sender},
      {"standard trap, enterprise given", standard(3), {{kEnterprise, OidValue(kCisco)}}, kCisco, 2, 0, sender},
      {"snmpTraps.0 is not standard", standard(0), {}, kTraps, 6, 0, sender}, {"snmpTraps.7 is not standard", standard(7), {}, kTraps, 6, 7, sender},
      {"specific trap after a 0 arc", kSpecific5, {}, kCisco, 6, 5, sender},
      {"specific trap without a 0 arc", {1, 3, 6, 1, 4, 1, 9, 9, 5}, {}, {1, 3, 6, 1, 4, 1, 9, 9}, 6, 5, sender},
      {"enterprise binding ignored when not standard", kSpecific5, {{kEnterprise, OidValue({1, 3, 6, 1, 4, 1, 11})}}, kCisco, 6, 5, sender},
      {"specific above 2^31-1 wraps", {1, 3, 6, 1, 4, 1, 9, 0, 4294967295u}, {}, kCisco, 6, -1, sender},
      {"agent from snmpTrapAddress.0", kSpecific5, {{kTrapAddress, address}}, kCisco, 6, 5, {10, 1, 2, 3}},
      {"malformed snmpTrapAddress.0 ignored", kSpecific5, {{kTrapAddress, testing::Of(Tag::kNull)}}, kCisco, 6, 5, sender},
      {"no snmpTrapOID.0", {}, {}, {}, 6, 0, sender},
      {"only the first snmpTrapOID.0 and sysUpTime.0 count; later ones are left out too", kSpecific5,
       {{kTrapOid, OidValue(standard(1))}, {kUpTime, ticks}}, kCisco, 6, 5, sender},
  };
  for (const auto& r : rows) {
    Message m = testing::Notification((&r - rows) % 2 ? PduKind::kInform : PduKind::kTrapV2);  // both map alike
    m.bindings.resize(1);  // sysUpTime.0 = 12345
    if (!r.trap_oid.empty()) m.bindings.push_back({kTrapOid, OidValue(r.trap_oid)});
    std::vector<VarBind> rest = {{{1, 3, 6, 1, 2, 1, 2, 1, 0}, integer}};  // what the view keeps
    if (r.extra.size() == 1) rest.push_back(r.extra[0]);
    m.bindings.insert(m.bindings.end(), rest.begin(), rest.end());
    if (r.extra.size() == 2) m.bindings.insert(m.bindings.end(), r.extra.begin(), r.extra.end());
    const V1Fields v1 = ToV1(m, sender);
    EXPECT_EQ(std::tuple(v1.enterprise, v1.generic, v1.specific, v1.agent_address, v1.time_stamp, v1.bindings),
              std::tuple(r.enterprise, r.generic, r.specific, r.agent, 12345u, rest)) << r.name;
  }
  Message v1trap = testing::Notification(PduKind::kTrapV1);
  v1trap.bindings = {{kUpTime, ticks}, {kTrapOid, OidValue(standard(1))}};  // a v1 trap's bindings are all its own
  const V1Fields v1 = ToV1(v1trap, sender);
  EXPECT_EQ(std::tuple(v1.enterprise, v1.generic, v1.specific, v1.agent_address, v1.time_stamp, v1.bindings),
            std::tuple(kCisco, 6, 5, Address{10, 0, 0, 1}, 12345u, v1trap.bindings));
}

}  // namespace
}  // namespace brisel::snmp
