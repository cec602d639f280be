#include "snmp/varbind.h"

#include <cctype>

#include "collector/strings.h"

namespace brisel {

bool OidToText(UINT count, const UINT* ids, std::wstring* target) {
  if (!ids) return true;
  std::wstring part;
  for (UINT i = 0; i < count; ++i) {
    if (FormatW(&part, L".%d", static_cast<int>(ids[i]))) target->append(part);
  }
  return true;
}

std::wstring AddressText(const AsnOctetString& address) {
  std::wstring text;
  UINT n = address.stream ? (address.length < 4 ? address.length : 4) : 0;
  std::wstring part;
  for (UINT i = 0; i < n; ++i) {
    if (!FormatW(&part, i == 0 ? L"%u" : L".%u", static_cast<unsigned>(address.stream[i]))) break;
    text.append(part);
  }
  return text;
}

namespace {

void AppendOctets(const AsnOctetString& octets, std::wstring* value) {
  if (!octets.stream) return;
  std::wstring escaped;
  for (UINT i = 0; i < octets.length; ++i) {
    unsigned char b = octets.stream[i];
    // The octet itself as the character, not converted through the code page.
    if (std::isprint(b)) {
      value->push_back(static_cast<wchar_t>(b));
    } else if (FormatW(&escaped, L"<%X>", static_cast<unsigned>(b))) {
      value->append(escaped);
    }
  }
}

}  // namespace

bool FormatVarbind(const SnmpVarBind& binding, std::wstring* object_identifier, std::wstring* encoding,
                   std::wstring* value) {
  OidToText(binding.name.idLength, binding.name.ids, object_identifier);
  const AsnAny& any = binding.value;
  switch (any.asnType) {
    case ASN_INTEGER:
      encoding->assign(L"INTEGER");
      FormatW(value, L"%d", static_cast<int>(any.asnValue.number));
      return true;
    case ASN_OCTETSTRING:
      encoding->assign(L"OCTET STRING");
      AppendOctets(any.asnValue.string, value);
      return true;
    case ASN_OBJECTIDENTIFIER:
      encoding->assign(L"OBJECTIDENTIFIER");
      OidToText(any.asnValue.object.idLength, any.asnValue.object.ids, value);
      return true;
    case ASN_IPADDRESS:
      encoding->assign(L"IPADDRESS");
      value->assign(AddressText(any.asnValue.address));
      return true;
    case ASN_COUNTER32:
      encoding->assign(L"COUNTER32");
      FormatW(value, L"%u", static_cast<unsigned>(any.asnValue.counter));
      return true;
    case ASN_GAUGE32:
      encoding->assign(L"GAUGE32");
      FormatW(value, L"%u", static_cast<unsigned>(any.asnValue.gauge));
      return true;
    case ASN_TIMETICKS:
      encoding->assign(L"TIMETICKS");
      FormatW(value, L"%u", static_cast<unsigned>(any.asnValue.ticks));
      return true;
    case ASN_COUNTER64:
      // Unsigned: counters of 2^63 and above must not come out negative.
      FormatW(value, L"%I64u", static_cast<unsigned long long>(any.asnValue.counter64.QuadPart));
      return true;
    case ASN_UINTEGER32:
      encoding->assign(L"UNSIGNED32");
      FormatW(value, L"%u", static_cast<unsigned>(any.asnValue.unsigned32));
      return true;
    case ASN_BITS:
    case ASN_SEQUENCE:
    case ASN_OPAQUE:
      return false;
    default:
      return true;
  }
}

}  // namespace brisel
