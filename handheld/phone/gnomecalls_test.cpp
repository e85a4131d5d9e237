// gnomecalls.so, the call log read from GNOME Calls' history, loaded as the system does.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "handheld/modules.h"
#include "handheld/phone.h"
#include "handheld/store/store_test_support.h"
#include "handheld/testing/sandbox.h"

namespace {

using handheld::store::testing::Bstr;
using handheld::store::testing::Session;

// The history as GNOME Calls makes it (the schema dumped from a records.db it made).
constexpr char kHistory[] =
    "CREATE TABLE _gom_version (version INTEGER); INSERT INTO _gom_version VALUES (1), (2);"
    "CREATE TABLE IF NOT EXISTS 'calls' ('id' INTEGER PRIMARY KEY AUTOINCREMENT,'target' "
    "TEXT,'inbound' INTEGER,'start' BLOB,'answered' BLOB,'end' BLOB, 'protocol' TEXT);"
    "INSERT INTO calls (target, inbound, start, answered, \"end\") VALUES ";
constexpr uint64_t kUnknown = ~uint64_t{0}, kSecond = 10'000'000;
constexpr uint64_t k2026 = 134'116'992'000'000'000;  // 2026-01-01T00:00:00Z as FILETIME ticks

// number, name, name type, start, end, iom, fOutgoing, fConnected, fEnded
using Call = std::tuple<std::string, std::string, std::string, uint64_t, uint64_t, int, int, int,
                        int>;

class GnomeCallsTest : public handheld::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    setenv("XDG_DATA_HOME", sandbox().path("data").c_str(), 1);
    std::filesystem::create_directories(sandbox().path("data/calls"));
  }
  // A connection to the history that has run `sql`.
  sqlite3* Db(const std::string& sql) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(sandbox().path("data/calls/records.db").c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    return db;
  }
  // The log's entries, none when it does not open; `meanwhile` runs while it is open.
  static std::optional<std::vector<Call>> Read(std::function<void()> meanwhile = {}) {
    HMODULE library = LoadLibraryW(u"gnomecalls.dll");
    auto find = [library](const char* name) { return GetProcAddress(library, name); };
    auto open = reinterpret_cast<PhoneOpenCallLogFn>(find("PhoneOpenCallLog"));
    auto get = reinterpret_cast<PhoneGetCallLogEntryFn>(find("PhoneGetCallLogEntry"));
    auto close = reinterpret_cast<PhoneCloseCallLogFn>(find("PhoneCloseCallLog"));
    HANDLE log = nullptr;
    const bool ok = open(&log) == S_OK;
    std::vector<Call> calls;
    CALLLOGENTRY e{};
    e.cbSize = kCallLogEntrySize;
    while (ok && get(log, &e) == S_OK) {
      auto text = [](PTSTR s) { return s ? handheld::testing::U8(s) : "<null>"; };
      auto ticks = [](FILETIME t) { return uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime; };
      calls.push_back({text(e.pszNumber), text(e.pszName), text(e.pszNameType),
                       ticks(e.ftStartTime), ticks(e.ftEndTime), e.iom, +e.fOutgoing,
                       +e.fConnected, +e.fEnded});
      for (PTSTR s : {e.pszNumber, e.pszName, e.pszNameType, e.pszNote}) LocalFree(s);
    }
    if (meanwhile) meanwhile();
    if (ok) close(log);
    FreeLibrary(library);
    return ok ? std::optional(calls) : std::nullopt;
  }
  // Saves a contact through the store's own objects.
  using Phones = std::vector<std::pair<HRESULT (IContact::*)(BSTR), const char16_t*>>;
  static void AddContact(std::u16string_view first, std::u16string_view company, Phones phones) {
    Session session;
    auto contact = session.Create<IContact>(olContactItem);
    contact->put_FirstName(Bstr(first));
    contact->put_CompanyName(Bstr(company));
    for (auto [put, number] : phones) (contact.get()->*put)(Bstr(number));
    EXPECT_EQ(contact->Save(), S_OK);
  }
};

// Outgoing / incoming / missed, a call in progress, times that cannot be read, order and
// ties, and names found by number in the store's address book (the first contact, the
// first of its telephones in the search order; punctuation and tel:/SIP forms aside).
TEST_F(GnomeCallsTest, CallsMapNewestFirstWithNamesFromTheAddressBook) {
  AddContact(u"Ада", u"", {{&IContact::put_BusinessTelephoneNumber, u"+1 (555) 0100"},
                           {&IContact::put_MobileTelephoneNumber, u"1 555 0100"}});
  AddContact(u"Bob", u"", {{&IContact::put_HomeTelephoneNumber, u"15550100"}});
  AddContact(u"", u"Acme", {{&IContact::put_CarTelephoneNumber, u"300"}});
  sqlite3_close(Db(std::string(kHistory) +
      "('+15550100', 0, '2026-01-01T00:00:10Z', '2026-01-01T00:00:12Z', '2026-01-01T00:01:10.5Z'),"
      "('sip:+1-555-0100@example.org', 0, '2026-01-01T00:00:20.12345678Z', NULL,"
      " '2026-01-01T00:00:21Z'),"
      "('tel:300', 1, '2026-01-01T03:00:30+03:00', '2026-01-01T00:00:31Z', '2026-01-01T00:00:40Z'),"
      "('sip:alice@example.org', 1, '2026-01-01T00:00:30Z', NULL, '2026-01-01T00:00:35Z'),"
      "('', 1, '2026-01-01T00:00:40Z', NULL, NULL),"
      "('15550100', 1, 'yesterday', NULL, '2026-01-01T00:00:45Z'),"
      "('999', 0, '2026-01-01T00:00:50Z', '2026-01-01T00:00:51Z', 'later'),"
      "(NULL, 1, '2026-02-30T00:00:00Z', NULL, NULL)"));
  const auto at = [](uint64_t seconds) { return k2026 + seconds * kSecond; };
  EXPECT_EQ(Read(), (std::vector<Call>{
      {"999", "<null>", "<null>", at(50), at(50), IOM_OUTGOING, -1, -1, -1},
      {"", "<null>", "<null>", at(40), at(40), IOM_MISSED, 0, 0, 0},
      {"tel:300", "Acme", "c", at(30), at(40), IOM_INCOMING, 0, -1, -1},
      {"sip:alice@example.org", "<null>", "<null>", at(30), at(35), IOM_MISSED, 0, 0, -1},
      {"sip:+1-555-0100@example.org", "Ада", "m", at(20) + 1234567, at(21), IOM_OUTGOING, -1, 0,
       -1},
      {"+15550100", "Ада", "m", at(10), at(70) + kSecond / 2, IOM_OUTGOING, -1, -1, -1},
      {"15550100", "Ада", "m", kUnknown, kUnknown, IOM_MISSED, 0, 0, -1},
      {"<null>", "<null>", "<null>", kUnknown, kUnknown, IOM_MISSED, 0, 0, 0}}));
}

// Real calls through GNOME Calls' dummy provider, on a private display and session bus:
// an outgoing call answered, an incoming one answered, an incoming one never answered.
TEST_F(GnomeCallsTest, ReadsTheCallsGnomeCallsMade) {
  if (std::system("command -v gnome-calls xvfb-run dbus-run-session gdbus >/dev/null") != 0)
    GTEST_SKIP() << "GNOME Calls, xvfb-run or D-Bus is not installed";
  AddContact(u"Вера", u"", {{&IContact::put_MobileTelephoneNumber, u"098 765 4321"}});
  for (const char* name : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
    setenv(name, sandbox().path(name).c_str(), 1);
  handheld::testing::WriteFileBytes(sandbox().path("calls.sh"), R"(
    gnome-calls -p dummy & gc=$!
    call() { gdbus call --session -d org.gnome.Calls -o /org/gnome/Calls/Call/$1 -m "$2" $3; }
    until_state() {  # the call, its state: 1 active, 5 incoming
      for i in $(seq 300); do call $1 org.freedesktop.DBus.Properties.Get \
        "org.gnome.Calls.Call State" | grep -q "uint32 $2>" && return; sleep 0.1; done; exit 1; }
    gdbus wait --session --timeout 30 org.gnome.Calls || exit 1
    gnome-calls -l 5550100; until_state 1 1; call 1 org.gnome.Calls.Call.Hangup
    kill -USR1 $gc; until_state 2 5; call 2 org.gnome.Calls.Call.Accept; until_state 2 1
    call 2 org.gnome.Calls.Call.Hangup; kill -USR1 $gc; until_state 3 5
    call 3 org.gnome.Calls.Call.Hangup; sleep 1; kill $gc; wait $gc; exit 0)");
  ASSERT_EQ(std::system(("xvfb-run -a dbus-run-session -- sh " + sandbox().path("calls.sh") +
                         " >/dev/null 2>&1").c_str()), 0);
  std::vector<Call> calls = Read().value_or(std::vector<Call>{});
  for (auto& [number, name, type, start, end, iom, outgoing, connected, ended] : calls) {
    EXPECT_TRUE(start > k2026 && end > start);  // the times only as far as they can be known
    start = end = 0;
  }
  EXPECT_EQ(calls, (std::vector<Call>{
      {"0987654321", "Вера", "m", 0, 0, IOM_MISSED, 0, 0, -1},
      {"0987654321", "Вера", "m", 0, 0, IOM_INCOMING, 0, -1, -1},
      {"5550100", "<null>", "<null>", 0, 0, IOM_OUTGOING, -1, -1, -1}}));
}

// The dialer keeps writing while the log is read: a write transaction open elsewhere
// neither blocks the read nor is blocked by the open log; only a commit under way in the old journal modes fails the open, after a short wait.
// No history is an empty log; a damaged one, or no place for one, is an error told on
// standard error.
TEST_F(GnomeCallsTest, ReadsBesideTheDialerWithoutLockingIt) {
  struct { const char* mode; const char* begin; bool opens; } cases[] = {
      {"wal", "BEGIN EXCLUSIVE", true}, {"delete", "BEGIN IMMEDIATE", true},
      {"delete", "BEGIN EXCLUSIVE", false}};
  for (const auto& c : cases) {
    std::filesystem::remove(sandbox().path("data/calls/records.db"));
    sqlite3_close(Db("PRAGMA journal_mode=" + std::string(c.mode) + ";" + kHistory +
                     "('1', 0, '2026-01-01T00:00:00Z', NULL, NULL)"));
    sqlite3* writer = Db(std::string(c.begin) + "; INSERT INTO calls (target) VALUES ('2')");
    auto commit = [&] { EXPECT_EQ(sqlite3_exec(writer, "COMMIT", 0, 0, 0), SQLITE_OK) << c.mode; };
    auto calls = Read(commit);
    EXPECT_EQ(calls ? int(calls->size()) : -1, c.opens ? 1 : -1) << c.mode << c.begin;
    sqlite3_close(writer);
  }
  std::filesystem::remove(sandbox().path("data/calls/records.db"));
  EXPECT_EQ(Read(), std::vector<Call>{}) << "no history is no calls";
  handheld::testing::WriteFileBytes(sandbox().path("data/calls/records.db"), "not a database\n");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Read(), std::nullopt) << "a damaged history is an error";
  unsetenv("XDG_DATA_HOME");
  unsetenv("HOME");
  EXPECT_EQ(Read(), std::nullopt) << "nowhere to look is an error";
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Quillmote: the call log cannot be opened: GNOME Calls' history " +
                sandbox().path("data/calls/records.db") +
                " cannot be read: file is not a database\n"
                "Quillmote: the call log cannot be opened: no place for GNOME Calls' history: "
                "neither XDG_DATA_HOME nor HOME is set\n");
}

// "phone.dll" is gnomecalls.so with the desktop's store, phone.so otherwise; either comes
// from HANDHELD_MODULE_DIR when that is set.
TEST_F(GnomeCallsTest, TheDesktopStoreLoadsThisLibraryAsPhoneDll) {
  const std::string bin = handheld::testing::BinDir(), own = sandbox().path("own");
  std::filesystem::create_directories(own);
  std::filesystem::copy_file(bin + "/gnomecalls.so", own + "/gnomecalls.so");
  struct { const char* store; std::string dir; const char16_t* is; } cases[] = {
      {"eds:", bin, u"gnomecalls.dll"}, {"eds:system-address-book", bin, u"gnomecalls.dll"},
      {"store.db", bin, u"phone.so"}, {"eds:", own, u"gnomecalls.dll"}, {"store.db", own, nullptr}};
  for (const auto& c : cases) {
    setenv("HANDHELD_STORE", c.store, 1);
    setenv("HANDHELD_MODULE_DIR", c.dir.c_str(), 1);
    HMODULE phone = LoadLibraryW(u"phone.dll");
    setenv("HANDHELD_STORE", "store.db", 1);  // the file itself, as that folder holds it
    HMODULE expected = c.is ? LoadLibraryW(c.is) : nullptr;
    EXPECT_EQ(phone, expected) << c.store << " " << c.dir;
    for (HMODULE module : {phone, expected}) if (module) FreeLibrary(module);
  }
}

}  // namespace
