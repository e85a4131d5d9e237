#include "records/appointment.h"

#include "handheld/faults.h"
#include "records/schedule_test_support.h"

namespace {

using schedule_testing::Fields;
using schedule_testing::Record;

class AppointmentRecordTest : public schedule_testing::ScheduleTest {
 protected:
  void Put(IAppointment* item, HRESULT (IAppointment::*setter)(BSTR), const char16_t* text) {
    BSTR value = SysAllocString(text);
    (item->*setter)(value);
    SysFreeString(value);
  }

  // Adds recipients by address, resolved (an address resolves to itself).
  void AddResolved(IAppointment* item, const std::vector<std::u16string>& addresses) {
    IRecipients* recipients = nullptr;
    ASSERT_TRUE(SUCCEEDED(item->get_Recipients(&recipients)));
    for (const std::u16string& address : addresses) {
      BSTR name = SysAllocString(address.c_str());
      IRecipient* recipient = nullptr;
      IPOlRecipient* resolvable = nullptr;
      recipients->Add(name, &recipient);
      recipient->QueryInterface(IID_IPOlRecipient, reinterpret_cast<void**>(&resolvable));
      VARIANT_BOOL resolved = VARIANT_FALSE;
      resolvable->Resolve(VARIANT_FALSE, &resolved);
      resolvable->Release();
      recipient->Release();
      SysFreeString(name);
    }
    recipients->Release();
  }

  // An appointment with every column set.
  void SaveAppointment() {
    IAppointment* item = Create<IAppointment>(olAppointmentItem);
    Put(item, &IAppointment::put_Subject, u"Planning\r\nround\tone");
    Put(item, &IAppointment::put_Location, u"Room 4");
    item->put_Start(39217.375);  // 15 May 2007 09:00
    item->put_End(39217.5);
    IRecurrencePattern* pattern = nullptr;
    ASSERT_TRUE(SUCCEEDED(item->GetRecurrencePattern(&pattern)));
    pattern->put_RecurrenceType(olRecursWeekly);
    pattern->put_Interval(2);
    pattern->put_DayOfWeekMask(10);
    pattern->put_PatternStartDate(39217.0);
    pattern->put_NoEndDate(VARIANT_FALSE);
    pattern->put_Occurrences(6);
    pattern->put_PatternEndDate(39300.0);  // 6 August 2007
    pattern->Release();
    item->put_ReminderSet(VARIANT_TRUE);
    item->put_ReminderMinutesBeforeStart(30);
    Put(item, &IAppointment::put_Categories, u"Work");
    AddResolved(item, {u"p@x.org", u"q@x.org", u"r@x.org"});
    item->put_BusyStatus(3);
    item->put_Sensitivity(2);
    Put(item, &IAppointment::put_Body, u"Agenda:\r\n1. budget");
    item->Save();
    item->Release();
  }
};

TEST_F(AppointmentRecordTest, EveryColumnTravelsOutAndBackUnchanged) {
  SaveAppointment();
  std::string notices;
  const auto records = Export(KindCalendar, &notices);
  EXPECT_EQ(notices, "1/501 3/100 4/516+1 0/0");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(schedule_testing::Joined(records[0]),
            u"Planning\\nround,one|Room 4|15|5|2007|9|0|15|5|2007|12|0|0|1|2|10||||15|5|2007|6|"
            u"6|8|2007|30|Work|r@x.org,q@x.org,p@x.org|3|2|Agenda:\\n1. budget");

  // Loaded into the emptied folder and saved again: the same bytes.
  const std::string first = handheld::testing::ReadFileBytes(sandbox().path("out.txt"));
  EXPECT_EQ(Run(KindCalendar, ModeImport, "out.txt", true).substr(0, 6), "1/511 ");
  EXPECT_EQ(Export(KindCalendar), records);
  EXPECT_EQ(handheld::testing::ReadFileBytes(sandbox().path("out.txt")), first);
}

TEST_F(AppointmentRecordTest, RecipientsThatWouldOverflowTheLineAreLeftOutWithTheRest) {
  const std::u16string a = std::u16string(30000, u'a') + u"@x.org";
  const std::u16string b = std::u16string(30000, u'b') + u"@x.org";
  const std::u16string c = std::u16string(30000, u'c') + u"@x.org";
  IAppointment* item = Create<IAppointment>(olAppointmentItem);
  AddResolved(item, {u"s@x.org", a, b, c});  // written from c down to s@x.org
  item->Save();
  item->Release();
  std::string notices;
  const auto records = Export(KindCalendar, &notices);
  EXPECT_EQ(notices, "1/501 3/100 4/516+1 0/0");
  ASSERT_EQ(records.size(), 1u);
  ASSERT_EQ(records[0].size(), static_cast<size_t>(kAppointmentColumns));
  EXPECT_TRUE(records[0][28] == c + u"," + b);
}

TEST_F(AppointmentRecordTest, AFailedReadEndsTheRecordAtItsColumn) {
  SaveAppointment();
  for (const auto& [fault, written] :
       std::map<std::string, size_t>{{"read:AllDayEvent:1", 12},
                                     {"pattern:1", 13},
                                     {"read:IsRecurring:1", 13},
                                     {"read:ReminderSet:1", 26},
                                     {"read:ReminderMinutesBeforeStart:1", 26},
                                     {"read:BusyStatus:1", 29}}) {
    ASSERT_TRUE(handheld::ArmFaults(fault, nullptr)) << fault;
    std::string notices;
    const auto records = Export(KindCalendar, &notices);
    handheld::ClearFaults();
    EXPECT_EQ(notices, "1/501 2/609 0/0") << fault;
    ASSERT_EQ(records.size(), 1u) << fault;
    EXPECT_EQ(records[0].size(), written) << fault;
  }
}

TEST_F(AppointmentRecordTest, ImportTakesAcceptedValuesOnlyAndEachRecordStartsAfresh) {
  // Each case: the fields imported, then columns of the record exported afterwards.
  const std::vector<std::pair<std::map<int, std::u16string>, std::map<int, std::u16string>>> cases =
      {
          {{{0, u"a"}, {12, u"T"}, {26, u"5"}, {29, u"0"}, {30, u"2"}, {31, u"C:\\new"}},
           {{12, u"1"}, {26, u"5"}, {29, u"0"}, {30, u"2"}, {31, u"C:\\new"}}},
          // Refused values keep the defaults; no reminder given turns the reminder off.
          {{{0, u"b"}, {12, u"-1"}, {26, u"x"}, {29, u"4"}, {30, u"1"}},
           {{12, u"0"}, {26, u""}, {29, u"2"}, {30, u"0"}}},
          {{{12, u"y"}, {30, u"3"}}, {{12, u"1"}, {30, u"0"}}},
          // Dates from 1 January 3000 on are not written; a yearly pattern writes no
          // interval.
          {{{2, u"1"},
            {3, u"1"},
            {4, u"3000"},
            {5, u"0"},
            {6, u"0"},
            {13, u"5"},
            {14, u"2"},
            {16, u"1"},
            {18, u"1"}},
           {{2, u""}, {6, u""}, {13, u"5"}, {14, u""}, {16, u"1"}, {18, u"1"}}},
          {{{0, std::u16string(4097, u's')}, {1, u"Here"}}, {{0, u""}, {1, u"Here"}}},
          {{{0, std::u16string(4096, u's')}}, {{0, std::u16string(4096, u's')}}},
          {{{28, u"r@x.org,nobody,p@x.org"}}, {{28, u"r@x.org,p@x.org"}}},
          {{{0, u"c"}, {28, u"a@x.org," + std::u16string(1021, u'x')}}, {{28, u""}}},
          {{{34, u"extra"}}, {{0, u""}}},
          // A repeating record, then one whose pattern columns find no pattern.
          {{{13, u"0"}, {14, u"3"}, {22, u"4"}}, {{13, u"0"}, {14, u"3"}, {22, u"4"}}},
          {{{0, u"d"}, {14, u"3"}, {22, u"4"}}, {{13, u""}, {14, u""}, {22, u""}}},
          // The end date lacks its day: the unfinished start date's day must not serve.
          {{{13, u"0"}, {19, u"15"}, {20, u"5"}, {24, u"12"}, {25, u"2007"}},
           {{13, u"0"}, {19, u""}, {22, u""}, {23, u""}, {24, u""}, {25, u""}}},
      };
  std::u16string file;
  for (const auto& [in, out] : cases) file += Record(35, in);
  file += Record(32, {}) + u"\n" + Record(35, {{34, std::u16string(1025, u'z')}});
  EXPECT_EQ(Import(KindCalendar, file), static_cast<int>(cases.size()));
  const auto records = Export(KindCalendar);
  ASSERT_EQ(records.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    ASSERT_EQ(records[i].size(), static_cast<size_t>(kAppointmentColumns)) << "record " << i;
    for (const auto& [column, text] : cases[i].second) {
      EXPECT_EQ(records[i][column], text) << "record " << i << " column " << column;
    }
  }
}

}  // namespace
