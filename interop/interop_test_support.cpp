#include "interop/interop_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <thread>

#include "handheld/process.h"
#include "handheld/testing/sandbox.h"
#include "handheld/utf16.h"
#include "interop/itemstore.h"
#include "interop/ical_transfer.h"
#include "interop/identity.h"
#include "interop/storesession.h"
#include "interop/vcard.h"

namespace interop::testing {
namespace {

using std::chrono::day;
using std::chrono::month;
using std::chrono::weekday;
using std::chrono::year;
using std::chrono::year_month_day;

int MonthNumber(sys_days d) {
  year_month_day ymd{d};
  return static_cast<int>(ymd.year()) * 12 + static_cast<int>(static_cast<unsigned>(ymd.month()));
}

// Whether `d` is the pattern's day of its month: day `dom` or the month's last day, or
// the instance-th (5: the last) of the mask's days.
bool IsMonthDay(sys_days d, LONG type, int dom, int mask, int instance) {
  year_month_day ymd{d};
  std::chrono::year_month_day_last last{ymd.year(), std::chrono::month_day_last{ymd.month()}};
  const unsigned length = static_cast<unsigned>(last.day());
  if (type == olRecursMonthly || type == olRecursYearly) {
    return static_cast<unsigned>(ymd.day()) == std::min<unsigned>(dom, length);
  }
  std::vector<unsigned> matching;
  for (unsigned n = 1; n <= length; ++n) {
    weekday w{sys_days{ymd.year() / ymd.month() / day{n}}};
    if ((mask >> w.c_encoding() & 1) != 0) matching.push_back(n);
  }
  unsigned chosen = instance == 5 || static_cast<size_t>(instance) > matching.size()
                        ? matching.back()
                        : matching[static_cast<size_t>(instance) - 1];
  return static_cast<unsigned>(ymd.day()) == chosen;
}

std::string U8(const std::u16string& text) {
  return handheld::Utf8FromUtf16(text);
}

// A contact's values as its own getters give them (not as an export reads them).
HRESULT ReadContact(IContact* item, ContactValues* c, const char**) {
  for (int t = 0; t < kContactTextCount; ++t) {
    BSTR text = nullptr;
    EXPECT_EQ((item->*kContactTextGetters[t])(&text), S_OK);
    c->texts[t].assign(text != nullptr ? text : u"", SysStringLen(text));
    SysFreeString(text);
  }
  EXPECT_EQ(item->get_Birthday(&c->birthday), S_OK);
  return item->get_Anniversary(&c->anniversary);
}

// The pattern's properties, set one by one in the order a program sets them.
void PutPattern(IRecurrencePattern* p, const Recurrence& r) {
  EXPECT_EQ(p->put_RecurrenceType(r.type), S_OK);
  if (r.type != olRecursYearly && r.type != olRecursYearNth) {
    EXPECT_EQ(p->put_Interval(r.interval), S_OK);
  }
  if (r.dayOfWeekMask != 0) { EXPECT_EQ(p->put_DayOfWeekMask(r.dayOfWeekMask), S_OK); }
  if (r.dayOfMonth != 0) { EXPECT_EQ(p->put_DayOfMonth(r.dayOfMonth), S_OK); }
  if (r.instance != 0) { EXPECT_EQ(p->put_Instance(r.instance), S_OK); }
  if (r.monthOfYear != 0) { EXPECT_EQ(p->put_MonthOfYear(r.monthOfYear), S_OK); }
  EXPECT_EQ(p->put_PatternStartDate(r.patternStart), S_OK);
  EXPECT_EQ(p->put_NoEndDate(r.noEnd ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
  if (!r.noEnd) { EXPECT_EQ(p->put_Occurrences(r.occurrences), S_OK); }
  if (!r.noEnd && r.patternEnd != handheld::kNoDate) {
    EXPECT_EQ(p->put_PatternEndDate(r.patternEnd), S_OK);
  }
}

std::string N(long value) {
  return std::to_string(value);
}

void AddPattern(std::vector<std::string>* f, bool recurring, const Recurrence& r) {
  f->push_back("Recurring=" + N(recurring));
  if (!recurring) return;
  f->insert(f->end(), {"Type=" + N(r.type), "Interval=" + N(r.interval),
                       "Mask=" + N(r.dayOfWeekMask), "DayOfMonth=" + N(r.dayOfMonth),
                       "Instance=" + N(r.instance), "MonthOfYear=" + N(r.monthOfYear),
                       "PatternStart=" + Text(r.patternStart), "NoEnd=" + N(r.noEnd)});
  if (!r.noEnd) {
    f->insert(f->end(), {"Occurrences=" + N(r.occurrences), "PatternEnd=" + Text(r.patternEnd)});
  }
}

// The values of the folder's items, read as an export reads them, with their UIDs.
template <class I, class V>
std::vector<V> ReadAll(Session& session, LONG folder, HRESULT (*read)(I*, V*, const char**)) {
  Ref<IPOutlookItemCollection> items = session.Items(folder);
  std::vector<V> out(static_cast<size_t>(Session::Count(items.get())));
  for (size_t i = 0; i < out.size(); ++i) {
    Ref<I> item = Session::Fetch<I>(items.get(), static_cast<INT>(i + 1));
    EXPECT_EQ(read(item.get(), &out[i], nullptr), S_OK);
    EXPECT_EQ(GetItemUid(item.get(), &out[i].uid), S_OK);
  }
  return out;
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A port on 127.0.0.1 that nothing listens on now (the kernel's choice, let go at once).
int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

bool Accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(port);
  const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

}  // namespace

sys_days Day(int y, unsigned m, unsigned d) {
  return sys_days{year{y} / month{m} / day{d}};
}

DATE StoreTime(sys_days d, int hour, int minute, int second) {
  year_month_day ymd{d};
  SYSTEMTIME fields{};
  fields.wYear = static_cast<WORD>(static_cast<int>(ymd.year()));
  fields.wMonth = static_cast<WORD>(static_cast<unsigned>(ymd.month()));
  fields.wDay = static_cast<WORD>(static_cast<unsigned>(ymd.day()));
  fields.wHour = static_cast<WORD>(hour);
  fields.wMinute = static_cast<WORD>(minute);
  fields.wSecond = static_cast<WORD>(second);
  DATE out = 0;
  EXPECT_TRUE(SystemTimeToVariantTime(&fields, &out));
  return out;
}

sys_days DayOf(DATE value) {
  SYSTEMTIME fields{};
  EXPECT_TRUE(VariantTimeToSystemTime(value, &fields));
  return Day(fields.wYear, fields.wMonth, fields.wDay);
}

sys_days DayOf(const icaltimetype& t) {
  return Day(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day));
}

std::string Iso(sys_days d) {
  return Text(StoreTime(d)).substr(0, 10);
}

std::string Text(DATE value) {
  if (value == handheld::kNoDate) return "none";
  SYSTEMTIME f{};
  if (!VariantTimeToSystemTime(value, &f)) return "invalid";
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", f.wYear, f.wMonth, f.wDay,
                f.wHour, f.wMinute, f.wSecond);
  return text;
}

std::vector<sys_days> StoreMeaning(const Recurrence& r, sys_days until) {
  const sys_days start = DayOf(r.patternStart);
  const year_month_day s{start};
  const int mask = r.dayOfWeekMask != 0 ? r.dayOfWeekMask : 1 << weekday{start}.c_encoding();
  const int dom =
      r.dayOfMonth != 0 ? r.dayOfMonth : static_cast<int>(static_cast<unsigned>(s.day()));
  const unsigned moy =
      r.monthOfYear != 0 ? static_cast<unsigned>(r.monthOfYear) : static_cast<unsigned>(s.month());
  const int interval = r.type == olRecursYearly || r.type == olRecursYearNth ? 1 : r.interval;
  const sys_days startSunday = start - days{weekday{start}.c_encoding()};
  std::vector<sys_days> out;
  for (sys_days d = start; d <= until; d += days{1}) {
    bool match = false;
    const year_month_day ymd{d};
    switch (r.type) {
      case olRecursDaily:
        match = (d - start).count() % interval == 0;
        break;
      case olRecursWeekly: {
        const sys_days sunday = d - days{weekday{d}.c_encoding()};
        match = (mask >> weekday{d}.c_encoding() & 1) != 0 &&
                (sunday - startSunday).count() / 7 % interval == 0;
        break;
      }
      case olRecursMonthly:
      case olRecursMonthNth:
        match = (MonthNumber(d) - MonthNumber(start)) % interval == 0 &&
                IsMonthDay(d, r.type, dom, mask, r.instance);
        break;
      default:
        match = static_cast<unsigned>(ymd.month()) == moy &&
                IsMonthDay(d, r.type, dom, mask, r.instance);
    }
    if (!match) continue;
    if (!r.noEnd) {
      if (r.patternEnd != handheld::kNoDate ? d > DayOf(r.patternEnd)
                                            : static_cast<LONG>(out.size()) >= r.occurrences) {
        break;
      }
    }
    out.push_back(d);
  }
  return out;
}

void Add(Session& session, const AppointmentValues& v) {
  Ref<IAppointment> item = session.Create<IAppointment>(olAppointmentItem);
  ASSERT_TRUE(item);
  EXPECT_EQ(item->put_Subject(Bstr(v.subject)), S_OK);
  EXPECT_EQ(item->put_Location(Bstr(v.location)), S_OK);
  EXPECT_EQ(item->put_Start(v.start), S_OK);
  EXPECT_EQ(item->put_End(v.end), S_OK);
  EXPECT_EQ(item->put_AllDayEvent(v.allDay ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
  EXPECT_EQ(item->put_ReminderSet(v.reminderSet ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
  EXPECT_EQ(item->put_ReminderMinutesBeforeStart(v.reminderMinutes), S_OK);
  EXPECT_EQ(item->put_Categories(Bstr(v.categories)), S_OK);
  EXPECT_EQ(item->put_BusyStatus(v.busy), S_OK);
  EXPECT_EQ(item->put_Sensitivity(v.sensitivity), S_OK);
  EXPECT_EQ(item->put_Body(Bstr(v.body)), S_OK);
  Ref<IRecipients> recipients;
  ASSERT_EQ(item->get_Recipients(recipients.Out()), S_OK);
  for (const RecipientValues& r : v.recipients) {
    Ref<IRecipient> recipient;
    ASSERT_EQ(recipients->Add(Bstr(r.name), recipient.Out()), S_OK);
    EXPECT_EQ(recipient->put_Address(Bstr(r.address)), S_OK);
  }
  if (v.recurring) {
    Ref<IRecurrencePattern> pattern;
    ASSERT_EQ(item->GetRecurrencePattern(pattern.Out()), S_OK);
    PutPattern(pattern.get(), v.pattern);
  }
  EXPECT_EQ(item->Save(), S_OK);
}

void Add(Session& session, const TaskValues& v) {
  Ref<ITask> item = session.Create<ITask>(olTaskItem);
  ASSERT_TRUE(item);
  EXPECT_EQ(item->put_Subject(Bstr(v.subject)), S_OK);
  EXPECT_EQ(item->put_Importance(v.importance), S_OK);
  EXPECT_EQ(item->put_Complete(v.complete ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
  EXPECT_EQ(item->put_StartDate(v.startDate), S_OK);
  EXPECT_EQ(item->put_DueDate(v.dueDate), S_OK);
  EXPECT_EQ(item->put_ReminderSet(v.reminderSet ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
  EXPECT_EQ(item->put_ReminderTime(v.reminderTime), S_OK);
  EXPECT_EQ(item->put_Categories(Bstr(v.categories)), S_OK);
  EXPECT_EQ(item->put_Sensitivity(v.sensitivity), S_OK);
  EXPECT_EQ(item->put_Body(Bstr(v.body)), S_OK);
  if (v.recurring) {
    Ref<IRecurrencePattern> pattern;
    ASSERT_EQ(item->GetRecurrencePattern(pattern.Out()), S_OK);
    PutPattern(pattern.get(), v.pattern);
  }
  EXPECT_EQ(item->Save(), S_OK);
}

std::vector<AppointmentValues> Appointments(Session& session) {
  return ReadAll(session, olFolderCalendar, ReadAppointment);
}

std::vector<TaskValues> Tasks(Session& session) {
  return ReadAll(session, olFolderTasks, ReadTask);
}

void Add(Session& session, const ContactValues& c) {
  Ref<IContact> item = session.Create<IContact>(olContactItem);
  ASSERT_TRUE(item);
  for (int t = 0; t < kContactTextCount; ++t) {
    const ContactTextSetter put = kContactTextSetters[t];
    const Bstr text(c.texts[t]);
    EXPECT_EQ((item.get()->*put)(text), S_OK);
  }
  EXPECT_EQ(item->put_Birthday(c.birthday), S_OK);
  EXPECT_EQ(item->put_Anniversary(c.anniversary), S_OK);
  if (!c.uid.empty()) {
    EXPECT_EQ(SetItemUid(item.get(), c.uid), S_OK);
  }
  EXPECT_EQ(item->Save(), S_OK);
}

std::vector<ContactValues> Contacts(Session& session) {
  return ReadAll(session, olFolderContacts, ReadContact);
}

std::vector<std::string> Fields(const ContactValues& c) {
  std::vector<std::string> f;
  for (int t = 0; t < kContactTextCount; ++t) {
    f.push_back(std::string(kContactTextNames[t]) + "=" + U8(c.texts[t]));
  }
  f.insert(f.end(), {"Birthday=" + Text(c.birthday), "Anniversary=" + Text(c.anniversary)});
  if (!c.uid.empty()) f.push_back("UID=" + c.uid);
  return f;
}

std::vector<std::string> Fields(const AppointmentValues& v) {
  std::string people;
  for (const auto& r : v.recipients) people += U8(r.name) + " <" + U8(r.address) + "> ";
  std::vector<std::string> f = {
      "Subject=" + U8(v.subject),   "Location=" + U8(v.location),     "Start=" + Text(v.start),
      "End=" + Text(v.end),         "AllDay=" + N(v.allDay),          "Reminder=" + N(v.reminderSet),
      "Categories=" + U8(v.categories), "Busy=" + N(v.busy),          "Sensitivity=" + N(v.sensitivity),
      "Body=" + U8(v.body),         "Recipients=" + people};
  if (v.reminderSet) f.push_back("ReminderMinutes=" + N(v.reminderMinutes));
  if (!v.uid.empty()) f.push_back("UID=" + v.uid);
  AddPattern(&f, v.recurring, v.pattern);
  return f;
}

std::vector<std::string> Fields(const TaskValues& v) {
  std::vector<std::string> f = {
      "Subject=" + U8(v.subject),         "Importance=" + N(v.importance),
      "Complete=" + N(v.complete),        "StartDate=" + Text(v.startDate),
      "DueDate=" + Text(v.dueDate),       "Reminder=" + N(v.reminderSet),
      "Categories=" + U8(v.categories),   "Sensitivity=" + N(v.sensitivity),
      "Body=" + U8(v.body)};
  if (v.reminderSet) f.push_back("ReminderTime=" + Text(v.reminderTime));
  if (!v.uid.empty()) f.push_back("UID=" + v.uid);
  AddPattern(&f, v.recurring, v.pattern);
  return f;
}

std::string Differences(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::string out;
  for (const std::string& field : a) {
    if (std::find(b.begin(), b.end(), field) == b.end()) out += "-" + field + "; ";
  }
  for (const std::string& field : b) {
    if (std::find(a.begin(), a.end(), field) == a.end()) out += "+" + field + "; ";
  }
  return out;
}

std::string Differences(const std::vector<std::vector<std::string>>& a,
                        const std::vector<std::vector<std::string>>& b) {
  std::string out = a.size() == b.size()
                        ? ""
                        : "items: " + std::to_string(a.size()) + " / " + std::to_string(b.size()) + "\n";
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const std::string d = Differences(a[i], b[i]);
    if (!d.empty()) out += "item " + std::to_string(i + 1) + ": " + d + "\n";
  }
  return out;
}

std::string Moved::Said() const {
  std::string out;
  for (const std::string& problem : result.problems) out += problem + "\n";
  if (!result.error.empty()) out += result.error + "\n";
  for (const std::string& line : lost) out += line + "\n";
  for (const std::string& note : result.notes) out += note + "\n";
  return out;
}

namespace {

Moved Transfer(Kind kind, const std::string& path, bool import, bool replace, Reading reading) {
  static const LONG kFolders[] = {olFolderContacts, olFolderCalendar, olFolderTasks};
  using ExportFunction = void (*)(StoreSession&, const std::string&, Losses*, TransferResult*);
  using ImportFunction =
      void (*)(StoreSession&, const std::string&, bool, Losses*, TransferResult*, Reading);
  static const ExportFunction kExports[] = {ExportContacts, ExportCalendar, ExportTasks};
  static const ImportFunction kImports[] = {ImportContacts, ImportCalendar, ImportTasks};
  const int k = static_cast<int>(kind);
  StoreSession session;
  Moved moved;
  if (!session.Open(kFolders[k], &moved.result.error)) {
    ADD_FAILURE() << moved.result.error;
    return moved;
  }
  const std::string noun = kind != Kind::kContacts ? "item" : import ? "card" : "contact";
  Losses losses(noun, noun + "s");
  if (import) {
    kImports[k](session, path, replace, &losses, &moved.result, reading);
  } else {
    kExports[k](session, path, &losses, &moved.result);
  }
  moved.lost = losses.Summary();
  return moved;
}

}  // namespace

Moved Export(Kind kind, const std::string& path) {
  return Transfer(kind, path, false, false, Reading::kThread);
}

Moved Import(Kind kind, const std::string& path, bool replace, Reading reading) {
  return Transfer(kind, path, true, replace, reading);
}

std::vector<std::vector<std::string>> HeldFields(Kind kind, bool byUid) {
  Session session;
  std::vector<std::vector<std::string>> out;
  auto add = [&](auto items) {
    if (byUid) items = ByUid(std::move(items));
    for (const auto& v : items) out.push_back(Fields(v));
  };
  if (kind == Kind::kContacts) add(Contacts(session));
  if (kind == Kind::kEvents) add(Appointments(session));
  if (kind == Kind::kTasks) add(Tasks(session));
  return out;
}

ContactValues Generator::Contact(int n) {
  static const std::u16string kAwkward[] = {
      u"comma, semicolon; backslash\\ colon:",
      u"Ёжик в тумане",
      u"emoji 😀 and 𝄞 clef",
      u"two\r\nlines\r\n\r\nand a blank one",
      u"a very long text that goes well beyond seventy-five octets: "
      u"Съешь же ещё этих мягких французских булок да выпей чаю 😀😀😀",
      u"\\n is not a line break, \\, is not a comma",
      u"quotes \" and ' and <angles>",
      u"tab\there",
      u" leading and trailing spaces ",
  };
  ContactValues c;
  for (int i = 0; i < kContactTextCount; ++i) {
    if ((i + n) % 5 == 0) continue;  // left empty
    c.texts[i] = kAwkward[(i + n) % 9] + u" " + handheld::Utf16FromUtf8(kContactTextNames[i]) +
                 u" " + handheld::Utf16FromUtf8(std::to_string(n));
  }
  const DATE dates[] = {
      handheld::kNoDate,         At(100, 1, 1),   At(9999, 12, 31, 23, 59, 59), At(1600, 2, 29),
      At(1899, 12, 29, 6, 0, 0), At(1985, 12, 10)};
  c.birthday = dates[n % 6];
  c.anniversary = dates[(n + 3) % 6];
  c.uid = n % 4 == 0 ? "" : "uid-" + std::to_string(n) + (n % 3 == 0 ? "/with;odd,chars\\" : "");
  return c;
}

const char16_t* const kBodies[] = {u"", u"Еженедельная встреча.\r\nA made-up note.", u"One line",
                                   u"Tabs\tand\r\n\r\nblank lines\r\n"};
const char16_t* const kCategories[] = {u"", u"Работа", u"Work, Personal", u"Home"};

std::u16string Generator::Subject() {
  static const char16_t* const kTexts[] = {
      u"Планёрка",  u"Lunch with Ada Example",   u"",     u"Review; plan, and\\ more",
      u"Day off 🎉", u"Quote \"this\" and: that", u"Long "};
  std::u16string text = OneOf(kTexts);
  if (text == u"Long ") text += std::u16string(300, u'x');
  return text;
}
Recurrence Generator::Pattern(sys_days from) {
  static const LONG kTypes[] = {olRecursDaily,    olRecursWeekly, olRecursMonthly,
                                olRecursMonthNth, olRecursYearly, olRecursYearNth};
  static const int kMasks[] = {2, 62, 65, 127, 20, 1, 64};
  Recurrence r;
  r.type = OneOf(kTypes);
  r.interval = 1;
  r.dayOfWeekMask = r.dayOfMonth = r.instance = r.monthOfYear = 0;
  if (r.type == olRecursDaily || r.type == olRecursWeekly || r.type == olRecursMonthly ||
      r.type == olRecursMonthNth) {
    r.interval = Pick(0, 2) == 0 ? Pick(2, 4) : 1;
  }
  if (r.type == olRecursWeekly || r.type == olRecursMonthNth || r.type == olRecursYearNth) {
    r.dayOfWeekMask = OneOf(kMasks);
  }
  if (r.type == olRecursMonthly || r.type == olRecursYearly) {
    r.dayOfMonth = Pick(0, 1) ? Pick(29, 31) : Pick(1, 28);
  }
  if (r.type == olRecursMonthNth || r.type == olRecursYearNth) r.instance = Pick(1, 5);
  if (r.type == olRecursYearly || r.type == olRecursYearNth) {
    r.monthOfYear = Pick(0, 2) == 0 ? 2 : Pick(1, 12);
  }
  r.patternStart = StoreTime(from);
  r.noEnd = true;
  const std::vector<sys_days> days = StoreMeaning(r, from + std::chrono::days{800});
  r.patternStart = StoreTime(days.front());
  switch (Pick(0, 2)) {
    case 0:
      break;
    case 1:
      r.noEnd = false;
      r.occurrences = Pick(1, 30);
      break;
    default: {
      const size_t last = static_cast<size_t>(Pick(0, static_cast<int>(days.size()) - 1));
      r.noEnd = false;
      r.occurrences = static_cast<LONG>(last + 1);
      r.patternEnd = StoreTime(days[last]);
    }
  }
  return r;
}

AppointmentValues Generator::Appointment(const std::vector<sys_days>& changeDays) {
  AppointmentValues v;
  v.subject = Subject();
  v.location = Pick(0, 1) ? u"Room 1, 1 Sample Street" : u"";
  v.body = OneOf(kBodies);
  v.categories = OneOf(kCategories);
  sys_days day = Day(2023, 1, 1) + std::chrono::days{Pick(0, 1200)};
  int hour = Pick(0, 23), minute = 15 * Pick(0, 3);
  // Times in a daylight-saving change: one that the spring change skips, one the autumn
  // change repeats.
  if (Pick(0, 9) == 0) {
    day = changeDays[static_cast<size_t>(Pick(0, static_cast<int>(changeDays.size()) - 1))];
    hour = Pick(1, 2);
    minute = 30;
  }
  v.allDay = Pick(0, 3) == 0;
  v.recurring = Pick(0, 1) == 1;
  if (v.recurring) {
    v.pattern = Pattern(day);
    day = DayOf(v.pattern.patternStart);
  }
  if (v.allDay) {
    v.start = StoreTime(day);
    v.end = StoreTime(day + std::chrono::days{Pick(1, 4)});
  } else {
    v.start = StoreTime(day, hour, minute);
    v.end = v.start + Pick(0, 3 * 24 * 4) / 96.0;
    SYSTEMTIME f;
    VariantTimeToSystemTime(v.end, &f);
    SystemTimeToVariantTime(&f, &v.end);
  }
  v.reminderSet = Pick(0, 2) != 0;
  static const LONG kMinutes[] = {0, 5, 15, 60, 1440, 10080, 43200};
  v.reminderMinutes = OneOf(kMinutes);
  v.busy = Pick(0, 3);
  v.sensitivity = Pick(0, 3);
  static const RecipientValues kPeople[] = {{u"Ada Example", u"ada@example.org"},
                                            {u"Вера Образцова", u"vera@example.org"},
                                            {u"Example, Boris \"Bob\"", u"boris@example.com"},
                                            {u"carol@example.net", u"carol@example.net"}};
  for (int n = Pick(0, 3); n > 0; --n) v.recipients.push_back(OneOf(kPeople));
  return v;
}

TaskValues Generator::Task() {
  TaskValues v;
  v.subject = Subject();
  v.body = OneOf(kBodies);
  v.categories = OneOf(kCategories);
  v.importance = Pick(0, 2);
  v.complete = Pick(0, 1) == 1;
  v.sensitivity = Pick(0, 3);
  const sys_days day = Day(2023, 1, 1) + std::chrono::days{Pick(0, 1200)};
  if (Pick(0, 2) != 0) v.startDate = StoreTime(day);
  if (Pick(0, 2) != 0) v.dueDate = StoreTime(day + std::chrono::days{Pick(0, 30)});
  v.recurring = Pick(0, 2) == 0;
  if (v.recurring) {
    v.pattern = Pattern(day);
    // A repeating task starts on its pattern's first occurrence.
    v.startDate = v.pattern.patternStart;
    if (v.dueDate != handheld::kNoDate && v.dueDate < v.startDate) v.dueDate = v.startDate;
  }
  v.reminderSet = Pick(0, 1) == 1;
  v.reminderTime = StoreTime(day - std::chrono::days{Pick(0, 3)}, Pick(6, 22), 15 * Pick(0, 3));
  return v;
}

Ran RunProgram(const std::string& dir, const std::vector<std::string>& argv,
               const std::vector<std::string>& env, int seconds) {
  const std::string out = dir + "/run.out", err = dir + "/run.err";
  Ran ran;
  const pid_t pid = handheld::StartChild({.argv = argv, .env = env, .out = out, .err = err});
  if (pid < 0) return ran;
  ran.status = handheld::WaitChild(pid, std::chrono::seconds(seconds));
  ran.out = handheld::testing::ReadFileBytes(out);
  ran.err = handheld::testing::ReadFileBytes(err);
  return ran;
}

bool Installed(const char* program) {
  return access(program, X_OK) == 0;
}

RadicaleServer::RadicaleServer(const std::string& folder) : folder_(folder), port_(FreePort()) {
  pid_ = handheld::StartChild(
      {.argv = {"/usr/bin/radicale", "--config", "",
                "--storage-filesystem-folder=" + folder + "/collections",
                "--server-hosts=127.0.0.1:" + std::to_string(port_), "--auth-type=none",
                "--rights-type=owner_only", "--logging-level=warning"},
       .env = {},
       .out = folder + "/radicale.log",
       .err = folder + "/radicale.log",
       .errToOut = true});
  for (int i = 0; i < 200 && pid_ > 0 && !Accepts(port_); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

RadicaleServer::~RadicaleServer() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  handheld::WaitChild(pid_);
}

bool RadicaleServer::running() const {
  return pid_ > 0 && Accepts(port_);
}

std::string RadicaleServer::Url(const std::string& name) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/user/" + name + "/";
}

std::string RadicaleServer::log() const {
  return handheld::testing::ReadFileBytes(folder_ + "/radicale.log");
}

}  // namespace interop::testing
