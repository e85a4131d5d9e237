#include "worker/jobcontext.h"

#include "platform/calllog.h"

JobContextFields JobContext = {
    KindContacts,         ModeStop, ModeStop, {0}, nullptr, nullptr, nullptr,
    INVALID_HANDLE_VALUE, {},       0,        0,   nullptr,
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

void ResetJobContext(ItemKind kind, JobMode mode) {
  JobContext.kind = kind;
  JobContext.mode = mode;
  JobContext.nextMode = ModeStop;
  JobContext.folder = nullptr;
  JobContext.items = nullptr;
  JobContext.app = nullptr;
  JobContext.file = INVALID_HANDLE_VALUE;
  JobContext.itemCount = 0;
  JobContext.fileSize = 0;
}
