// The import turn: reads one UTF-16 code unit of the backup file per turn, cuts the
// stream into fields at TAB and into records at LF, and hands every non-empty field
// within its column's limit to the kind's column handler.
//
// The reader drops CR everywhere, also inside a field. The end of the file ends a
// pending field and record as an LF would. A field that goes over its column's limit
// is dropped whole and creates nothing, and the dialog is told of it. An item is created
// by the record's first field that is handed over, and the record counts only when an
// item was created for it and the store kept it.
#include <algorithm>

#include "handheld/files.h"
#include "records/kinds.h"
#include "worker/stringids.h"
#include "worker/workerstate.h"

namespace {

constexpr char16_t kTab = u'\t';
constexpr char16_t kLf = u'\n';
constexpr char16_t kCr = u'\r';

// The load stops with an error; the dialog hears how many records were saved before
// (once the store has made what it held of them).
void StopLoad(Job& job, const WorkerState& state, StringId error) {
  uint32_t count = static_cast<uint32_t>(state.itemIndex - 1);
  KeepGroupedAdds(job, &count);
  StopWithError(job, error);
  PostJobNotify(job, NotifyStoppedCount, MakeDoneValue(IDS_LOADED_BEFORE_STOP, count));
}

// A store whose one-item add is a slow call into another program (Evolution Data
// Server) groups the load's adds; the count is told only once they are made.
void GroupAdds(Job& job) {
  IStoreAddGroups* groups = nullptr;
  if (job.app == nullptr ||
      FAILED(job.app->QueryInterface(IID_IStoreAddGroups, reinterpret_cast<void**>(&groups)))) {
    return;
  }
  if (FAILED(groups->GroupAdds())) {
    groups->Release();
    return;
  }
  job.addGroups = groups;
}

// Hands the finished field in the line buffer over, creating the record's item first
// when there is none. False when the item cannot be created (the job then stops).
bool HandOverField(Job& job, WorkerState& state, const KindEntry& entry) {
  job.lineBuffer[state.fieldLength] = 0;
  state.fieldLength = 0;
  if (!entry.recordStarted(job) && !entry.startRecord(job)) return false;
  entry.applyColumn(job, state.columnIndex, job.lineBuffer);
  return true;
}

}  // namespace

void ImportTurn(Job& job, WorkerState& state) {
  const int32_t kind = job.kind;
  const KindEntry& entry = KindEntryFor(job.kind);
  if (entry.startRecord == nullptr) {  // the call log is never loaded
    job.mode = ModeStop;
    return;
  }
  if (state.itemIndex == 0) {
    PostJobNotify(job, NotifyStatus, IDS_LOADING + kind);
    state.fieldLength = 0;
    state.lastPercent = 0;
    state.columnIndex = 0;
    state.fieldTooLong = false;
    state.bytesConsumed = 2;
    state.itemIndex = 1;
    state.lineNumber = 1;
    GroupAdds(job);
  }

  BYTE bytes[2] = {0, 0};
  DWORD bytesRead = 0;
  if (!ReadFile(job.file, bytes, 2, &bytesRead, nullptr) || bytesRead == 1 || bytesRead > 2) {
    StopLoad(job, state, IDS_READ_ERROR);
    return;
  }
  char16_t codeUnit = static_cast<char16_t>(bytes[0] | (bytes[1] << 8));

  state.bytesConsumed += bytesRead;
  PostProgress(job, state, PercentOf(state.bytesConsumed, job.fileSize));

  const bool endOfFile = bytesRead == 0;
  bool lineEnded = false;
  if (endOfFile) {
    if (state.fieldLength == 0 && state.columnIndex == 0) goto completion;
    codeUnit = kLf;  // a field or a record is pending: the end of the file ends it
  }
  if (codeUnit == kCr) goto completion;
  if (state.fieldTooLong && codeUnit != kTab && codeUnit != kLf) goto completion;

  if (codeUnit == kLf) {
    lineEnded = true;
    codeUnit = kTab;
  }
  if (codeUnit == kTab) {
    if (state.fieldTooLong) {
      // Dropped whole, but never silently: the dialog counts and tells. (A field beyond
      // the record's last column would not have been stored anyway.)
      if (state.columnIndex < entry.columns) {
        PostJobNotify(
            job, NotifyFieldDropped,
            MakeDroppedValue(state.lineNumber, static_cast<uint32_t>(state.columnIndex) + 1));
      }
      state.fieldLength = 0;
      state.fieldTooLong = false;
    } else if (state.fieldLength > 0 && !HandOverField(job, state, entry)) {
      StopLoad(job, state, IDS_CREATE_ERROR + kind);
      ++state.columnIndex;
      goto completion;
    }
    ++state.columnIndex;
  } else {
    job.lineBuffer[state.fieldLength] = codeUnit;
    ++state.fieldLength;
    // The line buffer has room for the largest limit plus the one character that goes
    // over.
    const int32_t limit = std::min(entry.columnLimit(state.columnIndex), kLineBufferChars);
    if (state.fieldLength > limit) state.fieldTooLong = true;
  }

  if (lineEnded) {
    state.fieldTooLong = false;
    ++state.lineNumber;
    state.columnIndex = 0;
    if (entry.recordStarted(job)) {
      // A record the store did not keep is not counted as loaded: the load stops there,
      // and the records saved before it stay.
      if (!entry.endRecord(job)) {
        StopLoad(job, state, IDS_CREATE_ERROR + kind);
        goto completion;
      }
      ++state.itemIndex;
    }
  }

completion:
  if (endOfFile && job.mode == ModeImport) {
    uint32_t count = static_cast<uint32_t>(state.itemIndex - 1);
    if (!KeepGroupedAdds(job, &count)) {
      StopWithError(job, IDS_CREATE_ERROR + kind);
      PostJobNotify(job, NotifyStoppedCount, MakeDoneValue(IDS_LOADED_BEFORE_STOP, count));
      return;
    }
    PostJobNotify(job, NotifyDone, MakeDoneValue(IDS_IMPORT_DONE + kind, count));
    job.mode = ModeStop;
  }
}

bool KeepGroupedAdds(Job& job, uint32_t* count) {
  if (job.addGroups == nullptr) return true;
  LONG kept = 0;
  const bool all = SUCCEEDED(job.addGroups->KeepAdds(&kept));
  ReleaseAndClear(job.addGroups);
  if (!all) *count = static_cast<uint32_t>(std::max<LONG>(kept, 0));
  return all;
}
