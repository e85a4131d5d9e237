// An iCalendar file that an export finds in its way, and the store's items merged into
// it: the export changes in a file only what the store's item says otherwise.
//
// Contract:
// - IcsFile::Load cuts a file's text into the top-level components of its VCALENDARs
//   and the lines around them; false when it holds no VCALENDAR.
// - Merge puts the store's component of one item (`store`, and its text as the exporter
//   writes it) into the file. A file holding the item's series (a component with its UID
//   and no RECURRENCE-ID) keeps it as it is written when its text is the store's; else
//   that component is read into values as an import reads it (its attendees without a
//   mail address resolved by `resolve` as a write to the store resolves them, and left
//   out when they do not resolve), the values are exported again, and only the groups of
//   properties where that export and the store's differ are replaced by the store's, in
//   place: DTSTART with DTEND, DURATION and DUE; RRULE with RDATE, EXDATE, EXRULE and the
//   changed occurrences (components with RECURRENCE-ID), whose going is counted in
//   `losses`; TRANSP with X-MICROSOFT-CDO-BUSYSTATUS; STATUS with PERCENT-COMPLETE and
//   COMPLETED; all ATTENDEEs; the first VALARM (by its TRIGGER); and SUMMARY, LOCATION,
//   DESCRIPTION, CATEGORIES, CLASS and PRIORITY each. Every other property, parameter
//   and component stays as the file has it. An item the file does not hold is added at
//   the end of its last VCALENDAR.
// - Text gives the file's new text (the loaded text itself when nothing changed), with
//   the exporter's VTIMEZONE added before the first component when the new lines name its
//   zone and the file has none of that name. Others counts the components no Merge took.
#pragma once

#include <libical/ical.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "interop/ical_store.h"

namespace interop {

// The address of a name as a write to the store resolves it; false when it does not.
using NameResolver = std::function<bool(const std::u16string& name, std::u16string* address)>;

class IcsFile {
 public:
  IcsFile(const IcalExporter& exporter, NameResolver resolve);
  ~IcsFile();
  IcsFile(const IcsFile&) = delete;
  IcsFile& operator=(const IcsFile&) = delete;

  bool Load(std::string text);
  void Merge(icalcomponent* store, const std::string& storeText, LossCounter* losses);
  std::string Text() const;
  const std::string& loaded() const { return text_; }
  long Others() const;

 private:
  struct Part {
    size_t begin = 0, end = 0;  // of its text in text_
    std::string name;           // the component's name; "" for lines around components
    std::string id;             // its UID (a VTIMEZONE's TZID)
    bool recurrenceId = false;
    bool taken = false;  // a Merge matched it
    bool dropped = false;
    bool replaced = false;
    std::string replacement;
  };
  const ZoneTable& Zones();

  const IcalExporter& exporter_;
  NameResolver resolve_;
  std::string text_;
  std::vector<Part> parts_;
  std::unordered_map<std::string, size_t> masters_;  // UID -> its series' part
  std::unordered_map<std::string, std::vector<size_t>> overrides_;
  size_t calendarEnd_ = std::string::npos;  // the part with the last END:VCALENDAR
  std::vector<std::string> added_;
  bool needsZone_ = false;
  std::unique_ptr<ZoneTable> zones_;
};

}  // namespace interop
