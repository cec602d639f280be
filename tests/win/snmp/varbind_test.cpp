// Texts of variable bindings, identifiers and addresses.
#include <gtest/gtest.h>

#include <clocale>

#include "snmp/varbind.h"
#include "tests/win/snmp/sim_trap_service.h"

using namespace brisel;
using namespace brisel::test;

namespace {

struct Row {
  BYTE type;
  ULONGLONG number;         // INTEGER, the 32-bit kinds, Counter64
  std::vector<UINT> data;   // octets, or the identifier's numbers
  const wchar_t *encoding, *value;
  bool result = true;
};

// Builds the binding with the SNMP allocator, formats it and frees it as the
// trap source does.
void Check(const Row& row) {
  SnmpVarBind vb{};
  vb.name = AllocOid({1, 3, 6, 1, 2, 1, 1, 3, 0});
  vb.value.asnType = row.type;
  std::vector<BYTE> octets(row.data.begin(), row.data.end());
  switch (row.type) {
    case ASN_INTEGER: vb.value.asnValue.number = static_cast<LONG>(row.number); break;
    case ASN_OCTETSTRING: case ASN_IPADDRESS: case ASN_BITS: case ASN_OPAQUE: case ASN_SEQUENCE:
      vb.value.asnValue.string = AllocOctets(octets); break;
    case ASN_OBJECTIDENTIFIER: vb.value.asnValue.object = AllocOid(row.data); break;
    case ASN_COUNTER64: vb.value.asnValue.counter64.QuadPart = row.number; break;
    default: vb.value.asnValue.unsigned32 = static_cast<ULONG>(row.number); break;
  }
  std::wstring oid, encoding, value;
  EXPECT_EQ(FormatVarbind(vb, &oid, &encoding, &value), row.result);
  ::SnmpUtilVarBindFree(&vb);
  EXPECT_EQ(oid, L".1.3.6.1.2.1.1.3.0");
  EXPECT_EQ(encoding, row.encoding);
  EXPECT_EQ(value, row.value);
}

TEST(Varbind, TextsOfEveryValueType) {
  // The module runs in the system ANSI code page (1252 under Wine): 0xA9 and
  // 0xFF are printable there and shown as the characters of those codes.
  std::setlocale(LC_ALL, ".ACP");
  const Row rows[] = {
      {ASN_INTEGER, static_cast<ULONGLONG>(-5), {}, L"INTEGER", L"-5"},
      {ASN_UINTEGER32, 4294967295u, {}, L"UNSIGNED32", L"4294967295"},
      {ASN_COUNTER32, 7, {}, L"COUNTER32", L"7"},
      {ASN_GAUGE32, 7, {}, L"GAUGE32", L"7"},
      {ASN_TIMETICKS, 7, {}, L"TIMETICKS", L"7"},
      {ASN_COUNTER64, 1ull << 32, {}, L"", L"4294967296"},
      {ASN_COUNTER64, 1ull << 63, {}, L"", L"9223372036854775808"},
      {ASN_COUNTER64, ~0ull, {}, L"", L"18446744073709551615"},
      {ASN_OCTETSTRING, 0, {0x41, 0x42, 0x0A, 0x43}, L"OCTET STRING", L"AB<A>C"},
      {ASN_OCTETSTRING, 0, {0x00}, L"OCTET STRING", L"<0>"},
      {ASN_OCTETSTRING, 0, {0x7F, 0x20}, L"OCTET STRING", L"<7F> "},
      {ASN_OCTETSTRING, 0, {}, L"OCTET STRING", L""},
      {ASN_OCTETSTRING, 0, {0xA9, 0x81, 0xFF}, L"OCTET STRING", L"\u00a9<81>\u00ff"},
      {ASN_OBJECTIDENTIFIER, 0, {1, 3, 6, 1, 4, 1, 9}, L"OBJECTIDENTIFIER", L".1.3.6.1.4.1.9"},
      {ASN_IPADDRESS, 0, {0xC0, 0xA8, 0x01, 0x05}, L"IPADDRESS", L"192.168.1.5"},
      {ASN_IPADDRESS, 0, {0xC0, 0xA8, 0x01, 0x05, 0x09}, L"IPADDRESS", L"192.168.1.5"},
      {ASN_IPADDRESS, 0, {10, 0}, L"IPADDRESS", L"10.0"},
      {ASN_IPADDRESS, 0, {}, L"IPADDRESS", L""},
      {ASN_BITS, 0, {1, 2}, L"", L"", false},
      {ASN_SEQUENCE, 0, {1, 2}, L"", L"", false},
      {ASN_OPAQUE, 0, {1, 2}, L"", L"", false},
      {ASN_NULL, 0, {}, L"", L""},
      {SNMP_EXCEPTION_NOSUCHOBJECT, 0, {}, L"", L""},
      {SNMP_EXCEPTION_NOSUCHINSTANCE, 0, {}, L"", L""},
      {SNMP_EXCEPTION_ENDOFMIBVIEW, 0, {}, L"", L""},
      {0x99, 0, {}, L"", L""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "type " << int(row.type) << " row " << (&row - rows));
    Check(row);
  }
  // The euro sign of 1252 is never converted to U+20AC.
  Check({ASN_OCTETSTRING, 0, {0x80}, L"OCTET STRING", std::isprint(0x80) ? L"\u0080" : L"<80>"});
  // In the "C" locale the same octet is not printable.
  std::setlocale(LC_ALL, "C");
  Check({ASN_OCTETSTRING, 0, {0xA9}, L"OCTET STRING", L"<A9>"});
}

TEST(Varbind, IdentifiersAndAddressesWithoutData) {
  std::wstring text = L"x";
  OidToText(0, nullptr, &text);
  EXPECT_EQ(text, L"x") << "an empty identifier appends nothing";
  const UINT big[] = {1, 4294967295u};
  OidToText(2, big, &text);
  EXPECT_EQ(text, L"x.1.-1") << "sub-identifiers print as signed 32-bit numbers";
  AsnOctetString none{};
  none.length = 4;  // a length without octets
  EXPECT_EQ(AddressText(none), L"");
  AsnOctetString one = AllocOctets({7});
  EXPECT_EQ(AddressText(one), L"7");
  ::SnmpUtilMemFree(one.stream);
}

}  // namespace
