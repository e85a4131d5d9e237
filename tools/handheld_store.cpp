// Contacts, calendar and tasks through the store's COM interfaces.
#include <cstdint>
#include <cstdio>
#include <istream>
#include <limits>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include "handheld/pimstore.h"
#include "interop/storesession.h"
#include "tools/handheld_commands.h"
#include "tools/handheld_text.h"

namespace handheld::tool {
namespace {

enum class Type { kString, kDate, kLong, kBool };

struct Value {
  std::u16string text;
  DATE date = 0;
  LONG number = 0;
  bool flag = false;
};

template <class I>
struct Property {
  const char* name;
  Type type;
  HRESULT (*get)(I*, Value*);
  HRESULT (*put)(I*, const Value&);
};

template <class I, HRESULT (I::*Get)(BSTR*)>
HRESULT GetString(I* object, Value* value) {
  BSTR text = nullptr;
  const HRESULT hr = (object->*Get)(&text);
  if (SUCCEEDED(hr)) value->text.assign(text ? text : u"", SysStringLen(text));
  SysFreeString(text);
  return hr;
}
template <class I, HRESULT (I::*Put)(BSTR)>
HRESULT PutString(I* object, const Value& value) {
  BSTR text = SysAllocStringLen(value.text.data(), static_cast<UINT>(value.text.size()));
  if (!text) return E_OUTOFMEMORY;
  const HRESULT hr = (object->*Put)(text);
  SysFreeString(text);
  return hr;
}
// Dates and numbers pass straight between a Value field and the property.
template <class I, class T, T Value::*Field, HRESULT (I::*Get)(T*)>
HRESULT GetField(I* object, Value* value) {
  return (object->*Get)(&(value->*Field));
}
template <class I, class T, T Value::*Field, HRESULT (I::*Put)(T)>
HRESULT PutField(I* object, const Value& value) {
  return (object->*Put)(value.*Field);
}
template <class I, HRESULT (I::*Get)(VARIANT_BOOL*)>
HRESULT GetBool(I* object, Value* value) {
  VARIANT_BOOL flag = VARIANT_FALSE;
  const HRESULT hr = (object->*Get)(&flag);
  value->flag = flag != VARIANT_FALSE;
  return hr;
}
template <class I, HRESULT (I::*Put)(VARIANT_BOOL)>
HRESULT PutBool(I* object, const Value& value) {
  return (object->*Put)(value.flag ? VARIANT_TRUE : VARIANT_FALSE);
}

// clang-format off
#define TOOL_STRING(I, Name) \
  Property<I>{#Name, Type::kString, &GetString<I, &I::get_##Name>, &PutString<I, &I::put_##Name>}
#define TOOL_FIELD(I, Name, kType, T, field) \
  Property<I>{#Name, Type::kType, &GetField<I, T, &Value::field, &I::get_##Name>, \
              &PutField<I, T, &Value::field, &I::put_##Name>}
#define TOOL_DATE(I, Name) TOOL_FIELD(I, Name, kDate, DATE, date)
#define TOOL_LONG(I, Name) TOOL_FIELD(I, Name, kLong, LONG, number)
#define TOOL_BOOL(I, Name) \
  Property<I>{#Name, Type::kBool, &GetBool<I, &I::get_##Name>, &PutBool<I, &I::put_##Name>}
// clang-format on
#define TOOL_CONTACT_STRING(Name) TOOL_STRING(IContact, Name),
#define TOOL_CONTACT_DATE(Name) TOOL_DATE(IContact, Name),

template <class I>
const std::vector<Property<I>>& Properties();

template <>
const std::vector<Property<IContact>>& Properties<IContact>() {
  static const std::vector<Property<IContact>> kProperties = {
      HANDHELD_CONTACT_STRINGS(TOOL_CONTACT_STRING) HANDHELD_CONTACT_DATES(TOOL_CONTACT_DATE)};
  return kProperties;
}

template <>
const std::vector<Property<IAppointment>>& Properties<IAppointment>() {
  static const std::vector<Property<IAppointment>> kProperties = {
      TOOL_STRING(IAppointment, Subject),
      TOOL_STRING(IAppointment, Location),
      TOOL_DATE(IAppointment, Start),
      TOOL_DATE(IAppointment, End),
      TOOL_BOOL(IAppointment, AllDayEvent),
      TOOL_BOOL(IAppointment, ReminderSet),
      TOOL_LONG(IAppointment, ReminderMinutesBeforeStart),
      TOOL_STRING(IAppointment, Categories),
      TOOL_LONG(IAppointment, BusyStatus),
      TOOL_LONG(IAppointment, Sensitivity),
      TOOL_STRING(IAppointment, Body),
  };
  return kProperties;
}

template <>
const std::vector<Property<ITask>>& Properties<ITask>() {
  static const std::vector<Property<ITask>> kProperties = {
      TOOL_STRING(ITask, Subject),    TOOL_LONG(ITask, Importance),   TOOL_BOOL(ITask, Complete),
      TOOL_DATE(ITask, StartDate),    TOOL_DATE(ITask, DueDate),      TOOL_BOOL(ITask, ReminderSet),
      TOOL_DATE(ITask, ReminderTime), TOOL_STRING(ITask, Categories), TOOL_LONG(ITask, Sensitivity),
      TOOL_STRING(ITask, Body),
  };
  return kProperties;
}

// RecurrenceType comes first: it is set before every other property of a pattern.
template <>
const std::vector<Property<IRecurrencePattern>>& Properties<IRecurrencePattern>() {
  static const std::vector<Property<IRecurrencePattern>> kProperties = {
      TOOL_LONG(IRecurrencePattern, RecurrenceType),
      TOOL_LONG(IRecurrencePattern, Interval),
      TOOL_LONG(IRecurrencePattern, DayOfWeekMask),
      TOOL_LONG(IRecurrencePattern, DayOfMonth),
      TOOL_LONG(IRecurrencePattern, Instance),
      TOOL_LONG(IRecurrencePattern, MonthOfYear),
      TOOL_DATE(IRecurrencePattern, PatternStartDate),
      TOOL_BOOL(IRecurrencePattern, NoEndDate),
      TOOL_LONG(IRecurrencePattern, Occurrences),
      TOOL_DATE(IRecurrencePattern, PatternEndDate),
  };
  return kProperties;
}

#undef TOOL_STRING
#undef TOOL_FIELD
#undef TOOL_DATE
#undef TOOL_LONG
#undef TOOL_BOOL
#undef TOOL_CONTACT_STRING
#undef TOOL_CONTACT_DATE

template <class I>
constexpr bool kHasRecipients = std::is_same_v<I, IAppointment>;
template <class I>
constexpr bool kRecurs = std::is_same_v<I, IAppointment> || std::is_same_v<I, ITask>;

using interop::Hex;

std::string Dump(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// ---- dump ----

Json ToJson(Type type, const Value& value) {
  switch (type) {
    case Type::kString:
      return Utf8FromUtf16(value.text);
    case Type::kDate:
      return DateToJson(value.date);
    case Type::kLong:
      return value.number;
    case Type::kBool:
      return value.flag;
  }
  return nullptr;
}

template <class I>
bool ReadProperties(I* object, const char* prefix, Json* out, std::string* why) {
  for (const Property<I>& property : Properties<I>()) {
    Value value;
    const HRESULT hr = property.get(object, &value);
    if (FAILED(hr)) {
      *why = std::string("reading ") + prefix + property.name + " failed (" + Hex(hr) + ")";
      return false;
    }
    (*out)[property.name] = ToJson(property.type, value);
  }
  return true;
}

bool ReadRecipients(IAppointment* item, Json* out, std::string* why) {
  IRecipients* recipients = nullptr;
  HRESULT hr = item->get_Recipients(&recipients);
  if (FAILED(hr) || !recipients) {
    *why = "reading Recipients failed (" + Hex(hr) + ")";
    return false;
  }
  INT count = 0;
  hr = recipients->get_Count(&count);
  Json list = Json::array();
  for (INT i = 1; SUCCEEDED(hr) && i <= count; ++i) {
    IRecipient* recipient = nullptr;
    hr = recipients->Item(i, &recipient);
    if (SUCCEEDED(hr) && !recipient) hr = E_POINTER;
    if (FAILED(hr)) break;
    Value name, address;
    hr = GetString<IRecipient, &IRecipient::get_Name>(recipient, &name);
    if (SUCCEEDED(hr)) hr = GetString<IRecipient, &IRecipient::get_Address>(recipient, &address);
    recipient->Release();
    Json entry = Json::object();
    entry["Name"] = Utf8FromUtf16(name.text);
    entry["Address"] = Utf8FromUtf16(address.text);
    list.push_back(std::move(entry));
  }
  recipients->Release();
  if (FAILED(hr)) {
    *why = "reading Recipients failed (" + Hex(hr) + ")";
    return false;
  }
  (*out)["Recipients"] = std::move(list);
  return true;
}

template <class I>
bool ReadRecurrence(I* item, Json* out, std::string* why) {
  VARIANT_BOOL recurring = VARIANT_FALSE;
  HRESULT hr = item->get_IsRecurring(&recurring);
  if (FAILED(hr)) {
    *why = "reading IsRecurring failed (" + Hex(hr) + ")";
    return false;
  }
  (*out)["IsRecurring"] = recurring != VARIANT_FALSE;
  if (recurring == VARIANT_FALSE) {
    (*out)["Recurrence"] = nullptr;
    return true;
  }
  IRecurrencePattern* pattern = nullptr;
  hr = item->GetRecurrencePattern(&pattern);
  if (FAILED(hr) || !pattern) {
    *why = "reading the recurrence pattern failed (" + Hex(hr) + ")";
    return false;
  }
  Json block = Json::object();
  const bool ok = ReadProperties(pattern, "Recurrence.", &block, why);
  pattern->Release();
  if (ok) (*out)["Recurrence"] = std::move(block);
  return ok;
}

template <class I>
bool ReadItem(I* item, Json* out, std::string* why) {
  *out = Json::object();
  if (!ReadProperties(item, "", out, why)) return false;
  if constexpr (kHasRecipients<I>) {
    if (!ReadRecipients(item, out, why)) return false;
  }
  if constexpr (kRecurs<I>) {
    if (!ReadRecurrence(item, out, why)) return false;
  }
  return true;
}

// ---- add: checking a line ----

bool ValueFromJson(Type type, const Json& given, Value* value, std::string* why) {
  switch (type) {
    case Type::kString:
      if (given.is_string()) {
        value->text = Utf16FromUtf8(given.get_ref<const std::string&>());
        return true;
      }
      *why = "expected a string, not " + Describe(given);
      return false;
    case Type::kDate:
      return DateFromJson(given, &value->date, why);
    case Type::kLong:
      return Int32FromJson(given, &value->number, why);
    case Type::kBool:
      return FlagFromJson(given, &value->flag, why);
  }
  return false;
}

struct Setting {
  size_t property;  // index in the kind's property table
  Value value;
  Json given;
};

struct RecipientPlan {
  std::u16string name;
  bool hasAddress = false;
  std::u16string address;
};

struct Plan {
  std::vector<Setting> settings;
  std::vector<RecipientPlan> recipients;
  bool recurs = false;
  std::vector<Setting> pattern;
};

template <class I>
bool FindProperty(const std::string& key, size_t* index) {
  const auto& properties = Properties<I>();
  for (size_t i = 0; i < properties.size(); ++i) {
    if (key == properties[i].name) {
      *index = i;
      return true;
    }
  }
  return false;
}

enum class Planned { kUnknownKey, kDone, kRefused };

// Adds the setting of one key to *settings, kept in the order of the property table.
template <class I>
Planned PlanSetting(const std::string& key, const Json& given, const char* prefix,
                    std::vector<Setting>* settings, std::string* why) {
  size_t index = 0;
  if (!FindProperty<I>(key, &index)) return Planned::kUnknownKey;
  Setting setting;
  setting.property = index;
  setting.given = given;
  if (!ValueFromJson(Properties<I>()[index].type, given, &setting.value, why)) {
    *why = prefix + key + ": " + *why;
    return Planned::kRefused;
  }
  auto at = settings->begin();
  while (at != settings->end() && at->property < index) ++at;
  settings->insert(at, std::move(setting));
  return Planned::kDone;
}

bool PlanRecipients(const Json& given, Plan* plan, std::string* why) {
  if (!given.is_array()) {
    *why = "Recipients: expected an array of {\"Name\", \"Address\"}, not " + Describe(given);
    return false;
  }
  for (size_t i = 0; i < given.size(); ++i) {
    const Json& entry = given[i];
    const std::string where = "Recipients[" + std::to_string(i) + "]";
    if (!entry.is_object()) {
      *why = where + ": expected an object with \"Name\" and \"Address\", not " + Describe(entry);
      return false;
    }
    RecipientPlan recipient;
    bool hasName = false;
    for (const auto& [key, value] : entry.items()) {
      if (key != "Name" && key != "Address") {
        *why = where + ": unknown key \"" + key + "\"";
        return false;
      }
      if (key == "Address" && value.is_null()) continue;
      if (!value.is_string()) {
        *why = where + "." + key + ": expected a string, not " + Describe(value);
        return false;
      }
      const std::u16string text = Utf16FromUtf8(value.get_ref<const std::string&>());
      if (key == "Name") {
        hasName = true;
        recipient.name = text;
      } else {
        recipient.hasAddress = true;
        recipient.address = text;
      }
    }
    if (!hasName) {
      *why = where + ": \"Name\" is missing";
      return false;
    }
    plan->recipients.push_back(std::move(recipient));
  }
  return true;
}

bool PlanRecurrence(const Json& given, Plan* plan, std::string* why) {
  if (given.is_null()) return true;
  if (!given.is_object()) {
    *why = "Recurrence: expected an object or null, not " + Describe(given);
    return false;
  }
  plan->recurs = true;
  for (const auto& [key, value] : given.items()) {
    const Planned planned =
        PlanSetting<IRecurrencePattern>(key, value, "Recurrence.", &plan->pattern, why);
    if (planned == Planned::kUnknownKey) *why = "Recurrence: unknown key \"" + key + "\"";
    if (planned != Planned::kDone) return false;
  }
  return true;
}

template <class I>
bool PlanItem(const std::string& line, Plan* plan, std::string* why) {
  Json object;
  if (!ParseJsonLine(line, &object, why)) return false;
  const Json* isRecurring = nullptr;
  for (const auto& [key, given] : object.items()) {
    const Planned planned = PlanSetting<I>(key, given, "", &plan->settings, why);
    if (planned == Planned::kRefused) return false;
    if (planned == Planned::kDone) continue;
    if constexpr (kHasRecipients<I>) {
      if (key == "Recipients") {
        if (!PlanRecipients(given, plan, why)) return false;
        continue;
      }
    }
    if constexpr (kRecurs<I>) {
      if (key == "Recurrence") {
        if (!PlanRecurrence(given, plan, why)) return false;
        continue;
      }
      if (key == "IsRecurring") {
        if (!given.is_boolean()) {
          *why = "IsRecurring: expected true or false, not " + Describe(given);
          return false;
        }
        isRecurring = &given;
        continue;
      }
    }
    *why = "unknown key \"" + key + "\"";
    return false;
  }
  // IsRecurring is what a dump shows; it is accepted back only when it agrees with
  // Recurrence, which alone makes an item repeat.
  if (isRecurring && isRecurring->get<bool>() != plan->recurs) {
    *why = isRecurring->get<bool>() ? "IsRecurring is true but no Recurrence is given"
                                    : "IsRecurring is false but a Recurrence is given";
    return false;
  }
  return true;
}

// ---- add: applying a checked line ----

std::string Refusal(HRESULT hr, const Json& given) {
  if (hr == E_INVALIDARG) return "the store refuses the value " + Describe(given);
  return "the store failed to set it (" + Hex(hr) + ")";
}

template <class I>
bool ApplySettings(I* object, const std::vector<Setting>& settings, const char* prefix,
                   std::string* why) {
  for (const Setting& setting : settings) {
    const Property<I>& property = Properties<I>()[setting.property];
    const HRESULT hr = property.put(object, setting.value);
    if (FAILED(hr)) {
      *why = std::string(prefix) + property.name + ": " + Refusal(hr, setting.given);
      return false;
    }
  }
  return true;
}

bool ApplyRecipients(IAppointment* item, const Plan& plan, std::string* why) {
  if (plan.recipients.empty()) return true;
  IRecipients* recipients = nullptr;
  HRESULT hr = item->get_Recipients(&recipients);
  if (FAILED(hr) || !recipients) {
    *why = "Recipients: the store failed to give them (" + Hex(hr) + ")";
    return false;
  }
  for (size_t i = 0; i < plan.recipients.size(); ++i) {
    const RecipientPlan& entry = plan.recipients[i];
    const std::string where = "Recipients[" + std::to_string(i) + "]";
    IRecipient* recipient = nullptr;
    BSTR name = SysAllocStringLen(entry.name.data(), static_cast<UINT>(entry.name.size()));
    hr = recipients->Add(name, &recipient);
    SysFreeString(name);
    if (FAILED(hr) || !recipient) {
      if (SUCCEEDED(hr)) hr = E_POINTER;
      *why = where + ".Name: the store failed to add it (" + Hex(hr) + ")";
      break;
    }
    if (entry.hasAddress) {
      Value address;
      address.text = entry.address;
      hr = PutString<IRecipient, &IRecipient::put_Address>(recipient, address);
      if (FAILED(hr)) *why = where + ".Address: the store failed to set it (" + Hex(hr) + ")";
    }
    recipient->Release();
    if (FAILED(hr)) break;
  }
  recipients->Release();
  return SUCCEEDED(hr);
}

bool SameValue(Type type, const Value& a, const Value& b) {
  switch (type) {
    case Type::kString:
      return a.text == b.text;
    case Type::kDate:
      return a.date == b.date;
    case Type::kLong:
      return a.number == b.number;
    case Type::kBool:
      return a.flag == b.flag;
  }
  return false;
}

// Sets the item's recurrence; *pattern stays held until the item is saved.
template <class I>
bool ApplyRecurrence(I* item, const Plan& plan, IRecurrencePattern** pattern, std::string* why) {
  if (!plan.recurs) return true;
  HRESULT hr = item->GetRecurrencePattern(pattern);
  if (FAILED(hr) || !*pattern) {
    *why = "Recurrence: the store failed to give the pattern (" + Hex(hr) + ")";
    return false;
  }
  // A pattern repeats only once its type is set: keep the fresh pattern's type when
  // the line gives none.
  if (plan.pattern.empty() || plan.pattern.front().property != 0) {
    const Property<IRecurrencePattern>& typeProperty = Properties<IRecurrencePattern>()[0];
    Value type;
    hr = typeProperty.get(*pattern, &type);
    if (SUCCEEDED(hr)) hr = typeProperty.put(*pattern, type);
    if (FAILED(hr)) {
      *why = "Recurrence.RecurrenceType: the store failed to set it (" + Hex(hr) + ")";
      return false;
    }
  }
  // A fresh pattern holds 0 in fields whose setters accept only 1 and up (DayOfMonth,
  // Instance, MonthOfYear); a value equal to the pattern's own is left alone, so that a
  // dumped pattern is taken back as it is.
  std::vector<Setting> changes;
  for (const Setting& setting : plan.pattern) {
    const Property<IRecurrencePattern>& property =
        Properties<IRecurrencePattern>()[setting.property];
    Value current;
    if (setting.property != 0 && SUCCEEDED(property.get(*pattern, &current)) &&
        SameValue(property.type, current, setting.value)) {
      continue;
    }
    changes.push_back(setting);
  }
  return ApplySettings(*pattern, changes, "Recurrence.", why);
}

template <class I>
bool CreateAndSave(IPOutlookApp* app, LONG itemType, const Plan& plan, std::string* why) {
  IDispatch* created = nullptr;
  HRESULT hr = app->CreateItem(itemType, &created);
  if (FAILED(hr) || !created) {
    *why = "the store could not create an item (" + Hex(hr) + ")";
    return false;
  }
  I* item = static_cast<I*>(created);
  IRecurrencePattern* pattern = nullptr;
  bool ok = ApplySettings(item, plan.settings, "", why);
  if constexpr (kHasRecipients<I>) {
    ok = ok && ApplyRecipients(item, plan, why);
  }
  if constexpr (kRecurs<I>) {
    ok = ok && ApplyRecurrence(item, plan, &pattern, why);
  }
  if (ok) {
    hr = item->Save();
    if (FAILED(hr)) {
      *why = "the store could not save the item (" + Hex(hr) + ")";
      ok = false;
    }
  }
  if (pattern) pattern->Release();
  created->Release();
  return ok;
}

// ---- the session ----

// COM started, the store logged on and one folder's items open, for one command.
class Session : public interop::StoreSession {
 public:
  bool Open(LONG folderId, std::ostream& err) {
    std::string error;
    if (StoreSession::Open(folderId, &error)) return true;
    err << "handheld: " << error << "\n";
    return false;
  }
};

template <class I>
int DumpItems(Session& session, std::ostream& out, std::ostream& err) {
  for (INT i = 1; i <= session.count(); ++i) {
    IDispatch* fetched = nullptr;
    const HRESULT hr = session.items()->Item(i, &fetched);
    if (FAILED(hr) || !fetched) {
      err << "handheld: item " << i << ": the store could not fetch it (" << Hex(hr) << ")\n";
      return 1;
    }
    Json object;
    std::string why;
    const bool ok = ReadItem(static_cast<I*>(fetched), &object, &why);
    fetched->Release();
    if (!ok) {
      err << "handheld: item " << i << ": " << why << "\n";
      return 1;
    }
    out << Dump(object) << '\n';
  }
  out.flush();
  return 0;
}

int ClearItems(Session& session, std::ostream& err) {
  const INT count = session.count();
  INT removed = 0;  // an item that another program removed first is skipped (S_FALSE)
  for (INT i = count; i >= 1; --i) {
    const HRESULT hr = session.items()->Remove(i);
    if (FAILED(hr)) {
      err << "handheld: removing item " << i << " failed (" << Hex(hr) << "); " << removed << " of "
          << count << " item(s) removed\n";
      return 1;
    }
    if (hr == S_OK) ++removed;
  }
  return 0;
}

template <class I>
int Run(Command command, LONG folderId, LONG itemType, std::istream& in, std::ostream& out,
        std::ostream& err) {
  Session session;
  if (!session.Open(folderId, err)) return 1;
  switch (command) {
    case Command::kDump:
      return DumpItems<I>(session, out, err);
    case Command::kAdd:
      return AddLines(in, err, "item", [&](const std::string& line, std::string* why) {
        Plan plan;
        return PlanItem<I>(line, &plan, why) &&
               CreateAndSave<I>(session.app(), itemType, plan, why);
      });
    case Command::kClear:
      return ClearItems(session, err);
    case Command::kCount:
      out << session.count() << "\n";
      return 0;
  }
  return 1;
}

}  // namespace

int RunStoreCommand(Command command, const Kind& kind, std::istream& in, std::ostream& out,
                    std::ostream& err) {
  switch (kind.folder) {
    case olFolderCalendar:
      return Run<IAppointment>(command, kind.folder, kind.itemType, in, out, err);
    case olFolderTasks:
      return Run<ITask>(command, kind.folder, kind.itemType, in, out, err);
    default:
      return Run<IContact>(command, kind.folder, kind.itemType, in, out, err);
  }
}

}  // namespace handheld::tool
