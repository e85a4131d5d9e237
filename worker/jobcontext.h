// The job's process-wide state, filled by the launch and owned by the worker while it
// runs (except stopFlag and worker, which the dialog also uses), and the JobNotify
// protocol by which the worker reports to the dialog.
#pragma once

#include <atomic>
#include <cstdint>

#include "handheld/files.h"
#include "handheld/messages.h"
#include "handheld/pimstore.h"

enum ItemKind : int32_t { KindContacts = 0, KindCalendar = 1, KindTasks = 2, KindCalls = 3 };
enum JobMode : int32_t { ModeStop = 0, ModeExport = 1, ModeImport = 2, ModePurge = 3 };

constexpr int kPathChars = 1024;  // the path buffer, terminating zero included

struct JobContextFields {
  ItemKind kind;
  JobMode mode;
  JobMode nextMode;
  // Cleared before the worker starts; set by the exit command (while the worker is held
  // suspended) and by the worker's stop turn. The worker's loop runs while it is 0.
  std::atomic<uint8_t> stopFlag;
  IFolder* folder;
  IPOutlookItemCollection* items;
  IPOutlookApp* app;  // imports only: a second reference, for creating items
  HANDLE file;        // INVALID_HANDLE_VALUE when closed
  char16_t path[kPathChars];
  // A save writes a new file (savePath) beside the chosen one and puts it in the chosen
  // one's place when the job ends (FinishSavedFile); empty when no save is pending.
  // replacesFile: the chosen path held a file already, which a failed save must keep.
  char16_t savePath[kPathChars];
  bool replacesFile;
  int32_t itemCount;
  // Import: the file's size in bytes (64 bits, so files past 4 GiB get the right
  // progress base).
  uint64_t fileSize;
  HANDLE worker;  // null when no worker runs
};

extern JobContextFields JobContext;

// Releases a store object reference, if any, and leaves the pointer null.
template <typename T>
void ReleaseAndClear(T*& object) {
  if (object != nullptr) {
    object->Release();
    object = nullptr;
  }
}

// Gives back what the launch opened for a job: releases app, items and folder, closes
// the file when it is open and the call log; each field is left null or closed. The
// launch calls it when it gives up; the worker's thread end calls it after
// ReleaseImportItems.
void ReleaseJobReferences();

// Starts a save to `path`: the records go to a new file beside it (savePath), made here
// with the byte-order mark, which takes path's place when the job ends well; a save that
// fails never costs the backup that was there. What went wrong, if anything:
enum SaveStart : int32_t {
  SaveStarted,
  SaveCannotOpen,   // the new file cannot be made
  SaveCannotWrite,  // the byte-order mark cannot be written (nothing is left behind)
};
SaveStart StartSavedFile();

// How a save ended, for FinishSavedFile.
enum SaveOutcome : int32_t {
  SaveCompleted,   // every record written, or stopped by the user: the file goes in place
  SaveFailed,      // a record could not be read or fetched, or the worker never started:
                   // an old file stays as it was; with none, what was written goes in place
  SaveUnwritable,  // a write failed: the new file goes, an old one stays as it was
};
// Closes the file of a pending save and puts it in place of `path`, or removes it, by
// the outcome; nothing when no save is pending. False when the new file should have gone
// in place and could not (it is then removed, and an old file is left as it was).
bool FinishSavedFile(SaveOutcome outcome);

// Starts the context of a new job: its kind and mode, no next mode, no references, no
// file and no counts. The path and the worker are left as they are.
void ResetJobContext(ItemKind kind, JobMode mode);

// JobNotify: posted by the worker to the dialog. wParam is the code, lParam the value.
constexpr UINT WM_JOBNOTIFY = 0x8400;
enum JobNotifyCode : int32_t {
  NotifyEnded = 0,     // the worker has ended (always the last message of a job)
  NotifyStatus = 1,    // value: string id of the run's status text
  NotifyError = 2,     // value: string id of the error; the job has stopped
  NotifyProgress = 3,  // value: percentage 0..100
  NotifyDone = 4,      // value: string id in the low 16 bits, record count above them
  // A load dropped a field that was longer than its column takes: value: the record
  // (the file's line, 1-based) in the high 32 bits, the column (1-based) in the low 32.
  NotifyFieldDropped = 5,
};

// Completion value: the string id in the low 16 bits, the full count in the bits above
// (LPARAM is 64 bits wide here, so the count is never cut to 16 bits).
constexpr LPARAM MakeDoneValue(int32_t stringId, uint32_t count) {
  return static_cast<LPARAM>((static_cast<uint64_t>(count) << 16) |
                             (static_cast<uint32_t>(stringId) & 0xFFFFu));
}
constexpr int32_t DoneStringId(LPARAM value) {
  return static_cast<int32_t>(static_cast<uint64_t>(value) & 0xFFFFu);
}
constexpr uint32_t DoneCount(LPARAM value) {
  return static_cast<uint32_t>(static_cast<uint64_t>(value) >> 16);
}

constexpr LPARAM MakeDroppedValue(uint32_t record, uint32_t column) {
  return static_cast<LPARAM>((static_cast<uint64_t>(record) << 32) | column);
}
constexpr uint32_t DroppedRecord(LPARAM value) {
  return static_cast<uint32_t>(static_cast<uint64_t>(value) >> 32);
}
constexpr uint32_t DroppedColumn(LPARAM value) {
  return static_cast<uint32_t>(static_cast<uint64_t>(value) & 0xFFFFFFFFu);
}
