// Hand-written files of the kinds people have, read as `handheld import` does, under
// Europe/Berlin: an old phone's, Google's, Thunderbird's and damaged vCards; Google
// Calendar (UTC and TZID times), Thunderbird and Outlook calendars, all-day events over
// several days, series the store cannot hold and a damaged calendar. What an export into
// a peer's files changes in them; blank calendars, a card for a calendar, a long line.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
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
     {"not kept: RRULE that could not be read on 1 item",
      "not kept: a component without a name on 1 item"},
     {"left out 1 VJOURNAL"},
     {"line 10: a VEVENT without DTSTART", "line 15: a VEVENT without DTSTART",
      "line 34: BEGIN:VEVENT without its END"}},
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

ino_t Inode(const std::string& path) {
  struct stat info {};
  stat(path.c_str(), &info);
  return info.st_ino;
}

// A change to the store's first item, and the file's text it makes: (from, to) in turn.
template <class I>
struct Merge {
  const char* what;
  void (*change)(I*);  // null: none
  std::vector<std::pair<std::string, std::string>> edits;
  std::string said;  // by the export
};

std::string Edited(std::string text, const std::vector<std::pair<std::string, std::string>>& edits) {
  for (const auto& [from, to] : edits) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
  }
  return text;
}

// A peer's item (`theirs`) in its folder, imported, changed in the store and exported back
// into the folder: only what changed changes, in place, and a file without a change is
// not written; what the store reads back from the merged file is what it holds. Into one
// file beside another program's item (`withOther`), the store's item is merged and the
// other stays, whether or not the store changed it.
template <class I>
void ExportIntoTheirFiles(const std::string& dir, Kind kind, const std::string& theirs,
                          const std::string& withOther, const std::string& imported,
                          const std::string& kept, const std::vector<Merge<I>>& cases) {
  const std::string extension = kind == Kind::kContacts ? ".vcf" : ".ics";
  const std::string folder = dir + "/folder/", file = folder + "theirs" + extension,
                    single = dir + "/all" + extension;
  for (const Merge<I>& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::create_directories(folder);
    WriteFileBytes(file, theirs);
    WriteFileBytes(single, withOther);
    const ino_t before = Inode(file), beforeSingle = Inode(single);
    EXPECT_EQ(Import(kind, folder, true).Said(), imported);
    if (c.change != nullptr) {
      Session session;
      Ref<I> item = Session::Fetch<I>(session.Items(kind == Kind::kContacts ? olFolderContacts
                                                                              : olFolderCalendar)
                                          .get(),
                                      1);
      c.change(item.get());
      ASSERT_EQ(item->Save(), S_OK);
    }
    EXPECT_EQ(Export(kind, folder).Said(), c.said);
    EXPECT_EQ(ReadFileBytes(file), Edited(theirs, c.edits));
    const Moved moved = Export(kind, single);
    EXPECT_EQ(moved.result.notes, std::vector<std::string>{kept});
    EXPECT_EQ(ReadFileBytes(single), Edited(withOther, c.edits));
    if (c.change == nullptr) {
      EXPECT_EQ(Inode(file), before) << "an unchanged file was written";
      EXPECT_EQ(Inode(single), beforeSingle) << "an unchanged file was written";
    }
    const std::vector<std::vector<std::string>> held = HeldFields(kind);
    Import(kind, folder, true);
    EXPECT_EQ(Differences(held, HeldFields(kind)), "");
  }
}

TEST(TheirFiles, AnExportChangesOnlyWhatTheStoreChangedInACard) {
  handheld::testing::Sandbox sandbox;
  // A card another program wrote, with what the store has no place for.
  const std::string theirs =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:urn:uuid:5e1b0d2c-0000-4000-8000-00000000b0b0\r\n"
      "N:Roberts;Robert;;;\r\nFN:Bob R.\r\nNICKNAME:Bob\r\nEMAIL;TYPE=WORK:bob@work.example\r\n"
      "TEL;TYPE=ISDN:+1 555 0100\r\nTEL;TYPE=HOME:+1 555 0101\r\nIMPP:xmpp:bob@example.org\r\n"
      "X-JABBER:bob@example.org\r\nPHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRg\r\n"
      "ADR;TYPE=HOME:;;1 Main St;Springfield;;62701;USA\r\nNOTE:first\r\nEND:VCARD\r\n";
  const std::string single = sandbox.path("all.vcf");
  ExportIntoTheirFiles<IContact>(
      sandbox.dir(), Kind::kContacts, theirs,
      theirs + "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:not-in-the-store\r\nFN:Nobody\r\nEND:VCARD\r\n",
      "not kept: NICKNAME on 1 card\nchanged: EMAIL;TYPE=WORK kept without its type on 1 card\n"
      "not kept: IMPP on 1 card\nnot kept: X-JABBER on 1 card\nnot kept: PHOTO on 1 card\n"
      "changed: TEL;TYPE=ISDN kept as a home number on 1 card\n"
      "changed: FN (the store composes it from N) on 1 card\n",
      "kept 1 card of \"" + single + "\" that no contact of the store holds",
      {{"nothing", nullptr, {}, ""},
       {"a new property",
        [](IContact* c) { c->put_JobTitle(Bstr(u"Engineer")); },
        {{"END:VCARD\r\n", "TITLE:Engineer\r\nEND:VCARD\r\n"}},
        ""},
       {"a number",
        [](IContact* c) { c->put_HomeTelephoneNumber(Bstr(u"+1 555 0199")); },
        {{"TEL;TYPE=HOME:+1 555 0101", "TEL;TYPE=HOME:+1 555 0199"}},
        ""},
       {"an e-mail address removed",
        [](IContact* c) { c->put_Email1Address(Bstr(u"")); },
        {{"EMAIL;TYPE=WORK:bob@work.example\r\n", ""}},
        ""},
       {"the name",
        [](IContact* c) { c->put_LastName(Bstr(u"Robertson")); },
        {{"N:Roberts;Robert;;;\r\nFN:Bob R.", "N:Robertson;Robert;;;\r\nFN:Robert Robertson"}},
        ""},
       {"the note",
        [](IContact* c) { c->put_Body(Bstr(u"first\r\nsecond")); },
        {{"NOTE:first", "NOTE:first\\nsecond"}},
        ""},
       {"a part of the address",
        [](IContact* c) { c->put_HomeAddressCity(Bstr(u"Shelbyville")); },
        {{";Springfield;", ";Shelbyville;"}},
        ""}});
}

// A peer's weekly series: two EXDATEs, a changed occurrence, X- properties, two VALARMs,
// a room as attendee, blanks around its summary.
TEST(TheirFiles, AnExportChangesOnlyWhatTheStoreChangedInASeries) {
  handheld::testing::Sandbox sandbox;
  setenv("TZ", "Europe/Berlin", 1);
  const std::string theirs = ReadFileBytes(INTEROP_TEST_DATA "/series.ics");
  std::string withOther = theirs;
  withOther.insert(withOther.rfind("END:VCALENDAR"),
                   "BEGIN:VEVENT\r\nUID:someone-else\r\nDTSTART:20240301T100000Z\r\n"
                   "SUMMARY:Not ours\r\nEND:VEVENT\r\n");
  ExportIntoTheirFiles<IAppointment>(
      sandbox.dir(), Kind::kEvents, theirs, withOther,
      "not kept: EXDATE (only the first occurrence imported) on 1 item\n"
      "not kept: more than one VALARM on 1 item\n"
      "not kept: X-PEER-COLOR on 1 item\n"
      "changed: ATTENDEE;CUTYPE=ROOM as a person on 1 item\n",
      sandbox.path("all.ics") + ": kept 1 components the store does not hold",
      {{"nothing", nullptr, {}, ""},
       {"the subject",
        [](IAppointment* a) { a->put_Subject(Bstr(u"Team sync")); },
        {{"SUMMARY: Team meeting ", "SUMMARY:Team sync"}},
        ""},
       {"the reminder",
        [](IAppointment* a) { a->put_ReminderMinutesBeforeStart(30); },
        {{"TRIGGER:-PT15M", "TRIGGER:-PT30M"}, {"DESCRIPTION:first", "DESCRIPTION: Team meeting "}},
        ""},
       {"the repetition",
        [](IAppointment* a) {
          Ref<IRecurrencePattern> pattern;
          a->GetRecurrencePattern(pattern.Out());
          pattern->put_RecurrenceType(olRecursDaily);
          pattern->put_Interval(2);
          pattern->put_PatternStartDate(At(2024, 1, 8));
        },
        {{"RRULE:FREQ=WEEKLY;BYDAY=MO\r\nEXDATE;TZID=Europe/Berlin:20240115T100000\r\n"
          "EXDATE;TZID=Europe/Berlin:20240122T100000",
          "RRULE:FREQ=DAILY;INTERVAL=2"},
         {"BEGIN:VEVENT\r\nUID:weekly-1\r\nDTSTAMP:20240101T000000Z\r\n"
          "RECURRENCE-ID;TZID=Europe/Berlin:20240129T100000\r\n"
          "DTSTART;TZID=Europe/Berlin:20240129T120000\r\n"
          "DTEND;TZID=Europe/Berlin:20240129T130000\r\nSUMMARY:Moved meeting\r\nEND:VEVENT\r\n",
          ""}},
        "not kept: changed occurrences (RECURRENCE-ID) of a series changed here on 1 item\n"
        "not kept: EXDATE of a series changed here on 1 item\n"}});

  // The file an earlier export wrote: an item changed since changes only its own lines.
  const std::string own = sandbox.path("own.ics");
  ASSERT_EQ(Export(Kind::kEvents, own).Said(), "");
  const std::string first = ReadFileBytes(own);
  Session session;
  Ref<IAppointment> item = Session::Fetch<IAppointment>(session.Items(olFolderCalendar).get(), 1);
  ASSERT_EQ(item->put_Subject(Bstr(u"Team sync")), S_OK);
  ASSERT_EQ(item->Save(), S_OK);
  ASSERT_EQ(Export(Kind::kEvents, own).Said(), "");
  const size_t at = first.find("SUMMARY:");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(ReadFileBytes(own), Edited(first, {{first.substr(at, first.find("\r\n", at) - at), "SUMMARY:Team sync"}}));
}

// A file of blank lines holds no items; one that is not iCalendar at all is refused whole;
// a line of 20 MiB is read whole.
TEST(TheirFiles, BlankCalendarsCardsForACalendarAndLongLines) {
  handheld::testing::Sandbox sandbox;
  const std::string blank = sandbox.path("blank.ics"), vcf = sandbox.path("contacts.vcf");
  WriteFileBytes(blank, "\r\n  \r\n");
  const Moved moved = Import(Kind::kEvents, blank);
  EXPECT_EQ(moved.result.ExitStatus(), 0);
  EXPECT_EQ(moved.Said(), blank + ": no items\n");
  WriteFileBytes(vcf, "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ada\r\nEND:VCARD\r\n");
  const Moved refused = Import(Kind::kEvents, vcf);
  EXPECT_EQ(refused.result.ExitStatus(), 1);
  EXPECT_EQ(refused.result.items, 0);
  EXPECT_NE(refused.Said().find(vcf + " holds no VCALENDAR"), std::string::npos) << refused.Said();
  const std::string big = sandbox.path("big.ics");
  WriteFileBytes(
      big,
      "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:big\r\nDTSTART:20240101T100000Z\r\n"
      "DESCRIPTION:" +
          std::string(20 << 20, 'x') + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
  EXPECT_EQ(Import(Kind::kEvents, big).result.items, 1);
  Session session;
  EXPECT_EQ(Appointments(session).at(0).body.size(), size_t{20} << 20);
}

}  // namespace
}  // namespace interop::testing
