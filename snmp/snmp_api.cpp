#include "snmp/snmp_api.h"

namespace brisel {

namespace detail {
std::atomic<const SnmpMgrApi*> g_snmp_mgr_override{nullptr};
}  // namespace detail

namespace {

// Stand-ins for functions the platform does not offer: they fail as the
// real calls fail, with the reason in the last-error code.
DWORD g_load_error = ERROR_PROC_NOT_FOUND;

BOOL WINAPI MissingTrapListen(HANDLE*) {
  ::SetLastError(g_load_error);
  return FALSE;
}
BOOL WINAPI MissingGetTrapEx(AsnObjectIdentifier*, AsnNetworkAddress*, AsnNetworkAddress*, AsnInteger*, AsnInteger*,
                             AsnOctetString*, AsnTimeticks*, SnmpVarBindList*) {
  ::SetLastError(g_load_error);
  return FALSE;
}
BOOL WINAPI MissingStrToOid(LPSTR, AsnObjectIdentifier*) {
  ::SetLastError(g_load_error);
  return FALSE;
}
BOOL WINAPI MissingOidToStr(AsnObjectIdentifier*, LPSTR*) {
  ::SetLastError(g_load_error);
  return FALSE;
}

template <class Fn>
void Resolve(HMODULE module, const char* name, Fn* slot) {
  if (!module) return;
  if (FARPROC p = ::GetProcAddress(module, name)) *slot = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(p));
}

// Loaded once and kept for the process: the trap worker may be inside the
// API until the process ends.
SnmpMgrApi LoadPlatformApi() noexcept {
  SnmpMgrApi api{&MissingTrapListen, &MissingGetTrapEx, &MissingStrToOid, &MissingOidToStr};
  HMODULE module = ::LoadLibraryW(L"mgmtapi.dll");
  if (!module) {
    g_load_error = ::GetLastError();
    return api;
  }
  Resolve(module, "SnmpMgrTrapListen", &api.TrapListen);
  Resolve(module, "SnmpMgrGetTrapEx", &api.GetTrapEx);
  Resolve(module, "SnmpMgrStrToOid", &api.StrToOid);
  Resolve(module, "SnmpMgrOidToStr", &api.OidToStr);
  return api;
}

}  // namespace

const SnmpMgrApi& SnmpMgr() noexcept {
  if (const SnmpMgrApi* api = detail::g_snmp_mgr_override.load()) return *api;
  static const SnmpMgrApi platform = LoadPlatformApi();
  return platform;
}

}  // namespace brisel
