#include "records/call.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "format/linebuffer.h"
#include "handheld/callstore.h"
#include "handheld/faults.h"
#include "handheld/files.h"
#include "handheld/testing/sandbox.h"
#include "platform/calllog.h"
#include "worker/jobcontext.h"

namespace {

using handheld::testing::ReadFileBytes;
using handheld::testing::U16;
using handheld::testing::U8;

constexpr uint64_t kSecond = 10000000;
// 1 January 2009 12:00:00 UTC as FILETIME ticks.
constexpr uint64_t kNoonUtc = (1230811200ull * kSecond) + 116444736000000000ull;

class CallRecordTest : public handheld::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    const char* zone = std::getenv("TZ");
    hadZone_ = zone != nullptr;
    if (hadZone_) savedZone_ = zone;
    setenv("TZ", "QMT-3", 1);  // local time is UTC + 3 hours
    tzset();
    path_ = sandbox().path("calls.txt");
    JobContext.file = CreateFileW(U16(path_).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(JobContext.file, INVALID_HANDLE_VALUE);
  }
  void TearDown() override {
    CloseFile();
    UnloadCallLogLibrary();
    if (hadZone_) {
      setenv("TZ", savedZone_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
    SandboxTest::TearDown();
  }
  void CloseFile() {
    if (JobContext.file == INVALID_HANDLE_VALUE) return;
    CloseHandle(JobContext.file);
    JobContext.file = INVALID_HANDLE_VALUE;
  }
  std::string Written() {
    CloseFile();
    const std::string bytes = ReadFileBytes(path_);
    std::u16string text(bytes.size() / 2, u'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * 2);
    return U8(text);
  }
  // The n-th call starts n hours before noon and lasts `ticks`.
  static void AddCall(int n, int64_t ticks, handheld::CallEntryData entry) {
    entry.startTime = kNoonUtc - n * 3600 * kSecond;
    entry.endTime = entry.startTime + ticks;
    std::string error;
    ASSERT_TRUE(handheld::AddCallEntry(entry, &error)) << error;
  }
  // Writes `count` records as the export run does, each from a cleared RunFault.
  static void WriteCalls(int count) {
    LoadCallLogLibrary();
    ASSERT_EQ(CountCallLog(), count);
    for (int i = 1; i <= count; ++i) {
      RunFault = FaultNone;
      WriteCallRecord(i);
      EXPECT_EQ(RunFault, FaultNone) << "call " << i;
    }
  }
  std::string path_;
  std::string savedZone_;
  bool hadZone_ = false;
};

TEST_F(CallRecordTest, ThirteenColumnsPerCall) {
  handheld::CallEntryData full;
  full.number = u"+7 900\t1";
  full.name = u"Ann\r\nB";
  full.nameType = u"m";
  full.note = u"never written";
  full.iom = IOM_OUTGOING;
  full.connected = true;
  full.outgoing = true;
  AddCall(0, 75 * kSecond, full);
  AddCall(1, 60 * kSecond, {});
  handheld::CallEntryData missed;
  missed.iom = IOM_MISSED;
  missed.ended = true;
  missed.roam = true;
  AddCall(2, 3725 * kSecond, missed);
  AddCall(3, 599 * kSecond / 10, {});
  AddCall(4, -5 * kSecond, {});  // ends before it starts
  WriteCalls(5);
  EXPECT_EQ(Written(),
            "+7 900\t1\t1\t1\t2009\t15\t0\t0\t1\t15\t2\t-1\tAnn\r\nB\tm\t\r\n"
            "\t1\t1\t2009\t14\t0\t0\t1\t0\t0\t0\t\t\t\r\n"
            "\t1\t1\t2009\t13\t0\t0\t62\t5\t0\t0\t\t\t\r\n"
            "\t1\t1\t2009\t12\t0\t0\t0\t59\t0\t0\t\t\t\r\n"
            "\t1\t1\t2009\t11\t0\t0\t0\t0\t0\t0\t\t\t\r\n");
}

TEST_F(CallRecordTest, EntryThatCannotBeFetchedWritesNothing) {
  handheld::CallEntryData entry;
  entry.number = u"1";
  entry.name = u"n";
  AddCall(0, kSecond, entry);
  AddCall(1, kSecond, entry);
  std::string error;
  ASSERT_TRUE(handheld::ArmFaults("calllog-entry:2", &error)) << error;
  LoadCallLogLibrary();
  ASSERT_EQ(CountCallLog(), 2);
  RunFault = FaultNone;
  WriteCallRecord(1);
  EXPECT_EQ(RunFault, FaultNone);
  WriteCallRecord(2);
  EXPECT_EQ(RunFault, FaultFetch);
  RunFault = FaultNone;
  WriteCallRecord(3);  // the refused entry is still the next one
  EXPECT_EQ(RunFault, FaultNone);
  WriteCallRecord(4);  // past the last entry
  EXPECT_EQ(RunFault, FaultFetch);
  EXPECT_EQ(Written(),
            "1\t1\t1\t2009\t15\t0\t0\t0\t1\t0\t0\tn\t\t\r\n"
            "1\t1\t1\t2009\t14\t0\t0\t0\t1\t0\t0\tn\t\t\r\n");
}

TEST_F(CallRecordTest, FailedWriteStillFreesTheStrings) {
  handheld::CallEntryData entry;
  entry.number = u"12345";
  entry.name = u"Name";
  entry.nameType = u"w";
  entry.note = u"x";
  AddCall(0, kSecond, entry);
  std::string error;
  ASSERT_TRUE(handheld::ArmFaults("write:3", &error)) << error;
  LoadCallLogLibrary();
  ASSERT_EQ(CountCallLog(), 1);
  RunFault = FaultNone;
  WriteCallRecord(1);
  EXPECT_EQ(RunFault, FaultWrite);
  EXPECT_EQ(CallEntry.pszName, nullptr);
  EXPECT_EQ(Written(), "12345\t");  // the census check in TearDown covers the strings
}

}  // namespace
