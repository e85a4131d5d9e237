// Where the store's items are kept: the one interface under the store's COM objects, with
// a backend per file behind it. The store file (storefile.h, SQLite) is the default; with
// HANDHELD_STORE=eds:... the items are Evolution Data Server's (handheld/eds/edsstore.cpp,
// loaded at logon as the module "edsstore.so", so that only a logon to it loads GLib and
// EDS).
//
// Contract (what every backend keeps):
// - An item is a blob of its values (itemdata.h) in one folder, named by an id that this
//   backend never hands out twice for another item. ListItems gives a folder's ids in an
//   order that is the same for every listing of an unchanged folder (the store file:
//   first-save order; EDS: by UID, and the UIDs it makes sort in the order they were made).
// - LoadItems reads several listed items in one go: blobs[k] is the blob of ids[k], or
//   empty when that item is gone; false when nothing could be read.
// - InsertItem adds an item under `uid` (the backend's own new one when empty) and returns
//   its id, 0 on failure. UpdateItem changes an item's values (false also when it is
//   gone); a backend that keeps more of an item than its values (EDS: photos, further
//   addresses, exceptions of a series) changes only what the values changed.
//   DeleteItem: 1 removed, 0 already gone, -1 failed.
// - Changes() changes with every write through this backend and, where the backend can
//   tell, with every change another program made, so that items read ahead of their use
//   are known to be stale.
// - OpenFolder readies a folder (EDS: opens the kind's source) and is asked before its
//   first use; false with SetLastStoreError's reason.
// - Close ends the logon: every later call fails.
// - Identifiers (itemidentity.h) and batches (storebatch.h) as the interfaces say;
//   NewUid makes the identifier of an item not yet saved.
// - Why a call failed is told through SetLastStoreError (handheld::LastStoreError).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace handheld::store {

class ItemBackend {
 public:
  virtual ~ItemBackend() = default;

  virtual bool isOpen() = 0;
  virtual void Close() = 0;
  virtual bool OpenFolder(int32_t /*folder*/) { return isOpen(); }

  virtual bool ListItems(int32_t folder, std::vector<int64_t>* ids) = 0;
  virtual bool LoadItem(int64_t id, int32_t folder, std::string* blob) = 0;
  virtual bool LoadItems(int32_t folder, std::span<const int64_t> ids,
                         std::vector<std::optional<std::string>>* blobs) = 0;
  virtual int64_t InsertItem(int32_t folder, std::string_view blob, std::u16string_view email,
                             std::u16string_view fullName, std::u16string_view uid) = 0;
  virtual bool UpdateItem(int32_t folder, int64_t id, std::string_view blob,
                          std::u16string_view email, std::u16string_view fullName) = 0;
  virtual int DeleteItem(int32_t folder, int64_t id) = 0;
  // The Email1Address of the first contact whose Email1Address or "FirstName LastName"
  // is `key`.
  virtual std::optional<std::u16string> FindContactAddress(std::u16string_view key) = 0;
  virtual std::pair<uint64_t, int64_t> Changes() = 0;

  // The identifier kept for an item ("" when it has none, nullopt when unreadable).
  virtual std::optional<std::u16string> ItemUid(int32_t folder, int64_t id) = 0;
  virtual bool SetItemUid(int32_t folder, int64_t id, std::u16string_view uid) = 0;
  // Gives identifiers to the folder's items that have none; the one of item `id`.
  virtual std::optional<std::u16string> GiveDerivedUids(int32_t folder, int64_t id) = 0;
  // The item of `folder` that holds `uid`: its id, 0 when none does, -1 on failure.
  virtual int64_t UidHolder(int32_t folder, std::u16string_view uid) = 0;
  virtual std::u16string NewUid();
  // The item as the backend holds it in a file format of its own (EDS: the vCard 3.0, or
  // the VEVENT/VTODO with its changed occurrences), ended by CR LF; "" when the backend
  // holds values only (the store file) or the item is gone.
  virtual std::string NativeText(int32_t /*folder*/, int64_t /*id*/) { return ""; }
  virtual bool BeginBatch() = 0;
  virtual bool EndBatch(bool keep) = 0;
  // Grouped adds (storebatch.h's IStoreAddGroups); false from a backend that keeps every
  // add at once. KeepAdds: *kept is how many of the items added since GroupAdds the
  // backend holds.
  virtual bool GroupsAdds() { return false; }
  virtual bool GroupAdds() { return false; }
  virtual bool KeepAdds(long* kept) {
    *kept = 0;
    return false;
  }
};

// Opens the backend that StorePath() names; null with *error set on failure.
std::unique_ptr<ItemBackend> OpenItemBackend(std::string* error);

// A new random item identifier: a version 4 UUID in lower-case hexadecimal.
std::u16string NewItemUid();
// A new identifier that sorts after every one this process made before: a version 7
// UUID (milliseconds since 1970, then a count within the millisecond, then random bits).
std::u16string NewOrderedItemUid();

// Sets what handheld::LastStoreError() reports.
void SetLastStoreError(std::string text);

// The name of the factory that the module "edsstore.so" exports:
//   ItemBackend* (const std::string& named, std::string* error)
inline constexpr char kEdsStoreFactory[] = "QuillmoteOpenEdsStore";
using EdsStoreFactory = ItemBackend* (*)(const std::string& named, std::string* error);

}  // namespace handheld::store
