// The floor for engine_bench: a plain program that makes the system calls the engine's
// file work cannot avoid. Export: the same write() calls with the same bytes, in the
// same order. Import: the same file read with one 2-byte read() and one sched_yield()
// per code unit.
//
//   build-*/bin/floor_bench
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sched.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_contacts.h"

namespace {

std::string folder;
std::string BackupPath() {
  return folder + "/backup.txt";
}

// Every write of the export: the byte-order mark, then each record's writes.
std::vector<std::u16string> AllWrites() {
  std::vector<std::u16string> writes = {u"\xFEFF"};
  for (int i = 0; i < bench::kContacts; ++i) {
    for (std::u16string& write : bench::RecordWrites(bench::ContactNumber(i))) {
      writes.push_back(std::move(write));
    }
  }
  return writes;
}

void BM_Export100k(benchmark::State& state) {
  const std::vector<std::u16string> writes = AllWrites();
  for (auto _ : state) {
    const int fd = open(BackupPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (const std::u16string& write : writes) {
      const ssize_t bytes = static_cast<ssize_t>(write.size() * 2);
      if (::write(fd, write.data(), static_cast<size_t>(bytes)) != bytes) {
        state.SkipWithError("write failed");
      }
    }
    close(fd);
  }
  state.counters["writes"] = static_cast<double>(writes.size());
}

void BM_Import100k(benchmark::State& state) {
  uint64_t units = 0;
  for (auto _ : state) {
    const int fd = open(BackupPath().c_str(), O_RDONLY);
    char16_t unit = 0;
    units = 0;
    while (::read(fd, &unit, 2) == 2) {
      benchmark::DoNotOptimize(unit);
      ++units;
      sched_yield();
    }
    close(fd);
  }
  state.counters["units"] = static_cast<double>(units);
}

BENCHMARK(BM_Export100k)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_Import100k)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  char pattern[] = "/tmp/quillmote-floor-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  folder = pattern;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(folder);
  return 0;
}
