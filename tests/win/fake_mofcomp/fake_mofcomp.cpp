// Stand-in for the platform MOF compiler, registered by the tests under its
// class id. CompileFile answers as the platform does: S_OK, or a failure with
// the phase in WBEM_COMPILE_STATUS_INFO. The test process's environment says how:
//   FAKE_MOF_RESULT  "<hresult hex> <phase>" (default: "0 0")
//   FAKE_MOF_RECORD  file that receives "server=..|flags=..|class=..|instance=..|file=<name>\n" and the file's bytes
//   FAKE_MOF_THREADS n: compilers are handed out n at a time, so that n callers reach their files at once, and
//                    each file must hold "call <thread id>" all through CompileFile, else phase 2 (parsing)
#include <wbemcli.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

namespace {

std::wstring Env(const wchar_t* name) {
  wchar_t buf[1024];
  DWORD n = ::GetEnvironmentVariableW(name, buf, 1024);
  return n > 0 && n < 1024 ? std::wstring(buf, n) : std::wstring();
}
long Threads() { return std::wcstol(Env(L"FAKE_MOF_THREADS").c_str(), nullptr, 10); }

std::string Contents(LPWSTR file) {
  std::ostringstream text;
  if (file) text << std::ifstream(file, std::ios::binary).rdbuf();
  return text.str();
}

std::mutex g_barrier_lock;
std::condition_variable g_barrier_open;
long g_arrived = 0;

void Barrier(long n) {
  std::unique_lock lock(g_barrier_lock);
  long generation = g_arrived / n;
  if (++g_arrived % n == 0) return g_barrier_open.notify_all();
  g_barrier_open.wait_for(lock, std::chrono::seconds(10), [&] { return g_arrived / n != generation; });
}

// Stateless, so one static object serves every caller; the module stays loaded.
class FakeCompiler final : public IMofCompiler, public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = IsEqualIID(riid, IID_IMofCompiler) ? static_cast<IMofCompiler*>(this) : nullptr;
    if (IsEqualIID(riid, IID_IClassFactory) || IsEqualIID(riid, IID_IUnknown)) *ppv = static_cast<IClassFactory*>(this);
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (Threads() > 1) Barrier(Threads());
    return IsEqualIID(riid, IID_IClassFactory) ? E_NOINTERFACE : QueryInterface(riid, ppv);
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

  STDMETHODIMP CompileFile(LPWSTR file, LPWSTR server, LPWSTR, LPWSTR, LPWSTR, LONG flags, LONG class_flags,
                           LONG instance_flags, WBEM_COMPILE_STATUS_INFO* info) override {
    std::string body = Contents(file);
    if (FILE* out = _wfopen(Env(L"FAKE_MOF_RECORD").c_str(), L"wb")) {
      fprintf(out, "server=%ls|flags=%ld|class=%ld|instance=%ld|file=%ls\n%s", server ? server : L"", flags,
              class_flags, instance_flags, file ? file : L"", body.c_str());
      fclose(out);
    }
    unsigned long hr = 0;
    long phase = 0;
    swscanf(Env(L"FAKE_MOF_RESULT").c_str(), L"%lx %ld", &hr, &phase);
    if (Threads() > 1) {
      std::string own = "call " + std::to_string(::GetCurrentThreadId());
      ::Sleep(50);  // time for another call to write the same file
      if (body != own || Contents(file) != own) {
        hr = WBEM_E_FAILED;
        phase = 2;
      }
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
};

FakeCompiler g_compiler;

}  // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!IsEqualCLSID(clsid, CLSID_MofCompiler)) return CLASS_E_CLASSNOTAVAILABLE;
  return IsEqualIID(riid, IID_IMofCompiler) ? E_NOINTERFACE : g_compiler.QueryInterface(riid, ppv);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }
