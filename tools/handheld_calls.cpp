// The call log through its storage in the store file; with the desktop's store
// (HANDHELD_STORE=eds:...) through the call-log library that reads GNOME Calls' history.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <optional>
#include <ostream>
#include <string>

#include "handheld/callstore.h"
#include "handheld/modules.h"
#include "handheld/phone.h"
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

bool OnTheDesktopStore() {
  const char* store = std::getenv("HANDHELD_STORE");
  return store != nullptr && std::strncmp(store, "eds:", 4) == 0;
}

std::optional<std::u16string> TakeText(PTSTR text) {
  if (text == nullptr) return std::nullopt;
  std::u16string taken(text);
  LocalFree(text);
  return taken;
}

// The entries as the system reads them: through "phone.dll", which is GNOME Calls'
// history on the desktop's store.
std::optional<std::vector<CallEntryData>> LoadThroughLibrary(std::string* error) {
  HMODULE library = LoadLibraryW(u"phone.dll");
  if (library == nullptr) {
    *error = "the call-log library cannot be loaded";
    return std::nullopt;
  }
  auto open = reinterpret_cast<PhoneOpenCallLogFn>(GetProcAddress(library, "PhoneOpenCallLog"));
  auto next =
      reinterpret_cast<PhoneGetCallLogEntryFn>(GetProcAddress(library, "PhoneGetCallLogEntry"));
  auto close = reinterpret_cast<PhoneCloseCallLogFn>(GetProcAddress(library, "PhoneCloseCallLog"));
  std::optional<std::vector<CallEntryData>> entries;
  HANDLE log = nullptr;
  if (open == nullptr || next == nullptr || close == nullptr || open(&log) != 0) {
    *error = "the call log cannot be opened (the reason is above)";
  } else {
    entries.emplace();
    CALLLOGENTRY raw{};
    raw.cbSize = kCallLogEntrySize;
    while (next(log, &raw) == 0) {
      CallEntryData entry;
      entry.number = TakeText(raw.pszNumber);
      entry.name = TakeText(raw.pszName);
      entry.nameType = TakeText(raw.pszNameType);
      entry.note = TakeText(raw.pszNote);
      entry.startTime = (uint64_t{raw.ftStartTime.dwHighDateTime} << 32) |
                        raw.ftStartTime.dwLowDateTime;
      entry.endTime =
          (uint64_t{raw.ftEndTime.dwHighDateTime} << 32) | raw.ftEndTime.dwLowDateTime;
      entry.iom = raw.iom;
      entry.outgoing = raw.fOutgoing != 0;
      entry.connected = raw.fConnected != 0;
      entry.ended = raw.fEnded != 0;
      entry.roam = raw.fRoam != 0;
      entry.callerIdType = raw.cidt;
      entries->push_back(std::move(entry));
      raw = CALLLOGENTRY{};
      raw.cbSize = kCallLogEntrySize;
    }
    close(log);
  }
  FreeLibrary(library);
  return entries;
}

}  // namespace

int RunCallCommand(Command command, std::istream& in, std::ostream& out, std::ostream& err) {
  std::string error;
  // GNOME Calls' history is the dialer's own: read, never written.
  if (OnTheDesktopStore() && (command == Command::kAdd || command == Command::kClear)) {
    err << "handheld: with HANDHELD_STORE=eds:... the call log is GNOME Calls' history, "
           "which only GNOME Calls writes\n";
    return 1;
  }
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
  const std::optional<std::vector<CallEntryData>> entries =
      OnTheDesktopStore() ? LoadThroughLibrary(&error) : LoadCallEntries(&error);
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
