#include "module/module.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwctype>
#include <map>
#include <mutex>
#include <string>

namespace brisel {

const GUID kLibId = {0xC16626B2, 0x17CE, 0x4795, {0x97, 0xA5, 0x72, 0x47, 0x9D, 0xC3, 0xAB, 0x6B}};

namespace {

std::atomic<LONG> g_locks{0};
std::atomic<LONG> g_server_locks{0};
std::atomic<HINSTANCE> g_instance{nullptr};

struct IidLess {
  bool operator()(const IID& a, const IID& b) const noexcept { return std::memcmp(&a, &b, sizeof(IID)) < 0; }
};

struct InterfaceInfo {
  ComPtr<ITypeInfo> info;
  std::map<std::wstring, DISPID> ids;  // upper-cased member name
};

std::mutex g_type_lock;
std::map<IID, InterfaceInfo, IidLess>* g_types = nullptr;  // freed at detach, never while in use

HRESULT LoadLocked(REFIID iid, LCID lcid, InterfaceInfo** out) {
  if (!g_types) g_types = new (std::nothrow) std::map<IID, InterfaceInfo, IidLess>();
  if (!g_types) return E_OUTOFMEMORY;
  auto it = g_types->find(iid);
  if (it == g_types->end()) {
    ComPtr<ITypeLib> lib;
    HRESULT hr = ::LoadRegTypeLib(kLibId, 1, 0, lcid, lib.Put());
    if (FAILED(hr)) return hr;
    ComPtr<ITypeInfo> info;
    hr = lib->GetTypeInfoOfGuid(iid, info.Put());
    if (FAILED(hr)) return hr;
    it = g_types->emplace(iid, InterfaceInfo{std::move(info), {}}).first;
  }
  *out = &it->second;
  return S_OK;
}

std::wstring Upper(const wchar_t* s) {
  std::wstring r(s);
  std::transform(r.begin(), r.end(), r.begin(), [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
  return r;
}

}  // namespace

void ModuleLock() noexcept { ++g_locks; }
void ModuleUnlock() noexcept { --g_locks; }
LONG ModuleLockCount() noexcept { return g_locks.load() + g_server_locks.load(); }

void ServerLock() noexcept { ++g_server_locks; }
void ServerUnlock() noexcept {
  LONG n = g_server_locks.load();
  while (n > 0 && !g_server_locks.compare_exchange_weak(n, n - 1)) {
  }
}

HINSTANCE ModuleInstance() noexcept { return g_instance.load(); }
void SetModuleInstance(HINSTANCE instance) noexcept { g_instance.store(instance); }

HRESULT GetInterfaceTypeInfo(REFIID iid, LCID lcid, ITypeInfo** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  std::lock_guard lock(g_type_lock);
  InterfaceInfo* entry = nullptr;
  HRESULT hr = LoadLocked(iid, lcid, &entry);
  if (FAILED(hr)) return hr;
  return entry->info.CopyTo(out);
}

HRESULT GetInterfaceIdsOfNames(REFIID iid, LCID lcid, LPOLESTR* names, UINT count, DISPID* ids) noexcept {
  if (!names || !ids) return E_POINTER;
  if (count == 0) return S_OK;
  ComPtr<ITypeInfo> info;
  {
    std::lock_guard lock(g_type_lock);
    InterfaceInfo* entry = nullptr;
    HRESULT hr = LoadLocked(iid, lcid, &entry);
    if (FAILED(hr)) return hr;
    // Only a lone member name is cached; named arguments go to the type information.
    if (count == 1 && names[0]) {
      try {
        auto found = entry->ids.find(Upper(names[0]));
        if (found != entry->ids.end()) {
          ids[0] = found->second;
          return S_OK;
        }
      } catch (...) {
        return E_OUTOFMEMORY;
      }
    }
    info = entry->info;
  }
  HRESULT hr = info->GetIDsOfNames(names, count, ids);
  if (hr == S_OK && count == 1) {
    std::lock_guard lock(g_type_lock);
    InterfaceInfo* entry = nullptr;
    if (SUCCEEDED(LoadLocked(iid, lcid, &entry))) {
      try {
        entry->ids.emplace(Upper(names[0]), ids[0]);
      } catch (...) {
        // The cache is an optimisation; the answer stands.
      }
    }
  }
  return hr;
}

void ReleaseTypeInfoCache() noexcept {
  std::lock_guard lock(g_type_lock);
  delete g_types;
  g_types = nullptr;
}

}  // namespace brisel
