#include "format/writers.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "format/linebuffer.h"
#include "handheld/faults.h"
#include "handheld/files.h"
#include "handheld/testing/sandbox.h"
#include "worker/jobcontext.h"

namespace {

using handheld::testing::ReadFileBytes;
using handheld::testing::U16;
using handheld::testing::U8;

class WritersTest : public handheld::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    path_ = sandbox().path("out.txt");
    JobContext.file = CreateFileW(U16(path_).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(JobContext.file, INVALID_HANDLE_VALUE);
    RunFault = FaultNone;
  }
  void TearDown() override {
    CloseFile();
    RunFault = FaultNone;
    SandboxTest::TearDown();
  }
  void CloseFile() {
    if (JobContext.file == INVALID_HANDLE_VALUE) return;
    CloseHandle(JobContext.file);
    JobContext.file = INVALID_HANDLE_VALUE;
  }
  // What reached the file, as UTF-8 (TAB, CR, LF and zeros kept).
  std::string Written() {
    CloseFile();
    const std::string bytes = ReadFileBytes(path_);
    std::u16string text(bytes.size() / 2, u'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * 2);
    return U8(text);
  }
  std::string path_;
};

// The stored string goes through EscapeText and WriteTextField as a record writer does.
void WriteStoreText(const std::u16string& text) {
  BSTR value = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  WriteTextField(EscapeText(S_OK, value), value);
}

TEST_F(WritersTest, TextFieldsAreEscapedOverTheirWholeLength) {
  WriteStoreText(u"a\r\nb\tc");
  WriteStoreText(u"x\t");
  WriteStoreText(u"\t");
  WriteStoreText(u"\r\r\n");
  WriteStoreText(u"one\ntwo\\n\r");
  WriteStoreText(std::u16string(u"a\0\tb\r\n", 6));  // a zero inside the stored length
  WriteStoreText(u"");
  WriteTextField(S_OK, nullptr);
  std::memcpy(LineBuffer, u"composed", sizeof u"composed");
  WriteTextField(S_OK, LineBuffer);  // written up to its zero, never released
  EXPECT_EQ(RunFault, FaultNone);
  const char expected[] = "a\\nb,c\tx,\t,\t\r\\n\tone\ntwo\\n\r\ta\0,b\\n\t\t\tcomposed\t";
  EXPECT_EQ(Written(), std::string(expected, sizeof expected - 1));
}

TEST_F(WritersTest, DatesInsideTheRangeOnlyWithSecondsDropped) {
  const DATE dates[] = {39217.5,
                        0,
                        401769,  // 1 January 3000
                        kEarliestDate,
                        kLatestDate,
                        2.33,
                        401768.3,
                        39217 + 86399.7 / 86400,          // 23:59:59.7
                        39217 + (12 * 60 + 34) / 1440.0,  // 12:34 as the store keeps it
                        39217 + (10 * 3600 + 5 * 60 + 59.6) / 86400};  // 10:05:59.6
  for (DATE date : dates) WriteDateField(S_OK, date);
  for (DATE date : dates) WriteDateTimeField(S_OK, date);
  EXPECT_EQ(RunFault, FaultNone);
  EXPECT_EQ(Written(),
            "15\t5\t2007\t"
            "\t\t\t"
            "\t\t\t"
            "\t\t\t"
            "\t\t\t"
            "1\t1\t1900\t"
            "31\t12\t2999\t"
            "15\t5\t2007\t"
            "15\t5\t2007\t"
            "15\t5\t2007\t"
            "15\t5\t2007\t12\t0\t"
            "\t\t\t\t\t"
            "\t\t\t\t\t"
            "\t\t\t\t\t"
            "\t\t\t\t\t"
            "1\t1\t1900\t7\t55\t"
            "31\t12\t2999\t7\t12\t"
            "15\t5\t2007\t23\t59\t"
            "15\t5\t2007\t12\t34\t"
            "15\t5\t2007\t10\t5\t");
}

TEST_F(WritersTest, NumbersBooleansAndEmptyRuns) {
  WriteLongField(S_OK, -3);
  WriteLongField(S_OK, 0);
  WriteLongField(S_OK, INT32_MIN);
  WriteLongField(S_OK, INT32_MAX);
  WriteBoolField(S_OK, VARIANT_TRUE);
  WriteBoolField(S_OK, VARIANT_FALSE);
  WriteEmptyFields(4);
  WriteEmptyFields(13);
  EXPECT_EQ(Written(), "-3\t0\t-2147483648\t2147483647\t1\t0\t\t\t\t\t" + std::string(13, '\t'));
}

TEST_F(WritersTest, TimestampIsWrittenInLocalTime) {
  const char* saved = std::getenv("TZ");
  const std::string savedZone = saved ? saved : "";
  setenv("TZ", "QMT-3", 1);  // three hours east of UTC, no daylight saving
  tzset();
  // 15 May 2007 21:30:45.9 UTC
  const uint64_t ticks = (1179264645ull * 10000000ull) + 116444736000000000ull + 9000000ull;
  const FILETIME utc = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  WriteTimestampField(utc);
  const FILETIME beyond = {0xFFFFFFFFu, 0xFFFFFFFFu};  // past year 30827: cannot convert
  WriteTimestampField(beyond);
  if (saved) {
    setenv("TZ", savedZone.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
  EXPECT_EQ(Written(), "16\t5\t2007\t0\t30\t45\t\t\t\t\t\t\t");
}

TEST_F(WritersTest, FailedReadStopsTheRecordAndStillReleases) {
  WriteStoreText(u"kept");
  BSTR lost = SysAllocString(u"lost");
  WriteTextField(EscapeText(E_FAIL, lost), lost);
  EXPECT_EQ(RunFault, FaultRead);
  WriteStoreText(u"after");  // released although not written
  WriteDateField(S_OK, 39217.5);
  WriteDateTimeField(S_OK, 39217.5);
  WriteLongField(S_OK, 5);
  WriteBoolField(S_OK, VARIANT_TRUE);
  WriteTimestampField(FILETIME{0, 30000000});
  WriteEmptyFields(3);
  WriteChar(u'\r');
  WriteChar(u'\n');
  EXPECT_EQ(RunFault, FaultRead);
  EXPECT_EQ(Written(), "kept\t");

  for (auto write :
       {+[] { WriteDateField(E_FAIL, 39217.5); }, +[] { WriteDateTimeField(E_FAIL, 39217.5); },
        +[] { WriteLongField(E_FAIL, 1); }, +[] { WriteBoolField(E_FAIL, 0); }}) {
    RunFault = FaultNone;
    write();
    EXPECT_EQ(RunFault, FaultRead);
  }
}

TEST_F(WritersTest, FailedOrShortWriteSetsTheWriteFault) {
  for (const char* fault : {"write:2", "shortwrite:2"}) {
    std::string error;
    ASSERT_TRUE(handheld::ArmFaults(fault, &error)) << error;
    RunFault = FaultNone;
    WriteLongField(S_OK, 7);  // first write
    EXPECT_EQ(RunFault, FaultNone);
    WriteStoreText(u"text");  // the text fails, its TAB is not tried
    EXPECT_EQ(RunFault, FaultWrite) << fault;
    WriteChar(u'\r');
    EXPECT_EQ(RunFault, FaultWrite);
  }
  EXPECT_EQ(Written().substr(0, 4), "7\t7\t");
}

}  // namespace
