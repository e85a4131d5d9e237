// Appointments and tasks between the stand-in's store and iCalendar files or calendar
// folders: the calendar's and the tasks' entries of formats.h, and the iCalendar format of
// the transfer engine (engine.h), whose contract they follow.
//
// Contract (as vcard.h for contacts, with .ics files):
// - ExportCalendar / ExportTasks write every appointment or task of the session's folder,
//   in the store's order, to PATH. A folder gets one UID.ics per item, each a whole
//   VCALENDAR (with the local zone's VTIMEZONE when its times name it), made when
//   missing, rewritten only when it changed; any other PATH becomes one .ics file with
//   every item, written whole or not at all. Each component's UID is its item's store
//   identifier. DTSTAMP is fixed, so that an unchanged item gives the same bytes at every
//   export and a sync tool sees no change.
// - ImportCalendar / ImportTasks read one .ics file, or every *.ics file of a folder in
//   name order, and save one item per VEVENT or VTODO (with `replace`, the folder's items
//   are removed first). A component whose UID an item holds updates or leaves that item,
//   and any other adds one under its UID, as cards do contacts (vcard.h). Components that cannot be read or made items are named by file and
//   line in the problems and skipped; components of another kind are left out and told;
//   each file that holds nothing, and a folder without files, is told ("FILE: no items").
// - Both note in `losses` what the files cannot keep (export) or the store cannot keep
//   (import), per item or component. They change the store in batches of a bounded size;
//   a store or file failure stops the transfer with the reason in result->error, and what
//   was saved before it stays saved.
#pragma once

#include <string>

#include "interop/losses.h"
#include "interop/storesession.h"
#include "interop/transfer.h"

namespace interop {

// The session must have the Calendar (or Tasks) folder open.
void ExportCalendar(StoreSession& session, const std::string& path, Losses* losses,
                    TransferResult* result);
void ImportCalendar(StoreSession& session, const std::string& path, bool replace, Losses* losses,
                    TransferResult* result);
void ImportCalendar(StoreSession& session, const std::string& path, bool replace, Losses* losses,
                    TransferResult* result, Reading reading);
void ExportTasks(StoreSession& session, const std::string& path, Losses* losses,
                 TransferResult* result);
void ImportTasks(StoreSession& session, const std::string& path, bool replace, Losses* losses,
                 TransferResult* result);
void ImportTasks(StoreSession& session, const std::string& path, bool replace, Losses* losses,
                 TransferResult* result, Reading reading);

// Whether the .ics file at `path` (or the first .ics file of a folder) holds more to-dos
// than events: for telling a calendar from a task list. False when it cannot be read.
bool HoldsTasks(const std::string& path);
bool HoldsEvents(const std::string& path);

}  // namespace interop
