// What appointments (VEVENT) and tasks (VTODO) share in iCalendar: texts, categories,
// sensitivity, the recurrence of a component, and the account of what one item could
// not keep.
//
// Contract:
// - Texts: the store's UTF-16 with CR LF line ends is written as UTF-8 with LF line ends
//   and read back with CR LF. Zero and other control characters (tab aside) cannot be
//   written and are dropped; text that is not valid Unicode or not UTF-8 keeps U+FFFD in
//   place of each bad unit. Both are counted as losses.
// - Categories: the store's list, separated by commas, is one CATEGORIES value per
//   category; read back they are joined with ", ".
// - Sensitivity: 0 normal, 1 personal, 2 private, 3 confidential are CLASS PUBLIC (or
//   none), X-PERSONAL, PRIVATE and CONFIDENTIAL; any other CLASS reads as private, as
//   iCalendar asks of values a program does not know.
// - SeriesOf reads a component's recurrence into a store pattern, or names why the
//   store cannot hold it (several RRULEs, RDATE, EXDATE, EXRULE, changed occurrences,
//   and what RecurrenceFromRule refuses).
#pragma once

#include <libical/ical.h>

#include <string>
#include <string_view>
#include <vector>

#include "handheld/bstr.h"
#include "handheld/pimstore.h"
#include "interop/ical_losses.h"
#include "interop/ical_recurrence.h"
#include "interop/ical_time.h"

namespace interop {

// What every item of one export shares.
struct ExportOptions {
  const LocalZone* zone;
  icaltimetype stamp;  // DTSTAMP, in UTC
};

// What the import of one component needs.
struct ImportOptions {
  IPOutlookApp* app;
  const ZoneTable* zones;
  bool changed = false;  // the series has changed occurrences (RECURRENCE-ID) elsewhere
};

// The losses of one item, each named once, handed to the counter by Report once the
// item is made (an item that is not made loses nothing by itself).
class ItemLosses {
 public:
  explicit ItemLosses(LossCounter* counter) : counter_(counter) {}
  ItemLosses(const ItemLosses&) = delete;
  ItemLosses& operator=(const ItemLosses&) = delete;
  void Add(std::string_view what);
  // What is kept, but otherwise than the file says.
  void Change(std::string_view what);
  void Report();

 private:
  void Name(std::string_view what, bool change);

  LossCounter* counter_;
  std::vector<std::pair<std::string, bool>> named_;  // what, whether it is a change
};

template <class I>
HRESULT ReadText(I* item, HRESULT (I::*get)(BSTR*), std::u16string* out) {
  BSTR text = nullptr;
  HRESULT hr = (item->*get)(&text);
  if (SUCCEEDED(hr)) out->assign(text != nullptr ? text : u"", SysStringLen(text));
  SysFreeString(text);
  return hr;
}

template <class I>
HRESULT WriteText(I* item, HRESULT (I::*put)(BSTR), std::u16string_view value) {
  BSTR text = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
  if (text == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = (item->*put)(text);
  SysFreeString(text);
  return hr;
}

// Runs store calls in order until one fails, remembering which one did.
class Steps {
 public:
  template <class Call>
  void operator()(const char* name, Call&& call) {
    if (FAILED(result_)) return;
    result_ = call();
    if (FAILED(result_)) failed_ = name;
  }
  HRESULT result() const { return result_; }
  const char* failed() const { return failed_; }

 private:
  HRESULT result_ = S_OK;
  const char* failed_ = "";
};

// A new item of `itemType` from the store, used as its kind's interface.
template <class I>
HRESULT NewItem(IPOutlookApp* app, LONG itemType, I** item) {
  *item = nullptr;
  HRESULT hr = app->CreateItem(itemType, reinterpret_cast<IDispatch**>(item));
  if (SUCCEEDED(hr) && *item == nullptr) hr = E_POINTER;
  return hr;
}

// Hands out a new item whose values were all set, with its losses counted; or releases
// it and names the value that the store refused.
template <class I>
HRESULT HandOut(I* item, const Steps& steps, const char* noun, ItemLosses* losses, I** out,
                std::string* error) {
  if (FAILED(steps.result())) {
    item->Release();
    *error = std::string("the store refused the ") + noun + "'s " + steps.failed();
    return steps.result();
  }
  losses->Report();
  *out = item;
  return S_OK;
}

// The pattern of an appointment or task that repeats (*recurring false otherwise).
template <class I>
HRESULT ReadItemRecurrence(I* item, bool* recurring, Recurrence* out) {
  VARIANT_BOOL repeats = VARIANT_FALSE;
  HRESULT hr = item->get_IsRecurring(&repeats);
  *recurring = SUCCEEDED(hr) && repeats != VARIANT_FALSE;
  if (!*recurring) return hr;
  IRecurrencePattern* pattern = nullptr;
  hr = item->GetRecurrencePattern(&pattern);
  if (SUCCEEDED(hr) && pattern == nullptr) hr = E_POINTER;
  if (SUCCEEDED(hr)) hr = ReadRecurrence(pattern, out);
  if (pattern != nullptr) pattern->Release();
  return hr;
}

template <class I>
HRESULT WriteItemRecurrence(I* item, const Recurrence& recurrence) {
  IRecurrencePattern* pattern = nullptr;
  HRESULT hr = item->GetRecurrencePattern(&pattern);
  if (SUCCEEDED(hr) && pattern == nullptr) hr = E_POINTER;
  if (SUCCEEDED(hr)) hr = WriteRecurrence(recurrence, pattern);
  if (pattern != nullptr) pattern->Release();
  return hr;
}

std::string TextToIcal(std::u16string_view text, ItemLosses* losses);
std::u16string TextFromIcal(const char* text, ItemLosses* losses);

// Adds a text property (SUMMARY, LOCATION, DESCRIPTION) unless the text is empty.
void AddText(icalcomponent* component, icalproperty_kind kind, std::u16string_view text,
             ItemLosses* losses);
// The text of the component's first property of `kind` ("" when there is none).
std::u16string TextOf(icalcomponent* component, icalproperty_kind kind, ItemLosses* losses);

void AddCategories(icalcomponent* component, std::u16string_view categories, ItemLosses* losses);
std::u16string CategoriesOf(icalcomponent* component, ItemLosses* losses);

void AddClass(icalcomponent* component, LONG sensitivity);
LONG SensitivityOf(icalcomponent* component);

// A DISPLAY alarm with `trigger` and the subject as its text.
icalcomponent* NewAlarm(const icaltriggertype& trigger, const std::string& description);

// The component's recurrence, when it has one that the store can hold: true with
// *recurs false for a component without RRULE; false with the reason when the store
// cannot hold it. `anchor` is the property that starts the series (DTSTART, or a task's
// DUE) and `start` its value in local time. `changed` tells that the series has changed
// occurrences elsewhere in the stream (components with its UID and a RECURRENCE-ID). A
// series written in another zone is read in that zone's days and moved to local ones
// (daily and weekly series only, when the days differ); times that the other zone's
// clock changes would move are counted in `losses`.
bool SeriesOf(icalcomponent* component, icalproperty* anchor, const icaltimetype& start,
              const ZoneTable& zones, bool changed, bool* recurs, Recurrence* recurrence,
              std::string* why, ItemLosses* losses);

// Counts every property that the mapping did not take (kinds not in `taken`, X-
// properties not in the known lists), the parameters of those it took that it does not
// read ("LANGUAGE of SUMMARY"), and what libical could not read.
void CountUntaken(icalcomponent* component, const std::vector<icalproperty_kind>& taken,
                  ItemLosses* losses);

// The TZID parameter of a property (null when it has none).
const char* TzidOf(icalproperty* property);
// The DATE or DATE-TIME value of a property (the null time for another value).
icaltimetype TimeValue(icalproperty* property);
// The local wall clock of `value`, a DTSTART, DTEND, DUE or absolute TRIGGER written in
// `property`; an unknown TZID is read as local time and counted. False for a null time.
bool LocalTimeOf(icalproperty* property, const icaltimetype& value, const ZoneTable& zones,
                 ItemLosses* losses, icaltimetype* out);
long long DurationSeconds(const icaldurationtype& duration);

// The first X- property named `name` (any case), or null.
icalproperty* XProperty(icalcomponent* component, const char* name);

// The TRIGGER of the component's first VALARM (null when none), counting what the
// store's one reminder cannot keep: further VALARMs, repeats, actions other than a
// message or a sound.
icalproperty* FirstTrigger(icalcomponent* component, ItemLosses* losses);
bool RelatedToEnd(icalproperty* trigger);

}  // namespace interop
