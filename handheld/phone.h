// The call-log library ("phone.dll"), loaded at run time by name.
//
// Entries come newest start time first, ties in the order added: from the store file
// ($HANDHELD_STORE) in phone.so, from GNOME Calls' history in gnomecalls.so (the one
// loaded when HANDHELD_STORE begins with "eds:"). PhoneOpenCallLog, PhoneSeekCallLog and PhoneGetCallLogEntry return
// 0 on success. Entry strings are allocated with LocalAlloc; the caller frees each with
// LocalFree. A string that is not set is null. An open call log is counted by the
// census ("calllog").
#pragma once

#include "handheld/com.h"
#include "handheld/oledate.h"

using IOM = int32_t;  // call type: 0 missed, 1 incoming, 2 outgoing
constexpr IOM IOM_MISSED = 0;
constexpr IOM IOM_INCOMING = 1;
constexpr IOM IOM_OUTGOING = 2;
using CALLERIDTYPE = int32_t;  // 0 unavailable, 1 blocked, 2 available

struct CALLLOGENTRY {
  DWORD cbSize;
  FILETIME ftStartTime;
  FILETIME ftEndTime;
  IOM iom;
  // One 32-bit word of one-bit flags; signed, so a set bit reads as -1.
  int32_t fOutgoing : 1;
  int32_t fConnected : 1;
  int32_t fEnded : 1;
  int32_t fRoam : 1;
  CALLERIDTYPE cidt;
  PTSTR pszNumber;
  PTSTR pszName;
  PTSTR pszNameType;
  PTSTR pszNote;
};

// The entry size on this host (48 on the 32-bit handheld).
constexpr DWORD kCallLogEntrySize = sizeof(CALLLOGENTRY);

constexpr DWORD CALLLOGSEEK_BEGINNING = 2;
constexpr DWORD CALLLOGSEEK_END = 4;

extern "C" {
using PhoneOpenCallLogFn = HRESULT (*)(HANDLE* log);
// Offset is 0 in every use; *record is the index of the record sought (the last one for
// CALLLOGSEEK_END). Seeking to the end of an empty log fails.
using PhoneSeekCallLogFn = HRESULT (*)(HANDLE log, DWORD seek, DWORD offset, DWORD* record);
// Fills the next entry (cbSize must be kCallLogEntrySize); fails past the last one.
using PhoneGetCallLogEntryFn = HRESULT (*)(HANDLE log, CALLLOGENTRY* entry);
using PhoneCloseCallLogFn = HRESULT (*)(HANDLE log);
}
