// Where a call-log library's entries come from: each library ("phone.dll" in one of its
// forms) is the shared side in calllog.cpp and one source file that defines this.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "handheld/callstore.h"

namespace handheld::phone {

// The whole call log as it is now, newest start time first; nullopt with *error set when
// it cannot be read.
std::optional<std::vector<CallEntryData>> LoadCallLog(std::string* error);

}  // namespace handheld::phone
