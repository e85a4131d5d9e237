// The call log's table in the store file. Each call opens the file on its own, so the
// call-log library and the `handheld` tool need no logged-on application.
#include "handheld/callstore.h"

#include <algorithm>

#include "handheld/store/storefile.h"

namespace handheld {
namespace {

using store::StoreFile;

// A prepared statement that finalizes itself.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr); }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return statement_; }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

void BindOptional(sqlite3_stmt* statement, int index, const std::optional<std::u16string>& text) {
  if (text) {
    store::BindText(statement, index, *text, false);
  } else {
    sqlite3_bind_null(statement, index);
  }
}

std::optional<std::u16string> ColumnOptional(sqlite3_stmt* statement, int column) {
  if (sqlite3_column_type(statement, column) == SQLITE_NULL) return std::nullopt;
  return store::ColumnText(statement, column);
}

constexpr int kOutgoing = 1, kConnected = 2, kEnded = 4, kRoam = 8;

// Runs `work` on the opened store file; reports its failure with the file's own message.
template <class Work>
bool WithStore(std::string* error, Work work) {
  std::string why;
  std::unique_ptr<StoreFile> file = StoreFile::Open(&why);
  if (file == nullptr) {
    if (error != nullptr) *error = why;
    return false;
  }
  sqlite3* db = file->Raw();
  if (!work(db)) {
    if (error != nullptr)
      *error = std::string("the call log could not be used: ") + sqlite3_errmsg(db);
    return false;
  }
  return true;
}

}  // namespace

bool AddCallEntry(const CallEntryData& entry, std::string* error) {
  return WithStore(error, [&](sqlite3* db) {
    Statement insert(db,
                     "INSERT INTO calls(number, name, name_type, note, start_time, end_time, "
                     "iom, flags, caller_id_type) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
    sqlite3_stmt* s = insert.get();
    if (s == nullptr) return false;
    BindOptional(s, 1, entry.number);
    BindOptional(s, 2, entry.name);
    BindOptional(s, 3, entry.nameType);
    BindOptional(s, 4, entry.note);
    // FILETIME ticks keep all 64 bits in SQLite's signed integer.
    sqlite3_bind_int64(s, 5, static_cast<sqlite3_int64>(entry.startTime));
    sqlite3_bind_int64(s, 6, static_cast<sqlite3_int64>(entry.endTime));
    sqlite3_bind_int(s, 7, entry.iom);
    sqlite3_bind_int(s, 8,
                     (entry.outgoing ? kOutgoing : 0) | (entry.connected ? kConnected : 0) |
                         (entry.ended ? kEnded : 0) | (entry.roam ? kRoam : 0));
    sqlite3_bind_int(s, 9, entry.callerIdType);
    return sqlite3_step(s) == SQLITE_DONE;
  });
}

std::optional<std::vector<CallEntryData>> LoadCallEntries(std::string* error) {
  std::vector<CallEntryData> entries;
  bool ok = WithStore(error, [&](sqlite3* db) {
    Statement select(db,
                     "SELECT number, name, name_type, note, start_time, end_time, iom, flags, "
                     "caller_id_type FROM calls ORDER BY id");
    sqlite3_stmt* s = select.get();
    if (s == nullptr) return false;
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      CallEntryData entry;
      entry.number = ColumnOptional(s, 0);
      entry.name = ColumnOptional(s, 1);
      entry.nameType = ColumnOptional(s, 2);
      entry.note = ColumnOptional(s, 3);
      entry.startTime = static_cast<uint64_t>(sqlite3_column_int64(s, 4));
      entry.endTime = static_cast<uint64_t>(sqlite3_column_int64(s, 5));
      entry.iom = sqlite3_column_int(s, 6);
      int flags = sqlite3_column_int(s, 7);
      entry.outgoing = (flags & kOutgoing) != 0;
      entry.connected = (flags & kConnected) != 0;
      entry.ended = (flags & kEnded) != 0;
      entry.roam = (flags & kRoam) != 0;
      entry.callerIdType = sqlite3_column_int(s, 8);
      entries.push_back(std::move(entry));
    }
    return rc == SQLITE_DONE;
  });
  if (!ok) return std::nullopt;
  // Newest start first; the stable sort keeps calls of the same start in the order added.
  std::stable_sort(
      entries.begin(), entries.end(),
      [](const CallEntryData& a, const CallEntryData& b) { return a.startTime > b.startTime; });
  return entries;
}

bool ClearCallEntries(std::string* error) {
  return WithStore(error, [](sqlite3* db) {
    return sqlite3_exec(db, "DELETE FROM calls", nullptr, nullptr, nullptr) == SQLITE_OK;
  });
}

}  // namespace handheld
