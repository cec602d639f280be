// Our decoder against net-snmp's (snmp_parse) on generated messages: valid
// ones of every kind with every value type, and faults made from them.
// Wherever the two differ on purpose, the case says so and why.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tests/snmp_message/netsnmp_peer.h"
#include "tests/snmp_message/fault_table.h"

namespace brisel::snmp {
namespace {

using peer::Verdict;
using testing::Bytes;
using testing::Cat;
using testing::Element;

std::string Dump(const Bytes& b) {
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
  EXPECT_EQ(peer::Compare(datagram), "") << what << Dump(datagram);
}

TEST(NetSnmpDiff, ValidMessagesAgreeFieldByField) {
  for (const Message& m : testing::ValidMessages()) {
    const Bytes b = Encode(m);
    Message ours, theirs;
    std::string why;
    ASSERT_EQ(Decode(b.data(), b.size(), &ours), DecodeError::kOk) << Dump(b);
    EXPECT_EQ(ours, m);
    ASSERT_EQ(peer::Decode(b, &theirs, &why), peer::Verdict::kAccepted) << why << ": " << Dump(b);
    EXPECT_EQ(theirs, m) << Dump(b);
  }
}

TEST(NetSnmpDiff, TruncationAtEveryByte) {
  for (const Message& m : testing::ValidMessages()) {
    const Bytes b = Encode(m);
    for (std::size_t n = 0; n < b.size(); ++n) ExpectAgreement(Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n)));
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
        EXPECT_EQ(Decode(d.data(), d.size(), &ours), DecodeError::kOk) << Dump(d);
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
          EXPECT_EQ(Decode(d.data(), d.size(), &ours), DecodeError::kTrailingBytes) << Dump(d);
          EXPECT_EQ(peer::Decode(d, &theirs, &why), peer::Verdict::kAccepted) << Dump(d);
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
      EXPECT_EQ(Decode(d.data(), d.size(), &ours), DecodeError::kBadLength) << Dump(d);
      EXPECT_EQ(peer::Decode(d, &theirs, &why), peer::Verdict::kAccepted) << Dump(d);
    }
  }
}
TEST(NetSnmpDiff, HandMadeFaults) {
  for (const testing::Fault& f : testing::Faults()) {
    Message ours, theirs;
    std::string why;
    const Verdict v = peer::Decode(f.datagram, &theirs, &why);
    const Verdict expected = f.peer == testing::Peer::kAccepts   ? Verdict::kAccepted
                             : f.peer == testing::Peer::kRefuses ? Verdict::kRefused
                                                                 : Verdict::kIncomparable;
    EXPECT_EQ(v, expected) << f.name << " " << why;
    if (Decode(f.datagram.data(), f.datagram.size(), &ours) == DecodeError::kOk && v == Verdict::kAccepted) {
      EXPECT_EQ(ours, theirs) << f.name;
    }
  }
}

}  // namespace
}  // namespace brisel::snmp
