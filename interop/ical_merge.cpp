// The store's items merged into an iCalendar file an export finds in its way.
#include "interop/ical_merge.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>

#include "interop/ical_event.h"
#include "interop/ical_stream.h"
#include "interop/ical_todo.h"

namespace interop {
namespace {

std::string TakeText(char* text) {
  std::string out = text != nullptr ? text : "";
  free(text);
  return out;
}

// The content lines of a text, one at a time: where each begins and ends (its folds and
// line end included), its name and, unfolded, its value.
class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {}
  bool Next() {
    if (at_ >= text_.size()) return false;
    begin_ = at_;
    size_t firstEnd = std::string_view::npos;
    do {
      const size_t newline = text_.find('\n', at_);
      if (firstEnd == std::string_view::npos) firstEnd = newline;
      at_ = newline == std::string_view::npos ? text_.size() : newline + 1;
    } while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t'));
    folded_ = firstEnd != std::string_view::npos && firstEnd + 1 < at_;
    std::string_view first = text_.substr(begin_, std::min(firstEnd, text_.size()) - begin_);
    if (!first.empty() && first.back() == '\r') first.remove_suffix(1);
    first_ = first;
    name_ = first.substr(0, std::min(first.find_first_of(";:"), first.size()));
    return true;
  }
  size_t begin() const { return begin_; }
  size_t end() const { return at_; }
  std::string_view raw() const { return text_.substr(begin_, at_ - begin_); }
  // Whether the line's name is `name` (in capitals), in any case.
  bool Is(std::string_view name) const {
    return name_.size() == name.size() && strncasecmp(name_.data(), name.data(), name.size()) == 0;
  }
  std::string Name() const { return Upper(name_); }
  // The value, unfolded: after the first ':' outside quotes.
  std::string Value() const {
    std::string folded;
    std::string_view line = first_;
    if (folded_) {
      for (size_t i = begin_; i < at_; ++i) {
        const char c = text_[i];
        if (c == '\r') continue;
        if (c == '\n') {
          ++i;  // the fold's blank
          continue;
        }
        folded.push_back(c);
      }
      line = folded;
    }
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '"') quoted = !quoted;
      if (line[i] == ':' && !quoted) return std::string(line.substr(i + 1));
    }
    return "";
  }

 private:
  std::string_view text_;
  size_t at_ = 0, begin_ = 0;
  bool folded_ = false;
  std::string_view first_, name_;
};

// The group a property belongs to ("" for those an export never writes): a group is
// replaced whole or kept whole.
std::string GroupOf(const std::string& name) {
  static const std::map<std::string, std::string, std::less<>> kGroups = {
      {"DTSTART", "DTSTART"},       {"DTEND", "DTSTART"},
      {"DURATION", "DTSTART"},      {"DUE", "DTSTART"},
      {"X-QUILLMOTE-START-DATE", "DTSTART"},
      {"RRULE", "RRULE"},           {"RDATE", "RRULE"},
      {"EXDATE", "RRULE"},          {"EXRULE", "RRULE"},
      {"TRANSP", "TRANSP"},         {"X-MICROSOFT-CDO-BUSYSTATUS", "TRANSP"},
      {"STATUS", "STATUS"},         {"PERCENT-COMPLETE", "STATUS"},
      {"COMPLETED", "STATUS"},      {"SUMMARY", "SUMMARY"},
      {"LOCATION", "LOCATION"},     {"DESCRIPTION", "DESCRIPTION"},
      {"CATEGORIES", "CATEGORIES"}, {"CLASS", "CLASS"},
      {"ATTENDEE", "ATTENDEE"},     {"PRIORITY", "PRIORITY"},
  };
  const auto found = kGroups.find(name);
  return found != kGroups.end() ? found->second : "";
}

constexpr const char* kAlarm = "VALARM";

// A component's groups as it is written: the text of each group's properties, in order
// (`order` gets the groups as they first come), and the TRIGGER of the first VALARM.
std::map<std::string, std::string> GroupsOf(icalcomponent* component,
                                            std::vector<std::string>* order) {
  std::map<std::string, std::string> groups;
  if (component == nullptr) return groups;
  for (icalproperty* p = icalcomponent_get_first_property(component, ICAL_ANY_PROPERTY);
       p != nullptr; p = icalcomponent_get_next_property(component, ICAL_ANY_PROPERTY)) {
    const char* name = icalproperty_get_property_name(p);
    const std::string group = name != nullptr ? GroupOf(Upper(name)) : "";
    if (group.empty()) continue;
    if (order != nullptr && groups.count(group) == 0) order->push_back(group);
    groups[group] += TakeText(icalproperty_as_ical_string_r(p));
  }
  if (icalcomponent* alarm = icalcomponent_get_first_component(component, ICAL_VALARM_COMPONENT)) {
    icalproperty* trigger = icalcomponent_get_first_property(alarm, ICAL_TRIGGER_PROPERTY);
    groups[kAlarm] = trigger != nullptr ? TakeText(icalproperty_as_ical_string_r(trigger)) : "";
  }
  return groups;
}

// The file's component as the store would export it after importing it: read into
// values (its attendees resolved as a write resolves them), and mapped back. Null when it
// cannot be an item.
icalcomponent* AsExported(const IcalExporter& exporter, const NameResolver& resolve,
                          const ZoneTable& zones, std::string_view raw, bool overrides,
                          const char* uid) {
  icalcomponent* parsed = ParseComponent(raw);
  if (parsed == nullptr) return nullptr;
  const bool events = exporter.kind() == IcalKind::kEvents;
  icalcomponent* exported = nullptr;
  if (icalcomponent_isa(parsed) == (events ? ICAL_VEVENT_COMPONENT : ICAL_VTODO_COMPONENT)) {
    const ImportOptions options{&zones, overrides};
    ItemLosses uncounted(nullptr);
    std::string why;
    if (events) {
      AppointmentValues values;
      if (ValuesFromEvent(parsed, options, &uncounted, &values, &why)) {
        std::erase_if(values.recipients, [&](RecipientValues& r) {
          return r.address.empty() && !(resolve && resolve(r.name, &r.address));
        });
        values.uid = uid;
        exported = exporter.Component(values, nullptr, &why);
      }
    } else {
      TaskValues values;
      if (ValuesFromTodo(parsed, options, &uncounted, &values, &why)) {
        values.uid = uid;
        exported = exporter.Component(values, nullptr, &why);
      }
    }
  }
  icalcomponent_free(parsed);
  return exported;
}

// The file's component `raw` with the groups where `store` differs from what the file's
// component exports as replaced by the store's; false when no group differs.
bool MergeComponent(const IcalExporter& exporter, const NameResolver& resolve, const ZoneTable& zones,
                    std::string_view raw, bool overrides, icalcomponent* store, LossCounter* losses,
                    std::string* merged, bool* seriesGone) {
  icalcomponent* file =
      AsExported(exporter, resolve, zones, raw, overrides, icalcomponent_get_uid(store));
  std::vector<std::string> order;
  std::map<std::string, std::string> ours = GroupsOf(store, &order);
  const std::map<std::string, std::string> theirs = GroupsOf(file, nullptr);
  if (file != nullptr) icalcomponent_free(file);
  std::set<std::string> replaced;
  for (const auto& [group, text] : theirs) {
    if (ours[group] != text) replaced.insert(group);
  }
  for (const auto& [group, text] : ours) {
    if (theirs.count(group) == 0 && !text.empty()) replaced.insert(group);
  }
  if (replaced.empty()) return false;
  *seriesGone = overrides && replaced.count("RRULE") != 0;
  if (*seriesGone && losses != nullptr) {
    losses->NotKept("changed occurrences (RECURRENCE-ID) of a series changed here");
  }
  std::string storeAlarm;
  if (icalcomponent* alarm = icalcomponent_get_first_component(store, ICAL_VALARM_COMPONENT)) {
    storeAlarm = TakeText(icalcomponent_as_ical_string_r(alarm));
  }
  const bool alarmReplaced = replaced.count(kAlarm) != 0;

  std::set<std::string> emitted;
  auto emit = [&](const std::string& group) {
    if (emitted.insert(group).second) merged->append(ours[group]);
  };
  // Groups the file does not hold yet come before its first component, or its end.
  auto flush = [&] {
    for (const std::string& group : order) {
      if (replaced.count(group) != 0) emit(group);
    }
    for (const std::string& group : replaced) {
      if (group != kAlarm) emit(group);
    }
  };
  bool alarmDone = false, sawAlarm = false, skipping = false;
  int depth = 0;
  Lines lines(raw);
  while (lines.Next()) {
    const std::string name = lines.Name();
    if (depth >= 2) {  // inside a VALARM or another component of the component
      if (name == "BEGIN") ++depth;
      if (name == "END") --depth;
      if (!skipping) merged->append(lines.raw());
      if (depth == 1) skipping = false;
      continue;
    }
    if (depth == 0) {
      if (name == "BEGIN") depth = 1;
      merged->append(lines.raw());
      continue;
    }
    if (name == "BEGIN") {
      flush();
      depth = 2;
      if (!sawAlarm && Upper(lines.Value()) == kAlarm) {
        sawAlarm = true;
        if (alarmReplaced) {
          merged->append(storeAlarm);
          alarmDone = skipping = true;
          continue;
        }
      }
      merged->append(lines.raw());
    } else if (name == "END") {
      flush();
      if (alarmReplaced && !alarmDone) merged->append(storeAlarm);
      merged->append(lines.raw());
      depth = 0;
    } else if (const std::string group = GroupOf(name); replaced.count(group) != 0) {
      emit(group);
      if (group == "RRULE" && name != "RRULE" && losses != nullptr) {
        losses->NotKept(name + " of a series changed here");
      }
    } else {
      merged->append(lines.raw());
    }
  }
  return true;
}

}  // namespace

IcsFile::IcsFile(const IcalExporter& exporter, NameResolver resolve)
    : exporter_(exporter), resolve_(std::move(resolve)) {}

IcsFile::~IcsFile() = default;

bool IcsFile::Load(std::string text) {
  text_ = std::move(text);
  parts_.clear();
  bool sawCalendar = false;
  int depth = 0;  // 0 outside a VCALENDAR, 1 in it, 2 and more in one of its components
  size_t gap = 0;
  Part component;
  auto close = [&](size_t begin, size_t end, Part part) {
    if (end <= begin) return;
    part.begin = begin;
    part.end = end;
    parts_.push_back(std::move(part));
  };
  Lines lines(text_);
  while (lines.Next()) {
    const bool begin = lines.Is("BEGIN"), end = !begin && lines.Is("END");
    const std::string what = begin || end ? Upper(lines.Value()) : "";
    if (depth == 0) {
      if (begin && what == "VCALENDAR") depth = 1;
      sawCalendar = sawCalendar || depth == 1;
      continue;
    }
    if (end && what == "VCALENDAR") {
      if (depth >= 2) close(component.begin, lines.begin(), std::move(component));
      close(gap, lines.begin(), Part{});
      calendarEnd_ = parts_.size();
      close(lines.begin(), lines.end(), Part{});
      gap = lines.end();
      depth = 0;
      continue;
    }
    if (depth == 1) {
      if (!begin) continue;
      close(gap, lines.begin(), Part{});
      component = Part{};
      component.begin = lines.begin();
      component.name = what;
      depth = 2;
    } else if (begin) {
      ++depth;
    } else if (end && --depth == 1) {
      close(component.begin, lines.end(), std::move(component));
      gap = lines.end();
    } else if (depth == 2 &&
               (lines.Is("UID") || (component.name == "VTIMEZONE" && lines.Is("TZID")))) {
      component.id = lines.Value();
    } else if (depth == 2 && lines.Is("RECURRENCE-ID")) {
      component.recurrenceId = true;
    }
  }
  if (depth >= 2) close(component.begin, text_.size(), std::move(component));
  close(gap, text_.size(), Part{});
  const char* kind = exporter_.kind() == IcalKind::kEvents ? "VEVENT" : "VTODO";
  for (size_t i = 0; i < parts_.size(); ++i) {
    const Part& part = parts_[i];
    if (part.name != kind || part.id.empty()) continue;
    if (part.recurrenceId) {
      overrides_[part.id].push_back(i);
    } else {
      masters_.emplace(part.id, i);
    }
  }
  return sawCalendar;
}

const ZoneTable& IcsFile::Zones() {
  if (zones_ == nullptr) {
    zones_ = std::make_unique<ZoneTable>(exporter_.zone());
    for (const Part& part : parts_) {
      if (part.name != "VTIMEZONE") continue;
      icalcomponent* zone =
          ParseComponent(std::string_view(text_).substr(part.begin, part.end - part.begin));
      if (zone != nullptr && icalcomponent_isa(zone) == ICAL_VTIMEZONE_COMPONENT) {
        zones_->Add(zone);
      } else if (zone != nullptr) {
        icalcomponent_free(zone);
      }
    }
  }
  return *zones_;
}

void IcsFile::Merge(icalcomponent* store, const std::string& storeText, LossCounter* losses) {
  const char* uid = icalcomponent_get_uid(store);
  const std::string zoneName = exporter_.zone().named() && exporter_.vtimezone() != nullptr
                                   ? "TZID=" + exporter_.zone().name()
                                   : "";
  auto namesZone = [&](const std::string& text) {
    return !zoneName.empty() && text.find(zoneName) != std::string::npos;
  };
  const auto found = masters_.find(uid != nullptr ? uid : "");
  if (found == masters_.end()) {
    added_.push_back(storeText);
    needsZone_ = needsZone_ || namesZone(storeText);
    return;
  }
  Part& part = parts_[found->second];
  part.taken = true;
  std::vector<size_t>* overrides = nullptr;
  if (auto o = overrides_.find(found->first); o != overrides_.end()) overrides = &o->second;
  if (overrides != nullptr) {
    for (size_t i : *overrides) parts_[i].taken = true;
  }
  const std::string_view raw = std::string_view(text_).substr(part.begin, part.end - part.begin);
  if (raw == storeText) return;
  std::string merged;
  bool seriesGone = false;
  if (!MergeComponent(exporter_, resolve_, Zones(), raw, overrides != nullptr, store, losses, &merged,
                      &seriesGone)) {
    return;
  }
  part.replaced = true;
  part.replacement = std::move(merged);
  needsZone_ = needsZone_ || namesZone(part.replacement);
  if (seriesGone) {
    for (size_t i : *overrides) parts_[i].dropped = true;
  }
}

std::string IcsFile::Text() const {
  bool changed = !added_.empty();
  for (const Part& part : parts_) changed = changed || part.replaced || part.dropped;
  if (!changed) return text_;
  bool zoneDone = !needsZone_;
  for (const Part& part : parts_) {
    zoneDone = zoneDone || (part.name == "VTIMEZONE" && part.id == exporter_.zone().name());
  }
  const std::string zone = zoneDone ? "" : ComponentText(exporter_.vtimezone());
  std::string out;
  out.reserve(text_.size() + 4096);
  for (size_t i = 0; i < parts_.size(); ++i) {
    const Part& part = parts_[i];
    if (!zoneDone && (!part.name.empty() || i == calendarEnd_)) {
      out += zone;
      zoneDone = true;
    }
    if (i == calendarEnd_) {
      for (const std::string& text : added_) out += text;
    }
    if (part.dropped) continue;
    if (part.replaced) {
      out += part.replacement;
    } else {
      out.append(text_, part.begin, part.end - part.begin);
    }
  }
  if (calendarEnd_ == std::string::npos) {  // a file cut off in its VCALENDAR
    if (!zoneDone) out += zone;
    for (const std::string& text : added_) out += text;
  }
  return out;
}

long IcsFile::Others() const {
  long others = 0;
  for (const Part& part : parts_) {
    others += !part.name.empty() && part.name != "VTIMEZONE" && !part.taken ? 1 : 0;
  }
  return others;
}

}  // namespace interop
