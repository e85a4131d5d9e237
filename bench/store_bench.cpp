// The personal information store under a full Contacts folder: saving 100,000 new
// contacts through the COM interfaces (goal: 5 s at most), reading all 46 properties
// of 100,000 contacts through Item and the getters (goal: 2 s at most), and removing
// 100,000 contacts from the highest index down (linear, like the saving), which first
// writes all of them to a removed-items file.
//
// Runs on a store file in a fresh temporary folder (removed at the end).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "handheld/bstr.h"
#include "handheld/pimstore.h"

namespace {

constexpr int kContacts = 100'000;

std::string& StoreFolder() {
  static std::string folder = [] {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/store-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  return folder;
}

void UseStoreFile(const char* name) {
  std::string path = StoreFolder() + "/" + name;
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  setenv("HANDHELD_STORE", path.c_str(), 1);
  // The purge keeps what it removes in a removed-items file: here, not in the home folder.
  setenv("XDG_STATE_HOME", (StoreFolder() + "/state").c_str(), 1);
}

IPOutlookApp* LogOn() {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  IPOutlookApp* app = nullptr;
  CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, IID_IPOutlookApp,
                   reinterpret_cast<void**>(&app));
  if (app == nullptr || FAILED(app->Logon(0))) std::abort();
  return app;
}

void LogOff(IPOutlookApp* app) {
  app->Logoff();
  app->Release();
  CoUninitialize();
}

// A plausible contact: 44 short texts (the notes a little longer) and two dates.
std::vector<BSTR> SampleTexts() {
  std::vector<BSTR> texts;
  for (int i = 0; i < 44; ++i) {
    std::u16string text = u"Значение поля " + std::u16string(1, static_cast<char16_t>(u'A' + i));
    if (i == 43) text += u"\r\nЗаметка на несколько строк\r\nи ещё одна";
    texts.push_back(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
  }
  return texts;
}

bool SaveContacts(IPOutlookApp* app, int count) {
  std::vector<BSTR> texts = SampleTexts();
  bool ok = true;
  for (int n = 0; n < count && ok; ++n) {
    IDispatch* item = nullptr;
    if (FAILED(app->CreateItem(olContactItem, &item))) return false;
    auto* contact = static_cast<IContact*>(item);
    int k = 0;
#define HANDHELD_BENCH_PUT(Name) contact->put_##Name(texts[k++]);
    HANDHELD_CONTACT_STRINGS(HANDHELD_BENCH_PUT)
#undef HANDHELD_BENCH_PUT
    contact->put_Birthday(29000.0 + n % 1000);
    contact->put_Anniversary(handheld::kNoDate);
    ok = SUCCEEDED(contact->Save());
    contact->Release();
  }
  for (BSTR text : texts) SysFreeString(text);
  return ok;
}

void BM_SaveNewContacts(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    UseStoreFile("save.db");
    IPOutlookApp* app = LogOn();
    state.ResumeTiming();
    if (!SaveContacts(app, kContacts)) state.SkipWithError("a Save failed");
    state.PauseTiming();
    LogOff(app);
    state.ResumeTiming();
  }
  state.counters["contacts"] = kContacts;
}
BENCHMARK(BM_SaveNewContacts)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadAllContactProperties(benchmark::State& state) {
  UseStoreFile("read.db");
  IPOutlookApp* app = LogOn();
  if (!SaveContacts(app, kContacts)) state.SkipWithError("filling the store failed");
  size_t units = 0;
  for (auto _ : state) {
    IFolder* folder = nullptr;
    IPOutlookItemCollection* items = nullptr;
    app->GetDefaultFolder(olFolderContacts, &folder);
    folder->get_Items(&items);
    INT count = 0;
    items->get_Count(&count);
    if (count != kContacts) state.SkipWithError("wrong count");
    for (INT i = 1; i <= count; ++i) {
      IDispatch* item = nullptr;
      if (FAILED(items->Item(i, &item))) {
        state.SkipWithError("Item failed");
        break;
      }
      auto* contact = static_cast<IContact*>(item);
      BSTR text = nullptr;
#define HANDHELD_BENCH_GET(Name) \
  contact->get_##Name(&text);    \
  units += SysStringLen(text);   \
  SysFreeString(text);
      HANDHELD_CONTACT_STRINGS(HANDHELD_BENCH_GET)
#undef HANDHELD_BENCH_GET
      DATE date = 0;
      contact->get_Birthday(&date);
      contact->get_Anniversary(&date);
      benchmark::DoNotOptimize(date);
      contact->Release();
    }
    items->Release();
    folder->Release();
  }
  benchmark::DoNotOptimize(units);
  state.counters["contacts"] = kContacts;
  LogOff(app);
}
BENCHMARK(BM_ReadAllContactProperties)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The purge before an import: every item removed from the highest index down.
void BM_RemoveAllFromTheTop(benchmark::State& state) {
  UseStoreFile("purge.db");
  IPOutlookApp* app = LogOn();
  for (auto _ : state) {
    state.PauseTiming();
    if (!SaveContacts(app, kContacts)) state.SkipWithError("filling the store failed");
    state.ResumeTiming();
    IFolder* folder = nullptr;
    IPOutlookItemCollection* items = nullptr;
    app->GetDefaultFolder(olFolderContacts, &folder);
    folder->get_Items(&items);
    INT count = 0;
    items->get_Count(&count);
    for (INT i = count; i >= 1; --i) {
      if (FAILED(items->Remove(i))) {
        state.SkipWithError("Remove failed");
        break;
      }
    }
    items->get_Count(&count);
    if (count != 0) state.SkipWithError("items left");
    items->Release();
    folder->Release();
  }
  state.counters["contacts"] = kContacts;
  LogOff(app);
}
BENCHMARK(BM_RemoveAllFromTheTop)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(StoreFolder());
  return 0;
}
