#include "records/task.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "handheld/faults.h"
#include "records/schedule_test_support.h"

namespace {

using schedule_testing::Bstr;
using schedule_testing::Record;
using schedule_testing::Slice;
using schedule_testing::Take;
using Fields = std::vector<std::u16string>;

constexpr DATE k15May2007 = 39217.0;
constexpr DATE k1Jan3000 = 401769.0;
constexpr DATE kLastExportedDay = 401768.0;  // 31 December 2999, midnight

// What a task in the store holds, read back in one go.
struct Stored {
  std::u16string subject, categories, body;
  LONG importance = -1, sensitivity = -1;
  VARIANT_BOOL complete = 0, reminderSet = 0, recurring = 0;
  DATE start = 0, due = 0, reminder = 0;
  LONG type = -1, occurrences = -1;
  VARIANT_BOOL noEnd = 0;
  DATE patternStart = 0, patternEnd = 0;
};

Stored Read(ITask* task) {
  Stored s;
  BSTR text = nullptr;
  task->get_Subject(&text);
  s.subject = Take(text);
  task->get_Categories(&text);
  s.categories = Take(text);
  task->get_Body(&text);
  s.body = Take(text);
  task->get_Importance(&s.importance);
  task->get_Sensitivity(&s.sensitivity);
  task->get_Complete(&s.complete);
  task->get_StartDate(&s.start);
  task->get_DueDate(&s.due);
  task->get_ReminderSet(&s.reminderSet);
  task->get_ReminderTime(&s.reminder);
  task->get_IsRecurring(&s.recurring);
  IRecurrencePattern* pattern = nullptr;
  if (SUCCEEDED(task->GetRecurrencePattern(&pattern))) {
    if (s.recurring) pattern->get_RecurrenceType(&s.type);
    pattern->get_Occurrences(&s.occurrences);
    pattern->get_NoEndDate(&s.noEnd);
    pattern->get_PatternStartDate(&s.patternStart);
    pattern->get_PatternEndDate(&s.patternEnd);
    pattern->Release();
  }
  return s;
}

class TaskRecordTest : public schedule_testing::ScheduleTest {
 protected:
  Stored Saved(INT index) {
    ITask* task = FetchTask(index);
    EXPECT_NE(task, nullptr);
    if (task == nullptr) return {};
    Stored s = Read(task);
    task->Release();
    return s;
  }

  // A task with every column of its record set, saved.
  void SaveFullTask() {
    ITask* task = CreateTask();
    auto put = [&](HRESULT (ITask::*setter)(BSTR), const char16_t* value) {
      BSTR text = Bstr(value);
      (task->*setter)(text);
      SysFreeString(text);
    };
    put(&ITask::put_Subject, u"File the report\tnow");
    task->put_Importance(2);
    task->put_Complete(VARIANT_TRUE);
    task->put_StartDate(k15May2007);
    task->put_DueDate(k15May2007 + 14);
    IRecurrencePattern* pattern = nullptr;
    ASSERT_TRUE(SUCCEEDED(task->GetRecurrencePattern(&pattern)));
    pattern->put_RecurrenceType(olRecursMonthly);
    pattern->put_Interval(3);
    pattern->put_DayOfMonth(31);
    pattern->put_PatternStartDate(k15May2007);
    pattern->put_NoEndDate(VARIANT_FALSE);
    pattern->put_Occurrences(4);
    pattern->put_PatternEndDate(k15May2007 + 366);
    pattern->Release();
    task->put_ReminderSet(VARIANT_TRUE);
    task->put_ReminderTime(k15May2007 + 9.5 / 24);
    put(&ITask::put_Categories, u"Office");
    task->put_Sensitivity(2);
    put(&ITask::put_Body, u"first\r\nsecond");
    task->Save();
    task->Release();
  }
};

TEST_F(TaskRecordTest, ExportWritesEveryColumnInOrder) {
  SaveFullTask();
  std::string notices;
  const auto records = Export(KindTasks, &notices);
  EXPECT_EQ(notices, "1/502 3/100 4/517+1 0/0");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0], (Fields{u"File the report,now",
                                u"2",
                                u"1",
                                u"15",
                                u"5",
                                u"2007",
                                u"29",
                                u"5",
                                u"2007",
                                u"2",
                                u"3",
                                u"",
                                u"31",
                                u"",
                                u"",
                                u"15",
                                u"5",
                                u"2007",
                                u"4",
                                u"15",
                                u"5",
                                u"2008",
                                u"15",
                                u"5",
                                u"2007",
                                u"Office",
                                u"2",
                                u"first\\nsecond"}));
}

TEST_F(TaskRecordTest, ExportLeavesEmptyWhatHasNoValueOrLiesOutsideTheCodecsRange) {
  ITask* task = CreateTask();
  task->put_StartDate(kLastExportedDay);
  task->put_DueDate(k1Jan3000);
  task->put_ReminderSet(VARIANT_TRUE);
  task->put_ReminderTime(k1Jan3000 + 0.5);  // on, but not writable: no reminder
  task->Save();
  task->Release();
  task = CreateTask();
  task->put_ReminderSet(VARIANT_FALSE);
  task->put_ReminderTime(k15May2007);  // a time, but the reminder is off
  task->Save();
  task->Release();

  const auto records = Export(KindTasks);
  ASSERT_EQ(records.size(), 2u);
  for (const auto& record : records) ASSERT_EQ(record.size(), static_cast<size_t>(kTaskColumns));
  EXPECT_EQ(Slice(records[0], 3, 6), (Fields{u"31", u"12", u"2999", u"", u"", u""}));
  EXPECT_EQ(Slice(records[0], 9, 16), Fields(16, u""));  // no pattern, no reminder date
  EXPECT_EQ(Slice(records[1], 22, 3), Fields(3, u""));
}

TEST_F(TaskRecordTest, AFailedReadEndsTheRecordWhereTheReadBelongs) {
  SaveFullTask();
  const std::map<std::string, size_t> written = {
      {"read:Complete:1", 2},      {"pattern:1", 9},
      {"read:IsRecurring:1", 9},   {"read:ReminderSet:1", 22},
      {"read:ReminderTime:1", 22}, {"read:Sensitivity:1", 26}};
  for (const auto& [fault, fields] : written) {
    SCOPED_TRACE(fault);
    std::string error;
    ASSERT_TRUE(handheld::ArmFaults(fault, &error)) << error;
    std::string notices;
    const auto records = Export(KindTasks, &notices);
    handheld::ClearFaults();
    EXPECT_EQ(notices, "1/502 2/609 0/0");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].size(), fields);
  }
}

TEST_F(TaskRecordTest, RemindersComeBackAtMidnightAndOnlyForTheRecordsThatGiveThem) {
  const std::string notices = Import(
      KindTasks,
      Record(28, {{0, u"with"}, {22, u"15"}, {23, u"5"}, {24, u"2007"}}) +
          Record(28, {{0, u"without"}}) +
          Record(28, {{0, u"bad date"}, {22, u"31"}, {23, u"2"}, {24, u"2007"}}) +
          // The reminder's day is missing: the due date's must not serve.
          Record(28,
                 {{0, u"no day"}, {6, u"15"}, {7, u"5"}, {8, u"2007"}, {23, u"6"}, {24, u"2007"}}));
  EXPECT_NE(notices.find("4/522+4 0/0"), std::string::npos) << notices;

  const Stored with = Saved(1);
  EXPECT_NE(with.reminderSet, VARIANT_FALSE);
  EXPECT_EQ(with.reminder, k15May2007);
  EXPECT_EQ(Saved(2).reminderSet, VARIANT_FALSE);
  EXPECT_EQ(Saved(3).reminderSet, VARIANT_FALSE);
  const Stored noDay = Saved(4);
  EXPECT_EQ(noDay.due, k15May2007);
  EXPECT_EQ(noDay.reminderSet, VARIANT_FALSE);
}

TEST_F(TaskRecordTest, ImportAppliesAcceptedValuesAndIgnoresTheRest) {
  std::u16string text;
  for (const char16_t* token : {u"True", u"yes", u"1", u"-1", u"False", u"Falsch", u"maybe"}) {
    text += Record(28, {{0, token}, {2, token}});
  }
  text += Record(28, {{0, u"limits"}, {1, u"3"}, {26, u"1"}, {3, u"1"}, {4, u"13"}, {5, u"2007"}});
  text += Record(28, {{0, u"values"},
                      {1, u"0"},
                      {26, u"2"},
                      {25, u"a\\nb"},
                      {27, u"x,y"},
                      {3, u"1"},
                      {4, u"2"},
                      {5, u"2007"}});
  text += Record(29, {{28, u"extra"}});
  const std::string notices = Import(KindTasks, text);
  EXPECT_NE(notices.find("4/522+10 0/0"), std::string::npos) << notices;

  const VARIANT_BOOL complete[] = {VARIANT_TRUE,  VARIANT_TRUE,  VARIANT_TRUE, VARIANT_TRUE,
                                   VARIANT_FALSE, VARIANT_FALSE, VARIANT_FALSE};
  for (INT i = 0; i < 7; ++i) EXPECT_EQ(Saved(i + 1).complete, complete[i]) << i;

  const Stored limits = Saved(8);
  EXPECT_EQ(limits.importance, 1);  // the store's default
  EXPECT_EQ(limits.sensitivity, 0);
  EXPECT_EQ(limits.start, handheld::kNoDate);  // month 13 forms no date
  const Stored values = Saved(9);
  EXPECT_EQ(values.importance, 0);
  EXPECT_EQ(values.sensitivity, 2);
  EXPECT_EQ(values.categories, u"a\r\nb");
  EXPECT_EQ(values.body, u"x,y");
  EXPECT_EQ(values.start, 39114.0);  // 1 February 2007
  EXPECT_EQ(Saved(10).subject, u"");
}

TEST_F(TaskRecordTest, ExportedImportedAndExportedAgainGivesTheSameFile) {
  SaveFullTask();
  ITask* plain = CreateTask();
  BSTR subject = Bstr(u"plain");
  plain->put_Subject(subject);
  SysFreeString(subject);
  plain->put_ReminderSet(VARIANT_FALSE);
  plain->Save();
  plain->Release();
  ASSERT_EQ(ExportTo(KindTasks, "first.txt"), "1/502 3/50 3/100 4/517+2 0/0");
  const std::string first = handheld::testing::ReadFileBytes(sandbox().path("first.txt"));

  worker_testing::Job load;
  load.kind = KindTasks;
  load.mode = ModeImport;
  load.purgeFirst = true;
  load.path = sandbox().path("first.txt");
  const std::string notices =
      worker_testing::Describe(worker_testing::RunJobInOpenStore(load).notices);
  EXPECT_NE(notices.find("4/522+2 0/0"), std::string::npos) << notices;
  ASSERT_EQ(Count(olFolderTasks), 2);
  // The reminder came back at midnight of its day.
  EXPECT_EQ(Saved(1).reminder, k15May2007);

  ASSERT_EQ(ExportTo(KindTasks, "second.txt"), "1/502 3/50 3/100 4/517+2 0/0");
  EXPECT_EQ(handheld::testing::ReadFileBytes(sandbox().path("second.txt")), first);
}

TEST_F(TaskRecordTest, ColumnLimits) {
  const std::map<int32_t, int32_t> limits = {
      {0, 4096}, {1, 1},  {2, 5},  {3, 2},     {5, 4},  {8, 4},      {9, 1},     {18, 10},
      {21, 4},   {22, 2}, {24, 4}, {25, 1024}, {26, 1}, {27, 61440}, {28, 1024}, {99, 1024}};
  for (const auto& [column, limit] : limits) {
    EXPECT_EQ(TaskColumnLimit(column), limit) << column;
  }
}

}  // namespace
