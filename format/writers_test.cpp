#include "format/writers.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <memory>

#include "handheld/faults.h"
#include "handheld/files.h"
#include "handheld/testing/sandbox.h"

namespace {

class WritersTest : public handheld::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    out.file = CreateFileW(handheld::testing::U16(path()).c_str(), GENERIC_WRITE, 0, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  void TearDown() override {
    Written();
    SandboxTest::TearDown();  // gives TZ back
    tzset();
  }
  std::string path() { return sandbox().path("out.txt"); }
  // Closes the file and gives what reached it as UTF-8 (TAB, CR, LF and zeros kept).
  std::string Written() {
    if (out.file != INVALID_HANDLE_VALUE) CloseHandle(out.file);
    out.file = INVALID_HANDLE_VALUE;
    const std::string bytes = handheld::testing::ReadFileBytes(path());
    std::u16string text(bytes.size() / 2, u'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * 2);
    return handheld::testing::U8(text);
  }
  // As a record writer does: EscapeText, then WriteTextField.
  void WriteStoreText(const std::u16string& text) {
    BSTR value = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    const HRESULT status = EscapeText(S_OK, &value);
    WriteTextField(out, status, value);
  }
  std::unique_ptr<FieldOutput> owned = std::make_unique<FieldOutput>();
  FieldOutput& out = *owned;
};

// Every line break, lone LF and lone CR included, leaves as "\n": a lone LF would end
// the record on loading and split it in two, a lone CR would be dropped.
TEST_F(WritersTest, TextFieldsAreEscapedOverTheirWholeLength) {
  for (const char16_t* text : {u"a\r\nb\tc", u"x\t", u"\t", u"\r\r\n", u"1\n2\\n\r", u""}) {
    WriteStoreText(text);
  }
  WriteStoreText(std::u16string(u"a\0\tb\r\n", 6));  // a zero inside the stored length
  WriteTextField(out, S_OK, nullptr);
  std::memcpy(out.lineBuffer, u"made", sizeof u"made");
  WriteTextField(out, S_OK, out.lineBuffer);  // up to its zero, never released
  const char expected[] = "a\\nb,c\tx,\t,\t\\n\\n\t1\\n2\\n\\n\t\ta\0,b\\n\t\tmade\t";
  EXPECT_EQ(Written(), std::string(expected, sizeof expected - 1));
}

// Texts are passed over several code units at a time: a TAB or CR LF must be found at
// every position of texts of every length, beside units that look like them in part.
TEST_F(WritersTest, EscapingFindsTabsAndLineEndsAtEveryPosition) {
  const char16_t neighbours[] = {u'a', 0x000E, 0x800D, 0x8009, 0xFFFF, u'\0', u'\n', u'\r'};
  std::string expected;
  for (size_t length = 1; length <= 11; ++length) {
    for (size_t at = 0; at < length; ++at) {
      for (char16_t around : neighbours) {
        for (const char16_t* control : {u"\t", u"\r\n", u"\r"}) {
          std::u16string text(length, around);
          text.replace(at, std::char_traits<char16_t>::length(control), control);
          text.resize(length);
          WriteStoreText(text);
          // The same text escaped one unit at a time.
          std::u16string escaped;
          for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
              escaped += u"\\n";
              ++i;
            } else if (text[i] == u'\r' || text[i] == u'\n') {
              escaped += u"\\n";
            } else {
              escaped += text[i] == u'\t' ? u',' : text[i];
            }
          }
          expected += handheld::testing::U8(escaped) + "\t";
        }
      }
    }
  }
  EXPECT_EQ(Written(), expected);
}

TEST_F(WritersTest, DatesStrictlyInsideTheRangeWithSecondsDropped) {
  const DATE dates[] = {39217.5,
                        0,
                        401769 /* 1 Jan 3000 */,
                        kEarliestDate,
                        kLatestDate,
                        2.33,
                        401768.3,
                        39217 + 86399.7 / 86400 /* 23:59:59.7 */,
                        39217 + 754 / 1440.0 /* 12:34 */,
                        39217 + 36359.6 / 86400 /* 10:05:59.6 */};
  for (DATE date : dates) WriteDateField(out, S_OK, date);
  for (DATE date : dates) WriteDateTimeField(out, S_OK, date);
  EXPECT_EQ(Written(), "15\t5\t2007\t" + std::string(12, '\t') + "1\t1\t1900\t31\t12\t2999\t" +
                           "15\t5\t2007\t15\t5\t2007\t15\t5\t2007\t" + "15\t5\t2007\t12\t0\t" +
                           std::string(20, '\t') + "1\t1\t1900\t7\t55\t31\t12\t2999\t7\t12\t" +
                           "15\t5\t2007\t23\t59\t15\t5\t2007\t12\t34\t15\t5\t2007\t10\t5\t");
}

TEST_F(WritersTest, NumbersBooleansEmptyRunsAndLocalTimestamps) {
  for (int32_t value : {-3, 0, INT32_MIN, INT32_MAX}) WriteLongField(out, S_OK, value);
  WriteBoolField(out, S_OK, VARIANT_TRUE);
  WriteBoolField(out, S_OK, VARIANT_FALSE);
  WriteEmptyFields(out, 4);
  setenv("TZ", "QMT-3", 1);  // three hours east of UTC, no daylight saving
  tzset();
  // 15 May 2007 21:30:45.9 UTC; then a time past year 30827 that cannot be converted.
  const uint64_t ticks = 1179264645ull * 10000000 + 116444736000000000ull + 9000000;
  WriteTimestampField(out, FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)});
  WriteTimestampField(out, FILETIME{0xFFFFFFFFu, 0xFFFFFFFFu});
  EXPECT_EQ(Written(), "-3\t0\t-2147483648\t2147483647\t1\t0\t\t\t\t\t16\t5\t2007\t0\t30\t45\t" +
                           std::string(6, '\t'));
}

TEST_F(WritersTest, FailedReadStopsTheRecordAndStillReleases) {
  WriteStoreText(u"kept");
  BSTR lost = SysAllocString(u"lost");
  const HRESULT status = EscapeText(E_FAIL, &lost);
  WriteTextField(out, status, lost);
  EXPECT_EQ(out.runFault, FaultRead);
  WriteStoreText(u"after");  // released although not written (census)
  WriteDateField(out, S_OK, 39217.5);
  WriteLongField(out, S_OK, 5);
  WriteTimestampField(out, FILETIME{0, 30000000});
  WriteEmptyFields(out, 3);
  WriteChar(out, u'\r');
  EXPECT_EQ(Written(), "kept\t");
  for (auto write : {+[](FieldOutput& o) { WriteDateField(o, E_FAIL, 1e4); },
                     +[](FieldOutput& o) { WriteDateTimeField(o, E_FAIL, 1e4); },
                     +[](FieldOutput& o) { WriteLongField(o, E_FAIL, 1); },
                     +[](FieldOutput& o) { WriteBoolField(o, E_FAIL, 0); }}) {
    out.runFault = FaultNone;
    write(out);
    EXPECT_EQ(out.runFault, FaultRead);
  }
}

TEST_F(WritersTest, FailedOrShortWriteSetsTheWriteFault) {
  for (const char* fault : {"write:2", "shortwrite:2"}) {
    std::string error;
    ASSERT_TRUE(handheld::ArmFaults(fault, &error)) << error;
    out.runFault = FaultNone;
    WriteLongField(out, S_OK, 7);
    WriteStoreText(u"text");  // the text fails; its TAB is not tried
    EXPECT_EQ(out.runFault, FaultWrite) << fault;
  }
  EXPECT_EQ(Written().substr(0, 4), "7\t7\t");
}

}  // namespace
