// libFuzzer target: arbitrary bytes as a vCard file (QUILLMOTE_FUZZ_FORMAT 0) or an
// iCalendar file of appointments (1), imported as `handheld import` imports it: the real
// reader, the mapping and the saves, into the store in memory (HANDHELD_STORE=:memory:).
//
// One session is opened for the whole process and held (StoreSession::Hold): each
// input's import is saved into the store as usual and then undone (its batch dropped),
// so every input meets the same empty folder, and nothing is ever cleared or purged.
//
// Every input must leave the import in order; anything else aborts so that libFuzzer
// keeps the input:
// - the store ends with at least as many items as before, and at most as many more as
//   the import says it saved (an item with a UID the store holds may take its place);
//   once undone, it holds what it held before;
// - a store failure is never the outcome of bad input;
// - nothing stays held beyond what the session itself holds: the census is as before.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

std::string inputPath;
interop::StoreSession* session = nullptr;
handheld::Census census;  // what the open session holds
INT empty = 0;            // the folder's items when held

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "interop_fuzz: %s\n  census=\"%s\"\n", what.c_str(),
               handheld::CensusChange(census).c_str());
  std::abort();
}

INT Count() {
  INT count = -1;
  if (FAILED(session->items()->get_Count(&count))) Fail("the store cannot count its items");
  return count;
}

// The input file imported as `handheld import` does, but read on this thread (a thread
// started per input cost a third of the time under AddressSanitizer); false when it
// stopped.
bool Import(interop::TransferResult* result) {
  interop::Losses losses(kCards ? "card" : "component", kCards ? "cards" : "components");
  if (kCards) {
    interop::ImportContacts(*session, inputPath, false, &losses, result, interop::Reading::kInline);
  } else {
    interop::ImportCalendar(*session, inputPath, false, &losses, result, interop::Reading::kInline);
  }
  return result->error.empty();
}

// At exit the session goes, and with it everything the census counted.
void Close() {
  delete session;
  session = nullptr;
  if (!handheld::CensusReport().empty()) {
    std::fprintf(stderr, "interop_fuzz: still held at exit: %s\n",
                 handheld::CensusReport().c_str());
    std::_Exit(1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  inputPath = fuzz_scratch::Prepare("quillmote-interop-fuzz") +
              (kCards ? "/input.vcf" : "/input.ics");
  session = new interop::StoreSession;
  std::string error;
  if (!session->Open(kFolder, &error)) Fail("the store cannot be opened: " + error);
  // One item with a UID is kept before the hold, so that the store's table of identifiers
  // is there already and not made again (and dropped) by every input.
  const char* anchor =
      kCards ? "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:fuzz-anchor\r\nFN:Anchor\r\nEND:VCARD\r\n"
             : "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:fuzz-anchor\r\n"
               "DTSTART:20260101T090000Z\r\nSUMMARY:Anchor\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
  interop::TransferResult result;
  if (!fuzz_scratch::WriteInput(inputPath, reinterpret_cast<const uint8_t*>(anchor),
                                std::strlen(anchor)) ||
      !Import(&result) || result.items != 1 || !session->Hold(&error)) {
    Fail("the store cannot be prepared: " + result.error + error);
  }
  std::atexit(Close);
  empty = Count();
  census = handheld::TakeCensus();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!fuzz_scratch::WriteInput(inputPath, data, size)) Fail("the input file cannot be written");
  interop::TransferResult result;
  Import(&result);
  if (result.error.find("the store could not") != std::string::npos) Fail(result.error);
  const INT after = Count();
  if (after < empty || after > empty + result.items) {
    Fail("the store holds " + std::to_string(after) + " items after " + std::to_string(empty) +
         " and " + std::to_string(result.items) + " saved");
  }
  std::string error;
  if (!session->Undo(&error)) Fail(error);
  if (Count() != empty) Fail("the undone import left " + std::to_string(Count()) + " items");
  if (!handheld::CensusChange(census).empty()) Fail("something is still held after the import");
  return 0;
}
