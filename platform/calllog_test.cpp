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
    UnloadCallLogLibrary(log);
    SandboxTest::TearDown();
  }
  CallLog log;
};

TEST_F(CallLogTest, CountWithoutLibraryAfterAnOpenFaultAndOfAnEmptyLog) {
  setenv("HANDHELD_MODULE_DIR", sandbox().dir().c_str(), 1);  // no phone.so there
  LoadCallLogLibrary(log);
  EXPECT_FALSE(CallLogLibraryLoaded(log));
  EXPECT_EQ(CountCallLog(log), 0);
  EXPECT_FALSE(ReadNextCallEntry(log));
  setenv("HANDHELD_MODULE_DIR", handheld::testing::BinDir().c_str(), 1);
  LoadCallLogLibrary(log);
  ASSERT_TRUE(CallLogLibraryLoaded(log));
  std::string error;
  ASSERT_TRUE(handheld::ArmFaults("calllog-open", &error)) << error;
  EXPECT_EQ(CountCallLog(log), -1);
  EXPECT_FALSE(CallLogOpen(log));
  EXPECT_FALSE(ReadNextCallEntry(log));
  EXPECT_EQ(CountCallLog(log), 0);  // empty, and left open for the caller to close
  EXPECT_TRUE(CallLogOpen(log));
  EXPECT_FALSE(ReadNextCallEntry(log));
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
  LoadCallLogLibrary(log);
  ASSERT_EQ(CountCallLog(log), 3);
  std::u16string numbers;
  while (ReadNextCallEntry(log)) {
    EXPECT_EQ(log.entry.cbSize, kCallLogEntrySize);
    numbers += log.entry.pszNumber;
    FreeCallEntryStrings(log);
    EXPECT_EQ(log.entry.pszNote, nullptr);
  }
  EXPECT_EQ(handheld::testing::U8(numbers), "321");
  EXPECT_EQ(CountCallLog(log), 3);  // a second count starts over without leaking the log
  ASSERT_TRUE(ReadNextCallEntry(log));
  EXPECT_TRUE(ReadNextCallEntry(log));  // the strings of the entry before are not leaked
  FreeCallEntryStrings(log);
}

}  // namespace
