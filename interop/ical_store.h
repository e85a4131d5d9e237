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
// (Files are read into values by the iCalendar format of the transfer engine,
// ical_transfer.cpp.)
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

}  // namespace interop
