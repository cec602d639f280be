#include "module/server.h"

#include <array>
#include <atomic>
#include <mutex>
#include <string>

#include "eventlog/nt_events.h"
#include "files/nt_files.h"
#include "module/brisel_h.h"
#include "module/com.h"
#include "module/module.h"
#include "module/registrar.h"
#include "module/waiter.h"
#include "rules/nt_event_filter.h"
#include "snmp/snmp_objects.h"
#include "wmi/mo.h"
#include "wmi/processes.h"

namespace brisel {

namespace {

// The creatable classes, in registration order: class id, registration
// script resource, creator.
constexpr ClassEntry kClasses[] = {
    {&CLSID_MO, 101, &MofCompilerObject::CreateInstance},
    {&CLSID_SnmpEvents, 103, &SnmpEvents::CreateInstance},
    {&CLSID_Processes, 104, &ProcessList::CreateInstance},
    {&CLSID_NtEvents, 106, &NtEvents::CreateInstance},
    {&CLSID_NtFiles, 110, &NtFilesObject::CreateInstance},
    {&CLSID_NtFile, 111, &NtFileItem::CreateInstance},
    {&CLSID_NtEventFilter, 112, &NtEventFilterObject::CreateInstance},
    {&CLSID_Waiter, 113, &WaiterObject::CreateInstance},
};
constexpr size_t kClassCount = std::size(kClasses);

class ClassFactory final : public SimpleUnknown<IClassFactory> {
 public:
  explicit ClassFactory(CreatorFn create) noexcept : create_(create) {}

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override { return create_(outer, riid, ppv); }
  STDMETHODIMP LockServer(BOOL lock) override {
    lock ? ServerLock() : ServerUnlock();
    return S_OK;
  }

 private:
  CreatorFn create_;
};

std::mutex g_factory_lock;
std::array<ComPtr<IClassFactory>, kClassCount> g_factories;

HRESULT ModulePath(std::wstring* path) {
  wchar_t buf[MAX_PATH];
  DWORD n = ::GetModuleFileNameW(ModuleInstance(), buf, MAX_PATH);
  if (n == 0) return HRESULT_FROM_WIN32(::GetLastError());
  if (n >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  path->assign(buf, n);
  return S_OK;
}

HRESULT RunScripts(bool do_register) {
  std::wstring path;
  HRESULT hr = ModulePath(&path);
  if (FAILED(hr)) return hr;
  std::wstring escaped;
  for (wchar_t c : path) {
    escaped += c;
    if (c == L'\'') escaped += L'\'';
  }
  RegReplacements repl;
  // Quotes only for an executable server, never for a DLL path.
  repl[L"Module"] = ModuleInstance() == ::GetModuleHandleW(nullptr) ? L"\"" + escaped + L"\"" : escaped;
  repl[L"Module_Raw"] = escaped;
  for (const auto& entry : kClasses) {
    std::wstring script;
    hr = LoadRegistrationScript(ModuleInstance(), entry.script_id, &script);
    if (SUCCEEDED(hr)) hr = RunRegistrationScript(script, repl, do_register);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

}  // namespace

HRESULT ServerGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  for (size_t i = 0; i < kClassCount; ++i) {
    if (!IsEqualCLSID(clsid, *kClasses[i].clsid)) continue;
    ComPtr<IClassFactory> factory;
    {
      std::lock_guard lock(g_factory_lock);
      if (!g_factories[i]) {
        auto* created = new (std::nothrow) ClassFactory(kClasses[i].create);
        if (!created) return E_OUTOFMEMORY;
        g_factories[i] = created;
      }
      factory = g_factories[i];
    }
    return factory->QueryInterface(riid, ppv);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ServerCanUnloadNow() { return ModuleLockCount() == 0 ? S_OK : S_FALSE; }

HRESULT ServerRegister() {
  try {
    HRESULT hr = RunScripts(true);
    if (FAILED(hr)) return hr;
    std::wstring path;
    hr = ModulePath(&path);
    if (FAILED(hr)) return hr;
    ComPtr<ITypeLib> lib;
    hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.Put());
    if (FAILED(hr)) return hr;
    std::wstring dir = path.substr(0, path.find_last_of(L'\\'));
    return ::RegisterTypeLib(lib.Get(), path.data(), dir.data());
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ServerUnregister() {
  try {
    HRESULT hr = RunScripts(false);
    if (FAILED(hr)) return hr;
    hr = ::UnRegisterTypeLib(kLibId, 1, 0, LANG_NEUTRAL, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    // Already gone counts as done.
    return hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_CANTLOADLIBRARY ? S_OK : hr;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

void ServerShutdown() {
  {
    std::lock_guard lock(g_factory_lock);
    for (auto& f : g_factories) f.Reset();
  }
  ReleaseTypeInfoCache();
}

}  // namespace brisel
