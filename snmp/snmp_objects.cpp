#include "snmp/snmp_objects.h"

#include <mutex>
#include <new>
#include <string>

#include "snmp/snmp_api.h"
#include "trace/trace.h"

namespace brisel {

namespace {

HRESULT CopyText(const std::wstring& text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT CopyNumber(LONG value, LONG* out) {
  if (!out) return E_POINTER;
  *out = value;
  return S_OK;
}

// Text through the ANSI code page of the calling thread.
std::string ToThreadAnsi(std::wstring_view text) {
  if (text.empty()) return {};
  int n = ::WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                nullptr);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                          nullptr);
  return out;
}

std::wstring FromThreadAnsi(const char* text) {
  if (!text || !*text) return {};
  int n = ::MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, nullptr, 0);
  if (n <= 1) return {};
  std::wstring out(n, L'\0');
  ::MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, out.data(), n);
  out.resize(n - 1);
  return out;
}

// SnmpUtilOidToA answers in one static buffer shared by all threads.
std::mutex g_oid_text_lock;

std::wstring DottedOid(AsnObjectIdentifier* oid) {
  std::lock_guard lock(g_oid_text_lock);
  return L"." + FromThreadAnsi(::SnmpUtilOidToA(oid));
}

// An identifier that SnmpMgrStrToOid fills; freed in every case.
struct ParsedOid {
  AsnObjectIdentifier oid{};
  ParsedOid() = default;
  ParsedOid(const ParsedOid&) = delete;
  ParsedOid& operator=(const ParsedOid&) = delete;
  ~ParsedOid() { ::SnmpUtilOidFree(&oid); }
};

}  // namespace

STDMETHODIMP SnmpVarbind::get_ObjectIdentifier(BSTR* out) { return CopyText(record.ObjectIdentifier, out); }
STDMETHODIMP SnmpVarbind::get_Encoding(BSTR* out) { return CopyText(record.Encoding, out); }
STDMETHODIMP SnmpVarbind::get_Value(BSTR* out) { return CopyText(record.Value, out); }

void SnmpVarbindList::Fill(const std::vector<std::unique_ptr<VarbindRecord>>& bindings) {
  ItemCollection::Items list;
  for (const auto& binding : bindings) {
    ComPtr<SnmpVarbind> item;
    if (FAILED(SnmpVarbind::CreateItem(&item))) continue;
    try {
      item->record = *binding;
      list.emplace_back(static_cast<IDispatch*>(static_cast<ISnmpVarbind*>(item.Get())));
    } catch (...) {
    }
  }
  items_->Replace(std::move(list));
}

HRESULT SnmpEvent::Create(ComPtr<SnmpEvent>* out) noexcept {
  ComPtr<SnmpEvent> event;
  HRESULT hr = CreateItem(&event);
  if (FAILED(hr)) return hr;
  hr = SnmpVarbindList::CreateItem(&event->list_);
  if (FAILED(hr)) return hr;
  *out = std::move(event);
  return S_OK;
}

STDMETHODIMP SnmpEvent::get_AgentAddress(BSTR* out) { return CopyText(record_.AgentAddress, out); }
STDMETHODIMP SnmpEvent::get_Community(BSTR* out) { return CopyText(record_.Community, out); }
STDMETHODIMP SnmpEvent::get_TimeStamp(LONG* out) { return CopyNumber(static_cast<LONG>(record_.TimeStamp), out); }
STDMETHODIMP SnmpEvent::get_Identification(BSTR* out) { return CopyText(record_.Identification, out); }
STDMETHODIMP SnmpEvent::get_Generic(LONG* out) { return CopyNumber(record_.Generic, out); }
STDMETHODIMP SnmpEvent::get_Specific(LONG* out) { return CopyNumber(record_.Specific, out); }
STDMETHODIMP SnmpEvent::get_TransportAddress(BSTR* out) { return CopyText(record_.TransportAddress, out); }

STDMETHODIMP SnmpEvent::get_SnmpVarbindList(IDispatch** out) {
  if (!out) return E_POINTER;
  *out = static_cast<ISnmpVarbindList*>(list_.Get());
  (*out)->AddRef();
  return S_OK;
}

SnmpEventSink::SnmpEventSink(std::shared_ptr<ItemCollection> items) {
  // With the built-in receiver enabled the trap service is not needed.
  if (!TrapReceiverEnabled()) {
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTrapServiceKey, 0, KEY_READ | KEY_WRITE, key.Put()) != ERROR_SUCCESS)
      return;  // the trap service is not installed
  }
  auto watcher = std::make_shared<TrapWatcher>(std::move(items));
  if (!watcher->Valid()) throw std::bad_alloc();
  dispatcher_ = TrapDispatcher::Instance();
  watcher_ = std::move(watcher);
}

SnmpEventSink::~SnmpEventSink() {
  if (dispatcher_ && watcher_) dispatcher_->Unregister(watcher_.get());
}

LONG SnmpEventSink::StartWatching() {
  if (!watcher_) return 0;
  if (!dispatcher_->Register(watcher_)) return -1;
  StartTrapWorker(dispatcher_);
  // The handle travels as a 32-bit integer; kernel handles fit in 32 bits.
  return static_cast<LONG>(reinterpret_cast<LONG_PTR>(watcher_->DataEvent()));
}

LONG SnmpEventSink::SetFilter(std::wstring_view name, std::wstring_view value) {
  return watcher_ ? watcher_->SetFilter(name, value) : -1;
}

void SnmpEventSink::Acknowledge() noexcept {
  if (watcher_) watcher_->Acknowledge();
}

HRESULT SnmpEvents::Startup() noexcept {
  try {
    sink_ = std::make_unique<SnmpEventSink>(items_);
  } catch (...) {  // the object still answers, with the sink error
    sink_.reset();
  }
  return S_OK;
}

STDMETHODIMP SnmpEvents::get_Event(LONG* out) {
  if (!out) return E_POINTER;
  try {
    *out = sink_ ? sink_->StartWatching() : -1;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

STDMETHODIMP SnmpEvents::GetEvent(LONG* out) { return get_Event(out); }

STDMETHODIMP SnmpEvents::SetFilter(BSTR name, BSTR value, VARIANT* error_text, LONG* result) {
  if (!result) return E_POINTER;
  if (!sink_) {
    SetOutText(error_text, L"SNMP event sink error");
    *result = 1;
    return S_OK;
  }
  try {
    *result = sink_->SetFilter(Bstr::View(name), Bstr::View(value));
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  SetOutText(error_text, L"");
  return S_OK;
}

STDMETHODIMP SnmpEvents::ResetEvent(VARIANT* error_text, LONG* result) {
  if (!result) return E_POINTER;
  if (!sink_) {
    *result = 1;
    return S_OK;
  }
  // The collection keeps the trap until the next one replaces it.
  sink_->Acknowledge();
  SetOutText(error_text, L"");
  *result = 0;
  return S_OK;
}

STDMETHODIMP SnmpEvents::SnmpMgrStrToOid(BSTR ode, VARIANT* oid, LONG* retcode) {
  if (!retcode) return E_POINTER;
  try {
    // Each code unit cut to its low 8 bits, as the API takes 8-bit text.
    std::wstring_view wide = Bstr::View(ode);
    std::string narrow(wide.size(), '\0');
    for (size_t i = 0; i < wide.size(); ++i) narrow[i] = static_cast<char>(wide[i] & 0xFF);
    ParsedOid parsed;
    if (!SnmpMgr().StrToOid(narrow.data(), &parsed.oid)) {
      SetOutText(oid, L"");
      *retcode = 0;
      return S_OK;
    }
    SetOutText(oid, DottedOid(&parsed.oid));
    *retcode = 1;
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

STDMETHODIMP SnmpEvents::TVSnmpMgrOidToStr(BSTR oid_nums, VARIANT* oid_desc, LONG* retcode) {
  if (!retcode) return E_POINTER;
  try {
    std::string text = ToThreadAnsi(Bstr::View(oid_nums));
    ParsedOid parsed;
    LPSTR name = nullptr;
    if (!SnmpMgr().StrToOid(text.data(), &parsed.oid) || !SnmpMgr().OidToStr(&parsed.oid, &name)) {
      SetOutText(oid_desc, L"");
      *retcode = 0;
      return S_OK;
    }
    std::wstring desc;
    try {
      desc = FromThreadAnsi(name);
    } catch (...) {
      ::SnmpUtilMemFree(name);
      throw;
    }
    ::SnmpUtilMemFree(name);
    SetOutText(oid_desc, desc);
    *retcode = 1;
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

STDMETHODIMP SnmpEvents::WriteEventToEventLog(LONG job_id, LONG count, BSTR text) {
  if (tvDebugLevel > 0)
    tvDebugPrint(1, "Job ID %u, gcount %u  creationtime %S\n", static_cast<unsigned>(job_id),
                 static_cast<unsigned>(count), text ? text : L"");
  return S_OK;
}

}  // namespace brisel
