// The shipped DLL as COM sees it: entry points, class objects, unloading,
// registration and its removal, the process list, and Waiter.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "module/brisel_h.h"
#include "tests/harness/dispatch.h"
#include "tests/win/fake_wmi.h"

using namespace brisel;
using namespace brisel::test;

namespace {

const FakeProcessRow kProcesses[] = {
    {L"System Idle Process", 0, 2, 0}, {L"svchost.exe", 4242, 17, 611}, {L"cscript.exe", 70000, 3, 99}};

// The stand-in locator serves every test of this program, registered before any
// of them can make the module cache the platform's.
class FakeWmi : public ::testing::Environment {
  void SetUp() override { ASSERT_EQ(RegisterFakeWmi(kProcesses, std::size(kProcesses), &cookie_), S_OK); }
  void TearDown() override { ::CoRevokeClassObject(cookie_); }
  ComScope com_;
  DWORD cookie_ = 0;
};
const auto* const g_fake_wmi = ::testing::AddGlobalTestEnvironment(new FakeWmi);

class DllEntry : public ::testing::Test {
 protected:
  void SetUp() override {
    dll_.Reset(::LoadLibraryW(BRISEL_DLL_PATH));
    ASSERT_TRUE(dll_) << "LoadLibrary failed: " << ::GetLastError();
    // Through void(*)(), the generic function pointer type the compiler accepts.
    get_ = reinterpret_cast<decltype(get_)>(reinterpret_cast<void (*)()>(::GetProcAddress(dll_.Get(), "DllGetClassObject")));
    can_unload_ = reinterpret_cast<decltype(can_unload_)>(reinterpret_cast<void (*)()>(::GetProcAddress(dll_.Get(), "DllCanUnloadNow")));
    ASSERT_TRUE(get_ && can_unload_);
    ASSERT_EQ(get_(CLSID_Processes, IID_IClassFactory, f_.PutVoid()), S_OK);
  }
  ComScope com_;
  UniqueModule dll_;
  HRESULT(WINAPI* get_)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(WINAPI* can_unload_)() = nullptr;
  ComPtr<IClassFactory> f_;
};

TEST_F(DllEntry, ClassObjectsCreateWithTheRequestedInterfaceOnly) {
  ComPtr<IClassFactory> none;
  // Unknown classes and item classes (which exist only inside collections).
  for (const CLSID* c : {&IID_IUnknown, &CLSID_Process, &CLSID_NtEvent, &CLSID_SnmpEvent, &CLSID_SnmpVarbindList,
                         &CLSID_SnmpVarbind})
    EXPECT_EQ(get_(*c, IID_IClassFactory, none.PutVoid()), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_FALSE(none);
  EXPECT_EQ(get_(CLSID_Processes, IID_IClassFactory, nullptr), E_POINTER);
  ComPtr<IDispatch> procs;
  ComPtr<IUnknown> a, b;
  EXPECT_EQ(f_->CreateInstance(f_.Get(), IID_IDispatch, a.PutVoid()), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(f_->CreateInstance(nullptr, IID_IClassFactory, a.PutVoid()), E_NOINTERFACE);
  ASSERT_EQ(f_->CreateInstance(nullptr, IID_IDispatch, procs.PutVoid()), S_OK);
  ComPtr<IProcesses> typed;
  ASSERT_EQ(procs.As(&typed) | procs.As(&a) | typed.As(&b), S_OK);
  EXPECT_EQ(a.Get(), b.Get()) << "one identity for every interface";
  ComPtr<IMO> wrong;
  EXPECT_EQ(procs.As(&wrong), E_NOINTERFACE);
  DISPID count_id = -1, item_id = -1, unknown = 0;  // the interface's own ids, names without regard to case
  EXPECT_EQ(Dispatch(procs).IdOf(L"Count", &count_id) | Dispatch(procs).IdOf(L"item", &item_id), S_OK);
  EXPECT_EQ(std::make_pair(count_id, item_id), std::make_pair(DISPID{1}, DISPID{0}));
  EXPECT_EQ(Dispatch(procs).IdOf(L"NoSuchMember", &unknown), DISP_E_UNKNOWNNAME);
}

TEST_F(DllEntry, ProcessesListEveryValueWmiReports) {
  ComPtr<IDispatch> procs;
  ASSERT_EQ(f_->CreateInstance(nullptr, IID_IDispatch, procs.PutVoid()), S_OK);
  std::wstring seen;
  for (long i = 1, count = Dispatch(procs).Long(L"Count"); i <= count; ++i) {
    Dispatch p = Dispatch(procs).Object(L"Item", {i});
    seen += p.Text(L"Name") + L"|" + std::to_wstring(p.Long(L"ProcessId")) + L"|" +
            std::to_wstring(p.Long(L"ThreadCount")) + L"|" + std::to_wstring(p.Long(L"HandleCount")) + L"\n";
  }
  EXPECT_EQ(seen, L"System Idle Process|0|2|0\nsvchost.exe|4242|17|611\ncscript.exe|70000|3|99\n");
}

TEST_F(DllEntry, UnloadOnlyWhenNoObjectItemOrLockRemains) {
  EXPECT_EQ(can_unload_(), S_OK) << "a class object alone does not hold the module";
  ComPtr<IDispatch> procs;
  ASSERT_EQ(f_->CreateInstance(nullptr, IID_IDispatch, procs.PutVoid()), S_OK);
  Dispatch first = Dispatch(procs).Object(L"Item", {1});
  ASSERT_TRUE(first);
  f_->LockServer(FALSE);  // unbalanced: takes no live object's share
  EXPECT_EQ(can_unload_(), S_FALSE);
  procs.Reset();
  EXPECT_EQ(can_unload_(), S_FALSE) << "an item handed out holds the module too";
  // An [out] text replaces what the script's variable held, and releases it.
  ComPtr<IClassFactory> waiters;
  ComPtr<IWaiter> waiter;
  ASSERT_EQ(get_(CLSID_Waiter, IID_IClassFactory, waiters.PutVoid()), S_OK);
  ASSERT_EQ(waiters->CreateInstance(nullptr, IID_IWaiter, waiter.PutVoid()), S_OK);
  VARIANT text;
  Variant(first.Get()).Release(&text);
  first = Dispatch();
  LONG result = 0;
  EXPECT_EQ(waiter->Wait(0, 0, &text, &result), S_OK);
  EXPECT_EQ(V_VT(&text), VT_BSTR);
  ::VariantClear(&text);
  waiter.Reset();
  EXPECT_EQ(can_unload_(), S_OK);
  f_->LockServer(FALSE);  // the count never goes below zero
  f_->LockServer(TRUE);
  EXPECT_EQ(can_unload_(), S_FALSE);
  f_->LockServer(FALSE);
  EXPECT_EQ(can_unload_(), S_OK);
}

std::wstring ReadClasses(const std::wstring& path, const wchar_t* value = nullptr) {
  wchar_t buf[1024];
  DWORD size = sizeof buf;
  LSTATUS rc = ::RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), value, RRF_RT_REG_SZ, nullptr, buf, &size);
  return rc == ERROR_SUCCESS ? std::wstring(buf) : L"<missing " + std::to_wstring(rc) + L">";
}

std::wstring Guid(REFGUID g) {
  wchar_t buf[64];
  ::StringFromGUID2(g, buf, 64);
  return buf;
}

// In a classes root of its own, so that removing the registration leaves the
// prefix's, which the other tests use, alone.
TEST_F(DllEntry, RegistrationWritesEveryKeyAndUnregistrationRemovesThem) {
  const wchar_t* kRoot = L"Software\\BriselRegistrationTest";
  UniqueRegKey root;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kRoot, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, root.Put(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(::RegOverridePredefKey(HKEY_CLASSES_ROOT, root.Get()), ERROR_SUCCESS);
  struct Restore {
    const wchar_t* root;
    ~Restore() {
      ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
      ::RegDeleteTreeW(HKEY_CURRENT_USER, root);
    }
  } restore{kRoot};
  auto entry = [&](const char* name) {
    return reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void (*)()>(::GetProcAddress(dll_.Get(), name)));
  };
  ASSERT_EQ(entry("DllRegisterServer")(), S_OK);
  const std::pair<const wchar_t*, const CLSID*> classes[] = {
      {L"Processes", &CLSID_Processes}, {L"Brisel", &CLSID_MO},   {L"SnmpEvents", &CLSID_SnmpEvents},
      {L"NtEvents", &CLSID_NtEvents},   {L"NtFiles", &CLSID_NtFiles}, {L"NtFile", &CLSID_NtFile},
      {L"NtEventFilter", &CLSID_NtEventFilter}, {L"Waiter", &CLSID_Waiter}};
  for (const auto& [name, clsid] : classes) {
    std::wstring progid = std::wstring(L"TalvaneAgent.") + name, key = L"CLSID\\" + Guid(*clsid);
    std::wstring server = ReadClasses(key + L"\\InprocServer32");
    const std::pair<std::wstring, std::wstring> rows[] = {  // {value read, expected data}
        {ReadClasses(progid), std::wstring(name) + L" Class"}, {ReadClasses(progid + L"\\CLSID"), Guid(*clsid)},
        {ReadClasses(progid + L"\\CurVer"), progid + L".4"},   {ReadClasses(progid + L".4\\CLSID"), Guid(*clsid)},
        {ReadClasses(key), std::wstring(name) + L" Class"},    {ReadClasses(key + L"\\ProgID"), progid + L".4"},
        {ReadClasses(key + L"\\VersionIndependentProgID"), progid},
        {ReadClasses(key + L"\\TypeLib"), Guid(LIBID_VELKALib)},
        {ReadClasses(key + L"\\InprocServer32", L"ThreadingModel"), L"Free"},
        {server.substr(server.find_last_of(L"\\/") + 1), L"brisel.dll"}};
    for (const auto& [read, expected] : rows) EXPECT_EQ(read, expected) << Narrow(progid);
  }
  ComPtr<ITypeLib> lib;
  EXPECT_EQ(::LoadRegTypeLib(LIBID_VELKALib, 1, 0, LANG_NEUTRAL, lib.Put()), S_OK);
  lib.Reset();
  ComPtr<IUnknown> none;  // only classes of the class table are registered
  EXPECT_EQ(::CoCreateInstance(CLSID_Process, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, none.PutVoid()),
            REGDB_E_CLASSNOTREG);

  EXPECT_EQ(entry("DllUnregisterServer")(), S_OK);
  const std::wstring gone = L"<missing 2>";
  for (const auto& [name, clsid] : classes) {
    std::wstring progid = std::wstring(L"TalvaneAgent.") + name;
    EXPECT_EQ(ReadClasses(progid) + ReadClasses(progid + L".4\\CLSID") + ReadClasses(L"CLSID\\" + Guid(*clsid)),
              gone + gone + gone)
        << Narrow(progid);
  }
  EXPECT_NE(::LoadRegTypeLib(LIBID_VELKALib, 1, 0, LANG_NEUTRAL, lib.Put()), S_OK);
}

long HandleArg(HANDLE h) { return static_cast<long>(reinterpret_cast<LONG_PTR>(h)); }

TEST(Waiter, AnswersSignalledTimeOutAndRefusals) {
  ComScope com;
  Dispatch waiter = Dispatch::Create(L"TalvaneAgent.Waiter");
  ASSERT_TRUE(waiter);
  UniqueEvent set(::CreateEventW(nullptr, TRUE, TRUE, nullptr)), unset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const struct {
    long handle, ms, result;
    const wchar_t* text;  // the whole error text
  } cases[] = {
      {HandleArg(set.Get()), 1000, 0, L""},
      {HandleArg(unset.Get()), 200, 258, L""},
      {0, 100, -1, L"Wait: cannot wait on handle 0 (error 6)"},
      // What Event answers when a watcher cannot start: the process's pseudo-handle, which would only time out.
      {-1, 100, -1, L"Wait: cannot wait on handle -1 (error 6)"},
      {HandleArg(set.Get()), -1, -1, L"Wait: the time-out must be 0 to 3600000 milliseconds, not -1"},
      {HandleArg(set.Get()), 3600001, -1, L"Wait: the time-out must be 0 to 3600000 milliseconds, not 3600001"},
  };
  for (const auto& c : cases) {
    Variant text;
    auto start = std::chrono::steady_clock::now();
    CallResult r = waiter.Call(L"Wait", {c.handle, c.ms, Arg::Out(&text)});
    auto spent = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(r.Ok()) << std::hex << r.hr;
    EXPECT_EQ(AsLong(r.value), c.result) << c.handle << " " << c.ms;
    EXPECT_EQ(AsText(text), c.text);
    EXPECT_GE(spent, std::chrono::milliseconds(c.result == 258 ? c.ms * 9 / 10 : 0)) << "the time-out was waited";
  }
}

}  // namespace
