// The store's dates and iCalendar times.
//
// Contract:
// - The store's dates are wall-clock times of the process's local zone (TZ honoured),
//   exactly as the C library's localtime sees it.
// - LocalZone::Current() names that zone by its tz database name: TZ with or without
//   its leading ':' or as a path into a zoneinfo folder, or, when TZ is unset,
//   /etc/localtime's link or /etc/timezone. A zone without such a name (a bare rule such
//   as TZ=XYZ-3) has an empty name; its times are written floating, which a peer reads
//   as its own wall clock.
// - DATE <-> icaltimetype keeps the wall clock to the second (DATEs round to the second);
//   DATEs outside years 100 to 9999 and kNoDate have no iCalendar time.
// - UtcFromLocal / LocalFromUtc convert between the local wall clock and UTC as the C
//   library does (a wall-clock time that a spring change skips moves forward).
// - ZoneTable turns a DATE-TIME as written (UTC, floating, or with a TZID that a
//   VTIMEZONE given to it or the tz database defines) into the local wall clock. A TZID
//   naming the local zone keeps the wall clock as written, so that times inside a
//   daylight-saving change come back unchanged. An unknown TZID is read as local.
#pragma once

#include <libical/ical.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "handheld/oledate.h"

namespace interop {

// Makes libical report errors instead of aborting; called by every entry point here.
void PrepareLibical();

class LocalZone {
 public:
  static LocalZone Current();
  explicit LocalZone(std::string name) : name_(std::move(name)) {}

  const std::string& name() const { return name_; }
  bool named() const { return !name_.empty(); }
  // True when `tzid` names this zone, also under a libical-style prefix
  // ("/freeassociation.sourceforge.net/Europe/Berlin").
  bool Names(std::string_view tzid) const;
  // A new VTIMEZONE for the zone whose TZID is name(), from the tz database; null when
  // the zone is unnamed or the database does not know it. The caller frees it.
  icalcomponent* NewVtimezone() const;

 private:
  std::string name_;
};

// The wall clock of a store date (a date when dateOnly: the time of day is dropped).
bool IcalFromStoreDate(DATE value, bool dateOnly, icaltimetype* out);
// The store date of a wall-clock time (midnight for a date). False outside years
// 100 to 9999.
bool StoreDateFromIcal(const icaltimetype& value, DATE* out);

// Seconds of a wall-clock time (or a date's midnight) counted as if it were UTC, and
// back: for differences and shifts of wall-clock times.
long long WallSeconds(const icaltimetype& time);
icaltimetype WallFromSeconds(long long seconds);

icaltimetype UtcFromLocal(const icaltimetype& local);
icaltimetype LocalFromUtc(const icaltimetype& utc);

using SharedZone = std::shared_ptr<icaltimezone>;

class ZoneTable {
 public:
  explicit ZoneTable(LocalZone local);
  ~ZoneTable();
  ZoneTable(const ZoneTable&) = delete;
  ZoneTable& operator=(const ZoneTable&) = delete;

  const LocalZone& local() const { return local_; }
  // Takes a VTIMEZONE; a later one with the same TZID replaces it.
  void Add(icalcomponent* vtimezone);
  // The local wall clock of `value` written with the TZID `tzid` (null or empty for
  // none). Dates pass unchanged. False, with the value read as local, for an unknown
  // TZID.
  bool ToLocal(const icaltimetype& value, const char* tzid, icaltimetype* local) const;
  // A UTC time as the wall clock of the zone `tzid` ("UTC" for UTC itself; null, empty
  // or unknown for the local zone).
  icaltimetype FromUtc(const icaltimetype& utc, const char* tzid) const;

 private:
  icaltimezone* Find(std::string_view tzid) const;

  LocalZone local_;
  // By TZID; found without a string made per look (a series' clock is looked up for
  // every day of a year).
  std::map<std::string, SharedZone, std::less<>> own_;               // the stream's VTIMEZONEs
  mutable std::map<std::string, SharedZone, std::less<>> database_;  // the tz database's, or null
};

}  // namespace interop
