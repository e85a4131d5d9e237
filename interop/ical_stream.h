// iCalendar files: one VCALENDAR (or several, one after another) holding any number of
// items, written and read one item at a time so that memory stays flat.
//
// Contract:
// - CalendarHead gives the text of a VCALENDAR's start (VERSION, PRODID, and the
//   VTIMEZONE when one is given), CalendarTail its end, ComponentText one item, all
//   written by libical with CR LF line ends. Head + items + tail is one VCALENDAR.
// - IcsReader::Open reads the file once to learn its time zones (its VTIMEZONEs, given
//   anywhere in the file), which series have changed occurrences (RECURRENCE-ID) and
//   how many VEVENTs and VTODOs it holds; false with *error when the file cannot be read
//   or holds something but no VCALENDAR (an empty or blank file is empty()). Next then hands out
//   the file's items in order, each parsed by libical on its own: a VEVENT or VTODO (the caller
//   frees it), a component of another kind (VJOURNAL, VFREEBUSY, ...) by its name only, or a
//   component that could not be read, with its first line (1-based) and the reason. A changed
//   occurrence whose series is in the file is not handed out: its series says that it was not kept;
//   one without its series is an item of its own.
#pragma once

#include <libical/ical.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "interop/ical_time.h"

namespace interop {

std::string CalendarHead(icalcomponent* vtimezone);  // vtimezone may be null
std::string CalendarTail();
// `text` with its ASCII letters in upper case (property and component names).
std::string Upper(std::string_view text);
std::string ComponentText(icalcomponent* component);
// The first component of `text` as libical reads it (null when it reads none), in time
// linear in the text's length, with the spaces and tabs around text values that libical
// trims put back.
icalcomponent* ParseComponent(std::string_view text);

class IcsReader {
 public:
  explicit IcsReader(LocalZone local);
  ~IcsReader();
  IcsReader(const IcsReader&) = delete;
  IcsReader& operator=(const IcsReader&) = delete;

  bool Open(const std::string& path, std::string* error);

  // kFailed: the file could not be read to its end (the entries before it stand).
  enum class Kind { kItem, kOther, kUnreadable, kFailed, kEnd };
  struct Entry {
    Kind kind = Kind::kEnd;
    icalcomponent* component = nullptr;  // kItem: VEVENT or VTODO, owned by the caller
    std::string name;                    // kOther: the component's name
    long line = 0;                       // where the component begins
    std::string problem;                 // kUnreadable: why
    bool changed = false;                // kItem: its series has changed occurrences
  };
  Entry Next();

  const ZoneTable& zones() const { return zones_; }
  long events() const { return events_; }
  long todos() const { return todos_; }
  // The file holds nothing but blank lines (Next has nothing to hand out).
  bool empty() const { return empty_; }
  // Open failed because the file could not be read (not for what it holds).
  bool unreadable() const { return unreadable_; }

 private:
  struct Scanner;
  void Scan(bool firstPass);

  ZoneTable zones_;
  std::string path_;
  std::unique_ptr<Scanner> scanner_;
  std::set<std::string> changed_;  // series with changed occurrences in the file
  std::set<std::string> masters_;  // of those, the ones whose series is in the file
  long events_ = 0;
  long todos_ = 0;
  bool empty_ = false;
  bool unreadable_ = false;
};

}  // namespace interop
