// Appointments and tasks between the stand-in's store and iCalendar files or folders.
#include "interop/ical_transfer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "handheld/itemidentity.h"
#include "handheld/itemkeeping.h"
#include "interop/ical_merge.h"
#include "interop/ical_store.h"
#include "interop/ical_stream.h"
#include "interop/identity.h"
#include "interop/itemstore.h"
#include "interop/vdir.h"

namespace interop {
namespace {

// The whole text of a regular file (through a link) when there is one at `path`: an
// export into it merges with it.
bool ReadExisting(const std::string& path, std::string* text) {
  // Only a regular file is opened: a FIFO would hang, a device would never end.
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  text->reserve(static_cast<size_t>(info.st_size));
  char buffer[1 << 16];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    text->append(buffer, got);
  }
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
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

// Writes `text` to `path` unless the file holds it already.
bool WriteIfOther(const std::string& path, const std::string& text, const std::string* old,
                  std::string* error) {
  if (old != nullptr && *old == text) return true;
  AtomicFile file;
  if (!file.Open(path, error)) return false;
  file.Write(text);
  return file.Commit(error);
}

// An export into a folder keeps of each item's file what the store does not own (see
// ical_merge.h); into an existing .ics file, the same for each component the store has
// by UID, and every other component stays.
void Export(const Kind& kind, StoreSession& session, const std::string& path, Losses* losses,
            TransferResult* result) {
  const bool folder = IsFolderPath(path);
  if (folder && !MakeFolder(path, &result->error)) return;
  // Files are found by the UID inside them, whatever their names.
  FolderIndex index;
  if (folder && !index.Build(path, ".ics", 2, &result->error)) return;
  IcalExporter exporter(kind.kind, LocalZone::Current(), FixedStamp());
  std::string old;
  const bool had = !folder && ReadExisting(path, &old);
  // The file an earlier export of an unchanged store wrote is only read along; any other
  // existing file is cut into its components and merged with.
  const std::string head = exporter.Head(), tail = CalendarTail();
  bool along = had && old.compare(0, head.size(), head) == 0;
  size_t offset = head.size();
  const NameResolver resolve = [&](const std::u16string& name, std::u16string* address) {
    return ResolveName(session.app(), name, address);
  };
  IcsFile existing(exporter, resolve);
  bool merging = had && !along && existing.Load(old);
  // A file that holds no VCALENDAR is written anew.
  const bool fresh = !folder && !along && !merging;
  AtomicFile file;
  if (fresh && !file.Open(path, &result->error, true)) return;
  if (fresh) file.Write(head);
  // Identifiers made at a first export are kept in one transaction.
  if (!session.BeginBatch(&result->error)) return;
  // Goes through the items; true when the file turned out not to be what they write.
  auto run = [&] {
    for (INT i = 1; i <= session.count(); ++i) {
      IDispatch* item = nullptr;
      HRESULT hr = session.items()->Item(i, &item);
      if (SUCCEEDED(hr) && item == nullptr) hr = E_POINTER;
      std::string uid, why;
      if (SUCCEEDED(hr)) hr = GetItemUid(item, &uid);
      icalcomponent* component =
          SUCCEEDED(hr) ? exporter.Component(item, uid, losses, &why) : nullptr;
      if (item != nullptr) item->Release();
      const std::string which = std::string(kind.itemNoun) + " " + std::to_string(i);
      if (FAILED(hr)) {
        losses->EndItem();
        result->error = which + ": the store could not read it (" + Hex(hr) + ")";
        return false;
      }
      if (component == nullptr) {
        losses->EndItem();
        result->problems.push_back(which + ": " + why);
        continue;
      }
      bool written = true, other = false;
      if (folder) {
        const std::string* found = index.Find(uid);
        const std::string target = found != nullptr ? *found : index.PathForNew(uid);
        std::string text = exporter.Text(component, true), before, error;
        const bool read = found != nullptr && ReadItemFile(target, &before, &error);
        if (read && before != text) {
          IcsFile own(exporter, resolve);
          if (own.Load(before)) {
            own.Merge(component, exporter.Text(component, false), losses);
            text = own.Text();
          }
        }
        written = WriteIfOther(target, text, read ? &before : nullptr, &result->error);
      } else if (along) {
        const std::string text = exporter.Text(component, false);
        other = old.compare(offset, text.size(), text) != 0;
        offset += text.size();
      } else if (merging) {
        existing.Merge(component, exporter.Text(component, false), losses);
      } else {
        file.Write(exporter.Text(component, false));
      }
      icalcomponent_free(component);
      losses->EndItem();
      if (other) return true;
      if (!written) return false;
      ++result->items;
    }
    return along && old.compare(offset, std::string::npos, tail) != 0;
  };
  const Losses before = *losses;
  if (run()) {
    *losses = before;
    result->items = 0;
    result->problems.clear();
    along = false;
    merging = existing.Load(old);
    run();
  }
  std::string error;
  if (!session.EndBatch(true, &error) && result->error.empty()) result->error = error;
  if (folder || along || !result->error.empty()) return;
  if (merging) {
    if (const long others = existing.Others(); others > 0) {
      result->notes.push_back(path + ": kept " + std::to_string(others) +
                              " components the store does not hold");
    }
    const std::string text = existing.Text();
    if (text == existing.loaded()) return;
    if (!file.Open(path, &result->error, true)) return;
    file.Write(text);
  } else {
    file.Write(tail);
  }
  file.Commit(&result->error);
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
    const SaveItem save = [&](const IcalItem& values, std::string* why) {
      IDispatch* item = nullptr;
      HRESULT hr = values.appointment != nullptr
                       ? NewAppointment(session.app(), *values.appointment, values.losses,
                                        reinterpret_cast<IAppointment**>(&item), why)
                       : NewTask(session.app(), *values.task, values.losses,
                                 reinterpret_cast<ITask**>(&item), why);
      if (FAILED(hr)) return SaveResult::kNotMade;
      const std::string& uid = values.uid();
      LONG outcome = handheld::kItemAdded;
      hr = !uid.empty() ? SaveItemAsUid(item, uid, &outcome)
           : kind.kind == IcalKind::kEvents ? static_cast<IAppointment*>(item)->Save()
                                            : static_cast<ITask*>(item)->Save();
      item->Release();
      losses->EndItem();
      const std::string where = name + ": line " + std::to_string(values.line) + ": ";
      if (hr == handheld::kNotKept) {
        result->error = where + "the " + kind.itemNoun + " with UID " + uid +
                        " was left as it was: its saved version could not be kept first (the " +
                        "store said why above)";
        return SaveResult::kFailed;
      }
      if (FAILED(hr)) {
        result->error =
            where + "the store could not save the " + kind.itemNoun + " (" + Hex(hr) + ")";
        return SaveResult::kFailed;
      }
      result->Count(static_cast<handheld::SaveOutcome>(outcome));
      return session.CountChange(&result->error) ? SaveResult::kSaved : SaveResult::kFailed;
    };
    ImportResult read;
    std::string error;
    if (!ImportIcs(name, kind.kind, local, losses, save, &read, &error) &&
        result->error.empty()) {
      // A file that cannot be read stops the import, as a vCard file's does; one that
      // holds no calendar is skipped.
      if (read.unreadable) {
        result->error = error;
      } else {
        result->problems.push_back(error);
      }
    }
    for (const ImportResult::Problem& problem : read.problems) {
      result->problems.push_back(name + ": line " + std::to_string(problem.line) + ": " +
                                 problem.why);
    }
    for (const auto& [component, count] : read.skipped) leftOut[component] += count;
    if (read.empty) result->notes.push_back(name + ": no items");
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
