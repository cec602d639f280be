// The shipped DLL as COM sees it: unloading, registration and its removal, the process list.
#include <gtest/gtest.h>

#include <set>

#include "module/brisel_h.h"
#include "tests/harness/dispatch.h"

using namespace brisel;
using namespace brisel::test;

namespace brisel::test {
HRESULT RegisterFakeWmi(DWORD* cookie);  // fake_wmi.cpp: a WMI locator with known processes
}  // namespace brisel::test

namespace {

// The DLL that COM loads, with the stand-in locator registered first.
class Dll : public ::testing::Test {
 protected:
  void SetUp() override {
    dll_.Reset(::LoadLibraryW(BRISEL_DLL_PATH));
    ASSERT_TRUE(dll_) << ::GetLastError();
    ASSERT_EQ(RegisterFakeWmi(&cookie_), S_OK);
  }
  void TearDown() override { ::CoRevokeClassObject(cookie_); }
  template <class F>
  F* Entry(const char* name) {  // through void(*)(), which any function pointer converts to
    return reinterpret_cast<F*>(reinterpret_cast<void (*)()>(::GetProcAddress(dll_.Get(), name)));
  }
  HRESULT Call(const char* entry) { return Entry<HRESULT WINAPI()>(entry)(); }
  ComScope com_;
  UniqueModule dll_;
  DWORD cookie_ = 0;
};

TEST_F(Dll, ProcessesListEveryValueWmiReports) {
  Dispatch procs = Dispatch::Create(L"TalvaneAgent.Processes");
  std::wstring seen;
  for (long i = 1, count = procs.Long(L"Count"); i <= count; ++i) {
    Dispatch p = procs.Object(L"Item", {i});
    seen += p.Text(L"Name") + L"|" + std::to_wstring(p.Long(L"ProcessId")) + L"|" +
            std::to_wstring(p.Long(L"ThreadCount")) + L"|" + std::to_wstring(p.Long(L"HandleCount")) + L"\n";
  }
  EXPECT_EQ(seen, L"System Idle Process|0|2|0\nsvchost.exe|4242|17|611\ncscript.exe|70000|3|99\n");
}

TEST_F(Dll, UnloadOnlyWhenNoObjectOrItemRemains) {
  Dispatch item = Dispatch::Create(L"TalvaneAgent.Processes").Object(L"Item", {1});
  EXPECT_EQ(Call("DllCanUnloadNow"), S_FALSE) << "an item handed out holds the module";
  // An [out] text replaces what the script's variable held, and releases it.
  ComPtr<IWaiter> waiter;
  ASSERT_EQ(::CoCreateInstance(CLSID_Waiter, nullptr, CLSCTX_INPROC_SERVER, IID_IWaiter, waiter.PutVoid()), S_OK);
  VARIANT text;
  Variant(item.Get()).Release(&text);
  item = Dispatch();
  LONG result = 0;
  waiter->Wait(0, 0, &text, &result);
  EXPECT_EQ(Bstr::View(V_VT(&text) == VT_BSTR ? V_BSTR(&text) : nullptr), L"Wait: cannot wait on handle 0 (error 6)");
  ::VariantClear(&text);
  waiter.Reset();
  EXPECT_EQ(Call("DllCanUnloadNow"), S_OK);
}

TEST_F(Dll, ClassObjectsGiveOnlyWhatTheyHave) {
  auto get = Entry<HRESULT WINAPI(REFCLSID, REFIID, void**)>("DllGetClassObject");
  ComPtr<IClassFactory> factory;
  // Unknown classes and item classes (which exist only inside collections).
  for (const CLSID* c : {&IID_IUnknown, &CLSID_Process, &CLSID_NtEvent, &CLSID_SnmpEvent, &CLSID_SnmpVarbind})
    EXPECT_EQ(get(*c, IID_IClassFactory, factory.PutVoid()), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_FALSE(factory);
  EXPECT_EQ(get(CLSID_Processes, IID_IClassFactory, nullptr), E_POINTER);
  ASSERT_EQ(get(CLSID_Processes, IID_IClassFactory, factory.PutVoid()), S_OK);
  ComPtr<IProcesses> object;
  ComPtr<IDispatch> dispatch;
  ComPtr<IUnknown> a, b;
  EXPECT_EQ(factory->CreateInstance(factory.Get(), IID_IDispatch, a.PutVoid()), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, a.PutVoid()), E_NOINTERFACE);
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IProcesses, object.PutVoid()), S_OK);
  ASSERT_EQ(object.As(&dispatch) | object.As(&a) | dispatch.As(&b), S_OK);
  EXPECT_EQ(a.Get(), b.Get()) << "one identity for every interface";
  EXPECT_EQ(object.As(&factory), E_NOINTERFACE);
}

std::wstring Guid(REFGUID g) {
  wchar_t buf[64];
  ::StringFromGUID2(g, buf, 64);
  return buf;
}

// Our keys below `name` as their paths, their values as "path|name=data" (the
// type library's keys are the platform's to write).
void Dump(HKEY parent, const wchar_t* name, const std::wstring& path, std::set<std::wstring>* out) {
  UniqueRegKey key;
  if (::RegOpenKeyExW(parent, name, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) return;
  const bool ours = path.starts_with(L"\\CLSID") || path.starts_with(L"\\TalvaneAgent");
  if (ours) out->insert(path);
  wchar_t sub[256], data[512];
  for (DWORD i = 0, n = 256, size = sizeof data;
       ours && ::RegEnumValueW(key.Get(), i, sub, &n, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) == 0;
       ++i, n = 256, size = sizeof data)
    out->insert(path + L"|" + sub + L"=" + data);
  for (DWORD i = 0; ::RegEnumKeyW(key.Get(), i, sub, 256) == ERROR_SUCCESS; ++i)
    Dump(key.Get(), sub, path + L"\\" + sub, out);
}

// In a classes root of its own, so that the prefix's registration stays.
TEST_F(Dll, RegistrationWritesEveryKeyAndUnregistrationRemovesThem) {
  const wchar_t* kRoot = L"Software\\BriselRegistrationTest";
  UniqueRegKey root;  // no ASSERT below: the end puts the prefix's classes root back
  ::RegCreateKeyExW(HKEY_CURRENT_USER, kRoot, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, root.Put(), nullptr);
  ASSERT_EQ(::RegOverridePredefKey(HKEY_CLASSES_ROOT, root.Get()), ERROR_SUCCESS);
  wchar_t module[MAX_PATH];
  ::GetModuleFileNameW(dll_.Get(), module, MAX_PATH);
  std::set<std::wstring> expected = {L"\\CLSID"}, keys;
  auto add = [&](const std::wstring& key, const std::wstring& value) { expected.insert({key, key + L"|=" + value}); };
  const std::pair<const wchar_t*, const CLSID*> classes[] = {
      {L"Processes", &CLSID_Processes},         {L"Brisel", &CLSID_MO},       {L"SnmpEvents", &CLSID_SnmpEvents},
      {L"NtEvents", &CLSID_NtEvents},           {L"NtFiles", &CLSID_NtFiles}, {L"NtFile", &CLSID_NtFile},
      {L"NtEventFilter", &CLSID_NtEventFilter}, {L"Waiter", &CLSID_Waiter}};
  for (const auto& [name, clsid] : classes) {
    const std::wstring progid = L"TalvaneAgent." + std::wstring(name), p = L"\\" + progid;
    const std::wstring c = L"\\CLSID\\" + Guid(*clsid);
    for (const std::wstring& key : {p, p + L".4", c}) add(key, std::wstring(name) + L" Class");
    for (const std::wstring& key : {p + L"\\CLSID", p + L".4\\CLSID"}) add(key, Guid(*clsid));
    add(p + L"\\CurVer", progid + L".4");
    add(c + L"\\ProgID", progid + L".4");
    add(c + L"\\VersionIndependentProgID", progid);
    add(c + L"\\TypeLib", Guid(LIBID_VELKALib));
    add(c + L"\\InprocServer32", module);
    expected.insert({c + L"\\InprocServer32|ThreadingModel=Free", c + L"\\Programmable"});
  }
  // Another owner's keys stay, stale content below a ForceRemove key goes, and registering twice is harmless.
  const std::wstring others[] = {L"\\CLSID\\{0}", L"\\TalvaneAgent.NtFiles\\Other"};
  for (const std::wstring& k : {others[0], others[1], L"\\CLSID\\" + Guid(CLSID_NtFiles) + L"\\Stale"})
    ::RegCreateKeyExW(root.Get(), k.c_str() + 1, 0, nullptr, 0, KEY_READ, nullptr, UniqueRegKey().Put(), nullptr);
  expected.insert(std::begin(others), std::end(others));
  for (int twice = 0; twice < 2; ++twice) EXPECT_EQ(Call("DllRegisterServer"), S_OK);
  Dump(HKEY_CURRENT_USER, kRoot, L"", &keys);
  EXPECT_EQ(keys, expected);
  EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
  keys.clear();
  Dump(HKEY_CURRENT_USER, kRoot, L"", &keys);
  // A key that holds another owner's key stays, with its value.
  EXPECT_EQ(keys, (std::set<std::wstring>{L"\\CLSID", others[0], L"\\TalvaneAgent.NtFiles", others[1],
                                          L"\\TalvaneAgent.NtFiles|=NtFiles Class"}));
  ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
}

}  // namespace
