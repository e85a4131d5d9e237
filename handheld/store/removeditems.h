// The removed-items files: a copy of the items that a purge removes (and of items kept
// one at a time before a change, itemkeeping.h), written before anything is removed, so
// that no purge destroys the only copy.
//
// Contract:
// - The folder is ${XDG_STATE_HOME:-$HOME/.local/state}/quillmote/removed (XDG_STATE_HOME
//   counts only when it is an absolute path). Folders made on the way are 0700, and so is
//   the removed folder itself.
// - One file per purge, named by the local time and the kind, e.g.
//   20261207-141503-contacts.vcf, 20261207-141503-calendar.ics, 20261207-141503-tasks.ics;
//   a second file of the same second and kind takes -2, -3, ... before the extension. A
//   file is readable and writable by its owner only (0600). Contacts are vCard 3.0 cards,
//   appointments and tasks one VCALENDAR, written by the one vCard and iCalendar mapping
//   (interop/vcardcontact.h, interop/ical_store.h), each item under its UID (one made for
//   the file when the item has none), so that `handheld import KIND FILE` brings them back.
// - A purge's file is whole before the first removal: it is written to a temporary file
//   in the folder, synced, given its name (never replacing another file), and the folder
//   is synced. Then the newest 20 removed-items files are kept (by the time and number in
//   their names) and older ones are deleted; other files in the folder are left alone.
// - Any failure (the folder cannot be made or written, an item cannot be read or
//   written, the fault point keep:N) leaves no file behind, is told on standard error
//   with the reason, and gives handheld::kNotKept: the caller then removes nothing. What
//   the format cannot carry of an item is told on standard error too, once per kind of
//   loss.
// - Single keeps (Keep) of one RemovedItems share one file: the first makes it as above,
//   later ones append a whole card (or VCALENDAR) and sync it.
// - Every item fetched is released, whatever happens.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "handheld/com.h"
#include "handheld/store/itemdata.h"

namespace handheld::store {

// The item at `at` (0-based) among those to keep, as a new reference, and its UID as the
// store holds it ("" when it has none yet). Reads it without fault points and without
// changing the store. S_FALSE without an item: it is gone since the count, so there is
// nothing of it to keep (and no Remove of it removes anything). A store that holds the
// item as a vCard or iCalendar text of its own (Evolution Data Server) gives that text in
// *native, which the file keeps instead of the item's values: all of it, photos and
// exceptions too.
using FetchItem = std::function<HRESULT(size_t at, IDispatch** item, std::u16string* uid,
                                        std::string* native)>;

constexpr size_t kRemovedFilesKept = 20;

// ${XDG_STATE_HOME:-$HOME/.local/state}/quillmote/removed ("" without either variable).
std::string RemovedItemsFolder();

// What one item collection (a purge), or one logon's updates of a kind, has kept.
class RemovedItems {
 public:
  explicit RemovedItems(Kind kind) : kind_(kind) {}

  // Before every Remove of the collection: the first call keeps its `count` items in a
  // new file. S_OK once they are kept (at this call or an earlier one).
  HRESULT BeforeRemove(size_t count, const FetchItem& fetch);
  // Keeps the item at `at` in the file of single keeps. `which` names it in
  // messages ("with UID x"); by default its number, at + 1.
  HRESULT Keep(size_t at, const FetchItem& fetch, const std::string& which = "");

 private:
  Kind kind_;
  bool purgeKept_ = false;
  std::string keepFile_;  // the file of single keeps, once made
};

}  // namespace handheld::store
