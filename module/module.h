// Module state shared by every object: lock count, instance, type information.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "module/com.h"

namespace brisel {

extern const GUID kLibId;

// Lock count read by DllCanUnloadNow: live objects plus LockServer(TRUE) calls.
void ModuleLock() noexcept;
void ModuleUnlock() noexcept;
LONG ModuleLockCount() noexcept;
// LockServer's share, counted apart so that an unbalanced LockServer(FALSE)
// is ignored instead of taking a live object's share or going below zero.
void ServerLock() noexcept;
void ServerUnlock() noexcept;

// Instance handle of the module that carries the resources (the DLL, or the
// test program that links the module code).
HINSTANCE ModuleInstance() noexcept;
void SetModuleInstance(HINSTANCE instance) noexcept;

// Type information of one interface, loaded once from the registered type
// library and kept until ReleaseTypeInfoCache.
HRESULT GetInterfaceTypeInfo(REFIID iid, LCID lcid, ITypeInfo** out) noexcept;
// Names to dispatch ids through a per-interface cache.
HRESULT GetInterfaceIdsOfNames(REFIID iid, LCID lcid, LPOLESTR* names, UINT count, DISPID* ids) noexcept;
void ReleaseTypeInfoCache() noexcept;

// Counts one live object in the lock count for its whole life.
class ModuleLockHolder {
 public:
  ModuleLockHolder() noexcept { ModuleLock(); }
  ModuleLockHolder(const ModuleLockHolder&) noexcept { ModuleLock(); }
  ModuleLockHolder& operator=(const ModuleLockHolder&) noexcept { return *this; }
  ~ModuleLockHolder() { ModuleUnlock(); }
};

}  // namespace brisel
