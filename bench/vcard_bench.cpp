// Contacts to and from vCard at 10,000 and 100,000 contacts: the store exported to one
// .vcf file, that file imported into an empty store, the store exported again into a
// folder that holds it already (Refresh: nothing to write), and python3-vobject (the parser of
// khard and Radicale) reading the same file, side by side. Goals: export at most 2 s and
// import at most 3 s for 100,000 contacts, at least ten times faster than vobject, and
// peak memory that does not grow with the number of contacts (bench/vcard.sh measures it
// with each case in a process of its own).
//
//   build-*/bin/vcard_bench [--benchmark_filter='^VCard/Import/100000/']
//
// The store an export reads and the file an import reads are made once per folder (see
// bench_support.h), not timed: a store filled with made-up contacts of some twenty
// properties each, exported once so that every contact has its identifier.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/bench_support.h"
#include "handheld/utf16.h"
#include "interop/vcard.h"

namespace {

std::string folder;
constexpr int kSizes[] = {10'000, 100'000};

// Contact i: names, three telephones, one or two e-mails, a work address, company,
// title, categories on some, a two-line note, a birthday, an anniversary on some.
void SaveContact(IPOutlookApp* app, int i) {
  const std::string n = std::to_string(i);
  IDispatch* item = nullptr;
  if (FAILED(app->CreateItem(olContactItem, &item))) std::abort();
  auto* c = static_cast<IContact*>(item);
  auto set = [c](HRESULT (IContact::*put)(BSTR), const std::string& utf8) {
    std::u16string text = handheld::Utf16FromUtf8(utf8);
    BSTR value = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    (c->*put)(value);
    SysFreeString(value);
  };
  static const char16_t* const kLast[] = {u"Иванов", u"Smith", u"Müller", u"Петрова"};
  BSTR last = SysAllocString(kLast[i % 4]);
  c->put_LastName(last);
  SysFreeString(last);
  set(&IContact::put_Title, i % 3 == 0 ? "Dr." : "");
  set(&IContact::put_FirstName, "Name" + n);
  set(&IContact::put_MiddleName, i % 3 == 1 ? "M." : "");
  set(&IContact::put_MobileTelephoneNumber, "+7 900 " + n);
  set(&IContact::put_HomeTelephoneNumber, "+7 495 " + n);
  set(&IContact::put_BusinessTelephoneNumber, "+7 499 " + n + " ext. 12");
  set(&IContact::put_Email1Address, "name" + n + "@example.org");
  set(&IContact::put_Email2Address, i % 2 == 0 ? "name" + n + "@work.example.com" : "");
  set(&IContact::put_CompanyName, "Quillmote Ltd");
  set(&IContact::put_JobTitle, "Engineer");
  set(&IContact::put_Department, "Research; Development");
  set(&IContact::put_BusinessAddressStreet, "1, Sample Street");
  set(&IContact::put_BusinessAddressCity, "Moscow");
  set(&IContact::put_BusinessAddressPostalCode, "101000");
  set(&IContact::put_BusinessAddressCountry, "Russia");
  set(&IContact::put_Categories, i % 5 == 0 ? "Business, VIP" : "");
  set(&IContact::put_Body, "Met at the conference, table " + n + ".\r\nCall back in May.");
  SYSTEMTIME birthday{static_cast<WORD>(1950 + i % 50),
                      static_cast<WORD>(1 + i % 12),
                      0,
                      static_cast<WORD>(1 + i % 28),
                      0,
                      0,
                      0,
                      0};
  DATE date = 0;
  SystemTimeToVariantTime(&birthday, &date);
  c->put_Birthday(date);
  if (i % 4 == 0) c->put_Anniversary(date + 9000);
  if (FAILED(c->Save())) std::abort();
  item->Release();
}

void UseStore(const std::string& path) {
  setenv("HANDHELD_STORE", path.c_str(), 1);
}

void RemoveStore(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
}

std::string StorePath(int count) {
  return folder + "/vcard-" + std::to_string(count) + ".db";
}
std::string FilePath(int count) {
  return folder + "/vcard-" + std::to_string(count) + ".vcf";
}

bool ExportTo(const std::string& path, std::string* error) {
  interop::StoreSession session;
  if (!session.Open(olFolderContacts, error)) return false;
  interop::Losses losses("contact", "contacts");
  interop::TransferResult result;
  interop::ExportContacts(session, path, &losses, &result);
  *error = result.error;
  return result.ExitStatus() == 0 && losses.empty();
}

// The filled store (exported once) and its file, made when the folder lacks them.
bool Prepare(int count, std::string* error) {
  if (std::filesystem::exists(FilePath(count)) && std::filesystem::exists(StorePath(count))) {
    return true;
  }
  RemoveStore(StorePath(count));
  UseStore(StorePath(count));
  {
    interop::StoreSession session;
    if (!session.Open(olFolderContacts, error) || !session.BeginBatch(error)) return false;
    for (int i = 0; i < count; ++i) {
      SaveContact(session.app(), i);
      if (i % 1000 == 999 && !session.Checkpoint(error)) return false;
    }
    if (!session.EndBatch(true, error)) return false;
  }
  return ExportTo(FilePath(count), error);
}

void Export(benchmark::State& state, int count) {
  std::string error;
  if (!Prepare(count, &error)) {
    state.SkipWithError(("preparing failed: " + error).c_str());
    return;
  }
  UseStore(StorePath(count));
  const std::string file = folder + "/exported.vcf";
  for (auto _ : state) {
    bool ok = ExportTo(file, &error);
    state.PauseTiming();
    // The same store gives the same bytes as the export that made the prepared file.
    std::string message;
    if (!ok) {
      message = "the export failed: " + error;
    } else if (std::filesystem::file_size(file) != std::filesystem::file_size(FilePath(count))) {
      message = "the export differs from the prepared file";
    }
    state.ResumeTiming();
    if (!message.empty()) state.SkipWithError(message.c_str());
  }
  std::filesystem::remove(file);
  state.counters["contacts"] = count;
}

// The same store exported again into a folder that already holds it: every file is read
// and compared, none is written.
void Refresh(benchmark::State& state, int count) {
  std::string error;
  if (!Prepare(count, &error)) {
    state.SkipWithError(("preparing failed: " + error).c_str());
    return;
  }
  UseStore(StorePath(count));
  const std::string book = folder + "/book-" + std::to_string(count) + "/";
  if (!std::filesystem::exists(book) && !ExportTo(book, &error)) {
    state.SkipWithError(("preparing the folder failed: " + error).c_str());
    return;
  }
  for (auto _ : state) {
    if (!ExportTo(book, &error)) state.SkipWithError(("the export failed: " + error).c_str());
  }
  state.counters["contacts"] = count;
}

void Import(benchmark::State& state, int count) {
  std::string error;
  if (!Prepare(count, &error)) {
    state.SkipWithError(("preparing failed: " + error).c_str());
    return;
  }
  const std::string store = folder + "/imported.db";
  UseStore(store);
  for (auto _ : state) {
    state.PauseTiming();
    RemoveStore(store);
    state.ResumeTiming();
    interop::TransferResult result;
    interop::Losses losses("card", "cards");
    {
      interop::StoreSession session;
      if (session.Open(olFolderContacts, &error)) {
        interop::ImportContacts(session, FilePath(count), false, &losses, &result);
      }
    }
    state.PauseTiming();
    std::string message;
    if (!error.empty() || result.ExitStatus() != 0 || !losses.empty() || result.items != count) {
      message = "the import did not take every card: " + error + result.error;
    }
    state.ResumeTiming();
    if (!message.empty()) state.SkipWithError(message.c_str());
  }
  RemoveStore(store);
  state.counters["contacts"] = count;
}

// vobject reads every card and every value of the same file.
const char kVobjectReader[] =
    "import sys, vobject\n"
    "cards = values = 0\n"
    "with open(sys.argv[1], encoding='utf-8') as f:\n"
    "    for card in vobject.readComponents(f):\n"
    "        cards += 1\n"
    "        for line in card.getChildren():\n"
    "            line.value\n"
    "            values += 1\n"
    "print(cards)\n";

void Vobject(benchmark::State& state, int count) {
  std::string error;
  if (!Prepare(count, &error)) {
    state.SkipWithError(("preparing failed: " + error).c_str());
    return;
  }
  const std::string script = folder + "/read.py";
  FILE* out = std::fopen(script.c_str(), "w");
  std::fputs(kVobjectReader, out);
  std::fclose(out);
  const std::string command = "/usr/bin/python3 " + script + " " + FilePath(count);
  for (auto _ : state) {
    FILE* child = popen(command.c_str(), "r");
    char line[64] = {};
    bool read = child != nullptr && std::fgets(line, sizeof line, child) != nullptr;
    int status = child != nullptr ? pclose(child) : -1;
    if (!read || status != 0 || std::stoi(line) != count) {
      state.SkipWithError("vobject did not read every card");
    }
  }
  state.counters["contacts"] = count;
}

}  // namespace

int main(int argc, char** argv) {
  for (const int count : kSizes) {
    const std::string n = std::to_string(count);
    benchmark::RegisterBenchmark(("VCard/Export/" + n).c_str(), Export, count)
        ->Apply(bench::OneIteration);
    benchmark::RegisterBenchmark(("VCard/Import/" + n).c_str(), Import, count)
        ->Apply(bench::OneIteration);
    benchmark::RegisterBenchmark(("VCard/Refresh/" + n).c_str(), Refresh, count)
        ->Apply(bench::OneIteration);
    benchmark::RegisterBenchmark(("Vobject/Read/" + n).c_str(), Vobject, count)
        ->Apply(bench::OneIteration);
  }
  return bench::RunInFolder(argc, argv, &folder);
}
