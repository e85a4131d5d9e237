// Item identifiers and batches of changes: the store file's part of itemidentity.h and
// storebatch.h.
//
// Identifiers live in a table of their own, keyed by folder and item id, made with its
// triggers the first time an identifier is read or kept (a store that never had one is
// left as it was). The triggers forget an item's identifier when the item is deleted, by
// this program or any other, so that the identifier is free for another item. Who holds an
// identifier is found through a 64-bit hash of it: an index of small numbers stays a few pages for
// a whole folder, where one of the texts (random UUIDs, mostly) would spread every batch of saves
// over all of its pages.
#include <random>

#include "handheld/pimstore.h"
#include "handheld/store/storefile.h"

namespace handheld::store {

const char kIdentitySchema[] =
    "CREATE TABLE IF NOT EXISTS item_uids("
    "  folder INTEGER NOT NULL, id INTEGER NOT NULL, uid BLOB NOT NULL, hash INTEGER NOT NULL,"
    "  PRIMARY KEY(folder, id)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS item_uids_by_hash ON item_uids(folder, hash);"
    "CREATE TRIGGER IF NOT EXISTS contacts_forget_uid AFTER DELETE ON contacts BEGIN"
    "  DELETE FROM item_uids WHERE folder=10 AND id=old.id; END;"
    "CREATE TRIGGER IF NOT EXISTS appointments_forget_uid AFTER DELETE ON appointments BEGIN"
    "  DELETE FROM item_uids WHERE folder=9 AND id=old.id; END;"
    "CREATE TRIGGER IF NOT EXISTS tasks_forget_uid AFTER DELETE ON tasks BEGIN"
    "  DELETE FROM item_uids WHERE folder=13 AND id=old.id; END;";

namespace {

static_assert(olFolderContacts == 10 && olFolderCalendar == 9 && olFolderTasks == 13);

// KiB of pages a connection keeps in memory: within a batch, and SQLite's default, which
// the store keeps everywhere else.
const char kBatchCacheSize[] = "PRAGMA cache_size=-8192";
const char kCacheSize[] = "PRAGMA cache_size=-2000";

enum Slot { kReadUidSlot = 20, kWriteUidSlot = 21, kFindUidSlot = 22 };

// FNV-1a over the identifier's code units.
int64_t Hash(std::u16string_view uid) {
  uint64_t hash = 14695981039346656037ull;
  for (char16_t unit : uid) hash = (hash ^ unit) * 1099511628211ull;
  return static_cast<int64_t>(hash);
}

}  // namespace

std::u16string NewItemUid() {
  thread_local std::mt19937_64 random{[] {
    std::random_device device;
    return (uint64_t{device()} << 32) ^ device();
  }()};
  uint64_t high = random(), low = random();
  high = (high & ~uint64_t{0xF000}) | 0x4000;                // version 4
  low = (low & ~(uint64_t{3} << 62)) | (uint64_t{2} << 62);  // RFC 4122 variant
  static const char16_t kHex[] = u"0123456789abcdef";
  std::u16string uid;
  uid.reserve(36);
  for (int i = 0; i < 32; ++i) {
    if (i == 8 || i == 12 || i == 16 || i == 20) uid += u'-';
    uint64_t half = i < 16 ? high : low;
    uid += kHex[(half >> (60 - 4 * (i % 16))) & 15];
  }
  return uid;
}

bool StoreFile::PrepareIdentities() {
  if (identitiesReady_) return true;
  if (db_ == nullptr) return false;
  identitiesReady_ = sqlite3_exec(db_, kIdentitySchema, nullptr, nullptr, nullptr) == SQLITE_OK;
  return identitiesReady_;
}

std::optional<std::u16string> StoreFile::ItemUid(int32_t folder, int64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  // A store where no item has an identifier yet stays without the table and its
  // triggers (which every removal would then run) until one is kept.
  if (!identitiesReady_ && db_ != nullptr) {
    sqlite3_stmt* table = nullptr;
    bool exists = false;
    if (sqlite3_prepare_v2(db_, "SELECT 1 FROM sqlite_master WHERE name='item_uids'", -1, &table,
                           nullptr) != SQLITE_OK) {
      return std::nullopt;
    }
    const int rc = sqlite3_step(table);
    exists = rc == SQLITE_ROW;
    sqlite3_finalize(table);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return std::nullopt;
    if (!exists) return std::u16string();
  }
  if (!PrepareIdentities()) return std::nullopt;
  sqlite3_stmt* s = Statement(kReadUidSlot, "SELECT uid FROM item_uids WHERE folder=?1 AND id=?2");
  if (s == nullptr) return std::nullopt;
  sqlite3_bind_int(s, 1, folder);
  sqlite3_bind_int64(s, 2, id);
  std::optional<std::u16string> uid;
  int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) {
    uid = ColumnText(s, 0);
  } else if (rc == SQLITE_DONE) {
    uid.emplace();
  }
  sqlite3_reset(s);
  return uid;
}

bool StoreFile::SetItemUid(int32_t folder, int64_t id, std::u16string_view uid) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (uid.empty() || !PrepareIdentities()) return false;
  // Another item's identifier is never taken over: then nothing is written.
  sqlite3_stmt* s = Statement(
      kWriteUidSlot,
      "INSERT INTO item_uids(folder, id, uid, hash) SELECT ?1, ?2, ?3, ?4 WHERE NOT EXISTS("
      "  SELECT 1 FROM item_uids INDEXED BY item_uids_by_hash"
      "  WHERE folder=?1 AND hash=?4 AND uid=?3 AND id<>?2) "
      "ON CONFLICT(folder, id) DO UPDATE SET uid=excluded.uid, hash=excluded.hash");
  if (s == nullptr) return false;
  ++writes_;
  sqlite3_bind_int(s, 1, folder);
  sqlite3_bind_int64(s, 2, id);
  BindText(s, 3, uid, false);
  sqlite3_bind_int64(s, 4, Hash(uid));
  int rc = sqlite3_step(s);
  sqlite3_reset(s);
  return rc == SQLITE_DONE && sqlite3_changes(db_) == 1;
}

int64_t StoreFile::UidHolder(int32_t folder, std::u16string_view uid) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!PrepareIdentities()) return -1;
  sqlite3_stmt* s = Statement(kFindUidSlot,
                              "SELECT id FROM item_uids INDEXED BY item_uids_by_hash WHERE "
                              "folder=?1 AND hash=?2 AND uid=?3");
  if (s == nullptr) return -1;
  sqlite3_bind_int(s, 1, folder);
  sqlite3_bind_int64(s, 2, Hash(uid));
  BindText(s, 3, uid, false);
  int rc = sqlite3_step(s);
  int64_t id = rc == SQLITE_ROW ? sqlite3_column_int64(s, 0) : rc == SQLITE_DONE ? 0 : -1;
  sqlite3_reset(s);
  return id;
}

bool StoreFile::BeginBatch() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ == nullptr || inBatch_) return false;
  // A batch's pages stay in memory up to a bounded size, rather than being written to the
  // log and read back as a batch of saves spreads over the index of identifiers.
  sqlite3_exec(db_, kBatchCacheSize, nullptr, nullptr, nullptr);
  inBatch_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  return inBatch_;
}

bool StoreFile::EndBatch(bool keep) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ == nullptr || !inBatch_) return false;
  inBatch_ = false;
  if (keep && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) {
    sqlite3_exec(db_, kCacheSize, nullptr, nullptr, nullptr);
    return true;
  }
  // Dropped, or not kept: whatever this connection remembers of the folders is stale.
  if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_exec(db_, kCacheSize, nullptr, nullptr, nullptr);
  ++writes_;
  ++contactEdits_;
  identitiesReady_ = false;  // the table may have been made inside the batch
  return !keep;
}

}  // namespace handheld::store
