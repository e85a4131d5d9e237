// The store's appointments or tasks as iCalendar text, and iCalendar files read into
// the store: the part of an export or import that does not depend on where the files
// lie.
//
// Contract:
// - IcalExporter turns one store item into the text of its component (VEVENT or VTODO),
//   or of a whole VCALENDAR holding it (with the VTIMEZONE when its times need one), for
//   a folder of one file per item. Head() starts a file of many items; CalendarTail()
//   (ical_stream.h) ends it. Every component of one exporter has the same DTSTAMP.
// - ImportIcs reads one .ics file and hands each VEVENT (kEvents) or VTODO (kTodos) to
//   the store as a new item, in file order, through `save` (which saves it and may keep
//   its UID; it is given the item, the component's UID and its first line). What it does not import
//   is reported in the result: components of the other kind and of other kinds by name, components
//   that could not be read or be made an item by line, with the reason. It fails only when the file
//   cannot be read (to its end) or holds something but no VCALENDAR, or when `save` fails
//   (which stops it). An empty file holds no items and is no fault.
#pragma once

#include <libical/ical.h>

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "handheld/pimstore.h"
#include "interop/ical_item.h"
#include "interop/ical_losses.h"
#include "interop/ical_time.h"

namespace interop {

enum class IcalKind { kEvents, kTodos };

class IcalExporter {
 public:
  IcalExporter(IcalKind kind, LocalZone zone, icaltimetype stamp);
  ~IcalExporter();
  IcalExporter(const IcalExporter&) = delete;
  IcalExporter& operator=(const IcalExporter&) = delete;

  std::string Head() const;
  // `item` is an IAppointment (kEvents) or ITask (kTodos). False with *error when a
  // property cannot be read or the item cannot be written.
  bool Item(IDispatch* item, std::string_view uid, LossCounter* losses, bool whole,
            std::string* text, std::string* error);
  // The same in two steps: the item's component (the caller frees it; null with *error),
  // and its text.
  icalcomponent* Component(IDispatch* item, std::string_view uid, LossCounter* losses,
                           std::string* error) const;
  std::string Text(icalcomponent* component, bool whole) const;

  IcalKind kind() const { return kind_; }
  const ExportOptions& options() const { return options_; }
  const LocalZone& zone() const { return zone_; }
  icalcomponent* vtimezone() const { return vtimezone_; }  // null for tasks

 private:
  IcalKind kind_;
  LocalZone zone_;
  ExportOptions options_;
  icalcomponent* vtimezone_ = nullptr;  // for calendars with timed events
  std::string head_;                    // of a file with the VTIMEZONE when there is one
  std::string plainHead_;               // without it
};

struct ImportResult {
  long imported = 0;
  bool empty = false;                   // the file holds nothing but blank lines
  bool unreadable = false;              // the file could not be read (to its end)
  std::map<std::string, long> skipped;  // component name -> how many were not imported
  struct Problem {
    long line;
    std::string why;
  };
  std::vector<Problem> problems;  // components that could not be read or made items
};

using SaveItem =
    std::function<bool(IDispatch* item, const std::string& uid, long line, std::string* error)>;

// `local` is the zone of the store's times (LocalZone::Current(), taken once per run).
bool ImportIcs(const std::string& path, IcalKind kind, const LocalZone& local, IPOutlookApp* app,
               LossCounter* losses, const SaveItem& save, ImportResult* result, std::string* error);

}  // namespace interop
