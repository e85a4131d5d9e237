// One job: what the launch prepares and hands to the worker thread, which owns it from
// the thread's start until its end; and the JobNotify protocol by which the worker
// reports to the dialog.
//
// Contract: a Job is filled on the dialog thread (by the launch, or by a test, with the
// preparation steps of jobprep.h) and handed over whole at thread creation. From then on
// only the worker touches it; it releases everything the job holds, posts NotifyEnded as
// its last act and frees the job. The one state both threads touch while a job runs is
// the WorkerLink below, which the dialog owns.
#pragma once

#include <atomic>
#include <cstdint>

#include "handheld/files.h"
#include "handheld/messages.h"
#include "handheld/storebatch.h"
#include "records/kinds.h"

enum JobMode : int32_t { ModeStop = 0, ModeExport = 1, ModeImport = 2, ModePurge = 3 };

constexpr int kPathChars = 1024;  // the path buffer, terminating zero included

// What the dialog thread and the worker share while a job runs, and nothing else:
// - stopFlag: cleared just before a worker starts; set by the exit command (only while
//   it holds the worker suspended) and by the worker's stop turn. The worker's loop runs
//   while it is 0. A single byte; the worker reads it after every turn.
// - worker: the running worker thread's handle, null when none runs. Only the dialog
//   thread reads or writes it.
struct WorkerLink {
  std::atomic<uint8_t> stopFlag{0};
  HANDLE worker = nullptr;
};

// The job. Its RecordContext part (the file, the fault, the line buffer, the folder's
// items, the application for new items, the call log and the record being built) is
// all the records see.
struct Job : RecordContext {
  HWND dialog = nullptr;                     // the target of every JobNotify
  std::atomic<uint8_t>* stopFlag = nullptr;  // the dialog's WorkerLink::stopFlag
  ItemKind kind = KindContacts;
  JobMode mode = ModeStop;         // 1 export, 2 import, 3 purge; 0 when nothing is to run
  JobMode nextMode = ModeStop;     // after a purge: 2 when the import follows, else 0
  IFolder* folder = nullptr;       // the kind's default folder (kinds 0 to 2)
  char16_t path[kPathChars] = {};  // the backup file, as chosen in the file dialog
  // A save writes the records to savePath (the chosen file's final target with
  // ".partial" added) and renames it to the chosen name only when it ends well
  // (FinishSavedFile); empty when no save is pending. savedBytes: where the last whole
  // record ends in it (the byte-order mark included).
  char16_t savePath[kPathChars] = {};
  uint64_t savedBytes = 0;
  // Export: the items to write (folder items or call-log entries); import: the items
  // already in the folder, which a purge removes.
  int32_t itemCount = 0;
  // Import: the file's size in bytes (64 bits, so files past 4 GiB get the right
  // progress base).
  uint64_t fileSize = 0;
  // Import into a store that groups its adds (storebatch.h): held from the load's start
  // until the load's count is told; null otherwise.
  IStoreAddGroups* addGroups = nullptr;
};

// Gives back what a job holds: the items under construction (unsaved), the application,
// the items and the folder references, the file and the call log; each is left null or
// closed. A pending save is abandoned first (see FinishSavedFile).
void ReleaseJob(Job& job);

// How a save ended, for FinishSavedFile. Whatever the end, the chosen file (yesterday's
// backup, or none) is replaced only by a whole save.
enum SaveOutcome : int32_t {
  SaveCompleted,   // every record written: the partial file takes the chosen name
  SaveEndedEarly,  // an error, or the user's stop: the partial file is cut back to its
                   // whole records and kept under its own name
  SaveAbandoned,   // the launch gave up before the worker ran: the partial file goes
};
// Closes the file of a pending save and finishes it by the outcome; nothing when no
// save is pending. False when a completed save's file could not take the chosen name
// (it is then kept under its own name).
bool FinishSavedFile(Job& job, SaveOutcome outcome);

// JobNotify: posted by the worker to the dialog. wParam is the code, lParam the value.
constexpr UINT WM_JOBNOTIFY = 0x8400;
enum JobNotifyCode : int32_t {
  NotifyEnded = 0,     // the worker has ended (always the last message of a job)
  NotifyStatus = 1,    // value: string id of the run's status text
  NotifyError = 2,     // value: string id of the error; the job has stopped
  NotifyProgress = 3,  // value: percentage 0..100
  NotifyDone = 4,      // value: string id in the low 16 bits, record count above them
  // A value the backup file does not carry: a load dropped a field longer than its
  // column takes, or a save wrote a value that will not load back as it was. Value: the
  // record (the file's line, 1-based) in the high 32 bits, the ValueLoss in bits 24 to
  // 31, the column (1-based) in the low 24.
  NotifyFieldDropped = 5,
  // A load stopped by an error (after its code 2): value as NotifyDone, with the string
  // id and the number of records saved before the stop.
  NotifyStoppedCount = 6,
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

constexpr LPARAM MakeDroppedValue(uint32_t record, uint32_t column,
                                  ValueLoss loss = LossFieldTooLong) {
  return static_cast<LPARAM>((static_cast<uint64_t>(record) << 32) |
                             (static_cast<uint64_t>(loss) << 24) | (column & 0xFFFFFFu));
}
constexpr uint32_t DroppedRecord(LPARAM value) {
  return static_cast<uint32_t>(static_cast<uint64_t>(value) >> 32);
}
constexpr uint32_t DroppedColumn(LPARAM value) {
  return static_cast<uint32_t>(static_cast<uint64_t>(value) & 0xFFFFFFu);
}
constexpr ValueLoss DroppedLoss(LPARAM value) {
  return static_cast<ValueLoss>((static_cast<uint64_t>(value) >> 24) & 0xFFu);
}
