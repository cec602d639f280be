// Entry points of the DLL.
#include <windows.h>

#include <clocale>

#include "module/module.h"
#include "module/server.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    brisel::SetModuleInstance(instance);
    ::DisableThreadLibraryCalls(instance);
    // Case folding everywhere follows the system ANSI code page.
    std::setlocale(LC_ALL, ".ACP");
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    // Only on FreeLibrary: at process exit the system DLLs that own these
    // objects may already be gone.
    brisel::ServerShutdown();
  }
  return TRUE;
}

STDAPI DllCanUnloadNow() { return brisel::ServerCanUnloadNow(); }
STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) { return brisel::ServerGetClassObject(clsid, riid, ppv); }
STDAPI DllRegisterServer() { return brisel::ServerRegister(); }
STDAPI DllUnregisterServer() { return brisel::ServerUnregister(); }
