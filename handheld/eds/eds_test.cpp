// The data server's sources and clients against a private session bus and data server
// started for this program, and `handheld sources` against the same.
#include "handheld/eds/eds.h"

#include <gtest/gtest.h>
#include <libebook/libebook.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "handheld/census.h"
#include "handheld/eds/eds_test_support.h"
#include "handheld/testing/sandbox.h"

namespace handheld::eds {
namespace {

using Clock = std::chrono::steady_clock;
testing::Session* session = nullptr;
using testing::Ran;
using testing::RunChild;
using testing::AddAddressBook;

class SessionEnvironment : public ::testing::Environment {
  void SetUp() override {
    const auto start = Clock::now();
    std::string error;
    ASSERT_TRUE(session_.Start(&error)) << error;
    session = &session_;
    // The registry and the address book's factory answer for the first time.
    const auto registry = Registry::Connect(kDefaultLimit, &error);
    ASSERT_TRUE(registry && registry->Open(Kind::kAddressBook, "system-address-book",
                                           kDefaultLimit, &error)) << error;
    std::printf("private data server ready in %lld ms\n", static_cast<long long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count()));
  }
  void TearDown() override {
    session_.Stop();
    EXPECT_EQ(session_.Processes().size(), 0u) << "processes of the private bus left running";
  }
  testing::Session session_;
};

class EdsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(registry_ = Registry::Connect(kDefaultLimit, &error_)) << error_; }
  void TearDown() override {
    registry_.reset();
    EXPECT_EQ(CensusChange(census_), "");
  }
  Census census_ = TakeCensus();
  std::string error_;
  std::unique_ptr<Registry> registry_;
};

TEST_F(EdsTest, ListsTheBuiltInSourcesWithTheirDefaults) {
  for (const auto& [kind, uid] : {std::pair(Kind::kAddressBook, "system-address-book"),
                                  std::pair(Kind::kCalendar, "system-calendar"),
                                  std::pair(Kind::kTaskList, "system-task-list")}) {
    int defaults = 0, found = 0;
    for (const Source& source : registry_->List(kind)) {
      EXPECT_EQ(source.kind, kind);
      EXPECT_EQ(source.unavailable, "") << source.uid;
      defaults += source.isDefault;
      if (source.uid != uid) continue;
      ++found;
      EXPECT_TRUE(source.isDefault && !source.readOnly && !source.name.empty()) << uid;
    }
    EXPECT_EQ(found, 1) << uid;
    EXPECT_EQ(defaults, 1) << KindNoun(kind);
  }
}

TEST_F(EdsTest, ResolvesByUidThenDisplayName) {
  Source tasks, found;
  ASSERT_TRUE(registry_->Resolve(Kind::kTaskList, "eds:system-task-list", &tasks, &error_));
  const struct {
    Kind kind;
    std::string named;
    const char* uid;  // nullptr: refused with `why` (and the kind's sources named)
    const char* why;
  } cases[] = {
      {Kind::kAddressBook, "eds:", "system-address-book", ""},
      {Kind::kCalendar, "eds:system-calendar", "system-calendar", ""},
      {Kind::kTaskList, "eds:" + tasks.name, "system-task-list", ""},
      {Kind::kCalendar, "eds:Nowhere", nullptr, "no calendar \"Nowhere\"; there are: "},
      {Kind::kAddressBook, "eds:system-calendar", nullptr, "no address book \"system-calendar\""},
      {Kind::kAddressBook, "file.db", nullptr, "\"file.db\" does not begin with \"eds:\""},
  };
  for (const auto& c : cases) {
    Source source;
    error_.clear();
    ASSERT_EQ(registry_->Resolve(c.kind, c.named, &source, &error_), c.uid != nullptr)
        << c.named << ": " << error_;
    if (c.uid != nullptr) {
      EXPECT_TRUE(source.uid == c.uid && source.kind == c.kind) << c.named;
    } else {
      EXPECT_EQ(error_.find(c.why), 0u) << c.named << ": " << error_;
    }
  }
  ASSERT_FALSE(registry_->Resolve(Kind::kCalendar, "eds:Nowhere", &found, &error_));
  EXPECT_NE(error_.find("system-calendar ("), std::string::npos) << error_;

  // Two address books of one name are told apart by UID only.
  const std::string first = testing::AddAddressBook("Twin");
  const std::string second = testing::AddAddressBook("Twin");
  ASSERT_TRUE(registry_ = Registry::Connect(kDefaultLimit, &error_)) << error_;  // one that knows them
  EXPECT_FALSE(registry_->Resolve(Kind::kAddressBook, "eds:Twin", &found, &error_));
  EXPECT_EQ(error_.find("more than one address book is called \"Twin\"; name it by its UID: "),
            0u) << error_;
  EXPECT_NE(error_.find(first + " (Twin)"), std::string::npos) << error_;
  ASSERT_TRUE(registry_->Resolve(Kind::kAddressBook, "eds:" + second, &found, &error_)) << error_;
  EXPECT_EQ(found.uid, second);
}

TEST_F(EdsTest, AnOpenedAddressBookKeepsAContact) {
  std::unique_ptr<Client> book =
      registry_->Open(Kind::kAddressBook, "system-address-book", kDefaultLimit, &error_);
  ASSERT_TRUE(book) << error_;
  EXPECT_EQ(CensusChange(census_), "eds:client=1 eds:registry=1");
  EContact* contact = e_contact_new();
  e_contact_set(contact, E_CONTACT_FULL_NAME, "Ada Lovelace");
  gchar* uid = nullptr;
  EContact* back = nullptr;
  ASSERT_TRUE(e_book_client_add_contact_sync(book->book(), contact, E_BOOK_OPERATION_FLAG_NONE,
                                             &uid, nullptr, nullptr));
  ASSERT_TRUE(e_book_client_get_contact_sync(book->book(), uid, &back, nullptr, nullptr));
  EXPECT_STREQ(static_cast<const char*>(e_contact_get_const(back, E_CONTACT_FULL_NAME)),
               "Ada Lovelace");
  g_object_unref(contact);
  g_object_unref(back);
  g_free(uid);
  EXPECT_FALSE(registry_->Open(Kind::kCalendar, "nowhere", kDefaultLimit, &error_));
  EXPECT_EQ(error_, "no calendar \"nowhere\"");
}

TEST(EdsToolTest, SourcesListsOneLinePerSourceAndFailsFastWithoutABus) {
  const Ran listed = RunChild({handheld::testing::BinDir() + "/handheld", "sources"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  std::map<std::string, std::string> lines;  // UID: the kind and the marks
  for (size_t at = 0, end; at < listed.out.size(); at = end + 1) {
    end = listed.out.find('\n', at);
    const std::string line = listed.out.substr(at, end - at);
    const size_t uid = line.find('\t') + 1, name = line.find('\t', uid);
    ASSERT_NE(line.find('\t', name + 1), std::string::npos) << line;
    lines[line.substr(uid, name - uid)] = line.substr(0, uid) + line.substr(line.rfind('\t'));
  }
  EXPECT_EQ(lines["system-address-book"], "contacts\t\tdefault") << listed.out;
  EXPECT_EQ(lines["system-calendar"], "calendar\t\tdefault") << listed.out;
  EXPECT_EQ(lines["system-task-list"], "tasks\t\tdefault") << listed.out;

  const auto start = Clock::now();
  const Ran dead = RunChild({handheld::testing::BinDir() + "/handheld", "sources"},
                       {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + session->dir() + "/no-bus"});
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(dead.status, 1);
  EXPECT_EQ(dead.out, "");
  EXPECT_EQ(dead.err.find("handheld: Evolution's data server cannot be reached: "), 0u)
      << dead.err;
}

// Without a session bus (a dead socket; none set and no display) quillmote-batch says only
// that Quillmote cannot work, at once, and why on standard error. An address book whose
// backend cannot be loaded fails its folder with the reason; the other kinds take their
// defaults.
TEST(EdsToolTest, FaultsAtStartAndPerKindAreExplained) {
  const std::string broken = AddAddressBook("Broken", "no-such-backend");
  const std::string batch = handheld::testing::BinDir() + "/quillmote-batch",
                    saved = session->dir() + "/saved.txt";
  const std::string unreachable =
      "Quillmote: cannot open the store: cannot reach Evolution Data Server "
      "(HANDHELD_STORE=eds:): ";
  const struct {
    std::vector<std::string> argv, env;
    std::string out, err;  // the whole output; the start of a line of standard error
  } runs[] = {
      {{batch, "save-contacts", saved},
       {"HANDHELD_STORE=eds:", "DBUS_SESSION_BUS_ADDRESS=unix:path=" + session->dir() + "/no"},
       "Quillmote не может работать на этом устройстве...\n", unreachable},
      {{"/usr/bin/env", "-u", "DBUS_SESSION_BUS_ADDRESS", "-u", "DISPLAY", batch,
        "save-contacts", saved},
       {"HANDHELD_STORE=eds:", "XDG_RUNTIME_DIR=" + session->dir()},
       "Quillmote не может работать на этом устройстве...\n", unreachable},
      {{batch, "save-contacts", saved}, {"HANDHELD_STORE=eds:Broken"},
       "Ошибка при доступе к папке!\n",
       "Quillmote: cannot open the Evolution Data Server address book: "},
      {{batch, "save-calendar", saved}, {"HANDHELD_STORE=eds:Broken"},
       "В Календаре записей нет, сохранять нечего...\n", "Подготовка...\n"},
      // A name that no kind has is not taken for the defaults.
      {{batch, "save-contacts", saved}, {"HANDHELD_STORE=eds:Nosuch"},
       "Quillmote не может работать на этом устройстве...\n",
       "Quillmote: cannot open the store: HANDHELD_STORE=eds:Nosuch names no source"},
      // A write that EDS refuses (the birthdays calendar is read-only) says why.
      {{"/bin/sh", "-c",
        "echo '{\"Subject\":\"x\"}' | " + handheld::testing::BinDir() + "/handheld add calendar"},
       {"HANDHELD_STORE=eds:birthdays"}, "", "Quillmote: Evolution Data Server: adding an item: "},
  };
  for (const auto& run : runs) {
    const auto start = Clock::now();
    const Ran ran = RunChild(run.argv, run.env);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20)) << run.env[0];
    EXPECT_EQ(ran.status, 1) << run.env[0];
    EXPECT_EQ(ran.out, run.out) << run.env[0];
    const std::string lines = "\n" + ran.err;
    const size_t line = lines.find("\n" + run.err);
    ASSERT_NE(line, std::string::npos) << run.env[0] << ": " << ran.err;
    const size_t reason = line + 1 + run.err.size();
    EXPECT_TRUE(run.err.back() == '\n' || (reason < lines.size() && lines[reason] != '\n'))
        << "no reason: " << ran.err;
  }
  // The other tests expect every source to open.
  ESourceRegistry* registry = e_source_registry_new_sync(nullptr, nullptr);
  ESource* source = e_source_registry_ref_source(registry, broken.c_str());
  EXPECT_TRUE(e_source_remove_sync(source, nullptr, nullptr));
  g_object_unref(source);
  g_object_unref(registry);
}

// On the desktop's store the call log is GNOME Calls' history, named from the address book
// of the data server, and the tool reads it as the system does but never writes it.
TEST(EdsToolTest, CallsAreGnomeCallsHistoryNamedFromTheAddressBook) {
  const std::string tool = handheld::testing::BinDir() + "/handheld";
  const char* data = std::getenv("XDG_DATA_HOME");
  ASSERT_NE(data, nullptr);
  const std::string history = std::string(data) + "/calls/records.db";
  std::filesystem::create_directories(std::string(data) + "/calls");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(history.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TABLE calls (id INTEGER PRIMARY KEY AUTOINCREMENT, target TEXT, "
                         "inbound INTEGER, start BLOB, answered BLOB, \"end\" BLOB, protocol "
                         "TEXT); INSERT INTO calls (target, inbound, start, answered, \"end\", "
                         "protocol) VALUES ('+44 20 7946 0001', 1, '2026-12-01T10:00:00.000000Z', "
                         "'2026-12-01T10:00:05.000000Z', '2026-12-01T10:01:00.000000Z', 'tel');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  const Ran added = RunChild(
      {"/bin/sh", "-c",
       "echo '{\"FirstName\":\"Ada\",\"LastName\":\"Calls\",\"MobileTelephoneNumber\":"
       "\"+44 (20) 7946-0001\"}' | " + tool + " add contacts"},
      {"HANDHELD_STORE=eds:"});
  ASSERT_EQ(added.status, 0) << added.err;
  const Ran dumped = RunChild({tool, "dump", "calls"}, {"HANDHELD_STORE=eds:"});
  EXPECT_EQ(dumped.status, 0) << dumped.err;
  EXPECT_NE(dumped.out.find("\"Name\":\"Ada Calls\",\"NameType\":\"m\""), std::string::npos)
      << dumped.out;
  const Ran cleared = RunChild({tool, "clear", "calls"}, {"HANDHELD_STORE=eds:"});
  EXPECT_EQ(cleared.status, 1);
  EXPECT_NE(cleared.err.find("which only GNOME Calls writes"), std::string::npos);
  std::filesystem::remove(history);
}

// A bus that takes the connection and never answers: the call is cancelled at the limit
// (in a fresh process: GLib keeps the bus it has connected to).
TEST(EdsToolTest, ASilentBusIsGivenUpAtTheLimit) {
  const std::string path = session->dir() + "/silent-bus";
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  const auto start = Clock::now();
  const Ran silent = RunChild({"/proc/self/exe", "--connect-within", "300"},
                         {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + path});
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(silent.status, 0);
  EXPECT_EQ(silent.out, "no answer from Evolution's source registry within 300 ms");
  close(listener);
}

}  // namespace
}  // namespace handheld::eds

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--connect-within") {  // the silent-bus test's child
    std::string error;
    const auto registry =
        handheld::eds::Registry::Connect(std::chrono::milliseconds(std::stol(argv[2])), &error);
    std::printf("%s", registry ? "connected" : error.c_str());
    return 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new handheld::eds::SessionEnvironment);
  return RUN_ALL_TESTS();
}
