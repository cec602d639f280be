// Late-bound calls for tests: what a script engine does with IDispatch.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "module/com.h"

namespace brisel::test {

// COM for the calling thread (multithreaded apartment by default).
class ComScope {
 public:
  explicit ComScope(DWORD model = COINIT_MULTITHREADED) : hr_(::CoInitializeEx(nullptr, model)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  HRESULT Result() const { return hr_; }

 private:
  HRESULT hr_;
};

// One argument of a call: a value, or an [out] VARIANT that the callee fills
// (passed as VT_BYREF|VT_VARIANT, as VBScript does).
struct Arg {
  Arg(long v) : value(v) {}
  Arg(int v) : value(static_cast<long>(v)) {}
  Arg(const wchar_t* s) : value(std::wstring_view(s)) {}
  Arg(const std::wstring& s) : value(std::wstring_view(s)) {}
  Arg(Variant v) : value(std::move(v)) {}
  static Arg Out(Variant* target) {
    Arg a(0L);
    a.out = target;
    return a;
  }
  Variant value;
  Variant* out = nullptr;
};

// The outcome of one Invoke: its code and result.
struct CallResult {
  HRESULT hr = E_FAIL;
  Variant value;
  bool Ok() const { return SUCCEEDED(hr); }
};

class Dispatch {
 public:
  Dispatch() = default;
  explicit Dispatch(ComPtr<IDispatch> d) : d_(std::move(d)) {}
  // From a VT_DISPATCH value (as returned by Item).
  static Dispatch From(const Variant& v);
  // Creates by ProgID as CreateObject does; empty on failure, with *hr set.
  static Dispatch Create(const wchar_t* progid, HRESULT* hr = nullptr);

  explicit operator bool() const { return static_cast<bool>(d_); }
  IDispatch* Get() const { return d_.Get(); }

  CallResult Invoke(DISPID id, WORD flags, std::initializer_list<Arg> args = {}) const;
  CallResult Invoke(const wchar_t* name, WORD flags, std::initializer_list<Arg> args = {}) const;
  CallResult Get(const wchar_t* name, std::initializer_list<Arg> args = {}) const {
    return Invoke(name, DISPATCH_PROPERTYGET, args);
  }
  CallResult Call(const wchar_t* name, std::initializer_list<Arg> args = {}) const {
    return Invoke(name, DISPATCH_METHOD, args);
  }

  // Shorthands that treat a failed call as a test failure value.
  long Long(const wchar_t* name, std::initializer_list<Arg> args = {}) const;
  std::wstring Text(const wchar_t* name, std::initializer_list<Arg> args = {}) const;
  Dispatch Object(const wchar_t* name, std::initializer_list<Arg> args = {}) const;

  // All items of a collection through _NewEnum, as For Each sees them.
  HRESULT Enumerate(std::vector<Dispatch>* items) const;

 private:
  HRESULT IdOf(const wchar_t* name, DISPID* id) const;
  ComPtr<IDispatch> d_;
};

// Converted views of a VARIANT; conversion failures give the fallback.
long AsLong(const Variant& v, long fallback = -999999);
std::wstring AsText(const Variant& v);

// UTF-8 for test messages.
std::string Narrow(std::wstring_view text);

}  // namespace brisel::test
