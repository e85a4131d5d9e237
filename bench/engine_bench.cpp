// The engine end to end: the worker exports 100,000 contacts from a store in a temporary
// folder, then imports that file into an empty store. Compare with floor_bench, which
// issues the same writes and the same 2-byte reads with a yield per code unit.
//
//   build-*/bin/engine_bench
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "bench/bench_contacts.h"
#include "handheld/census.h"
#include "handheld/files.h"
#include "handheld/messages.h"
#include "handheld/threads.h"
#include "platform/store.h"
#include "worker/jobcontext.h"
#include "worker/worker.h"

namespace {

std::string folder;

std::string TempPath(const std::string& name) {
  return folder + "/" + name;
}

void UseStore(const std::string& name) {
  setenv("HANDHELD_STORE", TempPath(name).c_str(), 1);
}

void SetPath(const std::string& path) {
  const std::u16string wide(path.begin(), path.end());
  wide.copy(JobContext.path, wide.size());
  JobContext.path[wide.size()] = 0;
}

void SetText(IContact* contact, HRESULT (IContact::*setter)(BSTR), const std::u16string& text) {
  BSTR value = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  (contact->*setter)(value);
  SysFreeString(value);
}

bool SeedStore() {
  std::fprintf(stderr, "seeding %d contacts in %s ...\n", bench::kContacts, folder.c_str());
  UseStore("export.db");
  if (!OpenStore()) return false;
  IPOutlookApp* app = GetStoreApp();
  for (int i = 0; i < bench::kContacts; ++i) {
    const bench::BenchContact c = bench::ContactNumber(i);
    IDispatch* item = nullptr;
    if (FAILED(app->CreateItem(olContactItem, &item))) return false;
    auto* contact = static_cast<IContact*>(item);
    SetText(contact, &IContact::put_Title, c.title);
    SetText(contact, &IContact::put_FirstName, c.firstName);
    SetText(contact, &IContact::put_LastName, c.lastName);
    SetText(contact, &IContact::put_MobileTelephoneNumber, c.mobile);
    SetText(contact, &IContact::put_Email1Address, c.email);
    SetText(contact, &IContact::put_HomeAddressCity, c.city);
    SetText(contact, &IContact::put_CompanyName, c.company);
    SetText(contact, &IContact::put_Body, c.body);
    SYSTEMTIME birthday{};
    birthday.wYear = static_cast<WORD>(c.year);
    birthday.wMonth = static_cast<WORD>(c.month);
    birthday.wDay = static_cast<WORD>(c.day);
    DATE date = 0;
    SystemTimeToVariantTime(&birthday, &date);
    contact->put_Birthday(date);
    contact->Save();
    contact->Release();
  }
  app->Release();
  CloseStore();
  return true;
}

// Fills JobContext as the launch does and runs the worker to its end. The count of
// records from the completion notice, or -1.
int64_t RunWorker(JobMode mode, const std::string& path) {
  if (!OpenStore()) return -1;
  JobContext.kind = KindContacts;
  JobContext.mode = mode;
  JobContext.nextMode = ModeStop;
  SetPath(path);
  IPOutlookApp* app = GetStoreApp();
  app->GetDefaultFolder(olFolderContacts, &JobContext.folder);
  JobContext.folder->get_Items(&JobContext.items);
  INT count = 0;
  JobContext.items->get_Count(&count);
  JobContext.itemCount = count;
  const BYTE mark[2] = {0xFF, 0xFE};
  DWORD done = 0;
  if (mode == ModeExport) {
    app->Release();
    JobContext.app = nullptr;
    JobContext.file = CreateFileW(JobContext.path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    WriteFile(JobContext.file, mark, 2, &done, nullptr);
  } else {
    JobContext.app = app;
    JobContext.file = CreateFileW(JobContext.path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    int64_t size = 0;
    GetFileSizeEx(JobContext.file, &size);
    JobContext.fileSize = static_cast<uint64_t>(size);
    BYTE read[2];
    ReadFile(JobContext.file, read, 2, &done, nullptr);
  }

  handheld::MessageQueue window;
  JobContext.stopFlag.store(0);
  JobContext.worker = CreateThread(nullptr, 0, WorkerThreadProc, window.window(), 0, nullptr);
  int64_t records = -1;
  for (MSG message{}; window.Take(&message, std::chrono::minutes(10));) {
    if (message.wParam == NotifyDone) records = DoneCount(message.lParam);
    if (message.wParam == NotifyEnded) break;
  }
  WaitForSingleObject(JobContext.worker, INFINITE);
  CloseHandle(JobContext.worker);
  JobContext.worker = nullptr;
  CloseStore();
  return records;
}

std::string ExpectedFile() {
  std::u16string text;
  for (const std::u16string& write : bench::AllWrites()) text += write;
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void BM_Export100k(benchmark::State& state) {
  for (auto _ : state) {
    UseStore("export.db");
    const int64_t records = RunWorker(ModeExport, TempPath("backup.txt"));
    if (records != bench::kContacts) state.SkipWithError("export did not complete");
    state.PauseTiming();
    if (ReadAll(TempPath("backup.txt")) != ExpectedFile()) {
      state.SkipWithError("the exported file differs from the floor's bytes");
    }
    state.ResumeTiming();
  }
}

void BM_Import100k(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(TempPath("import.db"));
    std::filesystem::remove(TempPath("import.db-wal"));
    std::filesystem::remove(TempPath("import.db-shm"));
    UseStore("import.db");
    if (!std::filesystem::exists(TempPath("backup.txt"))) {  // run without the export
      std::ofstream(TempPath("backup.txt"), std::ios::binary) << ExpectedFile();
    }
    state.ResumeTiming();
    const int64_t records = RunWorker(ModeImport, TempPath("backup.txt"));
    if (records != bench::kContacts) state.SkipWithError("import did not complete");
  }
}

BENCHMARK(BM_Export100k)->Apply(bench::ThreeRuns);
BENCHMARK(BM_Import100k)->Apply(bench::ThreeRuns);

}  // namespace

int main(int argc, char** argv) {
  const int status = bench::RunInTemporaryFolder(argc, argv, &folder, SeedStore);
  if (status != 0) return status;
  return handheld::CensusReport().empty() ? 0 : 2;
}
