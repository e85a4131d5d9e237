// `handheld sources`: the address books, calendars and task lists of Evolution's data
// server, which HANDHELD_STORE=eds:... chooses from.
#include <ostream>

#include "handheld/eds/eds.h"
#include "tools/handheld_commands.h"

namespace handheld::tool {

int RunSources(std::ostream& out, std::ostream& err) {
  std::string error;
  std::unique_ptr<eds::Registry> registry = eds::Registry::Connect(eds::kDefaultLimit, &error);
  if (!registry) {
    err << "handheld: Evolution's data server cannot be reached: " << error << "\n";
    return 1;
  }
  static constexpr const char* kKindNames[] = {"contacts", "calendar", "tasks"};
  for (eds::Kind kind : eds::kKinds) {
    for (const eds::Source& source : registry->List(kind)) {
      std::string marks;
      if (source.isDefault) marks += "default";
      if (source.readOnly) marks += marks.empty() ? "read-only" : ",read-only";
      if (!source.unavailable.empty()) {
        marks += (marks.empty() ? "unavailable: " : ",unavailable: ") + source.unavailable;
      }
      out << kKindNames[static_cast<int>(kind)] << '\t' << source.uid << '\t' << source.name
          << '\t' << (marks.empty() ? "-" : marks) << '\n';
    }
  }
  return 0;
}

}  // namespace handheld::tool
