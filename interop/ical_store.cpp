// The store's appointments or tasks as iCalendar text, and iCalendar files read into
// the store.
#include "interop/ical_store.h"

#include <memory>
#include <string_view>
#include <thread>

#include "interop/handoff.h"
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

namespace {

struct ComponentFree {
  void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};

// A component read by the reading thread; the component is freed there too, when the
// slot is filled again (or with the handoff).
struct ReadComponent {
  IcsReader::Entry entry;  // its component is held by `component`
  std::unique_ptr<icalcomponent, ComponentFree> component;
};

using ComponentHandoff = Handoff<ReadComponent>;

// The reading thread: every component of the file, in order, then the end.
void ReadComponents(IcsReader& reader, ComponentHandoff& handoff) {
  for (;;) {
    ReadComponent* read = handoff.Next();
    if (read == nullptr) return;
    read->entry = reader.Next();
    read->component.reset(read->entry.component);
    read->entry.component = nullptr;
    if (read->entry.kind == IcsReader::Kind::kEnd || read->entry.kind == IcsReader::Kind::kFailed) {
      break;
    }
  }
  handoff.Flush();
}

// Reads the component into values and hands them to `save`; false only when `save` failed.
bool ImportComponent(const IcsReader::Entry& entry, icalcomponent* component, IcalKind kind,
                     const ImportOptions& options, LossCounter* losses, const SaveItem& save,
                     ImportResult* result, std::string* error) {
  if (entry.kind == IcsReader::Kind::kUnreadable) {
    result->problems.push_back({entry.line, entry.problem});
    return true;
  }
  const char* wanted = kind == IcalKind::kEvents ? "VEVENT" : "VTODO";
  const char* name = entry.kind == IcsReader::Kind::kOther
                         ? nullptr
                         : icalcomponent_kind_to_string(icalcomponent_isa(component));
  if (name == nullptr || std::string_view(name) != wanted) {
    ++result->skipped[name != nullptr ? name : entry.name];
    return true;
  }
  ItemLosses lost(losses);
  AppointmentValues appointment;
  TaskValues task;
  IcalItem item;
  item.line = entry.line;
  item.losses = &lost;
  std::string why;
  bool read;
  if (kind == IcalKind::kEvents) {
    read = ValuesFromEvent(component, options, &lost, &appointment, &why);
    item.appointment = &appointment;
  } else {
    read = ValuesFromTodo(component, options, &lost, &task, &why);
    item.task = &task;
  }
  if (!read) {
    result->problems.push_back({entry.line, why});
    return true;
  }
  switch (save(item, &why)) {
    case SaveResult::kSaved:
      ++result->imported;
      return true;
    case SaveResult::kNotMade:
      result->problems.push_back({entry.line, why});
      return true;
    case SaveResult::kFailed:
      *error = why;
      return false;
  }
  return false;
}

}  // namespace

bool ImportIcs(const std::string& path, IcalKind kind, const LocalZone& local,
               LossCounter* losses, const SaveItem& save, ImportResult* result,
               std::string* error) {
  IcsReader reader(local);
  if (!reader.Open(path, error)) {
    result->unreadable = reader.unreadable();
    return false;
  }
  result->empty = reader.empty();
  ImportOptions options;
  options.zones = &reader.zones();
  // Components are parsed on a thread of their own while this one makes and saves the
  // items (the file's time zones were all read at Open, and that thread leaves them
  // alone).
  ComponentHandoff handoff;
  std::thread reading(ReadComponents, std::ref(reader), std::ref(handoff));
  bool ok = true;
  for (bool more = true; more && ok;) {
    ComponentHandoff::Batch* batch = handoff.Take();
    if (batch == nullptr) break;
    for (size_t i = 0; i < batch->used && more && ok; ++i) {
      const ReadComponent& read = batch->slots[i];
      if (read.entry.kind == IcsReader::Kind::kFailed) {
        *error = read.entry.problem;
        result->unreadable = true;
        ok = false;
        break;
      }
      if (read.entry.kind == IcsReader::Kind::kEnd) {
        more = false;
        break;
      }
      options.changed = read.entry.changed;
      ok = ImportComponent(read.entry, read.component.get(), kind, options, losses, save, result,
                           error);
    }
    handoff.Give(batch);
  }
  handoff.Stop();
  reading.join();
  return ok;
}

}  // namespace interop
