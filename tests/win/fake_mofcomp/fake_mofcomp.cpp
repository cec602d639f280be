// Stand-in for the platform MOF compiler, for tests only. Registered by a test
// under the platform class id, it answers CompileFile as the platform does:
// S_OK, or a failure with the phase in WBEM_COMPILE_STATUS_INFO. Behaviour
// comes from the environment of the test process:
//   FAKE_MOF_RESULT  "<hresult hex> <phase>" (default: "0 0")
//   FAKE_MOF_RECORD  path of a file that receives a header line
//                    "server=<name>|flags=<n>|class=<n>|instance=<n>|file=<name>"
//                    and then the compiled file's bytes unchanged.
//   FAKE_MOF_BARRIER n: compilers are made n at a time, all returned together,
//                    so that n callers go on to their temporary files at once.
//   FAKE_MOF_OWN     set: the file must hold "call <id of the calling thread>"
//                    for as long as CompileFile runs (it looks twice, 50 ms
//                    apart); otherwise it fails in phase 2 (parsing).
#include <windows.h>
#include <wbemcli.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace {

std::atomic<long> g_locks{0};

std::mutex g_barrier_lock;
std::condition_variable g_barrier_open;
long g_arrived = 0;

std::wstring Env(const wchar_t* name);

void Barrier() {
  long n = std::wcstol(Env(L"FAKE_MOF_BARRIER").c_str(), nullptr, 10);
  if (n <= 1) return;
  std::unique_lock lock(g_barrier_lock);
  long generation = g_arrived / n;
  if (++g_arrived % n == 0) {
    g_barrier_open.notify_all();
    return;
  }
  g_barrier_open.wait_for(lock, std::chrono::seconds(10), [&] { return g_arrived / n != generation; });
}

std::string Contents(LPWSTR file) {
  std::string text;
  if (FILE* in = file ? _wfopen(file, L"rb") : nullptr) {
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, in)) > 0) text.append(buf, n);
    fclose(in);
  }
  return text;
}

bool HoldsOwnText(LPWSTR file) {
  std::string own = "call " + std::to_string(::GetCurrentThreadId());
  if (Contents(file) != own) return false;
  ::Sleep(50);
  return Contents(file) == own;
}

std::wstring Env(const wchar_t* name) {
  wchar_t buf[1024];
  DWORD n = ::GetEnvironmentVariableW(name, buf, 1024);
  return n > 0 && n < 1024 ? std::wstring(buf, n) : std::wstring();
}

void Record(LPWSTR file, LPWSTR server, LONG flags, LONG class_flags, LONG instance_flags) {
  std::wstring target = Env(L"FAKE_MOF_RECORD");
  if (target.empty()) return;
  FILE* out = _wfopen(target.c_str(), L"wb");
  if (!out) return;
  fprintf(out, "server=%ls|flags=%ld|class=%ld|instance=%ld|file=%ls\n", server ? server : L"", flags, class_flags,
          instance_flags, file ? file : L"");
  if (FILE* in = file ? _wfopen(file, L"rb") : nullptr) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, in)) > 0) fwrite(buf, 1, n, out);
    fclose(in);
  }
  fclose(out);
}

class FakeCompiler final : public IMofCompiler {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMofCompiler)) return E_NOINTERFACE;
    *ppv = static_cast<IMofCompiler*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --refs_;
    if (left == 0) {
      delete this;
      --g_locks;
    }
    return left;
  }
  STDMETHODIMP CompileFile(LPWSTR file, LPWSTR server, LPWSTR, LPWSTR, LPWSTR, LONG flags, LONG class_flags,
                           LONG instance_flags, WBEM_COMPILE_STATUS_INFO* info) override {
    Record(file, server, flags, class_flags, instance_flags);
    unsigned long hr = 0;
    long phase = 0;
    std::wstring wanted = Env(L"FAKE_MOF_RESULT");
    if (!wanted.empty()) swscanf(wanted.c_str(), L"%lx %ld", &hr, &phase);
    if (!Env(L"FAKE_MOF_OWN").empty() && !HoldsOwnText(file)) {
      hr = WBEM_E_FAILED;
      phase = 2;
    }
    if (info) {
      info->lPhaseError = phase;
      info->hRes = static_cast<HRESULT>(hr);
    }
    return static_cast<HRESULT>(hr);
  }
  STDMETHODIMP CompileBuffer(LONG, BYTE*, LPWSTR, LPWSTR, LPWSTR, LPWSTR, LONG, LONG, LONG,
                             WBEM_COMPILE_STATUS_INFO*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP CreateBMOF(LPWSTR, LPWSTR, LPWSTR, LONG, LONG, LONG, WBEM_COMPILE_STATUS_INFO*) override {
    return E_NOTIMPL;
  }

 private:
  std::atomic<ULONG> refs_{0};
};

class Factory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    Barrier();
    auto* c = new (std::nothrow) FakeCompiler();
    if (!c) return E_OUTOFMEMORY;
    ++g_locks;
    c->AddRef();
    HRESULT hr = c->QueryInterface(riid, ppv);
    c->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    lock ? ++g_locks : --g_locks;
    return S_OK;
  }
};

Factory g_factory;

}  // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!IsEqualCLSID(clsid, CLSID_MofCompiler)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return g_locks == 0 ? S_OK : S_FALSE; }
