// Keeping items before they go: the stand-in store's own addition to the object model,
// so that no change made through the store destroys the only copy of an item.
//
// Contract:
// - A purge needs no call: the first Remove on a collection first writes all the items
//   of that collection to a new removed-items file (pimstore.h); when that file cannot
//   be written, that Remove fails with handheld::kNotKept and removes nothing.
// - An update by UID (IItemIdentity::SaveAsUid, itemidentity.h) first writes the saved
//   version it replaces to a removed-items file: the first of a logon makes a new file
//   per kind, later ones add to it (as a whole vCard, or a whole VCALENDAR, each), and
//   each returns once its item is on disk; when it cannot, handheld::kNotKept and the
//   item is left as it is.
// - Where the files lie, their names, and how many are kept: handheld/store/removeditems.h.
//   Why a file could not be written goes to standard error.
#pragma once

#include "handheld/com.h"

namespace handheld {
constexpr HRESULT kNotKept = static_cast<HRESULT>(0x80030103u);  // the copy was not written
}  // namespace handheld
