// The floor for engine_bench: a plain program that makes the system calls the engine's
// file work cannot avoid. Export: the same write() calls with the same bytes, in the
// same order. Import: the same file read with one 2-byte read() and one sched_yield()
// per code unit.
//
//   build-*/bin/floor_bench
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "bench/bench_contacts.h"

namespace {

std::string folder;
std::string BackupPath() {
  return folder + "/backup.txt";
}

bool WriteAll(const std::vector<std::u16string>& writes) {
  const int fd = open(BackupPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool ok = fd >= 0;
  for (const std::u16string& write : writes) {
    const ssize_t bytes = static_cast<ssize_t>(write.size() * 2);
    if (::write(fd, write.data(), static_cast<size_t>(bytes)) != bytes) ok = false;
  }
  close(fd);
  return ok;
}

uint64_t ReadAll() {
  const int fd = open(BackupPath().c_str(), O_RDONLY);
  char16_t unit = 0;
  uint64_t units = 0;
  while (::read(fd, &unit, 2) == 2) {
    benchmark::DoNotOptimize(unit);
    ++units;
    sched_yield();
  }
  close(fd);
  return units;
}

// Runs `work` on a second thread while this one waits, as the engine's worker does: in a
// process with more than one thread every read() and write() pays for the shared file
// table, so this variant shows that cost apart from the engine's own.
template <typename Work>
auto OnThread(Work work) {
  decltype(work()) result{};
  std::thread thread([&] { result = work(); });
  thread.join();
  return result;
}

void BM_Export100k(benchmark::State& state) {
  const std::vector<std::u16string> writes = bench::AllWrites();
  for (auto _ : state) {
    if (!WriteAll(writes)) state.SkipWithError("write failed");
  }
  state.counters["writes"] = static_cast<double>(writes.size());
}

void BM_Import100k(benchmark::State& state) {
  uint64_t units = 0;
  for (auto _ : state) units = ReadAll();
  state.counters["units"] = static_cast<double>(units);
}

void BM_Export100kOnThread(benchmark::State& state) {
  const std::vector<std::u16string> writes = bench::AllWrites();
  for (auto _ : state) {
    if (!OnThread([&] { return WriteAll(writes); })) state.SkipWithError("write failed");
  }
}

void BM_Import100kOnThread(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(OnThread(ReadAll));
}

BENCHMARK(BM_Export100k)->Apply(bench::ThreeRuns);
BENCHMARK(BM_Import100k)->Apply(bench::ThreeRuns);
BENCHMARK(BM_Export100kOnThread)->Apply(bench::ThreeRuns);
BENCHMARK(BM_Import100kOnThread)->Apply(bench::ThreeRuns);

}  // namespace

int main(int argc, char** argv) {
  return bench::RunInTemporaryFolder(argc, argv, &folder);
}
