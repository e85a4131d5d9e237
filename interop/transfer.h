// What an export or an import did, for every kind of item, and how a tool reports it.
//
// Contract:
// - items counts what was written or saved; an import also counts its items by what became
//   of them (Count): added, updated (an item of the same UID took the file's values) or
//   unchanged (it held them already), which Outcomes gives as "12 added, 3 updated, 40
//   unchanged"; problems names each item that could not be
//   read ("FILE: line N: reason"), which was skipped; error is set when the store or a
//   file failed and the transfer stopped (what was done before stays done); notes tell
//   what was left out on purpose (a calendar's to-dos in an import of appointments).
// - ExitStatus: 0 when nothing was skipped and nothing failed (losses do not count), 1
//   otherwise.
// - Report writes, on `err`: each problem and the error with the program's name in
//   front, then the summary lines of the losses as they are ("not kept: PHOTO on 12
//   cards"), then the notes with the program's name, then, when anything was skipped, how many
//   items were transferred and how many skipped.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "handheld/itemidentity.h"
#include "interop/losses.h"

namespace interop {

// How an import reads its files: on a thread of its own while this one saves (files of
// any size), or on the calling thread, entry by entry (small files, where starting a
// thread costs more than the overlap gains: the fuzz targets).
enum class Reading { kThread, kInline };

struct TransferResult {
  long items = 0;
  long added = 0, updated = 0, unchanged = 0;
  std::vector<std::string> problems;
  std::string error;
  std::vector<std::string> notes;

  int ExitStatus() const { return problems.empty() && error.empty() ? 0 : 1; }
  // One more item of an import saved, as SaveAsUid's outcome says.
  void Count(handheld::SaveOutcome outcome);
  std::string Outcomes() const;
};

// `done` is the verb for the items ("imported", "exported"), `noun` and `nouns` name them.
void Report(const TransferResult& result, const Losses& losses, std::string_view program,
            std::string_view done, std::string_view nouns, std::ostream& err);

}  // namespace interop
