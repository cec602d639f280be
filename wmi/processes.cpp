#include "wmi/processes.h"

#include "wmi/wmi_connection.h"

namespace brisel {

STDMETHODIMP ProcessItem::get_Name(BSTR* out) {
  if (!out) return E_POINTER;
  *out = ::SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP ProcessItem::get_ProcessId(LONG* out) {
  if (!out) return E_POINTER;
  *out = process_id;
  return S_OK;
}

STDMETHODIMP ProcessItem::get_ThreadCount(LONG* out) {
  if (!out) return E_POINTER;
  *out = thread_count;
  return S_OK;
}

STDMETHODIMP ProcessItem::get_HandleCount(LONG* out) {
  if (!out) return E_POINTER;
  *out = handle_count;
  return S_OK;
}

LONG ReadWmiLong(IWbemClassObject* object, const wchar_t* name) {
  Variant value;
  if (FAILED(object->Get(name, 0, value.Put(), nullptr, nullptr))) return 0;
  Variant number;
  if (FAILED(value.ChangeTypeTo(&number, VT_I4))) return 0;
  return V_I4(&number.Get());
}

HRESULT ProcessList::Startup() noexcept {
  try {
    CWmiConnection connection(L"//./root/cimv2");
    items_->Clear();
    if (!connection.Valid()) return S_OK;
    ComPtr<IEnumWbemClassObject> instances;
    Bstr cls(L"Win32_Process");
    if (FAILED(connection.Services()->CreateInstanceEnum(cls.Get(), WBEM_FLAG_FORWARD_ONLY, nullptr, instances.Put())))
      return S_OK;
    ItemCollection::Items list;
    for (;;) {
      ComPtr<IWbemClassObject> object;
      ULONG returned = 0;
      HRESULT hr = instances->Next(2000, 1, object.Put(), &returned);
      if (FAILED(hr) || returned == 0 || !object) break;
      ComPtr<ProcessItem> item;
      if (FAILED(ProcessItem::CreateItem(&item))) continue;
      Variant name;
      if (SUCCEEDED(object->Get(L"Name", 0, name.Put(), nullptr, nullptr)) && name.Type() == VT_BSTR)
        item->name.assign(Bstr::View(V_BSTR(&name.Get())));
      item->process_id = ReadWmiLong(object.Get(), L"ProcessId");
      item->thread_count = ReadWmiLong(object.Get(), L"ThreadCount");
      item->handle_count = ReadWmiLong(object.Get(), L"HandleCount");
      list.emplace_back(static_cast<IDispatch*>(static_cast<IProcess*>(item.Get())));
    }
    items_->Replace(std::move(list));
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace brisel
