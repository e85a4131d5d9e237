// The store file: where it lives, the files Logon refuses (untouched), the call log's
// table, the store in memory, and what a killed writer leaves behind.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "handheld/callstore.h"
#include "handheld/files.h"
#include "handheld/pimstore.h"
#include "handheld/store/store_test_support.h"
#include "handheld/testing/sandbox.h"

namespace handheld::store::testing {
namespace {

using handheld::testing::ReadFileBytes;
using handheld::testing::SandboxTest;
using handheld::testing::U16;
using handheld::testing::WriteFileBytes;

class StoreFileTest : public SandboxTest {
 protected:
  // Logs on once and gives LastStoreError() ("" on success).
  static std::string LogonError() {
    Session session;
    std::string error = LastStoreError();
    EXPECT_EQ(SUCCEEDED(session.logon()), error.empty()) << error;
    return error;
  }
};

TEST_F(StoreFileTest, StorePathFollowsTheEnvironmentAtEachLogon) {
  EXPECT_EQ(StorePath(), sandbox().storePath());
  unsetenv("HANDHELD_STORE");
  setenv("XDG_DATA_HOME", sandbox().path("data").c_str(), 1);
  EXPECT_EQ(StorePath(), sandbox().path("data") + "/quillmote/handheld.db");
  EXPECT_EQ(LogonError(), "");
  EXPECT_TRUE(std::filesystem::is_regular_file(sandbox().path("data/quillmote/handheld.db")));
  setenv("XDG_DATA_HOME", "", 1);
  setenv("HOME", sandbox().path("home").c_str(), 1);
  EXPECT_EQ(StorePath(), sandbox().path("home") + "/.local/share/quillmote/handheld.db");
  EXPECT_EQ(LogonError(), "");
  EXPECT_TRUE(std::filesystem::exists(sandbox().path("home/.local/share/quillmote/handheld.db")));
  unsetenv("HOME");
  EXPECT_NE(LogonError(), "");
}

// Each: what is in the store's place, and what the refusal says. The file stays as it was.
TEST_F(StoreFileTest, LogonRefusesWhatItCannotUseAndLeavesItUntouched) {
  const std::string store = sandbox().storePath();
  sqlite3* other = nullptr;
  auto held = [&](const char* sql) {
    return [&other, &store, sql] {
      ASSERT_EQ(sqlite3_open(store.c_str(), &other), SQLITE_OK);
      ASSERT_EQ(sqlite3_exec(other, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    };
  };
  const struct {
    std::function<void()> make;
    const char* reason;
  } cases[] = {
      {[&] { WriteFileBytes(store, "Name\tPhone\r\nAnn\t123\r\n" + std::string(5000, 'x')); },
       "not a database"},
      {[&] { WriteFileBytes(store, "tiny"); }, "not a database"},
      {[&] {
         held("CREATE TABLE notes(x); INSERT INTO notes VALUES(1);")();
         sqlite3_close(std::exchange(other, nullptr));
       },
       "another program"},
      {[&] { std::filesystem::create_directory(store); }, "not a regular file"},
      {held("BEGIN IMMEDIATE"), "locked"},
      // A program that keeps the file to itself.
      {held("PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;"), "locked"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(store);
    if (std::string(c.reason) == "locked") {
      ASSERT_EQ(LogonError(), "");
    }
    c.make();
    const std::string before = std::filesystem::is_regular_file(store) ? ReadFileBytes(store) : "";
    const std::string error = LogonError();
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_NE(error.find(store), std::string::npos) << error;
    if (!before.empty()) {
      EXPECT_EQ(ReadFileBytes(store), before) << c.reason;
    }
    sqlite3_close(std::exchange(other, nullptr));
  }
  EXPECT_EQ(LogonError(), "");
  // A folder that cannot be made under a file.
  WriteFileBytes(sandbox().path("plain"), "x");
  setenv("HANDHELD_STORE", sandbox().path("plain/sub/handheld.db").c_str(), 1);
  EXPECT_NE(LogonError().find("cannot create the folder"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(sandbox().path("plain")), "x");
  // The desktop's store is not taken for a file name in the working folder; without a
  // session bus it fails at once, saying why.
  setenv("HANDHELD_STORE", "eds:", 1);
  setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + sandbox().path("no-bus")).c_str(), 1);
  EXPECT_NE(LogonError().find("cannot reach Evolution Data Server (HANDHELD_STORE=eds:)"),
            std::string::npos)
      << LogonError();
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  EXPECT_FALSE(std::filesystem::exists("eds:"));
}

// Each field's reading and the order of ties are the call-log library's test, clearing
// and a file that is not a store the `handheld` tool's; here what they cannot show.
TEST_F(StoreFileTest, CallLogKeepsZerosEmptyTextsAndUnsignedTimesNewestFirst) {
  std::string error;
  ASSERT_TRUE(ClearCallEntries(&error)) << error;
  // A zero inside a number; a name set but empty stays set; d starts beyond the signed range.
  const CallEntryData a{
      std::u16string(u"+7\0001", 4), u"", {}, {}, 100, 200, 2, true, false, false, true, 3};
  const CallEntryData b{{}, {}, {}, u"\u0416\r\n", 300, 0, 0, false, true, true, false, 0};
  CallEntryData d;
  d.startTime = 0xFFFF'FFFF'FFFF'FFF0ull;
  for (const CallEntryData& entry : {a, b, d}) ASSERT_TRUE(AddCallEntry(entry, &error)) << error;
  auto got = LoadCallEntries(&error);
  ASSERT_TRUE(got && got->size() == 3u) << error;
  EXPECT_EQ((*got)[0].startTime, d.startTime);
  EXPECT_EQ((*got)[1].note, b.note);
  EXPECT_FALSE((*got)[1].number);
  EXPECT_EQ((*got)[2].number, a.number);
  EXPECT_EQ((*got)[2].name, std::optional<std::u16string>(u""));
}

TEST_F(StoreFileTest, AStoreInMemoryIsSharedByTheProcessAndLeavesNoFile) {
  setenv("HANDHELD_STORE", ":memory:", 1);
  std::string error;
  {
    Session first;
    ASSERT_EQ(first.logon(), S_OK) << LastStoreError();
    Ref<IContact> contact = first.Create<IContact>(olContactItem);
    contact->put_FirstName(Bstr(u"Ann"));
    ASSERT_EQ(contact->Save(), S_OK);
    // A second logon at the same time and the call log see the same store.
    Session second;
    ASSERT_EQ(second.logon(), S_OK);
    EXPECT_EQ(Session::Count(second.Items(olFolderContacts).get()), 1);
    ASSERT_TRUE(AddCallEntry(CallEntryData{}, &error)) << error;
  }
  // Kept from one logon to the next while the process lives; emptied again here, as
  // the next test of this process finds it.
  for (int logon = 0; logon < 2; ++logon) {
    Session again;
    ASSERT_EQ(again.logon(), S_OK);
    Ref<IPOutlookItemCollection> items = again.Items(olFolderContacts);
    EXPECT_EQ(Session::Count(items.get()), 1 - logon);
    if (logon == 0) {
      EXPECT_EQ(items->Remove(1), S_OK);
    }
  }
  auto calls = LoadCallEntries(&error);
  ASSERT_TRUE(calls) << error;
  EXPECT_EQ(calls->size(), 1u);
  ASSERT_TRUE(ClearCallEntries(&error)) << error;
  EXPECT_FALSE(std::filesystem::exists(":memory:"));
  EXPECT_FALSE(std::filesystem::exists(sandbox().path(":memory:")));
}

// A writer killed in the middle of saving: every Save that returned is kept, and no
// item is half there.
TEST_F(StoreFileTest, AKilledWriterLosesNoSavedItem) {
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipeEnds[0]);
    Session session;
    if (FAILED(session.logon())) _exit(1);
    const Bstr body(std::u16string(3000, u'b'));  // several pages per item
    for (const char saved = 1;;) {
      Ref<IContact> contact = session.Create<IContact>(olContactItem);
      contact->put_Body(body);
      contact->put_FirstName(body);
      if (SUCCEEDED(contact->Save()) && write(pipeEnds[1], &saved, 1) != 1) _exit(1);
    }
  }
  close(pipeEnds[1]);
  int confirmed = 0;
  char byte;
  while (confirmed < 300 && read(pipeEnds[0], &byte, 1) == 1) ++confirmed;
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  close(pipeEnds[0]);
  ASSERT_EQ(confirmed, 300);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(sandbox().storePath().c_str(), &db), SQLITE_OK);
  sqlite3_stmt* check = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
  ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
  sqlite3_finalize(check);
  sqlite3_close(db);

  Session session;
  ASSERT_EQ(session.logon(), S_OK);
  Ref<IPOutlookItemCollection> items = session.Items(olFolderContacts);
  INT count = Session::Count(items.get());
  EXPECT_GE(count, confirmed);
  for (INT i = 1; i <= count; ++i) {
    Ref<IContact> contact = Session::Fetch<IContact>(items.get(), i);
    ASSERT_TRUE(contact);
    EXPECT_EQ(Get(contact, &IContact::get_Body).size(), 3000u);
  }
}

// While the store is open, the file layer refuses the database and its companions under
// every name (closing a descriptor of it would drop the connection's locks), and
// nothing is opened to find out; once it is closed they are files again.
TEST_F(StoreFileTest, TheOpenStoresFilesAreRefusedUnderEveryName) {
  const std::string store = sandbox().storePath();
  std::filesystem::create_directory(sandbox().path("sub"));
  WriteFileBytes(sandbox().path("other"), "other");
  auto session = std::make_unique<Session>();
  ASSERT_EQ(session->logon(), S_OK);
  ASSERT_TRUE(std::filesystem::exists(store + "-wal"));
  std::filesystem::create_symlink(store, sandbox().path("link"));
  std::filesystem::create_symlink(store + "-journal", sandbox().path("dangling"));
  std::filesystem::create_hard_link(store + "-wal", sandbox().path("hard"));
  for (const std::string name : {"handheld.db", "link", "sub/../handheld.db", "handheld.db-wal",
                                 "handheld.db-shm", "handheld.db-journal", "dangling", "hard"}) {
    SCOPED_TRACE(name);
    const std::u16string path = U16(sandbox().path(name));
    auto refused = [](bool failed) {
      EXPECT_TRUE(failed);
      EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    };
    for (DWORD disposition : {OPEN_EXISTING, CREATE_ALWAYS, CREATE_NEW}) {
      refused(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition, 0,
                          nullptr) == INVALID_HANDLE_VALUE);
    }
    WCHAR replacement[1024];
    refused(GetReplacementPathW(path.c_str(), replacement, 1024) == 0);
    refused(!ReplaceFileW(path.c_str(), U16(sandbox().path("other")).c_str(), nullptr, 0, nullptr,
                          nullptr));
    if (name.find("handheld.db") == 0 && name != "handheld.db-journal") {
      refused(!DeleteFileW(path.c_str()));
    }
  }
  EXPECT_EQ(ReadFileBytes(sandbox().path("other")), "other");
  EXPECT_EQ(LogonError(), "");  // a second connection: the store is whole

  session.reset();
  HANDLE file =
      CreateFileW(U16(store).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
}

}  // namespace
}  // namespace handheld::store::testing
