// Access to the phone's call log through "phone.dll", whose functions are looked up by
// name at every use. A library that lacks a function behaves as one whose call failed.
#pragma once

#include <cstdint>

#include "handheld/phone.h"

void LoadCallLogLibrary();
bool CallLogLibraryLoaded();
// 0 without the library; -1 when the log cannot be opened; else the number of entries.
// The log stays open (also for a count of 0: the caller closes it).
int32_t CountCallLog();
bool CallLogOpen();
// Reads the next entry into CallEntry; false when there is no open log or no entry.
bool ReadNextCallEntry();
void FreeCallEntryStrings();
void CloseCallLog();
void UnloadCallLogLibrary();

// The one entry record, reused for every read.
extern CALLLOGENTRY CallEntry;
