// Threads.
//
// Contract: suspension is cooperative: it takes effect at the thread's next Sleep(0)
// (its yield point). SuspendThread returns only once the thread is parked there or has
// ended, so that what the caller does next happens while the thread is held; a
// suspended thread stays parked until resumed. Suspending a thread that has finished,
// or is finishing (it makes no further Sleep(0)), returns at once. A live thread is
// counted by the census ("thread") until it has ended and its handle is closed.
#pragma once

#include "handheld/handles.h"
#include "handheld/types.h"

using LPTHREAD_START_ROUTINE = DWORD (*)(void* parameter);

constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD CREATE_SUSPENDED = 0x4;

// Null on failure (and under the "thread" fault).
HANDLE CreateThread(void* security, size_t stackSize, LPTHREAD_START_ROUTINE start, void* parameter,
                    DWORD flags, DWORD* threadId);
// Both return the previous suspend count, or 0xFFFFFFFF for a bad handle.
DWORD SuspendThread(HANDLE thread);
DWORD ResumeThread(HANDLE thread);
DWORD WaitForSingleObject(HANDLE thread, DWORD milliseconds);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
// Sleep(0) is the thread's suspension point and yields the processor (at most once a
// millisecond: the scheduler preempts a busy thread anyway).
void Sleep(DWORD milliseconds);
