// A trap service in the test process behind the module's SNMP Management API table. Its memory
// comes from the SNMP utility allocator, as the platform's does, so the module's frees run for real.
#pragma once

#include <windows.h>
#include <snmp.h>

#include <string>
#include <vector>

namespace brisel::test {

struct SimBinding {  // the 32-bit number types and the octet types only
  std::vector<UINT> name;
  BYTE type = ASN_NULL;
  ULONG unsigned32 = 0;
  std::vector<BYTE> octets;  // OCTET STRING, IpAddress, BITS, Opaque, SEQUENCE
};

struct SimTrap {
  std::vector<UINT> enterprise{};
  std::vector<BYTE> agent{10, 0, 0, 1};
  std::vector<BYTE> source{192, 168, 1, 5};
  LONG generic = 6;
  LONG specific = 1;
  std::string community = "public";
  DWORD time_stamp = 0;
  std::vector<SimBinding> bindings{};
  bool service_owns_octets = false;  // agent, source and community not marked dynamic
};

// The one service of the process, installed at first use and kept (the trap worker never ends).
class SimTrapService {
 public:
  static SimTrapService& Get();
  void Queue(SimTrap trap);
  size_t Queued();
  std::vector<void*> TakeServiceBlocks();  // the octets of traps whose octets it owns
};

}  // namespace brisel::test
