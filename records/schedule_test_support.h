// Test support for the appointment, task and recurrence tests: a logged-on store per
// test, whole export and import jobs run through the worker, and backup records built
// and taken apart. The fixture ends every test with the census at zero.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "handheld/testing/sandbox.h"
#include "platform/store.h"
#include "worker/testing/job_harness.h"

namespace schedule_testing {

using Fields = std::vector<std::u16string>;

// One record of `columns` fields, each followed by a TAB, then CR LF.
inline std::u16string Record(int columns, const std::map<int, std::u16string>& values) {
  std::u16string line;
  for (int column = 0; column < columns; ++column) {
    if (values.contains(column)) line += values.at(column);
    line += u'\t';
  }
  return line + u"\r\n";
}

// The records of a backup file behind its byte-order mark, cut at CR LF and into the
// TAB-ended fields; a field without its TAB is kept with "<no tab>" behind it.
inline std::vector<Fields> Records(const std::string& bytes) {
  std::vector<Fields> records(1);
  std::u16string field;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    const auto unit = static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                            static_cast<uint8_t>(bytes[i + 1]) << 8);
    if (unit == u'\t') {
      records.back().push_back(field);
      field.clear();
    } else if (unit == u'\n' && field == u"\r") {
      records.emplace_back();
      field.clear();
    } else {
      field += unit;
    }
  }
  if (!field.empty()) records.back().push_back(field + u"<no tab>");
  if (records.back().empty()) records.pop_back();
  return records;
}

// The fields of a record joined by "|", for compact expectations.
inline std::u16string Joined(const Fields& fields) {
  std::u16string text;
  for (size_t i = 0; i < fields.size(); ++i) text += (i > 0 ? u"|" : u"") + fields[i];
  return text;
}

class ScheduleTest : public handheld::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    ASSERT_TRUE(OpenStore());
    app_ = GetStoreApp();
  }
  void TearDown() override {
    if (app_ != nullptr) app_->Release();
    CloseStore();
    SandboxTest::TearDown();
  }

  template <typename Item>
  Item* Create(LONG itemType) {
    IDispatch* item = nullptr;
    EXPECT_TRUE(SUCCEEDED(app_->CreateItem(itemType, &item)));
    return static_cast<Item*>(item);
  }
  // The item at a 1-based index of a folder (the caller releases it), or null.
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

  // Runs one job on a file of the sandbox and returns what the worker posted.
  std::string Run(ItemKind kind, JobMode mode, const std::string& name, bool purgeFirst = false) {
    worker_testing::Job job;
    job.kind = kind;
    job.mode = mode;
    job.purgeFirst = purgeFirst;
    job.path = sandbox().path(name);
    const worker_testing::JobRun run = worker_testing::RunJobInOpenStore(job);
    if (run.launchFailure != 0) return "launch " + std::to_string(run.launchFailure);
    return worker_testing::Describe(run.notices);
  }
  std::vector<Fields> Export(ItemKind kind, std::string* notices = nullptr) {
    const std::string posted = Run(kind, ModeExport, "out.txt");
    if (notices != nullptr) *notices = posted;
    return Records(handheld::testing::ReadFileBytes(sandbox().path("out.txt")));
  }
  // Imports `text` (behind a byte-order mark) and returns the completion notice's count.
  int Import(ItemKind kind, const std::u16string& text) {
    handheld::testing::WriteFileBytes(sandbox().path("in.txt"),
                                      handheld::testing::Utf16LeBytes(text, true));
    const std::string posted = Run(kind, ModeImport, "in.txt");
    const size_t done = posted.find(" 4/");
    if (done == std::string::npos) return -1;
    return std::stoi(posted.substr(posted.find('+', done) + 1));
  }

  IPOutlookApp* app_ = nullptr;
};

}  // namespace schedule_testing
