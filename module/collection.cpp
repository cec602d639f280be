#include "module/collection.h"

#include <atomic>

namespace brisel {

namespace {

// IEnumVARIANT over one published batch; the batch lives as long as the enumerator.
class VariantEnum final : public SimpleUnknown<IEnumVARIANT> {
 public:
  VariantEnum(std::shared_ptr<const ItemCollection::Items> items, size_t position) noexcept
      : items_(std::move(items)), position_(position) {}

  STDMETHODIMP Next(ULONG wanted, VARIANT* out, ULONG* fetched) override {
    if (!out) return E_POINTER;
    if (wanted > 1 && !fetched) return E_INVALIDARG;
    std::lock_guard lock(lock_);
    ULONG got = 0;
    for (; got < wanted && position_ < items_->size(); ++got, ++position_) {
      HRESULT hr = (*items_)[position_].CopyTo(&out[got]);
      if (FAILED(hr)) {
        for (ULONG i = 0; i < got; ++i) ::VariantClear(&out[i]);
        if (fetched) *fetched = 0;
        return hr;
      }
    }
    if (fetched) *fetched = got;
    return got == wanted ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    std::lock_guard lock(lock_);
    size_t left = items_->size() - position_;
    if (count > left) {
      position_ = items_->size();
      return S_FALSE;
    }
    position_ += count;
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    std::lock_guard lock(lock_);
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumVARIANT** out) override {
    if (!out) return E_POINTER;
    std::lock_guard lock(lock_);
    auto* copy = new (std::nothrow) VariantEnum(items_, position_);
    *out = copy;
    if (!copy) return E_OUTOFMEMORY;
    copy->AddRef();
    return S_OK;
  }

 private:
  ModuleLockHolder module_lock_;
  std::mutex lock_;
  const std::shared_ptr<const ItemCollection::Items> items_;
  size_t position_;
};

// Made when the module loads; every empty collection shares it.
const std::shared_ptr<const ItemCollection::Items> g_empty_batch = std::make_shared<const ItemCollection::Items>();

}  // namespace

std::shared_ptr<const ItemCollection::Items> ItemCollection::EmptyBatch() noexcept { return g_empty_batch; }

void ItemCollection::Clear() noexcept {
  std::shared_ptr<const Items> old;
  {
    std::lock_guard lock(lock_);
    old = std::exchange(items_, EmptyBatch());
  }
}

void ItemCollection::Replace(Items items) {
  auto fresh = std::make_shared<const Items>(std::move(items));
  std::shared_ptr<const Items> old;
  {
    std::lock_guard lock(lock_);
    old = std::exchange(items_, std::move(fresh));
  }
  // The old items are released here, outside the lock: their destructors may
  // run arbitrary object code.
}

std::shared_ptr<const ItemCollection::Items> ItemCollection::Snapshot() const {
  std::lock_guard lock(lock_);
  return items_;
}

HRESULT ItemCollection::Item(LONG index, VARIANT* out) const noexcept {
  if (!out) return ReportError(E_POINTER, L"Item: no place for the result");
  if (index < 1) return ReportError(E_INVALIDARG, L"Item: the index counts from 1");
  auto items = Snapshot();
  if (static_cast<size_t>(index) > items->size()) return ReportError(E_FAIL, L"Item: the index is above Count");
  return (*items)[static_cast<size_t>(index) - 1].CopyTo(out);
}

HRESULT ItemCollection::Count(LONG* out) const noexcept {
  if (!out) return E_POINTER;
  *out = static_cast<LONG>(Snapshot()->size());
  return S_OK;
}

HRESULT ItemCollection::NewEnum(IUnknown** out) const noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  auto* e = new (std::nothrow) VariantEnum(Snapshot(), 0);
  if (!e) return E_OUTOFMEMORY;
  e->AddRef();
  *out = static_cast<IUnknown*>(e);
  return S_OK;
}

}  // namespace brisel
