// What a person's data goes through when Quillmote works beside other programs and on
// real files: outside programs writing to the store between two jobs of one run, a store
// that another program holds busy for a moment, fields too long to load, yesterday's
// backup under a save that fails (also through a symbolic link), a store that cannot be
// used, and who may read the files made.
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/shell_test_support.h"
#include "tools/tool_test_support.h"

namespace {

namespace scripted = handheld::scripted;
using handheld::testing::ReadFileBytes;
using handheld::testing::U16;
using handheld::testing::Utf16LeBytes;
using handheld::testing::WriteFileBytes;
using tool_testing::FilesIn;
using tool_testing::Result;

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

class NothingLostTest : public tool_testing::ToolTest {};

// Closing any descriptor of the store file drops every lock the process holds on it.
// Had anything in the process but SQLite opened it while Quillmote was logged on (the
// call log is read through a connection of its own, beside the dialog's), the next
// outside program to close the store would have taken itself for the last one and
// removed the log, and Quillmote's writes from then on would have been lost to others,
// and theirs to Quillmote. So an outside program opens, closes and adds to the store
// between every two jobs here. The store's own files are never a backup file: a load or
// a save of the store under any name is refused as a file held by another program, and
// nothing else happens (had the save gone on, the store would be gone).
TEST_F(NothingLostTest, OutsideWritersAreKeptAndTheStoreIsNeverABackupFile) {
  Handheld("add", "contacts", "{\"FirstName\": \"Before\"}\n");
  Handheld("add", "calls", "{\"Number\": \"+79001234567\"}\n");
  WriteFileBytes(sandbox().path("load.txt"), Utf16LeBytes(u"\tLoaded\t\r\n", true));
  std::filesystem::create_directory(sandbox().path("sub"));
  std::filesystem::create_symlink(sandbox().storePath(), sandbox().path("link"));
  const WORD save = IDM_FIRST_JOB, load = IDM_FIRST_JOB + 1;
  const std::vector<std::pair<WORD, std::string>> jobs = {
      {IDM_SAVE_CALLS, "calls.txt"},    {load, "handheld.db"},         {load, "link"},
      {load, "sub/../handheld.db"},     {save, "handheld.db"},         {save, "link"},
      {save, "sub/../handheld.db-wal"}, {save, "handheld.db-journal"}, {load, "load.txt"}};
  size_t job = 0;
  std::vector<std::string> shown;
  scripted::Script script;
  script.waitLimit = std::chrono::milliseconds(20000);
  script.onStart = [&](HWND dialog) { PostMessageW(dialog, WM_COMMAND, jobs[0].first, 0); };
  script.afterMessage = [&](HWND dialog, const MSG& message) {
    if (job >= jobs.size()) return;  // the exit is on its way
    const bool over = (message.message == WM_COMMAND && LOWORD(message.wParam) == jobs[job].first &&
                       !shell_testing::JobRunning(dialog)) ||
                      (message.message == WM_JOBNOTIFY && message.wParam == NotifyEnded);
    if (!over) return;
    Handheld("count", "contacts");
    Handheld("add", "contacts", "{\"FirstName\": \"Outside " + std::to_string(++job) + "\"}\n");
    PostMessageW(dialog, WM_COMMAND, job < jobs.size() ? jobs[job].first : IDM_EXIT, 0);
  };
  script.onFileDialog = [&](const scripted::FileDialogCall&) -> std::optional<std::u16string> {
    return U16(sandbox().path(jobs[job].second));
  };
  script.onOverwrite = [](const std::u16string&) { return true; };
  script.onMessageBox = [&](const scripted::MessageBoxCall& call) {
    shown.push_back(handheld::testing::U8(call.text));
    return (call.type & MB_YESNO) != 0 ? IDNO : IDOK;  // keep the contacts there
  };
  EXPECT_EQ(shell_testing::RunShell(std::move(script)), 0);
  ASSERT_EQ(job, jobs.size());

  std::vector<std::string> expected(jobs.size() - 2, "Ошибка при открытии файла!");
  expected.insert(expected.begin(), "Экспорт Звонков завершен. Сохранено записей: 1");
  expected.push_back("Удалить существующие Контакты?");
  expected.push_back("Импорт Контактов завершен. Загружено записей: 1");
  EXPECT_EQ(shown, expected);
  const std::string contacts = Dump("contacts");
  for (size_t i = 1; i <= jobs.size(); ++i) {
    EXPECT_NE(contacts.find("\"Outside " + std::to_string(i) + "\""), std::string::npos)
        << i << " is gone:\n"
        << contacts;
  }
  for (const char* name : {"\"Before\"", "\"Loaded\""}) {
    EXPECT_NE(contacts.find(name), std::string::npos) << contacts;
  }
  EXPECT_EQ(Count("contacts"), std::to_string(jobs.size() + 2) + "\n");
  EXPECT_FALSE(std::filesystem::exists(sandbox().storePath() + "-journal"));
}

// Every purge first keeps what it removes in a file of its own, and `handheld import`
// brings those items back whole: Yes to the window's removal question (which
// quillmote-batch --replace answers), `handheld import --replace` and `handheld clear`,
// for every kind. Where that file cannot be written, nothing is removed.
TEST_F(NothingLostTest, EveryPurgeKeepsWhatItRemovesForImportToBringBack) {
  const struct {
    std::string kind, items;
  } kinds[] = {
      {"contacts",
       R"({"FirstName": "Анна", "LastName": "Ершова", "MobileTelephoneNumber": "+7 900",
           "Email2Address": "a@example.org", "Body": "line 1\r\nline 2",
           "Birthday": "1975-02-28T00:00:00", "Categories": "Семья, Работа"})"
       "\n"
       R"({"CompanyName": "ООО Ромашка", "HomeAddressStreet": "Ленина, 1\r\nкв. 2"})"
       "\n"},
      {"calendar",
       R"({"Subject": "Планёрка", "Location": "303", "Start": "2026-03-02T09:30:00",
           "End": "2026-03-02T10:15:00", "ReminderSet": true, "ReminderMinutesBeforeStart": 10,
           "BusyStatus": 2, "Sensitivity": 2, "Body": "повестка",
           "Recipients": [{"Name": "Вера", "Address": "vera@example.org"}],
           "Recurrence": {"RecurrenceType": 1, "Interval": 1, "DayOfWeekMask": 2,
                          "PatternStartDate": "2026-03-02T00:00:00", "NoEndDate": false,
                          "Occurrences": 10}})"
       "\n"
       R"({"Subject": "Отпуск", "Start": "2026-07-01T00:00:00", "End": "2026-07-15T00:00:00",
           "AllDayEvent": true, "ReminderSet": false})"
       "\n"},
      {"tasks",
       R"({"Subject": "Отчёт", "Importance": 2, "StartDate": "2026-03-01T00:00:00",
           "DueDate": "2026-03-05T00:00:00", "ReminderSet": true,
           "ReminderTime": "2026-03-04T09:00:00", "Categories": "Работа", "Body": "квартал"})"
       "\n"
       R"({"Subject": "Хлеб", "Complete": true, "ReminderSet": false})"
       "\n"},
  };
  const std::string removed = sandbox().removedPath();
  int stores = 0;
  for (const auto& [kind, items] : kinds) {
    SCOPED_TRACE(kind);
    std::string lines = items;  // JSON Lines: each item's object on one line
    for (size_t at = 0; (at = lines.find("\n ", at)) != std::string::npos;) lines[at] = ' ';
    Handheld("add", kind, lines);
    const std::string backup = sandbox().path(kind + ".txt");
    ASSERT_EQ(Batch({"save-" + kind, backup}).status, 0);
    std::string last;  // the file the last purge made
    for (std::vector<std::string> purge : {
             std::vector<std::string>{"quillmote-batch", "--replace", "load-" + kind, backup},
             std::vector<std::string>{"handheld", "import", "--replace", kind},
             std::vector<std::string>{"handheld", "clear", kind}}) {
      SCOPED_TRACE(purge[0] + " " + purge[1]);
      if (purge[1] == "import") purge.push_back(last);  // the items come back, and go again
      const std::string before = Dump(kind);
      const std::vector<std::string> files =
          std::filesystem::exists(removed) ? FilesIn(removed) : std::vector<std::string>{};
      Result run = Run(purge[0], {purge.begin() + 1, purge.end()});
      EXPECT_EQ(run.status, 0) << run.err;
      std::vector<std::string> added;
      for (const std::string& name : FilesIn(removed)) {
        if (std::find(files.begin(), files.end(), name) == files.end()) added.push_back(name);
      }
      ASSERT_EQ(added.size(), 1u) << "one file per purge";
      last = removed + "/" + added[0];
      EXPECT_EQ(ModeOf(last), 0600u);
      EXPECT_EQ(ModeOf(removed), 0700u);
      // Brought back into a store of its own, they are what the store held.
      const std::vector<std::string> other = {
          "HANDHELD_STORE=" + sandbox().path("other" + std::to_string(++stores) + ".db")};
      Result back = Run("handheld", {"import", kind, last}, "", other);
      EXPECT_EQ(back.status, 0) << back.err;
      EXPECT_EQ(back.err.find("not kept"), std::string::npos) << back.err;
      EXPECT_EQ(Run("handheld", {"dump", kind}, "", other).out, before);
    }
  }

  // A file where the folder should be: `handheld import --replace` stops, saying why, and
  // neither removes nor imports anything (quillmote-batch: the fault matrix).
  Handheld("add", "contacts", R"({"FirstName": "Stays"})" "\n");
  std::filesystem::remove_all(sandbox().path("state"));
  WriteFileBytes(sandbox().path("state"), "not a folder");
  WriteFileBytes(sandbox().path("new.vcf"), "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;New;;;\r\nEND:VCARD\r\n");
  const std::string before = Dump("contacts");
  Result refused = Run("handheld", {"import", "--replace", "contacts", sandbox().path("new.vcf")});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find(sandbox().path("state")), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("none was removed"), std::string::npos) << refused.err;
  EXPECT_EQ(Dump("contacts"), before);
}

// Holds the store's write lock from a connection of this process for `hold`.
void HoldWriteLock(const std::string& store, std::chrono::milliseconds hold) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  sqlite3_busy_timeout(db, 5000);
  EXPECT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  std::this_thread::sleep_for(hold);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

// Another program saving holds the write lock for a moment: the logon and every save of
// a load wait for it instead of failing (which used to lose records while reporting
// them all loaded).
TEST_F(NothingLostTest, AStoreBusyForAMomentIsWaitedFor) {
  Handheld("count", "contacts");  // the store exists
  const std::string store = sandbox().path("handheld.db");
  std::u16string text;
  for (int i = 1; i <= 400; ++i) {
    text += u"\tContact " + U16(std::to_string(i)) + u"\t" + std::u16string(47, u'\t') +
            std::u16string(2000, u'n') + u"\t\r\n";
  }
  WriteFileBytes(sandbox().path("load.txt"), Utf16LeBytes(text, true));

  // Busy at the logon.
  std::thread atLogon(HoldWriteLock, store, std::chrono::milliseconds(1500));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const Result first = Batch({"load-contacts", sandbox().path("load.txt")});
  atLogon.join();
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, "Импорт Контактов завершен. Загружено записей: 400\n");

  // Busy in the middle of the load, once a tenth of the file is read (by the progress bar
  // that a terminal gets).
  tool_testing::Terminal terminal;
  tool_testing::Launch launch;
  launch.argv = {"--replace", "load-contacts", sandbox().path("load.txt")};
  launch.out = sandbox().path("out2");
  launch.errFd = terminal.FarEnd();
  const pid_t pid = tool_testing::Start("quillmote-batch", launch);
  terminal.CloseFarEnd();
  EXPECT_TRUE(terminal.WaitUntil([](const std::string& shown) {
    const size_t loading = shown.find("Загрузка Контактов...");
    return loading != std::string::npos && tool_testing::BarPercent(shown, loading) >= 10;
  })) << terminal.Shown();
  // A window started while the command runs opens as usual instead of finding it.
  EXPECT_EQ(FindWindowW(nullptr, u"Quillmote"), nullptr);
  HoldWriteLock(store, std::chrono::milliseconds(1500));
  EXPECT_EQ(tool_testing::Wait(pid), 0) << terminal.Shown();
  EXPECT_EQ(ReadFileBytes(launch.out),
            "Удалить существующие Контакты?\n"
            "Импорт Контактов завершен. Загружено записей: 400\n");
  EXPECT_EQ(Count("contacts"), "400\n");
}

// Fields over their column's limit are still dropped (old files rely on the limits),
// but never without a word: one line per field on standard error, and one message after
// the completion.
TEST_F(NothingLostTest, FieldsTooLongToLoadAreTold) {
  const std::u16string file = u"\tFirst\t" + std::u16string(47, u'\t') +
                              std::u16string(70000, u'n') + u"\t\r\n" + std::u16string(1025, u't') +
                              u"\tSecond\t\r\n" + u"\tThird\t\r\n";
  WriteFileBytes(sandbox().path("load.txt"), Utf16LeBytes(file, true));
  Result loaded = Batch({"load-contacts", sandbox().path("load.txt")});
  EXPECT_EQ(loaded.status, 0) << loaded.err;
  EXPECT_EQ(loaded.out,
            "Импорт Контактов завершен. Загружено записей: 3\n"
            "Не загружено слишком длинных полей: 2\n");
  EXPECT_NE(loaded.err.find("quillmote-batch: record 1, column 50: the field is longer than "
                            "the column takes and was not loaded\n"),
            std::string::npos)
      << loaded.err;
  EXPECT_NE(loaded.err.find("quillmote-batch: record 2, column 1:"), std::string::npos)
      << loaded.err;
  EXPECT_EQ(Count("contacts"), "3\n");
}

// A save goes to FILE.partial beside the real file, which takes the name only when the
// job ends well; an early end says where the records are. Through a symbolic link, the
// link stays and its target is replaced, in the target's own folder.
TEST_F(NothingLostTest, YesterdaysBackupOutlivesAFailedSaveAlsoThroughALink) {
  Handheld("add", "contacts", "{\"FirstName\": \"Today\"}\n{\"FirstName\": \"Also today\"}\n");
  std::filesystem::create_directory(sandbox().path("real"));
  const std::string target = sandbox().path("real/contacts.txt");
  const std::string link = sandbox().path("contacts.txt");
  std::filesystem::create_symlink("real/contacts.txt", link);
  const std::string yesterday = Utf16LeBytes(u"\tYesterday\t\r\n", true);
  WriteFileBytes(target, yesterday);
  chmod(target.c_str(), 0640);
  const auto here = FilesIn(sandbox().dir());
  const auto there = FilesIn(sandbox().path("real"));

  for (const char* fault : {"write:60", "replace:1"}) {
    SCOPED_TRACE(fault);
    Result failed =
        Batch({"--overwrite", "save-contacts", link}, {std::string("HANDHELD_FAULTS=") + fault});
    EXPECT_EQ(failed.status, 1) << failed.err;
    EXPECT_NE(failed.out.find("Сохранённые записи оставлены в файле " + target + ".partial\n"),
              std::string::npos)
        << failed.out;
    EXPECT_EQ(ReadFileBytes(target), yesterday);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ModeOf(target), 0640);
    EXPECT_TRUE(std::filesystem::exists(target + ".partial"));
    EXPECT_EQ(FilesIn(sandbox().dir()), here);
  }

  Result saved = Batch({"--overwrite", "save-contacts", link});
  EXPECT_EQ(saved.status, 0) << saved.err;
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(shell_testing::RecordCount(ReadFileBytes(target)), 2);
  EXPECT_EQ(ModeOf(target), 0640);  // an overwritten backup keeps its permissions
  EXPECT_EQ(FilesIn(sandbox().path("real")), there);  // the partial file took the name

  // A link to a file not made yet: the file is made where the link points.
  const std::string dangling = sandbox().path("new.txt");
  std::filesystem::create_symlink("real/new.txt", dangling);
  saved = Batch({"--overwrite", "save-contacts", dangling});
  EXPECT_EQ(saved.status, 0) << saved.err;
  EXPECT_TRUE(std::filesystem::is_symlink(dangling));
  EXPECT_EQ(shell_testing::RecordCount(ReadFileBytes(sandbox().path("real/new.txt"))), 2);
  EXPECT_EQ(ModeOf(sandbox().path("real/new.txt")), 0600);
}

// A save writes what the file's layout holds, byte for byte as before, but tells what
// will not load back as it was: one line per record and column, and a count after the
// completion message.
TEST_F(NothingLostTest, WhatTheBackupFileCannotCarryIsToldAtTheSave) {
  const std::string longText(4097, 'x');
  struct Row {
    std::string kind, item;
    int column;          // 1-based, as told
    const char* told;    // the line's text
    std::string written;  // what that column holds in the file
  };
  const Row rows[] = {
      {"contacts", R"({"FirstName": "Old", "Birthday": "1850-05-01T00:00:00"})", 9,
       "the date is outside the years 1900 to 2999 the file holds and was saved empty", ""},
      {"contacts", R"({"Anniversary": "1990-05-01T09:30:00"})", 20,
       "the time of day was not saved, only the day", "1"},
      {"calendar", R"({"Subject": "s", "Start": "1850-05-01T09:30:00"})", 3,
       "the date is outside the years 1900 to 2999 the file holds and was saved empty", ""},
      {"calendar",
       R"({"Subject": "s", "Recipients": [{"Name": "Ann", "Address": "ann@x.org"}]})", 29,
       "a recipient's name was not saved, only the address", "ann@x.org"},
      {"calendar", R"({"Subject": "s", "Sensitivity": 3})", 31,
       "the sensitivity was saved but will not load back (only 0 and 2 do)", "3"},
      {"tasks", R"({"Subject": "s", "Sensitivity": 1})", 27,
       "the sensitivity was saved but will not load back (only 0 and 2 do)", "1"},
      {"tasks", R"({"Subject": ")" + longText + R"("})", 1,
       "the text is longer than the column takes and will not load back", longText},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.item.substr(0, 80));
    Handheld("clear", row.kind);
    Handheld("add", row.kind, row.item + "\n");
    Result saved = Batch({"--overwrite", "save-" + row.kind, sandbox().path("saved.txt")});
    EXPECT_EQ(saved.status, 0) << saved.err;
    EXPECT_NE(saved.out.find("записей: 1\nНе сохранено в файл значений: 1\n"), std::string::npos)
        << saved.out;
    EXPECT_NE(saved.err.find("quillmote-batch: record 1, column " + std::to_string(row.column) +
                             ": " + row.told + "\n"),
              std::string::npos)
        << saved.err;
    const auto records = worker_testing::Records(ReadFileBytes(sandbox().path("saved.txt")));
    ASSERT_EQ(records.size(), 1u);
    ASSERT_GT(records[0].size(), static_cast<size_t>(row.column));
    EXPECT_EQ(handheld::testing::U8(records[0][static_cast<size_t>(row.column - 1)]), row.written);
  }
}

// The address book, calendar and call log are nobody's business but their owner's: a
// new store's folders and files are the owner's alone; folders that exist keep their
// permissions. (Backups: YesterdaysBackupOutlivesAFailedSaveAlsoThroughALink.)
TEST_F(NothingLostTest, NewStoresAreTheOwnersAlone) {
  chmod(sandbox().dir().c_str(), 0755);
  const std::string store = sandbox().path("data/quillmote/handheld.db");
  const std::string env = "HANDHELD_STORE=" + store;
  Result added = Run("handheld", {"add", "contacts"}, "{\"FirstName\": \"Ann\"}\n", {env});
  ASSERT_EQ(added.status, 0) << added.err;
  EXPECT_EQ(ModeOf(sandbox().dir()), 0755);
  EXPECT_EQ(ModeOf(sandbox().path("data")), 0700);
  EXPECT_EQ(ModeOf(sandbox().path("data/quillmote")), 0700);
  EXPECT_EQ(ModeOf(store), 0600);
}

// With a store that cannot be used, quillmote-batch says only that Quillmote cannot
// work; the reason, naming the file, goes to standard error (the `handheld` tool's too).
// The file is left as it was.
TEST_F(NothingLostTest, AStoreThatCannotBeUsedIsExplained) {
  const std::string notes = sandbox().path("notes.txt");
  WriteFileBytes(notes, "my notes, not a database\n");
  const struct {
    std::string program;
    std::vector<std::string> args;
    std::string input, out;
  } runs[] = {
      {"quillmote-batch", {"save-contacts", sandbox().path("out.txt")}, "",
       "Quillmote не может работать на этом устройстве...\n"},
      {"handheld", {"count", "contacts"}, "", ""},
      {"handheld", {"add", "calls"}, "{}\n", ""},
  };
  for (const auto& run : runs) {
    Result r = Run(run.program, run.args, run.input, {"HANDHELD_STORE=" + notes});
    EXPECT_EQ(r.status, 1) << run.program;
    EXPECT_EQ(r.out, run.out);
    EXPECT_NE(r.err.find(notes), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("is not a database"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFileBytes(notes), "my notes, not a database\n");
  }
}

}  // namespace
