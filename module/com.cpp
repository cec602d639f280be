#include "module/com.h"

namespace brisel {

void SetOutText(VARIANT* out, std::wstring_view text) noexcept {
  if (!out) return;
  ::VariantClear(out);
  BSTR b = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (b) {
    V_VT(out) = VT_BSTR;
    V_BSTR(out) = b;
  } else {
    V_VT(out) = VT_ERROR;
    V_ERROR(out) = E_OUTOFMEMORY;
  }
}

HRESULT ReportError(HRESULT hr, const wchar_t* description) noexcept {
  ComPtr<ICreateErrorInfo> create;
  if (SUCCEEDED(::CreateErrorInfo(create.Put()))) {
    create->SetDescription(const_cast<LPOLESTR>(description));
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.As(&info))) ::SetErrorInfo(0, info.Get());
  }
  return hr;
}

}  // namespace brisel
