// The data server's sources and clients, against a private session bus and data server
// started for this program; and `handheld sources` against the same.
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
#include "handheld/process.h"
#include "handheld/testing/sandbox.h"

namespace handheld::eds {
namespace {

testing::Session* session = nullptr;

class SessionEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    ASSERT_TRUE(session_.Start(&error)) << error;
    session = &session_;
    // The registry and the address book's factory answer for the first time.
    std::unique_ptr<Registry> registry = Registry::Connect(kDefaultLimit, &error);
    ASSERT_TRUE(registry) << error;
    ASSERT_TRUE(registry->Open(Kind::kAddressBook, "system-address-book", kDefaultLimit, &error))
        << error;
    std::printf("private data server ready in %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - start)
                                           .count()));
  }
  void TearDown() override {
    session_.Stop();
    session = nullptr;
    EXPECT_EQ(session_.Processes().size(), 0u) << "processes of the private bus left running";
  }

 private:
  testing::Session session_;
};

// The child's exit status, standard output and error; killed after 60 s.
struct Ran {
  int status;
  std::string out, err;
};
Ran Handheld(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
  handheld::testing::Sandbox sandbox;
  ChildStart child;
  child.argv = {handheld::testing::BinDir() + "/handheld"};
  child.argv.insert(child.argv.end(), args.begin(), args.end());
  child.env = env;
  child.out = sandbox.path("out");
  child.err = sandbox.path("err");
  const int status = WaitChild(StartChild(child), std::chrono::seconds(60));
  return {status, handheld::testing::ReadFileBytes(child.out),
          handheld::testing::ReadFileBytes(child.err)};
}

// Adds a local address book through a registry of its own; its UID.
std::string AddAddressBook(const char* name) {
  GError* failure = nullptr;
  ESourceRegistry* registry = e_source_registry_new_sync(nullptr, &failure);
  EXPECT_NE(registry, nullptr) << failure->message;
  ESource* source = e_source_new(nullptr, nullptr, &failure);
  e_source_set_display_name(source, name);
  e_source_set_parent(source, "local-stub");
  e_source_backend_set_backend_name(
      E_SOURCE_BACKEND(e_source_get_extension(source, E_SOURCE_EXTENSION_ADDRESS_BOOK)), "local");
  EXPECT_TRUE(e_source_registry_commit_source_sync(registry, source, nullptr, &failure))
      << failure->message;
  const std::string uid = e_source_get_uid(source);
  g_object_unref(source);
  g_object_unref(registry);
  return uid;
}

class EdsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    registry_ = Registry::Connect(kDefaultLimit, &error);
    ASSERT_TRUE(registry_) << error;
  }
  void TearDown() override {
    registry_.reset();
    EXPECT_EQ(CensusChange(census_), "");
  }
  Census census_ = TakeCensus();
  std::unique_ptr<Registry> registry_;
};

TEST_F(EdsTest, ListsTheBuiltInSourcesWithTheirDefaults) {
  const std::pair<Kind, const char*> builtIn[] = {{Kind::kAddressBook, "system-address-book"},
                                                  {Kind::kCalendar, "system-calendar"},
                                                  {Kind::kTaskList, "system-task-list"}};
  for (const auto& [kind, uid] : builtIn) {
    int defaults = 0;
    bool found = false;
    for (const Source& source : registry_->List(kind)) {
      EXPECT_EQ(source.kind, kind);
      EXPECT_EQ(source.unavailable, "") << source.uid;
      defaults += source.isDefault;
      if (source.uid != uid) continue;
      found = true;
      EXPECT_TRUE(source.isDefault) << uid;
      EXPECT_FALSE(source.readOnly) << uid;
      EXPECT_FALSE(source.name.empty()) << uid;
    }
    EXPECT_TRUE(found) << uid;
    EXPECT_EQ(defaults, 1) << KindNoun(kind);
  }
}

TEST_F(EdsTest, ResolvesSpecificationsByUidThenDisplayName) {
  std::string error;
  Source tasks;
  ASSERT_TRUE(registry_->Resolve(Kind::kTaskList, "eds:system-task-list", &tasks, &error));
  const struct {
    Kind kind;
    std::string spec;
    const char* uid;  // nullptr: refused
    const char* why;
  } cases[] = {
      {Kind::kAddressBook, "eds:", "system-address-book", ""},
      {Kind::kCalendar, "eds:system-calendar", "system-calendar", ""},
      {Kind::kTaskList, "eds:" + tasks.name, "system-task-list", ""},
      {Kind::kCalendar, "eds:Nowhere", nullptr, "no calendar \"Nowhere\"; there are: "},
      {Kind::kAddressBook, "eds:system-calendar", nullptr, "no address book \"system-calendar\""},
      {Kind::kAddressBook, "file.db", nullptr, "not an \"eds:\" specification"},
  };
  for (const auto& c : cases) {
    Source source;
    error.clear();
    const bool resolved = registry_->Resolve(c.kind, c.spec, &source, &error);
    EXPECT_EQ(resolved, c.uid != nullptr) << c.spec << ": " << error;
    if (c.uid != nullptr) {
      EXPECT_EQ(source.uid, c.uid) << c.spec;
      EXPECT_EQ(source.kind, c.kind) << c.spec;
    } else {
      EXPECT_EQ(error.find(c.why), 0u) << c.spec << ": " << error;
    }
  }
  // A refusal names what there is.
  Source none;
  ASSERT_FALSE(registry_->Resolve(Kind::kCalendar, "eds:Nowhere", &none, &error));
  EXPECT_NE(error.find("system-calendar ("), std::string::npos) << error;

  // Two address books of one name are told apart by UID only.
  const std::string first = AddAddressBook("Twin"), second = AddAddressBook("Twin");
  registry_ = Registry::Connect(kDefaultLimit, &error);  // one that knows them
  ASSERT_TRUE(registry_) << error;
  EXPECT_FALSE(registry_->Resolve(Kind::kAddressBook, "eds:Twin", &none, &error));
  EXPECT_EQ(error.find("more than one address book is called \"Twin\"; name it by its UID: "),
            0u) << error;
  EXPECT_NE(error.find(first + " (Twin)"), std::string::npos) << error;
  ASSERT_TRUE(registry_->Resolve(Kind::kAddressBook, "eds:" + second, &none, &error)) << error;
  EXPECT_EQ(none.uid, second);
}

TEST_F(EdsTest, AnOpenedAddressBookKeepsAContact) {
  std::string error;
  std::unique_ptr<Client> book =
      registry_->Open(Kind::kAddressBook, "system-address-book", kDefaultLimit, &error);
  ASSERT_TRUE(book) << error;
  EXPECT_EQ(CensusChange(census_), "eds:client=1 eds:registry=1");
  EContact* contact = e_contact_new();
  e_contact_set(contact, E_CONTACT_FULL_NAME, "Ada Lovelace");
  gchar* uid = nullptr;
  GError* failure = nullptr;
  ASSERT_TRUE(e_book_client_add_contact_sync(book->book(), contact, E_BOOK_OPERATION_FLAG_NONE,
                                             &uid, nullptr, &failure))
      << failure->message;
  g_object_unref(contact);
  EContact* back = nullptr;
  ASSERT_TRUE(e_book_client_get_contact_sync(book->book(), uid, &back, nullptr, &failure))
      << failure->message;
  EXPECT_STREQ(static_cast<const char*>(e_contact_get_const(back, E_CONTACT_FULL_NAME)),
               "Ada Lovelace");
  g_object_unref(back);
  g_free(uid);
  EXPECT_FALSE(registry_->Open(Kind::kCalendar, "nowhere", kDefaultLimit, &error));
  EXPECT_EQ(error, "no calendar \"nowhere\"");
}

TEST(EdsToolTest, SourcesListsOneLinePerSourceAndFailsFastWithoutABus) {
  const Ran listed = Handheld({"sources"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  std::map<std::string, std::string> lines;  // UID: the line without it
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

  const auto start = std::chrono::steady_clock::now();
  const Ran dead =
      Handheld({"sources"}, {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + session->dir() + "/no-bus"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(dead.status, 1);
  EXPECT_EQ(dead.out, "");
  EXPECT_EQ(dead.err.find("handheld: Evolution's data server cannot be reached: "), 0u)
      << dead.err;
}

// A bus that takes the connection and never answers: the call is cancelled at the limit.
TEST(EdsToolTest, ASilentBusIsGivenUpAtTheLimit) {
  const std::string path = session->dir() + "/silent-bus";
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  path.copy(address.sun_path, path.size());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);

  handheld::testing::Sandbox sandbox;
  ChildStart child;
  child.argv = {"/proc/self/exe", "--connect-within", "300"};
  child.env = {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + path};
  child.out = sandbox.path("out");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitChild(StartChild(child), std::chrono::seconds(30)), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(handheld::testing::ReadFileBytes(child.out),
            "no answer from Evolution's source registry within 300 ms");
  close(listener);
}

}  // namespace
}  // namespace handheld::eds

int main(int argc, char** argv) {
  // A fresh process without GLib's shared bus connection, for the bounded-wait test:
  // connects within the given milliseconds and prints the reason it could not.
  if (argc == 3 && std::string(argv[1]) == "--connect-within") {
    std::string error;
    const auto registry = handheld::eds::Registry::Connect(
        std::chrono::milliseconds(std::stol(argv[2])), &error);
    std::printf("%s", registry ? "connected" : error.c_str());
    return 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new handheld::eds::SessionEnvironment);
  return RUN_ALL_TESTS();
}
