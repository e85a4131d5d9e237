// The store's dates and iCalendar times.
#include "interop/ical_time.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <mutex>

namespace interop {
namespace {

constexpr std::string_view kZoneFolder = "zoneinfo/";

// A tz database name that may be looked up as a file: letters, digits and "/_+-", no
// empty or dotted part, not absolute. Names come from files being read, so nothing
// else reaches the zone folder.
bool IsZoneName(std::string_view name) {
  if (name.empty() || name.size() > 128 || name.front() == '/' || name.back() == '/') {
    return false;
  }
  char previous = '/';
  for (char c : name) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '_' || c == '+' || c == '-';
    if (!plain && c != '/') return false;
    if (c == '/' && previous == '/') return false;
    if (c == '-' && previous == '/') return false;  // no option-like part
    previous = c;
  }
  return true;
}

std::string ZoneFolder() {
  const char* folder = std::getenv("TZDIR");
  return folder != nullptr && *folder != '\0' ? folder : "/usr/share/zoneinfo";
}

bool ZoneFileExists(std::string_view name) {
  return IsZoneName(name) && access((ZoneFolder() + "/" + std::string(name)).c_str(), R_OK) == 0;
}

// The zone name inside a path into a zoneinfo folder ("" when there is none).
std::string NameFromPath(std::string_view path) {
  size_t at = path.rfind(kZoneFolder);
  if (at == std::string_view::npos) return "";
  std::string_view name = path.substr(at + kZoneFolder.size());
  for (std::string_view variant : {"posix/", "right/"}) {
    if (name.substr(0, variant.size()) == variant) name.remove_prefix(variant.size());
  }
  return IsZoneName(name) ? std::string(name) : "";
}

std::string SystemZoneName() {
  char target[4096];
  ssize_t length = readlink("/etc/localtime", target, sizeof target - 1);
  if (length > 0) return NameFromPath(std::string_view(target, static_cast<size_t>(length)));
  std::ifstream file("/etc/timezone");
  std::string line;
  if (file && std::getline(file, line)) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    return IsZoneName(line) ? line : "";
  }
  // Without /etc/localtime the C library keeps UTC.
  return access("/etc/localtime", F_OK) == 0 ? "" : "UTC";
}

std::string ZoneNameFromEnvironment() {
  const char* tz = std::getenv("TZ");
  if (tz == nullptr) return SystemZoneName();
  std::string_view value = tz;
  if (!value.empty() && value.front() == ':') value.remove_prefix(1);
  if (value.empty()) return "UTC";  // the C library's reading of an empty TZ
  if (value.front() == '/') return NameFromPath(value);
  return ZoneFileExists(value) ? std::string(value) : "";
}

void FillTm(const icaltimetype& value, struct tm* fields) {
  *fields = {};
  fields->tm_year = value.year - 1900;
  fields->tm_mon = value.month - 1;
  fields->tm_mday = value.day;
  fields->tm_hour = value.is_date ? 0 : value.hour;
  fields->tm_min = value.is_date ? 0 : value.minute;
  fields->tm_sec = value.is_date ? 0 : value.second;
}

icaltimetype FromTm(const struct tm& fields) {
  icaltimetype out = icaltime_null_time();
  out.year = fields.tm_year + 1900;
  out.month = fields.tm_mon + 1;
  out.day = fields.tm_mday;
  out.hour = fields.tm_hour;
  out.minute = fields.tm_min;
  out.second = fields.tm_sec;
  return out;
}

// A zone made of a VTIMEZONE (which it takes); null when it cannot be.
icaltimezone* NewZone(icalcomponent* vtimezone) {
  icaltimezone* zone = icaltimezone_new();
  if (zone == nullptr || icaltimezone_set_component(zone, vtimezone) == 0) {
    icalcomponent_free(vtimezone);
    if (zone != nullptr) icaltimezone_free(zone, 1);
    return nullptr;
  }
  return zone;
}

// Zones are shared by the process's tables: libical works a zone's changes out at its
// first use, from every observance's first year on, which takes longer than reading a
// file of events; so a folder of item files that each carry the same VTIMEZONE, or name
// the same zone of the tz database, works them out once. A zone is found by what its
// changes are worked out from (ChangesText), or by the database file it came from (null:
// the database has none). Filled up, the cache lets the zone used longest ago go (the
// tables that use a zone keep it). The database's zones are kept apart from the files' own
// VTIMEZONEs: many files with zones of their own (each one a little different, as a fuzzer
// writes them) would otherwise push out the database's few, whose changes were then worked
// out again and again.
SharedZone Shared(bool database, const std::string& key,
                  const std::function<icaltimezone*()>& make) {
  struct Kept {
    SharedZone zone;
    uint64_t used;  // when it was last asked for
  };
  static std::mutex mutex;
  static std::map<std::string, Kept> kept[2];
  static uint64_t clock = 0;
  std::map<std::string, Kept>& zones = kept[database ? 1 : 0];
  constexpr size_t kKept = 128;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (auto at = zones.find(key); at != zones.end()) {
      at->second.used = ++clock;
      return at->second.zone;
    }
  }
  icaltimezone* made = make();
  SharedZone zone(made, [](icaltimezone* z) {
    if (z != nullptr) icaltimezone_free(z, 1);
  });
  std::lock_guard<std::mutex> lock(mutex);
  if (zones.size() >= kKept) {
    zones.erase(std::min_element(zones.begin(), zones.end(), [](const auto& a, const auto& b) {
      return a.second.used < b.second.used;
    }));
  }
  Kept& entry = zones.emplace(key, Kept{zone, 0}).first->second;
  entry.used = ++clock;
  return entry.zone;
}

// What libical works a VTIMEZONE's changes out from: each STANDARD and DAYLIGHT
// observance's DTSTART, offsets, RRULEs and RDATEs in their order, with whatever is nested
// in it, and any other part below the VTIMEZONE whole. Its names (TZID, TZNAME,
// X-LIC-LOCATION) and other properties change no conversion.
std::string ChangesText(icalcomponent* vtimezone) {
  std::string text;
  auto append = [&text](char* written) {
    if (written != nullptr) text += written;
    std::free(written);
  };
  for (icalcomponent* part = icalcomponent_get_first_component(vtimezone, ICAL_ANY_COMPONENT);
       part != nullptr; part = icalcomponent_get_next_component(vtimezone, ICAL_ANY_COMPONENT)) {
    const icalcomponent_kind kind = icalcomponent_isa(part);
    if (kind != ICAL_XSTANDARD_COMPONENT && kind != ICAL_XDAYLIGHT_COMPONENT) {
      append(icalcomponent_as_ical_string_r(part));
      continue;
    }
    text += kind == ICAL_XSTANDARD_COMPONENT ? "STANDARD\n" : "DAYLIGHT\n";
    for (icalproperty* p = icalcomponent_get_first_property(part, ICAL_ANY_PROPERTY);
         p != nullptr; p = icalcomponent_get_next_property(part, ICAL_ANY_PROPERTY)) {
      switch (icalproperty_isa(p)) {
        case ICAL_DTSTART_PROPERTY:
        case ICAL_TZOFFSETFROM_PROPERTY:
        case ICAL_TZOFFSETTO_PROPERTY:
        case ICAL_RRULE_PROPERTY:
        case ICAL_RDATE_PROPERTY:
          append(icalproperty_as_ical_string_r(p));
          break;
        default:
          break;
      }
    }
    for (icalcomponent* inner = icalcomponent_get_first_component(part, ICAL_ANY_COMPONENT);
         inner != nullptr; inner = icalcomponent_get_next_component(part, ICAL_ANY_COMPONENT)) {
      append(icalcomponent_as_ical_string_r(inner));
    }
    text += "END\n";
  }
  return text;
}

// The zone of a tz database name, with the name as its TZID; null when unknown.
SharedZone ZoneFromDatabase(std::string_view name) {
  if (!ZoneFileExists(name)) return nullptr;
  return Shared(true, ZoneFolder() + "/" + std::string(name), [name]() -> icaltimezone* {
    icalcomponent* component = icaltzutil_fetch_timezone(std::string(name).c_str());
    return component != nullptr ? NewZone(component) : nullptr;
  });
}

// libical works a zone's changes out up to the year 2582 and no further; for a later time
// it gives the offset after the last of them, but works them all out again at every
// call (some milliseconds each). Such a time is converted as the last second of 2582 is,
// by the same offset, which is what libical gives, once.
constexpr int kLastZoneYear = 2582;

void Convert(icaltimetype* time, icaltimezone* from, icaltimezone* to) {
  if (time->year <= kLastZoneYear) {
    icaltimezone_convert_time(time, from, to);
    return;
  }
  icaltimetype last = icaltime_null_time();
  last.year = kLastZoneYear;
  last.month = 12;
  last.day = 31;
  last.hour = 23;
  last.minute = 59;
  last.second = 59;
  icaltimetype converted = last;
  icaltimezone_convert_time(&converted, from, to);
  *time = WallFromSeconds(WallSeconds(*time) + WallSeconds(converted) - WallSeconds(last));
}

}  // namespace

void PrepareLibical() {
  static std::once_flag once;
  std::call_once(once, [] { icalerror_set_errors_are_fatal(0); });
}

LocalZone LocalZone::Current() {
  PrepareLibical();
  tzset();
  std::string name = ZoneNameFromEnvironment();
  if (!name.empty() && ZoneFromDatabase(name) == nullptr) return LocalZone("");
  return LocalZone(std::move(name));
}

bool LocalZone::Names(std::string_view tzid) const {
  if (name_.empty()) return false;
  if (tzid == name_) return true;
  return tzid.size() > name_.size() + 1 && tzid.front() == '/' &&
         tzid.substr(tzid.size() - name_.size()) == name_ &&
         tzid[tzid.size() - name_.size() - 1] == '/';
}

icalcomponent* LocalZone::NewVtimezone() const {
  if (!ZoneFileExists(name_)) return nullptr;
  PrepareLibical();
  icalcomponent* zone = icaltzutil_fetch_timezone(name_.c_str());
  if (zone == nullptr) return nullptr;
  // libical names its zones under its own prefix; peers look the plain name up.
  icalproperty* tzid = icalcomponent_get_first_property(zone, ICAL_TZID_PROPERTY);
  if (tzid == nullptr) {
    icalcomponent_add_property(zone, icalproperty_new_tzid(name_.c_str()));
  } else {
    icalproperty_set_tzid(tzid, name_.c_str());
  }
  return zone;
}

bool IcalFromStoreDate(DATE value, bool dateOnly, icaltimetype* out) {
  if (value == handheld::kNoDate) return false;
  SYSTEMTIME fields;
  if (!VariantTimeToSystemTime(value, &fields)) return false;
  icaltimetype time = icaltime_null_time();
  time.year = fields.wYear;
  time.month = fields.wMonth;
  time.day = fields.wDay;
  if (dateOnly) {
    time.is_date = 1;
  } else {
    time.hour = fields.wHour;
    time.minute = fields.wMinute;
    time.second = fields.wSecond;
  }
  *out = time;
  return true;
}

bool StoreDateFromIcal(const icaltimetype& value, DATE* out) {
  if (value.year < 100 || value.year > 9999) return false;
  SYSTEMTIME fields{};
  fields.wYear = static_cast<WORD>(value.year);
  fields.wMonth = static_cast<WORD>(value.month);
  fields.wDay = static_cast<WORD>(value.day);
  if (!value.is_date) {
    fields.wHour = static_cast<WORD>(value.hour);
    fields.wMinute = static_cast<WORD>(value.minute);
    fields.wSecond = static_cast<WORD>(value.second);
  }
  return SystemTimeToVariantTime(&fields, out) != FALSE;
}

long long WallSeconds(const icaltimetype& time) {
  struct tm fields;
  FillTm(time, &fields);
  return static_cast<long long>(timegm(&fields));
}

icaltimetype WallFromSeconds(long long seconds) {
  time_t instant = static_cast<time_t>(seconds);
  struct tm fields;
  gmtime_r(&instant, &fields);
  return FromTm(fields);
}

icaltimetype UtcFromLocal(const icaltimetype& local) {
  struct tm fields;
  FillTm(local, &fields);
  fields.tm_isdst = -1;
  time_t instant = mktime(&fields);
  struct tm utc;
  gmtime_r(&instant, &utc);
  icaltimetype out = FromTm(utc);
  out.zone = icaltimezone_get_utc_timezone();
  return out;
}

icaltimetype LocalFromUtc(const icaltimetype& utc) {
  struct tm fields;
  FillTm(utc, &fields);
  time_t instant = timegm(&fields);
  struct tm local;
  localtime_r(&instant, &local);
  return FromTm(local);
}

ZoneTable::ZoneTable(LocalZone local) : local_(std::move(local)) {
  PrepareLibical();
  tzset();
}

ZoneTable::~ZoneTable() = default;

void ZoneTable::Add(icalcomponent* vtimezone) {
  icalproperty* property = icalcomponent_get_first_property(vtimezone, ICAL_TZID_PROPERTY);
  const char* tzid = property != nullptr ? icalproperty_get_tzid(property) : nullptr;
  if (tzid == nullptr || *tzid == '\0') {
    icalcomponent_free(vtimezone);
    return;
  }
  const std::string key = tzid;
  const std::string same = ChangesText(vtimezone);
  bool taken = false;  // by a new zone (or freed when none could be made of it)
  SharedZone zone = Shared(false, same, [&] {
    taken = true;
    return NewZone(vtimezone);
  });
  if (!taken) icalcomponent_free(vtimezone);  // a zone of the same text was there
  if (zone != nullptr) own_[key] = std::move(zone);
}

icaltimezone* ZoneTable::Find(std::string_view tzid) const {
  if (auto at = own_.find(tzid); at != own_.end()) return at->second.get();
  if (auto at = database_.find(tzid); at != database_.end()) return at->second.get();
  // A plain tz database name, or one under a prefix ("/vendor/Europe/Berlin"): the
  // longest tail after a '/' that the database knows.
  SharedZone zone = ZoneFromDatabase(tzid);
  for (size_t slash = tzid.find('/'); zone == nullptr && slash != std::string_view::npos;
       slash = tzid.find('/', slash + 1)) {
    zone = ZoneFromDatabase(tzid.substr(slash + 1));
  }
  return database_.emplace(std::string(tzid), std::move(zone)).first->second.get();
}

bool ZoneTable::ToLocal(const icaltimetype& value, const char* tzid, icaltimetype* local) const {
  icaltimetype time = value;
  time.zone = nullptr;
  if (value.is_date) {
    *local = time;
    return true;
  }
  if (icaltime_is_utc(value)) {
    *local = LocalFromUtc(time);
    return true;
  }
  if (tzid == nullptr || *tzid == '\0' || local_.Names(tzid)) {
    *local = time;
    return true;
  }
  icaltimezone* zone = Find(tzid);
  if (zone == nullptr) {
    *local = time;
    return false;
  }
  Convert(&time, zone, icaltimezone_get_utc_timezone());
  *local = LocalFromUtc(time);
  return true;
}

icaltimetype ZoneTable::FromUtc(const icaltimetype& utc, const char* tzid) const {
  icaltimetype time = utc;
  time.zone = nullptr;
  if (tzid != nullptr && std::string_view(tzid) == "UTC") return time;
  if (tzid == nullptr || *tzid == '\0' || local_.Names(tzid)) return LocalFromUtc(time);
  icaltimezone* zone = Find(tzid);
  if (zone == nullptr) return LocalFromUtc(time);
  Convert(&time, icaltimezone_get_utc_timezone(), zone);
  time.zone = nullptr;
  return time;
}

}  // namespace interop
