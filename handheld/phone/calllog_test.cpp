// The call-log library as the system sees it: loaded as "phone.dll", functions looked
// up by name.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "handheld/callstore.h"
#include "handheld/census.h"
#include "handheld/faults.h"
#include "handheld/modules.h"
#include "handheld/phone.h"
#include "handheld/testing/sandbox.h"

namespace {

using handheld::CallEntryData;

uint64_t Ticks(const FILETIME& time) {
  return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

std::u16string Text(const char16_t* text) {
  return text ? std::u16string(text) : u"<null>";
}

long LocalBlocks() {
  return handheld::TakeCensus()["local"];
}

class CallLogLibraryTest : public handheld::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    module_ = LoadLibraryW(u"phone.dll");
    ASSERT_NE(module_, nullptr) << "phone.so not found in " << handheld::testing::BinDir();
    auto find = [this](auto& function, const char* name) {
      function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
          GetProcAddress(module_, name));
      ASSERT_NE(function, nullptr) << name;
    };
    find(open_, "PhoneOpenCallLog");
    find(seek_, "PhoneSeekCallLog");
    find(get_, "PhoneGetCallLogEntry");
    find(close_, "PhoneCloseCallLog");
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
    SandboxTest::TearDown();
  }

  // Adds a call of that number, started at `start`, or the entry given.
  static void Add(const char16_t* number, uint64_t start, CallEntryData entry = {}) {
    if (number) entry.number = number;
    entry.startTime = start;
    std::string error;
    ASSERT_TRUE(handheld::AddCallEntry(entry, &error)) << error;
  }
  // Reads the next entry, frees its strings, and gives its number ("" when it fails).
  std::u16string NextNumber(HANDLE log) {
    CALLLOGENTRY entry{};
    entry.cbSize = kCallLogEntrySize;
    if (get_(log, &entry) != 0) return u"";
    for (PTSTR text : {entry.pszName, entry.pszNameType, entry.pszNote}) LocalFree(text);
    std::u16string number = Text(entry.pszNumber);
    LocalFree(entry.pszNumber);
    return number;
  }

  HMODULE module_ = nullptr;
  PhoneOpenCallLogFn open_ = nullptr;
  PhoneSeekCallLogFn seek_ = nullptr;
  PhoneGetCallLogEntryFn get_ = nullptr;
  PhoneCloseCallLogFn close_ = nullptr;
};

// An empty log has no end and no entries, and entries added while it is open do not
// show (the count and the entries read must agree); a log opened after them lists them.
// Refused reads and unknown handles change nothing; the census check of the fixture sees
// the strings of failed reads.
TEST_F(CallLogLibraryTest, EntriesComeNewestFirstTiesInOrderAddedAndSeekRewinds) {
  HANDLE log = nullptr;
  ASSERT_EQ(open_(&log), 0);
  Add(u"middle-a", 200'000'000);
  Add(u"newest", 300'000'000);
  Add(u"middle-b", 200'000'000);
  Add(u"oldest", 100'000'000);
  DWORD record = 7;
  EXPECT_NE(seek_(log, CALLLOGSEEK_END, 0, &record), 0);
  EXPECT_EQ(seek_(log, CALLLOGSEEK_BEGINNING, 0, &record), 0);
  EXPECT_EQ(record, 0u);
  EXPECT_EQ(NextNumber(log), u"");
  EXPECT_NE(seek_(log, 3, 0, &record), 0) << "an unknown seek method fails";
  EXPECT_EQ(close_(log), 0);

  ASSERT_EQ(open_(&log), 0);
  EXPECT_EQ(handheld::TakeCensus()["calllog"], 1);
  record = 99;
  ASSERT_EQ(seek_(log, CALLLOGSEEK_END, 0, &record), 0);
  EXPECT_EQ(record, 3u);
  ASSERT_EQ(seek_(log, CALLLOGSEEK_BEGINNING, 0, &record), 0);
  EXPECT_EQ(record, 0u);
  CALLLOGENTRY entry{};
  entry.cbSize = kCallLogEntrySize - 4;
  EXPECT_NE(get_(log, &entry), 0);
  EXPECT_EQ(entry.pszNumber, nullptr);
  EXPECT_NE(get_(log, nullptr), 0);
  for (auto number : {u"newest", u"middle-a", u"middle-b", u"oldest", u"", u""}) {
    EXPECT_EQ(NextNumber(log), number) << "reading past the last entry must fail";
  }
  ASSERT_EQ(seek_(log, CALLLOGSEEK_BEGINNING, 0, &record), 0);
  EXPECT_EQ(NextNumber(log), u"newest");
  EXPECT_EQ(close_(log), 0);
  EXPECT_EQ(handheld::TakeCensus()["calllog"], 0);
  EXPECT_NE(close_(log), 0) << "a closed handle is not closed twice";
  EXPECT_EQ(NextNumber(log), u"");
  EXPECT_NE(seek_(log, CALLLOGSEEK_BEGINNING, 0, &record), 0);
  EXPECT_NE(open_(nullptr), 0);

  // A failed open hands out no handle; a failed read does not consume its entry.
  ASSERT_TRUE(handheld::ArmFaults("calllog-open,calllog-entry:2", nullptr));
  EXPECT_NE(open_(&log), 0);
  EXPECT_EQ(log, nullptr);
  ASSERT_EQ(open_(&log), 0);
  EXPECT_EQ(NextNumber(log), u"newest");
  EXPECT_EQ(NextNumber(log), u"");
  EXPECT_EQ(NextNumber(log), u"middle-a");
  EXPECT_EQ(close_(log), 0);
}

TEST_F(CallLogLibraryTest, EntryFieldsStringsAndTheirRelease) {
  // Set but empty NameType is a string, not null.
  const CallEntryData full{u"+7 495 123-45-67", u"Иван\tПетров\r\n😀", u"", u"note",
                           0x01D2'3456'789A'BCDEull, 0x01D2'3456'789A'BCDEull + 750'000'000ull,
                           IOM_OUTGOING, true, true, false, true, 2};
  Add(nullptr, full.startTime, full);
  CallEntryData bare;  // no strings at all
  bare.ended = true;
  Add(nullptr, 1, bare);

  HANDLE log = nullptr;
  ASSERT_EQ(open_(&log), 0);
  const long localBefore = LocalBlocks();
  CALLLOGENTRY entry{};
  entry.cbSize = kCallLogEntrySize;
  ASSERT_EQ(get_(log, &entry), 0);
  EXPECT_EQ(entry.cbSize, kCallLogEntrySize);
  // The number, name, times and type as the records' call test reads them.
  EXPECT_EQ(Text(entry.pszNameType), u"");
  EXPECT_EQ(Text(entry.pszNote), u"note");
  // A set one-bit flag reads as -1.
  EXPECT_EQ(std::vector<int>({entry.fOutgoing, entry.fConnected, entry.fEnded, entry.fRoam}),
            std::vector<int>({-1, -1, 0, -1}));
  EXPECT_EQ(entry.cidt, 2);
  EXPECT_EQ(LocalBlocks(), localBefore + 4);
  for (PTSTR* text : {&entry.pszNumber, &entry.pszName, &entry.pszNameType, &entry.pszNote}) {
    EXPECT_EQ(LocalFree(std::exchange(*text, nullptr)), nullptr);
  }
  EXPECT_EQ(LocalBlocks(), localBefore);

  // The same record is reused for the next entry: nothing of the first one remains.
  ASSERT_EQ(get_(log, &entry), 0);
  for (PTSTR text : {entry.pszNumber, entry.pszName, entry.pszNameType, entry.pszNote}) {
    EXPECT_EQ(text, nullptr);
  }
  EXPECT_EQ(std::vector<int>({entry.fOutgoing, entry.fConnected, entry.fEnded, entry.fRoam}),
            std::vector<int>({0, 0, -1, 0}));
  EXPECT_EQ(Ticks(entry.ftStartTime), 1u);
  EXPECT_EQ(LocalBlocks(), localBefore);
  EXPECT_EQ(close_(log), 0);
}

}  // namespace
