// Counted UTF-16 strings (BSTR).
//
// Contract: a BSTR points at the first code unit; the 32-bit byte length is stored
// just before it and a zero code unit just after its length. It may hold zero
// characters anywhere; its length is SysStringLen, not the position of a first zero.
// A null BSTR is the empty string. Each live BSTR is counted by the census ("bstr").
#pragma once

#include "handheld/types.h"

using BSTR = OLECHAR*;

BSTR SysAllocString(const OLECHAR* text);                  // up to the first zero; null gives null
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);  // text may be null: zero-filled
void SysFreeString(BSTR text);                             // null is allowed
// Read on every field written, so inline: the 32-bit byte length just before the text.
inline UINT SysStringByteLen(BSTR text) {  // bytes; 0 for null
  if (text == nullptr) return 0;
  UINT bytes;
  __builtin_memcpy(&bytes, reinterpret_cast<const char*>(text) - sizeof bytes, sizeof bytes);
  return bytes;
}
inline UINT SysStringLen(BSTR text) {  // characters; 0 for null
  return SysStringByteLen(text) / sizeof(OLECHAR);
}
