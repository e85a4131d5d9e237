#include "records/call.h"

#include <cstdlib>
#include <ctime>
#include <string>

#include "handheld/callstore.h"
#include "handheld/faults.h"
#include "handheld/phone.h"
#include "handheld/testing/sandbox.h"
#include "platform/calllog.h"
#include "worker/testing/job_harness.h"

namespace {

constexpr uint64_t kSecond = 10000000;
constexpr uint64_t kNoonUtc = 1230811200ull * kSecond + 116444736000000000ull;  // 1 Jan 2009

class CallRecordTest : public handheld::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    setenv("TZ", "QMT-3", 1);  // local time is UTC + 3 hours
    tzset();
  }
  void TearDown() override {
    SandboxTest::TearDown();  // gives TZ back
    tzset();
  }
  // Saves the call log as the save-calls command does; the notices it posted. (The
  // worker itself must close the log: the census check of every test sees it.)
  std::string Export() {
    auto run = worker_testing::RunJob({KindCalls, ModeExport, false, path()});
    return worker_testing::Describe(run.notices);
  }
  std::string path() { return sandbox().path("calls.txt"); }
  // The n-th call starts n hours before noon UTC and lasts `ticks`.
  static void AddCall(int n, int64_t ticks, handheld::CallEntryData entry = {}) {
    entry.startTime = kNoonUtc - n * 3600 * kSecond;
    entry.endTime = entry.startTime + ticks;
    std::string error;
    ASSERT_TRUE(handheld::AddCallEntry(entry, &error)) << error;
  }
};

TEST_F(CallRecordTest, ThirteenColumnsPerCall) {
  handheld::CallEntryData full;
  full.number = u"+7 900\t1";
  full.name = u"Ann\r\nB";
  full.nameType = u"m\n";  // a lone LF must not end the record either
  full.note = u"never written";
  full.iom = IOM_OUTGOING;
  full.connected = full.outgoing = true;
  AddCall(0, 75 * kSecond, full);
  AddCall(1, 60 * kSecond);
  handheld::CallEntryData missed;
  missed.ended = missed.roam = true;
  AddCall(2, 3725 * kSecond, missed);
  AddCall(3, 599 * kSecond / 10);
  AddCall(4, -5 * static_cast<int64_t>(kSecond));  // ends before it starts
  EXPECT_EQ(Export(), "1/503 3/20 3/40 3/60 3/80 3/100 4/518+5 0/0");
  const std::string expected =
      "+7 900,1\t1\t1\t2009\t15\t0\t0\t1\t15\t2\t-1\tAnn\\nB\tm\\n\t\r\n"
      "\t1\t1\t2009\t14\t0\t0\t1\t0\t0\t0\t\t\t\r\n"
      "\t1\t1\t2009\t13\t0\t0\t62\t5\t0\t0\t\t\t\r\n"
      "\t1\t1\t2009\t12\t0\t0\t0\t59\t0\t0\t\t\t\r\n"
      "\t1\t1\t2009\t11\t0\t0\t0\t0\t0\t0\t\t\t\r\n";
  EXPECT_EQ(handheld::testing::ReadFileBytes(path()),
            handheld::testing::Utf16LeBytes(handheld::testing::U16(expected), true));
}

TEST_F(CallRecordTest, FetchAndWriteFaultsStillFreeTheStrings) {
  handheld::CallEntryData entry;
  entry.number = u"1";
  entry.name = u"n";
  entry.note = u"x";
  AddCall(0, kSecond, entry);
  AddCall(1, kSecond, entry);
  // The census check of every run covers the strings of the entries read.
  for (const char* fault : {"calllog-entry:2", "write:10"}) {
    std::string error;
    ASSERT_TRUE(handheld::ArmFaults(fault, &error)) << error;
    const std::string notices = Export();
    EXPECT_EQ(notices, fault[0] == 'c' ? "1/503 3/50 2/533 0/0" : "1/503 2/607 0/0");
  }
}

}  // namespace
