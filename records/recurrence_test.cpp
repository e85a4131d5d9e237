#include "records/recurrence.h"

#include <memory>

#include "records/record_test_support.h"
#include "records/recordfields.h"

namespace {

std::vector<std::string> calls;  // what the import asked of the item and its pattern

// Stands between the import and an appointment's pattern, logging every setter.
class LoggingPattern final : public IRecurrencePattern {
 public:
  explicit LoggingPattern(IRecurrencePattern* real) : real_(real) {}
  HRESULT QueryInterface(REFIID riid, void** object) override {
    return real_->QueryInterface(riid, object);
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    if (--references_ > 0) return references_;
    real_->Release();
    delete this;
    return 0;
  }
#define FORWARD(Type, Name)                                                     \
  HRESULT get_##Name(Type* value) override {                                    \
    return real_->get_##Name(value);                                            \
  }                                                                             \
  HRESULT put_##Name(Type value) override {                                     \
    calls.push_back(#Name "=" + std::to_string(static_cast<long long>(value))); \
    return real_->put_##Name(value);                                            \
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
  ULONG references_ = 1;
};

HRESULT LoggingGetter(IDispatch* item, IRecurrencePattern** pattern) {
  calls.push_back("GetRecurrencePattern");
  IRecurrencePattern* real = nullptr;
  const HRESULT result = static_cast<IAppointment*>(item)->GetRecurrencePattern(&real);
  *pattern = real != nullptr ? new LoggingPattern(real) : nullptr;
  return result;
}

using RecurrenceTest = record_testing::RecordTest;

TEST_F(RecurrenceTest, ImportAppliesWhatTheTypeCarriesInColumnOrder) {
  // clang-format off
  const std::vector<std::pair<record_testing::Columns, std::string>> cases = {
      // Weekly: a mask of 255 keeps its low seven bits; a day of month does not apply.
      {{{0, u"1"}, {1, u"2"}, {2, u"255"}, {3, u"15"}, {6, u"15"}, {7, u"5"}, {8, u"2007"},
        {9, u"0"}, {10, u"31"}, {11, u"12"}, {12, u"2007"}},
       "GetRecurrencePattern RecurrenceType=1 Interval=2 DayOfWeekMask=127 "
       "PatternStartDate=39217 NoEndDate=0 Occurrences=0 NoEndDate=0 PatternEndDate=39447"},
      // Yearly: a hand-added interval, mask and instance, a day 32 and a month 13.
      {{{0, u"5"}, {1, u"2"}, {2, u"3"}, {3, u"32"}, {4, u"1"}, {5, u"13"}},
       "GetRecurrencePattern RecurrenceType=5"},
      {{{0, u"5"}, {3, u"31"}, {5, u"12"}, {9, u"x"}},
       "GetRecurrencePattern RecurrenceType=5 DayOfMonth=31 MonthOfYear=12"},
      // An interval of 0 is refused; an instance of 0 is passed on.
      {{{0, u"0"}, {1, u"0"}}, "GetRecurrencePattern RecurrenceType=0"},
      {{{0, u"6"}, {2, u"2"}, {4, u"0"}, {5, u"3"}},
       "GetRecurrencePattern RecurrenceType=6 DayOfWeekMask=2 Instance=0 MonthOfYear=3"},
      // Unknown types open no pattern, and nothing after them acts on one.
      {{{0, u"4"}, {1, u"1"}, {6, u"1"}, {7, u"1"}, {8, u"2007"}, {9, u"3"}}, ""},
      {{{0, u"7"}, {1, u"1"}}, ""},
      {{{0, u"x"}, {2, u"1"}, {10, u"1"}, {11, u"1"}, {12, u"2008"}}, ""},
  };
  // clang-format on
  auto job = std::make_unique<RecordContext>();
  for (const auto& [fields, expected] : cases) {
    calls.clear();
    IAppointment* item = Create<IAppointment>(olAppointmentItem);
    for (const auto& [offset, text] : fields) {
      ApplyRecurrenceColumn(*job, item, LoggingGetter, offset, text.c_str());
    }
    EXPECT_EQ(job->PatternType, expected.empty() ? -1 : fields.at(0)[0] - u'0');
    EXPECT_EQ(job->OpenPattern != nullptr, !expected.empty());
    std::string log;
    for (const std::string& call : calls) log += (log.empty() ? "" : " ") + call;
    EXPECT_EQ(log, expected);
    ClearScheduleRecord(*job);
    item->Release();
  }
}

}  // namespace
