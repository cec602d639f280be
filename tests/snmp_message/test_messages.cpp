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
  } else {
    m.request_id = 4711;
    Value up = Of(Tag::kTimeTicks);
    up.number = 12345;
    Value trap = Of(Tag::kObjectId);
    trap.oid = {1, 3, 6, 1, 4, 1, 9, 0, 5};
    m.bindings = {{{1, 3, 6, 1, 2, 1, 1, 3, 0}, up}, {{1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0}, trap}};
  }
  return m;
}

std::vector<Value> EveryValue() {
  std::vector<Value> out;
  for (std::int64_t i : {0LL, -1LL, 127LL, 128LL, -128LL, -129LL, 2147483647LL, -2147483648LL}) {
    Value v = Of(Tag::kInteger);
    v.integer = i;
    out.push_back(v);
  }
  for (Tag t : {Tag::kCounter32, Tag::kGauge32, Tag::kTimeTicks}) {
    for (std::uint64_t n : {0ULL, 127ULL, 128ULL, 2147483648ULL, 4294967295ULL}) {
      Value v = Of(t);
      v.number = n;
      out.push_back(v);
    }
  }
  for (std::uint64_t n : {0ULL, 255ULL, 4294967296ULL, 9223372036854775808ULL, 18446744073709551615ULL}) {
    Value v = Of(Tag::kCounter64);
    v.number = n;
    out.push_back(v);
  }
  Value text = Of(Tag::kOctetString);
  out.push_back(text);  // empty
  text.octets = {'A', 'B', 0x0A, 'C', 0x00, 0xFF};
  out.push_back(text);
  text.octets.assign(300, 0xA5);  // a two-byte length
  out.push_back(text);
  Value opaque = Of(Tag::kOpaque);
  opaque.octets = {0x01, 0x02};
  out.push_back(opaque);
  Value ip = Of(Tag::kIpAddress);
  ip.octets = {192, 168, 1, 5};
  out.push_back(ip);
  for (const Oid& oid : std::vector<Oid>{{0, 0}, {1, 3, 6, 1, 4, 1, 311}, {2, 999, 4294967295u}, {1, 39, 128, 16383, 16384}}) {
    Value v = Of(Tag::kObjectId);
    v.oid = oid;
    out.push_back(v);
  }
  for (Tag t : {Tag::kNull, Tag::kNoSuchObject, Tag::kNoSuchInstance, Tag::kEndOfMibView}) out.push_back(Of(t));
  return out;
}

std::vector<Message> ValidMessages() {
  std::vector<Message> out;
  const std::vector<Value> values = EveryValue();
  for (PduKind kind : {PduKind::kTrapV1, PduKind::kTrapV2, PduKind::kInform}) {
    out.push_back(Notification(kind));
    Message all = Notification(kind);
    for (std::size_t i = 0; i < values.size(); ++i) {
      Message one = Notification(kind);
      one.bindings.push_back({{1, 3, 6, 1, 4, 1, 9, 9, static_cast<std::uint32_t>(i)}, values[i]});
      out.push_back(one);
      all.bindings.push_back(one.bindings.back());
    }
    all.community = "a community of some length";
    if (kind != PduKind::kTrapV1) all.request_id = -2147483647 - 1;
    out.push_back(all);
  }
  return out;
}

Bytes Element(std::uint8_t tag, const Bytes& contents) {
  Bytes out{tag};
  const Bytes length = Length(contents.size());
  out.insert(out.end(), length.begin(), length.end());
  out.insert(out.end(), contents.begin(), contents.end());
  return out;
}

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
  auto oid = [os](const Oid& o) {
    for (std::uint32_t a : o) *os << '.' << a;
  };
  *os << "v" << m.version << " '" << m.community << "' pdu " << std::hex << int(m.kind) << std::dec << " ent ";
  oid(m.enterprise);
  *os << " gen " << m.generic << " specific " << m.specific << " t " << m.time_stamp << " req " << m.request_id
      << " err " << m.error_status << "/" << m.error_index;
  for (const VarBind& b : m.bindings) {
    *os << "\n  ";
    oid(b.name);
    *os << " tag " << std::hex << int(b.value.tag) << std::dec << " i " << b.value.integer << " n " << b.value.number
        << " octets " << b.value.octets.size() << " oid ";
    oid(b.value.oid);
  }
}

}  // namespace brisel::snmp
