// The worker's export and purge runs, its notices, faults and stop, driven as the
// launch drives it.
#include <iterator>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "handheld/census.h"
#include "handheld/faults.h"
#include "handheld/testing/sandbox.h"
#include "worker/job.h"
#include "worker/stringids.h"
#include "worker/testing/job_harness.h"
#include "worker/workerstate.h"

namespace {

using handheld::testing::ReadFileBytes;
using handheld::testing::U16;
using worker_testing::ContactText;
using worker_testing::Describe;
using worker_testing::JobOrder;
using worker_testing::JobRun;
using worker_testing::Notice;
using worker_testing::Arm;
using worker_testing::RecordCount;

// The files of a folder (the store's among them).
size_t FileCount(const std::string& folder) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

TEST(ProgressTest, PercentagesStayRightForLargeBasesAndCounts) {
  // A file past 4 GiB: 32-bit arithmetic would wrap the size and the product.
  const uint64_t fiveGiB = 5ull << 30;
  EXPECT_EQ(PercentOf(2, fiveGiB), 0);
  EXPECT_EQ(PercentOf(fiveGiB / 2, fiveGiB), 50);
  EXPECT_EQ(PercentOf(fiveGiB - 1, fiveGiB), 99);
  EXPECT_EQ(PercentOf(fiveGiB, fiveGiB), 100);
  // 30,000,000 items: itemIndex * 100 passes 2^31.
  EXPECT_EQ(PercentOf(22'000'000, 30'000'000), 73);
  EXPECT_EQ(PercentOf(0, 0), 0);
  EXPECT_EQ(PercentOf(7, 5), 100);

  // The completion count is not cut to 16 bits.
  const LPARAM done = MakeDoneValue(IDS_EXPORT_DONE, 70'000);
  EXPECT_EQ(DoneStringId(done), 515);
  EXPECT_EQ(DoneCount(done), 70'000u);
}

class WorkerTest : public worker_testing::JobTest {
 protected:
  JobOrder Export() { return {KindContacts, ModeExport, false, BackupPath()}; }
  JobOrder PurgeAndImport() { return {KindContacts, ModeImport, true, BackupPath()}; }
};

TEST_F(WorkerTest, AnExportPostsItsProgressOnlyWhenItGrowsAndWritesInCollectionOrder) {
  worker_testing::SaveNumberedContacts(250, "C");
  const JobRun run = worker_testing::RunJob(Export());
  std::vector<Notice> expected = {{NotifyStatus, IDS_SAVING}};
  for (int percent = 1; percent <= 100; ++percent) expected.push_back({NotifyProgress, percent});
  expected.push_back({NotifyDone, MakeDoneValue(IDS_EXPORT_DONE, 250)});
  expected.push_back({NotifyEnded, 0});
  EXPECT_EQ(run.notices, expected) << Describe(run.notices);
  const std::string bytes = ReadFileBytes(BackupPath());
  EXPECT_EQ(RecordCount(bytes), 250);
  EXPECT_EQ(bytes.find(handheld::testing::Utf16LeBytes(u"\tC1\t", false)), 2u);
}

// Every early end of a save leaves the chosen file as it was (yesterday's backup, or
// none) and the whole records written so far in FILE.partial; a partial file left by a
// killed save is replaced by the next save of that name.
TEST_F(WorkerTest, ASaveThatEndsEarlyKeepsItsWholeRecordsBesideTheChosenFile) {
  worker_testing::SaveNumberedContacts(3, "F");
  const std::string partial = BackupPath() + ".partial";
  const std::string yesterday = handheld::testing::Utf16LeBytes(u"yesterday\t\r\n", true);
  struct Row {
    const char* fault;  // or "stop": the user's stop as item 3's progress is posted
    int32_t error;      // 0: no message
    int records;        // whole records in FILE.partial
  };
  const Row rows[] = {
      {"item:2", IDS_WORK_ERROR, 1},       {"read:FirstName:2", IDS_NO_INFORMATION, 1},
      {"write:40", IDS_WRITE_ERROR, 0},    {"shortwrite:120", IDS_WRITE_ERROR, 2},
      {"replace:1", IDS_WRITE_ERROR, 3},   {"stop", 0, 2},
  };
  for (const bool over : {false, true}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(row.fault) + (over ? " over a file" : ""));
      std::remove(BackupPath().c_str());
      if (over) handheld::testing::WriteFileBytes(BackupPath(), yesterday);
      handheld::testing::WriteFileBytes(partial, "left by a killed save");
      JobOrder order = Export();
      if (std::string(row.fault) == "stop") {
        order.stopAtNotice = 2;
      } else {
        Arm(row.fault);
      }
      const JobRun run = worker_testing::RunJob(order);
      ASSERT_GE(run.notices.size(), 2u);
      EXPECT_EQ(run.notices[run.notices.size() - 2],
                (row.error != 0 ? Notice{NotifyError, row.error} : Notice{NotifyProgress, 66}))
          << Describe(run.notices);
      if (over) {
        EXPECT_EQ(ReadFileBytes(BackupPath()), yesterday);
      } else {
        EXPECT_EQ(GetFileAttributesW(U16(BackupPath()).c_str()), INVALID_FILE_ATTRIBUTES);
      }
      const std::string kept = ReadFileBytes(partial);
      EXPECT_EQ(kept.substr(0, 2), "\xFF\xFE");
      EXPECT_EQ(RecordCount(kept), row.records);
      EXPECT_EQ(kept.size() < 6 || kept.compare(kept.size() - 4, 4, "\r\0\n\0", 4) == 0, true)
          << "only whole records";
      EXPECT_EQ(FileCount(sandbox().dir()), over ? 3u : 2u);  // and the store
      EXPECT_EQ(handheld::CensusReport(), "");
    }
  }
  // The next save that ends well takes the name and leaves no partial file.
  handheld::ClearFaults();
  worker_testing::RunJob(Export());
  EXPECT_EQ(RecordCount(ReadFileBytes(BackupPath())), 3);
  EXPECT_EQ(FileCount(sandbox().dir()), 2u);
  EXPECT_FALSE(std::filesystem::exists(partial));
}

TEST_F(WorkerTest, PurgeRemovesFromTheTopThenTheImportRunsInTheSameJob) {
  worker_testing::SaveNumberedContacts(4, "Old");
  WriteBackup(u"Mr\tNew1\t\r\nMs\tNew2\t\r\n");
  JobRun run = worker_testing::RunJob(PurgeAndImport());
  ASSERT_GE(run.notices.size(), 9u) << Describe(run.notices);
  const std::vector<Notice> purge = {{NotifyStatus, IDS_REMOVING}, {NotifyProgress, 25},
                                     {NotifyProgress, 50},         {NotifyProgress, 75},
                                     {NotifyProgress, 100},        {NotifyProgress, 0},
                                     {NotifyStatus, IDS_LOADING}};
  EXPECT_EQ(std::vector<Notice>(run.notices.begin(), run.notices.begin() + 7), purge)
      << Describe(run.notices);
  EXPECT_EQ(run.notices[run.notices.size() - 2],
            (Notice{NotifyDone, MakeDoneValue(IDS_IMPORT_DONE, 2)}));
  const std::vector<ContactText> imported = {{u"Mr", u"New1", u"", u""},
                                             {u"Ms", u"New2", u"", u""}};
  EXPECT_EQ(worker_testing::StoredContacts(), imported);

  // A failed removal stops the purge and no import follows: items 4 and 3 went first.
  worker_testing::SaveNumberedContacts(2, "Old");
  Arm("remove:3");
  run = worker_testing::RunJob(PurgeAndImport());
  const std::vector<Notice> expected = {{NotifyStatus, IDS_REMOVING},
                                        {NotifyProgress, 25},
                                        {NotifyProgress, 50},
                                        {NotifyError, IDS_REMOVE_ERROR},
                                        {NotifyEnded, 0}};
  EXPECT_EQ(run.notices, expected) << Describe(run.notices);
  EXPECT_EQ(worker_testing::StoredContacts(), imported);
}

}  // namespace
