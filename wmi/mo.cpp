#include "wmi/mo.h"

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <fcntl.h>
#include <io.h>

#include "wmi/wmi_connection.h"

namespace brisel {

namespace {

constexpr const wchar_t* kNamespace = L"//./root/talvane";

enum class TempResult { Created, NoName, NotOpened };

// Creates a temporary file "mofXXXXXX" in the current directory, exclusively:
// the runtime's names repeat until the file exists (under Wine they come from
// the process id), so two calls at once could otherwise write, compile and
// remove one file. A name taken meanwhile is replaced by another.
TempResult CreateTempFile(wchar_t (&name)[11], UniqueStdFile* file) {
  static std::atomic<unsigned> g_serial{0};
  constexpr int kAttempts = 64;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::wcscpy(name, L"mofXXXXXX");
    if (attempt == 0) {
      if (!::_wmktemp(name)) continue;
    } else {
      // Six base-36 digits from the thread and a process-wide serial number.
      unsigned v = ::GetCurrentThreadId() * 2654435761u + g_serial.fetch_add(1) * 40503u;
      for (int i = 8; i >= 3; --i, v /= 36) name[i] = L"0123456789abcdefghijklmnopqrstuvwxyz"[v % 36];
    }
    UniqueFile handle(::CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) {
      DWORD error = ::GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      return TempResult::NotOpened;
    }
    // A text-mode stream over it, as mode "w" gives.
    int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle.Get()), _O_WRONLY | _O_TEXT);
    if (fd == -1) {
      handle.Reset();
      ::DeleteFileW(name);
      return TempResult::NotOpened;
    }
    handle.Release();  // owned by fd now
    file->reset(::_wfdopen(fd, L"w"));
    if (!*file) {
      ::_close(fd);
      ::DeleteFileW(name);
      return TempResult::NotOpened;
    }
    return TempResult::Created;
  }
  return TempResult::NoName;
}

// Writes the text to a fresh temporary file in the current directory, hands
// it to the compiler and removes it again. False exactly when a message was set.
bool Compile(CWmiConnection& connection, BSTR mof) {
  if (!connection.mof_compiler &&
      FAILED(::CoCreateInstance(CLSID_MofCompiler, nullptr, CLSCTX_INPROC_SERVER, IID_IMofCompiler,
                                connection.mof_compiler.PutVoid()))) {
    connection.SetErrorText(L"failed to create IMofCompiler");
    return false;
  }
  wchar_t name[11];
  UniqueStdFile file;
  switch (CreateTempFile(name, &file)) {
    case TempResult::NoName: connection.SetErrorText(L"failed to create tmp file"); return false;
    case TempResult::NotOpened: connection.SetErrorText(L"failed to open tmp file"); return false;
    case TempResult::Created: break;
  }
  // Only a file this call created is removed: a name that could not be
  // created may be another call's file.
  struct Remove {
    const wchar_t* path;
    ~Remove() { ::_wremove(path); }
  } remove_on_exit{name};
  {
    UniqueStdFile written = std::move(file);
    std::wstring text(Bstr::View(mof));
    std::fwprintf(written.get(), L"%ls", text.c_str());
  }
  WBEM_COMPILE_STATUS_INFO info = {};
  Bstr server(kNamespace);
  HRESULT hr = connection.mof_compiler->CompileFile(name, server.Get(), nullptr, nullptr, nullptr,
                                                    WBEM_FLAG_DONT_ADD_TO_LIST, 0, 0, &info);
  if (hr == 0) return true;
  switch (info.lPhaseError) {
    case 1: connection.SetErrorText(L"failed to compile mof: argument error"); return false;
    case 2: connection.SetErrorText(L"failed to compile mof: parsing"); return false;
    case 3: connection.SetErrorText(L"failed to compile mof: error occurred while storing the data"); return false;
    default: return true;  // a warning without a failing phase
  }
}

}  // namespace

STDMETHODIMP MofCompilerObject::MofCompile(BSTR mof, LONG, VARIANT* error_text, LONG* result) {
  if (!result) return E_POINTER;
  *result = -1;
  try {
    CWmiConnection connection(kNamespace);
    bool ok = Compile(connection, mof);
    SetOutText(error_text, connection.ErrorText());
    // A set message is a failure: report it as such, not as 0.
    *result = ok ? 0 : -1;
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace brisel
