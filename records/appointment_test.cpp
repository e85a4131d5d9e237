#include "records/appointment.h"

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
using schedule_testing::U8;
using Fields = std::vector<std::u16string>;

constexpr DATE k15May2007Morning = 39217.375;  // 09:00
constexpr DATE k15May2007Noon = 39217.5;
constexpr DATE k1Jan3000 = 401769.0;

// What an appointment in the store holds, read back in one go.
struct Stored {
  std::u16string subject, location, categories, body;
  DATE start = 0, end = 0;
  VARIANT_BOOL allDay = 0, reminderSet = 0, recurring = 0;
  LONG minutes = 0, busy = 0, sensitivity = 0;
  LONG type = -1, interval = 0;
  VARIANT_BOOL noEnd = 0;
  DATE patternEnd = 0;
  std::vector<std::u16string> recipients;  // names, index 1 first
};

Stored Read(IAppointment* appointment) {
  Stored s;
  BSTR text = nullptr;
  appointment->get_Subject(&text);
  s.subject = Take(text);
  appointment->get_Location(&text);
  s.location = Take(text);
  appointment->get_Categories(&text);
  s.categories = Take(text);
  appointment->get_Body(&text);
  s.body = Take(text);
  appointment->get_Start(&s.start);
  appointment->get_End(&s.end);
  appointment->get_AllDayEvent(&s.allDay);
  appointment->get_ReminderSet(&s.reminderSet);
  appointment->get_ReminderMinutesBeforeStart(&s.minutes);
  appointment->get_BusyStatus(&s.busy);
  appointment->get_Sensitivity(&s.sensitivity);
  appointment->get_IsRecurring(&s.recurring);
  IRecurrencePattern* pattern = nullptr;
  if (SUCCEEDED(appointment->GetRecurrencePattern(&pattern))) {
    if (s.recurring) pattern->get_RecurrenceType(&s.type);
    pattern->get_Interval(&s.interval);
    pattern->get_NoEndDate(&s.noEnd);
    pattern->get_PatternEndDate(&s.patternEnd);
    pattern->Release();
  }
  IRecipients* recipients = nullptr;
  if (SUCCEEDED(appointment->get_Recipients(&recipients))) {
    INT count = 0;
    recipients->get_Count(&count);
    for (INT i = 1; i <= count; ++i) {
      IRecipient* recipient = nullptr;
      if (FAILED(recipients->Item(i, &recipient))) continue;
      recipient->get_Name(&text);
      s.recipients.push_back(Take(text));
      recipient->Release();
    }
    recipients->Release();
  }
  return s;
}

class AppointmentRecordTest : public schedule_testing::ScheduleTest {
 protected:
  Stored Saved(INT index) {
    IAppointment* appointment = FetchAppointment(index);
    EXPECT_NE(appointment, nullptr);
    if (appointment == nullptr) return {};
    Stored s = Read(appointment);
    appointment->Release();
    return s;
  }

  void AddRecipients(IAppointment* appointment, std::initializer_list<const char16_t*> names) {
    IRecipients* recipients = nullptr;
    ASSERT_TRUE(SUCCEEDED(appointment->get_Recipients(&recipients)));
    for (const char16_t* name : names) {
      BSTR text = Bstr(name);
      IRecipient* recipient = nullptr;
      recipients->Add(text, &recipient);
      SysFreeString(text);
      IPOlRecipient* resolvable = nullptr;
      if (recipient != nullptr && SUCCEEDED(recipient->QueryInterface(
                                      IID_IPOlRecipient, reinterpret_cast<void**>(&resolvable)))) {
        VARIANT_BOOL resolved = VARIANT_FALSE;
        resolvable->Resolve(VARIANT_FALSE, &resolved);
        resolvable->Release();
      }
      if (recipient != nullptr) recipient->Release();
    }
    recipients->Release();
  }

  // An appointment with every column of its record set, saved.
  void SaveFullAppointment() {
    IAppointment* appointment = CreateAppointment();
    auto put = [&](HRESULT (IAppointment::*setter)(BSTR), const char16_t* value) {
      BSTR text = Bstr(value);
      (appointment->*setter)(text);
      SysFreeString(text);
    };
    put(&IAppointment::put_Subject, u"Planning\r\nround\tone");
    put(&IAppointment::put_Location, u"Room 4");
    appointment->put_Start(k15May2007Morning);
    appointment->put_End(k15May2007Noon);
    appointment->put_AllDayEvent(VARIANT_FALSE);
    IRecurrencePattern* pattern = nullptr;
    ASSERT_TRUE(SUCCEEDED(appointment->GetRecurrencePattern(&pattern)));
    pattern->put_RecurrenceType(olRecursWeekly);
    pattern->put_Interval(2);
    pattern->put_DayOfWeekMask(10);
    pattern->put_PatternStartDate(39217.0);
    pattern->put_NoEndDate(VARIANT_FALSE);
    pattern->put_Occurrences(6);
    pattern->put_PatternEndDate(39300.0);
    pattern->Release();
    appointment->put_ReminderSet(VARIANT_TRUE);
    appointment->put_ReminderMinutesBeforeStart(30);
    put(&IAppointment::put_Categories, u"Work");
    AddRecipients(appointment, {u"p@example.org", u"q@example.org", u"r@example.org"});
    appointment->put_BusyStatus(3);
    appointment->put_Sensitivity(2);
    put(&IAppointment::put_Body, u"Agenda:\r\n1. budget");
    appointment->Save();
    appointment->Release();
  }
};

TEST_F(AppointmentRecordTest, ExportWritesEveryColumnInOrder) {
  SaveFullAppointment();
  std::string notices;
  const auto records = Export(KindCalendar, &notices);
  EXPECT_EQ(notices, "1/501 3/100 4/516+1 0/0");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0], (Fields{u"Planning\\nround,one",
                                u"Room 4",
                                u"15",
                                u"5",
                                u"2007",
                                u"9",
                                u"0",
                                u"15",
                                u"5",
                                u"2007",
                                u"12",
                                u"0",
                                u"0",
                                u"1",
                                u"2",
                                u"10",
                                u"",
                                u"",
                                u"",
                                u"15",
                                u"5",
                                u"2007",
                                u"6",
                                u"6",
                                u"8",
                                u"2007",
                                u"30",
                                u"Work",
                                u"r@example.org,q@example.org,p@example.org",
                                u"3",
                                u"2",
                                u"Agenda:\\n1. budget"}));
}

TEST_F(AppointmentRecordTest, ExportOfAnEmptyReminderAndOfDatesOutsideTheCodecsRange) {
  IAppointment* appointment = CreateAppointment();
  appointment->put_Start(k1Jan3000);
  appointment->put_End(k1Jan3000 + 0.5);
  appointment->put_ReminderSet(VARIANT_FALSE);
  appointment->Save();
  appointment->Release();
  const auto records = Export(KindCalendar);
  ASSERT_EQ(records.size(), 1u);
  ASSERT_EQ(records[0].size(), static_cast<size_t>(kAppointmentColumns));
  EXPECT_EQ(Slice(records[0], 2, 10), Fields(10, u""));
  EXPECT_EQ(Slice(records[0], 13, 14), Fields(14, u""));  // no pattern, no reminder
}

TEST_F(AppointmentRecordTest, AFailedReadEndsTheRecordWhereTheReadBelongs) {
  SaveFullAppointment();
  // The field count written before the fault, for each failing read.
  const std::map<std::string, size_t> written = {{"read:AllDayEvent:1", 12},
                                                 {"pattern:1", 13},
                                                 {"read:IsRecurring:1", 13},
                                                 {"read:ReminderSet:1", 26},
                                                 {"read:ReminderMinutesBeforeStart:1", 26},
                                                 {"read:Categories:1", 27},
                                                 {"read:BusyStatus:1", 29}};
  for (const auto& [fault, fields] : written) {
    SCOPED_TRACE(fault);
    std::string error;
    ASSERT_TRUE(handheld::ArmFaults(fault, &error)) << error;
    std::string notices;
    const auto records = Export(KindCalendar, &notices);
    handheld::ClearFaults();
    EXPECT_EQ(notices, "1/501 2/609 0/0");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].size(), fields);
  }
}

TEST_F(AppointmentRecordTest, RecipientsTravelInTheirOrderAndUnresolvedOnesAreRemoved) {
  SaveFullAppointment();
  const auto records = Export(KindCalendar);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0][28], u"r@example.org,q@example.org,p@example.org");

  const std::u16string tooLong = u"a@b," + std::u16string(1021, u'x');  // 1025 characters
  const std::string notices =
      Import(KindCalendar, Record(32, {{0, u"one"}, {28, u"r@x.org,nobody,p@x.org"}}) +
                               Record(32, {{0, u"two"}, {28, u",q@x.org,"}}) +
                               Record(32, {{0, u"three"}, {28, tooLong}}));
  EXPECT_NE(notices.find("4/521+3 0/0"), std::string::npos) << notices;
  EXPECT_EQ(Saved(2).recipients, (Fields{u"p@x.org", u"r@x.org"}));
  EXPECT_EQ(Saved(3).recipients, (Fields{u"q@x.org"}));  // empty pieces do not resolve
  const Stored third = Saved(4);
  EXPECT_EQ(third.subject, u"three");
  EXPECT_TRUE(third.recipients.empty());
}

TEST_F(AppointmentRecordTest, ImportAppliesAcceptedValuesAndIgnoresTheRest) {
  const std::string notices =
      Import(KindCalendar,
             Record(32, {{0, u"a\\nb,c"},
                         {1, u"Hall"},
                         {2, u"15"},
                         {3, u"5"},
                         {4, u"2007"},
                         {5, u"9"},
                         {6, u"30"},
                         {7, u"15"},
                         {8, u"5"},
                         {9, u"2007"},
                         {11, u"45"},  // no end hour
                         {12, u"T"},
                         {26, u"5"},
                         {27, u"Home"},
                         {29, u"0"},
                         {30, u"2"},
                         {31, u"C:\\new"}}) +
                 Record(32, {{0, u"2nd"}, {12, u"y"}, {29, u"4"}, {30, u"1"}, {26, u"x"}}) +
                 Record(32, {{0, u"3rd"}, {12, u"n"}, {29, u"3"}, {30, u"3"}}) +
                 Record(32, {{0, u"4th"}, {12, u"-1"}, {2, u"123"}}) + Record(32, {}) + u"\r\n" +
                 Record(34, {{33, std::u16string(1025, u'z')}}) +  // dropped: creates nothing
                 Record(34, {{33, u"extra"}}));                    // creates an empty appointment
  EXPECT_NE(notices.find("4/521+5 0/0"), std::string::npos) << notices;
  ASSERT_EQ(Count(olFolderCalendar), 5);

  const Stored first = Saved(1);
  EXPECT_EQ(first.subject, u"a\r\nb,c");
  EXPECT_EQ(first.location, u"Hall");
  EXPECT_NEAR(first.start, 39217.0 + 9.5 / 24, 1e-9);
  EXPECT_NEAR(first.end, 39217.0 + 0.75 / 24, 1e-9);  // the empty hour counts as 0
  EXPECT_EQ(first.allDay, VARIANT_TRUE);
  EXPECT_NE(first.reminderSet, VARIANT_FALSE);
  EXPECT_EQ(first.minutes, 5);
  EXPECT_EQ(first.categories, u"Home");
  EXPECT_EQ(first.busy, 0);
  EXPECT_EQ(first.sensitivity, 2);
  EXPECT_EQ(first.body, u"C:\r\new");
  EXPECT_EQ(first.recurring, VARIANT_FALSE);

  // Busy status 4, sensitivity 1 and 3 and a reminder that is no number leave the
  // store's defaults; a record without a reminder gets its reminder turned off.
  const Stored second = Saved(2);
  EXPECT_EQ(second.allDay, VARIANT_TRUE);
  EXPECT_EQ(second.busy, 2);
  EXPECT_EQ(second.sensitivity, 0);
  EXPECT_EQ(second.reminderSet, VARIANT_FALSE);
  const Stored third = Saved(3);
  EXPECT_EQ(third.allDay, VARIANT_FALSE);
  EXPECT_EQ(third.busy, 3);
  EXPECT_EQ(third.sensitivity, 0);
  EXPECT_EQ(third.reminderSet, VARIANT_FALSE);
  // "-1" is longer than the flag's limit and "123" than the day's: both dropped.
  const Stored fourth = Saved(4);
  EXPECT_EQ(fourth.subject, u"4th");
  EXPECT_EQ(fourth.allDay, VARIANT_FALSE);
  EXPECT_EQ(Saved(5).subject, u"");
}

TEST_F(AppointmentRecordTest, ATooLongSubjectIsDroppedAndTheAppointmentStillSaved) {
  const std::string notices =
      Import(KindCalendar, Record(32, {{0, std::u16string(4097, u's')}, {1, u"Here"}}) +
                               Record(32, {{0, std::u16string(4096, u's')}}));
  EXPECT_NE(notices.find("4/521+2 0/0"), std::string::npos) << notices;
  const Stored first = Saved(1);
  EXPECT_EQ(first.subject, u"");
  EXPECT_EQ(first.location, u"Here");
  EXPECT_EQ(Saved(2).subject.size(), 4096u);
}

TEST_F(AppointmentRecordTest, EachRecordStartsItsPatternAndDatesAfresh) {
  const std::string notices = Import(
      KindCalendar,
      // Weekly from 15 May 2007, ending 31 December 2007.
      Record(32, {{0, u"weekly"},
                  {13, u"1"},
                  {14, u"1"},
                  {15, u"4"},
                  {19, u"15"},
                  {20, u"5"},
                  {21, u"2007"},
                  {23, u"31"},
                  {24, u"12"},
                  {25, u"2007"}}) +
          // No type: its pattern columns act on nothing.
          Record(32,
                 {{0, u"single"}, {14, u"3"}, {22, u"4"}, {23, u"1"}, {24, u"1"}, {25, u"2008"}}) +
          // The end date lacks its day: it must not borrow the start date's day.
          Record(32, {{0, u"no end day"},
                      {13, u"0"},
                      {19, u"15"},
                      {20, u"5"},
                      {21, u"2007"},
                      {24, u"12"},
                      {25, u"2007"}}) +
          // Occurrences of 0 are passed on and end the pattern's open end.
          Record(32, {{0, u"zero"}, {13, u"0"}, {22, u"0"}}));
  EXPECT_NE(notices.find("4/521+4 0/0"), std::string::npos) << notices;

  const Stored weekly = Saved(1);
  EXPECT_NE(weekly.recurring, VARIANT_FALSE);
  EXPECT_EQ(weekly.type, olRecursWeekly);
  EXPECT_EQ(weekly.noEnd, VARIANT_FALSE);
  EXPECT_EQ(weekly.patternEnd, 39447.0);

  const Stored single = Saved(2);
  EXPECT_EQ(single.subject, u"single");
  EXPECT_EQ(single.recurring, VARIANT_FALSE);

  const Stored noEndDay = Saved(3);
  EXPECT_NE(noEndDay.recurring, VARIANT_FALSE);
  EXPECT_NE(noEndDay.noEnd, VARIANT_FALSE);
  EXPECT_NE(noEndDay.patternEnd, 39447.0);

  const Stored zero = Saved(4);
  EXPECT_NE(zero.recurring, VARIANT_FALSE);
  EXPECT_EQ(zero.noEnd, VARIANT_FALSE);
}

TEST_F(AppointmentRecordTest, ExportedImportedAndExportedAgainGivesTheSameFile) {
  SaveFullAppointment();
  IAppointment* plain = CreateAppointment();
  plain->put_Start(k15May2007Noon);
  plain->put_End(k15May2007Noon + 1);
  plain->put_AllDayEvent(VARIANT_TRUE);
  plain->put_ReminderSet(VARIANT_FALSE);
  plain->Save();
  plain->Release();
  ASSERT_EQ(ExportTo(KindCalendar, "first.txt"), "1/501 3/50 3/100 4/516+2 0/0");
  const std::string first = handheld::testing::ReadFileBytes(sandbox().path("first.txt"));

  worker_testing::Job load;
  load.kind = KindCalendar;
  load.mode = ModeImport;
  load.purgeFirst = true;
  load.path = sandbox().path("first.txt");
  const worker_testing::JobRun run = worker_testing::RunJobInOpenStore(load);
  const std::string notices = worker_testing::Describe(run.notices);
  EXPECT_NE(notices.find("4/521+2 0/0"), std::string::npos) << notices;
  ASSERT_EQ(Count(olFolderCalendar), 2);

  ASSERT_EQ(ExportTo(KindCalendar, "second.txt"), "1/501 3/50 3/100 4/516+2 0/0");
  EXPECT_EQ(handheld::testing::ReadFileBytes(sandbox().path("second.txt")), first);
}

TEST_F(AppointmentRecordTest, ColumnLimits) {
  const std::map<int32_t, int32_t> limits = {{0, 4096},   {1, 1024},  {2, 2},     {4, 4},   {6, 2},
                                             {9, 4},      {12, 1},    {13, 1},    {22, 10}, {25, 4},
                                             {26, 10},    {27, 1024}, {28, 1024}, {29, 1},  {30, 1},
                                             {31, 61440}, {32, 1024}, {500, 1024}};
  for (const auto& [column, limit] : limits) {
    EXPECT_EQ(AppointmentColumnLimit(column), limit) << column;
  }
}

}  // namespace
