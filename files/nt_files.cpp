#include "files/nt_files.h"

#include "module/com.h"

namespace brisel {

namespace {

HRESULT CopyText(const std::wstring& text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT CopyDate(const FILETIME& time, DATE* out) {
  if (!out) return E_POINTER;
  *out = FileTimeToDate(time);
  return S_OK;
}

}  // namespace

DATE FileTimeToDate(const FILETIME& time) noexcept {
  UDATE u = {};
  DATE date = 0.0;
  if (!::FileTimeToSystemTime(&time, &u.st)) return 0.0;
  if (FAILED(::VarDateFromUdate(&u, 0, &date))) return 0.0;
  return date;
}

STDMETHODIMP NtFileItem::get_Name(BSTR* out) {
  if (!out) return E_POINTER;
  *out = ::SysAllocString(record.data.cFileName);
  return *out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP NtFileItem::get_Size(double* out) {
  if (!out) return E_POINTER;
  *out = static_cast<double>(record.data.nFileSizeHigh) * 4294967296.0 + static_cast<double>(record.data.nFileSizeLow);
  return S_OK;
}

STDMETHODIMP NtFileItem::get_CreationTime(DATE* out) { return CopyDate(record.data.ftCreationTime, out); }
STDMETHODIMP NtFileItem::get_LastAccessTime(DATE* out) { return CopyDate(record.data.ftLastAccessTime, out); }
STDMETHODIMP NtFileItem::get_LastWriteTime(DATE* out) { return CopyDate(record.data.ftLastWriteTime, out); }

STDMETHODIMP NtFileItem::get_Attributes(LONG* out) {
  if (!out) return E_POINTER;
  *out = static_cast<LONG>(record.data.dwFileAttributes);
  return S_OK;
}

STDMETHODIMP NtFileItem::get_Description(BSTR* out) { return CopyText(record.description, out); }

HRESULT NtFilesObject::Startup() noexcept {
  try {
    source_ = std::make_shared<FileWatchSource>(items_);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return worker_.Start(&ntFilesThread, source_);
}

STDMETHODIMP NtFilesObject::get_Event(LONG* out) {
  if (!out) return E_POINTER;
  *out = source_->Resume();
  return S_OK;
}

STDMETHODIMP NtFilesObject::GetEvent(LONG* out) { return get_Event(out); }

STDMETHODIMP NtFilesObject::SetFilter(BSTR name, BSTR value, VARIANT* error_text, LONG* result) {
  if (!result) return E_POINTER;
  try {
    std::wstring text;
    *result = source_->SetFilter(Bstr::View(name), Bstr::View(value), &text);
    SetOutText(error_text, text);
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

STDMETHODIMP NtFilesObject::ResetEvent(VARIANT* error_text, LONG* result) {
  if (!result) return E_POINTER;
  source_->ResetEvent();
  SetOutText(error_text, L"");
  *result = 0;
  return S_OK;
}

}  // namespace brisel
