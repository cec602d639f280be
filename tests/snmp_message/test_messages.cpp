#include "tests/snmp_message/test_messages.h"

#include <ostream>

namespace brisel::snmp::testing {

Value Of(Tag tag) {
  Value v;
  v.tag = tag;
  return v;
}

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

std::vector<Value> EveryValue() {
  std::vector<Value> out;
  auto add = [&out](Tag tag) -> Value& { return out.emplace_back(Of(tag)); };
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
  return out;
}

std::vector<Message> ValidMessages() {
  std::vector<Message> out;
  const std::vector<Value> values = EveryValue();
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

Bytes Element(std::uint8_t tag, const Bytes& contents) { return Cat({{tag}, Length(contents.size()), contents}); }

Bytes Length(std::size_t n) {
  auto byte = [n](int shift) { return static_cast<std::uint8_t>(n >> shift); };
  if (n < 0x80) return Bytes{byte(0)};
  if (n < 0x100) return Bytes{0x81, byte(0)};
  if (n < 0x10000) return Bytes{0x82, byte(8), byte(0)};
  return Bytes{0x83, byte(16), byte(8), byte(0)};
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace brisel::snmp::testing

namespace brisel::snmp {

void PrintTo(const Message& m, std::ostream* os) {
  auto oid = [os](const Oid& o) { for (std::uint32_t a : o) *os << '.' << a; };
  *os << "v" << m.version << " '" << m.community << "' pdu " << int(m.kind) << " ent ";
  oid(m.enterprise);
  *os << " gen " << m.generic << " specific " << m.specific << " t " << m.time_stamp << " req " << m.request_id
      << " err " << m.error_status << "/" << m.error_index;
  for (const VarBind& b : m.bindings) {
    *os << "\n  ";
    oid(b.name);
    *os << " tag " << int(b.value.tag) << " i " << b.value.integer << " n " << b.value.number << " octets " << b.value.octets.size() << " oid ";
    oid(b.value.oid);
  }
}

}  // namespace brisel::snmp
