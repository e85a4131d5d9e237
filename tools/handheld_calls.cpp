// The call log through its storage in the store file.
#include <cstdint>
#include <istream>
#include <optional>
#include <ostream>
#include <string>

#include "handheld/callstore.h"
#include "tools/handheld_commands.h"
#include "tools/handheld_text.h"

namespace handheld::tool {
namespace {

Json TextToJson(const std::optional<std::u16string>& text) {
  if (!text) return nullptr;
  return Utf8FromUtf16(*text);
}

Json CallToJson(const CallEntryData& entry) {
  Json object = Json::object();
  object["Number"] = TextToJson(entry.number);
  object["Name"] = TextToJson(entry.name);
  object["NameType"] = TextToJson(entry.nameType);
  object["Note"] = TextToJson(entry.note);
  object["StartTime"] = FileTimeToJson(entry.startTime);
  object["EndTime"] = FileTimeToJson(entry.endTime);
  object["Type"] = entry.iom;
  object["Outgoing"] = entry.outgoing;
  object["Connected"] = entry.connected;
  object["Ended"] = entry.ended;
  object["Roam"] = entry.roam;
  object["CallerIdType"] = entry.callerIdType;
  return object;
}

bool TextFromJson(const Json& given, std::optional<std::u16string>* out, std::string* why) {
  if (given.is_null()) {
    out->reset();
    return true;
  }
  if (given.is_string()) {
    *out = Utf16FromUtf8(given.get_ref<const std::string&>());
    return true;
  }
  *why = "expected a string or null, not " + Describe(given);
  return false;
}

bool Int32FromJson(const Json& given, int32_t* out, std::string* why) {
  if (given.is_number_integer() && !given.is_number_unsigned() &&
      given.get<int64_t>() >= INT32_MIN && given.get<int64_t>() <= INT32_MAX) {
    *out = static_cast<int32_t>(given.get<int64_t>());
    return true;
  }
  if (given.is_number_unsigned() && given.get<uint64_t>() <= INT32_MAX) {
    *out = static_cast<int32_t>(given.get<uint64_t>());
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

bool CallFromLine(const std::string& line, CallEntryData* entry, std::string* why) {
  Json object;
  if (!ParseJsonLine(line, &object, why)) return false;
  for (const auto& [key, given] : object.items()) {
    bool ok = false;
    if (key == "Number") {
      ok = TextFromJson(given, &entry->number, why);
    } else if (key == "Name") {
      ok = TextFromJson(given, &entry->name, why);
    } else if (key == "NameType") {
      ok = TextFromJson(given, &entry->nameType, why);
    } else if (key == "Note") {
      ok = TextFromJson(given, &entry->note, why);
    } else if (key == "StartTime") {
      ok = FileTimeFromJson(given, &entry->startTime, why);
    } else if (key == "EndTime") {
      ok = FileTimeFromJson(given, &entry->endTime, why);
    } else if (key == "Type") {
      ok = Int32FromJson(given, &entry->iom, why);
    } else if (key == "Outgoing") {
      ok = FlagFromJson(given, &entry->outgoing, why);
    } else if (key == "Connected") {
      ok = FlagFromJson(given, &entry->connected, why);
    } else if (key == "Ended") {
      ok = FlagFromJson(given, &entry->ended, why);
    } else if (key == "Roam") {
      ok = FlagFromJson(given, &entry->roam, why);
    } else if (key == "CallerIdType") {
      ok = Int32FromJson(given, &entry->callerIdType, why);
    } else {
      *why = "unknown key \"" + key + "\"";
      return false;
    }
    if (!ok) {
      *why = key + ": " + *why;
      return false;
    }
  }
  return true;
}

int AddCalls(std::istream& in, std::ostream& err) {
  std::string line;
  long number = 0, added = 0, refused = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    CallEntryData entry;
    std::string why;
    if (CallFromLine(line, &entry, &why) && AddCallEntry(entry, &why)) {
      ++added;
    } else {
      ++refused;
      err << "handheld: line " << number << ": " << why << " (nothing of this line is stored)\n";
    }
  }
  if (refused > 0) {
    err << "handheld: " << added << " call(s) added, " << refused << " line(s) refused\n";
    return 1;
  }
  return 0;
}

}  // namespace

int RunCallCommand(Command command, std::istream& in, std::ostream& out, std::ostream& err) {
  std::string error;
  if (command == Command::kAdd) return AddCalls(in, err);
  if (command == Command::kClear) {
    if (ClearCallEntries(&error)) return 0;
    err << "handheld: cannot clear the call log: " << error << "\n";
    return 1;
  }
  const std::optional<std::vector<CallEntryData>> entries = LoadCallEntries(&error);
  if (!entries) {
    err << "handheld: cannot read the call log: " << error << "\n";
    return 1;
  }
  if (command == Command::kCount) {
    out << entries->size() << "\n";
  } else {
    for (const CallEntryData& entry : *entries) {
      out << CallToJson(entry).dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
    }
  }
  out.flush();
  return 0;
}

}  // namespace handheld::tool
