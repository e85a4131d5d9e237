#include "records/appointment.h"

#include "records/record_test_support.h"

namespace {

using record_testing::Record;

using AppointmentRecordTest = record_testing::RecordTest;

TEST_F(AppointmentRecordTest, EveryColumnTravelsOutAndBackAndFailedReadsEndTheRecord) {
  ExpectRoundTrip(KindCalendar,
                  record_testing::Line(u"Planning\\nround|Room 4|15|5|2007|9|0|15|5|2007|12|0|0|"
                                       u"1|2|10||||15|5|2007|6|6|8|2007|30|Work|"
                                       u"r@x.org,q@x.org,p@x.org|3|2|Agenda:\\n1. budget"));
  ExpectReadFaults(KindCalendar, {"read:AllDayEvent:1", "pattern:1", "read:IsRecurring:1",
                                  "read:ReminderSet:1", "read:ReminderMinutesBeforeStart:1",
                                  "read:BusyStatus:1"});
}

TEST_F(AppointmentRecordTest, StoreTextIsEscapedAndRecipientsGoOutLastFirstWithinTheLine) {
  const std::u16string a = std::u16string(30000, u'a') + u"@x.org";
  const std::u16string b = std::u16string(30000, u'b') + u"@x.org";
  const std::u16string c = std::u16string(30000, u'c') + u"@x.org";
  IAppointment* item = Create<IAppointment>(olAppointmentItem);
  BSTR subject = SysAllocString(u"a\tb\r\nc");
  item->put_Subject(subject);
  SysFreeString(subject);
  IRecipients* recipients = nullptr;
  ASSERT_TRUE(SUCCEEDED(item->get_Recipients(&recipients)));
  // Written from c down; "Ann Lee" is left unresolved, so she has a name and no address.
  for (const std::u16string& address :
       {std::u16string(u"Ann Lee"), std::u16string(u"s@x.org"), a, b, c}) {
    BSTR name = SysAllocString(address.c_str());
    IRecipient* recipient = nullptr;
    IPOlRecipient* resolvable = nullptr;
    recipients->Add(name, &recipient);
    recipient->QueryInterface(IID_IPOlRecipient, reinterpret_cast<void**>(&resolvable));
    VARIANT_BOOL resolved = VARIANT_FALSE;
    if (address != u"Ann Lee") resolvable->Resolve(VARIANT_FALSE, &resolved);  // to itself
    resolvable->Release();
    recipient->Release();
    SysFreeString(name);
  }
  recipients->Release();
  item->Save();
  item->Release();
  const auto records = Export(KindCalendar);
  ASSERT_EQ(records.size(), 1u);
  ASSERT_EQ(records[0].size(), static_cast<size_t>(kAppointmentColumns));
  EXPECT_TRUE(records[0][0] == u"a,b\\nc");
  // One that would overflow the line is left out alone; a recipient without an address
  // goes by its name.
  EXPECT_TRUE(records[0][28] == c + u"," + b + u",s@x.org,Ann Lee");
}

TEST_F(AppointmentRecordTest, ImportTakesAcceptedValuesOnlyAndEachRecordStartsAfresh) {
  // clang-format off
  ExpectImported(KindCalendar, 35, kAppointmentColumns,
                 {
                     {{{0, u"a"}, {12, u"T"}, {26, u"5"}, {29, u"0"}, {30, u"2"}, {31, u"C:\\new"}},
                      {{12, u"1"}, {26, u"5"}, {29, u"0"}, {30, u"2"}, {31, u"C:\\new"}}},
                     // Refused values keep the defaults; no reminder given turns the reminder off.
                     {{{0, u"b"}, {12, u"-1"}, {26, u"x"}, {29, u"4"}, {30, u"1"}},
                      {{12, u"0"}, {26, u""}, {29, u"2"}, {30, u"0"}}},
                     {{{12, u"y"}, {30, u"3"}}, {{12, u"1"}, {30, u"0"}}},
                     // Dates from 1 January 3000 on are not written; a yearly pattern writes no
                     // interval.
                     {{{2, u"1"}, {3, u"1"}, {4, u"3000"}, {5, u"0"}, {6, u"0"},
                       {13, u"5"}, {14, u"2"}, {16, u"1"}, {18, u"1"}},
                      {{2, u""}, {6, u""}, {13, u"5"}, {14, u""}, {16, u"1"}, {18, u"1"}}},
                     // A subject over its limit is dropped while the item is still saved.
                     {{{0, std::u16string(4097, u's')}, {1, u"Here"}}, {{0, u""}, {1, u"Here"}}},
                     {{{0, std::u16string(4096, u's')}}, {{0, std::u16string(4096, u's')}}},
                     // Recipients come back in their order; one that does not resolve is removed.
                     {{{28, u"r@x.org,nobody,p@x.org"}}, {{28, u"r@x.org,p@x.org"}}},
                     {{{0, u"c"}, {28, u"a@x.org," + std::u16string(1021, u'x')}}, {{28, u""}}},
                     {{{34, u"extra"}}, {{0, u""}}},
                     // A repeating record, then one whose pattern columns find no pattern.
                     {{{13, u"0"}, {14, u"3"}, {22, u"4"}}, {{13, u"0"}, {14, u"3"}, {22, u"4"}}},
                     {{{0, u"d"}, {14, u"3"}, {22, u"4"}}, {{13, u""}, {14, u""}, {22, u""}}},
                     // The end date lacks its day: the unfinished start date's day must not serve.
                     {{{13, u"0"}, {19, u"15"}, {20, u"5"}, {24, u"12"}, {25, u"2007"}},
                      {{13, u"0"}, {19, u""}, {22, u""}, {23, u""}, {24, u""}, {25, u""}}},
                 },
                 Record(32, {}) + u"\n" + Record(35, {{34, std::u16string(1025, u'z')}}));
  // clang-format on
}

}  // namespace
