// Field writers of the backup file. Every writer appends straight to out.file (no
// buffering) and reports trouble only through out.runFault.
#include "format/writers.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "handheld/files.h"

// The file is UTF-16 little-endian and code units are written as they lie in memory.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr char16_t kTab = u'\t';
constexpr char16_t kCr = u'\r';
constexpr char16_t kLf = u'\n';

// Appends the decimal form of value ("-" for negatives) at *at.
void AppendDecimal(char16_t** at, int64_t value) {
  char16_t digits[24];
  int count = 0;
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : value;
  do {
    digits[count++] = static_cast<char16_t>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *(*at)++ = u'-';
  while (count > 0) *(*at)++ = digits[--count];
}

// Appends each value followed by a TAB.
void AppendFields(char16_t** at, const int64_t* values, int count) {
  for (int i = 0; i < count; ++i) {
    AppendDecimal(at, values[i]);
    *(*at)++ = kTab;
  }
}

// Writes the line buffer from its start up to `end` as one write.
void WriteLineBufferUpTo(FieldOutput& out, const char16_t* end) {
  WriteBytes(out, out.lineBuffer, static_cast<uint32_t>(end - out.lineBuffer) * sizeof(char16_t));
}

void WriteFormatted(FieldOutput& out, const int64_t* values, int count) {
  char16_t* at = out.lineBuffer;
  AppendFields(&at, values, count);
  *at = 0;
  WriteLineBufferUpTo(out, at);
}

void WriteTabsViaLineBuffer(FieldOutput& out, int32_t count) {
  if (count < 0) count = 0;
  if (count > kLineBufferChars) count = kLineBufferChars;
  char16_t* at = out.lineBuffer;
  for (int32_t i = 0; i < count; ++i) *at++ = kTab;
  *at = 0;
  WriteLineBufferUpTo(out, at);
}

// Splits a DATE into calendar fields with the seconds dropped. The platform split
// rounds to the nearest second, so 23:59:59.7 would come out as the next day's 00:00;
// the value is therefore cut to its whole second first (after rounding to the
// millisecond, so that 12:34 stored as 12:33:59.9999999 stays 12:34).
bool SplitDateDroppingSeconds(DATE value, SYSTEMTIME* fields) {
  double day = std::floor(value);
  int64_t millis = std::llround((value - day) * 86400000.0);
  int64_t seconds = millis / 1000;
  DATE whole = day + static_cast<double>(seconds) / 86400.0;
  return VariantTimeToSystemTime(whole, fields) != 0;
}

bool InDateRange(DATE value) {
  return value > kEarliestDate && value < kLatestDate;
}

// Shared by the date and date-time writers: `columns` is 3 or 5.
void WriteDateColumns(FieldOutput& out, HRESULT status, DATE value, int columns) {
  const int32_t first = out.column;
  out.column += columns;
  if (out.runFault != FaultNone) return;
  if (FAILED(status)) {
    out.runFault = FaultRead;
    return;
  }
  SYSTEMTIME fields;
  if (InDateRange(value) && SplitDateDroppingSeconds(value, &fields)) {
    const int64_t values[5] = {fields.wDay, fields.wMonth, fields.wYear, fields.wHour,
                               fields.wMinute};
    WriteFormatted(out, values, columns);
  } else {
    // The store's "no date" is no loss; any other date the file cannot hold is.
    if (value != handheld::kNoDate) NoteLoss(out, LossDateOutOfRange, first);
    WriteTabsViaLineBuffer(out, columns);
  }
}

// Where the first code unit below 14 (TAB is 9, CR 13) lies in text[0, length), or
// length: most texts have none, and are passed over four code units at a time.
UINT FirstControl(const char16_t* text, UINT length) {
  constexpr uint64_t kOnes = 0x0001000100010001;
  constexpr uint64_t kHighs = 0x8000800080008000;
  UINT i = 0;
  for (; i + 4 <= length; i += 4) {
    uint64_t units;
    std::memcpy(&units, text + i, sizeof units);
    // Non-zero exactly when some 16-bit unit is below 14.
    if (((units - kOnes * 14) & ~units & kHighs) != 0) break;
  }
  while (i < length && text[i] >= 14) ++i;
  return i;
}

}  // namespace

void WriteBytes(FieldOutput& out, const void* bytes, uint32_t count) {
  if (out.runFault != FaultNone || count == 0) return;  // an empty text is no write at all
  DWORD written = 0;
  if (!WriteFile(out.file, bytes, count, &written, nullptr) || written != count) {
    out.runFault = FaultWrite;
  }
  out.bytesWritten += written;
}

void WriteChar(FieldOutput& out, char16_t codeUnit) {
  if (codeUnit == kTab) ++out.column;
  WriteBytes(out, &codeUnit, sizeof codeUnit);
}

HRESULT EscapeText(HRESULT status, BSTR* text) {
  if (FAILED(status) || text == nullptr || *text == nullptr) return status;
  // The whole stored length, past any zero inside it: nothing that is written may
  // carry a TAB or a line break into the file.
  BSTR value = *text;
  const UINT length = SysStringLen(value);
  UINT loneBreaks = 0;  // a CR or LF that is not part of CR LF: each grows by one
  for (UINT i = FirstControl(value, length); i < length;) {
    if (value[i] == kCr && i + 1 < length && value[i + 1] == kLf) {
      value[i] = u'\\';
      value[i + 1] = u'n';
      i += 2;
    } else {
      if (value[i] == kTab) {
        value[i] = u',';
      } else if (value[i] == kCr || value[i] == kLf) {
        ++loneBreaks;
      }
      ++i;
    }
  }
  if (loneBreaks == 0) return status;
  // A lone LF would end the record on loading and a lone CR would be dropped: each
  // becomes "\n" too, so that it loads back as a line break. That text is longer, so it
  // takes a new string.
  BSTR grown = SysAllocStringLen(nullptr, length + loneBreaks);
  if (grown == nullptr) return E_OUTOFMEMORY;
  UINT at = 0;
  for (UINT i = 0; i < length; ++i) {
    if (value[i] == kCr || value[i] == kLf) {
      grown[at++] = u'\\';
      grown[at++] = u'n';
    } else {
      grown[at++] = value[i];
    }
  }
  SysFreeString(value);
  *text = grown;
  return status;
}

void WriteTextField(FieldOutput& out, HRESULT status, BSTR text) {
  const bool composed = text == out.lineBuffer;
  if (out.runFault == FaultNone && FAILED(status)) out.runFault = FaultRead;
  if (out.runFault == FaultNone) {
    uint32_t length = 0;
    if (composed) {
      const char16_t* end = out.lineBuffer;
      while (end < out.lineBuffer + kLineBufferChars && *end != 0) ++end;
      length = static_cast<uint32_t>(end - out.lineBuffer);
      WriteLineBufferUpTo(out, end);
    } else if (text != nullptr) {
      // Whole code units only, so an odd byte length can never shift the file's
      // UTF-16 framing.
      length = SysStringLen(text);
      WriteBytes(out, text, length * static_cast<uint32_t>(sizeof(OLECHAR)));
    }
    // A load drops a field longer than its column takes, whole.
    if (out.columnLimit != nullptr && length > static_cast<uint32_t>(out.columnLimit(out.column))) {
      NoteLoss(out, LossTextTooLong);
    }
    const char16_t tab = kTab;
    WriteBytes(out, &tab, sizeof tab);
  }
  ++out.column;
  if (!composed) SysFreeString(text);
}

void WriteEmptyFields(FieldOutput& out, int32_t count) {
  out.column += count;
  if (out.runFault != FaultNone) return;
  WriteTabsViaLineBuffer(out, count);
}

void WriteDateField(FieldOutput& out, HRESULT status, DATE value) {
  WriteDateColumns(out, status, value, 3);
}

void WriteDateTimeField(FieldOutput& out, HRESULT status, DATE value) {
  WriteDateColumns(out, status, value, 5);
}

void WriteTimestampField(FieldOutput& out, const FILETIME& utc) {
  out.column += 6;
  if (out.runFault != FaultNone) return;
  FILETIME local;
  SYSTEMTIME fields;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &fields)) {
    WriteTabsViaLineBuffer(out, 6);
    return;
  }
  const int64_t values[6] = {fields.wDay,  fields.wMonth,  fields.wYear,
                             fields.wHour, fields.wMinute, fields.wSecond};
  WriteFormatted(out, values, 6);
}

void WriteLongField(FieldOutput& out, HRESULT status, int32_t value) {
  ++out.column;
  if (out.runFault != FaultNone) return;
  if (FAILED(status)) {
    out.runFault = FaultRead;
    return;
  }
  const int64_t values[1] = {value};
  WriteFormatted(out, values, 1);
}

void WriteBoolField(FieldOutput& out, HRESULT status, VARIANT_BOOL value) {
  // -1 (true) is written "1", 0 (false) "0".
  WriteLongField(out, status, -static_cast<int32_t>(static_cast<int16_t>(value)));
}
