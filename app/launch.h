// The job launch, which turns a data command into a running worker, and the shell's
// display operations (idle/busy display, message box from a string, status line).
//
// Contract: runs on the dialog thread. LaunchJob either starts the worker, having filled
// a Job and handed it everything it opened, or gives up with exactly one message (none
// for a cancelled file dialog), the idle display, and nothing held: no store reference,
// no open call log, no open file. A save goes only to a regular file (or a new one): a
// directory, device or pipe is refused with 604 before anything is written, and a save
// that fails leaves a file that was there as it was.
#pragma once

#include "app/shell.h"
#include "handheld/oledate.h"

// index 0..6: commands 203..209.
void LaunchJob(Shell& shell, HWND dialog, int index);
void SetIdleDisplay(Shell& shell, HWND dialog, bool idle);
// Message boxes with the product name as caption, one over the other only when one asks
// for it: ShowMessageText shows its box at once (a question needs its answer), while
// ShowFollowUp, a message that follows another (a warning after the completion
// message), waits until every box of the shell open or waiting before it has been closed,
// so that the boxes are read in the order they were given.
int ShowMessageText(Shell& shell, HWND owner, LPCWSTR text, UINT style);
void ShowFollowUp(Shell& shell, HWND owner, LPCWSTR text, UINT style);
int ShowMessageId(Shell& shell, HWND owner, UINT stringId, UINT style);
void SetStatusText(Shell& shell, HWND dialog, int stringId);

// "%s%04d%02d%02d": the kind word and the date, e.g. Contacts20070315.
void FormatDefaultFileName(LPWSTR out, int outChars, LPCWSTR kindWord, const SYSTEMTIME& date);
