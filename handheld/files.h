// Files.
//
// Contract: CreateFileW with CREATE_ALWAYS empties an existing file; OPEN_EXISTING
// opens one for reading. Share mode 0 means no sharing: a second open of a file that
// is open (in this or another process) fails. Opening never blocks: a path that names
// a pipe or a device is refused with ERROR_ACCESS_DENIED (nothing is written there).
// Every WriteFile reaches the operating system before it returns (no write buffering),
// so a failed write shows at the call that failed. DeleteFileW removes regular files
// only. Open files are counted by the census ("file").
#pragma once

#include "handheld/types.h"

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_ATTRIBUTE_DEVICE = 0x40;  // also pipes and sockets
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_READ_FAULT = 30;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_DISK_FULL = 112;

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, void* security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL WriteFile(HANDLE file, const void* data, DWORD count, DWORD* written, void* overlapped);
BOOL ReadFile(HANDLE file, void* data, DWORD count, DWORD* read, void* overlapped);
// Low 32 bits; the high 32 bits into *high when given.
DWORD GetFileSize(HANDLE file, DWORD* high);
BOOL GetFileSizeEx(HANDLE file, int64_t* size);
// INVALID_FILE_ATTRIBUTES when the path does not exist; FILE_ATTRIBUTE_NORMAL for a
// regular file; FILE_ATTRIBUTE_DIRECTORY; FILE_ATTRIBUTE_DEVICE for anything else.
DWORD GetFileAttributesW(LPCWSTR path);
BOOL DeleteFileW(LPCWSTR path);
// Closes a file or a thread handle.
BOOL CloseHandle(HANDLE handle);
// The error of the calling thread's last failed call.
DWORD GetLastError();
void SetLastError(DWORD error);
