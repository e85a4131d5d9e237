// What engine_bench and floor_bench share: the contacts both work on, the exact
// write() calls that exporting them makes (the engine benchmark saves the contacts into
// the store, the floor benchmark issues those writes straight to a file), how each
// benchmark is run, and the temporary folder the runs work in.
#pragma once

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace bench {

constexpr int kContacts = 100'000;

struct BenchContact {
  std::u16string title, firstName, lastName, mobile, email, city, company, body;
  int day, month, year;  // the birthday; the anniversary stays unset
};

inline std::u16string Wide(const std::string& ascii) {
  return {ascii.begin(), ascii.end()};
}

inline BenchContact ContactNumber(int i) {
  static const char* const kTitles[] = {"Mr", "Ms", "Dr."};
  const std::string n = std::to_string(i);
  return {Wide(kTitles[i % 3]),
          Wide("Name" + n),
          Wide("Surname" + n),
          Wide("+7 900 " + n),
          Wide("name" + n + "@example.org"),
          Wide("Moscow"),
          Wide("Quillmote Ltd"),
          Wide("Met at the conference, table " + n + "."),
          1 + i % 28,
          1 + i % 12,
          1950 + i % 50};
}

// One record's writes, in order: each non-empty text, then its TAB; a date group as one
// write; CR and LF as one write each.
inline std::vector<std::u16string> RecordWrites(const BenchContact& c) {
  std::vector<std::u16string> writes;
  const auto text = [&](const std::u16string& value) {
    if (!value.empty()) writes.push_back(value);
    writes.push_back(u"\t");
  };
  const auto empty = [&](int count) {
    for (int i = 0; i < count; ++i) text(u"");
  };
  text(c.title);      // 0
  text(c.firstName);  // 1
  empty(1);           // 2 middle name
  text(c.lastName);   // 3
  empty(2);           // 4 suffix, 5 categories
  text(c.mobile);     // 6
  text(c.email);      // 7
  writes.push_back(Wide(std::to_string(c.day) + "\t" + std::to_string(c.month) + "\t" +
                        std::to_string(c.year) + "\t"));  // 8-10 birthday
  empty(3);                                               // 11-13
  text(c.city);                                           // 14 home city
  empty(4);                                               // 15-18
  writes.push_back(u"\t\t\t");                            // 19-21 anniversary (unset)
  empty(3);                                               // 22-24
  text(c.company);                                        // 25
  empty(23);                                              // 26-48
  text(c.body);                                           // 49
  writes.push_back(u"\r");
  writes.push_back(u"\n");
  return writes;
}

// Every write of the export: the byte-order mark, then each record's writes.
inline std::vector<std::u16string> AllWrites() {
  std::vector<std::u16string> writes = {u"\xFEFF"};
  for (int i = 0; i < kContacts; ++i) {
    for (std::u16string& write : RecordWrites(ContactNumber(i))) writes.push_back(std::move(write));
  }
  return writes;
}

// Each benchmark: one iteration, three times, in milliseconds of wall time with the
// process's CPU time beside it.
inline void ThreeRuns(benchmark::internal::Benchmark* run) {
  run->Unit(benchmark::kMillisecond)
      ->Iterations(1)
      ->Repetitions(3)
      ->MeasureProcessCPUTime()
      ->UseRealTime();
}

// Makes a fresh folder under /tmp into *folder, calls `prepare` (when given), runs the
// benchmarks and removes the folder. 1 when the folder cannot be made or `prepare`
// fails, else 0.
inline int RunInTemporaryFolder(int argc, char** argv, std::string* folder,
                                bool (*prepare)() = nullptr) {
  char pattern[] = "/tmp/quillmote-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  *folder = pattern;
  const bool prepared = prepare == nullptr || prepare();
  if (prepared) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
  }
  std::filesystem::remove_all(*folder);
  return prepared ? 0 : 1;
}

}  // namespace bench
