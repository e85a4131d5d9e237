// The floor for engine_bench: a plain program that makes the system calls the engine's
// file work cannot avoid, for every case of engine_bench under the same name. Export:
// the same write() calls with the same bytes, in the same order (prepared before the
// clock starts). Import: the same file read with one 2-byte read() and one sched_yield()
// per code unit.
//
// Each case also has an "OnThread" twin that does the same work on a second thread while
// the first waits, as the engine's worker does: in a process with more than one thread
// every read() and write() pays for the shared file table, so the twin shows that cost
// apart from the engine's own.
//
//   build-*/bin/floor_bench [--benchmark_filter='^Calendar/Import/100000/']
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "bench/bench_records.h"

namespace {

std::string folder;

bool WriteAll(const std::string& path, const bench::Writes& writes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool ok = fd >= 0;
  for (size_t i = 0; ok && i < writes.count(); ++i) {
    const std::u16string_view write = writes.at(i);
    const ssize_t bytes = static_cast<ssize_t>(write.size() * 2);
    if (::write(fd, write.data(), static_cast<size_t>(bytes)) != bytes) ok = false;
  }
  if (fd >= 0) close(fd);
  return ok;
}

uint64_t ReadAll(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  char16_t unit = 0;
  uint64_t units = 0;
  while (fd >= 0 && ::read(fd, &unit, 2) == 2) {
    benchmark::DoNotOptimize(unit);
    ++units;
    sched_yield();
  }
  if (fd >= 0) close(fd);
  return units;
}

template <typename Work>
auto Run(bool onThread, Work work) {
  if (!onThread) return work();
  decltype(work()) result{};
  std::thread thread([&] { result = work(); });
  thread.join();
  return result;
}

void Export(benchmark::State& state, const bench::BenchKind* kind, int count, bool onThread) {
  const bench::Writes writes = bench::AllWrites(kind->writes, count);
  const std::string file = folder + "/" + kind->name + "-floor.txt";
  for (auto _ : state) {
    const bool written = Run(onThread, [&] { return WriteAll(file, writes); });
    state.PauseTiming();
    const char* error = nullptr;
    if (!written) {
      error = "write failed";
    } else if (!bench::FileMatches(file, kind->writes, count)) {
      error = "the file differs from the export's bytes";
    }
    state.ResumeTiming();
    // Skipping ends the run, so it comes after the clock is running again.
    if (error != nullptr) state.SkipWithError(error);
  }
  std::filesystem::remove(file);
  state.counters["writes"] = static_cast<double>(writes.count());
}

void Import(benchmark::State& state, const bench::BenchKind* kind, int count, bool onThread) {
  const std::string file = bench::ImportFile(folder, *kind, count);
  if (!bench::EnsureImportFile(file, *kind, count)) {
    state.SkipWithError("the backup file could not be written");
    return;
  }
  uint64_t units = 0;
  for (auto _ : state) units = Run(onThread, [&] { return ReadAll(file); });
  state.counters["units"] = static_cast<double>(units);
}

}  // namespace

int main(int argc, char** argv) {
  for (const bench::BenchKind& kind : bench::kKinds) {
    for (const int count : bench::SizesOf(kind)) {
      for (const bool onThread : {false, true}) {
        const std::string suffix = onThread ? "OnThread" : "";
        benchmark::RegisterBenchmark(
            bench::CaseName(kind, ("Export" + suffix).c_str(), count).c_str(), Export, &kind, count,
            onThread)
            ->Apply(bench::OneIteration);
        benchmark::RegisterBenchmark(
            bench::CaseName(kind, ("Import" + suffix).c_str(), count).c_str(), Import, &kind, count,
            onThread)
            ->Apply(bench::OneIteration);
      }
    }
  }
  return bench::RunInFolder(argc, argv, &folder);
}
