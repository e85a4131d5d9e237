// Access to the phone's call log through "phone.dll", whose functions are looked up by
// name at every use; a library that lacks a function behaves as one whose call failed.
//
// A CallLog is one user's view of the library: the shell holds one from start-up to
// exit for the library itself; a job takes a CallLog of its own (with the shell's
// library) for the log it opens, counts, reads and closes.
#pragma once

#include <cstdint>

#include "handheld/phone.h"

struct CallLog {
  HMODULE library = nullptr;  // loaded by LoadCallLogLibrary, or borrowed
  HANDLE handle = nullptr;    // the open call log
  bool open = false;
  CALLLOGENTRY entry = {};  // the one entry record, reused for every read
};

void LoadCallLogLibrary(CallLog& log);
bool CallLogLibraryLoaded(const CallLog& log);
// 0 without the library; -1 when the log cannot be opened; else the number of entries.
// The log stays open (also for a count of 0: the caller closes it).
int32_t CountCallLog(CallLog& log);
bool CallLogOpen(const CallLog& log);
// Reads the next entry into log.entry; false when there is no open log or no entry.
bool ReadNextCallEntry(CallLog& log);
void FreeCallEntryStrings(CallLog& log);
void CloseCallLog(CallLog& log);
// Closes the log and frees the library (only the CallLog that loaded it does this).
void UnloadCallLogLibrary(CallLog& log);
