// The one item collection of every watcher and list object, and its enumerator.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "module/com.h"
#include "module/object.h"

namespace brisel {

// A batch of VT_DISPATCH items. The batch itself never changes once
// published: replacing it swaps in a new one, so a script that reads or
// enumerates while a worker publishes sees the old or the new batch whole.
class ItemCollection {
 public:
  using Items = std::vector<Variant>;

  void Replace(Items items);
  // Allocates nothing, so resets may call it where nothing may throw.
  void Clear() noexcept;
  std::shared_ptr<const Items> Snapshot() const;

  // Script-facing members: 1-based Item, Count, _NewEnum.
  HRESULT Item(LONG index, VARIANT* out) const noexcept;
  HRESULT Count(LONG* out) const noexcept;
  HRESULT NewEnum(IUnknown** out) const noexcept;

 private:
  mutable std::mutex lock_;
  std::shared_ptr<const Items> items_ = EmptyBatch();

  static std::shared_ptr<const Items> EmptyBatch() noexcept;
};

// Implements _NewEnum, Item and Count of a collection interface.
template <class Derived, class Itf>
class CollectionObject : public DispatchObject<Derived, Itf> {
 public:
  STDMETHODIMP get__NewEnum(IUnknown** out) override { return items_->NewEnum(out); }
  STDMETHODIMP get_Item(LONG index, VARIANT* out) override { return items_->Item(index, out); }
  STDMETHODIMP get_Count(LONG* out) override { return items_->Count(out); }

 protected:
  // Shared with the worker that publishes into it, so either may go first.
  std::shared_ptr<ItemCollection> items_ = std::make_shared<ItemCollection>();
};

}  // namespace brisel
