// Test-only interface of the static library: puts another SNMP Management
// API behind the trap source and the conversions. The DLL never calls it,
// so its object file is not linked into the DLL.
#pragma once

#include "snmp/snmp_api.h"

namespace brisel::testing {

// api must live for the rest of the process (the trap worker never ends);
// null restores the platform's table.
void UseSnmpMgrApi(const SnmpMgrApi* api) noexcept;

}  // namespace brisel::testing
