// The engine end to end, for contacts, appointments and tasks at 10,000 and 100,000
// items each: the worker exports a filled store (and the file is checked byte for byte
// against the floor's writes), and imports the floor's file into an empty store (which is
// then saved again, not timed, and checked the same way). Compare each case with the same
// name in floor_bench.
//
//   build-*/bin/engine_bench [--benchmark_filter='^Calendar/Import/100000/']
//
// An export case fills its store first (not timed) unless the kept folder (see
// bench_support.h) already holds it; bench/run.sh fills them in a separate pass, so
// that the memory of a measured run is the engine's own.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "bench/bench_items.h"
#include "handheld/census.h"
#include "handheld/files.h"
#include "handheld/messages.h"
#include "handheld/oledate.h"
#include "handheld/threads.h"
#include "platform/store.h"
#include "worker/jobprep.h"

namespace {

std::string folder;

constexpr LONG kItemTypes[] = {olContactItem, olAppointmentItem, olTaskItem};

void UseStore(const std::string& path) {
  setenv("HANDHELD_STORE", path.c_str(), 1);
}

void RemoveStore(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
}

// ---- Filling a store with the items of bench_records.h ---------------------------------

template <typename Item>
void SetText(Item* item, HRESULT (Item::*setter)(BSTR), const std::u16string& text) {
  BSTR value = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  (item->*setter)(value);
  SysFreeString(value);
}

using bench::DateOf;
using bench::SetPattern;

void SaveContact(IDispatch* item, int i) {
  const bench::BenchContact c = bench::ContactNumber(i);
  auto* contact = static_cast<IContact*>(item);
  SetText(contact, &IContact::put_Title, c.title);
  SetText(contact, &IContact::put_FirstName, c.firstName);
  SetText(contact, &IContact::put_LastName, c.lastName);
  SetText(contact, &IContact::put_MobileTelephoneNumber, c.mobile);
  SetText(contact, &IContact::put_Email1Address, c.email);
  SetText(contact, &IContact::put_HomeAddressCity, c.city);
  SetText(contact, &IContact::put_CompanyName, c.company);
  SetText(contact, &IContact::put_Body, c.body);
  contact->put_Birthday(DateOf({c.day, c.month, c.year}));
  contact->Save();
}

void SaveAppointment(IDispatch* item, int i) {
  const bench::BenchAppointment a = bench::AppointmentNumber(i);
  auto* appointment = static_cast<IAppointment*>(item);
  SetText(appointment, &IAppointment::put_Subject, a.subject);
  SetText(appointment, &IAppointment::put_Location, a.location);
  appointment->put_Start(DateOf(a.day, a.hour, a.minute));
  appointment->put_End(DateOf(a.day, a.hour + 1, a.minute));
  appointment->put_AllDayEvent(a.allDay ? VARIANT_TRUE : VARIANT_FALSE);
  SetPattern(appointment, a.pattern);
  appointment->put_ReminderSet(a.reminderSet ? VARIANT_TRUE : VARIANT_FALSE);
  if (a.reminderSet) appointment->put_ReminderMinutesBeforeStart(a.reminderMinutes);
  SetText(appointment, &IAppointment::put_Categories, a.categories);
  IRecipients* recipients = nullptr;
  if (SUCCEEDED(appointment->get_Recipients(&recipients)) && recipients != nullptr) {
    for (const bench::BenchRecipient& r : a.recipients) {
      BSTR name = SysAllocStringLen(r.name.data(), static_cast<UINT>(r.name.size()));
      IRecipient* added = nullptr;
      recipients->Add(name, &added);
      SysFreeString(name);
      if (added != nullptr) {
        SetText(added, &IRecipient::put_Address, r.address);
        added->Release();
      }
    }
    recipients->Release();
  }
  appointment->put_BusyStatus(a.busyStatus);
  appointment->put_Sensitivity(a.sensitivity);
  SetText(appointment, &IAppointment::put_Body, a.body);
  appointment->Save();
}

void SaveTask(IDispatch* item, int i) {
  const bench::BenchTask t = bench::TaskNumber(i);
  auto* task = static_cast<ITask*>(item);
  SetText(task, &ITask::put_Subject, t.subject);
  task->put_Importance(t.importance);
  task->put_Complete(t.complete ? VARIANT_TRUE : VARIANT_FALSE);
  task->put_StartDate(DateOf(t.start));
  task->put_DueDate(t.hasDue ? DateOf(t.due) : handheld::kNoDate);
  SetPattern(task, t.pattern);
  task->put_ReminderSet(t.reminderSet ? VARIANT_TRUE : VARIANT_FALSE);
  if (t.reminderSet) task->put_ReminderTime(DateOf(t.reminder, 9, 30));
  SetText(task, &ITask::put_Categories, t.categories);
  task->put_Sensitivity(t.sensitivity);
  SetText(task, &ITask::put_Body, t.body);
  task->Save();
}

using SaveItem = void (*)(IDispatch* item, int index);
constexpr SaveItem kSavers[] = {SaveContact, SaveAppointment, SaveTask};

// The store that an export case reads: filled once, then kept with the folder.
std::string ExportStore(const bench::BenchKind& kind, int count) {
  return folder + "/" + kind.name + "-" + std::to_string(count) + ".db";
}

bool FillStore(const bench::BenchKind& kind, int count) {
  const std::string path = ExportStore(kind, count);
  const std::string done = path + ".filled";
  if (std::filesystem::exists(done)) return true;
  std::fprintf(stderr, "filling %s with %d items ...\n", path.c_str(), count);
  RemoveStore(path);
  UseStore(path);
  StoreSession store;
  if (!OpenStore(store)) return false;
  IPOutlookApp* app = GetStoreApp(store);
  bool ok = app != nullptr;
  for (int i = 0; ok && i < count; ++i) {
    IDispatch* item = nullptr;
    ok = SUCCEEDED(app->CreateItem(kItemTypes[kind.itemKind], &item)) && item != nullptr;
    if (ok) {
      kSavers[kind.itemKind](item, i);
      item->Release();
    }
  }
  if (app != nullptr) app->Release();
  CloseStore(store);
  if (ok) std::ofstream(done) << count << "\n";
  return ok;
}

// ---- Running the worker as the launch starts it -----------------------------------------

// Prepares the job with the launch's steps and runs the worker to its end. The count
// of records from the completion notice, or -1. An export writes the chosen file itself,
// as the floor does, so that what is measured is the engine: a real save writes a new
// file beside it and puts it in place, synced, once the last record is written.
int64_t RunWorker(ItemKind kind, JobMode mode, const std::string& path) {
  StoreSession store;
  if (!OpenStore(store)) return -1;
  handheld::MessageQueue window;
  WorkerLink link;
  auto job = std::make_unique<Job>();
  job->dialog = window.window();
  job->kind = kind;
  job->mode = mode;
  const std::u16string wide(path.begin(), path.end());
  wide.copy(job->path, wide.size());
  StringId failure;
  if (mode == ModeExport) {
    failure = OpenExportSource(*job, store);
    job->file = CreateFileW(job->path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    const BYTE mark[2] = {0xFF, 0xFE};
    DWORD done = 0;
    WriteFile(job->file, mark, 2, &done, nullptr);
  } else {
    failure = OpenImportFile(*job);
    if (failure == 0) failure = OpenImportTarget(*job, store);
  }
  if (failure == 0) failure = StartWorker(job, link);
  if (failure != 0) {
    ReleaseJob(*job);
    CloseStore(store);
    return -1;
  }
  int64_t records = -1;
  for (MSG message{}; window.Take(&message, std::chrono::minutes(10));) {
    if (message.wParam == NotifyDone) records = DoneCount(message.lParam);
    if (message.wParam == NotifyEnded) break;
  }
  WaitForSingleObject(link.worker, INFINITE);
  CloseHandle(link.worker);
  CloseStore(store);
  return records;
}

void Export(benchmark::State& state, const bench::BenchKind* kind, int count) {
  if (!FillStore(*kind, count)) {
    state.SkipWithError("the store could not be filled");
    return;
  }
  const std::string file = folder + "/" + kind->name + "-export.txt";
  UseStore(ExportStore(*kind, count));
  for (auto _ : state) {
    const int64_t records = RunWorker(static_cast<ItemKind>(kind->itemKind), ModeExport, file);
    state.PauseTiming();
    const char* error = nullptr;
    if (records != count) {
      error = "the export did not complete";
    } else if (!bench::FileMatches(file, kind->writes, count)) {
      error = "the exported file differs from the floor's bytes";
    }
    state.ResumeTiming();
    // Skipping ends the run, so it comes after the clock is running again.
    if (error != nullptr) state.SkipWithError(error);
  }
  std::filesystem::remove(file);
}

// QUILLMOTE_BENCH_SAVE_BACK=0 leaves out the import's check by saving back (bench/run.sh
// checks in its filling pass, so that a measured import's peak memory is its own).
bool SaveBackChecked() {
  const char* value = getenv("QUILLMOTE_BENCH_SAVE_BACK");
  return value == nullptr || std::string(value) != "0";
}

void Import(benchmark::State& state, const bench::BenchKind* kind, int count) {
  const std::string file = bench::ImportFile(folder, *kind, count);
  if (!bench::EnsureImportFile(file, *kind, count)) {
    state.SkipWithError("the backup file could not be written");
    return;
  }
  const std::string store = folder + "/" + kind->name + "-import.db";
  UseStore(store);
  for (auto _ : state) {
    state.PauseTiming();
    RemoveStore(store);
    state.ResumeTiming();
    const int64_t records = RunWorker(static_cast<ItemKind>(kind->itemKind), ModeImport, file);
    state.PauseTiming();
    const char* error = nullptr;
    // What was loaded saves back to the same bytes: the import made every item whole.
    const std::string again = folder + "/" + kind->name + "-again.txt";
    if (records != count) {
      error = "the import did not complete";
    } else if (SaveBackChecked() &&
               (RunWorker(static_cast<ItemKind>(kind->itemKind), ModeExport, again) != count ||
                !bench::FileMatches(again, kind->writes, count))) {
      error = "the imported items do not save back to the same file";
    }
    std::filesystem::remove(again);
    state.ResumeTiming();
    // Skipping ends the run, so it comes after the clock is running again.
    if (error != nullptr) state.SkipWithError(error);
  }
  RemoveStore(store);
}

}  // namespace

int main(int argc, char** argv) {
  for (const bench::BenchKind& kind : bench::kKinds) {
    for (const int count : bench::SizesOf(kind)) {
      benchmark::RegisterBenchmark(bench::CaseName(kind, "Export", count).c_str(), Export, &kind,
                                   count)
          ->Apply(bench::OneIteration);
      benchmark::RegisterBenchmark(bench::CaseName(kind, "Import", count).c_str(), Import, &kind,
                                   count)
          ->Apply(bench::OneIteration);
    }
  }
  const int status = bench::RunInFolder(argc, argv, &folder);
  if (status != 0) return status;
  return handheld::CensusReport().empty() ? 0 : 2;
}
