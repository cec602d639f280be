// The module's one way into a WMI namespace.
#pragma once

#include <windows.h>
#include <wbemcli.h>

#include <string>

#include "collector/error_state.h"
#include "module/com.h"

namespace brisel {

class CWmiConnection : public ErrorState {
 public:
  // Connects at once when a path is given; Status() is the validity flag.
  explicit CWmiConnection(const wchar_t* namespace_path = nullptr);
  CWmiConnection(const CWmiConnection&) = delete;
  CWmiConnection& operator=(const CWmiConnection&) = delete;

  bool Connect(const wchar_t* namespace_path);
  bool Valid() const noexcept { return Status(); }
  IWbemServices* Services() const noexcept { return services_.Get(); }
  const std::wstring& ErrorText() const noexcept { return ErrorMessage(); }
  void SetErrorText(const wchar_t* text) { SetErrorMessage(text); }

  // The platform MOF compiler, created on first use.
  ComPtr<IMofCompiler> mof_compiler;

 private:
  ComPtr<IWbemServices> services_;
  ComPtr<IUnknown> services_identity_;
  std::wstring namespace_;
};

// The process-wide locator, created once even under concurrent first use.
HRESULT GetWbemLocator(ComPtr<IWbemLocator>* out);

}  // namespace brisel
