// Two jobs on one store at once: a load with --replace through quillmote-batch beside a
// vCard import with --replace through handheld, round after round. Each purge removes
// the items it counted and nothing else, so whatever the timing:
// - the items there before both jobs are gone;
// - the job that counted last keeps every item it saved; the other keeps the items it
//   saved after that count, which are the last ones it saved;
// - the import keeps its changes in one batch (fewer than 1,000), so the load sees all
//   of its items or none, and keeps all of them or none: a purge that went by places in
//   a list taken earlier removed as many items as it had counted, the import's among them;
// - each job says it succeeded and reports the records it saved.
#include <regex>
#include <string>
#include <vector>

#include "handheld/testing/sandbox.h"
#include "tools/tool_test_support.h"

namespace {

using handheld::testing::ReadFileBytes;
using handheld::testing::Utf16LeBytes;
using handheld::testing::WriteFileBytes;

constexpr int kRounds = 12;
constexpr int kRecords = 40;  // loaded by quillmote-batch, named L1...
constexpr int kCards = 300;   // imported by handheld, named V1...
constexpr int kOld = 200;     // in the store before both, named O1...

// The names of `prefix` among `names` (in store order) are the last `kept` of
// prefix1..prefixN in their order.
::testing::AssertionResult KeptTheLast(const std::vector<std::string>& names,
                                       const std::string& prefix, int total, int* kept) {
  std::vector<std::string> mine;
  for (const std::string& name : names) {
    if (name.rfind(prefix, 0) == 0) mine.push_back(name);
  }
  *kept = static_cast<int>(mine.size());
  for (int i = 0; i < *kept; ++i) {
    const std::string want = prefix + std::to_string(total - *kept + 1 + i);
    if (mine[i] != want) {
      return ::testing::AssertionFailure()
             << "item " << i + 1 << " of " << prefix << " is " << mine[i] << ", not " << want;
    }
  }
  return ::testing::AssertionSuccess();
}

class TwoJobsTest : public handheld::testing::SandboxTest {};

TEST_F(TwoJobsTest, TwoPurgingJobsAtOnceLoseNothingTheyDidNotCount) {
  std::u16string records;
  for (int i = 1; i <= kRecords; ++i) {
    const std::string number = std::to_string(i);
    records += u"\tL" + std::u16string(number.begin(), number.end()) + u"\t\r\n";
  }
  WriteFileBytes(sandbox().path("load.txt"), Utf16LeBytes(records, true));
  std::string cards;
  for (int i = 1; i <= kCards; ++i) {
    cards += "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:V" + std::to_string(i) + "\r\nN:;V" +
             std::to_string(i) + ";;;\r\nEND:VCARD\r\n";
  }
  WriteFileBytes(sandbox().path("cards.vcf"), cards);
  std::string old;
  for (int i = 1; i <= kOld; ++i) old += "{\"FirstName\": \"O" + std::to_string(i) + "\"}\n";
  const std::regex firstName("\"FirstName\": ?\"([^\"]*)\"");

  int wholeBoth = 0;
  for (int round = 1; round <= kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    tool_testing::RunProgram(sandbox().dir(), "handheld", {"clear", "contacts"});
    tool_testing::RunProgram(sandbox().dir(), "handheld", {"add", "contacts"}, old);
    tool_testing::Launch load, import;
    load.argv = {"--replace", "load-contacts", sandbox().path("load.txt")};
    load.out = sandbox().path("load.out");
    load.err = sandbox().path("load.err");
    import.argv = {"import", "--replace", "contacts", sandbox().path("cards.vcf")};
    import.out = sandbox().path("import.out");
    import.err = sandbox().path("import.err");
    // Each round starts the other one first, so that either may count last.
    const bool loadFirst = round % 2 == 0;
    const pid_t first =
        tool_testing::Start(loadFirst ? "quillmote-batch" : "handheld", loadFirst ? load : import);
    const pid_t second =
        tool_testing::Start(loadFirst ? "handheld" : "quillmote-batch", loadFirst ? import : load);
    const int firstStatus = tool_testing::Wait(first), secondStatus = tool_testing::Wait(second);
    ASSERT_EQ(loadFirst ? firstStatus : secondStatus, 0) << ReadFileBytes(load.err);
    ASSERT_EQ(loadFirst ? secondStatus : firstStatus, 0) << ReadFileBytes(import.err);
    EXPECT_EQ(ReadFileBytes(load.out),
              "Удалить существующие Контакты?\n"
              "Импорт Контактов завершен. Загружено записей: " +
                  std::to_string(kRecords) + "\n");

    const tool_testing::Result dump =
        tool_testing::RunProgram(sandbox().dir(), "handheld", {"dump", "contacts"});
    ASSERT_EQ(dump.status, 0) << dump.err;
    std::vector<std::string> names;
    for (std::sregex_iterator it(dump.out.begin(), dump.out.end(), firstName), end; it != end;
         ++it) {
      names.push_back((*it)[1]);
    }
    int loaded = 0, imported = 0;
    EXPECT_TRUE(KeptTheLast(names, "L", kRecords, &loaded));
    EXPECT_TRUE(KeptTheLast(names, "V", kCards, &imported));
    EXPECT_TRUE(loaded == kRecords || imported == kCards) << loaded << " and " << imported;
    EXPECT_TRUE(imported == 0 || imported == kCards) << imported;
    EXPECT_EQ(names.size(), static_cast<size_t>(loaded + imported)) << "items of neither job";
    wholeBoth += loaded == kRecords && imported == kCards;
  }
  RecordProperty("rounds that kept both jobs whole", wholeBoth);
}

}  // namespace
