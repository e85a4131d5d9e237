// Appointments and tasks between the stand-in's store and iCalendar files or folders: the
// iCalendar format of the transfer engine (engine.h).
#include "interop/ical_transfer.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "interop/engine.h"
#include "interop/ical_event.h"
#include "interop/ical_merge.h"
#include "interop/ical_store.h"
#include "interop/ical_stream.h"
#include "interop/ical_todo.h"
#include "interop/identity.h"
#include "interop/itemstore.h"
#include "interop/vdir.h"

namespace interop {
namespace {

struct Kind {
  IcalKind kind;
  LONG folder;
  const char* itemNoun;   // "appointment"
  const char* component;  // "VEVENT"
  const char* tool;       // the tools' KIND: "calendar"
};

const Kind kCalendar{IcalKind::kEvents, olFolderCalendar, "appointment", "VEVENT", "calendar"};
const Kind kTasks{IcalKind::kTodos, olFolderTasks, "task", "VTODO", "tasks"};

// The same DTSTAMP at every export: an unchanged item gives the same bytes.
icaltimetype FixedStamp() {
  return icaltime_from_timet_with_zone(0, 0, icaltimezone_get_utc_timezone());
}

struct ComponentFree {
  void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};

// The losses of a component read on the reading thread, counted by the saving one once
// its item is made (an item that is not made loses nothing by itself).
struct HeldLosses final : LossCounter {
  LossCounter* to = nullptr;
  void NotKept(std::string_view what) override {
    if (to != nullptr) to->NotKept(what);
  }
  void Changed(std::string_view what) override {
    if (to != nullptr) to->Changed(what);
  }
};

// A VEVENT or VTODO read into values on the reading thread.
struct IcalValues {
  AppointmentValues appointment;
  TaskValues task;
  std::unique_ptr<HeldLosses> counter;
  std::unique_ptr<ItemLosses> lost;
};

// iCalendar for the transfer engine: a store item is written as its component; a
// component is read into values on the reading thread and made an item on the saving one.
class IcalFormat {
 public:
  static constexpr const char* kExtension = ".ics";
  static constexpr int kUidDepth = 2;

  IcalFormat(const Kind& kind, IPOutlookApp* app)
      : kind_(kind),
        app_(app),
        zone_(LocalZone::Current()),
        resolve_([app](const std::u16string& name, std::u16string* address) {
          return ResolveName(app, name, address);
        }) {}
  const char* noun() const { return kind_.itemNoun; }

  struct Stored {
    std::unique_ptr<icalcomponent, ComponentFree> component;
    std::string uid;
  };
  HRESULT Load(StoreSession& session, INT i, Stored* stored, Losses* losses, std::string* why) {
    IDispatch* item = nullptr;
    HRESULT hr = session.items()->Item(i, &item);
    if (SUCCEEDED(hr) && item == nullptr) hr = E_POINTER;
    if (SUCCEEDED(hr)) hr = GetItemUid(item, &stored->uid);
    if (SUCCEEDED(hr)) stored->component.reset(exporter().Component(item, stored->uid, losses, why));
    if (item != nullptr) item->Release();
    if (FAILED(hr)) return hr;
    return stored->component ? S_OK : S_FALSE;
  }
  const std::string& Uid(const Stored& stored) const { return stored.uid; }
  std::string Text(const Stored& stored, bool whole, Losses*) {
    return exporter().Text(stored.component.get(), whole);
  }
  std::string Head() const { return exporter().Head(); }
  std::string Tail() const { return CalendarTail(); }

  // An existing file's components, each the store has by UID merged (ical_merge.h).
  class File {
   public:
    explicit File(const IcalFormat& format) : file_(format.exporter(), format.resolve_) {}
    bool Load(std::string text) { return file_.Load(std::move(text)); }
    void Merge(const Stored& stored, const std::string& text, Losses* losses) {
      file_.Merge(stored.component.get(), text, losses);
    }
    bool Changed(std::string* text) const {
      *text = file_.Text();
      return *text != file_.loaded();
    }
    long Others() const { return file_.Others(); }

   private:
    IcsFile file_;
  };
  std::string KeptNote(const std::string& path, long others) const {
    return path + ": kept " + std::to_string(others) + " components the store does not hold";
  }

  using Item = IcalValues;
  class Reader {
   public:
    explicit Reader(const IcalFormat& format) : format_(format) {}
    bool Open(const std::string& path, std::string* error) {
      reader_.emplace(format_.zone_);
      name_ = path;
      refused_.clear();
      if (reader_->Open(path, error)) return true;
      if (reader_->unreadable()) return false;
      // A file that holds no calendar is skipped as a problem.
      refused_ = std::move(*error);
      return true;
    }
    Entry Next(Decoded<IcalValues>* read) {
      if (!refused_.empty()) {
        read->text = std::move(refused_);
        refused_.clear();
        return Entry::kProblem;
      }
      const IcsReader::Entry entry = reader_->Next();
      std::unique_ptr<icalcomponent, ComponentFree> component(entry.component);
      read->line = entry.line;
      switch (entry.kind) {
        case IcsReader::Kind::kEnd:
          return Entry::kFileEnd;
        case IcsReader::Kind::kFailed:
          read->text = entry.problem;
          return Entry::kFailed;
        case IcsReader::Kind::kUnreadable:
          read->text = Where(entry.line) + entry.problem;
          return Entry::kProblem;
        case IcsReader::Kind::kOther:
          read->text = entry.name;
          return Entry::kSkipped;
        case IcsReader::Kind::kItem:
          break;
      }
      const char* name = icalcomponent_kind_to_string(icalcomponent_isa(component.get()));
      if (std::string_view(name) != format_.kind_.component) {
        read->text = name;
        return Entry::kSkipped;
      }
      IcalValues& values = read->item;
      if (!values.lost) {
        values.counter = std::make_unique<HeldLosses>();
        values.lost = std::make_unique<ItemLosses>(values.counter.get());
      }
      // What an item that was not made named is dropped.
      values.counter->to = nullptr;
      values.lost->Report();
      ImportOptions options;
      options.zones = &reader_->zones();
      options.changed = entry.changed;
      std::string why;
      const bool ok =
          format_.kind_.kind == IcalKind::kEvents
              ? ValuesFromEvent(component.get(), options, values.lost.get(), &values.appointment,
                                &why)
              : ValuesFromTodo(component.get(), options, values.lost.get(), &values.task, &why);
      if (ok) return Entry::kItem;
      read->text = Where(entry.line) + why;
      return Entry::kProblem;
    }

   private:
    std::string Where(long line) const { return name_ + ": line " + std::to_string(line) + ": "; }

    const IcalFormat& format_;
    std::optional<IcsReader> reader_;
    std::string name_, refused_;
  };
  HRESULT Make(StoreSession&, Decoded<IcalValues>& read, Losses* losses, IDispatch** item,
               std::string_view* uid, std::string* why) {
    IcalValues& values = read.item;
    values.counter->to = losses;
    if (kind_.kind == IcalKind::kEvents) {
      *uid = values.appointment.uid;
      return NewAppointment(app_, values.appointment, values.lost.get(),
                            reinterpret_cast<IAppointment**>(item), why);
    }
    *uid = values.task.uid;
    return NewTask(app_, values.task, values.lost.get(), reinterpret_cast<ITask**>(item), why);
  }
  HRESULT SaveNew(IDispatch* item) const {
    return kind_.kind == IcalKind::kEvents ? static_cast<IAppointment*>(item)->Save()
                                           : static_cast<ITask*>(item)->Save();
  }
  std::string EmptyNote(const std::string& path) const { return path + ": no items"; }
  std::string LeftOutNote(const std::string& component, long count) const {
    std::string note = "left out " + std::to_string(count) + " " + component;
    if (component == kCalendar.component || component == kTasks.component) {
      const Kind& other = component == kCalendar.component ? kCalendar : kTasks;
      note += std::string(" (") + other.itemNoun + "s: import them as " + other.tool + ")";
    }
    return note;
  }

 private:
  // Made at the first export use: an import needs only the zone (the VTIMEZONE and heads
  // the exporter makes took a fifth of a small import's time).
  const IcalExporter& exporter() const {
    if (!exporter_) exporter_.emplace(kind_.kind, zone_, FixedStamp());
    return *exporter_;
  }

  const Kind& kind_;
  IPOutlookApp* app_;
  LocalZone zone_;
  mutable std::optional<IcalExporter> exporter_;
  NameResolver resolve_;
};

void Export(const Kind& kind, StoreSession& session, const std::string& path, Losses* losses,
            TransferResult* result) {
  IcalFormat format(kind, session.app());
  ExportItems(format, session, path, losses, result);
}

void Import(const Kind& kind, StoreSession& session, const std::string& path, bool replace,
            Losses* losses, TransferResult* result, Reading reading = Reading::kThread) {
  IcalFormat format(kind, session.app());
  ImportItems(format, session, path, replace, losses, result, reading);
}

// How many events and to-dos the .ics file at `path`, or a folder's first one, holds.
bool Count(const std::string& path, long* events, long* todos) {
  std::string file = path;
  if (IsFolderPath(path)) {
    std::vector<std::string> files;
    std::string error;
    if (!ListFolder(path, ".ics", &files, &error) || files.empty()) return false;
    file = files.front();
  }
  IcsReader reader(LocalZone(""));
  std::string error;
  if (!reader.Open(file, &error)) return false;
  *events = reader.events();
  *todos = reader.todos();
  return true;
}

}  // namespace

void ExportCalendar(StoreSession& session, const std::string& path, Losses* losses,
                    TransferResult* result) {
  Export(kCalendar, session, path, losses, result);
}

void ImportCalendar(StoreSession& session, const std::string& path, bool replace, Losses* losses,
                    TransferResult* result) {
  Import(kCalendar, session, path, replace, losses, result);
}

void ImportCalendar(StoreSession& session, const std::string& path, bool replace, Losses* losses,
                    TransferResult* result, Reading reading) {
  Import(kCalendar, session, path, replace, losses, result, reading);
}

void ExportTasks(StoreSession& session, const std::string& path, Losses* losses,
                 TransferResult* result) {
  Export(kTasks, session, path, losses, result);
}

void ImportTasks(StoreSession& session, const std::string& path, bool replace, Losses* losses,
                 TransferResult* result) {
  Import(kTasks, session, path, replace, losses, result);
}

void ImportTasks(StoreSession& session, const std::string& path, bool replace, Losses* losses,
                 TransferResult* result, Reading reading) {
  Import(kTasks, session, path, replace, losses, result, reading);
}

bool HoldsTasks(const std::string& path) {
  long events = 0, todos = 0;
  return Count(path, &events, &todos) && todos > events;
}

bool HoldsEvents(const std::string& path) {
  long events = 0, todos = 0;
  return Count(path, &events, &todos) && events > 0 && events >= todos;
}

}  // namespace interop
