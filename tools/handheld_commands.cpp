#include "tools/handheld_commands.h"

#include <ostream>
#include <utility>

namespace handheld::tool {
namespace {

template <class T, size_t N>
bool FromName(std::string_view name, const std::pair<std::string_view, T> (&table)[N], T* out) {
  for (const auto& [text, value] : table) {
    if (name == text) {
      *out = value;
      return true;
    }
  }
  return false;
}

}  // namespace

bool KindFromName(std::string_view name, const Kind** kind) {
  *kind = interop::KindNamed(name);
  return *kind != nullptr;
}

bool CommandFromName(std::string_view name, Command* command) {
  static constexpr std::pair<std::string_view, Command> kCommands[] = {{"dump", Command::kDump},
                                                                       {"add", Command::kAdd},
                                                                       {"clear", Command::kClear},
                                                                       {"count", Command::kCount}};
  return FromName(name, kCommands, command);
}

bool Int32FromJson(const Json& given, int32_t* out, std::string* why) {
  if (given.is_number_integer() &&
      (given.is_number_unsigned()
           ? given.get<uint64_t>() <= INT32_MAX
           : given.get<int64_t>() >= INT32_MIN && given.get<int64_t>() <= INT32_MAX)) {
    *out = static_cast<int32_t>(given.get<int64_t>());
    return true;
  }
  *why = "expected a whole number (32-bit), not " + Describe(given);
  return false;
}

bool FlagFromJson(const Json& given, bool* out, std::string* why) {
  if (given.is_boolean()) {
    *out = given.get<bool>();
    return true;
  }
  *why = "expected true or false, not " + Describe(given);
  return false;
}

int AddLines(std::istream& in, std::ostream& err, const char* noun,
             const std::function<bool(const std::string& line, std::string* why)>& addLine) {
  std::string line;
  long number = 0, added = 0, refused = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    std::string why;
    if (addLine(line, &why)) {
      ++added;
    } else {
      ++refused;
      err << "handheld: line " << number << ": " << why << " (nothing of this line is stored)\n";
    }
  }
  if (refused == 0) return 0;
  err << "handheld: " << added << " " << noun << "(s) added, " << refused << " line(s) refused\n";
  return 1;
}

int RunCommand(Command command, const Kind& kind, std::istream& in, std::ostream& out,
               std::ostream& err) {
  const int status = kind.folder == 0 ? RunCallCommand(command, in, out, err)
                                          : RunStoreCommand(command, kind, in, out, err);
  out.flush();
  if (!out) {
    err << "handheld: writing the output failed\n";
    return 1;
  }
  return status;
}

}  // namespace handheld::tool
