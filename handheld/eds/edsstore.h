// The store's items kept in Evolution Data Server: the desktop's (and a Linux phone's)
// own address book, calendar and task list behind the store's item interface
// (handheld/store/itembackend.h). Built as the module edsstore.so, which a logon loads
// when HANDHELD_STORE begins with "eds:".
//
// Contract:
// - "eds:" takes each kind's default source; "eds:X" the source of each kind whose UID or
//   display name is X, and a kind that has no such source its default; a name that no
//   kind has fails the logon, naming the sources there are. A session bus or a registry
//   that cannot be reached fails the logon with the reason; a source that cannot be
//   opened fails its folder (OpenFolder) with the reason, also written to standard error,
//   and so does every call that EDS refuses. No call waits longer than kCallLimit (then
//   it is cancelled and fails).
// - Items are EDS's own: contacts as vCards, appointments as VEVENTs, tasks as VTODOs,
//   mapped to and from the store's values by the same mapping as vCard and iCalendar
//   files (interop/vcardcontact.h, ical_event.h, ical_todo.h). An item keeps its EDS UID,
//   which is also its identifier (itemidentity.h); items made here get UIDs that sort in
//   the order they were made, and a folder lists by UID, so a listing's order is the same
//   for an unchanged source and a loaded backup lists in the file's order.
// - A change writes only what the values changed: the item as EDS holds it is merged
//   with the new values (the merge of an export into an existing file), so photos,
//   further addresses, alarms, exceptions and every other property the values do not
//   hold stay as they are. An item the values cannot express whole (a read found
//   something they do not hold) is told once per kind and logon on standard error, at
//   logoff: "kept in Evolution Data Server only: ...".
// - A batch and grouped adds (storebatch.h) make the adds 500 a call, each full group
//   while the next one gathers; changes, removals and reads first make what is held.
//   EndBatch(false) drops the adds not yet made. When EDS does not take a group whole,
//   standard error tells how many of it EDS holds, the adds held after it are not made,
//   the add that finds it fails, and so do EndBatch and KeepAdds (whose count is what EDS
//   holds of the adds). A logoff makes grouped adds and drops a batch's.
// - What a save holds stays the same however many items there are: a calendar's listing
//   carries the UIDs alone; one of at most kWholeListing items is then read whole and its
//   values kept until a write or their read, a larger one is read a UID a call, a
//   read-ahead's calls at once.
// - Changes() counts this logon's writes only: EDS tells other programs' changes through
//   a main loop that this store does not run, so rows read ahead (at most 256) may be up
//   to one read old.
#pragma once

#include <chrono>
#include <cstddef>

namespace handheld::eds {

inline constexpr std::chrono::milliseconds kCallLimit{30000};
// A calendar of at most this many items is read whole by its listing.
inline constexpr size_t kWholeListing = 2500;

}  // namespace handheld::eds
