// The store's appointments or tasks as iCalendar text, and iCalendar files read into
// the store.
#include "interop/ical_store.h"

#include "interop/ical_event.h"
#include "interop/ical_stream.h"
#include "interop/ical_todo.h"

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

bool IcalExporter::Item(IDispatch* item, std::string_view uid, LossCounter* losses, bool whole,
                        std::string* text, std::string* error) {
  icalcomponent* component =
      kind_ == IcalKind::kEvents
          ? EventFromAppointment(static_cast<IAppointment*>(item), uid, options_, losses, error)
          : TodoFromTask(static_cast<ITask*>(item), uid, options_, losses, error);
  if (component == nullptr) return false;
  *text = ComponentText(component);
  if (whole) {
    // A folder's file carries the VTIMEZONE only when its times name the zone.
    icalproperty* start = icalcomponent_get_first_property(component, ICAL_DTSTART_PROPERTY);
    const bool zoned = start != nullptr && TzidOf(start) != nullptr;
    *text = (zoned ? head_ : plainHead_) + *text + CalendarTail();
  }
  icalcomponent_free(component);
  return true;
}

bool ImportIcs(const std::string& path, IcalKind kind, const LocalZone& local, IPOutlookApp* app,
               LossCounter* losses, const SaveItem& save, ImportResult* result,
               std::string* error) {
  IcsReader reader(local);
  if (!reader.Open(path, error)) return false;
  const char* wanted = kind == IcalKind::kEvents ? "VEVENT" : "VTODO";
  for (IcsReader::Entry entry = reader.Next(); entry.kind != IcsReader::Kind::kEnd;
       entry = reader.Next()) {
    if (entry.kind == IcsReader::Kind::kUnreadable) {
      result->problems.push_back({entry.line, entry.problem});
      continue;
    }
    const char* name = entry.kind == IcsReader::Kind::kOther
                           ? nullptr
                           : icalcomponent_kind_to_string(icalcomponent_isa(entry.component));
    if (name == nullptr || std::string_view(name) != wanted) {
      ++result->skipped[name != nullptr ? name : entry.name];
      if (entry.component != nullptr) icalcomponent_free(entry.component);
      continue;
    }
    ImportOptions options;
    options.app = app;
    options.zones = &reader.zones();
    options.changed = entry.changed;
    const char* uid = icalcomponent_get_uid(entry.component);
    const std::string id = uid != nullptr ? uid : "";
    IDispatch* item = nullptr;
    std::string why;
    HRESULT hr = kind == IcalKind::kEvents
                     ? AppointmentFromEvent(entry.component, options, losses,
                                            reinterpret_cast<IAppointment**>(&item), &why)
                     : TaskFromTodo(entry.component, options, losses,
                                    reinterpret_cast<ITask**>(&item), &why);
    icalcomponent_free(entry.component);
    if (FAILED(hr)) {
      result->problems.push_back({entry.line, why});
      continue;
    }
    const bool saved = save(item, id, entry.line, error);
    item->Release();
    if (!saved) return false;
    ++result->imported;
  }
  return true;
}

}  // namespace interop
