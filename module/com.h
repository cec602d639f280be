// Owners for the module's Windows and COM resources: one set, used everywhere.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace brisel {

// Owns a handle-like value; Traits gives its invalid value and how it is closed.
template <class Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;
  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Type h) noexcept : h_(h) {}
  UniqueHandle(UniqueHandle&& o) noexcept : h_(o.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) Reset(o.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { Reset(); }

  Type Get() const noexcept { return h_; }
  bool Valid() const noexcept { return h_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return Valid(); }
  Type Release() noexcept { return std::exchange(h_, Traits::Invalid()); }
  void Reset(Type h = Traits::Invalid()) noexcept {
    Type old = std::exchange(h_, h);
    if (old != Traits::Invalid()) Traits::Close(old);
  }
  Type* Put() noexcept {
    Reset();
    return &h_;
  }

 private:
  Type h_ = Traits::Invalid();
};

struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::CloseHandle(h); }
};
struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::CloseHandle(h); }
};
struct RegKeyTraits {
  using Type = HKEY;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::RegCloseKey(h); }
};
struct ModuleTraits {
  using Type = HMODULE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::FreeLibrary(h); }
};
struct ChangeNotificationTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::FindCloseChangeNotification(h); }
};
struct EventSourceTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::DeregisterEventSource(h); }
};
struct LocalMemoryTraits {  // buffers the platform allocates for the caller (FormatMessage)
  using Type = HLOCAL;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::LocalFree(h); }
};

using UniqueEvent = UniqueHandle<KernelHandleTraits>;  // events, threads, mutexes
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueRegKey = UniqueHandle<RegKeyTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueEventLogSource = UniqueHandle<EventSourceTraits>;
using UniqueChangeNotification = UniqueHandle<ChangeNotificationTraits>;
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;

struct StdFileCloser {
  void operator()(FILE* f) const noexcept { std::fclose(f); }
};
using UniqueStdFile = std::unique_ptr<FILE, StdFileCloser>;

// Counted interface pointer.
template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  ComPtr(T* p) noexcept : p_(p) {  // NOLINT: adopts with AddRef, like an assignment
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& o) noexcept : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  // Takes over a reference the caller already owns.
  static ComPtr Attach(T* p) noexcept {
    ComPtr r;
    r.p_ = p;
    return r;
  }
  T* Get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  T* Detach() noexcept { return std::exchange(p_, nullptr); }
  void Reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  T** Put() noexcept {
    Reset();
    return &p_;
  }
  void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }
  template <class U>
  HRESULT As(ComPtr<U>* out) const noexcept {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(__uuidof(U), out->PutVoid());
  }
  HRESULT CopyTo(T** out) const noexcept {
    if (!out) return E_POINTER;
    *out = p_;
    if (p_) p_->AddRef();
    return S_OK;
  }

 private:
  T* p_ = nullptr;
};

// Owned BSTR.
class Bstr {
 public:
  Bstr() noexcept = default;
  explicit Bstr(std::wstring_view s) : b_(::SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
  Bstr(Bstr&& o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
  Bstr& operator=(Bstr&& o) noexcept {
    if (this != &o) Reset(o.Release());
    return *this;
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { Reset(); }

  static Bstr Attach(BSTR b) noexcept {
    Bstr r;
    r.b_ = b;
    return r;
  }
  BSTR Get() const noexcept { return b_; }
  BSTR Release() noexcept { return std::exchange(b_, nullptr); }
  void Reset(BSTR b = nullptr) noexcept {
    if (BSTR old = std::exchange(b_, b)) ::SysFreeString(old);
  }
  BSTR* Put() noexcept {
    Reset();
    return &b_;
  }
  UINT Length() const noexcept { return ::SysStringLen(b_); }
  std::wstring_view View() const noexcept { return View(b_); }
  // A BSTR may be null (the empty string) and may hold embedded zeros.
  static std::wstring_view View(BSTR b) noexcept { return b ? std::wstring_view(b, ::SysStringLen(b)) : std::wstring_view(); }

 private:
  BSTR b_ = nullptr;
};

// Owned VARIANT.
class Variant {
 public:
  Variant() noexcept { ::VariantInit(&v_); }
  explicit Variant(long l) noexcept : Variant() {
    V_VT(&v_) = VT_I4;
    V_I4(&v_) = l;
  }
  explicit Variant(std::wstring_view s) : Variant() {
    if (BSTR b = ::SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {
      V_VT(&v_) = VT_BSTR;
      V_BSTR(&v_) = b;
    }
  }
  explicit Variant(IDispatch* d) noexcept : Variant() {
    V_VT(&v_) = VT_DISPATCH;
    V_DISPATCH(&v_) = d;
    if (d) d->AddRef();
  }
  Variant(const Variant& o) : Variant() { ::VariantCopy(&v_, const_cast<VARIANT*>(&o.v_)); }
  Variant(Variant&& o) noexcept : v_(o.v_) { ::VariantInit(&o.v_); }
  Variant& operator=(Variant o) noexcept {
    std::swap(v_, o.v_);
    return *this;
  }
  ~Variant() { ::VariantClear(&v_); }

  const VARIANT& Get() const noexcept { return v_; }
  VARIANT* Put() noexcept {
    ::VariantClear(&v_);
    return &v_;
  }
  VARTYPE Type() const noexcept { return V_VT(&v_); }
  // Gives the value away into a caller's VARIANT, which must be cleared or uninitialised.
  void Release(VARIANT* out) noexcept {
    *out = v_;
    ::VariantInit(&v_);
  }
  // Converted copy (VariantChangeType takes its source as non-const).
  HRESULT ChangeTypeTo(Variant* out, VARTYPE vt) const noexcept {
    return ::VariantChangeType(out->Put(), const_cast<VARIANT*>(&v_), 0, vt);
  }
  HRESULT CopyTo(VARIANT* out) const noexcept {
    ::VariantInit(out);
    return ::VariantCopy(out, const_cast<VARIANT*>(&v_));
  }

 private:
  VARIANT v_;
};

// A heap object with one interface besides IUnknown, deleted with its last
// reference (enumerators, class factories).
template <class Itf>
class SimpleUnknown : public Itf {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, __uuidof(Itf))) return E_NOINTERFACE;
    *ppv = static_cast<Itf*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~SimpleUnknown() = default;

 private:
  std::atomic<ULONG> refs_{0};
};

// Writes an [out] VARIANT text: clears what was there, then stores a BSTR, or
// VT_ERROR with E_OUTOFMEMORY when the text cannot be allocated.
void SetOutText(VARIANT* out, std::wstring_view text) noexcept;

// Publishes a failure with a description for the caller's error object
// (Err.Description in VBScript), and returns the code.
HRESULT ReportError(HRESULT hr, const wchar_t* description) noexcept;

}  // namespace brisel
