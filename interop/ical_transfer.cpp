// Appointments and tasks between the stand-in's store and iCalendar files or folders.
#include "interop/ical_transfer.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <vector>

#include "handheld/itemidentity.h"
#include "handheld/itemkeeping.h"
#include "interop/ical_store.h"
#include "interop/ical_stream.h"
#include "interop/identity.h"
#include "interop/vdir.h"

namespace interop {
namespace {

// The file of the item with `uid` in an export's folder: the one holding it, or a new one.
std::string FileFor(FolderIndex& index, const std::string& uid) {
  const std::string* found = index.Find(uid);
  return found != nullptr ? *found : index.PathForNew(uid);
}

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

void Export(const Kind& kind, StoreSession& session, const std::string& path, Losses* losses,
            TransferResult* result) {
  const bool folder = IsFolderPath(path);
  AtomicFile file;
  if (folder ? !MakeFolder(path, &result->error) : !file.Open(path, &result->error, true)) return;
  // Files are found by the UID inside them, whatever their names.
  FolderIndex index;
  if (folder && !index.Build(path, ".ics", 2, &result->error)) return;
  // Identifiers made at a first export are kept in one transaction.
  if (!session.BeginBatch(&result->error)) return;
  IcalExporter exporter(kind.kind, LocalZone::Current(), FixedStamp());
    if (!folder) file.Write(exporter.Head());
  for (INT i = 1; i <= session.count(); ++i) {
    IDispatch* item = nullptr;
    HRESULT hr = session.items()->Item(i, &item);
    if (SUCCEEDED(hr) && item == nullptr) hr = E_POINTER;
    std::string uid, text, why;
    if (SUCCEEDED(hr)) hr = GetItemUid(item, &uid);
    const bool made = SUCCEEDED(hr) && exporter.Item(item, uid, losses, folder, &text, &why);
    if (item != nullptr) item->Release();
    losses->EndItem();
    const std::string which = std::string(kind.itemNoun) + " " + std::to_string(i);
    if (FAILED(hr)) {
      result->error = which + ": the store could not read it (" + Hex(hr) + ")";
      break;
    }
    if (!made) {
      result->problems.push_back(which + ": " + why);
      continue;
    }
    if (folder) {
      bool written = false;
      if (!WriteFileIfChanged(FileFor(index, uid), text, &written,
                              &result->error)) {
        break;
      }
    } else {
      file.Write(text);
    }
    ++result->items;
  }
  std::string error;
  if (!session.EndBatch(true, &error) && result->error.empty()) result->error = error;
  if (!folder && result->error.empty()) {
    file.Write(CalendarTail());
    file.Commit(&result->error);
  }
}

void Import(const Kind& kind, StoreSession& session, const std::string& path, bool replace,
            Losses* losses, TransferResult* result) {
  std::vector<std::string> files;
  if (!FilesAt(path, ".ics", &files, &result->error)) return;
  // Every file must be readable before the store is changed.
  for (const std::string& name : files) {
    if (access(name.c_str(), R_OK) != 0) {
      result->error = "cannot read \"" + name + "\": " + std::strerror(errno);
      return;
    }
  }
  if (!session.BeginBatch(&result->error)) return;
  // A purge that failed leaves the folder as it was (the batch is dropped).
  if (replace && !session.RemoveAll(kind.itemNoun, &result->error)) return;

  const LocalZone local = LocalZone::Current();
    std::map<std::string, long> leftOut;
  for (size_t f = 0; f < files.size() && result->error.empty(); ++f) {
    const std::string& name = files[f];
    const SaveItem save = [&](IDispatch* item, const std::string& uid, long line, std::string*) {
      LONG outcome = handheld::kItemAdded;
      HRESULT hr = !uid.empty() ? SaveItemAsUid(item, uid, &outcome)
                   : kind.kind == IcalKind::kEvents ? static_cast<IAppointment*>(item)->Save()
                                                    : static_cast<ITask*>(item)->Save();
      losses->EndItem();
      const std::string where = name + ": line " + std::to_string(line) + ": ";
      if (hr == handheld::kNotKept) {
        result->error = where + "the " + kind.itemNoun + " with UID " + uid +
                        " was left as it was: its saved version could not be kept first (the " +
                        "store said why above)";
        return false;
      }
      if (FAILED(hr)) {
        result->error =
            where + "the store could not save the " + kind.itemNoun + " (" + Hex(hr) + ")";
        return false;
      }
      result->Count(static_cast<handheld::SaveOutcome>(outcome));
      return session.CountChange(&result->error);
    };
    ImportResult read;
    std::string error;
    if (!ImportIcs(name, kind.kind, local, session.app(), losses, save, &read, &error) &&
        result->error.empty()) {
      result->problems.push_back(error);
    }
    for (const ImportResult::Problem& problem : read.problems) {
      result->problems.push_back(name + ": line " + std::to_string(problem.line) + ": " +
                                 problem.why);
    }
    for (const auto& [component, count] : read.skipped) leftOut[component] += count;
  }
  for (const auto& [component, count] : leftOut) {
    std::string note = "left out " + std::to_string(count) + " " + component;
    if (component == kCalendar.component || component == kTasks.component) {
      const Kind& other = component == kCalendar.component ? kCalendar : kTasks;
      note += std::string(" (") + other.itemNoun + "s: import them as " + other.tool + ")";
    }
    result->notes.push_back(note);
  }
  std::string error;
  if (!session.EndBatch(true, &error) && result->error.empty()) result->error = error;
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

void ExportTasks(StoreSession& session, const std::string& path, Losses* losses,
                 TransferResult* result) {
  Export(kTasks, session, path, losses, result);
}

void ImportTasks(StoreSession& session, const std::string& path, bool replace, Losses* losses,
                 TransferResult* result) {
  Import(kTasks, session, path, replace, losses, result);
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
