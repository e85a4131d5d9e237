// Test support for the interop tests: made-up contacts with every kind of awkward text,
// their comparison property by property, a store filled with them and read back, and
// other programs run as child processes.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "handheld/oledate.h"
#include "interop/transfer.h"
#include "interop/vcardcontact.h"

namespace interop::testing_support {

DATE Date(WORD year, WORD month, WORD day, WORD hour = 0, WORD minute = 0, WORD second = 0);

// Contact n of a made-up store: each property holds a text of its own with the characters
// that vCard escapes, CR LF, Cyrillic, emoji and long lines; some places are left empty so
// that later places of a group stand alone; dates from year 100 to 9999, some with a time
// of day; a UID (with odd characters) on three contacts in four.
ContactValues Generated(int n);
void ExpectSame(const ContactValues& expected, const ContactValues& got, int n);

// The contacts of the store that HANDHELD_STORE names, in its order, with their UIDs; and
// new contacts saved there (with their UID when they have one).
std::vector<ContactValues> StoreContacts();
void SaveContacts(const std::vector<ContactValues>& contacts);
// The contacts of that store exported to `path`, or `path` imported into it; *lost gets
// the summary lines of what was not kept.
TransferResult Transfer(const std::string& path, bool import, bool replace,
                        std::vector<std::string>* lost = nullptr);

struct Ran {
  int status = -1;  // the exit status, or 128 + the signal
  std::string out, err;
};
// Runs `argv` (argv[0] a full path) with `env` ("NAME=value") added, standard input from
// /dev/null, its output through files of `dir`; killed after `seconds`.
Ran RunProgram(const std::string& dir, const std::vector<std::string>& argv,
               const std::vector<std::string>& env = {}, int seconds = 60);

}  // namespace interop::testing_support
