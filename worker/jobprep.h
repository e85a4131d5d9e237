// Preparing a job: the launch's steps that open what a job works on and check it, in
// the order the launch takes them, and the worker's start. The file dialogs and the
// questions come between the steps and are the launch's own; tests take the same steps
// without them.
//
// Contract: each step returns 0 or the id of the failure's message. What a step opened
// stays in the job, for the worker or for ReleaseJob; a step never leaves a file behind
// that it made and could not finish.
#pragma once

#include <memory>

#include "platform/store.h"
#include "worker/job.h"
#include "worker/stringids.h"

// The kind's default folder and its items into the job: 0, -1 when the folder cannot
// be had, -2 when the items cannot (the folder is then held).
int OpenKindFolder(Job& job, const StoreSession& store, LONG folderId);

// Export, before the file dialog: the kind's folder and items (or the call log, through
// job.callLog.library) opened and counted into itemCount; IDS_NOTHING_TO_SAVE + kind
// when there is nothing to save.
StringId OpenExportSource(Job& job, const StoreSession& store);
// Export, once job.path is chosen: it must be a regular file or nothing yet (never a
// folder, a device or a pipe). The records go to job.savePath, the chosen file's final
// target with ".partial" added (one left by a killed save is replaced), which starts
// with the byte-order mark and takes the chosen name only when the job ends well: a
// save that ends early never costs the backup that was there.
StringId CreateExportFile(Job& job);
// Import, once job.path is chosen: the file opened, its size taken into fileSize and its
// byte-order mark checked.
StringId OpenImportFile(Job& job);
// Import: a second reference to the store application for the new items, the kind's
// folder and items, and the number of items already there in itemCount.
StringId OpenImportTarget(Job& job, const StoreSession& store);

// Clears the stop flag and starts the worker thread on the job. On success the worker
// owns the job (the pointer is emptied) and link.worker holds the thread; else
// IDS_THREAD_ERROR, and the job stays with the caller.
StringId StartWorker(std::unique_ptr<Job>& job, WorkerLink& link);
