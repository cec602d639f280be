#include "tests/harness/dispatch.h"

namespace brisel::test {

Dispatch Dispatch::From(const Variant& v) {
  if (v.Type() != VT_DISPATCH || !V_DISPATCH(&v.Get())) return {};
  return Dispatch(ComPtr<IDispatch>(V_DISPATCH(&v.Get())));
}

Dispatch Dispatch::Create(const wchar_t* progid, HRESULT* hr_out) {
  CLSID clsid;
  HRESULT hr = ::CLSIDFromProgID(progid, &clsid);
  ComPtr<IDispatch> d;
  if (SUCCEEDED(hr)) hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, d.PutVoid());
  if (hr_out) *hr_out = hr;
  return SUCCEEDED(hr) ? Dispatch(std::move(d)) : Dispatch();
}

HRESULT Dispatch::IdOf(const wchar_t* name, DISPID* id) const {
  if (!d_) return E_POINTER;
  LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
  return d_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
}

CallResult Dispatch::Invoke(DISPID id, WORD flags, std::initializer_list<Arg> args) const {
  CallResult r;
  if (!d_) {
    r.hr = E_POINTER;
    return r;
  }
  // Arguments go in reverse order; [out] ones by reference to a slot here.
  std::vector<Variant> slots(args.size());
  std::vector<VARIANT> raw(args.size());
  size_t i = args.size();
  size_t k = 0;
  for (const Arg& a : args) {
    --i;
    if (a.out) {
      VariantInit(&raw[i]);
      V_VT(&raw[i]) = VT_BYREF | VT_VARIANT;
      V_VARIANTREF(&raw[i]) = slots[k].Put();
    } else {
      raw[i] = a.value.Get();  // borrowed: the Arg outlives the call
    }
    ++k;
  }
  DISPPARAMS params = {raw.data(), nullptr, static_cast<UINT>(raw.size()), 0};
  EXCEPINFO excep = {};
  r.hr = d_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, r.value.Put(), &excep, nullptr);
  if (r.hr == DISP_E_EXCEPTION) {  // the code a script's Err.Number shows
    if (excep.pfnDeferredFillIn) excep.pfnDeferredFillIn(&excep);
    r.hr = excep.scode ? excep.scode : E_FAIL;
  }
  for (BSTR b : {excep.bstrSource, excep.bstrDescription, excep.bstrHelpFile}) Bstr::Attach(b);
  k = 0;
  for (const Arg& a : args) {
    if (a.out) *a.out = std::move(slots[k]);
    ++k;
  }
  return r;
}

CallResult Dispatch::Invoke(const wchar_t* name, WORD flags, std::initializer_list<Arg> args) const {
  DISPID id = 0;
  HRESULT hr = IdOf(name, &id);
  if (FAILED(hr)) {
    CallResult r;
    r.hr = hr;
    return r;
  }
  return Invoke(id, flags, args);
}

long Dispatch::Long(const wchar_t* name, std::initializer_list<Arg> args) const {
  CallResult r = Invoke(name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, args);
  return r.Ok() ? AsLong(r.value) : -999999;
}

std::wstring Dispatch::Text(const wchar_t* name, std::initializer_list<Arg> args) const {
  CallResult r = Invoke(name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, args);
  return r.Ok() ? AsText(r.value) : L"<call failed>";
}

Dispatch Dispatch::Object(const wchar_t* name, std::initializer_list<Arg> args) const {
  CallResult r = Invoke(name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, args);
  return r.Ok() ? From(r.value) : Dispatch();
}

HRESULT Dispatch::Enumerate(std::vector<Dispatch>* items) const {
  CallResult r = Invoke(DISPID_NEWENUM, DISPATCH_METHOD);
  if (FAILED(r.hr)) return r.hr;
  if (r.value.Type() != VT_UNKNOWN && r.value.Type() != VT_DISPATCH) return E_UNEXPECTED;
  IUnknown* unk = V_UNKNOWN(&r.value.Get());
  if (!unk) return E_POINTER;
  ComPtr<IEnumVARIANT> e;
  HRESULT hr = unk->QueryInterface(IID_IEnumVARIANT, e.PutVoid());
  if (FAILED(hr)) return hr;
  for (;;) {
    Variant v;
    ULONG fetched = 0;
    hr = e->Next(1, v.Put(), &fetched);
    if (hr != S_OK || fetched != 1) break;
    items->push_back(From(v));
  }
  return SUCCEEDED(hr) ? S_OK : hr;
}

long AsLong(const Variant& v, long fallback) {
  Variant n;
  return SUCCEEDED(v.ChangeTypeTo(&n, VT_I4)) ? V_I4(&n.Get()) : fallback;
}

std::wstring AsText(const Variant& v) {
  Variant s;
  if (FAILED(v.ChangeTypeTo(&s, VT_BSTR))) return L"<not text>";
  return std::wstring(Bstr::View(V_BSTR(&s.Get())));
}

std::string Narrow(std::wstring_view text) {
  if (text.empty()) return {};
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace brisel::test
