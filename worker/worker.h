// The worker thread: one job per thread life (export; import; or purge then import),
// one short step per turn of its loop, each turn followed by Sleep(0) and a test of the
// job's stop flag. It reports only by posting WM_JOBNOTIFY to the job's dialog, and at
// its end releases everything the job holds, posts NotifyEnded as its last act and frees
// the job.
#pragma once

#include "handheld/types.h"

// `job`: a Job made with new and filled by the launch; the thread owns it from here.
DWORD WorkerThreadProc(void* job);
