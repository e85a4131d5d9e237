// The `handheld` tool's export and import commands.
//
// Contract: export writes every item of KIND to PATH, import reads PATH into the store
// (removing the kind's items first with `replace`), as interop/formats.h and the kind's
// format say, and tells on `out` how many items it added, updated and left unchanged ("12
// added, 3 updated, 40 unchanged"; not after a failure). What could not be kept is summed
// up on `err` ("not kept: PHOTO on 12 cards"), and so is each item skipped. Exit status: 0 done (losses included), 1 an item
// was skipped or the store or a file failed, 2 a KIND without a format.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace handheld::tool {

int RunTransfer(bool import, bool replace, std::string_view kind, const std::string& path,
                std::ostream& out, std::ostream& err);

}  // namespace handheld::tool
