#include "tests/win/snmp/sim_trap_service.h"

#include <cstdlib>
#include <cstring>

#include "snmp/testing.h"

namespace brisel::test {

namespace {

// The one name this MIB knows.
const std::vector<UINT> kSysUpTime = {1, 3, 6, 1, 2, 1, 1, 3};

AsnObjectIdentifier AllocOid(const std::vector<UINT>& ids) {
  AsnObjectIdentifier oid{};
  if (ids.empty()) return oid;
  oid.ids = static_cast<UINT*>(::SnmpUtilMemAlloc(static_cast<UINT>(ids.size() * sizeof(UINT))));
  if (!oid.ids) return oid;
  std::memcpy(oid.ids, ids.data(), ids.size() * sizeof(UINT));
  oid.idLength = static_cast<UINT>(ids.size());
  return oid;
}

AsnOctetString AllocOctets(const std::vector<BYTE>& octets) {
  AsnOctetString s{};
  if (octets.empty()) return s;
  s.stream = static_cast<BYTE*>(::SnmpUtilMemAlloc(static_cast<UINT>(octets.size())));
  if (!s.stream) return s;
  std::memcpy(s.stream, octets.data(), octets.size());
  s.length = static_cast<UINT>(octets.size());
  s.dynamic = TRUE;
  return s;
}

// Numbers below 2^32 between single dots: "1.3.6".
bool ParseNumbers(const char* p, std::vector<UINT>* ids) {
  for (;;) {
    if (*p < '0' || *p > '9') return false;
    char* end = nullptr;
    unsigned long long v = std::strtoull(p, &end, 10);
    if (v > 0xFFFFFFFFull) return false;
    ids->push_back(static_cast<UINT>(v));
    if (*end == '\0') return true;
    if (*end != '.') return false;
    p = end + 1;
  }
}

// "sysUpTime", optionally followed by numbers ("sysUpTime.0"), or numbers alone.
BOOL WINAPI StrToOid(LPSTR text, AsnObjectIdentifier* oid) {
  const char* p = text + (*text == '.');
  std::vector<UINT> ids;
  if (std::strncmp(p, "sysUpTime", 9) == 0) {
    ids = kSysUpTime;
    p += 9;
    if (*p && *p++ != '.') return FALSE;
  }
  if ((*p || ids.empty()) && !ParseNumbers(p, &ids)) return FALSE;
  *oid = AllocOid(ids);
  return oid->ids != nullptr;
}

BOOL WINAPI OidToStr(AsnObjectIdentifier* oid, LPSTR* text) {
  if (oid->idLength < kSysUpTime.size() || !std::equal(kSysUpTime.begin(), kSysUpTime.end(), oid->ids)) return FALSE;
  std::string out = "sysUpTime";
  for (size_t i = kSysUpTime.size(); i < oid->idLength; ++i) out += "." + std::to_string(oid->ids[i]);
  *text = static_cast<LPSTR>(::SnmpUtilMemAlloc(static_cast<UINT>(out.size() + 1)));
  if (*text) std::memcpy(*text, out.c_str(), out.size() + 1);
  return *text != nullptr;
}

}  // namespace

SimTrapService& SimTrapService::Get() {
  // Deliberately never destroyed: the worker may call in during process exit.
  static SimTrapService* service = [] {
    auto* s = new SimTrapService();
    static const SnmpMgrApi api{&TrapListen, &GetTrapEx, &StrToOid, &OidToStr};
    testing::UseSnmpMgrApi(&api);
    return s;
  }();
  return *service;
}

SimTrapService::SimTrapService() : available_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

void SimTrapService::Queue(SimTrap trap) {
  std::lock_guard lock(lock_);
  queue_.push_back(std::move(trap));
  ::SetEvent(available_.Get());
}

void SimTrapService::Clear() {
  std::lock_guard lock(lock_);
  queue_.clear();
}

size_t SimTrapService::Queued() {
  std::lock_guard lock(lock_);
  return queue_.size();
}

BOOL WINAPI SimTrapService::TrapListen(HANDLE* trap_available) {
  SimTrapService& s = Get();
  ++s.listen_calls;
  if (DWORD code = s.listen_error_) {
    ::SetLastError(code);
    return FALSE;
  }
  // The caller owns and closes what it is given.
  HANDLE process = ::GetCurrentProcess();
  return ::DuplicateHandle(process, s.available_.Get(), process, trap_available, 0, FALSE, DUPLICATE_SAME_ACCESS);
}

BOOL WINAPI SimTrapService::GetTrapEx(AsnObjectIdentifier* enterprise, AsnNetworkAddress* agent,
                                      AsnNetworkAddress* source, AsnInteger* generic, AsnInteger* specific,
                                      AsnOctetString* community, AsnTimeticks* time_stamp,
                                      SnmpVarBindList* bindings) {
  SimTrapService& s = Get();
  SimTrap trap;
  {
    std::lock_guard lock(s.lock_);
    if (s.queue_.empty()) {
      ::SetLastError(44);  // no traps
      return FALSE;
    }
    trap = std::move(s.queue_.front());
    s.queue_.pop_front();
  }
  *enterprise = AllocOid(trap.enterprise);
  *agent = AllocOctets(trap.agent);
  *source = AllocOctets(trap.source);
  *community = AllocOctets(std::vector<BYTE>(trap.community.begin(), trap.community.end()));
  for (AsnOctetString* o : {agent, source, community}) {
    if (!trap.static_octets || !o->stream) continue;
    o->dynamic = FALSE;
    std::lock_guard lock(s.lock_);
    s.static_blocks.push_back(o->stream);
  }
  *generic = trap.generic;
  *specific = trap.specific;
  *time_stamp = trap.time_stamp;
  *bindings = {};
  if (trap.bindings.empty()) return TRUE;
  bindings->list =
      static_cast<SnmpVarBind*>(::SnmpUtilMemAlloc(static_cast<UINT>(trap.bindings.size() * sizeof(SnmpVarBind))));
  for (size_t i = 0; bindings->list && i < trap.bindings.size(); ++i) {
    const SimBinding& b = trap.bindings[i];
    SnmpVarBind& vb = bindings->list[bindings->len++];
    vb.name = AllocOid(b.name);
    AsnAny& v = vb.value;
    v.asnType = b.type;
    if (b.type == ASN_INTEGER) v.asnValue.number = b.number;
    else if (b.type == ASN_OBJECTIDENTIFIER) v.asnValue.object = AllocOid(b.oid);
    else if (b.type == ASN_COUNTER64) v.asnValue.counter64.QuadPart = b.counter64;
    else if (b.type == ASN_OCTETSTRING || b.type == ASN_IPADDRESS || b.type == ASN_BITS || b.type == ASN_OPAQUE ||
             b.type == ASN_SEQUENCE)
      v.asnValue.string = AllocOctets(b.octets);
    else v.asnValue.unsigned32 = b.unsigned32;
  }
  return TRUE;
}

}  // namespace brisel::test
