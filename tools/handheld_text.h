// Text and time conversions of the `handheld` tool's JSON.
//
// Contract:
// - Utf8FromUtf16 turns store text into UTF-8; a lone surrogate (which no valid text
//   holds) becomes U+FFFD, so a dump never fails on it. Valid text, zero characters
//   included, converts exactly. Utf16FromUtf8 expects the valid UTF-8 that the JSON
//   reader hands over and converts it exactly.
// - Store dates are local calendar times without a zone: "YYYY-MM-DDTHH:MM:SS", or
//   null for the store's "no date". A date that has no such form is dumped as its raw
//   number. Reading accepts the string form, null ("no date") or a raw DATE number.
// - Call times are UTC FILETIME ticks: "YYYY-MM-DDTHH:MM:SS.fffffffZ" (years 1601 to
//   9999; later ticks are dumped as the raw integer). Reading accepts that form or the
//   raw tick count as a non-negative integer.
// - The readers return false and explain in *why when a value has the wrong type or
//   form; they never touch *out then.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <string_view>

#include "handheld/oledate.h"

namespace handheld::tool {

using Json = nlohmann::ordered_json;

std::string Utf8FromUtf16(std::u16string_view text);
std::u16string Utf16FromUtf8(std::string_view text);

Json DateToJson(DATE value);
bool DateFromJson(const Json& value, DATE* out, std::string* why);

Json FileTimeToJson(uint64_t ticks);
bool FileTimeFromJson(const Json& value, uint64_t* out, std::string* why);

// One line of JSON Lines input: a JSON object whose keys are unique at every level.
// Returns false and explains in *why otherwise.
bool ParseJsonLine(const std::string& line, Json* out, std::string* why);

// A short rendering of a JSON value for messages (long values are cut).
std::string Describe(const Json& value);

}  // namespace handheld::tool
