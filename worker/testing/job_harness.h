// Test support: runs one worker job the way the launch starts it and records what the
// worker posts.
//
// RunJob logs on to the store, prepares the job with the launch's own steps (jobprep.h;
// for calls with the call-log library loaded for the job), answers the removal prompt
// with `purgeFirst`, starts the worker with a recording window as the dialog, collects
// every posted (code, value) up to and including code 0, waits for the thread and logs
// off again, so that nothing stays alive afterwards. RunJobInOpenStore does the same
// with a store session the caller holds. When a step refuses the job, nothing stays
// open and JobRun::launchFailure holds the step's message id.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <type_traits>
#include <vector>

#include "handheld/faults.h"
#include "handheld/testing/sandbox.h"
#include "platform/store.h"
#include "worker/job.h"

namespace worker_testing {

struct Notice {
  int64_t code;
  int64_t value;
  bool operator==(const Notice&) const = default;
};

// "1/500 3/33 4/515+3 0/0": the completion value reads id+count.
std::string Describe(const std::vector<Notice>& notices);

struct JobOrder {
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
};

JobRun RunJob(const JobOrder& order);
JobRun RunJobInOpenStore(const JobOrder& order, const StoreSession& store);

// Store helpers for setting up and checking a scenario. Each logs on to the store for
// itself and off again, so they work with or without an open store. They and the helpers
// below are inline: the shell and tool tests use them without the harness.
struct ContactText {
  std::u16string title, firstName, lastName, body;
  bool operator==(const ContactText&) const = default;
};

template <class I>
HRESULT SaveNamed(IDispatch* item, HRESULT (I::*put)(BSTR), BSTR name) {
  I* typed = static_cast<I*>(item);
  (typed->*put)(name);
  return typed->Save();
}
// Saves `count` items of a store kind (olContactItem, olAppointmentItem, olTaskItem) named
// stem1, stem2, ...: a contact's first name, the others' subject.
inline void AddItems(LONG itemType, int count, const std::string& stem = "Item") {
  StoreSession store;
  ASSERT_TRUE(OpenStore(store));
  for (int i = 1; i <= count; ++i) {
    IDispatch* item = nullptr;
    ASSERT_GE(store.app->CreateItem(itemType, &item), 0);
    BSTR name = SysAllocString(handheld::testing::U16(stem + std::to_string(i)).c_str());
    EXPECT_GE(itemType == olContactItem ? SaveNamed(item, &IContact::put_FirstName, name)
              : itemType == olTaskItem  ? SaveNamed(item, &ITask::put_Subject, name)
                                        : SaveNamed(item, &IAppointment::put_Subject, name),
              0);
    SysFreeString(name);
    item->Release();
  }
  CloseStore(store);
}

// Calls `each` (unless null) with every item of a default folder (olFolderContacts, ...)
// in the store's order; the number of items, or -1 when the folder cannot be listed.
template <class Each>
int ForEachItem(LONG folderId, Each each) {
  StoreSession store;
  if (!OpenStore(store)) {
    ADD_FAILURE() << "store logon: " << store.failure;
    return -1;
  }
  IFolder* folder = nullptr;
  IPOutlookItemCollection* items = nullptr;
  INT count = -1;
  if (SUCCEEDED(store.app->GetDefaultFolder(folderId, &folder)) &&
      SUCCEEDED(folder->get_Items(&items)) && SUCCEEDED(items->get_Count(&count)) &&
      !std::is_null_pointer_v<Each>) {
    for (INT i = 1; i <= count; ++i) {
      IDispatch* item = nullptr;
      if (FAILED(items->Item(i, &item))) {
        ADD_FAILURE() << "item " << i << " cannot be fetched";
        break;
      }
      if constexpr (!std::is_null_pointer_v<Each>) each(item);
      item->Release();
    }
  }
  if (items != nullptr) items->Release();
  if (folder != nullptr) folder->Release();
  CloseStore(store);
  return count;
}
inline int CountItems(LONG folderId) {
  return ForEachItem(folderId, nullptr);
}
// The Contacts folder's items, in the store's order.
inline std::vector<ContactText> StoredContacts() {
  const auto text = [](IContact* contact, HRESULT (IContact::*getter)(BSTR*)) {
    BSTR value = nullptr;
    if (FAILED((contact->*getter)(&value))) return std::u16string(u"<unreadable>");
    std::u16string text(value == nullptr ? u"" : std::u16string(value, SysStringLen(value)));
    SysFreeString(value);
    return text;
  };
  std::vector<ContactText> contacts;
  const int listed = ForEachItem(olFolderContacts, [&](IDispatch* item) {
    auto* contact = static_cast<IContact*>(item);
    contacts.push_back(
        {text(contact, &IContact::get_Title), text(contact, &IContact::get_FirstName),
         text(contact, &IContact::get_LastName), text(contact, &IContact::get_Body)});
  });
  if (listed < 0) ADD_FAILURE() << "the contacts cannot be listed";
  return contacts;
}

// The records of a backup file behind its byte-order mark, cut at CR LF and into the
// TAB-ended fields; a field without its TAB is kept with "<no tab>" behind it.
using Fields = std::vector<std::u16string>;
inline std::vector<Fields> Records(const std::string& bytes) {
  if (bytes.size() < 2) return {};
  std::u16string text(bytes.size() / 2 - 1, u'\0');
  std::memcpy(text.data(), bytes.data() + 2, text.size() * 2);
  std::vector<Fields> records;
  for (size_t start = 0; start < text.size();) {
    const size_t end = std::min(text.find(u"\r\n", start), text.size());
    Fields& fields = records.emplace_back();
    for (size_t at = start; at < end;) {
      const size_t tab = std::min(text.find(u'\t', at), end);
      fields.push_back(text.substr(at, tab - at) + (tab == end ? u"<no tab>" : u""));
      at = tab + 1;
    }
    start = end + 2;
  }
  return records;
}
inline int RecordCount(const std::string& bytes) {
  return static_cast<int>(Records(bytes).size());
}

inline void Arm(const std::string& faults) {
  std::string error;
  ASSERT_TRUE(handheld::ArmFaults(faults, &error)) << error;
}

// A sandbox with a backup file of its own.
class JobTest : public handheld::testing::SandboxTest {
 protected:
  std::string BackupPath() { return sandbox().path("backup.txt"); }
  void WriteBackup(std::u16string_view text) {
    handheld::testing::WriteFileBytes(BackupPath(), handheld::testing::Utf16LeBytes(text, true));
  }
};

}  // namespace worker_testing
