// Texts of one variable binding: name, type name and value.
#pragma once

#include <windows.h>
#include <snmp.h>

#include <string>

namespace brisel {

// Appends the dotted form (".1.3.6.1") of an identifier; an empty identifier
// appends nothing.
bool OidToText(UINT count, const UINT* ids, std::wstring* target);

// "a.b.c.d" of the first four octets of an address; a shorter address shows
// the octets it has.
std::wstring AddressText(const AsnOctetString& address);

// Fills the three texts of a binding (they are empty on entry). False for the
// types it does not render (BITS, SEQUENCE, Opaque).
bool FormatVarbind(const SnmpVarBind& binding, std::wstring* object_identifier, std::wstring* encoding,
                   std::wstring* value);

}  // namespace brisel
