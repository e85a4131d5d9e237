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

}  // namespace

int RunCallCommand(Command command, std::istream& in, std::ostream& out, std::ostream& err) {
  std::string error;
  if (command == Command::kAdd) {
    return AddLines(in, err, "call", [](const std::string& line, std::string* why) {
      CallEntryData entry;
      return CallFromLine(line, &entry, why) && AddCallEntry(entry, why);
    });
  }
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
