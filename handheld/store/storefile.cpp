// The store file: where it lives, how it is opened and checked, and the item tables.
#include "handheld/store/storefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "handheld/pimstore.h"

namespace handheld::store {
namespace {

// Marks a database as ours ("QMOT"), so that a database of another program is never
// mistaken for an empty store and changed.
constexpr int kApplicationId = 0x514D4F54;
constexpr int kSchemaVersion = 2;
// Another program saving at the same time holds the write lock for a moment: a save
// waits this long for it rather than failing.
constexpr int kBusyTimeoutMs = 10000;

// HANDHELD_STORE=:memory: keeps the store in the process's memory: a SQLite database on
// the memdb file system (which locks like a file) that every logon of the process
// shares, gone when the process ends.
constexpr char kMemoryStore[] = ":memory:";
constexpr char kMemoryStoreUri[] = "file:/handheld-store?vfs=memdb";

// The database in memory lives while a connection to it is open, so the first logon
// opens one more that stays open. A logoff parks its connection for the next logon,
// which takes it as it is: checked, set up and with the schema read.
struct MemoryStore {
  std::mutex mutex;
  sqlite3* keeper = nullptr;
  sqlite3* parked = nullptr;
};

MemoryStore& TheMemoryStore() {
  static MemoryStore* store = new MemoryStore;
  return *store;
}

int OpenMemoryConnection(sqlite3** db, bool* parked) {
  constexpr int kFlags =
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI;
  MemoryStore& store = TheMemoryStore();
  std::lock_guard<std::mutex> lock(store.mutex);
  if (store.keeper == nullptr) {
    int rc = sqlite3_open_v2(kMemoryStoreUri, &store.keeper, kFlags, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_close(store.keeper);
      store.keeper = nullptr;
      return rc;
    }
  }
  *db = std::exchange(store.parked, nullptr);
  *parked = *db != nullptr;
  if (*parked) return SQLITE_OK;
  int rc = sqlite3_open_v2(kMemoryStoreUri, db, kFlags, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close(*db);
    *db = nullptr;
  }
  return rc;
}

// Closes a connection, or parks it when it is to the store in memory and nothing of it
// is left open.
void CloseConnection(sqlite3* db, bool inMemory) {
  if (inMemory && db != nullptr && sqlite3_get_autocommit(db) != 0 &&
      sqlite3_next_stmt(db, nullptr) == nullptr) {
    MemoryStore& store = TheMemoryStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    if (store.parked == nullptr) {
      store.parked = db;
      return;
    }
  }
  sqlite3_close(db);
}

// One table per folder, so that a folder's rowid order is its first-save order. An
// item's id is never handed out again, not even after the item with the highest id was
// removed (AUTOINCREMENT): another program may still hold it in its list of the folder.
// Each folder also keeps its ids in an index of their own, a few pages where the table
// takes thousands, so that listing a folder does not read every item. Contacts carry
// their two recipient lookup keys beside the blob.
#define HANDHELD_ITEM_TABLES(contacts, appointments, tasks)     \
  "CREATE TABLE " contacts                                      \
  "(id INTEGER PRIMARY KEY AUTOINCREMENT, data BLOB NOT NULL,"  \
  " email BLOB, fullname BLOB);"                                \
  "CREATE TABLE " appointments                                  \
  "(id INTEGER PRIMARY KEY AUTOINCREMENT, data BLOB NOT NULL);" \
  "CREATE TABLE " tasks "(id INTEGER PRIMARY KEY AUTOINCREMENT, data BLOB NOT NULL);"
const char kIdIndexes[] =
    "CREATE INDEX contacts_ids ON contacts(id);"
    "CREATE INDEX appointments_ids ON appointments(id);"
    "CREATE INDEX tasks_ids ON tasks(id);";
const char kSchema[] = HANDHELD_ITEM_TABLES("contacts", "appointments", "tasks")
    "CREATE TABLE calls("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  number BLOB, name BLOB, name_type BLOB, note BLOB,"
    "  start_time INTEGER NOT NULL, end_time INTEGER NOT NULL,"
    "  iom INTEGER NOT NULL, flags INTEGER NOT NULL, caller_id_type INTEGER NOT NULL);";
// A store of version 1 handed out the ids of removed items again: its item tables are
// copied, ids and all, into tables that never do. Dropping the old tables drops the
// identifiers' triggers on them, which are made again when the identifier table exists.
const char kMigrateFrom1[] = HANDHELD_ITEM_TABLES("contacts2", "appointments2", "tasks2")
    "INSERT INTO contacts2 SELECT id, data, email, fullname FROM contacts;"
    "INSERT INTO appointments2 SELECT id, data FROM appointments;"
    "INSERT INTO tasks2 SELECT id, data FROM tasks;"
    "DROP TABLE contacts; DROP TABLE appointments; DROP TABLE tasks;"
    "ALTER TABLE contacts2 RENAME TO contacts;"
    "ALTER TABLE appointments2 RENAME TO appointments;"
    "ALTER TABLE tasks2 RENAME TO tasks;";
#undef HANDHELD_ITEM_TABLES

// Frames the write-ahead log gathers before they are copied into the file: large enough
// that a long import syncs rarely, small enough to keep the log file modest.
constexpr int kCheckpointFrames = 8192;

std::mutex lastErrorMutex;
std::string& LastErrorText() {
  static std::string* text = new std::string;
  return *text;
}

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

bool IsBusy(int rc) {
  int primary = rc & 0xff;
  return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// Runs one statement that yields at most one integer.
int QueryInt(sqlite3* db, const char* sql, int* value) {
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
  if (rc != SQLITE_OK) return rc;
  rc = sqlite3_step(statement);
  if (rc == SQLITE_ROW) {
    *value = sqlite3_column_int(statement, 0);
    rc = SQLITE_OK;
  } else if (rc == SQLITE_DONE) {
    rc = SQLITE_OK;
  }
  sqlite3_finalize(statement);
  return rc;
}

// The reason for a failed SQLite call, in the store's words.
std::string Explain(sqlite3* db, int rc, const std::string& path) {
  int primary = rc & 0xff;
  if (IsBusy(rc)) return "the store file " + Quoted(path) + " is locked by another program";
  if (primary == SQLITE_NOTADB) {
    return "the store file " + Quoted(path) + " is not a database; it was left untouched";
  }
  const char* why = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  return "cannot use the store file " + Quoted(path) + ": " + why;
}

// The store's path must name a regular file or nothing yet. Its content is judged by
// SQLite alone: POSIX locks belong to the process, so closing any other descriptor of
// the file, here or anywhere in the process, would drop the locks of every connection
// to it, and another program would then take this one's log for its own to delete.
bool IsFileOrMissing(const std::string& path, std::string* error) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return true;
    *error = "cannot use the store file " + Quoted(path) + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = "the store file " + Quoted(path) + " is not a regular file";
    return false;
  }
  return true;
}

// Makes the folders of `folder` that are missing, readable by their owner only (the
// store holds personal data); folders that exist keep their permissions.
bool MakeFolders(const std::string& folder, std::string* why) {
  struct stat info;
  if (folder.empty() || stat(folder.c_str(), &info) == 0) {
    if (folder.empty() || S_ISDIR(info.st_mode)) return true;
    *why = "it is not a folder";
    return false;
  }
  size_t slash = folder.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash), why)) {
    return false;
  }
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    *why = std::strerror(errno);
    return false;
  }
  return true;
}

// A new store file is made readable and writable by its owner only before SQLite opens
// it; SQLite gives its log and shared-memory files the same permissions. No connection
// to a file that does not exist can be open, so closing this descriptor costs no lock.
bool MakeFileIfMissing(const std::string& path, std::string* error) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd >= 0) {
    close(fd);
    return true;
  }
  if (errno == EEXIST) return true;
  *error = "cannot create the store file " + Quoted(path) + ": " + std::strerror(errno);
  return false;
}

int FolderSlot(int32_t folder) {
  switch (folder) {
    case olFolderCalendar:
      return 0;
    case olFolderContacts:
      return 1;
    default:
      return 2;
  }
}

}  // namespace

void SetLastStoreError(std::string text) {
  std::lock_guard<std::mutex> lock(lastErrorMutex);
  LastErrorText() = std::move(text);
}

int BindText(sqlite3_stmt* statement, int index, std::u16string_view text, bool emptyIsNull) {
  if (text.empty()) {
    return emptyIsNull ? sqlite3_bind_null(statement, index)
                       : sqlite3_bind_zeroblob(statement, index, 0);
  }
  return sqlite3_bind_blob(statement, index, text.data(),
                           static_cast<int>(text.size() * sizeof(char16_t)), SQLITE_TRANSIENT);
}

std::u16string ColumnText(sqlite3_stmt* statement, int column) {
  const void* bytes = sqlite3_column_blob(statement, column);
  int size = sqlite3_column_bytes(statement, column);
  std::u16string text(static_cast<size_t>(size) / sizeof(char16_t), u'\0');
  if (bytes != nullptr && !text.empty()) {
    std::memcpy(text.data(), bytes, text.size() * sizeof(char16_t));
  }
  return text;
}

std::unique_ptr<StoreFile> StoreFile::Open(std::string* error) {
  std::string path = StorePath();
  if (path.empty()) {
    *error = "no place for the store file: neither HANDHELD_STORE nor HOME is set";
    return nullptr;
  }
  // "eds:" names the desktop's own store (OpenItemBackend); taken for a file name it
  // would make a new, empty store beside the user's real one.
  if (path.rfind("eds:", 0) == 0) {
    *error = "HANDHELD_STORE=" + path + " names the Evolution Data Server store, not a file";
    return nullptr;
  }
  std::string parent = std::filesystem::path(path).parent_path().string();
  std::string why;
  if (!MakeFolders(parent, &why)) {
    *error = "cannot create the folder " + Quoted(parent) + " for the store file: " + why;
    return nullptr;
  }
  const bool inMemory = path == kMemoryStore;  // no folder (the parent is empty), no file
  if (!inMemory && (!IsFileOrMissing(path, error) || !MakeFileIfMissing(path, error))) {
    return nullptr;
  }
  // From here on nothing else in the process may open the file (a close would drop the
  // connection's locks).
  auto held = inMemory ? nullptr : std::make_unique<internal::HeldFiles>(path);

  // Every use of the connection is under mutex_ (or, through Raw, by its one owner),
  // so SQLite's own per-call locking is left out: an export reads each row's columns
  // through several calls, and each would take and give back that lock.
  sqlite3* db = nullptr;
  bool parked = false;
  int rc = inMemory
               ? OpenMemoryConnection(&db, &parked)
               : sqlite3_open_v2(path.c_str(), &db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
  auto fail = [&](int code) {
    *error = Explain(db, code, path);
    CloseConnection(db, inMemory);
    return nullptr;
  };
  if (rc != SQLITE_OK) return fail(rc);
  if (parked) return std::unique_ptr<StoreFile>(new StoreFile(db, true, nullptr));
  sqlite3_busy_timeout(db, kBusyTimeoutMs);

  // Whose database is it? Checked before anything is written.
  int applicationId = 0, tables = 0, version = 0;
  if ((rc = QueryInt(db, "PRAGMA application_id", &applicationId)) != SQLITE_OK ||
      (rc = QueryInt(db, "SELECT count(*) FROM sqlite_master", &tables)) != SQLITE_OK ||
      (rc = QueryInt(db, "PRAGMA user_version", &version)) != SQLITE_OK) {
    return fail(rc);
  }
  if (applicationId != kApplicationId && (applicationId != 0 || tables != 0)) {
    *error = "the store file " + Quoted(path) +
             " is a database of another program; it was left untouched";
    sqlite3_close(db);
    return nullptr;
  }
  if (applicationId == kApplicationId && version > kSchemaVersion) {
    *error = "the store file " + Quoted(path) + " was written by a newer version";
    sqlite3_close(db);
    return nullptr;
  }

  sqlite3_stmt* statement = nullptr;
  // A database in memory keeps its journal in memory; it has no log to share.
  const char* const journal = inMemory ? "memory" : "wal";
  rc = sqlite3_prepare_v2(db, inMemory ? "PRAGMA journal_mode" : "PRAGMA journal_mode=WAL", -1,
                          &statement, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW) {
      const unsigned char* mode = sqlite3_column_text(statement, 0);
      rc = mode != nullptr && std::strcmp(reinterpret_cast<const char*>(mode), journal) == 0
               ? SQLITE_OK
               : SQLITE_BUSY;  // another connection keeps the file in its own mode
    }
    sqlite3_finalize(statement);
  }
  if (rc != SQLITE_OK) return fail(rc);

  // A killed process keeps every committed transaction with NORMAL in WAL mode.
  // The write lock is taken even when there is nothing to create: a store that another
  // program keeps locked is refused now rather than at the first Save. The version is
  // read again under that lock, so that of two programs opening an old store at once
  // only the first brings it up to date.
  std::string setup =
      "PRAGMA synchronous=NORMAL;PRAGMA wal_autocheckpoint=" + std::to_string(kCheckpointFrames) +
      ";BEGIN IMMEDIATE;";
  rc = sqlite3_exec(db, setup.c_str(), nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = QueryInt(db, "PRAGMA user_version", &version);
  if (rc == SQLITE_OK && version < kSchemaVersion) {
    int identities = 0;
    std::string change = version == 0 ? kSchema : kMigrateFrom1;
    if (version == 1) {
      rc = QueryInt(db, "SELECT count(*) FROM sqlite_master WHERE name='item_uids'", &identities);
    }
    if (identities != 0) change += kIdentitySchema;
    change += std::string(kIdIndexes) + "PRAGMA application_id=" + std::to_string(kApplicationId) +
              ";PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, change.c_str(), nullptr, nullptr, nullptr);
  }
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return fail(rc);
  }
  return std::unique_ptr<StoreFile>(new StoreFile(db, inMemory, std::move(held)));
}

StoreFile::~StoreFile() {
  Close();
}

void StoreFile::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (sqlite3_stmt*& statement : statements_) {
    sqlite3_finalize(statement);
    statement = nullptr;
  }
  if (db_ != nullptr) CloseConnection(db_, inMemory_);
  db_ = nullptr;
  held_.reset();
}

sqlite3_stmt* StoreFile::Statement(int slot, const char* sql) {
  if (db_ == nullptr) return nullptr;
  sqlite3_stmt*& statement = statements_[slot];
  if (statement == nullptr && sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT,
                                                 &statement, nullptr) != SQLITE_OK) {
    statement = nullptr;
    return nullptr;
  }
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  return statement;
}

bool StoreFile::isOpen() {
  std::lock_guard<std::mutex> lock(mutex_);
  return db_ != nullptr;
}

namespace {
// Statements per folder, by the folder's slot (calendar, contacts, tasks).
const char* const kList[] = {"SELECT id FROM appointments ORDER BY id",
                             "SELECT id FROM contacts ORDER BY id",
                             "SELECT id FROM tasks ORDER BY id"};
const char* const kLoad[] = {"SELECT data FROM appointments WHERE id=?1",
                             "SELECT data FROM contacts WHERE id=?1",
                             "SELECT data FROM tasks WHERE id=?1"};
const char* const kLoadRange[] = {
    "SELECT id, data FROM appointments WHERE id BETWEEN ?1 AND ?2 ORDER BY id",
    "SELECT id, data FROM contacts WHERE id BETWEEN ?1 AND ?2 ORDER BY id",
    "SELECT id, data FROM tasks WHERE id BETWEEN ?1 AND ?2 ORDER BY id"};
const char* const kInsert[] = {"INSERT INTO appointments(data) VALUES(?1)",
                               "INSERT INTO contacts(data, email, fullname) VALUES(?1, ?2, ?3)",
                               "INSERT INTO tasks(data) VALUES(?1)"};
const char* const kUpdate[] = {"UPDATE appointments SET data=?1 WHERE id=?4",
                               "UPDATE contacts SET data=?1, email=?2, fullname=?3 WHERE id=?4",
                               "UPDATE tasks SET data=?1 WHERE id=?4"};
const char* const kDelete[] = {"DELETE FROM appointments WHERE id=?1",
                               "DELETE FROM contacts WHERE id=?1", "DELETE FROM tasks WHERE id=?1"};
}  // namespace

std::pair<uint64_t, int64_t> StoreFile::Changes() {
  std::lock_guard<std::mutex> lock(mutex_);
  // Another program's commit changes the data version that this connection sees.
  sqlite3_stmt* s = Statement(kDataVersionSlot, "PRAGMA data_version");
  int64_t version = 0;
  if (s != nullptr && sqlite3_step(s) == SQLITE_ROW) {
    version = sqlite3_column_int64(s, 0);
  } else {
    version = -static_cast<int64_t>(++failedChecks_);
  }
  if (s != nullptr) sqlite3_reset(s);
  return {writes_, version};
}

bool StoreFile::ListItems(int32_t folder, std::vector<int64_t>* ids) {
  std::lock_guard<std::mutex> lock(mutex_);
  ids->clear();
  int f = FolderSlot(folder);
  sqlite3_stmt* s = Statement(kListSlot + f, kList[f]);
  if (s == nullptr) return false;
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) ids->push_back(sqlite3_column_int64(s, 0));
  sqlite3_reset(s);
  return rc == SQLITE_DONE;
}

bool StoreFile::LoadItem(int64_t id, int32_t folder, std::string* blob) {
  std::lock_guard<std::mutex> lock(mutex_);
  int f = FolderSlot(folder);
  sqlite3_stmt* s = Statement(kLoadSlot + f, kLoad[f]);
  if (s == nullptr) return false;
  sqlite3_bind_int64(s, 1, id);
  bool found = false;
  if (sqlite3_step(s) == SQLITE_ROW) {
    const char* bytes = static_cast<const char*>(sqlite3_column_blob(s, 0));
    blob->assign(bytes != nullptr ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(s, 0)));
    found = true;
  }
  sqlite3_reset(s);
  return found;
}

bool StoreFile::LoadItems(int32_t folder, std::span<const int64_t> ids,
                          std::vector<std::optional<std::string>>* blobs) {
  blobs->assign(ids.size(), std::nullopt);
  if (ids.empty()) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  int f = FolderSlot(folder);
  sqlite3_stmt* s = Statement(kLoadRangeSlot + f, kLoadRange[f]);
  if (s == nullptr) return false;
  sqlite3_bind_int64(s, 1, ids.front());
  sqlite3_bind_int64(s, 2, ids.back());
  // Both the rows and the ids are in id order; a row that is not listed is skipped.
  size_t slot = 0;
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    const int64_t id = sqlite3_column_int64(s, 0);
    while (slot < ids.size() && ids[slot] < id) ++slot;
    if (slot == ids.size()) continue;
    if (ids[slot] != id) continue;
    const char* bytes = static_cast<const char*>(sqlite3_column_blob(s, 1));
    (*blobs)[slot++].emplace(bytes != nullptr ? bytes : "",
                             static_cast<size_t>(sqlite3_column_bytes(s, 1)));
  }
  sqlite3_reset(s);
  return rc == SQLITE_DONE;
}

int64_t StoreFile::InsertItem(int32_t folder, std::string_view blob, std::u16string_view email,
                              std::u16string_view fullName, std::u16string_view uid) {
  std::unique_lock<std::mutex> lock(mutex_);
  int f = FolderSlot(folder);
  sqlite3_stmt* s = Statement(kInsertSlot + f, kInsert[f]);
  if (s == nullptr) return 0;
  ++writes_;
  sqlite3_bind_blob(s, 1, blob.data(), static_cast<int>(blob.size()), SQLITE_STATIC);
  if (folder == olFolderContacts) {
    BindText(s, 2, email, true);
    BindText(s, 3, fullName, true);
  }
  int rc = sqlite3_step(s);
  sqlite3_reset(s);
  if (rc != SQLITE_DONE) return 0;
  if (folder == olFolderContacts) ++contactEdits_;
  const int64_t id = sqlite3_last_insert_rowid(db_);
  lock.unlock();
  // An item whose identifier could not be kept is not left behind without it.
  if (!uid.empty() && !SetItemUid(folder, id, uid)) {
    DeleteItem(folder, id);
    return 0;
  }
  return id;
}

bool StoreFile::UpdateItem(int32_t folder, int64_t id, std::string_view blob,
                           std::u16string_view email, std::u16string_view fullName) {
  std::lock_guard<std::mutex> lock(mutex_);
  int f = FolderSlot(folder);
  sqlite3_stmt* s = Statement(kUpdateSlot + f, kUpdate[f]);
  if (s == nullptr) return false;
  ++writes_;
  sqlite3_bind_blob(s, 1, blob.data(), static_cast<int>(blob.size()), SQLITE_STATIC);
  if (folder == olFolderContacts) {
    BindText(s, 2, email, true);
    BindText(s, 3, fullName, true);
    ++contactEdits_;
  }
  sqlite3_bind_int64(s, 4, id);
  int rc = sqlite3_step(s);
  sqlite3_reset(s);
  return rc == SQLITE_DONE && sqlite3_changes(db_) == 1;
}

int StoreFile::DeleteItem(int32_t folder, int64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  int f = FolderSlot(folder);
  sqlite3_stmt* s = Statement(kDeleteSlot + f, kDelete[f]);
  if (s == nullptr) return -1;
  ++writes_;
  sqlite3_bind_int64(s, 1, id);
  int rc = sqlite3_step(s);
  sqlite3_reset(s);
  if (rc != SQLITE_DONE) return -1;
  if (folder == olFolderContacts) ++contactEdits_;
  return sqlite3_changes(db_) == 1 ? 1 : 0;
}

std::optional<std::u16string> StoreFile::FindContactAddress(std::u16string_view key) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (key.empty()) return std::nullopt;
  // The lookup table is rebuilt when a contact changed, here or in another program.
  sqlite3_stmt* s = Statement(kDataVersionSlot, "PRAGMA data_version");
  if (s == nullptr || sqlite3_step(s) != SQLITE_ROW) return std::nullopt;
  int64_t dataVersion = sqlite3_column_int64(s, 0);
  sqlite3_reset(s);
  uint64_t edits = contactEdits_;
  if (!keysValid_ || dataVersion != keysDataVersion_ || edits != keysEdits_) {
    contactKeys_.clear();
    s = Statement(kContactKeysSlot, "SELECT email, fullname FROM contacts ORDER BY id");
    if (s == nullptr) return std::nullopt;
    while (sqlite3_step(s) == SQLITE_ROW) {
      std::u16string email = ColumnText(s, 0);
      std::u16string fullName = ColumnText(s, 1);
      // The first saved contact with a key wins it.
      if (!email.empty()) contactKeys_.emplace(email, email);
      if (!fullName.empty()) contactKeys_.emplace(std::move(fullName), std::move(email));
    }
    sqlite3_reset(s);
    keysValid_ = true;
    keysDataVersion_ = dataVersion;
    keysEdits_ = edits;
  }
  auto found = contactKeys_.find(std::u16string(key));
  if (found == contactKeys_.end()) return std::nullopt;
  return found->second;
}

}  // namespace handheld::store

namespace handheld {

std::string LastStoreError() {
  std::lock_guard<std::mutex> lock(store::lastErrorMutex);
  return store::LastErrorText();
}

std::string StorePath() {
  auto variable = [](const char* name) -> std::string {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
  };
  std::string path = variable("HANDHELD_STORE");
  if (!path.empty()) return path;
  std::string data = variable("XDG_DATA_HOME");
  if (data.empty() || data.front() != '/') {  // a relative XDG_DATA_HOME is ignored
    std::string home = variable("HOME");
    if (home.empty()) return "";
    data = home + "/.local/share";
  }
  return data + "/quillmote/handheld.db";
}

}  // namespace handheld
