// Preparing a job, and the job's release.
#include "worker/jobprep.h"

#include "handheld/threads.h"
#include "worker/worker.h"

namespace {

// Store folder by kind (Contacts, Calendar, Tasks).
constexpr LONG kFolderIds[3] = {olFolderContacts, olFolderCalendar, olFolderTasks};

// A path a backup file may have: a regular file, or nothing yet (never a directory, a
// device or a pipe).
bool IsRegularOrMissing(const char16_t* path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes == INVALID_FILE_ATTRIBUTES || attributes == FILE_ATTRIBUTE_NORMAL;
}

// The kind's folder and its items into the job, their count into itemCount.
StringId OpenAndCountFolder(Job& job, const StoreSession& store) {
  const int opened = OpenKindFolder(job, store, kFolderIds[job.kind]);
  if (opened != 0) return opened == -1 ? IDS_FOLDER_ERROR : IDS_ITEMS_ERROR;
  INT count = 0;
  if (FAILED(job.items->get_Count(&count))) return IDS_ITEMS_ERROR;
  job.itemCount = count;
  return 0;
}

}  // namespace

int OpenKindFolder(Job& job, const StoreSession& store, LONG folderId) {
  IPOutlookApp* app = GetStoreApp(store);
  if (app == nullptr) return -1;
  HRESULT result = app->GetDefaultFolder(folderId, &job.folder);
  app->Release();
  if (FAILED(result) || job.folder == nullptr) {
    job.folder = nullptr;
    return -1;
  }
  result = job.folder->get_Items(&job.items);
  if (FAILED(result) || job.items == nullptr) {
    job.items = nullptr;
    return -2;
  }
  return 0;
}

StringId OpenExportSource(Job& job, const StoreSession& store) {
  if (job.kind == KindCalls) {
    job.itemCount = CountCallLog(job.callLog);
    if (job.itemCount == -1) return IDS_ITEMS_ERROR;
  } else if (StringId failure = OpenAndCountFolder(job, store)) {
    return failure;
  }
  if (job.itemCount <= 0) return IDS_NOTHING_TO_SAVE + job.kind;
  return 0;
}

StringId CreateExportFile(Job& job) {
  if (!IsRegularOrMissing(job.path)) return IDS_OPEN_ERROR;
  if (GetReplacementPathW(job.path, job.savePath, kPathChars) == 0) {
    job.savePath[0] = 0;
    return IDS_OPEN_ERROR;
  }
  // A partial file left by a save that was killed goes. Only a regular file is removed,
  // and the new one must be made afresh, so a link or anything else there refuses the
  // save rather than being followed.
  DeleteFileW(job.savePath);
  job.file = CreateFileW(job.savePath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (job.file == INVALID_HANDLE_VALUE) {
    job.savePath[0] = 0;
    return IDS_OPEN_ERROR;
  }
  static const BYTE kMark[2] = {0xFF, 0xFE};
  DWORD written = 0;
  if (!WriteFile(job.file, kMark, 2, &written, nullptr) || written != 2) {
    FinishSavedFile(job, SaveAbandoned);  // no new file is left behind
    return IDS_WRITE_ERROR;
  }
  job.bytesWritten = job.savedBytes = 2;
  return 0;
}

StringId OpenImportFile(Job& job) {
  if (!IsRegularOrMissing(job.path)) return IDS_OPEN_ERROR;
  job.file = CreateFileW(job.path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (job.file == INVALID_HANDLE_VALUE) return IDS_OPEN_ERROR;
  int64_t size = 0;
  BYTE mark[2] = {0, 0};
  DWORD read = 0;
  if (!GetFileSizeEx(job.file, &size) || size < 0 || !ReadFile(job.file, mark, 2, &read, nullptr)) {
    return IDS_READ_ERROR;
  }
  job.fileSize = static_cast<uint64_t>(size);
  if (read < 2 || mark[0] != 0xFF || mark[1] != 0xFE) return IDS_NOT_UNICODE;
  return 0;
}

StringId OpenImportTarget(Job& job, const StoreSession& store) {
  job.app = GetStoreApp(store);
  if (job.app == nullptr) return IDS_NO_APP;
  return OpenAndCountFolder(job, store);
}

StringId StartWorker(std::unique_ptr<Job>& job, WorkerLink& link) {
  job->stopFlag = &link.stopFlag;
  link.stopFlag.store(0);
  link.worker = CreateThread(nullptr, 0, WorkerThreadProc, job.get(), 0, nullptr);
  if (link.worker == nullptr) return IDS_THREAD_ERROR;
  job.release();  // the worker's now
  return 0;
}

bool FinishSavedFile(Job& job, SaveOutcome outcome) {
  if (job.savePath[0] == 0) return true;
  if (job.file != INVALID_HANDLE_VALUE) {
    // An early end keeps whole records only: a record cut by a failed read or write
    // would load as a contact, appointment or task with half its fields. (Should the
    // cut fail, the load reads the partial record's fields as a record.)
    if (outcome == SaveEndedEarly &&
        SetFilePointerEx(job.file, static_cast<int64_t>(job.savedBytes), nullptr, FILE_BEGIN)) {
      SetEndOfFile(job.file);
    }
    CloseHandle(job.file);
    job.file = INVALID_HANDLE_VALUE;
  }
  bool placed = true;
  if (outcome == SaveCompleted) {
    placed = ReplaceFileW(job.path, job.savePath, nullptr, 0, nullptr, nullptr) != FALSE;
  } else if (outcome == SaveAbandoned) {
    DeleteFileW(job.savePath);
  }
  job.savePath[0] = 0;
  return placed;
}

void ReleaseJob(Job& job) {
  ReleaseImportItems(job);
  FinishSavedFile(job, SaveAbandoned);
  ReleaseAndClear(job.addGroups);
  ReleaseAndClear(job.app);
  if (job.file != INVALID_HANDLE_VALUE) {
    CloseHandle(job.file);
    job.file = INVALID_HANDLE_VALUE;
  }
  ReleaseAndClear(job.items);
  ReleaseAndClear(job.folder);
  CloseCallLog(job.callLog);
}
