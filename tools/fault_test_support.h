// SQLite's word on whether a store file is sound, for the tests that break the tools.
#pragma once

#include <sqlite3.h>

#include <string>

#include "tools/tool_test_support.h"

namespace fault_testing {

// The rows of PRAGMA integrity_check on the database at `path`, one per line ("ok" for
// a sound file), or what kept SQLite from running it.
inline std::string IntegrityCheck(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    std::string problem = "cannot open: " + std::string(sqlite3_errmsg(db));
    sqlite3_close(db);
    return problem;
  }
  std::string rows;
  sqlite3_stmt* check = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr) != SQLITE_OK) {
    rows = "cannot check: " + std::string(sqlite3_errmsg(db));
  }
  while (check != nullptr && sqlite3_step(check) == SQLITE_ROW) {
    if (!rows.empty()) rows += "\n";
    rows += reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
  }
  sqlite3_finalize(check);
  sqlite3_close(db);
  return rows;
}

}  // namespace fault_testing
