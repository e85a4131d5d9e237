// The stand-in store's appointments and tasks read into plain values (itemvalues.h) and
// written from them: the one place that knows their store properties.
//
// Contract:
// - ReadAppointment and ReadTask read every property of a saved item, in the store's
//   order, and its pattern when it repeats (not its UID, see identity.h); the first
//   failing read's result otherwise, with *failed (when not null) naming that property
//   ("Subject", "the recurrence").
// - WriteAppointment and WriteTask set the values on a new item in the same order: texts,
//   times and flags; the reminder's minutes (or time) only when the reminder is set; the
//   pattern only when the item repeats. A recipient with an address is added with it; one
//   without is resolved as a load resolves a name (by a contact's "FirstName LastName" or
//   mail address, or a name holding "@") and, when it does not resolve, left out and
//   counted in `losses` (may be null). The first value the store refuses stops the write,
//   named in *failed (when not null).
// - NewAppointment and NewTask make a new, unsaved item of the values (the caller saves
//   it) and count the item's `losses`; when the store cannot create it or refuses a
//   value, nothing is counted and *error says so ("the store refused the appointment's
//   Start").
// - ResolveName resolves a name as a load does, with a new item that is never saved;
//   false when no contact has it.
#pragma once

#include <string>
#include <string_view>

#include "handheld/bstr.h"
#include "handheld/pimstore.h"
#include "interop/ical_losses.h"
#include "interop/itemvalues.h"

namespace interop {

HRESULT ReadAppointment(IAppointment* item, AppointmentValues* out, const char** failed);
HRESULT WriteAppointment(const AppointmentValues& values, IAppointment* item, ItemLosses* losses,
                         const char** failed);
HRESULT NewAppointment(IPOutlookApp* app, const AppointmentValues& values, ItemLosses* losses,
                       IAppointment** item, std::string* error);

HRESULT ReadTask(ITask* item, TaskValues* out, const char** failed);
HRESULT WriteTask(const TaskValues& values, ITask* item, const char** failed);
HRESULT NewTask(IPOutlookApp* app, const TaskValues& values, ItemLosses* losses, ITask** item,
                std::string* error);

bool ResolveName(IPOutlookApp* app, const std::u16string& name, std::u16string* address);

HRESULT ReadRecurrence(IRecurrencePattern* pattern, Recurrence* out);
// Sets RecurrenceType first, then the values that the type uses, the start and the end.
HRESULT WriteRecurrence(const Recurrence& recurrence, IRecurrencePattern* pattern);

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

// A new item of `itemType` from the store, used as its kind's interface.
template <class I>
HRESULT NewItem(IPOutlookApp* app, LONG itemType, I** item) {
  *item = nullptr;
  HRESULT hr = app->CreateItem(itemType, reinterpret_cast<IDispatch**>(item));
  if (SUCCEEDED(hr) && *item == nullptr) hr = E_POINTER;
  return hr;
}

}  // namespace interop
