// Files.
//
// Contract: CreateFileW with CREATE_ALWAYS empties an existing file; CREATE_NEW makes a
// file that must not exist yet; OPEN_EXISTING opens one for reading. A file made here is
// readable and writable by its owner only (0600): backups hold personal data. Share mode 0 means no
// sharing: a second open of a file that is open (in this or another process) fails. Opening never
// blocks: a path that names a pipe or a device is refused with ERROR_ACCESS_DENIED (nothing is
// written there). Every WriteFile reaches the operating system before it returns (no write
// buffering), so a failed write shows at the call that failed. DeleteFileW removes regular files
// only. Open files are counted by the census ("file").
#pragma once

#include "handheld/handles.h"
#include "handheld/types.h"

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_ATTRIBUTE_DEVICE = 0x40;  // also pipes and sockets
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, void* security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
BOOL WriteFile(HANDLE file, const void* data, DWORD count, DWORD* written, void* overlapped);
BOOL ReadFile(HANDLE file, void* data, DWORD count, DWORD* read, void* overlapped);
// Low 32 bits; the high 32 bits into *high when given.
DWORD GetFileSize(HANDLE file, DWORD* high);
BOOL GetFileSizeEx(HANDLE file, int64_t* size);
// INVALID_FILE_ATTRIBUTES when the path does not exist; FILE_ATTRIBUTE_NORMAL for a
// regular file; FILE_ATTRIBUTE_DIRECTORY; FILE_ATTRIBUTE_DEVICE for anything else.
DWORD GetFileAttributesW(LPCWSTR path);
BOOL DeleteFileW(LPCWSTR path);

// Replacing a file whole, so that a failure on the way never costs the old one.
// GetReplacementPathW puts into `out` (`chars` with the terminating zero) the path that
// the new content of `target` is written to before it takes `target`'s place: the final
// target (when `target` is a symbolic link, which may dangle) with ".partial" added, in
// that target's folder; the length, or 0 on failure. It does not say whether that file
// exists (one left by a program that was killed may).
// ReplaceFileW then puts the closed file `replacement` in place of `replaced` in one step
// (of its final target when it is a symbolic link, which stays a link), after the new
// content has reached the disk; when `replaced` exists, the new file takes its
// permissions and, where the system allows, its owner. `backup` must be null and `flags`
// 0. On failure nothing has changed and `replacement` is still there. Fault point
// "replace".
DWORD GetReplacementPathW(LPCWSTR target, LPWSTR out, DWORD chars);
BOOL ReplaceFileW(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD flags, void* exclude,
                  void* reserved);

// Moves the handle's position to `distance` bytes from the start (FILE_BEGIN), the
// position (FILE_CURRENT) or the end (FILE_END); the new position into *newPosition when
// given. SetEndOfFile makes the file end at the handle's position (shorter or longer).
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
BOOL SetFilePointerEx(HANDLE file, int64_t distance, int64_t* newPosition, DWORD moveMethod);
BOOL SetEndOfFile(HANDLE file);
