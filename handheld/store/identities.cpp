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
//
// An item that has no identifier when one is first asked for gets one made from its saved
// blob and its rank among the folder's items with the same blob, so that stores loaded
// alike name their items alike; the whole folder is given theirs in that one pass, since
// a rank needs every blob of the folder anyway.
#include <chrono>
#include <mutex>
#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <unordered_map>
#include <unordered_set>
#include <vector>

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

// FNV-1a over the identifier's code units.
int64_t Hash(std::u16string_view uid) {
  uint64_t hash = 14695981039346656037ull;
  for (char16_t unit : uid) hash = (hash ^ unit) * 1099511628211ull;
  return static_cast<int64_t>(hash);
}

using Digest = std::array<uint8_t, 20>;

// SHA-1 (FIPS 180-4): only to name items, never to protect anything.
class Sha1 {
 public:
  void Add(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    length_ += size;
    while (size > 0) {
      const size_t take = std::min(size, size_t{64} - used_);
      std::memcpy(block_ + used_, bytes, take);
      used_ += take;
      bytes += take;
      size -= take;
      if (used_ == 64) Block();
    }
  }
  Digest Finish() {
    const uint64_t bits = length_ * 8;
    const uint8_t one = 0x80, zero = 0;
    Add(&one, 1);
    while (used_ != 56) Add(&zero, 1);
    uint8_t tail[8];
    for (int i = 0; i < 8; ++i) tail[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    Add(tail, 8);
    Digest digest;
    for (int i = 0; i < 20; ++i) digest[i] = static_cast<uint8_t>(h_[i / 4] >> (24 - 8 * (i % 4)));
    return digest;
  }

 private:
  static uint32_t Rotate(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
  void Block() {
    uint32_t w[80];
    for (int i = 0; i < 16; ++i) {
      w[i] = uint32_t{block_[4 * i]} << 24 | uint32_t{block_[4 * i + 1]} << 16 |
             uint32_t{block_[4 * i + 2]} << 8 | block_[4 * i + 3];
    }
    for (int i = 16; i < 80; ++i) w[i] = Rotate(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
    for (int i = 0; i < 80; ++i) {
      const uint32_t f = i < 20 ? ((b & c) | (~b & d)) + 0x5A827999
                         : i < 40 ? (b ^ c ^ d) + 0x6ED9EBA1
                         : i < 60 ? ((b & c) | (b & d) | (c & d)) + 0x8F1BBCDC
                                  : (b ^ c ^ d) + 0xCA62C1D6;
      const uint32_t t = Rotate(a, 5) + f + e + w[i];
      e = d;
      d = c;
      c = Rotate(b, 30);
      b = a;
      a = t;
    }
    h_[0] += a;
    h_[1] += b;
    h_[2] += c;
    h_[3] += d;
    h_[4] += e;
    used_ = 0;
  }

  uint32_t h_[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  uint8_t block_[64] = {};
  size_t used_ = 0;
  uint64_t length_ = 0;
};

Digest Sha1Of(std::string_view data) {
  Sha1 sha;
  sha.Add(data.data(), data.size());
  return sha.Finish();
}

struct DigestHash {
  size_t operator()(const Digest& digest) const {
    size_t hash;
    std::memcpy(&hash, digest.data(), sizeof hash);
    return hash;
  }
};

// The name space of derived identifiers (a version 4 UUID of its own).
constexpr uint8_t kDerivedSpace[16] = {0x5d, 0x3e, 0x8a, 0x41, 0x2c, 0x6f, 0x4b, 0x97,
                                       0xa0, 0x1e, 0x73, 0xc4, 0x58, 0xb2, 0x0f, 0x96};

std::u16string UuidText(const uint8_t bytes[16]) {
  static const char16_t kHex[] = u"0123456789abcdef";
  std::u16string uid;
  uid.reserve(36);
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) uid += u'-';
    uid += kHex[bytes[i] >> 4];
    uid += kHex[bytes[i] & 15];
  }
  return uid;
}

// The version 5 UUID of a blob's digest and the item's rank among equal blobs.
std::u16string DerivedUid(const Digest& blob, uint64_t rank) {
  uint8_t name[28];
  std::memcpy(name, blob.data(), 20);
  for (int i = 0; i < 8; ++i) name[20 + i] = static_cast<uint8_t>(rank >> (56 - 8 * i));
  Sha1 sha;
  sha.Add(kDerivedSpace, sizeof kDerivedSpace);
  sha.Add(name, sizeof name);
  Digest digest = sha.Finish();
  digest[6] = static_cast<uint8_t>((digest[6] & 0x0F) | 0x50);  // version 5
  digest[8] = static_cast<uint8_t>((digest[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return UuidText(digest.data());
}

const char* ItemTable(int32_t folder) {
  return folder == olFolderContacts   ? "contacts"
         : folder == olFolderCalendar ? "appointments"
                                      : "tasks";
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

std::u16string NewOrderedItemUid() {
  // The time and a count within the process keep the order even when the clock stands
  // still or steps back.
  static std::mutex mutex;
  static uint64_t last = 0;
  uint64_t stamp;
  {
    std::lock_guard<std::mutex> lock(mutex);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const uint64_t ms = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    // 48 bits of milliseconds, then 12 bits counting within one.
    stamp = std::max(ms << 12, last + 1);
    last = stamp;
  }
  std::u16string uid = NewItemUid();  // random bits, variant and dashes in place
  static const char16_t kHex[] = u"0123456789abcdef";
  // xxxxxxxx-xxxx-7xxx-: 60 bits of stamp with the version nibble between.
  const int places[15] = {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 15, 16, 17};
  for (int i = 0; i < 15; ++i) uid[places[i]] = kHex[(stamp >> (56 - 4 * i)) & 15];
  uid[14] = u'7';
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
  return WriteUid(folder, id, uid);
}

bool StoreFile::WriteUid(int32_t folder, int64_t id, std::u16string_view uid) {
  if (uid.empty() || !PrepareIdentities()) return false;
  // Another item's identifier is never taken over: then nothing is written. The look and
  // the write are one transaction (outside a batch, a savepoint of their own). (As one
  // statement, an insert from a look at its own table, SQLite copied the look into a
  // temporary table at every save.)
  const int64_t hash = Hash(uid);
  sqlite3_stmt* look = Statement(kOtherHolderSlot,
                                 "SELECT 1 FROM item_uids INDEXED BY item_uids_by_hash "
                                 "WHERE folder=?1 AND hash=?2 AND uid=?3 AND id<>?4");
  sqlite3_stmt* write =
      Statement(kWriteUidSlot,
                "INSERT INTO item_uids(folder, id, uid, hash) VALUES(?1, ?2, ?3, ?4) "
                "ON CONFLICT(folder, id) DO UPDATE SET uid=excluded.uid, hash=excluded.hash");
  if (look == nullptr || write == nullptr) return false;
  const bool own = sqlite3_get_autocommit(db_) != 0;
  if (own && sqlite3_exec(db_, "SAVEPOINT uid", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return false;
  }
  ++writes_;
  sqlite3_bind_int(look, 1, folder);
  sqlite3_bind_int64(look, 2, hash);
  BindText(look, 3, uid, false);
  sqlite3_bind_int64(look, 4, id);
  int rc = sqlite3_step(look);
  sqlite3_reset(look);
  bool written = false;
  if (rc == SQLITE_DONE) {
    sqlite3_bind_int(write, 1, folder);
    sqlite3_bind_int64(write, 2, id);
    BindText(write, 3, uid, false);
    sqlite3_bind_int64(write, 4, hash);
    rc = sqlite3_step(write);
    sqlite3_reset(write);
    written = rc == SQLITE_DONE && sqlite3_changes(db_) == 1;
  }
  if (own) {
    const char* end = written ? "RELEASE uid" : "ROLLBACK TO uid; RELEASE uid";
    if (sqlite3_exec(db_, end, nullptr, nullptr, nullptr) != SQLITE_OK) {
      if (sqlite3_get_autocommit(db_) == 0) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      }
      return false;
    }
  }
  return written;
}

std::optional<std::u16string> StoreFile::GiveDerivedUids(int32_t folder, int64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!PrepareIdentities()) return std::nullopt;
  // Read and written in one transaction, so that no other program's change comes between
  // the ranks and the identifiers they make (inside a batch, a part of it).
  const bool own = sqlite3_get_autocommit(db_) != 0;
  if (sqlite3_exec(db_, own ? "BEGIN IMMEDIATE" : "SAVEPOINT derive", nullptr, nullptr,
                   nullptr) != SQLITE_OK) {
    return std::nullopt;
  }
  struct Missing {
    int64_t id;
    Digest digest;
    uint64_t rank;
  };
  std::vector<Missing> missing;
  std::unordered_set<std::u16string> taken;
  std::unordered_map<Digest, uint64_t, DigestHash> seen;
  const std::string sql = std::string("SELECT t.id, t.data, u.uid FROM ") + ItemTable(folder) +
                          " t LEFT JOIN item_uids u ON u.folder=?1 AND u.id=t.id ORDER BY t.id";
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_bind_int(s, 1, folder);
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      const char* bytes = static_cast<const char*>(sqlite3_column_blob(s, 1));
      const Digest digest = Sha1Of(
          std::string_view(bytes != nullptr ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(s, 1))));
      const uint64_t rank = seen[digest]++;
      if (sqlite3_column_type(s, 2) == SQLITE_NULL) {
        missing.push_back({sqlite3_column_int64(s, 0), digest, rank});
      } else {
        taken.insert(ColumnText(s, 2));
      }
    }
  }
  sqlite3_finalize(s);
  std::optional<std::u16string> result;
  if (rc == SQLITE_DONE) result.emplace();
  for (const Missing& item : missing) {
    if (!result) break;
    // An identifier held already (by an item given one elsewhere) is passed over.
    std::u16string uid = DerivedUid(item.digest, item.rank);
    for (uint64_t rank = item.rank + 1; taken.count(uid) != 0; ++rank) {
      uid = DerivedUid(item.digest, rank);
    }
    if (!WriteUid(folder, item.id, uid)) result.reset();
    if (item.id == id && result) *result = uid;
    taken.insert(std::move(uid));
  }
  const char* end = own ? (result ? "COMMIT" : "ROLLBACK")
                        : (result ? "RELEASE derive" : "ROLLBACK TO derive; RELEASE derive");
  if (sqlite3_exec(db_, end, nullptr, nullptr, nullptr) != SQLITE_OK) {
    if (own && sqlite3_get_autocommit(db_) == 0) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    return std::nullopt;
  }
  return result;
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

bool StoreFile::Run(int slot, const char* sql) {
  sqlite3_stmt* s = Statement(slot, sql);
  if (s == nullptr) return false;
  const int rc = sqlite3_step(s);
  sqlite3_reset(s);
  return rc == SQLITE_DONE || rc == SQLITE_ROW;
}

bool StoreFile::BeginBatch() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ == nullptr || inBatch_) return false;
  // A batch's pages stay in memory up to a bounded size, rather than being written to the
  // log and read back as a batch of saves spreads over the index of identifiers. (The
  // statements of a batch's start and end are prepared once: a batch per fuzz input spent a
  // twentieth of its time preparing them.)
  Run(kBatchCacheSlot, kBatchCacheSize);
  inBatch_ = Run(kBeginSlot, "BEGIN IMMEDIATE");
  identitiesBeforeBatch_ = identitiesReady_;
  return inBatch_;
}

bool StoreFile::EndBatch(bool keep) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ == nullptr || !inBatch_) return false;
  inBatch_ = false;
  if (keep && Run(kCommitSlot, "COMMIT")) {
    Run(kCacheSlot, kCacheSize);
    return true;
  }
  // Dropped, or not kept: whatever this connection remembers of the folders is stale.
  if (sqlite3_get_autocommit(db_) == 0) Run(kRollbackSlot, "ROLLBACK");
  Run(kCacheSlot, kCacheSize);
  ++writes_;
  ++contactEdits_;
  // The table may have been made inside the batch; one made before it stays.
  identitiesReady_ = identitiesBeforeBatch_;
  return !keep;
}

}  // namespace handheld::store
