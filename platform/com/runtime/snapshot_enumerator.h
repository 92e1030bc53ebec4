// The enumerators of connection points and connections: a copy of the list taken when the
// enumerator was made, so that advising or unadvising while a client walks it changes
// nothing it sees. Items are handed out with a reference the receiver releases; the
// enumerator holds its own until it goes. Free-threaded: it touches no apartment's object
// but through AddRef and Release.
#pragma once

#include <algorithm>
#include <new>
#include <vector>

#include "orvan/component_runtime.h"
#include "platform/com/runtime/counted_object.h"

namespace orvan::com::runtime {

// Traits: `static void add(const Item&)` and `static void release(const Item&)` manage the
// reference an item carries.
template <class Interface, const IID& kIid, class Item, class Traits>
class SnapshotEnumerator final
    : public CountedObject<SnapshotEnumerator<Interface, kIid, Item, Traits>, Interface, kIid> {
 public:
  // Takes a reference on every item. Null when memory runs out.
  static SnapshotEnumerator* make(const std::vector<Item>& items, std::size_t position = 0) {
    auto* made = new (std::nothrow) SnapshotEnumerator();
    if (!made) return nullptr;
    try {
      made->items_ = items;
    } catch (const std::bad_alloc&) {
      delete made;
      return nullptr;
    }
    for (const Item& item : made->items_) Traits::add(item);
    made->position_ = position;
    return made;
  }

  // `fetched` may be null only when one item is asked for.
  HRESULT Next(ULONG count, Item* out, ULONG* fetched) override {
    if (!out || (!fetched && count != 1)) return E_POINTER;
    const std::size_t n = std::min<std::size_t>(count, items_.size() - position_);
    for (std::size_t i = 0; i < n; ++i) {
      out[i] = items_[position_ + i];
      Traits::add(out[i]);
    }
    position_ += n;
    if (fetched) *fetched = static_cast<ULONG>(n);
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    if (count > items_.size() - position_) {
      position_ = items_.size();
      return S_FALSE;
    }
    position_ += count;
    return S_OK;
  }
  HRESULT Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(Interface** copy) override {
    if (!copy) return E_POINTER;
    *copy = make(items_, position_);
    return *copy ? S_OK : E_OUTOFMEMORY;
  }

 private:
  friend CountedObject<SnapshotEnumerator, Interface, kIid>;
  SnapshotEnumerator() = default;
  ~SnapshotEnumerator() {
    for (const Item& item : items_) Traits::release(item);
  }

  std::vector<Item> items_;
  std::size_t position_ = 0;
};

}  // namespace orvan::com::runtime
