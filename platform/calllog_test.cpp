#include "platform/calllog.h"

#include <cstdlib>
#include <string>

#include "handheld/callstore.h"
#include "handheld/faults.h"
#include "handheld/testing/sandbox.h"

namespace {

class CallLogTest : public handheld::testing::SandboxTest {
 protected:
  void TearDown() override {
    UnloadCallLogLibrary();
    SandboxTest::TearDown();
  }
};

TEST_F(CallLogTest, CountWithoutLibraryAfterAnOpenFaultAndOfAnEmptyLog) {
  setenv("HANDHELD_MODULE_DIR", sandbox().dir().c_str(), 1);  // no phone.so there
  LoadCallLogLibrary();
  EXPECT_FALSE(CallLogLibraryLoaded());
  EXPECT_EQ(CountCallLog(), 0);
  EXPECT_FALSE(ReadNextCallEntry());
  setenv("HANDHELD_MODULE_DIR", handheld::testing::BinDir().c_str(), 1);
  LoadCallLogLibrary();
  ASSERT_TRUE(CallLogLibraryLoaded());
  std::string error;
  ASSERT_TRUE(handheld::ArmFaults("calllog-open", &error)) << error;
  EXPECT_EQ(CountCallLog(), -1);
  EXPECT_FALSE(CallLogOpen());
  EXPECT_FALSE(ReadNextCallEntry());
  EXPECT_EQ(CountCallLog(), 0);  // empty, and left open for the caller to close
  EXPECT_TRUE(CallLogOpen());
  EXPECT_FALSE(ReadNextCallEntry());
}

TEST_F(CallLogTest, EntriesComeFromTheBeginningAfterTheCount) {
  for (const char16_t* number : {u"1", u"3", u"2"}) {
    handheld::CallEntryData entry;
    entry.number = number;
    entry.note = u"note";
    entry.startTime = 1000000000ull * (number[0] - u'0');
    std::string error;
    ASSERT_TRUE(handheld::AddCallEntry(entry, &error)) << error;
  }
  LoadCallLogLibrary();
  ASSERT_EQ(CountCallLog(), 3);
  std::u16string numbers;
  while (ReadNextCallEntry()) {
    EXPECT_EQ(CallEntry.cbSize, kCallLogEntrySize);
    numbers += CallEntry.pszNumber;
    FreeCallEntryStrings();
    EXPECT_EQ(CallEntry.pszNote, nullptr);
  }
  EXPECT_EQ(handheld::testing::U8(numbers), "321");
  EXPECT_EQ(CountCallLog(), 3);  // a second count starts over without leaking the log
  ASSERT_TRUE(ReadNextCallEntry());
  EXPECT_TRUE(ReadNextCallEntry());  // the strings of the entry before are not leaked
  FreeCallEntryStrings();
}

}  // namespace
