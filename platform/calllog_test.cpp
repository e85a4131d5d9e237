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

// The order and the fields of the entries read: the records' call test, through the worker.
TEST_F(CallLogTest, CountWithoutLibraryAfterAnOpenFaultAndAgain) {
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
  handheld::CallEntryData entry;
  entry.number = u"1";
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(handheld::AddCallEntry(entry, &error)) << error;
  EXPECT_EQ(CountCallLog(log), 2);  // closes the log the count before left open
  ASSERT_TRUE(ReadNextCallEntry(log));
  EXPECT_TRUE(ReadNextCallEntry(log));  // the strings of the entry before are not leaked
  FreeCallEntryStrings(log);
}

}  // namespace
