// Identifiers of store items as files carry them (a vCard's or an iCalendar component's
// UID, in UTF-8), through the store's IItemIdentity (handheld/itemidentity.h).
//
// Contract:
// - GetItemUid gives the item's identifier (one is made and kept for a saved item that
//   has none); SetItemUid gives it one taken from a file, kept at the item's next Save,
//   or handheld::kUidTaken when another item of the folder holds it. Both return the
//   store's result; an item that does not answer IItemIdentity gives E_NOINTERFACE.
// - SaveItemAsUid saves a new item under `uid` (IItemIdentity::SaveAsUid): it updates the
//   item of the folder that holds `uid` (its saved version kept first), leaves it as it is
//   when nothing differs, or adds the item; *outcome says which (handheld::SaveOutcome).
//   handheld::kNotKept when the saved version could not be kept (nothing changed).
#pragma once

#include <string>
#include <string_view>

#include "handheld/itemidentity.h"
#include "handheld/pimstore.h"

namespace interop {

HRESULT GetItemUid(IDispatch* item, std::string* uid);
HRESULT SetItemUid(IDispatch* item, std::string_view uid);
HRESULT SaveItemAsUid(IDispatch* item, std::string_view uid, LONG* outcome);

}  // namespace interop
