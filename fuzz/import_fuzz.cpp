// libFuzzer target: arbitrary bytes as a backup file of one kind (QUILLMOTE_FUZZ_KIND: 0
// Contacts, 1 Calendar, 2 Tasks), loaded as the load command loads it: the launch's own
// preparation (the file opened and its byte-order mark checked, a second application
// reference, the kind's folder and its count), the removal prompt answered, and the
// worker's turns (purge, then import) and its thread end, against the store in memory
// (HANDHELD_STORE=:memory:, which lives as long as the process, so each input finds what
// the ones before left; once that is 1,000 items or more, the prompt is answered Yes and
// the purge keeps them in a removed-items file in memory). The turns run on the fuzzer's
// own thread without the loop's yield: a thread per input and a yield per code unit would
// cost more than the load itself, and the dialog's side of a job is the tests' to cover.
//
// Every input must leave the job in order; anything else aborts so that libFuzzer keeps
// the input:
// - the preparation refuses exactly the files that do not begin with FF FE, with
//   "Файл не UNICODE!";
// - the worker posts exactly one JobNotify code 0, last, after exactly one completion or
//   error;
// - an even-length file completes, an odd-length one stops with the read error, and no
//   item fails to be created or saved;
// - a completed load reports as many records as the file holds by the reader's rules
//   (counted here independently, with the kind's column limits), and the kind's folder
//   then holds that many more (or that many, after a purge); a load stopped by a stray last
//   byte has saved exactly the records ended before it;
// - nothing stays held: the census is empty.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "fuzz/fuzz_scratch.h"
#include "handheld/census.h"
#include "handheld/messages.h"
#include "handheld/utf16.h"
#include "platform/store.h"
#include "records/kinds.h"
#include "worker/job.h"
#include "worker/jobprep.h"
#include "worker/workerstate.h"

#ifndef QUILLMOTE_FUZZ_KIND
#error "QUILLMOTE_FUZZ_KIND must be 0 (Contacts), 1 (Calendar) or 2 (Tasks)"
#endif

namespace {

constexpr int kKind = QUILLMOTE_FUZZ_KIND;
static_assert(kKind >= 0 && kKind <= 2, "only contacts, calendar and tasks are loaded");
constexpr LONG kFolderIds[3] = {olFolderContacts, olFolderCalendar, olFolderTasks};
constexpr long kPurgeAt = 1000;

std::string backupPath;

// What the worker posted.
struct Observed {
  int ended = 0;   // JobNotify code 0
  int errors = 0;  // JobNotify code 2
  int done = 0;    // JobNotify code 4
  bool endedLast = false;
  LPARAM lastError = 0;
  LPARAM doneValue = 0;
};

Observed seen;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "import_fuzz: %s\n", what);
  std::fprintf(stderr, "  ended=%d errors=%d (last %ld) done=%d (value %ld) census=\"%s\"\n",
               seen.ended, seen.errors, static_cast<long>(seen.lastError), seen.done,
               static_cast<long>(seen.doneValue), handheld::CensusReport().c_str());
  std::abort();
}

void Check(bool holds, const char* what) {
  if (!holds) Fail(what);
}

// Takes what the worker posted to the dialog's queue.
void CollectNotices(handheld::MessageQueue& dialog) {
  for (MSG message{}; dialog.Take(&message, std::chrono::milliseconds(0));) {
    if (message.message != WM_JOBNOTIFY) continue;
    seen.endedLast = message.wParam == NotifyEnded;
    if (message.wParam == NotifyEnded) ++seen.ended;
    if (message.wParam == NotifyError) {
      ++seen.errors;
      seen.lastError = message.lParam;
    } else if (message.wParam == NotifyDone) {
      ++seen.done;
      seen.doneValue = message.lParam;
    }
  }
}

// Items in the kind's folder, read through the store as the launch reads them.
long FolderCount(const StoreSession& store) {
  IPOutlookApp* app = GetStoreApp(store);
  IFolder* folder = nullptr;
  IPOutlookItemCollection* items = nullptr;
  INT count = -1;
  if (app != nullptr && app->GetDefaultFolder(kFolderIds[kKind], &folder) >= 0 &&
      folder->get_Items(&items) >= 0) {
    items->get_Count(&count);
    items->Release();
  }
  if (folder != nullptr) folder->Release();
  if (app != nullptr) app->Release();
  return count;
}

// The records of a file (byte-order mark first) by the reader's rules: CR is dropped
// everywhere; TAB ends a field, LF a field and a record, and so does the end of a whole
// file when something is pending (`wholeFile`; a stray last byte stops the reader
// instead, and the pending record is lost); a record counts when one of its fields is
// non-empty and within its column's limit; a field over the limit is dropped whole.
long ExpectedRecords(const uint8_t* data, size_t size, bool wholeFile) {
  const KindEntry& entry = KindEntryFor(static_cast<ItemKind>(kKind));
  long records = 0;
  int32_t column = 0, length = 0;
  bool tooLong = false, handedOver = false;
  auto endField = [&](bool endsRecord) {
    if (length > 0 && !tooLong) handedOver = true;
    length = 0;
    tooLong = false;
    ++column;
    if (endsRecord) {
      if (handedOver) ++records;
      handedOver = false;
      column = 0;
    }
  };
  for (size_t at = 2; at + 1 < size; at += 2) {
    const char16_t unit = static_cast<char16_t>(data[at] | (data[at + 1] << 8));
    if (unit == u'\r') continue;
    if (unit == u'\t' || unit == u'\n') {
      endField(unit == u'\n');
    } else if (!tooLong) {
      ++length;
      if (length > std::min(entry.columnLimit(column), kLineBufferChars)) tooLong = true;
    }
  }
  if (wholeFile && (length > 0 || column > 0)) endField(true);
  return records;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  backupPath = fuzz_scratch::Prepare("quillmote-fuzz") + "/backup.txt";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Check(fuzz_scratch::WriteInput(backupPath, data, size),
        "the scratch backup file cannot be written");
  seen = Observed{};
  StoreSession store;
  Check(OpenStore(store), "the store cannot be opened");
  handheld::MessageQueue dialog;
  WorkerLink link;
  auto job = std::make_unique<Job>();
  job->dialog = dialog.window();
  job->stopFlag = &link.stopFlag;
  job->kind = static_cast<ItemKind>(kKind);
  job->mode = ModeImport;
  const std::u16string path = handheld::Utf16FromUtf8(backupPath);
  path.copy(job->path, path.size());

  StringId refused = OpenImportFile(*job);
  if (refused == 0) refused = OpenImportTarget(*job, store);
  const bool marked = size >= 2 && data[0] == 0xFF && data[1] == 0xFE;
  if (!marked) {
    Check(refused == IDS_NOT_UNICODE, "a file without the byte-order mark was not refused");
    ReleaseJob(*job);
    CloseStore(store);
    Check(handheld::CensusReport().empty(), "a refused file left something held");
    return 0;
  }
  Check(refused == 0, "a file with the byte-order mark was refused");
  // "Да" to the removal prompt only once the folder holds kPurgeAt items, "Нет" before:
  // a purge keeps what it removes in a removed-items file, and one per input cost more
  // than the load itself.
  const long before = job->itemCount;
  const bool purge = before >= kPurgeAt;
  if (purge) {
    job->mode = ModePurge;
    job->nextMode = ModeImport;
  }
  // The worker's loop, turn after turn, without its yield to other threads (there are
  // none here), then the thread's end.
  WorkerState state;
  while (link.stopFlag.load() == 0) TakeTurn(*job, state);
  EndJob(std::move(job));
  CollectNotices(dialog);

  Check(seen.ended == 1 && seen.endedLast, "the worker did not post exactly one code 0, last");
  Check(seen.errors + seen.done == 1, "the job did not end with exactly one outcome");
  if (size % 2 != 0) {
    Check(seen.errors == 1 && seen.lastError == static_cast<LPARAM>(IDS_READ_ERROR),
          "an odd-length file did not stop with the read error");
  } else {
    Check(seen.done == 1, "an even-length file did not complete");
    Check(DoneStringId(seen.doneValue) == static_cast<int32_t>(IDS_IMPORT_DONE + kKind),
          "the completion names the wrong message");
  }

  // The folder holds what it held (nothing after a purge) and the records read: all of a
  // whole file, and those ended before a stray last byte.
  const long expected = ExpectedRecords(data, size, size % 2 == 0);
  if (seen.done == 1) {
    Check(static_cast<long>(DoneCount(seen.doneValue)) == expected,
          "the completion's count differs from the records in the file");
  }
  Check(FolderCount(store) == (purge ? 0 : before) + expected,
        "the store does not hold the records of the file");
  CloseStore(store);
  Check(handheld::CensusReport().empty(), "something is still held after the job");
  // The file stays for the next input to overwrite: removing it and making it anew cost
  // about 4% of an input's time. The scratch folder goes at exit.
  return 0;
}
