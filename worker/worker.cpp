// The worker thread: its loop, the export and purge turns, and the thread end.
#include "worker/worker.h"

#include <algorithm>
#include <bit>
#include <iterator>
#include <memory>

#include "handheld/threads.h"
#include "worker/jobprep.h"
#include "worker/workerstate.h"

namespace {

// A run's first turn posts its start notice; items and progress start again.
void StartRun(const Job& job, WorkerState& state, StringId statusId) {
  if (state.itemIndex != 0) return;
  PostJobNotify(job, NotifyStatus, statusId);
  state.itemIndex = 1;
  state.lastPercent = 0;
}

// Tells the dialog of every value of the record just written that the file does not
// carry, one notice per column and loss, in column order.
void PostValueLosses(const Job& job, uint32_t record) {
  uint64_t columns = 0;
  for (uint64_t lost : job.lostColumns) columns |= lost;
  while (columns != 0) {
    const int column = std::countr_zero(columns);
    columns &= columns - 1;
    for (uint32_t loss = 0; loss < kValueLosses; ++loss) {
      if (((job.lostColumns[loss] >> column) & 1) != 0) {
        PostJobNotify(job, NotifyFieldDropped,
                      MakeDroppedValue(record, static_cast<uint32_t>(column) + 1,
                                       static_cast<ValueLoss>(loss)));
      }
    }
  }
}

// One more item done: posts the grown progress and moves on; true after the last item.
bool ItemDone(const Job& job, WorkerState& state) {
  const int32_t count = job.itemCount;
  PostProgress(job, state,
               PercentOf(static_cast<uint64_t>(state.itemIndex),
                         static_cast<uint64_t>(count > 0 ? count : 0)));
  ++state.itemIndex;
  return state.itemIndex > count;
}

}  // namespace

int32_t PercentOf(uint64_t done, uint64_t total) {
  if (total == 0) return 0;
  if (done >= total) return 100;
  // done < total, so done * 100 overflows only for totals above 2^57 bytes or items.
  return static_cast<int32_t>(done * 100 / total);
}

void PostJobNotify(const Job& job, int32_t code, LPARAM value) {
  PostMessageW(job.dialog, WM_JOBNOTIFY, static_cast<WPARAM>(code), value);
}

void PostProgress(const Job& job, WorkerState& state, int32_t percent) {
  if (percent > state.lastPercent) {
    state.lastPercent = percent;
    PostJobNotify(job, NotifyProgress, percent);
  }
}

void StopWithError(Job& job, int32_t stringId) {
  PostJobNotify(job, NotifyError, stringId);
  job.mode = ModeStop;
}

void ExportTurn(Job& job, WorkerState& state) {
  const int32_t kind = job.kind;
  const KindEntry& entry = KindEntryFor(job.kind);
  StartRun(job, state, IDS_SAVING + kind);
  job.runFault = FaultNone;
  job.column = 0;
  job.columnLimit = entry.columnLimit;
  entry.writeRecord(job, state.itemIndex);
  if (job.runFault == FaultNone) {
    job.savedBytes = job.bytesWritten;
    PostValueLosses(job, static_cast<uint32_t>(state.itemIndex));
  }
  std::fill(std::begin(job.lostColumns), std::end(job.lostColumns), 0);
  switch (job.runFault) {
    case FaultNone:
      if (ItemDone(job, state)) {
        // Done only once the records have taken the chosen name.
        if (!FinishSavedFile(job, SaveCompleted)) {
          StopWithError(job, IDS_WRITE_ERROR);
          break;
        }
        PostJobNotify(job, NotifyDone,
                      MakeDoneValue(IDS_EXPORT_DONE + kind, static_cast<uint32_t>(job.itemCount)));
        job.mode = ModeStop;
      }
      return;
    case FaultRead:
      StopWithError(job, IDS_NO_INFORMATION);
      break;
    case FaultWrite:
      StopWithError(job, IDS_WRITE_ERROR);
      break;
    default:  // FaultFetch
      StopWithError(job, IDS_WORK_ERROR + kind);
      break;
  }
  FinishSavedFile(job, SaveEndedEarly);
}

void PurgeTurn(Job& job, WorkerState& state) {
  const int32_t kind = job.kind;
  StartRun(job, state, IDS_REMOVING + kind);
  // From the highest index down, so that the indexes still to come stay valid.
  if (job.items == nullptr || FAILED(job.items->Remove(job.itemCount - state.itemIndex + 1))) {
    StopWithError(job, IDS_REMOVE_ERROR + kind);
    return;
  }
  if (ItemDone(job, state)) {
    // The bar starts again for the import that follows, with its own start notice.
    PostJobNotify(job, NotifyProgress, 0);
    job.mode = job.nextMode;
    job.nextMode = ModeStop;
    state.itemIndex = 0;
  }
}

void TakeTurn(Job& job, WorkerState& state) {
  switch (job.mode) {
    case ModeExport:
      ExportTurn(job, state);
      break;
    case ModeImport:
      ImportTurn(job, state);
      break;
    case ModePurge:
      PurgeTurn(job, state);
      break;
    default:
      job.stopFlag->store(1);
      break;
  }
}

void EndJob(std::unique_ptr<Job> job) {
  ReleaseImportItems(*job);
  // A load stopped by the user keeps its records saved so far: the store makes what it
  // held of them, and tells when it could not.
  if (uint32_t count = 0; !KeepGroupedAdds(*job, &count)) {
    PostJobNotify(*job, NotifyError, IDS_CREATE_ERROR + job->kind);
    PostJobNotify(*job, NotifyStoppedCount, MakeDoneValue(IDS_LOADED_BEFORE_STOP, count));
  }
  // A save stopped by the user keeps the records written so far, beside the chosen
  // file, which stays as it was.
  FinishSavedFile(*job, SaveEndedEarly);
  ReleaseJob(*job);
  const HWND dialog = job->dialog;
  job.reset();
  PostMessageW(dialog, WM_JOBNOTIFY, NotifyEnded, 0);
}

DWORD WorkerThreadProc(void* owned) {
  std::unique_ptr<Job> job(static_cast<Job*>(owned));
  WorkerState state;
  while (job->stopFlag->load() == 0) {
    TakeTurn(*job, state);
    Sleep(0);
  }
  EndJob(std::move(job));
  return 0;
}
