// The worker thread's own state and the steps of its loop. The state lives on the
// worker's stack for one job; the steps are called once per turn by WorkerThreadProc.
// Only the worker (and its tests) use this header.
#pragma once

#include <cstdint>
#include <memory>

#include "worker/job.h"

struct WorkerState {
  int32_t itemIndex = 0;    // 0 until the run's start notice; then the next item (export,
                            // purge) or one more than the records loaded (import)
  int32_t lastPercent = 0;  // last progress posted in the current run

  // The import reader (set up in the run's first turn).
  uint64_t bytesConsumed = 0;  // byte-order mark included
  int32_t fieldLength = 0;     // characters of the current field in the line buffer
  int32_t columnIndex = 0;     // 0-based column of the current field
  bool fieldTooLong = false;   // the current field went over its limit and is dropped
  uint32_t lineNumber = 0;     // the file's line of the current record, 1-based
};

// The whole-number percentage done/total, truncated, computed in 64 bits so that
// neither a large item count nor a file past 4 GiB overflows. Never above 100; 0 for an
// empty total.
int32_t PercentOf(uint64_t done, uint64_t total);

// Posts WM_JOBNOTIFY (code, value) to the job's dialog.
void PostJobNotify(const Job& job, int32_t code, LPARAM value);
// Posts progress when the percentage has grown past the run's last one.
void PostProgress(const Job& job, WorkerState& state, int32_t percent);
// Posts the error (a string id) and stops the job.
void StopWithError(Job& job, int32_t stringId);

// Ends the grouped adds of a load (Job::addGroups), if any: false when the store did not
// take them all, and then *count is how many of the load's records it holds.
bool KeepGroupedAdds(Job& job, uint32_t* count);

void ExportTurn(Job& job, WorkerState& state);
void PurgeTurn(Job& job, WorkerState& state);
void ImportTurn(Job& job, WorkerState& state);
// One turn of the loop by the job's mode (the stop turn sets the stop flag).
void TakeTurn(Job& job, WorkerState& state);
// The thread end: releases everything the job holds (the record under construction
// unsaved; a save stopped on the way goes in place with what it wrote), posts
// NotifyEnded as the last act and frees the job.
void EndJob(std::unique_ptr<Job> job);
