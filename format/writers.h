// Field writers of the backup file (export). Each appends to JobContext.file, does
// nothing while RunFault is set, and turns a failed read status (negative) into
// RunFault 1 and a failed or short write into RunFault 2. Writes are not buffered: a
// text field is two writes, a formatted field one, a single character one.
#pragma once

#include <cstdint>

#include "handheld/bstr.h"
#include "handheld/com.h"
#include "handheld/oledate.h"

void WriteBytes(const void* bytes, uint32_t count);
void WriteChar(char16_t codeUnit);
// Escapes a store string over its whole stored length: every line break (CR LF, a lone
// LF, a lone CR) becomes "\n", every TAB becomes ",". Done in place when the text has no
// lone CR or LF; otherwise *text is replaced by a new, longer string (the old one is
// released). Returns the status unchanged, or E_OUTOFMEMORY when the longer string
// cannot be had (the text is then left as it was, released by the text field writer).
HRESULT EscapeText(HRESULT status, BSTR* text);
// Writes the text and one TAB. `text` is a store string (its whole stored length is
// written; it is released on every path) or LineBuffer itself (written up to its
// terminating zero, not released). A null store string writes an empty field.
void WriteTextField(HRESULT status, BSTR text);
void WriteEmptyFields(int32_t count);                     // count TABs as one write
void WriteDateField(HRESULT status, DATE value);          // day, month, year
void WriteDateTimeField(HRESULT status, DATE value);      // day, month, year, hour, minute
void WriteTimestampField(const FILETIME& utc);            // local d, m, y, h, min, s
void WriteLongField(HRESULT status, int32_t value);       // "%ld\t"
void WriteBoolField(HRESULT status, VARIANT_BOOL value);  // "1" true, "0" false

// Dates strictly between these bounds are written; others give empty fields.
constexpr DATE kEarliestDate = 2.32875;        // 1 January 1900 07:53:24
constexpr DATE kLatestDate = 401768.31869213;  // 31 December 2999 ~07:38:55
