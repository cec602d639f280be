// The SNMP Management API calls the trap source and the identifier
// conversions make, as one table. The product fills it from mgmtapi.dll;
// tests put a simulated trap service behind it (snmp/testing.h).
#pragma once

#include <windows.h>
#include <snmp.h>

#include <atomic>

namespace brisel {

struct SnmpMgrApi {
  BOOL(WINAPI* TrapListen)(HANDLE* trap_available);
  BOOL(WINAPI* GetTrapEx)(AsnObjectIdentifier* enterprise, AsnNetworkAddress* agent_address,
                          AsnNetworkAddress* source_address, AsnInteger* generic_trap, AsnInteger* specific_trap,
                          AsnOctetString* community, AsnTimeticks* time_stamp, SnmpVarBindList* bindings);
  BOOL(WINAPI* StrToOid)(LPSTR text, AsnObjectIdentifier* oid);
  BOOL(WINAPI* OidToStr)(AsnObjectIdentifier* oid, LPSTR* text);
};

// The table in use. Every entry is callable: when mgmtapi.dll or one of its
// functions is missing, the entry fails as the call would.
const SnmpMgrApi& SnmpMgr() noexcept;

namespace detail {
// Null for the platform's table; only snmp/testing.cpp sets it.
extern std::atomic<const SnmpMgrApi*> g_snmp_mgr_override;
}  // namespace detail

}  // namespace brisel
