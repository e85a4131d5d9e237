#include "tools/handheld_commands.h"

#include <ostream>

namespace handheld::tool {

bool KindFromName(std::string_view name, Kind* kind) {
  if (name == "contacts") {
    *kind = Kind::kContacts;
  } else if (name == "calendar") {
    *kind = Kind::kCalendar;
  } else if (name == "tasks") {
    *kind = Kind::kTasks;
  } else if (name == "calls") {
    *kind = Kind::kCalls;
  } else {
    return false;
  }
  return true;
}

bool CommandFromName(std::string_view name, Command* command) {
  if (name == "dump") {
    *command = Command::kDump;
  } else if (name == "add") {
    *command = Command::kAdd;
  } else if (name == "clear") {
    *command = Command::kClear;
  } else if (name == "count") {
    *command = Command::kCount;
  } else {
    return false;
  }
  return true;
}

int RunCommand(Command command, Kind kind, std::istream& in, std::ostream& out, std::ostream& err) {
  const int status = kind == Kind::kCalls ? RunCallCommand(command, in, out, err)
                                          : RunStoreCommand(command, kind, in, out, err);
  out.flush();
  if (!out) {
    err << "handheld: writing the output failed\n";
    return 1;
  }
  return status;
}

}  // namespace handheld::tool
