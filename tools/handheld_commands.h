// The `handheld` tool's commands: dump, add, clear and count one kind of data.
//
// Contract:
// - Contacts, calendar and tasks are reached only through the store's COM interfaces
//   (the store file is $HANDHELD_STORE or the default); calls through the call-log
//   storage.
// - dump writes one JSON object per item, in the order an export sees them, keys in a
//   fixed order (the published property names). add reads JSON Lines, one item per
//   line (blank lines are skipped); each line is checked whole before anything is
//   created, then the item is created, given its values and saved. A line that is
//   refused (malformed, unknown key, wrong type, a value the store refuses) is named
//   by its number on `err`, nothing of it is stored, and the remaining lines go on.
// - clear removes every item, from the highest index down; count prints the number.
// - Each returns the exit status: 0 done, 1 a data or store error (explained on `err`).
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <string_view>

#include "interop/formats.h"
#include "tools/handheld_text.h"

namespace handheld::tool {

// A kind is its entry of interop/formats.h's table.
using Kind = interop::ForeignFormat;
enum class Command { kDump, kAdd, kClear, kCount };

bool KindFromName(std::string_view name, const Kind** kind);
bool CommandFromName(std::string_view name, Command* command);

int RunCommand(Command command, const Kind& kind, std::istream& in, std::ostream& out,
               std::ostream& err);

// The COM kinds (contacts, calendar, tasks) and the call log.
int RunStoreCommand(Command command, const Kind& kind, std::istream& in, std::ostream& out,
                    std::ostream& err);
int RunCallCommand(Command command, std::istream& in, std::ostream& out, std::ostream& err);

// `handheld sources`: one line per source of Evolution's data server, "KIND\tUID\tNAME\t
// MARKS" (KIND contacts, calendar or tasks; MARKS "default", "read-only", both
// comma-separated, "unavailable: why" for one that cannot be opened, or "-"); 1 when the
// data server cannot be reached.
int RunSources(std::ostream& out, std::ostream& err);

// Readers of `add` values shared by the kinds: false, with the reason in *why and *out
// untouched, for a value of another type (or outside 32 bits).
bool Int32FromJson(const Json& given, int32_t* out, std::string* why);
bool FlagFromJson(const Json& given, bool* out, std::string* why);

// The add loop of every kind: hands each non-blank line to addLine, reports a refused
// one by its number on `err` and goes on; 1 when any line was refused, with a count of
// the `noun`s added.
int AddLines(std::istream& in, std::ostream& err, const char* noun,
             const std::function<bool(const std::string& line, std::string* why)>& addLine);

}  // namespace handheld::tool
