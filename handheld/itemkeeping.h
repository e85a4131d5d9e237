// Keeping items before they go: the stand-in store's own addition to the object model,
// so that no change made through the store destroys the only copy of an item.
//
// Contract:
// - A folder's item collection answers QueryInterface(IID_IItemKeeping).
// - A purge needs no call: the first Remove on a collection first writes all the items
//   of that collection to a new removed-items file (pimstore.h); when that file cannot
//   be written, that Remove fails with handheld::kNotKept and removes nothing.
// - KeepItem(i) writes item i of the collection (1-based, as Item counts it), as it is
//   saved now, to the collection's file of kept items before the caller changes or
//   removes it: the first call makes a new removed-items file, later calls on the same
//   collection add to it (as a whole vCard, or a whole VCALENDAR, each), and each call
//   returns once its item is on disk. E_INVALIDARG for an index out of range;
//   handheld::kNotKept when the item could not be written (the caller leaves the item
//   as it is).
// - Where the files lie, their names, and how many are kept: handheld/store/removeditems.h.
//   Why a file could not be written goes to standard error.
#pragma once

#include "handheld/com.h"

extern const IID IID_IItemKeeping;

namespace handheld {
constexpr HRESULT kNotKept = static_cast<HRESULT>(0x80030103u);  // the copy was not written
}  // namespace handheld

struct IItemKeeping : IUnknown {
  virtual HRESULT KeepItem(INT index) = 0;

 protected:
  ~IItemKeeping() = default;
};
