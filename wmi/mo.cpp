#include "wmi/mo.h"

#include <cstdio>
#include <cwchar>
#include <io.h>

#include "wmi/wmi_connection.h"

namespace brisel {

namespace {

constexpr const wchar_t* kNamespace = L"//./root/talvane";

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
  std::wcscpy(name, L"mofXXXXXX");
  if (!::_wmktemp(name)) {
    connection.SetErrorText(L"failed to create tmp file");
    return false;
  }
  struct Remove {
    const wchar_t* path;
    ~Remove() { ::_wremove(path); }
  } remove_on_exit{name};  // also when opening failed
  {
    UniqueStdFile file(::_wfopen(name, L"w"));
    if (!file) {
      connection.SetErrorText(L"failed to open tmp file");
      return false;
    }
    std::wstring text(Bstr::View(mof));
    std::fwprintf(file.get(), L"%ls", text.c_str());
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
