// libFuzzer target: arbitrary bytes as a vCard file (QUILLMOTE_FUZZ_FORMAT 0) or an
// iCalendar file of appointments (1), imported as `handheld import` imports it: the real
// reader, the mapping and the saves, into the store in memory (HANDHELD_STORE=:memory:),
// one store for the whole process.
//
// The store is cleared only once it holds 1,000 items or more (looked at every 100
// inputs): a clearing is a purge, and a purge keeps what it removes in a removed-items
// file (in a memory folder of the fuzzer's own, the newest 20 kept), so one per input
// would cost more than the import.
//
// Every input must leave the import in order; anything else aborts so that libFuzzer
// keeps the input:
// - the store ends with at least as many items as before, and at most as many more as
//   the import says it saved (an item with a UID the store holds may take its place);
// - a store failure is never the outcome of bad input;
// - nothing stays held: the census is empty.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_scratch.h"
#include "handheld/census.h"
#include "interop/ical_transfer.h"
#include "interop/losses.h"
#include "interop/storesession.h"
#include "interop/transfer.h"
#include "interop/vcard.h"

#ifndef QUILLMOTE_FUZZ_FORMAT
#error "QUILLMOTE_FUZZ_FORMAT must be 0 (vCard) or 1 (iCalendar)"
#endif

namespace {

constexpr bool kCards = QUILLMOTE_FUZZ_FORMAT == 0;
constexpr LONG kFolder = kCards ? olFolderContacts : olFolderCalendar;
constexpr long kClearAt = 1000;
long inputs = 0;  // the store is counted again every 100 inputs

std::string inputPath;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "interop_fuzz: %s\n  census=\"%s\"\n", what.c_str(),
               handheld::CensusReport().c_str());
  std::abort();
}

long StoreCount() {
  interop::StoreSession session;
  std::string error;
  if (!session.Open(kFolder, &error)) Fail("the store cannot be opened: " + error);
  return session.count();
}

void ClearStore() {
  interop::StoreSession session;
  std::string error;
  if (!session.Open(kFolder, &error) || !session.BeginBatch(&error) ||
      !session.RemoveAll("item", &error) || !session.EndBatch(true, &error)) {
    Fail("the store cannot be cleared: " + error);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  inputPath = fuzz_scratch::Prepare("quillmote-interop-fuzz") +
              (kCards ? "/input.vcf" : "/input.ics");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!fuzz_scratch::WriteInput(inputPath, data, size)) Fail("the input file cannot be written");
  if (++inputs % 100 == 0 && StoreCount() >= kClearAt) {
    ClearStore();
    if (StoreCount() != 0) Fail("the cleared store still holds items");
  }
  interop::TransferResult result;
  long before = 0;
  INT after = -1;
  {  // one session per input: the count before at its opening, the count after from it too
    interop::StoreSession session;
    interop::Losses losses(kCards ? "card" : "component", kCards ? "cards" : "components");
    if (!session.Open(kFolder, &result.error)) Fail("the store cannot be opened: " + result.error);
    before = session.count();
    if (kCards) {
      interop::ImportContacts(session, inputPath, false, &losses, &result);
    } else {
      interop::ImportCalendar(session, inputPath, false, &losses, &result);
    }
    if (FAILED(session.items()->get_Count(&after))) Fail("the store cannot count its items");
  }
  if (result.error.find("the store could not") != std::string::npos) Fail(result.error);
  if (after < before || after > before + result.items) {
    Fail("the store holds " + std::to_string(after) + " items after " + std::to_string(before) +
         " and " + std::to_string(result.items) + " saved");
  }
  if (!handheld::CensusReport().empty()) Fail("something is still held after the import");
  return 0;
}
