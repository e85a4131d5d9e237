// An item's universal identifier: the stand-in store's own addition to the object model,
// which names an item the same way in every file made from it (a vCard's or an
// iCalendar component's UID).
//
// Contract:
// - Every contact, appointment and task answers QueryInterface(IID_IItemIdentity).
// - get_Uid hands out the item's identifier (a new BSTR, never empty). A saved item that
//   has none is given one at this first ask, kept in the store at once, and keeps it from
//   then on, through every later fetch, save and logon. That identifier comes from the
//   item's saved values and its rank among the items of the folder with the same values
//   (in the folder's order), as UUID text (version 5), so that two stores loaded from the
//   same backup file name their items alike (one taken already is passed over for the
//   next rank). All the items of the folder that have none get theirs at that first ask.
//   A new item asked before its first Save gets a random UUID, kept at that Save.
// - put_Uid gives the item an identifier taken from elsewhere (any non-empty text;
//   E_INVALIDARG for an empty one); it is kept at the item's next Save and replaces the
//   one it had. An identifier is held by one item of a folder at a time: put_Uid refuses
//   one that another item of the folder holds with handheld::kUidTaken, leaving the
//   item's own as it was (and a Save that would take one over anyway fails).
// - SaveAsUid(uid, outcome) saves a new item (one never saved) under `uid` (non-empty,
//   else E_INVALIDARG). When no item of the folder holds `uid`, it is saved as Save would
//   (kItemAdded). When one does, and any of its saved values differs from this item's,
//   that item's saved version is first kept in a removed-items file (itemkeeping.h; one
//   file per kind and logon, shared by its updates), then it takes this item's values in
//   place: its id, place in the folder's order and identifier stay (kItemUpdated). When
//   every value is the same, nothing is written and nothing kept (kItemUnchanged). Either
//   way this object names that item from then on. A reminder that is off on this item
//   and whose lead (ReminderMinutesBeforeStart, ReminderTime) it was never given takes
//   the holder's lead: no difference, and an update keeps it (a file carries no lead for
//   a reminder that is off, so an import leaves the lead unset). When the copy cannot be kept
//   (handheld::kNotKept, the reason on standard error) nothing changes. It counts as one
//   Save for the save:N fault point. A saved item refuses it (E_FAIL).
// - Removing an item forgets its identifier; a later item never inherits it, even where
//   the store reuses the removed item's place.
// - The identifier is the store's alone: the backup file does not carry it.
#pragma once

#include "handheld/bstr.h"
#include "handheld/com.h"

extern const IID IID_IItemIdentity;

namespace handheld {
constexpr HRESULT kUidTaken = static_cast<HRESULT>(0x80040E2Fu);  // another item holds it
// What SaveAsUid did.
enum SaveOutcome : LONG { kItemAdded = 0, kItemUpdated = 1, kItemUnchanged = 2 };
}  // namespace handheld

struct IItemIdentity : IUnknown {
  virtual HRESULT get_Uid(BSTR* uid) = 0;
  virtual HRESULT put_Uid(BSTR uid) = 0;
  virtual HRESULT SaveAsUid(BSTR uid, LONG* outcome) = 0;

 protected:
  ~IItemIdentity() = default;
};
