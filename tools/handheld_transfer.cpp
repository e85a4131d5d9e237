// The `handheld` tool's export and import: the store's items to and from other
// programs' files, through the formats of interop/.
#include "tools/handheld_transfer.h"

#include <ostream>

#include "interop/formats.h"

namespace handheld::tool {

int RunTransfer(bool import, bool replace, std::string_view kind, const std::string& path,
                std::ostream& out, std::ostream& err) {
  const interop::ForeignFormat* format = interop::FormatForKind(kind);
  if (format == nullptr) {
    err << "handheld: " << (import ? "import" : "export") << " knows only "
        << interop::FormatKinds() << ", not \"" << kind << "\"\n";
    return 2;
  }
  interop::StoreSession session;
  std::string error;
  if (!session.Open(format->folder, &error)) {
    err << "handheld: " << error << "\n";
    return 1;
  }
  interop::TransferResult result;
  if (import) {
    interop::Losses losses(format->fileNoun, format->fileNouns);
    format->importItems(session, path, replace, &losses, &result);
    interop::Report(result, losses, "handheld", "imported", format->itemNouns, err);
    if (result.error.empty()) out << result.Outcomes() << "\n";
  } else {
    interop::Losses losses(format->itemNoun, format->itemNouns);
    format->exportItems(session, path, &losses, &result);
    interop::Report(result, losses, "handheld", "exported", format->itemNouns, err);
  }
  return result.ExitStatus();
}

}  // namespace handheld::tool
