#include "snmp/testing.h"

namespace brisel::testing {

void UseSnmpMgrApi(const SnmpMgrApi* api) noexcept { detail::g_snmp_mgr_override.store(api); }

}  // namespace brisel::testing
