// The job launch, which turns a data command into a running worker, and the shell's
// display operations (idle/busy display, message box from a string, status line).
//
// Contract: runs on the dialog thread. LaunchJob either starts the worker, having filled
// JobContext and handed it everything it opened, or gives up with exactly one message
// (none for a cancelled file dialog), the idle display, and nothing held: no store
// reference, no open call log, no open file. A save goes only to a regular file (or a new
// one): a directory, device or pipe is refused with 604 before anything is written, and
// the launch deletes nothing but a regular file it created itself.
#pragma once

#include "handheld/oledate.h"
#include "handheld/window/window.h"

// The string id last put into the status line (0 at start).
extern int lastStatusId;
// The shared text buffer of ShowMessageId, SetStatusText and the completion message.
extern WCHAR textBuffer[200];

// index 0..6: commands 203..209.
void LaunchJob(HWND dialog, int index);
void SetIdleDisplay(HWND dialog, bool idle);
int ShowMessageId(HWND owner, UINT stringId, UINT style);
void SetStatusText(HWND dialog, int stringId);
// Default folder `folderId` into JobContext.folder and its items into JobContext.items:
// 0, -1 when the folder cannot be had, -2 when the items cannot (the folder is held).
int OpenKindFolder(LONG folderId);

// "%s%04d%02d%02d": the kind word and the date, e.g. Contacts20070315.
void FormatDefaultFileName(LPWSTR out, int outChars, LPCWSTR kindWord, const SYSTEMTIME& date);
