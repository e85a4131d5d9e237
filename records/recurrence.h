// The recurrence block: 13 columns shared by appointments and tasks.
#pragma once

#include <cstdint>

#include "handheld/pimstore.h"

constexpr int32_t kRecurrenceColumns = 13;

// Export. Takes ownership of `pattern` (released on every path).
void WriteRecurrenceBlock(HRESULT patternStatus, IRecurrencePattern* pattern,
                          HRESULT recurringStatus, VARIANT_BOOL recurring);
// Import: column offset 0..12 within the block, the field's text in LineBuffer. `item`
// is the appointment or task being built; `getPattern` asks it for its pattern.
using PatternGetter = HRESULT (*)(IDispatch* item, IRecurrencePattern** pattern);
void ApplyRecurrenceColumn(IDispatch* item, PatternGetter getPattern, int32_t offset);
int32_t RecurrenceColumnLimit(int32_t offset);
