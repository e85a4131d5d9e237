// An item's universal identifier: the stand-in store's own addition to the object model,
// which names an item the same way in every file made from it (a vCard's or an
// iCalendar component's UID).
//
// Contract:
// - Every contact, appointment and task answers QueryInterface(IID_IItemIdentity).
// - get_Uid hands out the item's identifier (a new BSTR, never empty). A saved item that
//   has none is given one at this first ask (a random UUID, kept in the store at once),
//   and keeps it from then on, through every later fetch, save and logon. A new item
//   gets one that is kept at its first Save.
// - put_Uid gives the item an identifier taken from elsewhere (any non-empty text;
//   E_INVALIDARG for an empty one); it is kept at the item's next Save and replaces the
//   one it had. An identifier is held by one item of a folder at a time: put_Uid refuses
//   one that another item of the folder holds with handheld::kUidTaken, leaving the
//   item's own as it was (and a Save that would take one over anyway fails).
// - Removing an item forgets its identifier; a later item never inherits it, even where
//   the store reuses the removed item's place.
// - The identifier is the store's alone: the backup file does not carry it.
#pragma once

#include "handheld/bstr.h"
#include "handheld/com.h"

extern const IID IID_IItemIdentity;

namespace handheld {
constexpr HRESULT kUidTaken = static_cast<HRESULT>(0x80040E2Fu);  // another item holds it
}  // namespace handheld

struct IItemIdentity : IUnknown {
  virtual HRESULT get_Uid(BSTR* uid) = 0;
  virtual HRESULT put_Uid(BSTR uid) = 0;

 protected:
  ~IItemIdentity() = default;
};
