// The shipped DLL as COM sees it: entry points, class objects, aggregation,
// unloading, and what registration left in the registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "module/brisel_h.h"
#include "module/waiter.h"
#include "tests/harness/dispatch.h"

using namespace brisel;
using namespace brisel::test;

namespace {

using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using CanUnloadFn = HRESULT(WINAPI*)();

// Through void(*)(), the generic function pointer type the compiler accepts.
template <class F>
F Proc(HMODULE m, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(::GetProcAddress(m, name)));
}

class DllEntry : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(com_.Result()));
    dll_.Reset(::LoadLibraryW(BRISEL_DLL_PATH));
    ASSERT_TRUE(dll_) << "LoadLibrary failed: " << ::GetLastError();
    get_ = Proc<GetClassObjectFn>(dll_.Get(), "DllGetClassObject");
    can_unload_ = Proc<CanUnloadFn>(dll_.Get(), "DllCanUnloadNow");
    ASSERT_TRUE(get_ && can_unload_);
  }
  ComPtr<IClassFactory> Factory(REFCLSID clsid) {
    ComPtr<IClassFactory> f;
    EXPECT_EQ(get_(clsid, IID_IClassFactory, f.PutVoid()), S_OK);
    return f;
  }

  ComScope com_;
  UniqueModule dll_;
  GetClassObjectFn get_ = nullptr;
  CanUnloadFn can_unload_ = nullptr;
};

TEST_F(DllEntry, ExportsExactlyTheFourEntryPoints) {
  for (const char* name : {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer"})
    EXPECT_NE(::GetProcAddress(dll_.Get(), name), nullptr) << name;
}

// Names the loaded DLL imports from the C runtime, from its import table.
std::vector<std::string> RuntimeImports(HMODULE m) {
  std::vector<std::string> names;
  auto base = reinterpret_cast<const BYTE*>(m);
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  auto desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
  for (; desc->Name; ++desc) {
    if (_stricmp(reinterpret_cast<const char*>(base + desc->Name), "msvcrt.dll") != 0) continue;
    auto thunk = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + desc->OriginalFirstThunk);
    for (; thunk->u1.AddressOfData; ++thunk) {
      if (IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal)) continue;
      names.emplace_back(reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + thunk->u1.AddressOfData)->Name);
    }
  }
  return names;
}

TEST_F(DllEntry, UsesNoTimeFunctionThatEndsIn2038) {
  std::vector<std::string> imports = RuntimeImports(dll_.Get());
  ASSERT_FALSE(imports.empty());
  // The 32-bit runtime's unsuffixed forms count seconds in 32 bits.
  std::vector<std::string> ending = {"_time32", "_ctime32", "_localtime32", "_gmtime32", "_mktime32", "_difftime32"};
  if (sizeof(void*) == 4) ending.insert(ending.end(), {"time", "ctime", "localtime", "gmtime", "mktime", "difftime"});
  for (const std::string& name : imports)
    EXPECT_EQ(std::find(ending.begin(), ending.end(), name), ending.end()) << name;
}

TEST_F(DllEntry, UnknownClassIsNotAvailable) {
  ComPtr<IClassFactory> f;
  EXPECT_EQ(get_(IID_IUnknown, IID_IClassFactory, f.PutVoid()), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_FALSE(f);
  EXPECT_EQ(get_(CLSID_Processes, IID_IClassFactory, nullptr), E_POINTER);
  // Item classes exist only inside collections.
  for (const CLSID* item : {&CLSID_Process, &CLSID_NtEvent, &CLSID_SnmpEvent, &CLSID_SnmpVarbindList,
                            &CLSID_SnmpVarbind}) {
    EXPECT_EQ(get_(*item, IID_IClassFactory, f.PutVoid()), CLASS_E_CLASSNOTAVAILABLE);
  }
}

TEST_F(DllEntry, FactoryCreatesWithTheRequestedInterface) {
  ComPtr<IClassFactory> f = Factory(CLSID_Processes);
  ASSERT_TRUE(f);
  ComPtr<IProcesses> procs;
  ASSERT_EQ(f->CreateInstance(nullptr, IID_IProcesses, procs.PutVoid()), S_OK);
  ComPtr<IDispatch> disp;
  EXPECT_EQ(procs.As(&disp), S_OK);
  ComPtr<IUnknown> a, b;
  ASSERT_EQ(procs.As(&a), S_OK);
  ASSERT_EQ(disp.As(&b), S_OK);
  EXPECT_EQ(a.Get(), b.Get()) << "one identity for every interface";
  ComPtr<IMO> wrong;
  EXPECT_EQ(procs.As(&wrong), E_NOINTERFACE);
  ComPtr<IUnknown> none;
  EXPECT_EQ(f->CreateInstance(nullptr, IID_IClassFactory, none.PutVoid()), E_NOINTERFACE);
}

// A minimal outer object that aggregates one inner object.
class Outer final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown)) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return inner->QueryInterface(riid, ppv);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  ULONG refs = 1;
  ComPtr<IUnknown> inner;
};

TEST_F(DllEntry, AggregationRequiresIUnknownAndDelegatesCounting) {
  ComPtr<IClassFactory> f = Factory(CLSID_MO);
  ASSERT_TRUE(f);
  Outer outer;
  ComPtr<IUnknown> inner;
  EXPECT_EQ(f->CreateInstance(&outer, IID_IDispatch, inner.PutVoid()), CLASS_E_NOAGGREGATION);
  ASSERT_EQ(f->CreateInstance(&outer, IID_IUnknown, inner.PutVoid()), S_OK);
  outer.inner = inner;
  IMO* mo = nullptr;
  ASSERT_EQ(outer.QueryInterface(IID_IMO, reinterpret_cast<void**>(&mo)), S_OK);
  EXPECT_EQ(outer.refs, 2u) << "the inner object counts on the outer one";
  ComPtr<IUnknown> identity;
  ASSERT_EQ(mo->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
  EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(&outer)) << "QueryInterface goes to the outer object";
  identity.Reset();
  mo->Release();
  EXPECT_EQ(outer.refs, 1u);
  outer.inner.Reset();
  inner.Reset();
}

TEST_F(DllEntry, UnloadOnlyWhenNoObjectOrLockRemains) {
  ASSERT_EQ(can_unload_(), S_OK);
  ComPtr<IClassFactory> f = Factory(CLSID_Processes);
  ASSERT_TRUE(f);
  EXPECT_EQ(can_unload_(), S_OK) << "a class object alone does not hold the module";
  ComPtr<IDispatch> procs;
  ASSERT_EQ(f->CreateInstance(nullptr, IID_IDispatch, procs.PutVoid()), S_OK);
  EXPECT_EQ(can_unload_(), S_FALSE);
  // Items handed out by the collection hold the module too.
  Dispatch d(procs);
  Dispatch first = d.Object(L"Item", {1});
  ASSERT_TRUE(first);
  procs.Reset();
  d = Dispatch();
  EXPECT_EQ(can_unload_(), S_FALSE);
  first = Dispatch();
  EXPECT_EQ(can_unload_(), S_OK);
  EXPECT_EQ(f->LockServer(TRUE), S_OK);
  EXPECT_EQ(can_unload_(), S_FALSE);
  EXPECT_EQ(f->LockServer(FALSE), S_OK);
  EXPECT_EQ(can_unload_(), S_OK);
}

TEST_F(DllEntry, UnbalancedLockServerNeverHoldsOrFreesTheModule) {
  ComPtr<IClassFactory> f = Factory(CLSID_Processes);
  ASSERT_TRUE(f);
  ASSERT_EQ(can_unload_(), S_OK);
  EXPECT_EQ(f->LockServer(FALSE), S_OK);
  EXPECT_EQ(f->LockServer(FALSE), S_OK);
  EXPECT_EQ(can_unload_(), S_OK) << "the count never goes below zero";
  EXPECT_EQ(f->LockServer(TRUE), S_OK);
  EXPECT_EQ(can_unload_(), S_FALSE);
  EXPECT_EQ(f->LockServer(FALSE), S_OK);
  EXPECT_EQ(can_unload_(), S_OK);
  // An extra unlock does not take a live object's share.
  ComPtr<IDispatch> procs;
  ASSERT_EQ(f->CreateInstance(nullptr, IID_IDispatch, procs.PutVoid()), S_OK);
  EXPECT_EQ(f->LockServer(FALSE), S_OK);
  EXPECT_EQ(can_unload_(), S_FALSE);
  procs.Reset();
  EXPECT_EQ(can_unload_(), S_OK);
}

std::wstring ReadClassesString(const std::wstring& path, const wchar_t* value) {
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

TEST(Registration, ProgIdsClassKeysAndTypeLibrary) {
  struct Expect {
    const wchar_t* progid;
    const CLSID* clsid;
    const wchar_t* description;
  } classes[] = {{L"TalvaneAgent.Processes", &CLSID_Processes, L"Processes Class"},
                 {L"TalvaneAgent.Brisel", &CLSID_MO, L"Brisel Class"},
                 {L"TalvaneAgent.SnmpEvents", &CLSID_SnmpEvents, L"SnmpEvents Class"},
                 {L"TalvaneAgent.NtEventFilter", &CLSID_NtEventFilter, L"NtEventFilter Class"},
                 {L"TalvaneAgent.NtFiles", &CLSID_NtFiles, L"NtFiles Class"},
                 {L"TalvaneAgent.NtFile", &CLSID_NtFile, L"NtFile Class"},
                 {L"TalvaneAgent.Waiter", &CLSID_Waiter, L"Waiter Class"}};
  for (const auto& c : classes) {
    SCOPED_TRACE(Narrow(c.progid));
    std::wstring progid = c.progid;
    std::wstring clsid = Guid(*c.clsid);
    EXPECT_EQ(ReadClassesString(progid, nullptr), c.description);
    EXPECT_EQ(ReadClassesString(progid + L"\\CLSID", nullptr), clsid);
    EXPECT_EQ(ReadClassesString(progid + L"\\CurVer", nullptr), progid + L".4");
    EXPECT_EQ(ReadClassesString(progid + L".4\\CLSID", nullptr), clsid);
    std::wstring key = L"CLSID\\" + clsid;
    EXPECT_EQ(ReadClassesString(key, nullptr), c.description);
    EXPECT_EQ(ReadClassesString(key + L"\\ProgID", nullptr), progid + L".4");
    EXPECT_EQ(ReadClassesString(key + L"\\VersionIndependentProgID", nullptr), progid);
    EXPECT_EQ(ReadClassesString(key + L"\\TypeLib", nullptr), Guid(LIBID_VELKALib));
    EXPECT_EQ(ReadClassesString(key + L"\\InprocServer32", L"ThreadingModel"), L"Free");
    std::wstring server = ReadClassesString(key + L"\\InprocServer32", nullptr);
    EXPECT_NE(server.find(L"brisel.dll"), std::wstring::npos) << Narrow(server);
  }
  ComPtr<ITypeLib> lib;
  EXPECT_EQ(::LoadRegTypeLib(LIBID_VELKALib, 1, 0, LANG_NEUTRAL, lib.Put()), S_OK);
}

class Scripted : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(com_.Result())); }
  ComScope com_;
};

std::wstring ExeName() {
  wchar_t buf[MAX_PATH];
  DWORD n = ::GetModuleFileNameW(nullptr, buf, MAX_PATH);
  std::wstring path(buf, n);
  return path.substr(path.find_last_of(L"\\/") + 1);
}

TEST_F(Scripted, ProcessesListsThisProgramWithItsIdAndThreads) {
  HRESULT hr;
  Dispatch procs = Dispatch::Create(L"TalvaneAgent.Processes", &hr);
  ASSERT_TRUE(procs) << std::hex << hr;
  long count = procs.Long(L"Count");
  ASSERT_GT(count, 0);
  bool found = false;
  for (long i = 1; i <= count; ++i) {
    Dispatch p = procs.Object(L"Item", {i});
    ASSERT_TRUE(p) << i;
    if (p.Long(L"ProcessId") != static_cast<long>(::GetCurrentProcessId())) continue;
    found = true;
    EXPECT_EQ(_wcsicmp(p.Text(L"Name").c_str(), ExeName().c_str()), 0) << Narrow(p.Text(L"Name"));
    EXPECT_GE(p.Long(L"ThreadCount"), 1);
    EXPECT_GE(p.Long(L"HandleCount"), 0);
  }
  EXPECT_TRUE(found);
}

TEST_F(Scripted, ProcessesItemBoundsAndEnumerationAgree) {
  Dispatch procs = Dispatch::Create(L"TalvaneAgent.Processes");
  ASSERT_TRUE(procs);
  long count = procs.Long(L"Count");
  CallResult below = procs.Get(L"Item", {0});
  EXPECT_EQ(below.hr, E_INVALIDARG);
  EXPECT_FALSE(below.description.empty());
  EXPECT_EQ(procs.Get(L"Item", {count + 1}).hr, E_FAIL);
  EXPECT_EQ(procs.Get(L"Item", {-5}).hr, E_INVALIDARG);
  std::vector<Dispatch> items;
  ASSERT_EQ(procs.Enumerate(&items), S_OK);
  ASSERT_EQ(static_cast<long>(items.size()), count);
  for (long i = 1; i <= count; ++i)
    EXPECT_EQ(items[i - 1].Long(L"ProcessId"), procs.Object(L"Item", {i}).Long(L"ProcessId"));
  // Dispatch ids are the interface's own.
  DISPID id = 0;
  ASSERT_EQ(procs.IdOf(L"Count", &id), S_OK);
  EXPECT_EQ(id, 1);
  ASSERT_EQ(procs.IdOf(L"item", &id), S_OK) << "names are matched without regard to case";
  EXPECT_EQ(id, 0);
  EXPECT_EQ(procs.IdOf(L"NoSuchMember", &id), DISP_E_UNKNOWNNAME);
}

long HandleArg(HANDLE h) { return static_cast<long>(reinterpret_cast<LONG_PTR>(h)); }

TEST_F(Scripted, WaiterAnswersSignalledTimeOutAndRefusals) {
  Dispatch waiter = Dispatch::Create(L"TalvaneAgent.Waiter");
  ASSERT_TRUE(waiter);
  UniqueEvent set(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
  UniqueEvent unset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  struct Case {
    const char* what;
    long handle;
    long ms;
    long result;
    const wchar_t* text;  // part of the error text; empty: no text
    long min_ms;
  } cases[] = {
      {"signalled", HandleArg(set.Get()), 1000, 0, L"", 0},
      {"time-out", HandleArg(unset.Get()), 200, 258, L"", 180},
      {"zero time-out", HandleArg(unset.Get()), 0, 258, L"", 0},
      {"null handle", 0, 100, -1, L"cannot wait on handle 0 (error 6)", 0},
      // What Event answers when a watcher cannot start: it is the current
      // process's pseudo-handle, which would only time out.
      {"the -1 of a failed Event", -1, 100, -1, L"cannot wait on handle -1 (error 6)", 0},
      {"handle beyond any table", 0x7FFFFFF0, 100, -1, L"(error 6)", 0},
      {"negative time-out", HandleArg(set.Get()), -1, -1, L"0 to 3600000 milliseconds, not -1", 0},
      {"time-out above the maximum", HandleArg(set.Get()), 3600001, -1, L"not 3600001", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Variant text;
    auto start = std::chrono::steady_clock::now();
    CallResult r = waiter.Call(L"Wait", {c.handle, c.ms, Arg::Out(&text)});
    long spent = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    ASSERT_TRUE(r.Ok()) << std::hex << r.hr;
    EXPECT_EQ(AsLong(r.value), c.result);
    EXPECT_GE(spent, c.min_ms);
    std::wstring t = AsText(text);
    if (*c.text) EXPECT_NE(t.find(c.text), std::wstring::npos) << Narrow(t);
    else EXPECT_EQ(t, L"");
  }
  DISPID id = 0;
  ASSERT_EQ(waiter.IdOf(L"wait", &id), S_OK);
  EXPECT_EQ(id, 1);
}

LRESULT CALLBACK SetEventOnApp(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_APP) ::SetEvent(reinterpret_cast<HANDLE>(lp));
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

// A script host's thread is a single-threaded apartment: its window messages
// must be dispatched while a script waits. The message sets the awaited event.
TEST(WaiterOnSta, DispatchesAPostedMessageWhileWaiting) {
  long result = -2;
  std::thread sta([&] {
    ComScope com(COINIT_APARTMENTTHREADED);
    if (FAILED(com.Result())) return;
    WNDCLASSW wc{};
    wc.lpfnWndProc = SetEventOnApp;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"BriselWaiterTest";
    ::RegisterClassW(&wc);
    HWND hwnd = ::CreateWindowW(L"BriselWaiterTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    UniqueEvent event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ComPtr<IDispatch> object;  // created here, so that calls run on this thread
    if (hwnd && SUCCEEDED(WaiterObject::CreateInstance(nullptr, IID_IDispatch, object.PutVoid()))) {
      ::PostMessageW(hwnd, WM_APP, 0, reinterpret_cast<LPARAM>(event.Get()));
      Variant text;
      result = AsLong(Dispatch(object).Call(L"Wait", {HandleArg(event.Get()), 5000, Arg::Out(&text)}).value);
    }
    if (hwnd) ::DestroyWindow(hwnd);
  });
  sta.join();
  EXPECT_EQ(result, 0) << "258: the message was not dispatched during the wait";
}

TEST_F(Scripted, ClassesOutsideTheClassTableAreNotRegistered) {
  ComPtr<IUnknown> none;
  // Only the classes in the class table are creatable; Process items come from the list.
  EXPECT_EQ(::CoCreateInstance(CLSID_Process, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, none.PutVoid()),
            REGDB_E_CLASSNOTREG);
}

}  // namespace
