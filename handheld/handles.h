// Handles and the calling thread's last error, shared by files, threads and modules.
//
// Contract: CloseHandle closes a file or a thread handle (whichever kind it is); a
// handle is closed once, and a stale or foreign value fails with ERROR_INVALID_HANDLE.
// The last error belongs to the calling thread: each stand-in call that fails sets it,
// and the calls that say so clear it on success.
#pragma once

#include "handheld/types.h"

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_READ_FAULT = 30;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_DISK_FULL = 112;

BOOL CloseHandle(HANDLE handle);
// The error of the calling thread's last failed call.
DWORD GetLastError();
void SetLastError(DWORD error);
