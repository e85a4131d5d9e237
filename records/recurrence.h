// The recurrence block: 13 columns shared by appointments and tasks.
#pragma once

#include <cstdint>

#include "format/fieldoutput.h"
#include "handheld/pimstore.h"

struct RecordContext;

constexpr int32_t kRecurrenceColumns = 13;

// Export. Takes ownership of `pattern` (released on every path).
void WriteRecurrenceBlock(FieldOutput& out, HRESULT patternStatus, IRecurrencePattern* pattern,
                          HRESULT recurringStatus, VARIANT_BOOL recurring);
// Import: column offset 0..12 within the block and the field's text. `item` is the
// appointment or task being built; `getPattern` asks it for its pattern, which becomes
// job.OpenPattern.
using PatternGetter = HRESULT (*)(IDispatch* item, IRecurrencePattern** pattern);
void ApplyRecurrenceColumn(RecordContext& job, IDispatch* item, PatternGetter getPattern,
                           int32_t offset, const char16_t* text);
int32_t RecurrenceColumnLimit(int32_t offset);
