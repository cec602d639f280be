// The in-process server: class table, class objects and self-registration.
#pragma once

#include <windows.h>

namespace brisel {

using CreatorFn = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

struct ClassEntry {
  const CLSID* clsid;
  UINT script_id;  // "REGISTRY" resource
  CreatorFn create;
};

HRESULT ServerGetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
HRESULT ServerCanUnloadNow();
HRESULT ServerRegister();
HRESULT ServerUnregister();
// Process detach: releases the class objects and the type information.
void ServerShutdown();

}  // namespace brisel
