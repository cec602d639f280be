// Our decoder against net-snmp's (snmp_parse) on generated messages: valid
// ones of every kind with every value type, and faults made from them.
// Wherever the two differ on purpose, the case says so and why.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tests/snmp_message/netsnmp_peer.h"
#include "tests/snmp_message/test_messages.h"

namespace brisel::snmp {
namespace {

using testing::Bytes;
using testing::Cat;
using testing::Element;

std::string Hex(const Bytes& b) {
  std::string s;
  char t[4];
  for (std::uint8_t x : b) {
    std::snprintf(t, sizeof t, "%02X ", x);
    s += t;
  }
  return s;
}

// A well-formed encoding as a tree, to write back with one element's length
// field in another form.
struct Node {
  std::uint8_t tag = 0;
  Bytes contents;  // primitive elements
  std::vector<Node> children;
};

Node Parse(const Bytes& b, std::size_t& at) {
  Node n;
  n.tag = b[at++];
  std::size_t length = b[at++];
  if (length & 0x80) {
    const std::size_t count = length & 0x7F;
    length = 0;
    for (std::size_t i = 0; i < count; ++i) length = (length << 8) | b[at++];
  }
  const std::size_t end = at + length;
  if (n.tag & 0x20) {
    while (at < end) n.children.push_back(Parse(b, at));
  } else {
    n.contents.assign(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(end));
    at = end;
  }
  return n;
}

enum class Form { kMinimal, kLong1, kLong4, kLong5, kIndefinite, kPlusOne, kMinusOne };

Bytes Field(std::size_t n, int bytes) {
  Bytes f{static_cast<std::uint8_t>(0x80 | bytes)};
  for (int i = bytes - 1; i >= 0; --i) f.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
  return f;
}

// Writes n with element number target (in document order) in form.
Bytes Emit(const Node& n, std::size_t target, Form form, std::size_t& index) {
  const bool mine = index++ == target;
  Bytes contents = n.contents;
  for (const Node& c : n.children) {
    Bytes part = Emit(c, target, form, index);
    contents.insert(contents.end(), part.begin(), part.end());
  }
  if (!mine || form == Form::kMinimal) return Element(n.tag, contents);
  const std::size_t len = contents.size();
  Bytes out{n.tag};
  Bytes field;
  switch (form) {
    case Form::kLong1: field = len < 0x100 ? Field(len, 1) : Field(len, 2); break;
    case Form::kLong4: field = Field(len, 4); break;
    case Form::kLong5: field = Field(len, 5); break;
    case Form::kIndefinite: field = {0x80}; contents.insert(contents.end(), {0, 0}); break;
    case Form::kPlusOne: field = testing::Length(len + 1); break;
    case Form::kMinusOne:
      if (len == 0) throw std::length_error("no shorter length");
      field = testing::Length(len - 1);
      break;
    case Form::kMinimal: break;
  }
  out.insert(out.end(), field.begin(), field.end());
  out.insert(out.end(), contents.begin(), contents.end());
  return out;
}

// Each element's tags from the root down ("30 A7 30 30" is a binding), in
// document order; last: whether it is its parent's last child.
struct Role {
  std::string path;
  bool last;
};

void Roles(const Node& n, const std::string& above, bool last, std::vector<Role>* out) {
  char t[4];
  std::snprintf(t, sizeof t, "%02X", n.tag);
  const std::string path = above.empty() ? t : above + " " + t;
  out->push_back({path, last});
  for (std::size_t i = 0; i < n.children.size(); ++i) Roles(n.children[i], path, i + 1 == n.children.size(), out);
}

// Empty when the form does not apply to that element.
Bytes Rewrite(const Node& root, std::size_t target, Form form) {
  std::size_t index = 0;
  try {
    return Emit(root, target, form, index);
  } catch (const std::length_error&) {
    return {};
  }
}

void ExpectAgreement(const Bytes& datagram, const std::string& what = "") {
  EXPECT_EQ(peer::Compare(datagram), "") << what << Hex(datagram);
}

TEST(NetSnmpDiff, ValidMessagesAgreeFieldByField) {
  for (const Message& m : testing::ValidMessages()) {
    const Bytes b = Encode(m);
    Message ours, theirs;
    std::string why;
    ASSERT_EQ(Decode(b.data(), b.size(), &ours), DecodeError::kOk) << Hex(b);
    EXPECT_EQ(ours, m);
    ASSERT_EQ(peer::Decode(b, &theirs, &why), peer::Verdict::kAccepted) << why << ": " << Hex(b);
    EXPECT_EQ(theirs, m) << Hex(b);
  }
}

TEST(NetSnmpDiff, TruncationAtEveryByteAndTrailingBytes) {
  for (const Message& m : testing::ValidMessages()) {
    const Bytes b = Encode(m);
    for (std::size_t n = 0; n < b.size(); ++n) ExpectAgreement(Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n)));
    // net-snmp reads the first message of a datagram and ignores what
    // follows; a datagram carries one message, so more bytes mean a broken
    // or forged sender, and we drop it.
    Bytes more = b;
    more.push_back(0);
    Message m2;
    std::string why;
    EXPECT_EQ(Decode(more.data(), more.size(), &m2), DecodeError::kTrailingBytes);
    EXPECT_EQ(peer::Decode(more, &m2, &why), peer::Verdict::kAccepted);
  }
}

// Every element of every message with its length field in each form.
TEST(NetSnmpDiff, LengthFormsOfEveryElement) {
  for (const Message& m : testing::ValidMessages()) {
    const Bytes b = Encode(m);
    std::size_t at = 0;
    const Node root = Parse(b, at);
    std::vector<Role> roles;
    Roles(root, "", true, &roles);
    for (std::size_t i = 0; i < roles.size(); ++i) {
      // Long forms BER allows: both read the same message.
      for (Form f : {Form::kLong1, Form::kLong4}) {
        const Bytes d = Rewrite(root, i, f);
        Message ours;
        EXPECT_EQ(Decode(d.data(), d.size(), &ours), DecodeError::kOk) << Hex(d);
        EXPECT_EQ(ours, m);
        ExpectAgreement(d);
      }
      // A wrong length may still leave a valid message by chance (the last
      // arc of a name read as the tag of the value); both must agree.
      for (Form f : {Form::kIndefinite, Form::kPlusOne, Form::kMinusOne}) {
        const Bytes d = Rewrite(root, i, f);
        if (d.empty()) continue;  // no length below 0
        const bool binding = roles[i].path.size() == 11 && roles[i].path.ends_with("30 30");
        if (f == Form::kPlusOne && binding && !roles[i].last) {
          // net-snmp reads a binding's name and value and goes on after
          // the value, whatever the binding's length says; a binding that
          // claims a byte of the next is malformed, and we drop it.
          Message ours, theirs;
          std::string why;
          EXPECT_EQ(Decode(d.data(), d.size(), &ours), DecodeError::kTrailingBytes) << Hex(d);
          EXPECT_EQ(peer::Decode(d, &theirs, &why), peer::Verdict::kAccepted) << Hex(d);
          continue;
        }
        ExpectAgreement(d, std::to_string(int(f)) + " " + roles[i].path + ": ");
      }
      // net-snmp takes length fields of up to sizeof(long) bytes; no
      // datagram needs more than 2, and the brief limit keeps the length
      // arithmetic in 32 bits on every target.
      const Bytes d = Rewrite(root, i, Form::kLong5);
      Message ours, theirs;
      std::string why;
      EXPECT_EQ(Decode(d.data(), d.size(), &ours), DecodeError::kBadLength) << Hex(d);
      EXPECT_EQ(peer::Decode(d, &theirs, &why), peer::Verdict::kAccepted) << Hex(d);
    }
  }
}
// Hand-made faults, one place and one kind of damage at a time. peer is
// what net-snmp does; where it differs from ours, the case says why.
using peer::Verdict;

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

const Bytes kUpTime = Element(0x30, Cat({H("06 08 2B 06 01 02 01 01 03 00"), H("43 02 30 39")}));
const Bytes kTrapOid = Element(0x30, Cat({H("06 0A 2B 06 01 06 03 01 01 04 01 00"), H("06 08 2B 06 01 04 01 09 00 05")}));

Bytes Message2(const Bytes& version, std::uint8_t pdu_tag, const Bytes& pdu) {
  return Element(0x30, Cat({version, H("04 06 70 75 62 6C 69 63"), Element(pdu_tag, pdu)}));
}
// A v2c trap whose third binding is name and value as given.
Bytes WithBinding(const Bytes& name, const Bytes& value) {
  const Bytes list = Element(0x30, Cat({kUpTime, kTrapOid, Element(0x30, Cat({name, value}))}));
  return Message2(H("02 01 01"), 0xA7, Cat({H("02 01 01 02 01 00 02 01 00"), list}));
}
Bytes WithValue(const char* value) { return WithBinding(H("06 03 2B 06 01"), H(value)); }
Bytes WithName(const Bytes& oid_contents) { return WithBinding(Element(0x06, oid_contents), H("05 00")); }
// A v1 trap with the given fields after the enterprise.
Bytes V1(const Bytes& enterprise, const char* fields) {
  return Message2(H("02 01 00"), 0xA4, Cat({enterprise, H(fields), Element(0x30, kUpTime)}));
}
Bytes Arcs(std::size_t n) {  // 1.3 then n - 2 arcs of 1
  Bytes b(n - 1, 0x01);
  b[0] = 0x2B;
  return b;
}

struct Case {
  const char* name;
  Bytes datagram;
  DecodeError ours;
  Verdict peer;
};

TEST(NetSnmpDiff, HandMadeFaults) {
  constexpr DecodeError ok = DecodeError::kOk;
  const Bytes pdu2 = Cat({H("02 01 01 02 01 00 02 01 00"), Element(0x30, Cat({kUpTime, kTrapOid}))});
  const Bytes trap2 = Message2(H("02 01 01"), 0xA7, pdu2);
  Bytes many;
  for (std::size_t i = 0; i <= kMaxBindings; ++i) many.insert(many.end(), kUpTime.begin(), kUpTime.end());
  const Case cases[] = {
      // Integers of each type, at their width and one byte past it.
      {"INTEGER of 4 bytes", WithValue("02 04 80 00 00 00"), ok, Verdict::kAccepted},
      // net-snmp holds an INTEGER in a C long (64 bits here) and takes up to
      // 8 bytes plus a leading zero; INTEGER is 32 bits, so 5 bytes is never one.
      {"INTEGER of 5 bytes", WithValue("02 05 00 00 00 00 01"), DecodeError::kBadInteger, Verdict::kAccepted},
      {"INTEGER of 10 bytes", WithValue("02 0A 00 00 00 00 00 00 00 00 00 01"), DecodeError::kBadInteger, Verdict::kRefused},
      {"INTEGER empty", WithValue("02 00"), DecodeError::kBadInteger, Verdict::kRefused},
      {"Counter32 with the leading zero", WithValue("41 05 00 FF FF FF FF"), ok, Verdict::kAccepted},
      {"Counter32 without it", WithValue("41 04 FF FF FF FF"), ok, Verdict::kAccepted},
      {"Counter32 read as the magnitude meant", WithValue("41 01 FF"), ok, Verdict::kAccepted},
      // 2^32 is no Counter32; net-snmp cuts it to 32 bits (0) with a log line.
      {"Counter32 of 2^32", WithValue("41 05 01 00 00 00 00"), DecodeError::kBadInteger, Verdict::kAccepted},
      {"Gauge32 of 2^32", WithValue("42 05 01 00 00 00 00"), DecodeError::kBadInteger, Verdict::kAccepted},
      {"TimeTicks of 2^32", WithValue("43 05 01 00 00 00 00"), DecodeError::kBadInteger, Verdict::kAccepted},
      // The same C long for unsigned types: 6 bytes pass there.
      {"Counter32 of 6 bytes", WithValue("41 06 00 00 00 00 00 01"), DecodeError::kBadInteger, Verdict::kAccepted},
      {"Counter32 empty", WithValue("41 00"), DecodeError::kBadInteger, Verdict::kRefused},
      {"Counter64 with the leading zero", WithValue("46 09 00 FF FF FF FF FF FF FF FF"), ok, Verdict::kAccepted},
      {"Counter64 of 2^64", WithValue("46 09 01 00 00 00 00 00 00 00 00"), DecodeError::kBadInteger, Verdict::kRefused},
      // net-snmp reads no contents as 0; BER has no empty integer.
      {"Counter64 empty", WithValue("46 00"), DecodeError::kBadInteger, Verdict::kAccepted},
      {"request id of 5 bytes", Message2(H("02 01 01"), 0xA7, Cat({H("02 05 01 00 00 00 00 02 01 00 02 01 00"), Element(0x30, kUpTime)})), DecodeError::kBadInteger, Verdict::kAccepted},
      // net-snmp cuts 2^32 + 1 to 32 bits and reads version 1.
      {"version of 5 bytes", Message2(H("02 05 01 00 00 00 01"), 0xA7, pdu2), DecodeError::kBadInteger, Verdict::kAccepted},
      {"v1 time stamp of 2^32", V1(H("06 01 2B"), "40 04 01 02 03 04 02 01 06 02 01 01 43 05 01 00 00 00 00"), DecodeError::kBadInteger, Verdict::kAccepted},
      {"v1 generic of 5 bytes", V1(H("06 01 2B"), "40 04 01 02 03 04 02 05 01 00 00 00 00 02 01 01 43 01 00"), DecodeError::kBadInteger, Verdict::kAccepted},
      // Object identifiers.
      {"OID of 128 arcs", WithName(Arcs(128)), ok, Verdict::kAccepted},
      {"OID of 129 arcs", WithName(Arcs(129)), DecodeError::kBadOid, Verdict::kRefused},
      {"OID value of 129 arcs", WithBinding(H("06 01 2B"), Element(0x06, Arcs(129))), DecodeError::kBadOid, Verdict::kRefused},
      {"enterprise of 129 arcs", V1(Element(0x06, Arcs(129)), "40 04 01 02 03 04 02 01 06 02 01 01 43 01 00"), DecodeError::kBadOid, Verdict::kRefused},
      {"arc of 2^32-1", WithName(H("2B 8F FF FF FF 7F")), ok, Verdict::kAccepted},
      {"arc of 2^32", WithName(H("2B 90 80 80 80 00")), DecodeError::kBadOid, Verdict::kRefused},
      {"first subidentifier of 2^32", WithName(H("90 80 80 80 00")), DecodeError::kBadOid, Verdict::kRefused},
      {"arc cut short", WithName(H("2B 06 81")), DecodeError::kBadOid, Verdict::kRefused},
      // X.690 gives an identifier at least one subidentifier and each one
      // encoding (no leading 0x80); net-snmp reads .0.0 and the padded arc.
      {"OID empty", WithName(H("")), DecodeError::kBadOid, Verdict::kAccepted},
      {"arc padded with 0x80", WithName(H("2B 80 01")), DecodeError::kBadOid, Verdict::kAccepted},
      // Addresses.
      {"IpAddress of 3 bytes", WithValue("40 03 01 02 03"), DecodeError::kBadAddress, Verdict::kRefused},
      {"IpAddress of 5 bytes", WithValue("40 05 01 02 03 04 05"), DecodeError::kBadAddress, Verdict::kRefused},
      // An IpAddress is 4 bytes (RFC 1155); net-snmp fills a short agent
      // address up with zeros, which would show an address nobody sent.
      {"agent address of 3 bytes", V1(H("06 01 2B"), "40 03 01 02 03 02 01 06 02 01 01 43 01 00"), DecodeError::kBadAddress, Verdict::kAccepted},
      {"agent address of 5 bytes", V1(H("06 01 2B"), "40 05 01 02 03 04 05 02 01 06 02 01 01 43 01 00"), DecodeError::kBadAddress, Verdict::kRefused},
      // NULL and the exceptions have no contents (X.690 8.8.2); net-snmp
      // skips whatever is there.
      {"NULL with contents", WithValue("05 01 00"), DecodeError::kBadLength, Verdict::kAccepted},
      {"noSuchObject with contents", WithValue("80 01 00"), DecodeError::kBadLength, Verdict::kAccepted},
      // Tags. net-snmp also takes three that neither SNMPv1 (RFC 1155) nor
      // SNMPv2 (RFC 3416) has: UInteger32 and NsapAddress of the withdrawn
      // SNMPv2 drafts, and BIT STRING (BITS travel as OCTET STRING).
      {"UInteger32 of the SNMPv2 drafts", WithValue("47 01 05"), DecodeError::kUnexpectedTag, Verdict::kIncomparable},
      {"NsapAddress", WithValue("45 01 05"), DecodeError::kUnexpectedTag, Verdict::kIncomparable},
      {"BIT STRING", WithValue("03 01 00"), DecodeError::kUnexpectedTag, Verdict::kIncomparable},
      {"BOOLEAN", WithValue("01 01 00"), DecodeError::kUnexpectedTag, Verdict::kRefused},
      {"a SEQUENCE as value", WithValue("30 03 02 01 00"), DecodeError::kTooDeep, Verdict::kRefused},
      {"a constructed OCTET STRING", WithValue("24 03 04 01 41"), DecodeError::kTooDeep, Verdict::kRefused},
      {"a high tag number", WithValue("1F 01 01 00"), DecodeError::kUnexpectedTag, Verdict::kRefused},
      {"message not a SEQUENCE", Element(0x31, Bytes(trap2.begin() + 2, trap2.end())), DecodeError::kUnexpectedTag, Verdict::kRefused},
      {"community not an OCTET STRING", Element(0x30, Cat({H("02 01 01 02 01 00"), Element(0xA7, pdu2)})), DecodeError::kUnexpectedTag, Verdict::kRefused},
      // Versions and PDUs.
      {"SNMPv2c trap", Message2(H("02 01 01"), 0xA7, pdu2), ok, Verdict::kAccepted},
      {"SNMPv2c inform", Message2(H("02 01 01"), 0xA6, pdu2), ok, Verdict::kAccepted},
      {"version 2 (SNMPv2u)", Message2(H("02 01 02"), 0xA7, pdu2), DecodeError::kUnsupportedVersion, Verdict::kRefused},
      {"version 3", Message2(H("02 01 03"), 0xA7, pdu2), DecodeError::kUnsupportedVersion, Verdict::kRefused},
      {"version -1", Message2(H("02 01 FF"), 0xA7, pdu2), DecodeError::kUnsupportedVersion, Verdict::kRefused},
      // net-snmp parses any PDU in any version; SNMPv1 has no v2 PDUs and
      // SNMPv2c no Trap-PDU (RFC 1157, RFC 3416), so a sender mixing them is
      // broken, and mapping its fields would be guesswork.
      {"SNMPv1 with a v2 trap", Message2(H("02 01 00"), 0xA7, pdu2), DecodeError::kUnsupportedPdu, Verdict::kAccepted},
      {"SNMPv1 with an inform", Message2(H("02 01 00"), 0xA6, pdu2), DecodeError::kUnsupportedPdu, Verdict::kAccepted},
      {"SNMPv2c with a v1 trap", Message2(H("02 01 01"), 0xA4, Cat({H("06 01 2B 40 04 01 02 03 04 02 01 06 02 01 01 43 01 00"), Element(0x30, kUpTime)})), DecodeError::kUnsupportedPdu, Verdict::kAccepted},
      {"GetRequest", Message2(H("02 01 01"), 0xA0, pdu2), DecodeError::kUnsupportedPdu, Verdict::kIncomparable},
      {"Response", Message2(H("02 01 01"), 0xA2, pdu2), DecodeError::kUnsupportedPdu, Verdict::kIncomparable},
      {"Report", Message2(H("02 01 01"), 0xA8, pdu2), DecodeError::kUnsupportedPdu, Verdict::kIncomparable},
      {"context tag A9", Message2(H("02 01 01"), 0xA9, pdu2), DecodeError::kUnexpectedTag, Verdict::kRefused},
      // Structure. net-snmp stops reading a PDU after its binding list.
      {"an element after the binding list", Message2(H("02 01 01"), 0xA7, Cat({pdu2, H("05 00")})), DecodeError::kTrailingBytes, Verdict::kAccepted},
      {"a binding of three elements", WithBinding(H("06 01 2B"), H("05 00 05 00")), DecodeError::kTrailingBytes, Verdict::kRefused},
      {"a binding list holding a NULL", Message2(H("02 01 01"), 0xA7, Cat({H("02 01 01 02 01 00 02 01 00"), Element(0x30, H("05 00"))})), DecodeError::kUnexpectedTag, Verdict::kRefused},
      // Bounds of ours that net-snmp does not have: a datagram holds at most
      // 65535 bytes anyway, and the binding bound keeps a datagram's work
      // and memory small.
      {"more than 1024 bindings", Message2(H("02 01 01"), 0xA7, Cat({H("02 01 01 02 01 00 02 01 00"), Element(0x30, many)})), DecodeError::kTooManyBindings, Verdict::kAccepted},
      {"more than 65535 bytes", WithBinding(H("06 01 2B"), Element(0x04, Bytes(65535, 'x'))), DecodeError::kBadLength, Verdict::kAccepted},
  };
  for (const Case& c : cases) {
    Message ours, theirs;
    std::string why;
    EXPECT_EQ(Decode(c.datagram.data(), c.datagram.size(), &ours), c.ours) << c.name;
    const Verdict v = peer::Decode(c.datagram, &theirs, &why);
    EXPECT_EQ(v, c.peer) << c.name << " " << why;
    if (c.ours == DecodeError::kOk && v == Verdict::kAccepted) {
      EXPECT_EQ(ours, theirs) << c.name;
    }
  }
}

}  // namespace
}  // namespace brisel::snmp
