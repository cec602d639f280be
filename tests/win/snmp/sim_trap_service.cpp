#include "tests/win/snmp/sim_trap_service.h"

#include <cstring>
#include <map>

#include "snmp/testing.h"

namespace brisel::test {

namespace {

// A few names, as a MIB would resolve them.
const std::map<std::string, std::vector<UINT>>& Names() {
  static const std::map<std::string, std::vector<UINT>> names = {
      {"iso", {1}},
      {"internet", {1, 3, 6, 1}},
      {"system", {1, 3, 6, 1, 2, 1, 1}},
      {"sysDescr", {1, 3, 6, 1, 2, 1, 1, 1}},
      {"sysUpTime", {1, 3, 6, 1, 2, 1, 1, 3}},
      {"enterprises", {1, 3, 6, 1, 4, 1}},
  };
  return names;
}

bool ParseNumbers(const std::string& text, std::vector<UINT>* ids) {
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] < '0' || text[i] > '9') return false;
    unsigned long long v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      v = v * 10 + static_cast<unsigned>(text[i] - '0');
      if (v > 0xFFFFFFFFull) return false;
      ++i;
    }
    ids->push_back(static_cast<UINT>(v));
    if (i < text.size()) {
      if (text[i] != '.' || i + 1 == text.size()) return false;
      ++i;
    }
  }
  return !ids->empty();
}

}  // namespace

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
  std::vector<BYTE> community_octets(trap.community.begin(), trap.community.end());
  *agent = AllocOctets(trap.agent);
  *source = AllocOctets(trap.source);
  *community = AllocOctets(community_octets);
  if (trap.static_octets) {
    for (AsnOctetString* o : {agent, source, community}) {
      o->dynamic = FALSE;
      if (o->stream) {
        std::lock_guard lock(s.lock_);
        s.static_blocks.push_back(o->stream);
      }
    }
  }
  *generic = trap.generic;
  *specific = trap.specific;
  *time_stamp = trap.time_stamp;
  bindings->len = 0;
  bindings->list = nullptr;
  if (!trap.bindings.empty()) {
    bindings->list = static_cast<SnmpVarBind*>(::SnmpUtilMemAlloc(
        static_cast<UINT>(trap.bindings.size() * sizeof(SnmpVarBind))));
    if (bindings->list) {
      for (const SimBinding& b : trap.bindings) {
        SnmpVarBind& vb = bindings->list[bindings->len++];
        vb.name = AllocOid(b.name);
        vb.value.asnType = b.type;
        switch (b.type) {
          case ASN_INTEGER:
            vb.value.asnValue.number = b.number;
            break;
          case ASN_OCTETSTRING:
          case ASN_IPADDRESS:
          case ASN_BITS:
          case ASN_OPAQUE:
          case ASN_SEQUENCE:
            vb.value.asnValue.string = AllocOctets(b.octets);
            break;
          case ASN_OBJECTIDENTIFIER:
            vb.value.asnValue.object = AllocOid(b.oid);
            break;
          case ASN_COUNTER64:
            vb.value.asnValue.counter64.QuadPart = b.counter64;
            break;
          default:
            vb.value.asnValue.unsigned32 = b.unsigned32;
            break;
        }
      }
    }
  }
  ++s.traps_handed_out;
  return TRUE;
}

BOOL WINAPI SimTrapService::StrToOid(LPSTR text, AsnObjectIdentifier* oid) {
  std::string t = text ? text : "";
  if (!t.empty() && t[0] == '.') t.erase(0, 1);
  std::vector<UINT> ids;
  if (!t.empty() && (t[0] < '0' || t[0] > '9')) {
    // A name, optionally followed by numbers: "sysUpTime.0".
    size_t dot = t.find('.');
    auto it = Names().find(t.substr(0, dot));
    if (it == Names().end()) return FALSE;
    ids = it->second;
    if (dot != std::string::npos && !ParseNumbers(t.substr(dot + 1), &ids)) return FALSE;
  } else if (!ParseNumbers(t, &ids)) {
    return FALSE;
  }
  *oid = AllocOid(ids);
  return oid->ids != nullptr;
}

BOOL WINAPI SimTrapService::OidToStr(AsnObjectIdentifier* oid, LPSTR* text) {
  if (!oid || !oid->ids) return FALSE;
  std::vector<UINT> ids(oid->ids, oid->ids + oid->idLength);
  // The longest known prefix gives the name; the rest follows as numbers.
  const std::string* best = nullptr;
  size_t best_len = 0;
  for (const auto& [name, prefix] : Names()) {
    if (prefix.size() > best_len && prefix.size() <= ids.size() &&
        std::equal(prefix.begin(), prefix.end(), ids.begin())) {
      best = &name;
      best_len = prefix.size();
    }
  }
  if (!best || best_len < 4) return FALSE;
  std::string out = *best;
  for (size_t i = best_len; i < ids.size(); ++i) out.append(1, '.').append(std::to_string(ids[i]));
  *text = static_cast<LPSTR>(::SnmpUtilMemAlloc(static_cast<UINT>(out.size() + 1)));
  if (!*text) return FALSE;
  std::memcpy(*text, out.c_str(), out.size() + 1);
  return TRUE;
}

}  // namespace brisel::test
