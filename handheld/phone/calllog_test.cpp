// The call-log library as the system sees it: loaded as "phone.dll", functions looked
// up by name.
#include <gtest/gtest.h>

#include <string>

#include "handheld/callstore.h"
#include "handheld/census.h"
#include "handheld/faults.h"
#include "handheld/modules.h"
#include "handheld/phone.h"
#include "handheld/testing/sandbox.h"

namespace {

using handheld::CallEntryData;
using handheld::testing::U16;

uint64_t Ticks(const FILETIME& time) {
  return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

std::u16string Text(const char16_t* text) {
  return text ? std::u16string(text) : u"<null>";
}

class CallLogLibraryTest : public handheld::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    module_ = LoadLibraryW(u"phone.dll");
    ASSERT_NE(module_, nullptr) << "phone.so not found in " << handheld::testing::BinDir();
    open_ = reinterpret_cast<PhoneOpenCallLogFn>(GetProcAddress(module_, "PhoneOpenCallLog"));
    seek_ = reinterpret_cast<PhoneSeekCallLogFn>(GetProcAddress(module_, "PhoneSeekCallLog"));
    get_ =
        reinterpret_cast<PhoneGetCallLogEntryFn>(GetProcAddress(module_, "PhoneGetCallLogEntry"));
    close_ = reinterpret_cast<PhoneCloseCallLogFn>(GetProcAddress(module_, "PhoneCloseCallLog"));
    ASSERT_TRUE(open_ && seek_ && get_ && close_);
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
    SandboxTest::TearDown();
  }

  void Add(const CallEntryData& entry) {
    std::string error;
    ASSERT_TRUE(handheld::AddCallEntry(entry, &error)) << error;
  }
  static CallEntryData Call(const char* number, uint64_t start) {
    CallEntryData entry;
    entry.number = U16(number);
    entry.startTime = start;
    entry.endTime = start + 10'000'000;
    return entry;
  }
  // Reads the next entry, frees its strings, and gives its number ("" when it fails).
  std::u16string NextNumber(HANDLE log) {
    CALLLOGENTRY entry{};
    entry.cbSize = kCallLogEntrySize;
    if (get_(log, &entry) != 0) return u"";
    std::u16string number = Text(entry.pszNumber);
    for (PTSTR text : {entry.pszNumber, entry.pszName, entry.pszNameType, entry.pszNote}) {
      LocalFree(text);
    }
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
TEST_F(CallLogLibraryTest, EntriesComeNewestFirstTiesInOrderAddedAndSeekRewinds) {
  HANDLE log = nullptr;
  ASSERT_EQ(open_(&log), 0);
  Add(Call("middle-a", 200'000'000));
  Add(Call("newest", 300'000'000));
  Add(Call("middle-b", 200'000'000));
  Add(Call("oldest", 100'000'000));
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

  EXPECT_EQ(NextNumber(log), u"newest");
  EXPECT_EQ(NextNumber(log), u"middle-a");
  EXPECT_EQ(NextNumber(log), u"middle-b");
  EXPECT_EQ(NextNumber(log), u"oldest");
  EXPECT_EQ(NextNumber(log), u"") << "reading past the last entry must fail";
  EXPECT_EQ(NextNumber(log), u"");

  // Rewinding starts the walk again.
  ASSERT_EQ(seek_(log, CALLLOGSEEK_BEGINNING, 0, &record), 0);
  EXPECT_EQ(NextNumber(log), u"newest");
  EXPECT_EQ(close_(log), 0);
  EXPECT_EQ(handheld::TakeCensus()["calllog"], 0);
}

TEST_F(CallLogLibraryTest, EntryFieldsStringsAndTheirRelease) {
  // Set but empty NameType is a string, not null; both 32-bit halves of the times matter.
  const CallEntryData full{u"+7 495 123-45-67",
                           u"Иван\tПетров\r\n😀",
                           u"",
                           u"note",
                           0x01D2'3456'789A'BCDEull,
                           0x01D2'3456'789A'BCDEull + 75 * 10'000'000ull,
                           IOM_OUTGOING,
                           true,
                           true,
                           false,
                           true,
                           2};
  Add(full);
  CallEntryData bare;  // no strings at all
  bare.startTime = 1;
  bare.ended = true;
  Add(bare);

  HANDLE log = nullptr;
  ASSERT_EQ(open_(&log), 0);
  const long localBefore = handheld::TakeCensus()["local"];

  CALLLOGENTRY entry{};
  entry.cbSize = kCallLogEntrySize;
  ASSERT_EQ(get_(log, &entry), 0);
  EXPECT_EQ(entry.cbSize, kCallLogEntrySize);
  EXPECT_EQ(Text(entry.pszNumber), *full.number);
  EXPECT_EQ(Text(entry.pszName), *full.name);
  ASSERT_NE(entry.pszNameType, nullptr);
  EXPECT_EQ(entry.pszNameType[0], u'\0');
  EXPECT_EQ(Text(entry.pszNote), u"note");
  EXPECT_EQ(Ticks(entry.ftStartTime), full.startTime);
  EXPECT_EQ(Ticks(entry.ftEndTime), full.endTime);
  EXPECT_EQ(entry.iom, IOM_OUTGOING);
  EXPECT_EQ(entry.fOutgoing, -1);
  EXPECT_EQ(entry.fConnected, -1) << "a set one-bit flag reads as -1";
  EXPECT_EQ(entry.fEnded, 0);
  EXPECT_EQ(entry.fRoam, -1);
  EXPECT_EQ(entry.cidt, 2);
  EXPECT_EQ(handheld::TakeCensus()["local"], localBefore + 4);
  for (PTSTR* text : {&entry.pszNumber, &entry.pszName, &entry.pszNameType, &entry.pszNote}) {
    EXPECT_EQ(LocalFree(*text), nullptr);
    *text = nullptr;
  }
  EXPECT_EQ(handheld::TakeCensus()["local"], localBefore);

  // The same record is reused for the next entry: nothing of the first one remains.
  ASSERT_EQ(get_(log, &entry), 0);
  for (PTSTR text : {entry.pszNumber, entry.pszName, entry.pszNameType, entry.pszNote}) {
    EXPECT_EQ(text, nullptr);
  }
  EXPECT_EQ(entry.fOutgoing | entry.fConnected | entry.fRoam, 0);
  EXPECT_EQ(entry.fEnded, -1);
  EXPECT_EQ(Ticks(entry.ftStartTime), 1u);
  EXPECT_EQ(handheld::TakeCensus()["local"], localBefore);
  EXPECT_EQ(close_(log), 0);
}

TEST_F(CallLogLibraryTest, RefusesWrongSizeAndUnknownHandlesWithoutSideEffects) {
  Add(Call("only", 5));
  HANDLE log = nullptr;
  ASSERT_EQ(open_(&log), 0);

  CALLLOGENTRY entry{};
  entry.cbSize = kCallLogEntrySize - 4;
  EXPECT_NE(get_(log, &entry), 0);
  EXPECT_EQ(entry.pszNumber, nullptr);
  EXPECT_NE(get_(log, nullptr), 0);
  EXPECT_EQ(NextNumber(log), u"only") << "a refused read does not move the position";

  EXPECT_EQ(close_(log), 0);
  EXPECT_NE(close_(log), 0) << "a closed handle is not closed twice";
  EXPECT_NE(NextNumber(log), u"only");
  DWORD record = 0;
  EXPECT_NE(seek_(log, CALLLOGSEEK_BEGINNING, 0, &record), 0);
  EXPECT_NE(open_(nullptr), 0);
}

TEST_F(CallLogLibraryTest, FaultsFailOpenAndTheChosenRead) {
  Add(Call("first", 20));
  Add(Call("second", 10));
  std::string error;

  ASSERT_TRUE(handheld::ArmFaults("calllog-open", &error)) << error;
  HANDLE log = reinterpret_cast<HANDLE>(1);
  EXPECT_NE(open_(&log), 0);
  EXPECT_EQ(log, nullptr);
  EXPECT_EQ(handheld::TakeCensus()["calllog"], 0);
  ASSERT_EQ(open_(&log), 0) << "the fault fires once";
  EXPECT_EQ(close_(log), 0);

  ASSERT_TRUE(handheld::ArmFaults("calllog-entry:2", &error)) << error;
  ASSERT_EQ(open_(&log), 0);
  const long localBefore = handheld::TakeCensus()["local"];
  EXPECT_EQ(NextNumber(log), u"first");
  EXPECT_EQ(NextNumber(log), u"") << "the second read fails";
  EXPECT_EQ(handheld::TakeCensus()["local"], localBefore) << "a failed read hands out nothing";
  EXPECT_EQ(NextNumber(log), u"second") << "and does not consume the entry";
  EXPECT_EQ(close_(log), 0);
}

}  // namespace
