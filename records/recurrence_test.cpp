#include "records/recurrence.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "format/linebuffer.h"
#include "handheld/files.h"
#include "records/kinds.h"
#include "records/schedule_test_support.h"

namespace {

using schedule_testing::U16;

constexpr DATE k15May2007 = 39217.0;
constexpr DATE k31Dec2007 = 39447.0;

// Stands between the import and an item's pattern: forwards every call to the real
// pattern and logs the setters it receives, with the store's answer.
class LoggingPattern final : public IRecurrencePattern {
 public:
  LoggingPattern(IRecurrencePattern* real, std::vector<std::string>* log)
      : real_(real), log_(log) {}

  HRESULT QueryInterface(REFIID riid, void** object) override {
    return real_->QueryInterface(riid, object);
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    const ULONG left = --references_;
    if (left == 0) {
      log_->push_back("released");
      real_->Release();
      delete this;
    }
    return left;
  }

#define FORWARD(Type, Name)                                          \
  HRESULT get_##Name(Type* value) override {                         \
    return real_->get_##Name(value);                                 \
  }                                                                  \
  HRESULT put_##Name(Type value) override {                          \
    const HRESULT result = real_->put_##Name(value);                 \
    log_->push_back(std::string(#Name "=") + std::to_string(value) + \
                    (FAILED(result) ? " refused" : ""));             \
    return result;                                                   \
  }
  FORWARD(LONG, RecurrenceType)
  FORWARD(LONG, Interval)
  FORWARD(LONG, DayOfWeekMask)
  FORWARD(LONG, DayOfMonth)
  FORWARD(LONG, Instance)
  FORWARD(LONG, MonthOfYear)
  FORWARD(DATE, PatternStartDate)
  FORWARD(VARIANT_BOOL, NoEndDate)
  FORWARD(LONG, Occurrences)
  FORWARD(DATE, PatternEndDate)
#undef FORWARD

 private:
  ~LoggingPattern() = default;
  IRecurrencePattern* real_;
  std::vector<std::string>* log_;
  ULONG references_ = 1;
};

std::vector<std::string>* patternLog = nullptr;

// The getter that the import is given: logs the call and wraps the pattern.
HRESULT LoggingGetter(IDispatch* item, IRecurrencePattern** pattern) {
  patternLog->push_back("GetRecurrencePattern");
  IRecurrencePattern* real = nullptr;
  const HRESULT result = static_cast<IAppointment*>(item)->GetRecurrencePattern(&real);
  *pattern = SUCCEEDED(result) && real != nullptr ? new LoggingPattern(real, patternLog) : real;
  return result;
}

HRESULT FailingGetter(IDispatch*, IRecurrencePattern** pattern) {
  patternLog->push_back("GetRecurrencePattern failed");
  *pattern = nullptr;
  return E_FAIL;
}

class RecurrenceTest : public schedule_testing::ScheduleTest {
 protected:
  void SetUp() override {
    ScheduleTest::SetUp();
    patternLog = &log_;
    OpenPattern = nullptr;
    PatternType = -1;
    DateParts = {};
  }
  void TearDown() override {
    if (OpenPattern != nullptr) OpenPattern->Release();
    OpenPattern = nullptr;
    PatternType = -1;
    patternLog = nullptr;
    ScheduleTest::TearDown();
  }

  // Writes one block to a file of its own and returns its fields.
  std::vector<std::u16string> WriteBlock(HRESULT patternStatus, IRecurrencePattern* pattern,
                                         HRESULT recurringStatus, VARIANT_BOOL recurring) {
    const std::u16string path = U16(sandbox().path("block.txt"));
    JobContext.file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(JobContext.file, INVALID_HANDLE_VALUE);
    WriteRecurrenceBlock(patternStatus, pattern, recurringStatus, recurring);
    CloseHandle(JobContext.file);
    JobContext.file = INVALID_HANDLE_VALUE;
    const std::string bytes = handheld::testing::ReadFileBytes(sandbox().path("block.txt"));
    std::vector<std::u16string> fields{u""};
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
      const char16_t unit = static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                                  static_cast<uint8_t>(bytes[i + 1]) << 8);
      if (unit == u'\t') {
        fields.emplace_back();
      } else {
        fields.back() += unit;
      }
    }
    if (fields.back().empty()) fields.pop_back();  // the last field's TAB
    return fields;
  }

  // Saves an appointment with the pattern that `shape` gives it and writes its block.
  template <typename Shape>
  std::vector<std::u16string> ExportPattern(Shape shape) {
    IAppointment* appointment = CreateAppointment();
    appointment->put_Start(k15May2007 + 0.375);
    appointment->put_End(k15May2007 + 0.4375);
    IRecurrencePattern* pattern = nullptr;
    EXPECT_TRUE(SUCCEEDED(appointment->GetRecurrencePattern(&pattern)));
    shape(pattern);
    pattern->Release();
    appointment->Save();
    pattern = nullptr;
    const HRESULT patternStatus = appointment->GetRecurrencePattern(&pattern);
    VARIANT_BOOL recurring = VARIANT_FALSE;
    const HRESULT recurringStatus = appointment->get_IsRecurring(&recurring);
    RunFault = FaultNone;
    std::vector<std::u16string> fields =
        WriteBlock(patternStatus, pattern, recurringStatus, recurring);
    appointment->Release();
    return fields;
  }

  // Hands the block's fields, in column order, to the import as the reader would.
  void ApplyBlock(IDispatch* item, const std::map<int, std::u16string>& fields,
                  PatternGetter getter = LoggingGetter) {
    for (const auto& [offset, text] : fields) {
      ASSERT_LE(text.size(), static_cast<size_t>(RecurrenceColumnLimit(offset)));
      text.copy(LineBuffer, text.size());
      LineBuffer[text.size()] = 0;
      ApplyRecurrenceColumn(item, getter, offset);
    }
  }

  // Saves the item, releases the open pattern, and returns the log.
  std::vector<std::string> EndRecord(IAppointment* appointment) {
    appointment->Save();
    if (OpenPattern != nullptr) OpenPattern->Release();
    OpenPattern = nullptr;
    PatternType = -1;
    return log_;
  }

  std::vector<std::string> log_;
};

using Fields = std::vector<std::u16string>;

// The log without the store's answers: what the import asked for.
std::vector<std::string> Calls(std::vector<std::string> log) {
  for (std::string& entry : log) {
    if (entry.ends_with(" refused")) entry.resize(entry.size() - 8);
  }
  return log;
}

TEST_F(RecurrenceTest, ExportWritesTheColumnsThatTheTypeCarries) {
  // Not repeating: 13 empty fields.
  EXPECT_EQ(ExportPattern([](IRecurrencePattern*) {}), Fields(13, u""));

  // Weekly every 2 weeks on Monday and Wednesday, no end.
  EXPECT_EQ(ExportPattern([](IRecurrencePattern* pattern) {
              pattern->put_RecurrenceType(olRecursWeekly);
              pattern->put_Interval(2);
              pattern->put_DayOfWeekMask(10);
              pattern->put_PatternStartDate(k15May2007);
            }),
            (Fields{u"1", u"2", u"10", u"", u"", u"", u"15", u"5", u"2007", u"", u"", u"", u""}));

  // Yearly on 15 May, ten times: interval, mask and instance stay empty.
  EXPECT_EQ(ExportPattern([](IRecurrencePattern* pattern) {
              pattern->put_RecurrenceType(olRecursYearly);
              pattern->put_DayOfMonth(15);
              pattern->put_MonthOfYear(5);
              pattern->put_PatternStartDate(k15May2007);
              pattern->put_NoEndDate(VARIANT_FALSE);
              pattern->put_Occurrences(10);
            }),
            (Fields{u"5", u"", u"", u"15", u"", u"5", u"15", u"5", u"2007", u"10", u"", u"", u""}));

  // Monthly on the second Tuesday, until the end of 2007.
  const Fields monthNth = ExportPattern([](IRecurrencePattern* pattern) {
    pattern->put_RecurrenceType(olRecursMonthNth);
    pattern->put_Interval(1);
    pattern->put_DayOfWeekMask(4);
    pattern->put_Instance(2);
    pattern->put_PatternStartDate(k15May2007);
    pattern->put_NoEndDate(VARIANT_FALSE);
    pattern->put_PatternEndDate(k31Dec2007);
  });
  ASSERT_EQ(monthNth.size(), 13u);
  EXPECT_EQ(Fields(monthNth.begin(), monthNth.begin() + 9),
            (Fields{u"3", u"1", u"4", u"", u"2", u"", u"15", u"5", u"2007"}));
  EXPECT_EQ(Fields(monthNth.begin() + 10, monthNth.end()), (Fields{u"31", u"12", u"2007"}));
}

TEST_F(RecurrenceTest, ExportFailuresFaultTheRecordAndStillReleaseThePattern) {
  IAppointment* appointment = CreateAppointment();
  struct Case {
    HRESULT patternStatus;
    HRESULT recurringStatus;
    int32_t faultBefore;
    int32_t faultAfter;
  };
  for (const Case& c :
       {Case{E_FAIL, S_OK, FaultNone, FaultRead}, Case{S_OK, E_FAIL, FaultNone, FaultRead},
        Case{S_OK, S_OK, FaultWrite, FaultWrite}}) {
    IRecurrencePattern* pattern = nullptr;
    ASSERT_TRUE(SUCCEEDED(appointment->GetRecurrencePattern(&pattern)));
    RunFault = c.faultBefore;
    EXPECT_TRUE(WriteBlock(c.patternStatus, pattern, c.recurringStatus, VARIANT_TRUE).empty());
    EXPECT_EQ(RunFault, c.faultAfter);
  }
  // A repeating item without a pattern cannot be written either.
  RunFault = FaultNone;
  EXPECT_TRUE(WriteBlock(S_OK, nullptr, S_OK, VARIANT_TRUE).empty());
  EXPECT_EQ(RunFault, FaultRead);
  RunFault = FaultNone;
  appointment->Release();
}

TEST_F(RecurrenceTest, ImportSetsTheColumnsThatTheTypeCarriesInColumnOrder) {
  IAppointment* appointment = CreateAppointment();
  ApplyBlock(appointment, {{0, u"1"},
                           {1, u"2"},
                           {2, u"255"},  // the low seven bits only
                           {3, u"15"},   // not carried by a weekly pattern
                           {5, u"5"},    // nor this
                           {6, u"15"},
                           {7, u"5"},
                           {8, u"2007"},
                           {9, u"0"},
                           {10, u"31"},
                           {11, u"12"},
                           {12, u"2007"}});
  EXPECT_EQ(PatternType, olRecursWeekly);
  EXPECT_EQ(Calls(EndRecord(appointment)),
            (std::vector<std::string>{"GetRecurrencePattern", "RecurrenceType=1", "Interval=2",
                                      "DayOfWeekMask=127", "PatternStartDate=39217.000000",
                                      "NoEndDate=0", "Occurrences=0", "NoEndDate=0",
                                      "PatternEndDate=39447.000000", "released"}));
  appointment->Release();

  // The saved item repeats as the record said.
  IAppointment* saved = FetchAppointment(1);
  ASSERT_NE(saved, nullptr);
  VARIANT_BOOL recurring = VARIANT_FALSE;
  saved->get_IsRecurring(&recurring);
  EXPECT_NE(recurring, VARIANT_FALSE);
  IRecurrencePattern* pattern = nullptr;
  ASSERT_TRUE(SUCCEEDED(saved->GetRecurrencePattern(&pattern)));
  LONG value = 0;
  pattern->get_DayOfWeekMask(&value);
  EXPECT_EQ(value, 127);
  pattern->get_Interval(&value);
  EXPECT_EQ(value, 2);
  DATE end = 0;
  pattern->get_PatternEndDate(&end);
  EXPECT_EQ(end, k31Dec2007);
  pattern->Release();
  saved->Release();
}

TEST_F(RecurrenceTest, ImportIgnoresValuesOutsideTheirRangesAndColumnsTheTypeDoesNotCarry) {
  IAppointment* appointment = CreateAppointment();
  // Yearly: a hand-added interval and mask, a day of month of 32, a month of 13.
  ApplyBlock(appointment, {{0, u"5"}, {1, u"2"}, {2, u"3"}, {3, u"32"}, {4, u"1"}, {5, u"13"}});
  EXPECT_EQ(log_, (std::vector<std::string>{"GetRecurrencePattern", "RecurrenceType=5"}));
  ApplyBlock(appointment, {{3, u"31"}, {5, u"12"}, {9, u"x"}, {12, u"2007"}});
  EXPECT_EQ(EndRecord(appointment),
            (std::vector<std::string>{"GetRecurrencePattern", "RecurrenceType=5", "DayOfMonth=31",
                                      "MonthOfYear=12", "released"}));
  appointment->Release();

  // Daily with an interval of 0, then of 999.
  log_.clear();
  appointment = CreateAppointment();
  ApplyBlock(appointment, {{0, u"0"}, {1, u"0"}});
  ApplyBlock(appointment, {{1, u"999"}, {4, u"0"}});
  EXPECT_EQ(EndRecord(appointment),
            (std::vector<std::string>{"GetRecurrencePattern", "RecurrenceType=0", "Interval=999",
                                      "released"}));
  appointment->Release();
}

TEST_F(RecurrenceTest, AnInstanceOfZeroIsPassedOnAndTheRecordGoesOn) {
  IAppointment* appointment = CreateAppointment();
  ApplyBlock(appointment, {{0, u"6"}, {2, u"2"}, {4, u"0"}, {5, u"3"}});
  const std::vector<std::string> log = EndRecord(appointment);
  appointment->Release();
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[3].rfind("Instance=0", 0), 0u) << log[3];  // whether the store takes it or not
  EXPECT_EQ(log[4], "MonthOfYear=3");

  IAppointment* saved = FetchAppointment(1);
  ASSERT_NE(saved, nullptr);
  IRecurrencePattern* pattern = nullptr;
  ASSERT_TRUE(SUCCEEDED(saved->GetRecurrencePattern(&pattern)));
  LONG value = 0;
  pattern->get_RecurrenceType(&value);
  EXPECT_EQ(value, olRecursYearNth);
  pattern->get_MonthOfYear(&value);
  EXPECT_EQ(value, 3);
  pattern->Release();
  saved->Release();
}

TEST_F(RecurrenceTest, AnUnknownTypeOpensNoPatternAndTheRestOfTheBlockActsOnNothing) {
  for (const char16_t* type : {u"4", u"7", u"x"}) {
    SCOPED_TRACE(schedule_testing::U8(type));
    log_.clear();
    IAppointment* appointment = CreateAppointment();
    ApplyBlock(appointment, {{0, type},
                             {1, u"1"},
                             {6, u"15"},
                             {7, u"5"},
                             {8, u"2007"},
                             {9, u"3"},
                             {10, u"31"},
                             {11, u"12"},
                             {12, u"2007"}});
    EXPECT_EQ(OpenPattern, nullptr);
    EXPECT_EQ(PatternType, -1);
    EXPECT_TRUE(EndRecord(appointment).empty());
    appointment->Release();
  }
  // A pattern that cannot be obtained leaves the block without one as well.
  log_.clear();
  IAppointment* appointment = CreateAppointment();
  ApplyBlock(appointment, {{0, u"1"}, {1, u"2"}, {9, u"3"}}, FailingGetter);
  EXPECT_EQ(OpenPattern, nullptr);
  EXPECT_EQ(PatternType, -1);
  EXPECT_EQ(EndRecord(appointment), (std::vector<std::string>{"GetRecurrencePattern failed"}));
  appointment->Release();
}

TEST_F(RecurrenceTest, ColumnLimits) {
  const int32_t expected[kRecurrenceColumns] = {1, 3, 3, 2, 1, 2, 2, 2, 4, 10, 2, 2, 4};
  for (int32_t offset = 0; offset < kRecurrenceColumns; ++offset) {
    EXPECT_EQ(RecurrenceColumnLimit(offset), expected[offset]) << offset;
  }
}

}  // namespace
