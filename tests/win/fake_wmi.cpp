// A stand-in for the platform's WMI locator, so that the process list's values
// are known (Wine's own provider leaves some at 0). C vtables, so that only the
// methods the module calls are written out; any other call reaches a null
// entry and stops the test program.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#define CINTERFACE
#define COBJMACROS
#include <windows.h>
#include <wbemcli.h>

#include <iterator>
#include <utility>

namespace brisel::test {
namespace {

// Objects are static: counting is not needed.
template <class T>
ULONG STDMETHODCALLTYPE One(T*) {
  return 1;
}

template <class T, const IID* own>
HRESULT STDMETHODCALLTYPE Qi(T* self, REFIID riid, void** out) {
  *out = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, *own) ? self : nullptr;
  return *out ? S_OK : E_NOINTERFACE;
}
#define UNKNOWN(T) .QueryInterface = Qi<T, &IID_##T>, .AddRef = One<T>, .Release = One<T>

// What dll_test expects as Win32_Process.
extern IWbemClassObjectVtbl g_row_vtbl;
struct Row {
  IWbemClassObject object;
  const wchar_t* name;
  LONG id, threads, handles;
} g_rows[] = {{{&g_row_vtbl}, L"System Idle Process", 0, 2, 0},
              {{&g_row_vtbl}, L"svchost.exe", 4242, 17, 611},
              {{&g_row_vtbl}, L"cscript.exe", 70000, 3, 99}};
size_t g_next = 0;

HRESULT STDMETHODCALLTYPE RowGet(IWbemClassObject* self, LPCWSTR name, LONG, VARIANT* value, CIMTYPE*, LONG*) {
  const Row& row = *reinterpret_cast<Row*>(self);
  ::VariantInit(value);
  if (_wcsicmp(name, L"Name") == 0) {
    V_VT(value) = VT_BSTR;
    V_BSTR(value) = ::SysAllocString(row.name);
    return S_OK;
  }
  const std::pair<const wchar_t*, LONG> numbers[] = {
      {L"ProcessId", row.id}, {L"ThreadCount", row.threads}, {L"HandleCount", row.handles}};
  for (const auto& [key, number] : numbers) {
    if (_wcsicmp(name, key) != 0) continue;
    V_VT(value) = VT_I4;  // how WMI hands out a uint32
    V_I4(value) = number;
    return S_OK;
  }
  return WBEM_E_NOT_FOUND;
}
IWbemClassObjectVtbl g_row_vtbl = {UNKNOWN(IWbemClassObject), .Get = RowGet};

HRESULT STDMETHODCALLTYPE EnumNext(IEnumWbemClassObject*, LONG, ULONG wanted, IWbemClassObject** out, ULONG* given) {
  *given = 0;
  for (; *given < wanted && g_next < std::size(g_rows); ++g_next) out[(*given)++] = &g_rows[g_next].object;
  return *given == wanted ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
}
IEnumWbemClassObjectVtbl g_enum_vtbl = {UNKNOWN(IEnumWbemClassObject), .Next = EnumNext};
IEnumWbemClassObject g_enum = {&g_enum_vtbl};

HRESULT STDMETHODCALLTYPE ServicesEnum(IWbemServices*, BSTR cls, LONG, IWbemContext*, IEnumWbemClassObject** out) {
  *out = nullptr;
  if (!cls || _wcsicmp(cls, L"Win32_Process") != 0) return WBEM_E_INVALID_CLASS;
  g_next = 0;
  *out = &g_enum;
  return S_OK;
}
IWbemServicesVtbl g_services_vtbl = {UNKNOWN(IWbemServices), .CreateInstanceEnum = ServicesEnum};
IWbemServices g_services = {&g_services_vtbl};

HRESULT STDMETHODCALLTYPE Connect(IWbemLocator*, BSTR path, BSTR, BSTR, BSTR, LONG, BSTR, IWbemContext*,
                                  IWbemServices** out) {
  *out = nullptr;
  if (!path || _wcsicmp(path, L"//./root/cimv2") != 0) return WBEM_E_INVALID_NAMESPACE;
  *out = &g_services;
  return S_OK;
}
IWbemLocatorVtbl g_locator_vtbl = {UNKNOWN(IWbemLocator), .ConnectServer = Connect};
IWbemLocator g_locator = {&g_locator_vtbl};

HRESULT STDMETHODCALLTYPE Create(IClassFactory*, IUnknown* outer, REFIID riid, void** out) {
  *out = nullptr;
  return outer ? CLASS_E_NOAGGREGATION : Qi<IWbemLocator, &IID_IWbemLocator>(&g_locator, riid, out);
}
IClassFactoryVtbl g_factory_vtbl = {UNKNOWN(IClassFactory), .CreateInstance = Create};
IClassFactory g_factory = {&g_factory_vtbl};

}  // namespace

// Registers the stand-in for CLSID_WbemLocator in the calling apartment.
HRESULT RegisterFakeWmi(DWORD* cookie) {
  return ::CoRegisterClassObject(CLSID_WbemLocator, reinterpret_cast<IUnknown*>(&g_factory), CLSCTX_INPROC_SERVER,
                                 REGCLS_MULTIPLEUSE, cookie);
}

}  // namespace brisel::test
