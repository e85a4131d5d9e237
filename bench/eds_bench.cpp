// Quillmote against Evolution Data Server's own calls, on a private data server
// (handheld/eds/eds_test_support.h) started for this program.
//
// For contacts and appointments, at 2,500, 5,000 and 10,000 items:
// - Quillmote/<kind>/Load/N: `quillmote-batch --replace load-...` of a backup file into
//   the emptied default source (HANDHELD_STORE=eds:), the whole process timed;
// - Quillmote/<kind>/Save/N: `quillmote-batch --overwrite save-...` of that source into a
//   file, which must be byte for byte the file loaded (appointments: see SameItems);
// - Eds/<kind>/Add/N: the same items (as EDS holds them after the load) added to the
//   emptied source by e_book_client_add_contacts_sync or e_cal_client_create_objects_sync
//   in batches of kBatch, the objects made before the clock starts;
// - Eds/<kind>/Read/N: every item read back by e_book_client_get_contacts_sync or
//   e_cal_client_get_object_list_sync;
// - Eds/<kind>/ReadEach/N: every item read by its UID, one call each;
// - Eds/<kind>/AddEach/2500: the adds one item a call, as a store without groups would
//   make them.
// Quillmote's cases report the child's peak memory (measured by GNU time) and its CPU
// time. The cases depend on each other's state: run them in the order they are
// registered (a --benchmark_filter may skip any; a case puts the source in the state it
// needs first, untimed).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <libebook/libebook.h>
#include <libecal/libecal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_records.h"
#include "bench/bench_support.h"
#include "handheld/eds/eds.h"
#include "handheld/eds/eds_test_support.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace eds = handheld::eds;

constexpr int kSizes[] = {2'500, 5'000, 10'000};
constexpr int kBatch = 500;  // items per call of EDS's own batched adds

std::string folder;  // the run's folder: backup files, saved files, the children's output
std::string bin;     // the folder of quillmote-batch (this program's own)
std::unique_ptr<eds::Registry> registry;
std::unique_ptr<eds::Client> book, calendar;

struct Kind {
  const char* name;   // "Contacts", "Calendar"
  const char* batch;  // quillmote-batch's noun: load-<batch>, save-<batch>
  bench::RecordWrites record;
  bool contacts;
};
const Kind kContacts{"Contacts", "contacts", bench::ContactWrites, true};
const Kind kCalendar{"Calendar", "calendar", bench::AppointmentWrites, false};

std::string BackupFile(const Kind& kind, int count) {
  return folder + "/" + kind.batch + "-" + std::to_string(count) + ".txt";
}

// ---- The source through EDS's own calls -------------------------------------------------

std::string AllContacts() {
  EBookQuery* all = e_book_query_any_field_contains("");
  gchar* text = e_book_query_to_string(all);
  e_book_query_unref(all);
  std::string sexp(text);
  g_free(text);
  return sexp;
}

bool Failed(GError* error, const char* what, std::string* why) {
  *why = std::string(what) + ": " + (error != nullptr ? error->message : "failed");
  g_clear_error(&error);
  return false;
}

// Every item of the source, read in one call: vCards of the contacts, or the calendar's
// components as iCalendar texts.
bool ReadAll(const Kind& kind, std::vector<std::string>* texts, std::string* why) {
  GError* error = nullptr;
  GSList* found = nullptr;
  texts->clear();
  if (kind.contacts) {
    if (!e_book_client_get_contacts_sync(book->book(), AllContacts().c_str(), &found, nullptr,
                                         &error)) {
      return Failed(error, "reading the contacts", why);
    }
    for (GSList* at = found; at != nullptr; at = at->next) {
      gchar* card = e_vcard_to_string(E_VCARD(at->data), EVC_FORMAT_VCARD_30);
      texts->emplace_back(card);
      g_free(card);
    }
    g_slist_free_full(found, g_object_unref);
  } else {
    if (!e_cal_client_get_object_list_sync(calendar->calendar(), "#t", &found, nullptr,
                                           &error)) {
      return Failed(error, "reading the calendar", why);
    }
    for (GSList* at = found; at != nullptr; at = at->next) {
      gchar* text = i_cal_component_as_ical_string(static_cast<ICalComponent*>(at->data));
      texts->emplace_back(text);
      g_free(text);
    }
    g_slist_free_full(found, g_object_unref);
  }
  return true;
}

// How many items the source holds (a calendar's changed occurrences count apart).
int Count(const Kind& kind) {
  std::vector<std::string> texts;
  std::string why;
  return ReadAll(kind, &texts, &why) ? static_cast<int>(texts.size()) : -1;
}

// Removes every item, kBatch per call.
bool Empty(const Kind& kind, std::string* why) {
  GError* error = nullptr;
  if (kind.contacts) {
    GSList* uids = nullptr;
    if (!e_book_client_get_contacts_uids_sync(book->book(), AllContacts().c_str(), &uids,
                                              nullptr, &error)) {
      return Failed(error, "listing the contacts", why);
    }
    bool ok = true;
    for (GSList* at = uids; ok && at != nullptr;) {
      GSList* rest = g_slist_nth(at, kBatch - 1);
      GSList* next = rest != nullptr ? rest->next : nullptr;
      if (rest != nullptr) rest->next = nullptr;
      ok = e_book_client_remove_contacts_sync(book->book(), at, E_BOOK_OPERATION_FLAG_NONE,
                                              nullptr, &error);
      if (rest != nullptr) rest->next = next;
      at = next;
    }
    g_slist_free_full(uids, g_free);
    return ok || Failed(error, "removing the contacts", why);
  }
  GSList* found = nullptr;
  if (!e_cal_client_get_object_list_sync(calendar->calendar(), "#t", &found, nullptr, &error)) {
    return Failed(error, "listing the calendar", why);
  }
  std::vector<std::string> uids;
  for (GSList* at = found; at != nullptr; at = at->next) {
    const char* uid = i_cal_component_get_uid(static_cast<ICalComponent*>(at->data));
    if (uid != nullptr && (uids.empty() || uids.back() != uid)) uids.emplace_back(uid);
  }
  g_slist_free_full(found, g_object_unref);
  bool ok = true;
  for (size_t begin = 0; ok && begin < uids.size(); begin += kBatch) {
    GSList* ids = nullptr;
    for (size_t i = begin; i < std::min(uids.size(), begin + kBatch); ++i) {
      ids = g_slist_prepend(ids, e_cal_component_id_new(uids[i].c_str(), nullptr));
    }
    ok = e_cal_client_remove_objects_sync(calendar->calendar(), ids, E_CAL_OBJ_MOD_ALL,
                                          E_CAL_OPERATION_FLAG_NONE, nullptr, &error);
    g_slist_free_full(ids, reinterpret_cast<GDestroyNotify>(e_cal_component_id_free));
    if (!ok && g_error_matches(error, E_CAL_CLIENT_ERROR,
                               E_CAL_CLIENT_ERROR_OBJECT_NOT_FOUND)) {
      g_clear_error(&error);  // a duplicate UID of a series, removed with it
      ok = true;
    }
  }
  return ok || Failed(error, "removing the calendar's items", why);
}

// ---- quillmote-batch as a child ----------------------------------------------------------

struct Ran {
  int status = -1;
  double seconds = 0, cpu = 0;
  long peakKiB = 0;
};

Ran RunBatch(std::vector<std::string> args) {
  Ran ran;
  // GNU time measures the peak: a child's own ru_maxrss counts the spawning process's
  // memory, which the kernel takes over as the child's until its exec (the bench's grows
  // with the items it holds).
  const std::string peak = folder + "/batch.peak";
  args.insert(args.begin(), {"/usr/bin/time", "-f", "%M", "-o", peak, bin + "/quillmote-batch"});
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> env{"HANDHELD_STORE=eds:"};
  for (char** at = environ; *at != nullptr; ++at) {
    if (std::string_view(*at).rfind("HANDHELD_STORE=", 0) != 0) env.emplace_back(*at);
  }
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string out = folder + "/batch.out", err = folder + "/batch.err";
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const auto start = Clock::now();
  pid_t pid;
  const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return ran;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return ran;
  ran.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  ran.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::ifstream(peak) >> ran.peakKiB;
  return ran;
}

std::string Tail(const std::string& path) {
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return text.size() > 400 ? text.substr(text.size() - 400) : text;
}

void Report(benchmark::State& state, const Ran& ran) {
  state.SetIterationTime(ran.seconds);
  state.counters["child_cpu_s"] = ran.cpu;
  state.counters["peak_MB"] = static_cast<double>(ran.peakKiB) / 1024.0;
}

bool Load(const Kind& kind, int count, Ran* ran, std::string* why) {
  const std::string file = BackupFile(kind, count);
  if (!std::filesystem::exists(file) && !bench::WriteBackupFile(file, kind.record, count)) {
    *why = "cannot write " + file;
    return false;
  }
  *ran = RunBatch({"--replace", std::string("load-") + kind.batch, BackupFile(kind, count)});
  if (ran->status != 0) {
    *why = "quillmote-batch load failed (" + std::to_string(ran->status) + "): " +
           Tail(folder + "/batch.err");
    return false;
  }
  return true;
}

// The bench's appointments are not all what EDS can hold: an all-day appointment with a
// time of day, a series whose start is not its first occurrence (both told at the load as
// not kept), a count of occurrences beside an end date that ends the series elsewhere
// (EDS keeps the end date). So a saved calendar is checked line for line by what no
// mapping changes: the same number of lines, each with the subject, location, recipients
// and notes of the line loaded; *differing counts the lines that are not byte-identical.
bool SameItems(const std::string& path, bench::RecordWrites record, int count,
               int* differing) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::u16string text(bytes.size() / 2, u'\0');
  std::memcpy(text.data(), bytes.data(), text.size() * 2);
  if (text.empty() || text[0] != u'\xFEFF') return false;
  const auto fields = [](std::u16string_view line) {
    std::vector<std::u16string_view> out;
    for (size_t at = 0;;) {
      const size_t tab = line.find(u'\t', at);
      out.push_back(line.substr(at, tab - at));
      if (tab == line.npos) return out;
      at = tab + 1;
    }
  };
  size_t at = 1;
  *differing = 0;
  for (int i = 0; i < count; ++i) {
    bench::Writes expected;
    record(i, &expected);
    const size_t end = text.find(u"\r\n", at);
    if (end == text.npos) return false;
    const std::u16string_view line = std::u16string_view(text).substr(at, end + 2 - at);
    at = end + 2;
    if (line == expected.text()) continue;
    ++*differing;
    const auto got = fields(line), want = fields(expected.text());
    if (got.size() != want.size()) return false;
    const size_t last = want.size() - 1;  // the notes, then the line's end
    for (size_t k : {size_t{0}, size_t{1}, last - 4, last - 1}) {
      if (got[k] != want[k]) return false;
    }
  }
  return at == text.size();
}

// ---- The cases ----------------------------------------------------------------------------

void QuillmoteLoad(benchmark::State& state, const Kind& kind) {
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::string why;
    Ran ran;
    if (!Empty(kind, &why) || !Load(kind, count, &ran, &why)) {
      state.SkipWithError(why.c_str());
      return;
    }
    Report(state, ran);
  }
  state.counters["items"] = count;
}

// The source holds the `count` items of a Quillmote load (made now when it holds fewer).
bool Loaded(const Kind& kind, int count, std::string* why) {
  Ran ran;
  return Count(kind) >= count || (Empty(kind, why) && Load(kind, count, &ran, why));
}

void QuillmoteSave(benchmark::State& state, const Kind& kind) {
  const int count = static_cast<int>(state.range(0));
  const std::string saved = folder + "/saved.txt";
  for (auto _ : state) {
    std::string why;
    // The source holds this size's items unless the load before was filtered out.
    if (!Loaded(kind, count, &why)) {
      state.SkipWithError(why.c_str());
      return;
    }
    Ran ran = RunBatch({"--overwrite", std::string("save-") + kind.batch, saved});
    if (ran.status != 0) {
      why = "quillmote-batch save failed: " + Tail(folder + "/batch.err");
      state.SkipWithError(why.c_str());
      return;
    }
    int differing = 0;
    if (kind.contacts ? !bench::FileMatches(saved, kind.record, count)
                      : !SameItems(saved, kind.record, count, &differing)) {
      state.SkipWithError("the saved file is not the file loaded");
      return;
    }
    Report(state, ran);
    if (!kind.contacts) state.counters["lines_changed"] = differing;
  }
  state.counters["items"] = count;
}

// The texts of `count` items as Quillmote's load leaves them in EDS (loaded first when the
// source holds fewer), the source emptied after.
bool TextsAsLoaded(const Kind& kind, int count, std::vector<std::string>* texts,
                   std::string* why) {
  return Loaded(kind, count, why) && ReadAll(kind, texts, why) && Empty(kind, why);
}

void EdsAdd(benchmark::State& state, const Kind& kind) {
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::string why;
    std::vector<std::string> texts;
    if (!TextsAsLoaded(kind, count, &texts, &why)) {
      state.SkipWithError(why.c_str());
      return;
    }
    std::vector<GSList*> batches;
    for (size_t i = 0; i < texts.size(); ++i) {
      if (i % kBatch == 0) batches.push_back(nullptr);
      void* item = kind.contacts
                       ? static_cast<void*>(e_contact_new_from_vcard(texts[i].c_str()))
                       : static_cast<void*>(i_cal_component_new_from_string(texts[i].c_str()));
      batches.back() = g_slist_prepend(batches.back(), item);
    }
    for (GSList*& batch : batches) batch = g_slist_reverse(batch);
    GError* error = nullptr;
    bool ok = true;
    const auto start = Clock::now();
    for (GSList* batch : batches) {
      GSList* uids = nullptr;
      ok = kind.contacts ? e_book_client_add_contacts_sync(book->book(), batch,
                                                           E_BOOK_OPERATION_FLAG_NONE, &uids,
                                                           nullptr, &error)
                         : e_cal_client_create_objects_sync(calendar->calendar(), batch,
                                                            E_CAL_OPERATION_FLAG_NONE, &uids,
                                                            nullptr, &error);
      g_slist_free_full(uids, g_free);
      if (!ok) break;
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    for (GSList* batch : batches) g_slist_free_full(batch, g_object_unref);
    if (!ok) {
      Failed(error, "adding", &why);
      state.SkipWithError(why.c_str());
      return;
    }
    if (Count(kind) != static_cast<int>(texts.size())) {
      state.SkipWithError("EDS holds a different number of items after the adds");
      return;
    }
  }
  state.counters["items"] = count;
}

void EdsRead(benchmark::State& state, const Kind& kind) {
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::string why;
    if (!Loaded(kind, count, &why)) {
      state.SkipWithError(why.c_str());
      return;
    }
    GError* error = nullptr;
    GSList* found = nullptr;
    const auto start = Clock::now();
    const bool ok = kind.contacts
                        ? e_book_client_get_contacts_sync(book->book(), AllContacts().c_str(),
                                                          &found, nullptr, &error)
                        : e_cal_client_get_object_list_sync(calendar->calendar(), "#t", &found,
                                                            nullptr, &error);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    const int read = static_cast<int>(g_slist_length(found));
    g_slist_free_full(found, g_object_unref);
    if (!ok || read < count) {
      Failed(error, "reading", &why);
      state.SkipWithError(ok ? "fewer items read than loaded" : why.c_str());
      return;
    }
  }
  state.counters["items"] = count;
}

// The adds one item a call, as a load through the store's Save makes them
// (e_book_client_add_contact_sync, e_cal_client_create_object_sync).
void EdsAddEach(benchmark::State& state, const Kind& kind) {
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::string why;
    std::vector<std::string> texts;
    if (!TextsAsLoaded(kind, count, &texts, &why)) {
      state.SkipWithError(why.c_str());
      return;
    }
    std::vector<void*> items;
    for (const std::string& text : texts) {
      items.push_back(kind.contacts ? static_cast<void*>(e_contact_new_from_vcard(text.c_str()))
                                    : static_cast<void*>(i_cal_component_new_from_string(
                                          text.c_str())));
    }
    GError* error = nullptr;
    bool ok = true;
    const auto start = Clock::now();
    for (void* item : items) {
      gchar* uid = nullptr;
      ok = kind.contacts
               ? e_book_client_add_contact_sync(book->book(), static_cast<EContact*>(item),
                                                E_BOOK_OPERATION_FLAG_NONE, &uid, nullptr, &error)
               : e_cal_client_create_object_sync(calendar->calendar(),
                                                 static_cast<ICalComponent*>(item),
                                                 E_CAL_OPERATION_FLAG_NONE, &uid, nullptr, &error);
      g_free(uid);
      if (!ok) break;
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    for (void* item : items) g_object_unref(item);
    if (!ok) {
      Failed(error, "adding", &why);
      state.SkipWithError(why.c_str());
      return;
    }
  }
  state.counters["items"] = count;
}

// Every item read by its UID, one call each (e_book_client_get_contact_sync,
// e_cal_client_get_object_sync): what a read without a query over many UIDs costs.
void EdsReadEach(benchmark::State& state, const Kind& kind) {
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::string why;
    if (!Loaded(kind, count, &why)) {
      state.SkipWithError(why.c_str());
      return;
    }
    std::vector<std::string> uids;
    GError* error = nullptr;
    if (kind.contacts) {
      GSList* listed = nullptr;
      if (e_book_client_get_contacts_uids_sync(book->book(), AllContacts().c_str(), &listed,
                                               nullptr, &error)) {
        for (GSList* at = listed; at != nullptr; at = at->next) {
          uids.emplace_back(static_cast<const char*>(at->data));
        }
      }
      g_slist_free_full(listed, g_free);
    } else {
      GSList* listed = nullptr;
      if (e_cal_client_get_object_list_sync(calendar->calendar(), "#t", &listed, nullptr,
                                            &error)) {
        for (GSList* at = listed; at != nullptr; at = at->next) {
          const char* uid = i_cal_component_get_uid(static_cast<ICalComponent*>(at->data));
          if (uid != nullptr && (uids.empty() || uids.back() != uid)) uids.emplace_back(uid);
        }
      }
      g_slist_free_full(listed, g_object_unref);
    }
    g_clear_error(&error);
    bool ok = true;
    const auto start = Clock::now();
    for (const std::string& uid : uids) {
      if (kind.contacts) {
        EContact* contact = nullptr;
        ok = e_book_client_get_contact_sync(book->book(), uid.c_str(), &contact, nullptr, &error);
        if (contact != nullptr) g_object_unref(contact);
      } else {
        ICalComponent* component = nullptr;
        ok = e_cal_client_get_object_sync(calendar->calendar(), uid.c_str(), nullptr, &component,
                                          nullptr, &error);
        if (component != nullptr) g_object_unref(component);
      }
      if (!ok) break;
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    if (!ok || static_cast<int>(uids.size()) < count) {
      Failed(error, "reading", &why);
      state.SkipWithError(why.c_str());
      return;
    }
  }
  state.counters["items"] = count;
}

void Register() {
  for (const Kind* kind : {&kContacts, &kCalendar}) {
    for (int count : kSizes) {
      const std::string n;  // the size follows as the argument
      const auto add = [&](const std::string& name, void (*run)(benchmark::State&, const Kind&)) {
        benchmark::RegisterBenchmark(name.c_str(), run, *kind)
            ->Arg(count)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1)
            ->UseManualTime();
      };
      add(std::string("Quillmote/") + kind->name + "/Load" + n, QuillmoteLoad);
      add(std::string("Quillmote/") + kind->name + "/Save" + n, QuillmoteSave);
      add(std::string("Eds/") + kind->name + "/Add" + n, EdsAdd);
      add(std::string("Eds/") + kind->name + "/Read" + n, EdsRead);
      add(std::string("Eds/") + kind->name + "/ReadEach" + n, EdsReadEach);
      // One call per add is slow; its cost per item is the same at every size.
      if (count == kSizes[0]) add(std::string("Eds/") + kind->name + "/AddEach" + n, EdsAddEach);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  bin = std::filesystem::canonical("/proc/self/exe").parent_path().string();
  eds::testing::Session session;
  std::string error;
  if (!session.Start(&error)) {
    std::fprintf(stderr, "no private data server: %s\n", error.c_str());
    return 1;
  }
  registry = eds::Registry::Connect(eds::kDefaultLimit, &error);
  if (registry != nullptr) {
    book = registry->Open(eds::Kind::kAddressBook, "system-address-book", eds::kDefaultLimit,
                          &error);
  }
  if (book != nullptr) {
    calendar = registry->Open(eds::Kind::kCalendar, "system-calendar", eds::kDefaultLimit,
                              &error);
  }
  if (calendar == nullptr) {
    std::fprintf(stderr, "the private data server does not answer: %s\n", error.c_str());
    return 1;
  }
  Register();
  const int status = bench::RunInFolder(argc, argv, &folder);
  book.reset();
  calendar.reset();
  registry.reset();
  session.Stop();
  return status;
}
