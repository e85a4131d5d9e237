// Identifiers of store items as files carry them (a vCard's or an iCalendar component's
// UID, in UTF-8), through the store's IItemIdentity (handheld/itemidentity.h).
//
// Contract:
// - GetItemUid gives the item's identifier (one is made and kept for a saved item that
//   has none); SetItemUid gives it one taken from a file, kept at the item's next Save.
//   Both return the store's result; an item that does not answer IItemIdentity gives
//   E_NOINTERFACE.
// - UidRegistry holds the identifiers of a folder's items, so that an import gives each
//   identifier to one item only: Claim is true when the identifier was free (it is taken
//   from then on), false when an item already holds it.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>

#include "handheld/pimstore.h"

namespace interop {

HRESULT GetItemUid(IDispatch* item, std::string* uid);
HRESULT SetItemUid(IDispatch* item, std::string_view uid);

class UidRegistry {
 public:
  // Reads the identifier of items 1 to count; false, with the reason, when one fails.
  bool Load(IPOutlookItemCollection* items, INT count, std::string* error);
  bool Claim(const std::string& uid) { return taken_.insert(uid).second; }
  void Forget() { taken_.clear(); }

 private:
  std::unordered_set<std::string> taken_;
};

}  // namespace interop
