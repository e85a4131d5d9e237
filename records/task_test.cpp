#include "records/task.h"

#include "records/record_test_support.h"

namespace {

using record_testing::Record;

using TaskRecordTest = record_testing::RecordTest;

TEST_F(TaskRecordTest, EveryColumnTravelsOutAndBackAndFailedReadsEndTheRecord) {
  ExpectRoundTrip(KindTasks,
                  record_testing::Line(u"File the report|2|1|15|5|2007|29|5|2007|2|3||31|||15|5|"
                                       u"2007|4|15|5|2008|15|5|2007|Office|2|first\\nsecond"));
  // The reminder is set, at midnight of its day.
  ITask* task = Fetch<ITask>(olFolderTasks, 1);
  ASSERT_NE(task, nullptr);
  DATE reminder = 0;
  VARIANT_BOOL reminderSet = VARIANT_FALSE;
  task->get_ReminderTime(&reminder);
  task->get_ReminderSet(&reminderSet);
  task->Release();
  EXPECT_EQ(reminder, 39217.0);
  EXPECT_NE(reminderSet, VARIANT_FALSE);

  ExpectReadFaults(KindTasks, {"read:Complete:1", "pattern:1", "read:IsRecurring:1",
                               "read:ReminderSet:1", "read:ReminderTime:1", "read:Sensitivity:1"});
}

TEST_F(TaskRecordTest, ImportTakesAcceptedValuesOnlyAndEachRecordStartsAfresh) {
  ExpectImported(
      KindTasks, 29, kTaskColumns,
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
          // Dates from 1 January 3000 on are not written.
          {{{3, u"31"}, {4, u"12"}, {5, u"2999"}, {6, u"1"}, {7, u"1"}, {8, u"3000"}},
           {{3, u"31"}, {4, u"12"}, {5, u"2999"}, {6, u""}, {8, u""}}},
          // The reminder's day is missing: the unfinished due date's day must not serve.
          {{{6, u"15"}, {7, u"5"}, {23, u"6"}, {24, u"2007"}}, {{6, u""}, {22, u""}, {24, u""}}},
          {{{0, u"d"}, {9, u"1"}, {10, u"1"}, {11, u"3"}, {18, u"0"}},
           {{9, u"1"}, {11, u"3"}, {18, u"1"}}},  // the store keeps 1 for 0 occurrences
          {{{28, u"extra"}}, {{0, u""}}},
      });
}

}  // namespace
