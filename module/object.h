// Base of every automation object: counted, aggregatable, dispatched through
// the type information of its one dual interface.
#pragma once

#include <atomic>

#include "module/com.h"
#include "module/module.h"

namespace brisel {

template <class Derived, class Itf>
class DispatchObject : public Itf {
 public:
  // Creates the object (aggregated when outer is given), runs its start-up
  // and hands out the requested interface.
  static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    Derived* object = New();
    if (!object) return E_OUTOFMEMORY;
    if (outer) object->outer_ = outer;
    // The inner reference keeps the object alive through start-up and is
    // given back below, destroying the object when start-up or the query fails.
    object->inner_.AddRef();
    HRESULT hr = object->Startup();
    if (SUCCEEDED(hr)) hr = object->inner_.QueryInterface(riid, ppv);
    object->inner_.Release();
    return hr;
  }

  // Creates an object for use inside the module (collection items).
  static HRESULT CreateItem(ComPtr<Derived>* out) noexcept {
    Derived* object = New();
    if (!object) return E_OUTOFMEMORY;
    *out = ComPtr<Derived>::Attach(object);
    object->inner_.AddRef();
    return S_OK;
  }

  // IUnknown: the controlling unknown answers (the outer one when aggregated).
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return outer_->QueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return outer_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return outer_->Release(); }

  // IDispatch through the type information of Itf.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return GetInterfaceTypeInfo(__uuidof(Itf), lcid, info);
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
    return GetInterfaceIdsOfNames(__uuidof(Itf), lcid, names, count, ids);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excep, UINT* arg_err) override {
    ComPtr<ITypeInfo> info;
    HRESULT hr = GetInterfaceTypeInfo(__uuidof(Itf), lcid, info.Put());
    if (FAILED(hr)) return hr;
    // Script engines may call a property as a method: "procs.Item(1)" in
    // JScript, and its Enumerator asks for _NewEnum that way.
    if (flags & DISPATCH_METHOD) flags |= DISPATCH_PROPERTYGET;
    return info->Invoke(static_cast<Itf*>(this), id, flags, params, result, excep, arg_err);
  }

 protected:
  DispatchObject() noexcept : inner_(this), outer_(&inner_) {}
  virtual ~DispatchObject() = default;
  // Start-up run by CreateInstance; a failure destroys the new object.
  HRESULT Startup() noexcept { return S_OK; }

 private:
  static Derived* New() noexcept {
    try {
      return new Derived();
    } catch (...) {  // allocation inside a constructor
      return nullptr;
    }
  }

  // Non-delegating unknown: owns the reference count and the identity.
  class Inner final : public IUnknown {
   public:
    explicit Inner(DispatchObject* owner) noexcept : owner_(owner) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
      if (!ppv) return E_POINTER;
      *ppv = nullptr;
      if (IsEqualIID(riid, IID_IUnknown)) {
        *ppv = static_cast<IUnknown*>(this);
      } else if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, __uuidof(Itf))) {
        *ppv = static_cast<Itf*>(owner_);
      } else {
        return E_NOINTERFACE;
      }
      // Through the returned pointer: for the own interface that counts on the
      // controlling unknown, as aggregation requires.
      static_cast<IUnknown*>(*ppv)->AddRef();
      return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
      ULONG left = --refs_;
      if (left == 0) delete static_cast<Derived*>(owner_);
      return left;
    }

   private:
    DispatchObject* owner_;
    std::atomic<ULONG> refs_{0};
  };

  ModuleLockHolder lock_;
  Inner inner_;
  IUnknown* outer_;
};

}  // namespace brisel
