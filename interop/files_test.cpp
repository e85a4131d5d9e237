// Hand-written files of the kinds people have, read as `handheld import` does, under
// Europe/Berlin: an old phone's, Google's, Thunderbird's and damaged vCards; Google
// Calendar (UTC and TZID times), Thunderbird and Outlook calendars, all-day events over
// several days, series the store cannot hold and a damaged calendar. And what an export
// into a peer's files changes in them.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "handheld/testing/sandbox.h"
#include "interop/interop_test_support.h"

namespace interop::testing {
namespace {

using handheld::testing::ReadFileBytes;
using handheld::testing::WriteFileBytes;

// A file of the test data and what an import makes of it: fields (Fields) each item must
// have, in the store's order; the summary lines of what was not kept, the notes, and the
// problems (after the file's name); whether an export into a copy of the file leaves the
// copy as it is.
struct FileCase {
  const char* file;
  Kind kind;
  std::vector<std::vector<std::string>> items;
  std::vector<std::string> lost = {}, notes = {}, problems = {};
  bool keptByExport = false;
};

const FileCase kFiles[] = {
    // An old phone's vCard 2.1: quoted-printable UTF-8 with a soft line break inside a
    // character, bare type parameters, base64 data up to a blank line, a windows-1251 name
    // written raw, an N-less card.
    {"old-phone-21.vcf",
     Kind::kContacts,
     {{"LastName=Иванов", "FirstName=Иван", "MobileTelephoneNumber=+7 900 000 00 00",
       "HomeTelephoneNumber=111", "Home2TelephoneNumber=333", "BusinessFaxNumber=222",
       "Body=first\r\nsecond", "Birthday=1980-05-15 00:00:00"},
      {"FirstName=Петр Петров", "BusinessAddressStreet=Ул. Ленина",
       "BusinessAddressCity=Москва"}},
     {"changed: TEL;TYPE=PREF kept without the preference on 1 card", "not kept: PHOTO on 1 card",
      "changed: TEL without a type kept as a home number on 1 card"}},
    // Google's 3.0: LF only, a byte-order mark, item groups, a fourth e-mail, IMPP.
    {"google.vcf",
     Kind::kContacts,
     {{"FirstName=Jane", "MiddleName=Q.", "Email1Address=jane@home.example",
       "Email3Address=jane@third.example", "Home2TelephoneNumber=+1 555 0103",
       "HomeAddressPostalCode=62701", "CompanyName=Acme", "Department=Research",
       "WebPage=https://example.org/jane", "Categories=myContacts,Friends",
       "Body=Met at the\r\nconference"}},
     {"changed: EMAIL;TYPE=HOME kept without its type on 1 card",
      "changed: EMAIL;TYPE=WORK kept without its type on 1 card",
      "not kept: EMAIL beyond the third on 1 card",
      "not kept: TEL;TYPE=HOME beyond the second on 1 card", "not kept: X-ABLABEL on 1 card",
      "not kept: IMPP on 1 card"}},
    // Thunderbird's 4.0: lower-case types, VALUE=TEXT, the 4.0 anniversary and spouse.
    {"thunderbird.vcf",
     Kind::kContacts,
     {{"Title=Dr.", "Email1Address=max@example.de", "BusinessTelephoneNumber=+49 30 1234",
       "MobileTelephoneNumber=+49-170-1234", "BusinessAddressCountry=Deutschland",
       "Anniversary=2010-06-12 00:00:00", "Spouse=Erika Mustermann", "Children=Tom, Lisa",
       "Birthday=none", "UID=urn:uuid:3fcd4d1d-5ff6-4e6a-9f2b-d0a1f1c0e0b1"}},
     {"changed: EMAIL;TYPE=PREF kept without the preference on 1 card",
      "not kept: BDAY without a year on 1 card",
      "changed: FN (the store composes it from N) on 1 card"}},
    // A fold inside a character, group cards of vCard 4.0 and Apple's, a line that is no
    // property, text between cards, cards without their end.
    {"damaged.vcf",
     Kind::kContacts,
     {{"FirstName=Иван"}, {"FirstName=Kept"}},
     {"not kept: group card on 2 cards", "not kept: PHOTO on 1 card"},
     {},
     {"line 19: a line that does not start with a property name (the card from line 17 is "
      "skipped)",
      "line 21: text outside any card", "line 22: the card has no END:VCARD",
      "line 30: the card has no END:VCARD"}},
    // Numbers of no kind the store has after the typed ones, a post office box, a spouse
    // who is a link, an FN of its own, an AGENT card inside a card.
    {"changed.vcf",
     Kind::kContacts,
     {{"HomeTelephoneNumber=103", "Home2TelephoneNumber=104", "BusinessTelephoneNumber=100",
       "Business2TelephoneNumber=101", "MobileTelephoneNumber=102",
       "OtherAddressStreet=1 Main St\r\nSuite 5\r\nBox 7", "Spouse="},
      {"LastName=Holder", "HomeTelephoneNumber=200", "BusinessTelephoneNumber=",
       "Email1Address=", "Body=the holder's note"}},
     {"changed: ADR's post office box and extended address joined to the street on 1 card",
      "changed: ADR without a type kept as the other address on 1 card",
      "not kept: RELATED that is a link, not a name on 1 card",
      "changed: TEL;TYPE=ISDN kept as a work number on 1 card",
      "changed: TEL;TYPE=VIDEO kept as a work number on 1 card",
      "changed: TEL without a type kept as a mobile number on 1 card",
      "changed: FN (the store composes it from N) on 1 card", "not kept: AGENT on 1 card"}},
    {"utf16.vcf", Kind::kContacts, {{"LastName=Иванов"}}},
    // Google Calendar: 14:00 UTC is 15:00 in Berlin in March; 09:00 in New York is 15:00
    // here before either changes its clock, and an UNTIL of 1 May 03:59:59 UTC is still 30
    // April in New York (the last is Monday 29 April). Its series are compared as the
    // store holds them, and stay as Google wrote them.
    {"google.ics",
     Kind::kEvents,
     {{"Start=2024-03-15 15:00:00", "End=2024-03-15 16:00:00", "Location=1 Sample Street, Room 4",
       "Body=Quarterly numbers.\r\nBring the laptop.", "ReminderMinutes=10", "Busy=2",
       "Recipients=Vera Obrazcova <vera@example.org> boris@example.com <boris@example.com> "},
      {"Start=2024-03-04 15:00:00", "Type=1", "Mask=10", "PatternEnd=2024-04-29 00:00:00",
       "Occurrences=17", "Reminder=0"},
      {"AllDay=1", "Start=2024-07-22 00:00:00", "End=2024-07-27 00:00:00", "Busy=0"},
      {"Start=2024-01-26 22:00:00", "Type=3", "Mask=32", "Instance=5", "NoEnd=1"}},
     {"not kept: ORGANIZER on 1 item", "not kept: X-NUM-GUESTS of ATTENDEE on 1 item",
      "not kept: PARTSTAT of ATTENDEE on 1 item",
      "not kept: series times in America/New_York (its clock changes differ from local ones) "
      "on 2 items"},
     {},
     {},
     true},
    // Thunderbird: every weekday is a weekly pattern; 02:30 on the morning the clocks go
    // forward stays as written; an alarm two hours before the end is one hour before the
    // start.
    {"thunderbird.ics",
     Kind::kEvents,
     {{"Subject=Планёрка", "Categories=Работа, Meetings", "Sensitivity=2",
       "Start=2024-03-11 09:30:00", "Type=1", "Mask=62", "Occurrences=20", "ReminderMinutes=15"},
      {"Start=2024-03-31 02:30:00", "End=2024-03-31 03:30:00", "ReminderMinutes=60"}},
     {},
     {"left out 2 VTODO (tasks: import them as tasks)"}},
    {"thunderbird.ics",
     Kind::kTasks,
     {{"Importance=2", "Complete=0", "StartDate=2024-03-01 00:00:00",
       "DueDate=2024-03-20 00:00:00", "Type=2", "DayOfMonth=1",
       "ReminderTime=2024-03-20 16:30:00"},
      {"Importance=0", "Complete=1", "Sensitivity=3", "DueDate=2024-03-05 00:00:00",
       "StartDate=none"}},
     {"not kept: time of day of DUE on 1 item", "not kept: STATUS:IN-PROCESS on 1 item",
      "not kept: PERCENT-COMPLETE on 1 item", "not kept: COMPLETED on 1 item"},
     {"left out 2 VEVENT (appointments: import them as calendar)"}},
    // Outlook: its busy status; an attendee without an address resolves by a contact's
    // name, in the merge of the export as in the load.
    {"outlook.ics",
     Kind::kEvents,
     {{"Subject=Away at the conference", "Busy=3", "Start=2024-04-03 09:00:00",
       "End=2024-04-05 18:00:00", "ReminderMinutes=1080", "Body=Conference in Lisbon\r\n",
       "Recipients=Vera Obrazcova <vera@example.org> NoMail Person <nomail@example.org> "},
      {"Busy=1", "Sensitivity=2", "Type=3", "Mask=4", "Instance=2", "Occurrences=6",
       "Reminder=0"},
      {"AllDay=1", "Busy=0", "End=2024-05-13 00:00:00", "ReminderMinutes=1080"}},
     {"not kept: X-ALT-DESC on 1 item", "not kept: RSVP of ATTENDEE on 1 item",
      "not kept: LANGUAGE of SUMMARY on 3 items",
      "not kept: ATTENDEE without a mail address that no contact has on 1 item"},
     {},
     {},
     true},
    // Three days from 28 February of a leap year end on 2 March.
    {"allday.ics",
     Kind::kEvents,
     {{"AllDay=1", "Start=2024-12-30 00:00:00", "End=2025-01-03 00:00:00"},
      {"AllDay=1", "End=2024-03-02 00:00:00", "ReminderMinutes=900"}},
     {"not kept: X-APPLE-TRAVEL-ADVISORY-BEHAVIOR on 1 item"}},
    // Series the store cannot hold come as their first occurrence; an occurrence without
    // its series in the file is an appointment of its own.
    {"exdate.ics",
     Kind::kEvents,
     {{"Subject=Yoga", "Start=2024-03-04 10:00:00", "Recurring=0"},
      {"Subject=Choir", "Recurring=0"},
      {"Subject=Guest talk", "Start=2024-03-20 14:00:00"},
      {"Subject=Take the pills", "Recurring=0"}},
     {"not kept: EXDATE (only the first occurrence imported) on 1 item",
      "not kept: changed occurrences (RECURRENCE-ID) (only the first occurrence imported) on 1 "
      "item",
      "not kept: RRULE FREQ=HOURLY (only the first occurrence imported) on 1 item"}},
    // Damaged components are named by line, and the rest is imported.
    {"broken.ics",
     Kind::kEvents,
     {{}, {}},
     {"not kept: RRULE that could not be read on 1 item"},
     {"left out 1 VJOURNAL"},
     {"line 10: a VEVENT without DTSTART", "line 15: a VEVENT without DTSTART",
      "line 31: BEGIN:VEVENT without its END"}},
};

TEST(PeoplesFiles, ImportToTheirValues) {
  handheld::testing::Sandbox sandbox;
  setenv("TZ", "Europe/Berlin", 1);
  int n = 0;
  for (const FileCase& c : kFiles) {
    SCOPED_TRACE(c.file);
    setenv("HANDHELD_STORE", sandbox.path("store" + std::to_string(++n)).c_str(), 1);
    {
      Session session;
      Ref<IContact> contact = session.Create<IContact>(olContactItem);
      contact->put_FirstName(Bstr(u"NoMail"));
      contact->put_LastName(Bstr(u"Person"));
      contact->put_Email1Address(Bstr(u"nomail@example.org"));
      ASSERT_EQ(contact->Save(), S_OK);
    }
    const std::string path = std::string(INTEROP_TEST_DATA) + "/" + c.file;
    const Moved moved = Import(c.kind, path);
    std::vector<std::vector<std::string>> items = HeldFields(c.kind);
    if (c.kind == Kind::kContacts) items.erase(items.begin());  // NoMail Person
    ASSERT_EQ(items.size(), c.items.size());
    EXPECT_EQ(moved.result.items, static_cast<long>(c.items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
      for (const std::string& field : c.items[i]) {
        EXPECT_NE(std::find(items[i].begin(), items[i].end(), field), items[i].end())
            << "item " << i << ": " << field << "\n" << Differences(items[i], {});
      }
    }
    EXPECT_EQ(moved.lost, c.lost);
    EXPECT_EQ(moved.result.notes, c.notes);
    std::vector<std::string> problems;
    for (const std::string& p : c.problems) problems.push_back(path + ": " + p);
    EXPECT_EQ(moved.result.problems, problems);
    if (c.keptByExport) {
      const std::string copy = sandbox.path("copy.ics");
      WriteFileBytes(copy, ReadFileBytes(path));
      EXPECT_EQ(Export(c.kind, copy).Said(), "");
      EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(path));
    }
  }
}

}  // namespace
}  // namespace interop::testing
