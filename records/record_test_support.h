// Test support for the record tests: a logged-on store per test, whole export and
// import jobs run through the worker, backup records built and taken apart, and the
// checks that appointments and tasks share. The fixture ends every test with the
// census at zero.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "handheld/faults.h"
#include "handheld/testing/sandbox.h"
#include "platform/store.h"
#include "worker/stringids.h"
#include "worker/testing/job_harness.h"

namespace record_testing {

using worker_testing::Fields;
using Columns = std::map<int, std::u16string>;

// One record of `columns` fields, each followed by a TAB, then CR LF.
inline std::u16string Record(int columns, const Columns& values) {
  std::u16string line;
  for (int column = 0; column < columns; ++column) {
    if (values.contains(column)) line += values.at(column);
    line += u'\t';
  }
  return line + u"\r\n";
}

// The record whose fields `text` lists between "|": each field with its TAB, then CR LF.
inline std::u16string Line(std::u16string text) {
  for (char16_t& unit : text) unit = unit == u'|' ? u'\t' : unit;
  return text + u"\t\r\n";
}

using worker_testing::Records;

class RecordTest : public handheld::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    ASSERT_TRUE(OpenStore(store_));
    app_ = GetStoreApp(store_);
  }
  void TearDown() override {
    if (app_ != nullptr) app_->Release();
    CloseStore(store_);
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
    EXPECT_TRUE(SUCCEEDED(app_->GetDefaultFolder(folderId, &folder)));
    EXPECT_TRUE(SUCCEEDED(folder->get_Items(&items)));
    if (FAILED(items->Item(index, &item))) item = nullptr;
    items->Release();
    folder->Release();
    return static_cast<Item*>(item);
  }

  std::string path(const std::string& name) { return sandbox().path(name); }
  // Runs one job on a file of the sandbox and returns what the worker posted.
  std::string Run(ItemKind kind, JobMode mode, const std::string& name, bool purgeFirst = false) {
    const worker_testing::JobRun run =
        worker_testing::RunJobInOpenStore({kind, mode, purgeFirst, path(name)}, store_);
    if (run.launchFailure != 0) return "launch " + std::to_string(run.launchFailure);
    return worker_testing::Describe(run.notices);
  }
  std::vector<Fields> Export(ItemKind kind, std::string* notices = nullptr) {
    const std::string posted = Run(kind, ModeExport, "out.txt");
    if (notices != nullptr) *notices = posted;
    return Records(handheld::testing::ReadFileBytes(path("out.txt")));
  }
  // Imports `text` (behind a byte-order mark); the completion notice's count, or -1.
  int Import(ItemKind kind, const std::u16string& text) {
    handheld::testing::WriteFileBytes(path("in.txt"), handheld::testing::Utf16LeBytes(text, true));
    const std::string posted = Run(kind, ModeImport, "in.txt");
    const size_t done = posted.find(" 4/");
    if (done == std::string::npos) return -1;
    return std::stoi(posted.substr(posted.find('+', done) + 1));
  }

  // The record, loaded and saved, comes out as the same bytes; loaded from that file
  // into the emptied folder and saved again, the same bytes once more.
  void ExpectRoundTrip(ItemKind kind, const std::u16string& record) {
    ASSERT_EQ(Import(kind, record), 1);
    std::string notices;
    Export(kind, &notices);
    EXPECT_EQ(notices, "1/" + std::to_string(IDS_SAVING + kind) + " 3/100 4/" +
                           std::to_string(IDS_EXPORT_DONE + kind) + "+1 0/0");
    const std::string first = handheld::testing::ReadFileBytes(path("out.txt"));
    EXPECT_EQ(first, handheld::testing::Utf16LeBytes(record, true));
    const std::string reloaded = Run(kind, ModeImport, "out.txt", true);
    EXPECT_EQ(reloaded.substr(0, 6), "1/" + std::to_string(IDS_REMOVING + kind) + " ") << reloaded;
    Export(kind);
    EXPECT_EQ(handheld::testing::ReadFileBytes(path("out.txt")), first);
  }

  // With one item saved, each fault stops the export with 609; the chosen file is not
  // made, and the partial one keeps no part of the record.
  void ExpectReadFaults(ItemKind kind, const std::vector<std::string>& faults) {
    for (const std::string& fault : faults) {
      std::remove(path("out.txt").c_str());
      ASSERT_TRUE(handheld::ArmFaults(fault, nullptr)) << fault;
      const std::string notices = Run(kind, ModeExport, "out.txt");
      handheld::ClearFaults();
      EXPECT_EQ(notices, "1/" + std::to_string(IDS_SAVING + kind) + " 2/" +
                             std::to_string(IDS_NO_INFORMATION) + " 0/0")
          << fault;
      EXPECT_FALSE(std::filesystem::exists(path("out.txt"))) << fault;
      EXPECT_EQ(handheld::testing::ReadFileBytes(path("out.txt.partial")), "\xFF\xFE") << fault;
    }
  }

  // Each case: the fields imported as one record of `columns` (plus `more` records
  // that must create nothing), then columns of that record as exported afterwards.
  using ImportCase = std::pair<Columns, Columns>;
  void ExpectImported(ItemKind kind, int columns, int exported,
                      const std::vector<ImportCase>& cases, const std::u16string& more = u"") {
    std::u16string file;
    for (const auto& [in, out] : cases) file += Record(columns, in);
    EXPECT_EQ(Import(kind, file + more), static_cast<int>(cases.size()));
    const auto records = Export(kind);
    ASSERT_EQ(records.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
      ASSERT_EQ(records[i].size(), static_cast<size_t>(exported)) << "record " << i;
      for (const auto& [column, text] : cases[i].second) {
        EXPECT_EQ(records[i][column], text) << "record " << i << " column " << column;
      }
    }
  }

  StoreSession store_;
  IPOutlookApp* app_ = nullptr;
};

}  // namespace record_testing
