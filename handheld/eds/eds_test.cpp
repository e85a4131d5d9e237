// The data server's sources and clients against a private session bus and data server
// started for this program, and `handheld sources` against the same.
#include "handheld/eds/eds.h"

#include <gtest/gtest.h>
#include <libebook/libebook.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
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
