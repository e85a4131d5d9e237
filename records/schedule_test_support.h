// Test support for the appointment, task and recurrence tests: a logged-on store per
// test, items made and read back through it, and backup lines built and taken apart as
// UTF-16 text. Every test ends with the census at zero (the fixture checks it).
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "handheld/bstr.h"
#include "handheld/faults.h"
#include "handheld/pimstore.h"
#include "handheld/testing/sandbox.h"
#include "platform/store.h"
#include "worker/jobcontext.h"
#include "worker/testing/job_harness.h"

namespace schedule_testing {

using handheld::testing::U16;
using handheld::testing::U8;

// One record of `columns` fields, each followed by a TAB, then CR LF; the fields not
// named in `values` are empty.
inline std::u16string Record(int columns, const std::map<int, std::u16string>& values) {
  std::u16string line;
  for (int column = 0; column < columns; ++column) {
    const auto found = values.find(column);
    if (found != values.end()) line += found->second;
    line += u'\t';
  }
  return line + u"\r\n";
}

// The records of a backup file (behind its byte-order mark), each cut into its fields.
// A record that ends in TAB, CR, LF yields exactly its fields; "\r\n" must end each.
inline std::vector<std::vector<std::u16string>> Records(const std::string& bytes) {
  std::vector<std::vector<std::u16string>> records;
  if (bytes.size() < 2) return records;
  std::u16string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    text += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                  static_cast<uint8_t>(bytes[i + 1]) << 8);
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(u"\r\n", start);
    if (end == std::u16string::npos) end = text.size();
    std::vector<std::u16string> fields;
    size_t field = start;
    for (size_t tab = text.find(u'\t', field); tab != std::u16string::npos && tab < end;
         tab = text.find(u'\t', field)) {
      fields.push_back(text.substr(field, tab - field));
      field = tab + 1;
    }
    if (field < end) fields.push_back(text.substr(field, end - field) + u"<no tab>");
    records.push_back(fields);
    start = end + 2;
  }
  return records;
}

// A BSTR's text; frees it.
inline std::u16string Take(BSTR text) {
  std::u16string value(text != nullptr ? text : u"", SysStringLen(text));
  SysFreeString(text);
  return value;
}

inline BSTR Bstr(std::u16string_view text) {
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// The fields of `record` from `first` on, `count` of them.
inline std::vector<std::u16string> Slice(const std::vector<std::u16string>& record, size_t first,
                                         size_t count) {
  if (first + count > record.size()) return {};
  return {record.begin() + first, record.begin() + first + count};
}

class ScheduleTest : public handheld::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    ASSERT_TRUE(OpenStore());
    app_ = GetStoreApp();
    ASSERT_NE(app_, nullptr);
  }
  void TearDown() override {
    if (app_ != nullptr) app_->Release();
    app_ = nullptr;
    CloseStore();
    SandboxTest::TearDown();
  }

  IPOutlookApp* app() { return app_; }

  template <typename Item>
  Item* Create(LONG itemType) {
    IDispatch* item = nullptr;
    EXPECT_TRUE(SUCCEEDED(app_->CreateItem(itemType, &item)));
    return static_cast<Item*>(item);
  }
  IAppointment* CreateAppointment() { return Create<IAppointment>(olAppointmentItem); }
  ITask* CreateTask() { return Create<ITask>(olTaskItem); }

  // The item at a 1-based index of a folder, or null; the caller releases it.
  template <typename Item>
  Item* Fetch(LONG folderId, INT index) {
    IFolder* folder = nullptr;
    IPOutlookItemCollection* items = nullptr;
    IDispatch* item = nullptr;
    if (SUCCEEDED(app_->GetDefaultFolder(folderId, &folder))) {
      if (SUCCEEDED(folder->get_Items(&items))) {
        if (FAILED(items->Item(index, &item))) item = nullptr;
        items->Release();
      }
      folder->Release();
    }
    return static_cast<Item*>(item);
  }
  IAppointment* FetchAppointment(INT index) { return Fetch<IAppointment>(olFolderCalendar, index); }
  ITask* FetchTask(INT index) { return Fetch<ITask>(olFolderTasks, index); }

  INT Count(LONG folderId) {
    INT count = -1;
    IFolder* folder = nullptr;
    IPOutlookItemCollection* items = nullptr;
    if (SUCCEEDED(app_->GetDefaultFolder(folderId, &folder))) {
      if (SUCCEEDED(folder->get_Items(&items))) {
        items->get_Count(&count);
        items->Release();
      }
      folder->Release();
    }
    return count;
  }

  // Runs an export job of `kind` into `name` in the sandbox and returns its notices.
  std::string ExportTo(ItemKind kind, const std::string& name) {
    worker_testing::Job job;
    job.kind = kind;
    job.mode = ModeExport;
    job.path = sandbox().path(name);
    const worker_testing::JobRun run = worker_testing::RunJobInOpenStore(job);
    if (run.launchFailure != 0) return "launch " + std::to_string(run.launchFailure);
    return worker_testing::Describe(run.notices);
  }
  std::vector<std::vector<std::u16string>> Export(ItemKind kind, std::string* notices = nullptr) {
    const std::string described = ExportTo(kind, "export.txt");
    if (notices != nullptr) *notices = described;
    return Records(handheld::testing::ReadFileBytes(sandbox().path("export.txt")));
  }

  // Writes `text` behind the byte-order mark and runs an import job of `kind` from it.
  std::string Import(ItemKind kind, std::u16string_view text, const std::string& name = "in.txt") {
    handheld::testing::WriteFileBytes(sandbox().path(name),
                                      handheld::testing::Utf16LeBytes(text, true));
    worker_testing::Job job;
    job.kind = kind;
    job.mode = ModeImport;
    job.path = sandbox().path(name);
    const worker_testing::JobRun run = worker_testing::RunJobInOpenStore(job);
    if (run.launchFailure != 0) return "launch " + std::to_string(run.launchFailure);
    return worker_testing::Describe(run.notices);
  }

 private:
  IPOutlookApp* app_ = nullptr;
};

}  // namespace schedule_testing
