#include "platform/calllog.h"

#include <cstdlib>
#include <string>

#include "handheld/callstore.h"
#include "handheld/faults.h"
#include "handheld/testing/sandbox.h"

namespace {

using handheld::testing::U8;

class CallLogTest : public handheld::testing::SandboxTest {
 protected:
  void TearDown() override {
    UnloadCallLogLibrary();
    SandboxTest::TearDown();
  }
  void AddCall(const char16_t* number, uint64_t start) {
    handheld::CallEntryData entry;
    entry.number = number;
    entry.note = u"note";
    entry.startTime = start;
    entry.endTime = start + 10;
    std::string error;
    ASSERT_TRUE(handheld::AddCallEntry(entry, &error)) << error;
  }
};

TEST_F(CallLogTest, WithoutTheLibraryThereIsNothingToCount) {
  setenv("HANDHELD_MODULE_DIR", sandbox().dir().c_str(), 1);  // no phone.so there
  LoadCallLogLibrary();
  EXPECT_FALSE(CallLogLibraryLoaded());
  EXPECT_EQ(CountCallLog(), 0);
  EXPECT_FALSE(CallLogOpen());
  EXPECT_FALSE(ReadNextCallEntry());
}

TEST_F(CallLogTest, OpenFaultCountsMinusOne) {
  LoadCallLogLibrary();
  ASSERT_TRUE(CallLogLibraryLoaded());
  std::string error;
  ASSERT_TRUE(handheld::ArmFaults("calllog-open", &error)) << error;
  EXPECT_EQ(CountCallLog(), -1);
  EXPECT_FALSE(CallLogOpen());
  EXPECT_FALSE(ReadNextCallEntry());
}

TEST_F(CallLogTest, EmptyLogCountsZeroAndStaysOpen) {
  LoadCallLogLibrary();
  EXPECT_EQ(CountCallLog(), 0);
  EXPECT_TRUE(CallLogOpen());
  EXPECT_FALSE(ReadNextCallEntry());
  CloseCallLog();
  EXPECT_FALSE(CallLogOpen());
}

TEST_F(CallLogTest, EntriesComeFromTheBeginningAfterTheCount) {
  AddCall(u"100", 3000000000);
  AddCall(u"300", 1000000000);
  AddCall(u"200", 2000000000);
  LoadCallLogLibrary();
  ASSERT_EQ(CountCallLog(), 3);
  std::string numbers;
  while (ReadNextCallEntry()) {
    EXPECT_EQ(CallEntry.cbSize, kCallLogEntrySize);
    numbers += U8(CallEntry.pszNumber) + " ";
    FreeCallEntryStrings();
    EXPECT_EQ(CallEntry.pszNumber, nullptr);
    EXPECT_EQ(CallEntry.pszNote, nullptr);
  }
  EXPECT_EQ(numbers, "100 200 300 ");
  // A second count of the still open log starts over; nothing is leaked.
  EXPECT_EQ(CountCallLog(), 3);
  ASSERT_TRUE(ReadNextCallEntry());
  // Unloading closes the log and frees the library; the census (TearDown) must be
  // zero once the last entry's strings are freed.
  FreeCallEntryStrings();
  UnloadCallLogLibrary();
  EXPECT_FALSE(CallLogOpen());
  EXPECT_FALSE(CallLogLibraryLoaded());
}

}  // namespace
