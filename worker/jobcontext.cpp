#include "worker/jobcontext.h"

#include "platform/calllog.h"

JobContextFields JobContext = {
    KindContacts,         ModeStop, ModeStop, {0},   nullptr, nullptr, nullptr,
    INVALID_HANDLE_VALUE, {},       {},       false, 0,       0,       nullptr,
};

void ReleaseJobReferences() {
  ReleaseAndClear(JobContext.app);
  ReleaseAndClear(JobContext.items);
  ReleaseAndClear(JobContext.folder);
  if (JobContext.file != INVALID_HANDLE_VALUE) {
    CloseHandle(JobContext.file);
    JobContext.file = INVALID_HANDLE_VALUE;
  }
  CloseCallLog();
}

SaveStart StartSavedFile() {
  JobContext.replacesFile = GetFileAttributesW(JobContext.path) == FILE_ATTRIBUTE_NORMAL;
  if (GetReplacementPathW(JobContext.path, JobContext.savePath, kPathChars) == 0) {
    JobContext.savePath[0] = 0;
    return SaveCannotOpen;
  }
  JobContext.file = CreateFileW(JobContext.savePath, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (JobContext.file == INVALID_HANDLE_VALUE) {
    JobContext.savePath[0] = 0;
    return SaveCannotOpen;
  }
  static const BYTE kMark[2] = {0xFF, 0xFE};
  DWORD written = 0;
  if (!WriteFile(JobContext.file, kMark, 2, &written, nullptr) || written != 2) {
    FinishSavedFile(SaveUnwritable);  // no new file is left behind
    return SaveCannotWrite;
  }
  return SaveStarted;
}

bool FinishSavedFile(SaveOutcome outcome) {
  if (JobContext.savePath[0] == 0) return true;
  if (JobContext.file != INVALID_HANDLE_VALUE) {
    CloseHandle(JobContext.file);
    JobContext.file = INVALID_HANDLE_VALUE;
  }
  const bool place =
      outcome == SaveCompleted || (outcome == SaveFailed && !JobContext.replacesFile);
  bool placed = place && ReplaceFileW(JobContext.path, JobContext.savePath, nullptr, 0, nullptr,
                                      nullptr) != FALSE;
  if (!placed) DeleteFileW(JobContext.savePath);
  JobContext.savePath[0] = 0;
  return placed || !place;
}

void ResetJobContext(ItemKind kind, JobMode mode) {
  JobContext.kind = kind;
  JobContext.mode = mode;
  JobContext.nextMode = ModeStop;
  JobContext.folder = nullptr;
  JobContext.items = nullptr;
  JobContext.app = nullptr;
  JobContext.file = INVALID_HANDLE_VALUE;
  JobContext.savePath[0] = 0;
  JobContext.replacesFile = false;
  JobContext.itemCount = 0;
  JobContext.fileSize = 0;
}
