// Loads and saves killed with SIGKILL part-way. A load of 50,000 contacts: the store file
// stays sound and holds only whole contacts, the file's first ones, each once; and a load
// of the records that did not make it then completes the set. The kill points come from
// the progress that quillmote-batch reports on standard error.
#include <signal.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "records/contact.h"
#include "tools/tool_test_support.h"
#include "worker/testing/job_harness.h"

namespace {

using handheld::testing::Sandbox;

// The rows of PRAGMA integrity_check on the store at `path`, one per line ("ok" for a
// sound file), or what kept SQLite from running it.
std::string IntegrityCheck(const std::string& path) {
  sqlite3* db = nullptr;
  std::string rows;
  sqlite3_stmt* check = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr) != SQLITE_OK) {
    rows = "cannot check: " + std::string(sqlite3_errmsg(db));
  }
  while (check != nullptr && sqlite3_step(check) == SQLITE_ROW) {
    rows += (rows.empty() ? "" : "\n") +
            std::string(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)));
  }
  sqlite3_finalize(check);
  sqlite3_close(db);
  return rows;
}

constexpr int kContacts = 50'000;

// Contact n of the generated file: its title (column 0) and notes (49, the record's last
// column) carry n. A record is saved only at its end, so a contact with both is whole.
worker_testing::ContactText Contact(int n) {
  return {u"Имя" + handheld::testing::U16(std::to_string(n)), u"", u"",
          u"N" + handheld::testing::U16(std::to_string(n))};
}

// The backup file of all generated contacts, and where each record starts in it.
struct BackupFile {
  std::string bytes;
  std::vector<size_t> recordStart;
};

BackupFile Generate() {
  std::u16string text;
  std::vector<size_t> starts;
  for (int n = 0; n < kContacts; ++n) {
    starts.push_back(2 + 2 * text.size());
    text +=
        Contact(n).title + std::u16string(kContactColumns - 1, u'\t') + Contact(n).body + u"\t\r\n";
  }
  return {handheld::testing::Utf16LeBytes(text, true), std::move(starts)};
}

// The store's contacts, in the order they were saved, when each is whole and the
// generated contact of its place in the file; else the first that is not (1-based), as
// a failure.
::testing::AssertionResult StoredInFileOrder(int* stored) {
  const std::vector<worker_testing::ContactText> contacts = worker_testing::StoredContacts();
  *stored = static_cast<int>(contacts.size());
  for (int i = 0; i < *stored; ++i) {
    if (!(contacts[static_cast<size_t>(i)] == Contact(i))) {
      return ::testing::AssertionFailure() << "contact " << i + 1 << " is not the file's";
    }
  }
  return ::testing::AssertionSuccess();
}

struct Killed {
  bool reached = false;  // the progress reached the kill point before the load ended
  int status = -1;
};

// Starts `load-contacts file` with a terminal for its progress bar, and kills it with
// SIGKILL as soon as the bar shows `percent` or more.
Killed LoadAndKill(const Sandbox& box, const std::string& file, int percent) {
  Killed killed;
  tool_testing::Terminal terminal;
  tool_testing::Launch launch;
  launch.argv = {"load-contacts", file};
  launch.out = box.path("killed.out");
  launch.errFd = terminal.FarEnd();
  const pid_t pid = tool_testing::Start("quillmote-batch", launch);
  terminal.CloseFarEnd();
  if (pid < 0) return killed;
  killed.reached = terminal.WaitUntil(
      [percent](const std::string& shown) { return tool_testing::BarPercent(shown) >= percent; });
  kill(pid, SIGKILL);  // also when no kill point came: do not leave it running
  killed.status = tool_testing::Wait(pid);
  return killed;
}

TEST(CrashSafetyTest, KilledLoadsLeaveWholeContactsAndTheRestLoadsAfterwards) {
  Sandbox files;
  const BackupFile generated = Generate();
  const std::string all = files.path("all.txt");
  handheld::testing::WriteFileBytes(all, generated.bytes);

  for (int percent : {10, 30, 50, 70, 90}) {
    SCOPED_TRACE("killed at " + std::to_string(percent) + "%");
    Sandbox box;  // a store of its own
    const Killed killed = LoadAndKill(box, all, percent);
    ASSERT_TRUE(killed.reached) << "the load reported no progress of " << percent << "%";
    ASSERT_EQ(killed.status, 128 + SIGKILL) << "the load ended before it was killed";

    EXPECT_EQ(IntegrityCheck(box.storePath()), "ok");
    // Only whole contacts, the file's first ones, in file order: the contact whose record
    // was being read when the load died is not there.
    int kept = 0;
    EXPECT_TRUE(StoredInFileOrder(&kept));
    // Every record before the reported progress was saved; the load had not finished.
    EXPECT_GE(kept, percent * kContacts / 100 - 1);
    ASSERT_LT(kept, kContacts);

    // Load what is missing: the records from the first one not kept.
    const std::string rest = box.path("rest.txt");
    handheld::testing::WriteFileBytes(
        rest,
        "\xFF\xFE" + generated.bytes.substr(generated.recordStart[static_cast<size_t>(kept)]));
    const tool_testing::Result load =
        tool_testing::RunProgram(box.dir(), "quillmote-batch", {"load-contacts", rest});
    EXPECT_EQ(load.status, 0) << load.err;
    EXPECT_EQ(load.out,
              std::string(kept > 0 ? "Удалить существующие Контакты?\n" : "") +
                  "Импорт Контактов завершен. Загружено записей: " +
                  std::to_string(kContacts - kept) + "\n");
    EXPECT_EQ(IntegrityCheck(box.storePath()), "ok");
    // The second load only adds: the store holds every contact of the file once, whole.
    int after = 0;
    EXPECT_TRUE(StoredInFileOrder(&after));
    EXPECT_EQ(after, kContacts);
  }
}

}  // namespace
