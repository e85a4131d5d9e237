// Field writers of the backup file (export). Each appends to out.file, does nothing
// while out.runFault is set, and turns a failed read status (negative) into FaultRead
// and a failed or short write into FaultWrite. Writes are not buffered: a text field is
// two writes, a formatted field one, a single character one. Each counts out.column on
// by the fields it stands for (WriteChar by a TAB), and notes in out.lostColumns what the
// file cannot carry: a date outside its years (the store's "no date" aside), a text
// longer than out.columnLimit gives its column.
#pragma once

#include <cstdint>

#include "format/fieldoutput.h"
#include "handheld/bstr.h"
#include "handheld/com.h"
#include "handheld/oledate.h"

void WriteBytes(FieldOutput& out, const void* bytes, uint32_t count);
void WriteChar(FieldOutput& out, char16_t codeUnit);
// Escapes a store string over its whole stored length: every line break (CR LF, a lone
// LF, a lone CR) becomes "\n", every TAB becomes ",". Done in place when the text has no
// lone CR or LF; otherwise *text is replaced by a new, longer string (the old one is
// released). Returns the status unchanged, or E_OUTOFMEMORY when the longer string
// cannot be had (the text is then left as it was, released by the text field writer).
HRESULT EscapeText(HRESULT status, BSTR* text);
// Writes the text and one TAB. `text` is a store string (its whole stored length is
// written; it is released on every path) or out.lineBuffer (written up to its
// terminating zero, not released). A null store string writes an empty field.
void WriteTextField(FieldOutput& out, HRESULT status, BSTR text);
void WriteEmptyFields(FieldOutput& out, int32_t count);                 // count TABs as one write
void WriteDateField(FieldOutput& out, HRESULT status, DATE value);      // day, month, year
void WriteDateTimeField(FieldOutput& out, HRESULT status, DATE value);  // ... hour, minute
void WriteTimestampField(FieldOutput& out, const FILETIME& utc);        // local d, m, y, h, min, s
void WriteLongField(FieldOutput& out, HRESULT status, int32_t value);   // "%ld\t"
void WriteBoolField(FieldOutput& out, HRESULT status, VARIANT_BOOL value);  // "1", "0"

// Dates strictly between these bounds are written; others give empty fields.
constexpr DATE kEarliestDate = 2.32875;        // 1 January 1900 07:53:24
constexpr DATE kLatestDate = 401768.31869213;  // 31 December 2999 ~07:38:55
