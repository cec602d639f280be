#include "tests/win/snmp/sim_trap_service.h"

#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <utility>

#include "snmp/testing.h"

namespace brisel::test {

namespace {

struct State {
  std::mutex lock;
  std::deque<SimTrap> queue;
  std::vector<void*> service_blocks;
  HANDLE available = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
};
// Never destroyed: the worker may call in during process exit.
State& S() {
  static State* state = new State;
  return *state;
}
const std::vector<UINT> kSysUpTime = {1, 3, 6, 1, 2, 1, 1, 3};  // the one name this MIB knows

template <class T>
T* Copy(const std::vector<T>& items) {
  if (items.empty()) return nullptr;
  auto* p = static_cast<T*>(::SnmpUtilMemAlloc(static_cast<UINT>(items.size() * sizeof(T))));
  if (p) std::memcpy(p, items.data(), items.size() * sizeof(T));
  return p;
}
AsnObjectIdentifier Oid(const std::vector<UINT>& ids) {
  UINT* p = Copy(ids);
  return {p ? static_cast<UINT>(ids.size()) : 0, p};
}
AsnOctetString Octets(const std::vector<BYTE>& octets) {
  BYTE* p = Copy(octets);
  return {p, p ? static_cast<UINT>(octets.size()) : 0, p != nullptr};
}

// Numbers between single dots, after an optional dot; "sysUpTime" stands for its numbers.
BOOL WINAPI StrToOid(LPSTR text, AsnObjectIdentifier* oid) {
  std::string s = text + (*text == '.');
  if (s.rfind("sysUpTime", 0) == 0) s.replace(0, 9, "1.3.6.1.2.1.1.3");
  std::vector<UINT> ids;
  for (const char* p = s.c_str();; ++p) {
    char* end = nullptr;
    ids.push_back(static_cast<UINT>(std::strtoul(p, &end, 10)));
    if (*p < '0' || *p > '9' || (*end && *end != '.')) return FALSE;
    if (!*(p = end)) break;
  }
  *oid = Oid(ids);
  return oid->ids != nullptr;
}

BOOL WINAPI OidToStr(AsnObjectIdentifier* oid, LPSTR* text) {
  if (oid->idLength < kSysUpTime.size() || !std::equal(kSysUpTime.begin(), kSysUpTime.end(), oid->ids)) return FALSE;
  std::string out = "sysUpTime";
  for (size_t i = kSysUpTime.size(); i < oid->idLength; ++i) out.append(1, '.').append(std::to_string(oid->ids[i]));
  *text = Copy(std::vector<char>(out.c_str(), out.c_str() + out.size() + 1));
  return *text != nullptr;
}

BOOL WINAPI TrapListen(HANDLE* trap_available) {
  HANDLE process = ::GetCurrentProcess();  // the caller closes what it is given
  return ::DuplicateHandle(process, S().available, process, trap_available, 0, FALSE, DUPLICATE_SAME_ACCESS);
}

BOOL WINAPI GetTrapEx(AsnObjectIdentifier* enterprise, AsnNetworkAddress* agent, AsnNetworkAddress* source,
                      AsnInteger* generic, AsnInteger* specific, AsnOctetString* community, AsnTimeticks* time_stamp,
                      SnmpVarBindList* bindings) {
  std::lock_guard lock(S().lock);
  if (S().queue.empty()) {
    ::SetLastError(44);  // no traps
    return FALSE;
  }
  SimTrap trap = std::move(S().queue.front());
  S().queue.pop_front();
  *enterprise = Oid(trap.enterprise);
  *agent = Octets(trap.agent);
  *source = Octets(trap.source);
  *community = Octets({trap.community.begin(), trap.community.end()});
  for (AsnOctetString* o : {agent, source, community}) {
    if (!trap.service_owns_octets) break;
    o->dynamic = FALSE;
    S().service_blocks.push_back(o->stream);
  }
  *generic = trap.generic;
  *specific = trap.specific;
  *time_stamp = trap.time_stamp;
  *bindings = {};
  if (trap.bindings.empty()) return TRUE;
  bindings->list = static_cast<SnmpVarBind*>(::SnmpUtilMemAlloc(UINT(trap.bindings.size() * sizeof(SnmpVarBind))));
  for (size_t i = 0; bindings->list && i < trap.bindings.size(); ++i) {
    const SimBinding& b = trap.bindings[i];
    SnmpVarBind& vb = bindings->list[bindings->len++];
    vb.name = Oid(b.name);
    vb.value.asnType = b.type;
    if (b.type == ASN_OCTETSTRING || b.type == ASN_IPADDRESS || b.type == ASN_BITS || b.type == ASN_OPAQUE ||
        b.type == ASN_SEQUENCE)
      vb.value.asnValue.string = Octets(b.octets);
    else vb.value.asnValue.unsigned32 = b.unsigned32;  // the place every 32-bit number shares
  }
  return TRUE;
}

}  // namespace

SimTrapService& SimTrapService::Get() {
  static const SnmpMgrApi api{&TrapListen, &GetTrapEx, &StrToOid, &OidToStr};
  static SimTrapService service = (testing::UseSnmpMgrApi(&api), SimTrapService());
  return service;
}

void SimTrapService::Queue(SimTrap trap) {
  std::lock_guard lock(S().lock);
  S().queue.push_back(std::move(trap));
  ::SetEvent(S().available);
}

size_t SimTrapService::Queued() {
  std::lock_guard lock(S().lock);
  return S().queue.size();
}

std::vector<void*> SimTrapService::TakeServiceBlocks() {
  std::lock_guard lock(S().lock);
  return std::exchange(S().service_blocks, {});
}

}  // namespace brisel::test
