// BER decoding and encoding of SNMP trap messages. Every read goes through a
// Span checked before the access; the message has a fixed shape (message,
// PDU, binding list, binding, value), so the decoder walks it with plain
// calls and never recurses on what the datagram says.
#include "snmp/message/snmp_message.h"

#include <algorithm>
#include <utility>

namespace brisel::snmp {
namespace {

constexpr std::uint8_t kSequence = 0x30;
constexpr std::uint8_t kConstructed = 0x20;

// The bytes [p, end) of one element's contents or of what is left to read.
struct Span {
  const std::uint8_t* p;
  const std::uint8_t* end;
  std::size_t size() const { return static_cast<std::size_t>(end - p); }
  bool empty() const { return p == end; }
};

// Reads one tag and length; content gets the element's contents and in
// moves past the element. The tag is checked before the length so that an
// element in the wrong place is named as such even when its length is bad.
DecodeError ReadElement(Span& in, std::uint8_t expected, Span* content) {
  if (in.empty()) return DecodeError::kTruncated;
  const std::uint8_t tag = *in.p;
  if (tag != expected) {
    // A constructed element where a primitive one belongs nests deeper than
    // any trap message does.
    if ((tag & kConstructed) && !(expected & kConstructed)) return DecodeError::kTooDeep;
    return DecodeError::kUnexpectedTag;
  }
  ++in.p;
  if (in.empty()) return DecodeError::kTruncated;
  const std::uint8_t first = *in.p++;
  std::size_t length = first;
  if (first & 0x80) {
    const std::size_t count = first & 0x7F;
    // 0x80 is the indefinite form; more than 4 length bytes is never needed
    // for a datagram (0xFF, the reserved form, lands here too).
    if (count == 0 || count > 4) return DecodeError::kBadLength;
    if (in.size() < count) return DecodeError::kTruncated;
    length = 0;
    for (std::size_t i = 0; i < count; ++i) length = (length << 8) | *in.p++;
  }
  if (length > in.size()) return DecodeError::kTruncated;
  *content = Span{in.p, in.p + length};
  in.p += length;
  return DecodeError::kOk;
}

// Reads the tag alone (the value of a binding takes one of several).
DecodeError PeekTag(const Span& in, std::uint8_t* tag) {
  if (in.empty()) return DecodeError::kTruncated;
  *tag = *in.p;
  return DecodeError::kOk;
}

// Two's complement contents of at most max_bytes bytes.
DecodeError ParseSigned(const Span& c, std::size_t max_bytes, std::int64_t* value) {
  if (c.empty() || c.size() > max_bytes) return DecodeError::kBadInteger;
  std::uint64_t v = (*c.p & 0x80) ? ~std::uint64_t{0} : 0;
  for (const std::uint8_t* q = c.p; q != c.end; ++q) v = (v << 8) | *q;
  *value = static_cast<std::int64_t>(v);
  return DecodeError::kOk;
}

// An unsigned type of width bits: the usual leading zero byte is allowed, so
// 32-bit types take up to 5 bytes and Counter64 up to 9, the extra byte
// being zero. Contents whose first byte has its top bit set are negative in
// strict BER; agents that drop the leading zero of large counters send
// exactly that, so the contents are read as the magnitude they meant, as
// net-snmp reads them.
DecodeError ParseUnsigned(const Span& c, unsigned width, std::uint64_t* value) {
  const std::size_t bytes = width / 8;
  if (c.empty() || c.size() > bytes + 1) return DecodeError::kBadInteger;
  if (c.size() == bytes + 1 && *c.p != 0) return DecodeError::kBadInteger;
  std::uint64_t v = 0;
  for (const std::uint8_t* q = c.p; q != c.end; ++q) v = (v << 8) | *q;
  *value = v;
  return DecodeError::kOk;
}

DecodeError ReadInt32(Span& in, std::int32_t* value) {
  Span c;
  if (DecodeError e = ReadElement(in, static_cast<std::uint8_t>(Tag::kInteger), &c); e != DecodeError::kOk) return e;
  std::int64_t v = 0;
  if (DecodeError e = ParseSigned(c, 4, &v); e != DecodeError::kOk) return e;
  *value = static_cast<std::int32_t>(v);
  return DecodeError::kOk;
}

DecodeError ParseOid(const Span& c, Oid* oid) {
  oid->clear();
  if (c.empty()) return DecodeError::kBadOid;
  std::uint64_t arc = 0;
  bool in_arc = false;
  for (const std::uint8_t* q = c.p; q != c.end; ++q) {
    // A leading 0x80 pads the arc: BER gives every arc one encoding.
    if (!in_arc && *q == 0x80) return DecodeError::kBadOid;
    arc = (arc << 7) | (*q & 0x7F);
    if (arc > 0xFFFFFFFFu) return DecodeError::kBadOid;
    if (*q & 0x80) {
      in_arc = true;
      continue;
    }
    in_arc = false;
    if (oid->empty()) {
      // The first subidentifier carries the first two arcs.
      const std::uint32_t top = arc < 40 ? 0 : arc < 80 ? 1 : 2;
      oid->push_back(top);
      oid->push_back(static_cast<std::uint32_t>(arc - 40 * top));
    } else {
      if (oid->size() == kMaxOidArcs) return DecodeError::kBadOid;
      oid->push_back(static_cast<std::uint32_t>(arc));
    }
    arc = 0;
  }
  return in_arc ? DecodeError::kBadOid : DecodeError::kOk;
}

DecodeError ReadOid(Span& in, Oid* oid) {
  Span c;
  if (DecodeError e = ReadElement(in, static_cast<std::uint8_t>(Tag::kObjectId), &c); e != DecodeError::kOk) return e;
  return ParseOid(c, oid);
}

DecodeError ReadValue(Span& in, Value* value) {
  std::uint8_t tag = 0;
  if (DecodeError e = PeekTag(in, &tag); e != DecodeError::kOk) return e;
  switch (static_cast<Tag>(tag)) {
    case Tag::kInteger: case Tag::kOctetString: case Tag::kNull: case Tag::kObjectId:
    case Tag::kIpAddress: case Tag::kCounter32: case Tag::kGauge32: case Tag::kTimeTicks:
    case Tag::kOpaque: case Tag::kCounter64: case Tag::kNoSuchObject: case Tag::kNoSuchInstance:
    case Tag::kEndOfMibView:
      break;
    default:
      return (tag & kConstructed) ? DecodeError::kTooDeep : DecodeError::kUnexpectedTag;
  }
  Span c;
  if (DecodeError e = ReadElement(in, tag, &c); e != DecodeError::kOk) return e;
  value->tag = static_cast<Tag>(tag);
  switch (value->tag) {
    case Tag::kInteger:
      return ParseSigned(c, 4, &value->integer);
    case Tag::kOctetString:
    case Tag::kOpaque:
      value->octets.assign(c.p, c.end);
      return DecodeError::kOk;
    case Tag::kIpAddress:
      if (c.size() != 4) return DecodeError::kBadAddress;
      value->octets.assign(c.p, c.end);
      return DecodeError::kOk;
    case Tag::kObjectId:
      return ParseOid(c, &value->oid);
    case Tag::kCounter32: case Tag::kGauge32: case Tag::kTimeTicks:
      return ParseUnsigned(c, 32, &value->number);
    case Tag::kCounter64:
      return ParseUnsigned(c, 64, &value->number);
    default:  // NULL and the three exceptions carry nothing
      return c.empty() ? DecodeError::kOk : DecodeError::kBadLength;
  }
}

DecodeError ReadBindings(Span& in, std::vector<VarBind>* bindings) {
  Span list;
  if (DecodeError e = ReadElement(in, kSequence, &list); e != DecodeError::kOk) return e;
  while (!list.empty()) {
    if (bindings->size() == kMaxBindings) return DecodeError::kTooManyBindings;
    Span c;
    if (DecodeError e = ReadElement(list, kSequence, &c); e != DecodeError::kOk) return e;
    VarBind& binding = bindings->emplace_back();
    if (DecodeError e = ReadOid(c, &binding.name); e != DecodeError::kOk) return e;
    if (DecodeError e = ReadValue(c, &binding.value); e != DecodeError::kOk) return e;
    if (!c.empty()) return DecodeError::kTrailingBytes;
  }
  return DecodeError::kOk;
}

DecodeError DecodeMessage(Span in, Message* m) {
  Span msg;
  if (DecodeError e = ReadElement(in, kSequence, &msg); e != DecodeError::kOk) return e;
  Span version;
  if (DecodeError e = ReadElement(msg, static_cast<std::uint8_t>(Tag::kInteger), &version); e != DecodeError::kOk) return e;
  std::int64_t v = 0;
  if (DecodeError e = ParseSigned(version, 4, &v); e != DecodeError::kOk) return e;
  if (v != 0 && v != 1) return DecodeError::kUnsupportedVersion;
  m->version = static_cast<int>(v);
  Span community;
  if (DecodeError e = ReadElement(msg, static_cast<std::uint8_t>(Tag::kOctetString), &community); e != DecodeError::kOk) return e;
  m->community.assign(community.p, community.end);

  std::uint8_t tag = 0;
  if (DecodeError e = PeekTag(msg, &tag); e != DecodeError::kOk) return e;
  // 0xA0 to 0xA8 are the PDUs of SNMPv1 and v2; of those only the
  // notifications are for us, and each in its own version only.
  if (tag < 0xA0 || tag > 0xA8) return DecodeError::kUnexpectedTag;
  const bool wanted = m->version == 0 ? tag == static_cast<std::uint8_t>(PduKind::kTrapV1)
                                      : tag == static_cast<std::uint8_t>(PduKind::kTrapV2) ||
                                            tag == static_cast<std::uint8_t>(PduKind::kInform);
  if (!wanted) return DecodeError::kUnsupportedPdu;
  m->kind = static_cast<PduKind>(tag);
  Span pdu;
  if (DecodeError e = ReadElement(msg, tag, &pdu); e != DecodeError::kOk) return e;

  if (m->kind == PduKind::kTrapV1) {
    if (DecodeError e = ReadOid(pdu, &m->enterprise); e != DecodeError::kOk) return e;
    Span address;
    if (DecodeError e = ReadElement(pdu, static_cast<std::uint8_t>(Tag::kIpAddress), &address); e != DecodeError::kOk) return e;
    if (address.size() != 4) return DecodeError::kBadAddress;
    std::copy(address.p, address.end, m->agent_address.begin());
    if (DecodeError e = ReadInt32(pdu, &m->generic); e != DecodeError::kOk) return e;
    if (DecodeError e = ReadInt32(pdu, &m->specific); e != DecodeError::kOk) return e;
    Span ticks;
    if (DecodeError e = ReadElement(pdu, static_cast<std::uint8_t>(Tag::kTimeTicks), &ticks); e != DecodeError::kOk) return e;
    std::uint64_t t = 0;
    if (DecodeError e = ParseUnsigned(ticks, 32, &t); e != DecodeError::kOk) return e;
    m->time_stamp = static_cast<std::uint32_t>(t);
  } else {
    if (DecodeError e = ReadInt32(pdu, &m->request_id); e != DecodeError::kOk) return e;
    if (DecodeError e = ReadInt32(pdu, &m->error_status); e != DecodeError::kOk) return e;
    if (DecodeError e = ReadInt32(pdu, &m->error_index); e != DecodeError::kOk) return e;
  }
  if (DecodeError e = ReadBindings(pdu, &m->bindings); e != DecodeError::kOk) return e;
  if (!pdu.empty() || !msg.empty() || !in.empty()) return DecodeError::kTrailingBytes;
  return DecodeError::kOk;
}

// Encoding: each element is built as its contents, then framed.
using Bytes = std::vector<std::uint8_t>;

void PutLength(Bytes& out, std::size_t length) {
  if (length < 0x80) {
    out.push_back(static_cast<std::uint8_t>(length));
    return;
  }
  std::uint8_t bytes[sizeof(std::size_t)];
  std::size_t n = 0;
  for (std::size_t l = length; l != 0; l >>= 8) bytes[n++] = static_cast<std::uint8_t>(l);
  out.push_back(static_cast<std::uint8_t>(0x80 | n));
  while (n != 0) out.push_back(bytes[--n]);
}

void PutElement(Bytes& out, std::uint8_t tag, const Bytes& content) {
  out.push_back(tag);
  PutLength(out, content.size());
  out.insert(out.end(), content.begin(), content.end());
}

Bytes SignedContent(std::int64_t v) {
  // Drop leading bytes while the next one carries the same sign.
  Bytes b;
  for (int shift = 56; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(v) >> shift));
  std::size_t skip = 0;
  while (skip + 1 < b.size() && ((b[skip] == 0x00 && !(b[skip + 1] & 0x80)) || (b[skip] == 0xFF && (b[skip + 1] & 0x80)))) ++skip;
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(skip), b.end());
}

Bytes UnsignedContent(std::uint64_t v) {
  Bytes b{0};  // the leading zero, kept only when the top bit needs it
  for (int shift = 56; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(v >> shift));
  std::size_t skip = 0;
  while (skip + 1 < b.size() && b[skip] == 0x00 && !(b[skip + 1] & 0x80)) ++skip;
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(skip), b.end());
}

void PutArc(Bytes& out, std::uint64_t arc) {
  std::uint8_t groups[10];
  std::size_t n = 0;
  do {
    groups[n++] = static_cast<std::uint8_t>(arc & 0x7F);
    arc >>= 7;
  } while (arc != 0);
  while (n > 1) out.push_back(static_cast<std::uint8_t>(groups[--n] | 0x80));
  out.push_back(groups[0]);
}

// As given: an identifier of one arc is written as if its second were 0,
// an empty one with empty contents (which Decode refuses).
Bytes OidContent(const Oid& oid) {
  Bytes out;
  if (oid.empty()) return out;
  PutArc(out, std::uint64_t{oid[0]} * 40 + (oid.size() > 1 ? oid[1] : 0));
  for (std::size_t i = 2; i < oid.size(); ++i) PutArc(out, oid[i]);
  return out;
}

Bytes ValueContent(const Value& v) {
  switch (v.tag) {
    case Tag::kInteger: return SignedContent(v.integer);
    case Tag::kOctetString: case Tag::kIpAddress: case Tag::kOpaque: return v.octets;
    case Tag::kObjectId: return OidContent(v.oid);
    case Tag::kCounter32: case Tag::kGauge32: case Tag::kTimeTicks: case Tag::kCounter64:
      return UnsignedContent(v.number);
    default: return {};
  }
}

}  // namespace

const char* DecodeErrorText(DecodeError e) {
  switch (e) {
    case DecodeError::kOk: return "ok";
    case DecodeError::kTruncated: return "truncated";
    case DecodeError::kBadLength: return "bad length";
    case DecodeError::kTrailingBytes: return "trailing bytes";
    case DecodeError::kUnexpectedTag: return "unexpected tag";
    case DecodeError::kBadInteger: return "bad integer";
    case DecodeError::kBadOid: return "bad object identifier";
    case DecodeError::kBadAddress: return "bad IP address";
    case DecodeError::kUnsupportedVersion: return "unsupported version";
    case DecodeError::kUnsupportedPdu: return "unsupported PDU";
    case DecodeError::kTooDeep: return "nested too deep";
    case DecodeError::kTooManyBindings: return "too many variable bindings";
  }
  return "unknown error";
}

DecodeError Decode(const std::uint8_t* data, std::size_t size, Message* out) {
  if (size > kMaxMessageBytes) return DecodeError::kBadLength;
  if (data == nullptr && size != 0) return DecodeError::kTruncated;
  Message m;
  const DecodeError e = DecodeMessage(Span{data, data + size}, &m);
  if (e == DecodeError::kOk) *out = std::move(m);
  return e;
}

std::vector<std::uint8_t> Encode(const Message& message) {
  Bytes pdu;
  if (message.kind == PduKind::kTrapV1) {
    PutElement(pdu, static_cast<std::uint8_t>(Tag::kObjectId), OidContent(message.enterprise));
    PutElement(pdu, static_cast<std::uint8_t>(Tag::kIpAddress), Bytes(message.agent_address.begin(), message.agent_address.end()));
    PutElement(pdu, static_cast<std::uint8_t>(Tag::kInteger), SignedContent(message.generic));
    PutElement(pdu, static_cast<std::uint8_t>(Tag::kInteger), SignedContent(message.specific));
    PutElement(pdu, static_cast<std::uint8_t>(Tag::kTimeTicks), UnsignedContent(message.time_stamp));
  } else {
    PutElement(pdu, static_cast<std::uint8_t>(Tag::kInteger), SignedContent(message.request_id));
    PutElement(pdu, static_cast<std::uint8_t>(Tag::kInteger), SignedContent(message.error_status));
    PutElement(pdu, static_cast<std::uint8_t>(Tag::kInteger), SignedContent(message.error_index));
  }
  Bytes list;
  for (const VarBind& b : message.bindings) {
    Bytes binding;
    PutElement(binding, static_cast<std::uint8_t>(Tag::kObjectId), OidContent(b.name));
    PutElement(binding, static_cast<std::uint8_t>(b.value.tag), ValueContent(b.value));
    PutElement(list, kSequence, binding);
  }
  PutElement(pdu, kSequence, list);

  Bytes msg;
  PutElement(msg, static_cast<std::uint8_t>(Tag::kInteger), SignedContent(message.version));
  PutElement(msg, static_cast<std::uint8_t>(Tag::kOctetString), Bytes(message.community.begin(), message.community.end()));
  PutElement(msg, static_cast<std::uint8_t>(message.kind), pdu);
  Bytes out;
  PutElement(out, kSequence, msg);
  return out;
}

std::vector<std::uint8_t> EncodeResponse(const Message& inform) {
  Message response = inform;
  response.kind = PduKind::kResponse;
  response.error_status = 0;
  response.error_index = 0;
  return Encode(response);
}

namespace {

const Oid kSysUpTime = {1, 3, 6, 1, 2, 1, 1, 3, 0};
const Oid kSnmpTrapOid = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
const Oid kSnmpTrapEnterprise = {1, 3, 6, 1, 6, 3, 1, 1, 4, 3, 0};
const Oid kSnmpTrapAddress = {1, 3, 6, 1, 6, 3, 18, 1, 3, 0};
const Oid kSnmpTraps = {1, 3, 6, 1, 6, 3, 1, 1, 5};

const Value* Find(const std::vector<VarBind>& bindings, const Oid& name, Tag tag) {
  for (const VarBind& b : bindings) {
    if (b.name == name && b.value.tag == tag) return &b.value;
  }
  return nullptr;
}

}  // namespace

V1Fields ToV1(const Message& message, const std::array<std::uint8_t, 4>& sender) {
  V1Fields v1;
  if (message.kind == PduKind::kTrapV1) {
    v1.enterprise = message.enterprise;
    v1.agent_address = message.agent_address;
    v1.generic = message.generic;
    v1.specific = message.specific;
    v1.time_stamp = message.time_stamp;
    v1.bindings = message.bindings;
    return v1;
  }
  if (const Value* up = Find(message.bindings, kSysUpTime, Tag::kTimeTicks)) {
    v1.time_stamp = static_cast<std::uint32_t>(up->number);
  }
  v1.agent_address = sender;
  if (const Value* a = Find(message.bindings, kSnmpTrapAddress, Tag::kIpAddress); a && a->octets.size() == 4) {
    std::copy(a->octets.begin(), a->octets.end(), v1.agent_address.begin());
  }
  const Value* trap = Find(message.bindings, kSnmpTrapOid, Tag::kObjectId);
  const Oid* id = trap ? &trap->oid : nullptr;
  const bool standard = id && id->size() == kSnmpTraps.size() + 1 &&
                        std::equal(kSnmpTraps.begin(), kSnmpTraps.end(), id->begin()) &&
                        id->back() >= 1 && id->back() <= 6;
  if (standard) {
    // coldStart .. egpNeighborLoss; the enterprise is the sender's own
    // when it says so, else snmpTraps.
    v1.generic = static_cast<std::int32_t>(id->back() - 1);
    const Value* e = Find(message.bindings, kSnmpTrapEnterprise, Tag::kObjectId);
    v1.enterprise = e ? e->oid : kSnmpTraps;
  } else {
    v1.generic = 6;
    if (id && !id->empty()) {
      // A v1 specific number above 2^31-1 has no v1 form: it wraps, as the
      // 32-bit field of a v1 trap would.
      v1.specific = static_cast<std::int32_t>(id->back());
      v1.enterprise.assign(id->begin(), id->end() - 1);
      if (v1.enterprise.size() >= 1 && v1.enterprise.back() == 0) v1.enterprise.pop_back();
    }
  }
  for (const VarBind& b : message.bindings) {
    if (b.name != kSysUpTime && b.name != kSnmpTrapOid) v1.bindings.push_back(b);
  }
  return v1;
}

}  // namespace brisel::snmp
