// What every benchmark program shares: the list of write() calls that an export makes
// (kept as one flat text with the end of each write, so that 100,000 records cost one
// allocation instead of millions), how each benchmark is run, and the folder the runs
// work in.
//
// The folder: QUILLMOTE_BENCH_FOLDER names a folder that is kept between runs (bench/run.sh
// uses it so that the stores are filled once and every case runs in its own process);
// without it a fresh folder under /tmp is made and removed at the end.
#pragma once

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

// The sizes every kind is measured at.
constexpr int kSizes[] = {10'000, 100'000};
// The contacts of bench/run.sh's whole save: quillmote-batch saving them, process and
// all, beside floor_bench's writes of Contacts/Export/5000.
constexpr int kWholeSave = 5'000;

inline std::u16string Wide(const std::string& ascii) {
  return {ascii.begin(), ascii.end()};
}

inline std::u16string Decimal(int64_t value) {
  return Wide(std::to_string(value));
}

// The write() calls of an export, in order, each as its bytes.
class Writes {
 public:
  // One write of exactly these code units.
  void Raw(std::u16string_view units) {
    text_ += units;
    ends_.push_back(text_.size());
  }
  // A text field: the text (when not empty) as one write, then its TAB as another.
  void Text(std::u16string_view value) {
    if (!value.empty()) Raw(value);
    Raw(u"\t");
  }
  // `count` TABs as one write: a run of empty fields, or a date out of range.
  void Tabs(int count) { Raw(std::u16string(static_cast<size_t>(count), u'\t')); }
  // A number and its TAB as one write.
  void Number(int64_t value) { Raw(Decimal(value) + u"\t"); }
  // A date's day, month and year, each with its TAB, as one write.
  void Date(int day, int month, int year) {
    Raw(Decimal(day) + u"\t" + Decimal(month) + u"\t" + Decimal(year) + u"\t");
  }
  // A date and time of day (hour, minute), each with its TAB, as one write.
  void DateTime(int day, int month, int year, int hour, int minute) {
    Raw(Decimal(day) + u"\t" + Decimal(month) + u"\t" + Decimal(year) + u"\t" + Decimal(hour) +
        u"\t" + Decimal(minute) + u"\t");
  }
  void LineEnd() {
    Raw(u"\r");
    Raw(u"\n");
  }

  void Clear() {
    text_.clear();
    ends_.clear();
  }
  const std::u16string& text() const { return text_; }
  size_t count() const { return ends_.size(); }
  // The code units of write `i`.
  std::u16string_view at(size_t i) const {
    const size_t begin = i == 0 ? 0 : ends_[i - 1];
    return std::u16string_view(text_).substr(begin, ends_[i] - begin);
  }

 private:
  std::u16string text_;
  std::vector<size_t> ends_;
};

// One kind's records as the benchmarks see them: record `index` appends its writes.
using RecordWrites = void (*)(int index, Writes* out);

// Every write of an export of `count` records: the byte-order mark, then each record's.
inline Writes AllWrites(RecordWrites record, int count) {
  Writes writes;
  writes.Raw(u"\xFEFF");
  for (int i = 0; i < count; ++i) record(i, &writes);
  return writes;
}

// Writes the file that an export of `count` records makes, a thousand records per
// stream write. False when it cannot be written.
inline bool WriteBackupFile(const std::string& path, RecordWrites record, int count) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  Writes block;
  block.Raw(u"\xFEFF");
  for (int i = 0; i < count; ++i) {
    record(i, &block);
    if (i % 1000 == 999 || i == count - 1) {
      out.write(reinterpret_cast<const char*>(block.text().data()),
                static_cast<std::streamsize>(block.text().size() * 2));
      block.Clear();
    }
  }
  return static_cast<bool>(out.flush());
}

// Whether the file at `path` holds exactly what an export of `count` records writes,
// compared a record at a time (so that the check itself needs almost no memory).
inline bool FileMatches(const std::string& path, RecordWrites record, int count) {
  std::ifstream in(path, std::ios::binary);
  Writes expected;
  std::u16string actual;
  expected.Raw(u"\xFEFF");
  for (int i = 0; i <= count; ++i) {
    if (i < count) record(i, &expected);
    if (i % 1000 == 999 || i == count) {
      actual.resize(expected.text().size());
      in.read(reinterpret_cast<char*>(actual.data()),
              static_cast<std::streamsize>(actual.size() * 2));
      if (!in || actual != expected.text()) return false;
      expected.Clear();
    }
  }
  return in.peek() == std::char_traits<char>::eof();
}

// Each benchmark: one iteration per repetition (--benchmark_repetitions sets how many),
// in milliseconds of wall time with the process's CPU time beside it.
inline void OneIteration(benchmark::internal::Benchmark* run) {
  run->Unit(benchmark::kMillisecond)->Iterations(1)->MeasureProcessCPUTime()->UseRealTime();
}

// Picks the folder (see the top of this file) into *folder, runs the benchmarks and
// removes a folder it made. 1 when no folder can be had, else 0.
inline int RunInFolder(int argc, char** argv, std::string* folder) {
  const char* kept = getenv("QUILLMOTE_BENCH_FOLDER");
  if (kept != nullptr && *kept != 0) {
    std::error_code error;
    std::filesystem::create_directories(kept, error);
    if (!std::filesystem::is_directory(kept)) {
      std::fprintf(stderr, "cannot use the folder %s\n", kept);
      return 1;
    }
    *folder = kept;
  } else {
    char pattern[] = "/tmp/quillmote-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    *folder = pattern;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (kept == nullptr || *kept == 0) std::filesystem::remove_all(*folder);
  return 0;
}

}  // namespace bench
