// Texts of variable bindings, identifiers and addresses.
#include <gtest/gtest.h>

#include <clocale>

#include "snmp/varbind.h"
#include "tests/win/snmp/sim_trap_service.h"

using namespace brisel;
using namespace brisel::test;

namespace {

struct Texts {
  std::wstring oid, encoding, value;
  bool result;
};

// Builds the binding with the SNMP allocator, formats it and frees it as the
// trap source does.
Texts Format(const SimBinding& b) {
  SnmpVarBind vb{};
  vb.name = AllocOid(b.name);
  vb.value.asnType = b.type;
  switch (b.type) {
    case ASN_INTEGER: vb.value.asnValue.number = b.number; break;
    case ASN_OCTETSTRING:
    case ASN_IPADDRESS:
    case ASN_BITS:
    case ASN_OPAQUE:
    case ASN_SEQUENCE: vb.value.asnValue.string = AllocOctets(b.octets); break;
    case ASN_OBJECTIDENTIFIER: vb.value.asnValue.object = AllocOid(b.oid); break;
    case ASN_COUNTER64: vb.value.asnValue.counter64.QuadPart = b.counter64; break;
    default: vb.value.asnValue.unsigned32 = b.unsigned32; break;
  }
  Texts t;
  t.result = FormatVarbind(vb, &t.oid, &t.encoding, &t.value);
  ::SnmpUtilVarBindFree(&vb);
  return t;
}

SimBinding Of(BYTE type) {
  SimBinding b;
  b.name = {1, 3, 6, 1, 2, 1, 1, 3, 0};
  b.type = type;
  return b;
}

class Varbind : public ::testing::Test {
 protected:
  // The module runs in the system ANSI code page (1252 under Wine).
  void SetUp() override { std::setlocale(LC_ALL, ".ACP"); }
  void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(Varbind, NameInDottedFormWithLeadingDot) {
  Texts t = Format(Of(ASN_INTEGER));
  EXPECT_EQ(t.oid, L".1.3.6.1.2.1.1.3.0");
  std::wstring text = L"x";
  OidToText(0, nullptr, &text);
  EXPECT_EQ(text, L"x") << "an empty identifier appends nothing";
  const UINT big[] = {1, 4294967295u};
  OidToText(2, big, &text);
  EXPECT_EQ(text, L"x.1.-1") << "sub-identifiers print as signed 32-bit numbers";
}

TEST_F(Varbind, IntegerAndUnsignedNumbers) {
  SimBinding b = Of(ASN_INTEGER);
  b.number = -5;
  Texts t = Format(b);
  EXPECT_EQ(t.encoding, L"INTEGER");
  EXPECT_EQ(t.value, L"-5");
  EXPECT_TRUE(t.result);
  b = Of(ASN_UINTEGER32);
  b.unsigned32 = 4294967295u;
  t = Format(b);
  EXPECT_EQ(t.encoding, L"UNSIGNED32");
  EXPECT_EQ(t.value, L"4294967295");
  const std::pair<BYTE, const wchar_t*> kinds[] = {
      {ASN_COUNTER32, L"COUNTER32"}, {ASN_GAUGE32, L"GAUGE32"}, {ASN_TIMETICKS, L"TIMETICKS"}};
  for (auto [type, name] : kinds) {
    b = Of(type);
    b.unsigned32 = 7;
    t = Format(b);
    EXPECT_EQ(t.encoding, name);
    EXPECT_EQ(t.value, L"7");
  }
}

TEST_F(Varbind, Counter64IsUnsignedWithEmptyEncoding) {
  SimBinding b = Of(ASN_COUNTER64);
  b.counter64 = 1ull << 32;
  Texts t = Format(b);
  EXPECT_EQ(t.value, L"4294967296");
  EXPECT_EQ(t.encoding, L"");
  EXPECT_TRUE(t.result);
  b.counter64 = 1ull << 63;
  EXPECT_EQ(Format(b).value, L"9223372036854775808");
  b.counter64 = ~0ull;
  EXPECT_EQ(Format(b).value, L"18446744073709551615");
}

TEST_F(Varbind, OctetStringShowsPrintableOctetsAndEscapesTheRest) {
  SimBinding b = Of(ASN_OCTETSTRING);
  b.octets = {0x41, 0x42, 0x0A, 0x43};
  Texts t = Format(b);
  EXPECT_EQ(t.encoding, L"OCTET STRING");
  EXPECT_EQ(t.value, L"AB<A>C");
  b.octets = {0x00};
  EXPECT_EQ(Format(b).value, L"<0>");
  b.octets = {0x7F, 0x20};
  EXPECT_EQ(Format(b).value, L"<7F> ");
  b.octets = {};
  t = Format(b);
  EXPECT_EQ(t.value, L"");
  EXPECT_EQ(t.encoding, L"OCTET STRING");
}

TEST_F(Varbind, OctetsAboveAsciiFollowTheCodePagesPrintableSetWithoutConversion) {
  SimBinding b = Of(ASN_OCTETSTRING);
  // 0xA9 is printable in 1252 and shown as the character of that code;
  // 0x80 is the euro sign in 1252 but must not be converted to U+20AC.
  b.octets = {0xA9};
  EXPECT_EQ(Format(b).value, std::wstring(1, wchar_t{0xA9}));
  for (BYTE octet : {0x80, 0x81, 0xFF}) {
    b.octets = {octet};
    std::wstring value = Format(b).value;
    if (std::isprint(octet)) {
      EXPECT_EQ(value, std::wstring(1, wchar_t{octet}));
    } else {
      wchar_t expected[8];
      _snwprintf(expected, 8, L"<%X>", octet);
      EXPECT_EQ(value, expected);
    }
  }
  // In the "C" locale the same octet is not printable.
  std::setlocale(LC_ALL, "C");
  b.octets = {0xA9};
  EXPECT_EQ(Format(b).value, L"<A9>");
}

TEST_F(Varbind, ObjectIdentifierAndIpAddress) {
  SimBinding b = Of(ASN_OBJECTIDENTIFIER);
  b.oid = {1, 3, 6, 1, 4, 1, 9};
  Texts t = Format(b);
  EXPECT_EQ(t.encoding, L"OBJECTIDENTIFIER");
  EXPECT_EQ(t.value, L".1.3.6.1.4.1.9");
  b = Of(ASN_IPADDRESS);
  b.octets = {0xC0, 0xA8, 0x01, 0x05};
  t = Format(b);
  EXPECT_EQ(t.encoding, L"IPADDRESS");
  EXPECT_EQ(t.value, L"192.168.1.5");
  b.octets = {0xC0, 0xA8, 0x01, 0x05, 0x09};
  EXPECT_EQ(Format(b).value, L"192.168.1.5") << "only four octets";
}

TEST_F(Varbind, ShortAddressesShowTheOctetsThereAre) {
  SimBinding b = Of(ASN_IPADDRESS);
  b.octets = {10, 0};
  EXPECT_EQ(Format(b).value, L"10.0");
  b.octets = {};
  EXPECT_EQ(Format(b).value, L"");
  AsnOctetString none{};
  none.length = 4;  // a length without octets
  EXPECT_EQ(AddressText(none), L"");
  AsnOctetString one = AllocOctets({7});
  EXPECT_EQ(AddressText(one), L"7");
  ::SnmpUtilMemFree(one.stream);
}

TEST_F(Varbind, UnrenderedAndExceptionTypesLeaveTextsEmpty) {
  for (BYTE type : {ASN_BITS, ASN_SEQUENCE, ASN_OPAQUE}) {
    SimBinding b = Of(type);
    b.octets = {1, 2};
    Texts t = Format(b);
    EXPECT_FALSE(t.result) << int(type);
    EXPECT_EQ(t.encoding, L"");
    EXPECT_EQ(t.value, L"");
    EXPECT_EQ(t.oid, L".1.3.6.1.2.1.1.3.0");
  }
  for (BYTE type : {BYTE(ASN_NULL), BYTE(SNMP_EXCEPTION_NOSUCHOBJECT), BYTE(SNMP_EXCEPTION_NOSUCHINSTANCE),
                    BYTE(SNMP_EXCEPTION_ENDOFMIBVIEW), BYTE(0x99)}) {
    Texts t = Format(Of(type));
    EXPECT_TRUE(t.result) << int(type);
    EXPECT_EQ(t.encoding, L"");
    EXPECT_EQ(t.value, L"");
    EXPECT_EQ(t.oid, L".1.3.6.1.2.1.1.3.0");
  }
}

}  // namespace
