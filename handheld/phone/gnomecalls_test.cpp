// gnomecalls.so, the call log read from GNOME Calls' history, as the system loads it.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "handheld/modules.h"
#include "handheld/phone.h"
#include "handheld/pimstore.h"
#include "handheld/testing/sandbox.h"

namespace {

using handheld::testing::U16;
using handheld::testing::U8;

// The history's schema as GNOME Calls makes it (dumped from a real records.db).
constexpr char kSchema[] =
    "CREATE TABLE _gom_version (version INTEGER); INSERT INTO _gom_version VALUES (1), (2);"
    "CREATE TABLE IF NOT EXISTS 'calls' ('id' INTEGER PRIMARY KEY AUTOINCREMENT,'target' "
    "TEXT,'inbound' INTEGER,'start' BLOB,'answered' BLOB,'end' BLOB, 'protocol' TEXT);";
constexpr uint64_t kUnknown = ~uint64_t{0};
constexpr uint64_t k2026 = 134'116'992'000'000'000;  // 2026-01-01T00:00:00Z in FILETIME ticks

struct Call {  // the fields of one entry, as text for the comparisons
  std::string number, name, type;
  uint64_t start, end;
  int iom, outgoing, connected, ended;
  bool operator==(const Call&) const = default;
};
void PrintTo(const Call& c, std::ostream* out) {
  *out << c.number << "|" << c.name << "|" << c.type << "|" << c.start << "|" << c.end << "|"
       << c.iom << c.outgoing << c.connected << c.ended;
}

class GnomeCallsTest : public handheld::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    setenv("XDG_DATA_HOME", sandbox().path("data").c_str(), 1);
    std::filesystem::create_directories(sandbox().path("data/calls"));
  }
  std::string History() { return sandbox().path("data/calls/records.db"); }
  sqlite3* Db(const char* sql) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(History().c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    return db;
  }
  // The entries of the log, or nothing when it cannot be opened (*opened false).
  // `meanwhile` runs while the log is open.
  static std::vector<Call> Read(bool* opened = nullptr, const std::function<void()>& meanwhile = {}) {
    HMODULE library = LoadLibraryW(u"gnomecalls.dll");
    EXPECT_NE(library, nullptr);
    auto open = reinterpret_cast<PhoneOpenCallLogFn>(GetProcAddress(library, "PhoneOpenCallLog"));
    auto get = reinterpret_cast<PhoneGetCallLogEntryFn>(GetProcAddress(library, "PhoneGetCallLogEntry"));
    auto close = reinterpret_cast<PhoneCloseCallLogFn>(GetProcAddress(library, "PhoneCloseCallLog"));
    std::vector<Call> calls;
    HANDLE log = nullptr;
    if (opened) *opened = open(&log) == S_OK;
    else EXPECT_EQ(open(&log), S_OK);
    CALLLOGENTRY e{};
    e.cbSize = kCallLogEntrySize;
    while (log != nullptr && get(log, &e) == S_OK) {
      auto text = [](PTSTR s) { std::string t = s ? U8(s) : "<null>"; LocalFree(s); return t; };
      auto ticks = [](FILETIME t) { return uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime; };
      LocalFree(e.pszNote);
      calls.push_back({text(e.pszNumber), text(e.pszName), text(e.pszNameType), ticks(e.ftStartTime),
                       ticks(e.ftEndTime), e.iom, e.fOutgoing, e.fConnected, e.fEnded});
      e = CALLLOGENTRY{};
      e.cbSize = kCallLogEntrySize;
    }
    if (meanwhile) meanwhile();
    if (log != nullptr) close(log);
    FreeLibrary(library);
    return calls;
  }
  // Saves a contact through the store's own objects: names, then (property, number) pairs.
  static void AddContact(const char16_t* first, const char16_t* company,
                         std::vector<std::pair<HRESULT (IContact::*)(BSTR), const char16_t*>> phones) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    IPOutlookApp* app = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, IID_IPOutlookApp,
                               reinterpret_cast<void**>(&app)), S_OK);
    ASSERT_EQ(app->Logon(0), S_OK);
    IDispatch* item = nullptr;
    ASSERT_EQ(app->CreateItem(olContactItem, &item), S_OK);
    auto* contact = static_cast<IContact*>(item);
    phones.push_back({&IContact::put_FirstName, first});
    phones.push_back({&IContact::put_CompanyName, company});
    for (auto [put, text] : phones) {
      BSTR value = SysAllocString(text);
      (contact->*put)(value);
      SysFreeString(value);
    }
    EXPECT_EQ(contact->Save(), S_OK);
    contact->Release();
    app->Logoff();
    app->Release();
    CoUninitialize();
  }
};

// Outgoing / incoming / missed, a call in progress, times that cannot be read, order and
// ties, and names found by number in the store's address book (the first contact, the
// first of its telephones; punctuation and tel:/SIP forms aside).
TEST_F(GnomeCallsTest, CallsMapNewestFirstWithNamesFromTheAddressBook) {
  AddContact(u"Ада", u"", {{&IContact::put_BusinessTelephoneNumber, u"+1 (555) 0100"},
                           {&IContact::put_MobileTelephoneNumber, u"1 555 0100"}});
  AddContact(u"Bob", u"", {{&IContact::put_HomeTelephoneNumber, u"15550100"}});
  AddContact(u"", u"Acme", {{&IContact::put_CarTelephoneNumber, u"300"}});
  sqlite3_close(Db((std::string(kSchema) + "PRAGMA journal_mode=WAL; INSERT INTO calls "
      "(target, inbound, start, answered, \"end\", protocol) VALUES "
      "('+15550100', 0, '2026-01-01T00:00:10Z', '2026-01-01T00:00:12Z', '2026-01-01T00:01:10.5Z', 'tel'),"
      "('sip:+1-555-0100@example.org', 0, '2026-01-01T00:00:20.12345678Z', NULL, '2026-01-01T00:00:21Z', 'sip'),"
      "('tel:300', 1, '2026-01-01T03:00:30+03:00', '2026-01-01T00:00:31Z', '2026-01-01T00:00:40Z', 'tel'),"
      "('sip:alice@example.org', 1, '2026-01-01T00:00:30Z', NULL, '2026-01-01T00:00:35Z', 'sip'),"
      "('', 1, '2026-01-01T00:00:40Z', NULL, NULL, 'tel'),"
      "('15550100', 1, 'yesterday', NULL, '2026-01-01T00:00:45Z', 'tel'),"
      "('999', 0, '2026-01-01T00:00:50Z', '2026-01-01T00:00:51Z', 'later', 'tel'),"
      "(NULL, 1, '2026-02-30T00:00:00Z', NULL, NULL, 'tel')").c_str()));
  const uint64_t s = 10'000'000;
  EXPECT_EQ(Read(), (std::vector<Call>{
      {"999", "<null>", "<null>", k2026 + 50 * s, k2026 + 50 * s, IOM_OUTGOING, -1, -1, -1},
      {"", "<null>", "<null>", k2026 + 40 * s, k2026 + 40 * s, IOM_MISSED, 0, 0, 0},
      {"tel:300", "Acme", "c", k2026 + 30 * s, k2026 + 40 * s, IOM_INCOMING, 0, -1, -1},
      {"sip:alice@example.org", "<null>", "<null>", k2026 + 30 * s, k2026 + 35 * s, IOM_MISSED, 0, 0, -1},
      {"sip:+1-555-0100@example.org", "Ада", "m", k2026 + 20 * s + 1234567, k2026 + 21 * s,
       IOM_OUTGOING, -1, 0, -1},
      {"+15550100", "Ада", "m", k2026 + 10 * s, k2026 + 70 * s + s / 2, IOM_OUTGOING, -1, -1, -1},
      {"15550100", "Ада", "m", kUnknown, kUnknown, IOM_MISSED, 0, 0, -1},
      {"<null>", "<null>", "<null>", kUnknown, kUnknown, IOM_MISSED, 0, 0, 0}}));
}

// Real calls through GNOME Calls' dummy provider, on a private display and session bus:
// one outgoing call answered, one incoming answered, one incoming never answered.
TEST_F(GnomeCallsTest, ReadsTheCallsGnomeCallsMade) {
  if (std::system("command -v gnome-calls xvfb-run dbus-run-session gdbus >/dev/null") != 0) {
    GTEST_SKIP() << "GNOME Calls, xvfb-run or D-Bus is not installed";
  }
  AddContact(u"Вера", u"", {{&IContact::put_MobileTelephoneNumber, u"098 765 4321"}});
  for (const char* name : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
    setenv(name, sandbox().path(name).c_str(), 1);
  }
  handheld::testing::WriteFileBytes(sandbox().path("calls.sh"), R"(
    gnome-calls -p dummy >/dev/null 2>&1 & gc=$!
    call() { gdbus call --session -d org.gnome.Calls -o /org/gnome/Calls/Call/$1 -m "$2" $3; }
    until_state() {  # call, state (1 active, 5 incoming)
      for i in $(seq 200); do
        call $1 org.freedesktop.DBus.Properties.Get "org.gnome.Calls.Call State" 2>/dev/null |
          grep -q "uint32 $2>" && return; sleep 0.1; done; exit 1; }
    gdbus wait --session --timeout 30 org.gnome.Calls || exit 1
    gnome-calls -l 5550100 >/dev/null 2>&1; until_state 1 1; call 1 org.gnome.Calls.Call.Hangup
    kill -USR1 $gc; until_state 2 5; call 2 org.gnome.Calls.Call.Accept; until_state 2 1
    call 2 org.gnome.Calls.Call.Hangup
    kill -USR1 $gc; until_state 3 5; call 3 org.gnome.Calls.Call.Hangup
    sleep 1; kill $gc; wait $gc
    exit 0)");
  ASSERT_EQ(std::system(("xvfb-run -a dbus-run-session -- sh " + sandbox().path("calls.sh") +
                         " >/dev/null 2>&1").c_str()), 0);
  std::vector<Call> calls = Read();
  ASSERT_EQ(calls.size(), 3u);
  const Call missed = calls[0], incoming = calls[1], outgoing = calls[2];
  EXPECT_EQ(std::vector<std::string>({missed.number, incoming.number, outgoing.number}),
            std::vector<std::string>({"0987654321", "0987654321", "5550100"}));
  EXPECT_EQ(std::vector<int>({missed.iom, incoming.iom, outgoing.iom}),
            std::vector<int>({IOM_MISSED, IOM_INCOMING, IOM_OUTGOING}));
  EXPECT_EQ(std::vector<int>({missed.connected, incoming.connected, outgoing.connected}),
            std::vector<int>({0, -1, -1}));
  EXPECT_EQ(missed.name + missed.type + outgoing.name, "Вераm<null>");
  EXPECT_TRUE(missed.start > incoming.start && incoming.start > outgoing.start &&
              outgoing.start > k2026 && missed.end >= missed.start && outgoing.end > outgoing.start);
}

// The dialer keeps writing while the log is read: a write transaction open elsewhere
// neither blocks the read nor is blocked by the open log, and the journal mode stays;
// only a commit under way in the old journal modes fails the open, after a short wait.
// No history is an empty log; no place for one is an error.
TEST_F(GnomeCallsTest, ReadsBesideTheDialerWithoutLockingIt) {
  struct { const char* mode; const char* begin; bool opens; } cases[] = {
      {"wal", "BEGIN EXCLUSIVE", true}, {"delete", "BEGIN IMMEDIATE", true},
      {"delete", "BEGIN EXCLUSIVE", false}};
  for (const auto& c : cases) {
    std::filesystem::remove(History());
    sqlite3_close(Db((std::string(kSchema) + "PRAGMA journal_mode=" + c.mode +
                      "; INSERT INTO calls (target, inbound, start) VALUES ('1', 0, '2026-01-01T00:00:00Z')").c_str()));
    sqlite3* writer = Db(c.begin);
    ASSERT_EQ(sqlite3_exec(writer, "INSERT INTO calls (target) VALUES ('2')", nullptr, nullptr, nullptr), SQLITE_OK);
    bool opened = false;
    auto commit = [&] {
      EXPECT_EQ(sqlite3_exec(writer, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK) << c.mode;
    };
    EXPECT_EQ(Read(&opened, commit).size(), c.opens ? 1u : 0u) << c.mode << c.begin;
    EXPECT_EQ(opened, c.opens);
    sqlite3_stmt* mode = nullptr;
    sqlite3_prepare_v2(writer, "PRAGMA journal_mode", -1, &mode, nullptr);
    ASSERT_EQ(sqlite3_step(mode), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(mode, 0)), c.mode);
    sqlite3_finalize(mode);
    sqlite3_close(writer);
  }
  std::filesystem::remove(History());
  bool opened = false;
  EXPECT_TRUE(Read(&opened).empty());
  EXPECT_TRUE(opened) << "no history is no calls";
  unsetenv("XDG_DATA_HOME");
  unsetenv("HOME");
  Read(&opened);
  EXPECT_FALSE(opened) << "nowhere to look is an error";
}

// "phone.dll" is gnomecalls.so with the desktop's store, phone.so otherwise; both come
// from HANDHELD_MODULE_DIR when it is set.
TEST_F(GnomeCallsTest, TheDesktopStoreLoadsThisLibraryAsPhoneDll) {
  std::filesystem::create_directories(sandbox().path("own"));
  std::filesystem::copy_file(handheld::testing::BinDir() + "/gnomecalls.so", sandbox().path("own/gnomecalls.so"));
  struct { const char* store; const char* dir; const char* is; } cases[] = {
      {"eds:", nullptr, "gnomecalls.dll"}, {"eds:system-address-book", nullptr, "gnomecalls.dll"},
      {"store.db", nullptr, "phone.so"}, {"eds:", "own", "gnomecalls.dll"}, {"store.db", "own", nullptr}};
  for (const auto& c : cases) {
    setenv("HANDHELD_STORE", c.store, 1);
    setenv("HANDHELD_MODULE_DIR", c.dir ? sandbox().path(c.dir).c_str() : handheld::testing::BinDir().c_str(), 1);
    HMODULE phone = LoadLibraryW(u"phone.dll");
    HMODULE expected = c.is ? LoadLibraryW(U16(c.is).c_str()) : nullptr;
    EXPECT_EQ(phone, expected) << c.store << " " << (c.dir ? c.dir : "");
    for (HMODULE module : {phone, expected}) if (module) FreeLibrary(module);
  }
}

}  // namespace
