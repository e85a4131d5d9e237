// Appointments as iCalendar, side by side in one run: 10,000 and 100,000 appointments
// (those of bench_records.h: every second one repeats, most have a reminder, each has
// one to three recipients) exported from a filled store to one .ics file and that file
// imported into an empty store, as `handheld export` and `import` do, and
// python3-icalendar reading the same file.
//
//   build-*/bin/ical_bench [--benchmark_filter='^Ical/Import/100000/']
//
// Goals at 100,000: export within 3 s, import within 4 s, each at least 10 times as fast
// as the Python reader; peak memory (bench/ical_run.sh runs each case in a process of
// its own) no larger at 100,000 than at 10,000 but for the store's own cache.
//
// Each case fills what it reads first (not timed) unless the kept folder (see
// bench_support.h) already holds it: the store for the export, the export's file for
// the import and the Python reader.
#include <stdlib.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/bench_items.h"
#include "handheld/oledate.h"
#include "handheld/pimstore.h"
#include "interop/itemstore.h"
#include "interop/ical_time.h"
#include "interop/ical_transfer.h"
#include "interop/losses.h"
#include "interop/storesession.h"
#include "interop/transfer.h"

namespace {

std::string folder;

void UseStore(const std::string& path, bool fresh) {
  if (fresh) {
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  }
  setenv("HANDHELD_STORE", path.c_str(), 1);
}

using bench::DateOf;

// Appointment `i` of bench_records.h, as a program would save it.
void SaveAppointment(IAppointment* item, int i) {
  const bench::BenchAppointment a = bench::AppointmentNumber(i);
  interop::WriteText(item, &IAppointment::put_Subject, a.subject);
  interop::WriteText(item, &IAppointment::put_Location, a.location);
  item->put_AllDayEvent(a.allDay ? VARIANT_TRUE : VARIANT_FALSE);
  item->put_Start(a.allDay ? DateOf(a.day) : DateOf(a.day, a.hour, a.minute));
  item->put_End(a.allDay ? DateOf(a.day) + 1 : DateOf(a.day, a.hour + 1, a.minute));
  bench::SetPattern(item, a.pattern);
  item->put_ReminderSet(a.reminderSet ? VARIANT_TRUE : VARIANT_FALSE);
  item->put_ReminderMinutesBeforeStart(a.reminderMinutes);
  interop::WriteText(item, &IAppointment::put_Categories, a.categories);
  IRecipients* recipients = nullptr;
  item->get_Recipients(&recipients);
  for (const bench::BenchRecipient& r : a.recipients) {
    BSTR name = SysAllocStringLen(r.name.data(), static_cast<UINT>(r.name.size()));
    IRecipient* added = nullptr;
    recipients->Add(name, &added);
    SysFreeString(name);
    BSTR address = SysAllocStringLen(r.address.data(), static_cast<UINT>(r.address.size()));
    added->put_Address(address);
    SysFreeString(address);
    added->Release();
  }
  recipients->Release();
  item->put_BusyStatus(a.busyStatus);
  item->put_Sensitivity(a.sensitivity);
  interop::WriteText(item, &IAppointment::put_Body, a.body);
  item->Save();
}

std::string StorePath(int count) {
  return folder + "/ical-" + std::to_string(count) + ".db";
}

std::string IcsPath(int count) {
  return folder + "/ical-" + std::to_string(count) + ".ics";
}

void FillStore(int count) {
  std::fprintf(stderr, "filling %s with %d appointments ...\n", StorePath(count).c_str(), count);
  UseStore(StorePath(count), true);
  interop::StoreSession session;
  std::string error;
  if (!session.Open(olFolderCalendar, &error) || !session.BeginBatch(&error)) std::abort();
  for (int i = 0; i < count; ++i) {
    IAppointment* item = nullptr;
    if (FAILED(interop::NewItem(session.app(), olAppointmentItem, &item))) std::abort();
    SaveAppointment(item, i);
    item->Release();
    if (!session.CountChange(&error)) std::abort();
  }
  if (!session.EndBatch(true, &error)) std::abort();
}

// Exports the filled store to `path` as `handheld export calendar` does: the appointments
// written, and how many kinds of loss were noted.
long Export(int count, const std::string& path, long* lossKinds) {
  UseStore(StorePath(count), false);
  interop::StoreSession session;
  std::string error;
  if (!session.Open(olFolderCalendar, &error)) std::abort();
  interop::Losses losses("appointment", "appointments");
  interop::TransferResult result;
  interop::ExportCalendar(session, path, &losses, &result);
  *lossKinds = static_cast<long>(losses.Summary().size());
  return result.error.empty() ? result.items : -1;
}

// The filled store, exported once (so that every appointment has its identifier, as after
// a first export) to the file that the import and the Python reader read.
void EnsureStoreAndFile(int count) {
  const std::string done = StorePath(count) + ".filled";
  if (std::filesystem::exists(done)) return;
  FillStore(count);
  long lossKinds = 0;
  if (Export(count, IcsPath(count), &lossKinds) != count) std::abort();
  std::ofstream(done) << count << "\n";
}

void ReportMemory(benchmark::State& state) {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void ExportCase(benchmark::State& state, int count) {
  EnsureStoreAndFile(count);
  const std::string path = folder + "/export-" + std::to_string(count) + ".ics";
  long lossKinds = 0, written = 0;
  for (auto _ : state) written = Export(count, path, &lossKinds);
  if (written != count) state.SkipWithError("not every appointment was written");
  state.counters["loss_kinds"] = static_cast<double>(lossKinds);
  state.counters["MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
  ReportMemory(state);
}

// Exports into a folder, one file per appointment: into an empty folder (`again` false), or
// into the folder a first export filled, with nothing changed since (no file is written).
void FolderCase(benchmark::State& state, int count, bool again) {
  EnsureStoreAndFile(count);
  const std::string path = folder + "/vdir-" + std::to_string(count) + "/";
  long lossKinds = 0, written = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove_all(path);
    if (again && Export(count, path, &lossKinds) != count) std::abort();
    state.ResumeTiming();
    written = Export(count, path, &lossKinds);
  }
  if (written != count) state.SkipWithError("not every appointment was written");
  ReportMemory(state);
}

// The file imported into an empty store as `handheld import calendar` does.
void ImportCase(benchmark::State& state, int count) {
  EnsureStoreAndFile(count);
  long imported = 0;
  size_t problems = 0;
  for (auto _ : state) {
    state.PauseTiming();
    UseStore(folder + "/import-" + std::to_string(count) + ".db", true);
    state.ResumeTiming();
    interop::StoreSession session;
    std::string error;
    if (!session.Open(olFolderCalendar, &error)) std::abort();
    interop::Losses losses("event", "events");
    interop::TransferResult result;
    interop::ImportCalendar(session, IcsPath(count), false, &losses, &result);
    imported = result.error.empty() ? result.items : -1;
    problems = result.problems.size();
  }
  if (imported != count || problems != 0) state.SkipWithError("not every appointment came back");
  ReportMemory(state);
}

// python3-icalendar reading the same file whole, as a Python program does.
void PythonCase(benchmark::State& state, int count) {
  EnsureStoreAndFile(count);
  const std::string command =
      "/usr/bin/python3 -c 'import sys, icalendar; "
      "c = icalendar.Calendar.from_ical(open(sys.argv[1], \"rb\").read()); "
      "print(len(c.walk(\"VEVENT\")))' " +
      IcsPath(count);
  std::string printed;
  for (auto _ : state) {
    FILE* pipe = popen(command.c_str(), "r");
    char line[64] = {0};
    if (pipe == nullptr || std::fgets(line, sizeof line, pipe) == nullptr) line[0] = 0;
    if (pipe != nullptr) pclose(pipe);
    printed = line;
  }
  if (std::stoi("0" + printed) != count) state.SkipWithError("python3-icalendar did not read it");
}

}  // namespace

int main(int argc, char** argv) {
  for (int count : bench::kSizes) {
    const std::string n = std::to_string(count);
    benchmark::RegisterBenchmark(("Ical/Export/" + n).c_str(), ExportCase, count)
        ->Apply(bench::OneIteration);
    benchmark::RegisterBenchmark(("Ical/Folder/" + n).c_str(), FolderCase, count, false)
        ->Apply(bench::OneIteration);
    benchmark::RegisterBenchmark(("Ical/FolderAgain/" + n).c_str(), FolderCase, count, true)
        ->Apply(bench::OneIteration);
    benchmark::RegisterBenchmark(("Ical/Import/" + n).c_str(), ImportCase, count)
        ->Apply(bench::OneIteration);
    benchmark::RegisterBenchmark(("Ical/Python/" + n).c_str(), PythonCase, count)
        ->Apply(bench::OneIteration);
  }
  return bench::RunInFolder(argc, argv, &folder);
}
