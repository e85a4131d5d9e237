#include "records/task.h"

#include "handheld/faults.h"
#include "records/schedule_test_support.h"

namespace {

using schedule_testing::Fields;
using schedule_testing::Record;

class TaskRecordTest : public schedule_testing::ScheduleTest {
 protected:
  void Put(ITask* item, HRESULT (ITask::*setter)(BSTR), const char16_t* text) {
    BSTR value = SysAllocString(text);
    (item->*setter)(value);
    SysFreeString(value);
  }

  // One task with every column set, and one without reminder whose due date lies in
  // the year 3000.
  void SaveTasks() {
    ITask* item = Create<ITask>(olTaskItem);
    Put(item, &ITask::put_Subject, u"File the report\tnow");
    item->put_Importance(2);
    item->put_Complete(VARIANT_TRUE);
    item->put_StartDate(39217.0);  // 15 May 2007
    item->put_DueDate(39231.0);
    IRecurrencePattern* pattern = nullptr;
    ASSERT_TRUE(SUCCEEDED(item->GetRecurrencePattern(&pattern)));
    pattern->put_RecurrenceType(olRecursMonthly);
    pattern->put_Interval(3);
    pattern->put_DayOfMonth(31);
    pattern->put_PatternStartDate(39217.0);
    pattern->put_NoEndDate(VARIANT_FALSE);
    pattern->put_Occurrences(4);
    pattern->put_PatternEndDate(39583.0);  // 15 May 2008
    pattern->Release();
    item->put_ReminderSet(VARIANT_TRUE);
    item->put_ReminderTime(39217.0 + 9.5 / 24);
    Put(item, &ITask::put_Categories, u"Office");
    item->put_Sensitivity(2);
    Put(item, &ITask::put_Body, u"first\r\nsecond");
    item->Save();
    item->Release();

    item = Create<ITask>(olTaskItem);
    item->put_StartDate(401768.0);  // 31 December 2999
    item->put_DueDate(401769.0);
    item->put_ReminderSet(VARIANT_FALSE);
    item->put_ReminderTime(39217.0);
    item->Save();
    item->Release();
  }
};

TEST_F(TaskRecordTest, EveryColumnTravelsOutAndBackUnchanged) {
  SaveTasks();
  std::string notices;
  const auto records = Export(KindTasks, &notices);
  EXPECT_EQ(notices, "1/502 3/50 3/100 4/517+2 0/0");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(schedule_testing::Joined(records[0]),
            u"File the report,now|2|1|15|5|2007|29|5|2007|2|3||31|||15|5|2007|4|15|5|2008|15|5|"
            u"2007|Office|2|first\\nsecond");
  EXPECT_EQ(schedule_testing::Joined(records[1]), u"|1|0|31|12|2999|||||||||||||||||||||0|");

  const std::string first = handheld::testing::ReadFileBytes(sandbox().path("out.txt"));
  EXPECT_EQ(Run(KindTasks, ModeImport, "out.txt", true).substr(0, 6), "1/512 ");
  EXPECT_EQ(Export(KindTasks), records);
  EXPECT_EQ(handheld::testing::ReadFileBytes(sandbox().path("out.txt")), first);
  // The reminder came back on, at midnight of its day.
  ITask* task = Fetch<ITask>(olFolderTasks, 1);
  ASSERT_NE(task, nullptr);
  DATE reminder = 0;
  VARIANT_BOOL reminderSet = VARIANT_FALSE;
  task->get_ReminderTime(&reminder);
  task->get_ReminderSet(&reminderSet);
  EXPECT_EQ(reminder, 39217.0);
  EXPECT_NE(reminderSet, VARIANT_FALSE);
  task->Release();
}

TEST_F(TaskRecordTest, AFailedReadEndsTheRecordAtItsColumn) {
  SaveTasks();
  for (const auto& [fault, written] : std::map<std::string, size_t>{{"read:Complete:1", 2},
                                                                    {"pattern:1", 9},
                                                                    {"read:IsRecurring:1", 9},
                                                                    {"read:ReminderSet:1", 22},
                                                                    {"read:ReminderTime:1", 22},
                                                                    {"read:Sensitivity:1", 26}}) {
    ASSERT_TRUE(handheld::ArmFaults(fault, nullptr)) << fault;
    std::string notices;
    const auto records = Export(KindTasks, &notices);
    handheld::ClearFaults();
    EXPECT_EQ(notices, "1/502 2/609 0/0") << fault;
    ASSERT_EQ(records.size(), 1u) << fault;
    EXPECT_EQ(records[0].size(), written) << fault;
  }
}

TEST_F(TaskRecordTest, ImportTakesAcceptedValuesOnlyAndEachRecordStartsAfresh) {
  // Each case: the fields imported, then columns of the record exported afterwards.
  const std::vector<std::pair<std::map<int, std::u16string>, std::map<int, std::u16string>>> cases =
      {
          {{{0, u"a"}, {1, u"0"}, {2, u"True"}, {22, u"15"}, {23, u"5"}, {24, u"2007"}},
           {{1, u"0"}, {2, u"1"}, {22, u"15"}, {23, u"5"}, {24, u"2007"}}},
          // No reminder given: the store's default reminder is turned off.
          {{{0, u"b"}, {1, u"3"}, {2, u"-1"}, {26, u"1"}},
           {{1, u"1"}, {2, u"1"}, {22, u""}, {26, u"0"}}},
          {{{2, u"yes"}, {26, u"2"}, {25, u"a\\nb"}}, {{2, u"1"}, {26, u"2"}, {25, u"a\\nb"}}},
          {{{2, u"False"}, {22, u"31"}, {23, u"2"}, {24, u"2007"}}, {{2, u"0"}, {22, u""}}},
          {{{0, u"c"}, {2, u"Falsch"}, {3, u"1"}, {4, u"13"}, {5, u"2007"}},
           {{2, u"0"}, {3, u""}, {5, u""}}},
          // The reminder's day is missing: the unfinished due date's day must not serve.
          {{{6, u"15"}, {7, u"5"}, {23, u"6"}, {24, u"2007"}}, {{6, u""}, {22, u""}, {24, u""}}},
          {{{0, u"d"}, {9, u"1"}, {10, u"1"}, {11, u"3"}, {18, u"0"}},
           {{9, u"1"}, {11, u"3"}, {18, u"1"}}},  // the store keeps 1 for 0 occurrences
          {{{28, u"extra"}}, {{0, u""}}},
      };
  std::u16string file;
  for (const auto& [in, out] : cases) file += Record(29, in);
  EXPECT_EQ(Import(KindTasks, file), static_cast<int>(cases.size()));
  const auto records = Export(KindTasks);
  ASSERT_EQ(records.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    ASSERT_EQ(records[i].size(), static_cast<size_t>(kTaskColumns)) << "record " << i;
    for (const auto& [column, text] : cases[i].second) {
      EXPECT_EQ(records[i][column], text) << "record " << i << " column " << column;
    }
  }
}

}  // namespace
