// The worker thread: one job per thread life (export; import; or purge then import),
// one short step per turn of its loop, each turn followed by Sleep(0) and a test of
// JobContext.stopFlag. It reports only by posting WM_JOBNOTIFY to the dialog window
// given as its argument, and at its end releases everything the launch handed over,
// closes the file and the call log, and posts NotifyEnded as its last act.
#pragma once

#include "handheld/types.h"

DWORD WorkerThreadProc(void* dialogWindow);
