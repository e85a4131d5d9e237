// The worker thread: its loop, the export and purge turns, and the thread end.
#include "worker/worker.h"

#include "format/linebuffer.h"
#include "handheld/files.h"
#include "handheld/messages.h"
#include "handheld/threads.h"
#include "records/kinds.h"
#include "worker/jobcontext.h"
#include "worker/workerstate.h"

namespace {

constexpr int32_t kSavingBase = 500;
constexpr int32_t kRemovingBase = 510;
constexpr int32_t kExportDoneBase = 515;
constexpr int32_t kWorkErrorBase = 530;
constexpr int32_t kRemovalErrorBase = 535;
constexpr int32_t kWriteError = 607;
constexpr int32_t kReadError = 609;

// A run's first turn posts its start notice; items and progress start again.
void StartRun(WorkerState& state, int32_t statusId) {
  if (state.itemIndex != 0) return;
  PostJobNotify(state, NotifyStatus, statusId);
  state.itemIndex = 1;
  state.lastPercent = 0;
}

// One more item done: posts the grown progress and moves on; true after the last item.
bool ItemDone(WorkerState& state) {
  const int32_t count = JobContext.itemCount;
  PostProgress(state, PercentOf(static_cast<uint64_t>(state.itemIndex),
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

void PostJobNotify(const WorkerState& state, int32_t code, LPARAM value) {
  PostMessageW(state.dialog, WM_JOBNOTIFY, static_cast<WPARAM>(code), value);
}

void PostProgress(WorkerState& state, int32_t percent) {
  if (percent > state.lastPercent) {
    state.lastPercent = percent;
    PostJobNotify(state, NotifyProgress, percent);
  }
}

void StopWithError(const WorkerState& state, int32_t stringId) {
  PostJobNotify(state, NotifyError, stringId);
  JobContext.mode = ModeStop;
}

void ExportTurn(WorkerState& state) {
  const int32_t kind = JobContext.kind;
  StartRun(state, kSavingBase + kind);
  RunFault = FaultNone;
  KindEntryFor(JobContext.kind).writeRecord(state.itemIndex);
  switch (RunFault) {
    case FaultNone:
      if (ItemDone(state)) {
        // Done only once the new file has taken the old one's place.
        if (!FinishSavedFile(SaveCompleted)) {
          StopWithError(state, kWriteError);
          break;
        }
        PostJobNotify(
            state, NotifyDone,
            MakeDoneValue(kExportDoneBase + kind, static_cast<uint32_t>(JobContext.itemCount)));
        JobContext.mode = ModeStop;
      }
      break;
    case FaultRead:
      StopWithError(state, kReadError);
      FinishSavedFile(SaveFailed);
      break;
    case FaultWrite:
      StopWithError(state, kWriteError);
      // A partly written backup is worse than none: the new file goes, and a file that
      // was there before stays as it was.
      FinishSavedFile(SaveUnwritable);
      break;
    default:  // FaultFetch
      StopWithError(state, kWorkErrorBase + kind);
      FinishSavedFile(SaveFailed);
      break;
  }
}

void PurgeTurn(WorkerState& state) {
  const int32_t kind = JobContext.kind;
  StartRun(state, kRemovingBase + kind);
  // From the highest index down, so that the indexes still to come stay valid.
  IPOutlookItemCollection* items = JobContext.items;
  if (items == nullptr || FAILED(items->Remove(JobContext.itemCount - state.itemIndex + 1))) {
    StopWithError(state, kRemovalErrorBase + kind);
    return;
  }
  if (ItemDone(state)) {
    // The bar starts again for the import that follows, with its own start notice.
    PostJobNotify(state, NotifyProgress, 0);
    JobContext.mode = JobContext.nextMode;
    JobContext.nextMode = ModeStop;
    state.itemIndex = 0;
  }
}

DWORD WorkerThreadProc(void* dialogWindow) {
  WorkerState state{};
  state.dialog = static_cast<HWND>(dialogWindow);
  state.itemIndex = 0;

  while (JobContext.stopFlag.load() == 0) {
    switch (JobContext.mode) {
      case ModeExport:
        ExportTurn(state);
        break;
      case ModeImport:
        ImportTurn(state);
        break;
      case ModePurge:
        PurgeTurn(state);
        break;
      default:
        JobContext.stopFlag.store(1);
        break;
    }
    Sleep(0);
  }

  ReleaseImportItems();
  // A save stopped by the user keeps the records written so far.
  FinishSavedFile(SaveCompleted);
  ReleaseJobReferences();
  PostJobNotify(state, NotifyEnded, 0);
  return 0;
}
