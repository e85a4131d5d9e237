// GNOME Calls' call history as the call log (gnomecalls.so, the "phone.dll" loaded when
// HANDHELD_STORE begins with "eds:").
//
// GNOME Calls keeps its history in ${XDG_DATA_HOME:-~/.local/share}/calls/records.db,
// table `calls`: `target` (the other party: a number, or a SIP address), `inbound`,
// `start`, `answered` and `end` (ISO 8601 texts in UTC; `answered` and `end` are NULL
// until that happens), `protocol` ("tel", "sip", "sips").
//
// The dialer may be writing while we read, and must never be kept from it: the file is
// opened read-only (no journal or mode changes; in its usual WAL mode a reader blocks no
// writer at all), read in one statement, and closed before the names are looked up. The
// one lock that stops a reader is a writer's commit in the old journal modes: the read
// waits for it a little, then fails (the system says the entries cannot be got), rather
// than hang the program.
//
// Names come from the address book the store holds, through its own objects, so that
// they follow whichever store is chosen.
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "handheld/bstr.h"
#include "handheld/civil.h"
#include "handheld/phone.h"
#include "handheld/phone/source.h"
#include "handheld/pimstore.h"
#include "handheld/utf16.h"

namespace handheld::phone {
namespace {

constexpr int kBusyWaitMs = 2000;
constexpr int32_t kCallerIdUnavailable = 0, kCallerIdAvailable = 2;

// A start that cannot be read: the timestamp columns come out empty (no conversion
// takes a time this large), and the duration is 0.
constexpr uint64_t kUnknownTime = ~uint64_t{0};

std::string HistoryPath() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return std::string(data) + "/calls/records.db";
  const char* home = std::getenv("HOME");  // a relative XDG_DATA_HOME is ignored
  if (home == nullptr || home[0] == 0) return "";
  return std::string(home) + "/.local/share/calls/records.db";
}

// Reads `count` digits at *at into *value.
bool Digits(const char*& at, int count, int* value) {
  *value = 0;
  for (int i = 0; i < count; ++i, ++at) {
    if (*at < '0' || *at > '9') return false;
    *value = *value * 10 + (*at - '0');
  }
  return true;
}

// "2026-12-07T23:55:48.044151Z" (any fraction, or none; "Z" or an offset such as "+01:00",
// or none for UTC) as FILETIME ticks. False for anything else, or a date before 1601.
bool ParseTime(const char* text, uint64_t* ticks) {
  if (text == nullptr) return false;
  const char* at = text;
  int year, month, day, hour, minute, second;
  if (!Digits(at, 4, &year) || *at++ != '-' || !Digits(at, 2, &month) || *at++ != '-' ||
      !Digits(at, 2, &day) || (*at != 'T' && *at != 't' && *at != ' ') || !Digits(++at, 2, &hour) ||
      *at++ != ':' || !Digits(at, 2, &minute) || *at++ != ':' || !Digits(at, 2, &second)) {
    return false;
  }
  int64_t fraction = 0;  // in 100 ns, further digits dropped
  if (*at == '.' || *at == ',') {
    int places = 0;
    for (++at; *at >= '0' && *at <= '9'; ++at, ++places) {
      if (places < 7) fraction = fraction * 10 + (*at - '0');
    }
    if (places == 0) return false;
    for (; places < 7; ++places) fraction *= 10;
  }
  int offset = 0;  // minutes east of UTC
  if (*at == '+' || *at == '-') {
    const int sign = *at++ == '-' ? -1 : 1;
    int hours, minutes = 0;
    if (!Digits(at, 2, &hours)) return false;
    if (*at == ':') ++at;
    if ((*at != 0 && !Digits(at, 2, &minutes)) || hours > 23 || minutes > 59) return false;
    offset = sign * (hours * 60 + minutes);
  } else if (*at == 'Z' || *at == 'z') {
    ++at;
  }
  if (*at != 0 || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) {
    return false;
  }
  if (static_cast<unsigned>(day) > DaysInMonth(year, static_cast<unsigned>(month))) return false;
  // Days from 1 January 1601, where FILETIME starts.
  static const int64_t k1601 = DaysFromCivil(1601, 1, 1);
  const int64_t days =
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - k1601;
  const int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second - int64_t{offset} * 60;
  if (days < 0 || seconds < 0) return false;
  *ticks = static_cast<uint64_t>(seconds) * 10'000'000 + static_cast<uint64_t>(fraction);
  return true;
}

const char* ColumnUtf8(sqlite3_stmt* statement, int column) {
  return reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
}

bool Present(sqlite3_stmt* statement, int column) {
  const char* text = ColumnUtf8(statement, column);
  return text != nullptr && text[0] != 0;
}

// One row of the history as a call-log entry (name and name type still unset).
CallEntryData EntryOf(sqlite3_stmt* row) {
  CallEntryData entry;
  if (const char* target = ColumnUtf8(row, 0)) entry.number = Utf16FromUtf8(target);
  const bool inbound = sqlite3_column_int64(row, 1) != 0;
  const bool answered = Present(row, 3);
  if (!ParseTime(ColumnUtf8(row, 2), &entry.startTime)) entry.startTime = kUnknownTime;
  // A call in progress has no end yet, and an end that cannot be read is no better: the
  // call counts as ending when it started.
  entry.ended = Present(row, 4);
  if (entry.startTime == kUnknownTime || !ParseTime(ColumnUtf8(row, 4), &entry.endTime)) {
    entry.endTime = entry.startTime;
  }
  entry.iom = !inbound ? IOM_OUTGOING : answered ? IOM_INCOMING : IOM_MISSED;
  entry.outgoing = !inbound;
  entry.connected = answered;
  entry.callerIdType =
      entry.number && !entry.number->empty() ? kCallerIdAvailable : kCallerIdUnavailable;
  return entry;
}

// The history's calls in the order added, or false with *error set. A missing file is an
// empty history, not an error: GNOME Calls makes it at its first start, so there is none
// only where it never ran, and a user asked to save calls from there expects "no calls to
// save" rather than an error about a file they never heard of.
bool ReadHistory(const std::string& path, std::vector<CallEntryData>* entries, std::string* error) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0 && errno == ENOENT) return true;
  sqlite3* db = nullptr;
  int result = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* statement = nullptr;
  if (result == SQLITE_OK) {
    sqlite3_busy_timeout(db, kBusyWaitMs);
    result = sqlite3_prepare_v2(
        db, "SELECT target, inbound, start, answered, \"end\" FROM calls ORDER BY id", -1,
        &statement, nullptr);
  }
  while (result == SQLITE_OK && (result = sqlite3_step(statement)) == SQLITE_ROW) {
    entries->push_back(EntryOf(statement));
    result = SQLITE_OK;
  }
  if (result != SQLITE_DONE) {
    *error = "GNOME Calls' history " + path +
             " cannot be read: " + (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(result));
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return result == SQLITE_DONE;
}

// The key a number is found by: its digits, without the spaces, dashes, brackets and "+"
// that people write in it; a "tel:" or SIP address counts by its user part. Empty for a
// text that is no telephone number ("sip:alice@example.org").
std::string NumberKey(std::u16string_view text) {
  for (std::u16string_view scheme : {u"tel:", u"sip:", u"sips:"}) {
    if (text.size() >= scheme.size() &&
        std::equal(scheme.begin(), scheme.end(), text.begin(),
                   [](char16_t a, char16_t b) { return a == b || a == b + 'A' - 'a'; })) {
      text.remove_prefix(scheme.size());
      text = text.substr(0, std::min(text.find(u'@'), text.find(u';')));
      break;
    }
  }
  std::string key;
  for (char16_t c : text) {
    if (c >= u'0' && c <= u'9') {
      key += static_cast<char>(c);
    } else if (std::u16string_view(u" +-()./").find(c) == std::u16string_view::npos) {
      return "";
    }
  }
  return key;
}

// The contact's telephones, in the order they are searched, with the name type each gives.
using StringGetter = HRESULT (IContact::*)(BSTR*);

struct Telephone {
  StringGetter get;
  const char16_t* type;
};
constexpr Telephone kTelephones[] = {
    {&IContact::get_MobileTelephoneNumber, u"m"},
    {&IContact::get_HomeTelephoneNumber, u"h"},
    {&IContact::get_Home2TelephoneNumber, u"h2"},
    {&IContact::get_BusinessTelephoneNumber, u"w"},
    {&IContact::get_Business2TelephoneNumber, u"w2"},
    {&IContact::get_CarTelephoneNumber, u"c"},
    {&IContact::get_RadioTelephoneNumber, u"r"},
    {&IContact::get_AssistantTelephoneNumber, u"a"},
    {&IContact::get_PagerNumber, u"p"},
    {&IContact::get_HomeFaxNumber, u"hf"},
    {&IContact::get_BusinessFaxNumber, u"wf"},
};

std::u16string ReadString(IContact* contact, StringGetter get) {
  BSTR text = nullptr;
  const HRESULT result = (contact->*get)(&text);
  std::u16string value = SUCCEEDED(result) && text != nullptr
                             ? std::u16string(text, SysStringLen(text))
                             : std::u16string();
  SysFreeString(text);
  return value;
}

// "FirstName LastName", else the company's name.
std::u16string ContactName(IContact* contact) {
  std::u16string name = ReadString(contact, &IContact::get_FirstName);
  const std::u16string last = ReadString(contact, &IContact::get_LastName);
  if (!name.empty() && !last.empty()) name += u' ';
  name += last;
  return name.empty() ? ReadString(contact, &IContact::get_CompanyName) : name;
}

struct Found {
  std::u16string name;
  std::u16string type;
};

// Fills *found for each key of `wanted` that a contact's telephone holds: the first
// contact in the address book's order, and its first telephone in kTelephones' order.
bool FindContacts(const std::set<std::string>& wanted, std::map<std::string, Found>* found,
                  std::string* error) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    *error = "COM cannot be started";
    return false;
  }
  IPOutlookApp* app = nullptr;
  IFolder* folder = nullptr;
  IPOutlookItemCollection* items = nullptr;
  INT count = 0;
  bool ok = SUCCEEDED(CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IPOutlookApp, reinterpret_cast<void**>(&app))) &&
            app != nullptr && SUCCEEDED(app->Logon(0));
  const bool loggedOn = ok;
  ok = ok && SUCCEEDED(app->GetDefaultFolder(olFolderContacts, &folder)) && folder != nullptr &&
       SUCCEEDED(folder->get_Items(&items)) && items != nullptr &&
       SUCCEEDED(items->get_Count(&count));
  for (INT i = 1; ok && i <= count && found->size() < wanted.size(); ++i) {
    IDispatch* item = nullptr;
    if (FAILED(items->Item(i, &item)) || item == nullptr) continue;  // gone since the count
    auto* contact = static_cast<IContact*>(item);
    std::u16string name;
    for (const Telephone& telephone : kTelephones) {
      const std::string key = NumberKey(ReadString(contact, telephone.get));
      if (key.empty() || wanted.count(key) == 0 || found->count(key) != 0) continue;
      if (name.empty()) name = ContactName(contact);
      found->emplace(key, Found{name, telephone.type});
    }
    contact->Release();
  }
  if (!ok) {
    *error = "the address book cannot be read";
    if (!loggedOn && !LastStoreError().empty()) *error += ": " + LastStoreError();
  }
  if (items != nullptr) items->Release();
  if (folder != nullptr) folder->Release();
  if (loggedOn) app->Logoff();
  if (app != nullptr) app->Release();
  CoUninitialize();
  return ok;
}

}  // namespace

std::optional<std::vector<CallEntryData>> LoadCallLog(std::string* error) {
  const std::string path = HistoryPath();
  if (path.empty()) {
    *error = "no place for GNOME Calls' history: neither XDG_DATA_HOME nor HOME is set";
    return std::nullopt;
  }
  std::vector<CallEntryData> entries;
  if (!ReadHistory(path, &entries, error)) return std::nullopt;
  // Newest first, ties in the order added. A call whose start cannot be read is kept
  // (its number, type and name still matter) and goes after all the others.
  std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    return a.startTime != kUnknownTime &&
           (b.startTime == kUnknownTime || a.startTime > b.startTime);
  });

  std::set<std::string> wanted;
  for (const CallEntryData& entry : entries) {
    std::string key = entry.number ? NumberKey(*entry.number) : "";
    if (!key.empty()) wanted.insert(key);
  }
  // Without the names the saved calls would look complete and not be: no names, no log.
  std::map<std::string, Found> found;
  if (!wanted.empty() && !FindContacts(wanted, &found, error)) return std::nullopt;
  for (CallEntryData& entry : entries) {
    auto it = found.find(entry.number ? NumberKey(*entry.number) : "");
    if (it == found.end()) continue;
    entry.name = it->second.name;
    entry.nameType = it->second.type;
  }
  return entries;
}

}  // namespace handheld::phone
