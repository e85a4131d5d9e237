// The store's appointments or tasks as iCalendar text.
#include "interop/ical_store.h"

#include <string_view>

#include "interop/ical_event.h"
#include "interop/ical_stream.h"
#include "interop/ical_todo.h"
#include "interop/itemstore.h"

namespace interop {

IcalExporter::IcalExporter(IcalKind kind, LocalZone zone, icaltimetype stamp)
    : kind_(kind), zone_(std::move(zone)) {
  PrepareLibical();
  options_.zone = &zone_;
  options_.stamp = stamp;
  // Tasks carry dates and UTC reminders only; timed events need the zone's rules.
  if (kind_ == IcalKind::kEvents) vtimezone_ = zone_.NewVtimezone();
  head_ = CalendarHead(vtimezone_);
  plainHead_ = CalendarHead(nullptr);
}

IcalExporter::~IcalExporter() {
  if (vtimezone_ != nullptr) icalcomponent_free(vtimezone_);
}

std::string IcalExporter::Head() const {
  return head_;
}

icalcomponent* IcalExporter::Component(const AppointmentValues& values, LossCounter* losses,
                                       std::string* error) const {
  return EventFromValues(values, options_, losses, error);
}

icalcomponent* IcalExporter::Component(const TaskValues& values, LossCounter* losses,
                                       std::string* /*error*/) const {
  return TodoFromValues(values, options_, losses);
}

icalcomponent* IcalExporter::Component(IDispatch* item, std::string_view uid, LossCounter* losses,
                                       std::string* error) const {
  const char* failed = "";
  if (kind_ == IcalKind::kEvents) {
    AppointmentValues values;
    if (FAILED(ReadAppointment(static_cast<IAppointment*>(item), &values, &failed))) {
      *error = std::string("reading ") + failed + " failed";
      return nullptr;
    }
    values.uid = uid;
    return Component(values, losses, error);
  }
  TaskValues values;
  if (FAILED(ReadTask(static_cast<ITask*>(item), &values, &failed))) {
    *error = std::string("reading ") + failed + " failed";
    return nullptr;
  }
  values.uid = uid;
  return Component(values, losses, error);
}

std::string IcalExporter::Text(icalcomponent* component, bool whole) const {
  std::string text = ComponentText(component);
  if (!whole) return text;
  // A folder's file carries the VTIMEZONE only when its times name the zone.
  icalproperty* start = icalcomponent_get_first_property(component, ICAL_DTSTART_PROPERTY);
  const bool zoned = start != nullptr && TzidOf(start) != nullptr;
  return (zoned ? head_ : plainHead_) + text + CalendarTail();
}

bool IcalExporter::Item(IDispatch* item, std::string_view uid, LossCounter* losses, bool whole,
                        std::string* text, std::string* error) {
  icalcomponent* component = Component(item, uid, losses, error);
  if (component == nullptr) return false;
  *text = Text(component, whole);
  icalcomponent_free(component);
  return true;
}

}  // namespace interop
