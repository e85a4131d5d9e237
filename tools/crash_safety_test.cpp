// Loads and saves killed with SIGKILL part-way. A load of 50,000 contacts: the store file
// stays sound and holds only whole contacts, the file's first ones, each once; and a load
// of the records that did not make it then completes the set. The kill points come from
// the progress that quillmote-batch reports on standard error.
#include <signal.h>

#include <string>
#include <string_view>
#include <vector>

#include "handheld/bstr.h"
#include "handheld/oledate.h"
#include "handheld/pimstore.h"
#include "platform/store.h"
#include "tools/fault_test_support.h"
#include "tools/tool_test_support.h"

namespace {

using handheld::testing::Sandbox;

constexpr int kContacts = 50'000;

// Contact n of the generated file: its first name (column 1), birthday (8 to 10) and
// company (25, the record's last column) carry n. A record is saved only at its end, so
// a contact with the three is whole.
struct Generated {
  std::string firstName, company;
  int day, month, year;
};

Generated Contact(int n) {
  return {"Имя" + std::to_string(n), "C" + std::to_string(n), n % 28 + 1, n % 12 + 1,
          1950 + n % 50};
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
    const Generated c = Contact(n);
    std::vector<std::string> fields(26);
    fields[1] = c.firstName;
    fields[8] = std::to_string(c.day);
    fields[9] = std::to_string(c.month);
    fields[10] = std::to_string(c.year);
    fields[25] = c.company;
    for (const std::string& field : fields) text += handheld::testing::U16(field) + u"\t";
    text += u"\r\n";
  }
  return {handheld::testing::Utf16LeBytes(text, true), std::move(starts)};
}

bool IsWholeContact(IContact* contact, int n) {
  const Generated c = Contact(n);
  BSTR first = nullptr, company = nullptr;
  SYSTEMTIME day{};
  day.wYear = static_cast<WORD>(c.year);
  day.wMonth = static_cast<WORD>(c.month);
  day.wDay = static_cast<WORD>(c.day);
  DATE birthday = 0, expected = 0;
  SystemTimeToVariantTime(&day, &expected);
  const bool whole =
      contact->get_FirstName(&first) >= 0 && contact->get_CompanyName(&company) >= 0 &&
      contact->get_Birthday(&birthday) >= 0 && birthday == expected &&
      std::u16string_view(first, SysStringLen(first)) == handheld::testing::U16(c.firstName) &&
      std::u16string_view(company, SysStringLen(company)) == handheld::testing::U16(c.company);
  SysFreeString(first);
  SysFreeString(company);
  return whole;
}

// Reads the store's contacts through the store's own interface, in the order they were
// saved; for each, whether it is whole and the generated contact of its position.
struct Stored {
  int contacts = 0;
  int broken = 0;  // not whole, or not the contact of its position in the file
  int firstBroken = -1;
};

Stored ReadStoredContacts() {
  Stored stored;
  StoreSession store;
  if (!OpenStore(store)) {
    ADD_FAILURE() << "the store does not open: " << store.failure;
    return stored;
  }
  IPOutlookApp* app = GetStoreApp(store);
  IFolder* folder = nullptr;
  IPOutlookItemCollection* items = nullptr;
  INT count = 0;
  if (app->GetDefaultFolder(olFolderContacts, &folder) >= 0 && folder->get_Items(&items) >= 0 &&
      items->get_Count(&count) >= 0) {
    stored.contacts = count;
    for (INT i = 1; i <= count; ++i) {
      IDispatch* item = nullptr;
      const bool whole =
          items->Item(i, &item) >= 0 && IsWholeContact(static_cast<IContact*>(item), i - 1);
      if (item != nullptr) item->Release();
      if (!whole && stored.broken++ == 0) stored.firstBroken = i;
    }
  } else {
    ADD_FAILURE() << "the contacts cannot be listed";
  }
  if (items != nullptr) items->Release();
  if (folder != nullptr) folder->Release();
  app->Release();
  CloseStore(store);
  return stored;
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
  launch.args = {"load-contacts", file};
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

    EXPECT_EQ(fault_testing::IntegrityCheck(box.storePath()), "ok");
    // Only whole contacts, the file's first ones, in file order: the contact whose record
    // was being read when the load died is not there.
    const Stored stored = ReadStoredContacts();
    const int kept = stored.contacts;
    EXPECT_EQ(stored.broken, 0) << "the first contact that is not the file's is number "
                                << stored.firstBroken;
    // Every record before the reported progress was saved; the load had not finished.
    EXPECT_GE(kept, percent * kContacts / 100 - 1);
    ASSERT_LT(kept, kContacts);

    // Load what is missing: the records from the first one not kept.
    const std::string rest = box.path("rest.txt");
    handheld::testing::WriteFileBytes(
        rest,
        "\xFF\xFE" + generated.bytes.substr(generated.recordStart[static_cast<size_t>(kept)]));
    tool_testing::Launch load;
    load.args = {"load-contacts", rest};
    load.out = box.path("rest.out");
    load.err = box.path("rest.err");
    const int status = tool_testing::Wait(tool_testing::Start("quillmote-batch", load));
    EXPECT_EQ(status, 0) << handheld::testing::ReadFileBytes(load.err);
    EXPECT_EQ(handheld::testing::ReadFileBytes(load.out),
              std::string(kept > 0 ? "Удалить существующие Контакты?\n" : "") +
                  "Импорт Контактов завершен. Загружено записей: " +
                  std::to_string(kContacts - kept) + "\n");
    EXPECT_EQ(fault_testing::IntegrityCheck(box.storePath()), "ok");
    // The second load only adds: the store holds every contact of the file once, whole.
    const Stored after = ReadStoredContacts();
    EXPECT_EQ(after.contacts, kContacts);
    EXPECT_EQ(after.broken, 0) << "the first contact that is not the file's is number "
                               << after.firstBroken;
  }
}

}  // namespace
