// The store file: one SQLite database holding the items of the three folders and the
// call log.
//
// Contract: OpenStoreFile opens the file that StorePath() names now, creating it and its
// folders when missing, and refuses (with a reason, touching nothing) a file that is not
// a database, a database of another program, a locked database and a folder that cannot
// be created. The journal is a write-ahead log, so a killed process loses no committed
// transaction; every write below is one statement and so one transaction. The path
// ":memory:" names the process's store in memory, which lives as long as the process.
//
// Each call locks the file's mutex (the COM objects of one application are handed between
// the dialog and the worker, never used by both at once, so it is never contended).
// Close() may come while objects still hold the StoreFile: every later call fails.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "handheld/files_internal.h"
#include "handheld/store/itembackend.h"

namespace handheld::store {

class StoreFile final : public ItemBackend {
 public:
  ~StoreFile() override;
  StoreFile(const StoreFile&) = delete;
  StoreFile& operator=(const StoreFile&) = delete;

  // Opens StorePath(); nullptr with *error set on failure.
  static std::unique_ptr<StoreFile> Open(std::string* error);

  bool isOpen() override;
  void Close() override;
  // The connection itself, for a caller that owns this StoreFile alone (the call log).
  sqlite3* Raw() { return db_; }

  // Items. `email` and `fullName` are the contact's lookup keys for recipients (empty
  // for other kinds or when blank). An id is never handed out twice.
  // The ids of `folder` in first-save order; false when they could not be read.
  bool ListItems(int32_t folder, std::vector<int64_t>* ids) override;
  // The item's blob when the row exists in `folder`.
  bool LoadItem(int64_t id, int32_t folder, std::string* blob) override;
  // The blobs of listed ids (in id order, as ListItems gives them), all read by one
  // statement and so in one read transaction, ended before this returns.
  bool LoadItems(int32_t folder, std::span<const int64_t> ids,
                 std::vector<std::optional<std::string>>* blobs) override;
  // 0 on failure; `uid` (when not empty) is kept as the item's identifier.
  int64_t InsertItem(int32_t folder, std::string_view blob, std::u16string_view email,
                     std::u16string_view fullName, std::u16string_view uid) override;
  bool UpdateItem(int32_t folder, int64_t id, std::string_view blob, std::u16string_view email,
                  std::u16string_view fullName) override;  // false also when the row is gone
  // 1 when the row was deleted, 0 when it was already gone, -1 on failure.
  int DeleteItem(int32_t folder, int64_t id) override;
  // The Email1Address of the first saved contact whose Email1Address or
  // "FirstName LastName" is `key`.
  std::optional<std::u16string> FindContactAddress(std::u16string_view key) override;

  // Changes with every write through this file (a save, a removal) in any folder and with
  // every change that another program committed, so that rows read ahead of their use
  // are known to be stale (a failed check never matches an earlier one).
  std::pair<uint64_t, int64_t> Changes() override;

  // Item identifiers (itemidentity.h, identities.cpp): the one kept for a saved item, ""
  // when it has none; nullopt when the store could not be read.
  std::optional<std::u16string> ItemUid(int32_t folder, int64_t id) override;
  bool SetItemUid(int32_t folder, int64_t id, std::u16string_view uid) override;
  // Gives every item of `folder` that has no identifier the one its saved values and its
  // rank among equal items make (itemidentity.h), in one transaction, and returns the one
  // of item `id`: "" when it is not in the folder, nullopt on failure.
  std::optional<std::u16string> GiveDerivedUids(int32_t folder, int64_t id) override;
  // The item of `folder` that holds `uid`: its id, 0 when none does, -1 on failure.
  int64_t UidHolder(int32_t folder, std::u16string_view uid) override;
  // Batches (storebatch.h): one open transaction until EndBatch keeps or drops it.
  bool BeginBatch() override;
  bool EndBatch(bool keep) override;

 private:
  StoreFile(sqlite3* db, bool inMemory, std::unique_ptr<internal::HeldFiles> held)
      : db_(db), inMemory_(inMemory), held_(std::move(held)) {}
  sqlite3_stmt* Statement(int slot, const char* sql);
  bool PrepareIdentities();  // the identifier table and its triggers, made on first use
  bool WriteUid(int32_t folder, int64_t id, std::u16string_view uid);  // under mutex_
  // Runs the statement of `slot`, prepared once; false when it fails.
  bool Run(int slot, const char* sql);

  std::mutex mutex_;
  sqlite3* db_;
  bool inMemory_;  // HANDHELD_STORE=:memory:
  // The file and its companions, which the file layer refuses while the connection is
  // open (none in memory).
  std::unique_ptr<internal::HeldFiles> held_;
  // The prepared statements' places; the per-folder ones take one place per folder.
  enum Slot {
    kListSlot = 0,
    kLoadSlot = kListSlot + 3,
    kInsertSlot = kLoadSlot + 3,
    kUpdateSlot = kInsertSlot + 3,
    kDeleteSlot = kUpdateSlot + 3,
    kLoadRangeSlot = kDeleteSlot + 3,
    kDataVersionSlot = kLoadRangeSlot + 3,
    kContactKeysSlot,
    // The identifiers' and the batches' (identities.cpp).
    kReadUidSlot,
    kWriteUidSlot,
    kFindUidSlot,
    kOtherHolderSlot,
    kBatchCacheSlot,
    kCacheSlot,
    kBeginSlot,
    kCommitSlot,
    kRollbackSlot,
    kSlots
  };
  sqlite3_stmt* statements_[kSlots] = {};
  uint64_t writes_ = 0;
  uint64_t failedChecks_ = 0;
  // Recipient lookup: key -> that contact's Email1Address, with what it was built from.
  std::unordered_map<std::u16string, std::u16string> contactKeys_;
  bool keysValid_ = false;
  int64_t keysDataVersion_ = 0;
  uint64_t keysEdits_ = 0;
  uint64_t contactEdits_ = 0;  // contacts saved or removed through this file
  bool identitiesReady_ = false;
  bool inBatch_ = false;
  bool identitiesBeforeBatch_ = false;  // the identifiers' table was there at BeginBatch
};

// The identifier table, its index and the triggers that forget a removed item's
// identifier (identities.cpp).
extern const char kIdentitySchema[];

// Binds a UTF-16 text as a blob of its code units; an empty text binds NULL when
// `emptyIsNull`.
int BindText(sqlite3_stmt* statement, int index, std::u16string_view text, bool emptyIsNull);
// The blob of a column as UTF-16 code units.
std::u16string ColumnText(sqlite3_stmt* statement, int column);

}  // namespace handheld::store
