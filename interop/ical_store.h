// The store's appointments or tasks as iCalendar text, and iCalendar files read into
// the store: the part of an export or import that does not depend on where the files
// lie.
//
// Contract:
// - IcalExporter turns one appointment's or task's values (itemvalues.h) into the text
//   of its component (VEVENT or VTODO) under the values' uid, or of a whole VCALENDAR
//   holding it (with the VTIMEZONE when its times need one), for a folder of one file
//   per item. It also takes a store item, read into values in the same call. Head()
//   starts a file of many items; CalendarTail() (ical_stream.h) ends it. Every component
//   of one exporter has the same DTSTAMP.
// - ImportIcs reads one .ics file and hands each VEVENT (kEvents) or VTODO (kTodos), read
//   into values, to `save`, in file order, with its first line and what it cannot keep
//   (which `save` reports once it has made the item, before saving it). What it does not
//   import is reported in the result: components of the other kind and of other kinds by
//   name, components that could not be read or be made an item by line, with the reason
//   (`save` tells an item it could not make by kNotMade). It fails only when the file
//   cannot be read (to its end) or holds something but no VCALENDAR, or when `save`
//   fails (kFailed, which stops it). An empty file holds no items and is no fault.
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
#include "interop/itemvalues.h"

namespace interop {

enum class IcalKind { kEvents, kTodos };

class IcalExporter {
 public:
  IcalExporter(IcalKind kind, LocalZone zone, icaltimetype stamp);
  ~IcalExporter();
  IcalExporter(const IcalExporter&) = delete;
  IcalExporter& operator=(const IcalExporter&) = delete;

  std::string Head() const;
  // The component of an appointment (kEvents) or a task (kTodos), which the caller
  // frees; null with *error for an appointment without a start.
  icalcomponent* Component(const AppointmentValues& values, LossCounter* losses,
                           std::string* error) const;
  icalcomponent* Component(const TaskValues& values, LossCounter* losses,
                           std::string* error) const;
  // The same of a store item, an IAppointment (kEvents) or ITask (kTodos), read under
  // `uid`; null with *error ("reading Start failed") when a property cannot be read.
  icalcomponent* Component(IDispatch* item, std::string_view uid, LossCounter* losses,
                           std::string* error) const;
  // The component's text, or that of a whole VCALENDAR holding it.
  std::string Text(icalcomponent* component, bool whole) const;
  // Component and Text in one: false with *error as Component.
  bool Item(IDispatch* item, std::string_view uid, LossCounter* losses, bool whole,
            std::string* text, std::string* error);

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

// One component read into values: `appointment` for kEvents, `task` for kTodos (the
// other is null).
struct IcalItem {
  const AppointmentValues* appointment = nullptr;
  const TaskValues* task = nullptr;
  const std::string& uid() const { return appointment != nullptr ? appointment->uid : task->uid; }
  long line = 0;                 // of its BEGIN
  ItemLosses* losses = nullptr;  // what it cannot keep, to report once the item is made
};

enum class SaveResult { kSaved, kNotMade, kFailed };
// kNotMade: *why tells why the item could not be made, and the import goes on; kFailed:
// *why is the error that stops it.
using SaveItem = std::function<SaveResult(const IcalItem& item, std::string* why)>;

// `local` is the zone of the store's times (LocalZone::Current(), taken once per run).
bool ImportIcs(const std::string& path, IcalKind kind, const LocalZone& local,
               LossCounter* losses, const SaveItem& save, ImportResult* result,
               std::string* error);

}  // namespace interop
