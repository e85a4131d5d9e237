// Test support: runs one worker job the way the launch starts it and records what the
// worker posts.
//
// RunJob opens the store (OpenStore), fills JobContext as the launch does for the job,
// starts WorkerThreadProc on its own thread with a recording window as the dialog,
// collects every posted (code, value) up to and including code 0, waits for the thread,
// closes its handle and closes the store again (CloseStore), so that nothing stays
// alive afterwards. RunJobInOpenStore does the same inside a store the caller has
// opened (and will close). Neither opens anything when the launch would refuse the
// job; JobRun::launchFailure then holds the launch's message id.
//
// Filling JobContext, per job:
//   export, kinds 0-2: the kind's default folder and its items, itemCount = Count
//                      (0 refuses with 540 + kind); the file created empty with FF FE.
//   export, calls:     the call log counted (CountCallLog; the library is loaded for the
//                      job when it is not); the file created with FF FE.
//   import:            the file opened, fileSize read, FF FE checked (else 606); app from
//                      GetStoreApp; folder, items and itemCount; with purgeFirst and a
//                      non-empty folder mode 3 (purge) and nextMode 2, else mode 2.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "worker/jobcontext.h"

namespace worker_testing {

struct Notice {
  int64_t code;
  int64_t value;
  bool operator==(const Notice&) const = default;
};

// "1/500 3/33 4/515+3 0/0": the completion value reads id+count.
std::string Describe(const std::vector<Notice>& notices);

struct Job {
  ItemKind kind = KindContacts;
  JobMode mode = ModeExport;  // ModeExport or ModeImport
  bool purgeFirst = false;    // import: the user answered Yes to the removal prompt
  std::string path;           // the backup file
  // When >= 0, the worker's stopFlag is set as the notice at this 0-based position is
  // posted (on the worker's thread, so the stop lands in that very turn).
  int stopAtNotice = -1;
};

struct JobRun {
  int32_t launchFailure = 0;    // the launch's message id; 0 when the worker ran
  std::vector<Notice> notices;  // everything posted, code 0 last
  bool ended = false;           // code 0 arrived and the thread was waited for
};

JobRun RunJob(const Job& job);
JobRun RunJobInOpenStore(const Job& job);

// Store helpers for setting up and checking a scenario. Each logs on to the store for
// itself and off again, so they work with or without an open store.
struct ContactText {
  std::u16string title, firstName, lastName, body;
  bool operator==(const ContactText&) const = default;
};
// Saves one contact per entry (only the non-empty texts are set).
void SaveContacts(const std::vector<ContactText>& contacts);
// Saves `count` contacts whose first names are stem1, stem2, ...
void SaveNumberedContacts(int count, const std::string& stem);
// The Contacts folder's items, in the store's order.
std::vector<ContactText> StoredContacts();

}  // namespace worker_testing
