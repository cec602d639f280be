#include "wmi/wmi_connection.h"

#include <mutex>

namespace brisel {

namespace {
std::mutex g_locator_lock;
IWbemLocator* g_locator = nullptr;  // kept for the life of the process
}  // namespace

HRESULT GetWbemLocator(ComPtr<IWbemLocator>* out) {
  std::lock_guard lock(g_locator_lock);
  if (!g_locator) {
    HRESULT hr = ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                    reinterpret_cast<void**>(&g_locator));
    if (FAILED(hr)) {
      g_locator = nullptr;
      return hr;
    }
  }
  *out = g_locator;
  return S_OK;
}

CWmiConnection::CWmiConnection(const wchar_t* namespace_path) {
  if (namespace_path) {
    namespace_ = namespace_path;
    SetStatus(Connect(namespace_path));
  }
}

bool CWmiConnection::Connect(const wchar_t* namespace_path) {
  ComPtr<IWbemLocator> locator;
  if (FAILED(GetWbemLocator(&locator))) return false;
  services_.Reset();
  services_identity_.Reset();
  Bstr path(namespace_path ? namespace_path : L"");
  HRESULT hr = locator->ConnectServer(path.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services_.Put());
  if (hr != S_OK) {
    services_.Reset();
    return false;
  }
  ::CoSetProxyBlanket(services_.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                      RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  if (SUCCEEDED(services_.As(&services_identity_)))
    ::CoSetProxyBlanket(services_identity_.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                        RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  return true;
}

}  // namespace brisel
