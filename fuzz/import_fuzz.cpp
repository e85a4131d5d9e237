// libFuzzer target: arbitrary bytes as a backup file of one kind (QUILLMOTE_FUZZ_KIND: 0
// Contacts, 1 Calendar, 2 Tasks), loaded as the load command loads it (the launch's
// preparation, the removal prompt answered, the worker's purge and import turns and its
// end) against the store in memory, which keeps what earlier inputs left; from 1,000
// items on, the prompt is answered Yes. The turns run on the fuzzer's thread without the
// loop's yield (the dialog's side of a job is the tests' to cover). Any input that breaks
// one of these aborts, so that libFuzzer keeps it:
// - exactly the files that do not begin with FF FE are refused, as not UNICODE;
// - exactly one completion or error, then exactly one JobNotify code 0, last;
// - an even-length file completes, an odd-length one stops with the read error;
// - the count reported and the items added (or left after a purge) are the records of
//   the file by the reader's rules, counted here independently; a stray last byte loses
//   only the record it cuts;
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
constexpr long kPurgeAt = 1000;

std::string backupPath;

// What the worker posted: JobNotify codes 0, 2 and 4, and the last error and completion.
struct Observed {
  int ended = 0, errors = 0, done = 0;
  bool endedLast = false;
  LPARAM lastError = 0, doneValue = 0;
};
Observed seen;

void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "import_fuzz: %s\n  ended=%d errors=%d (last %ld) done=%d (value %ld) "
               "census=\"%s\"\n", what, seen.ended, seen.errors, static_cast<long>(seen.lastError),
               seen.done, static_cast<long>(seen.doneValue), handheld::CensusReport().c_str());
  std::abort();
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

// Items in the kind's folder, counted as the launch counts them.
long FolderCount(const StoreSession& store) {
  auto counted = std::make_unique<Job>();  // too large for the stack
  counted->kind = static_cast<ItemKind>(kKind);
  const long count = OpenImportTarget(*counted, store) == 0 ? counted->itemCount : -1;
  ReleaseJob(*counted);
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
  // Yes to the removal prompt only from kPurgeAt items on: a purge keeps what it removes
  // in a file, which costs more than the load itself.
  const long before = job->itemCount;
  const bool purge = before >= kPurgeAt;
  if (purge) {
    job->mode = ModePurge;
    job->nextMode = ModeImport;
  }
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
