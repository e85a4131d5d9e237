// The worker's export and purge runs, its notices, faults and stop, driven as the
// launch drives it.
#include <sys/stat.h>

#include <algorithm>
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

void Arm(const std::string& faults) {
  std::string error;
  ASSERT_TRUE(handheld::ArmFaults(faults, &error)) << error;
}

// The names in a folder, sorted.
std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

// Counts CR LF record ends in a UTF-16LE file body.
int RecordsIn(const std::string& bytes) {
  int records = 0;
  for (size_t i = 2; i + 3 < bytes.size(); i += 2) {
    if (bytes.compare(i, 4, std::string("\r\0\n\0", 4)) == 0) ++records;
  }
  return records;
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
  // 202 bytes: the byte-order mark and the first code unit give 400 / 202.
  EXPECT_EQ(PercentOf(4, 202), 1);
  EXPECT_EQ(PercentOf(0, 0), 0);
  EXPECT_EQ(PercentOf(7, 5), 100);

  // The completion count is not cut to 16 bits.
  const LPARAM done = MakeDoneValue(IDS_EXPORT_DONE, 70'000);
  EXPECT_EQ(DoneStringId(done), 515);
  EXPECT_EQ(DoneCount(done), 70'000u);
}

class WorkerTest : public handheld::testing::SandboxTest {
 protected:
  std::string BackupPath() { return sandbox().path("backup.txt"); }
  JobOrder Export(ItemKind kind = KindContacts) {
    JobOrder job;
    job.kind = kind;
    job.mode = ModeExport;
    job.path = BackupPath();
    return job;
  }
  JobOrder PurgeAndImport() {
    JobOrder job;
    job.mode = ModeImport;
    job.purgeFirst = true;
    job.path = BackupPath();
    return job;
  }
  void WriteBackup(std::u16string_view text) {
    handheld::testing::WriteFileBytes(BackupPath(), handheld::testing::Utf16LeBytes(text, true));
  }
};

TEST_F(WorkerTest, ThreeContactExportPostsTheFullSequenceAndWritesThreeRecords) {
  worker_testing::SaveNumberedContacts(3, "Anna");
  const JobRun run = worker_testing::RunJob(Export());
  const std::vector<Notice> expected = {{NotifyStatus, IDS_SAVING},
                                        {NotifyProgress, 33},
                                        {NotifyProgress, 66},
                                        {NotifyProgress, 100},
                                        {NotifyDone, IDS_EXPORT_DONE + 3 * 65536},
                                        {NotifyEnded, 0}};
  EXPECT_EQ(run.notices, expected) << Describe(run.notices);
  const std::string bytes = ReadFileBytes(BackupPath());
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(RecordsIn(bytes), 3);
  // Collection order: the first record is the first contact.
  EXPECT_EQ(bytes.find(handheld::testing::Utf16LeBytes(u"\tAnna1\t", false)), 2u);
}

TEST_F(WorkerTest, ProgressIsPostedOnlyWhenItGrows) {
  worker_testing::SaveNumberedContacts(250, "C");
  const JobRun run = worker_testing::RunJob(Export());
  std::vector<Notice> expected = {{NotifyStatus, IDS_SAVING}};
  for (int percent = 1; percent <= 100; ++percent) expected.push_back({NotifyProgress, percent});
  expected.push_back({NotifyDone, MakeDoneValue(IDS_EXPORT_DONE, 250)});
  expected.push_back({NotifyEnded, 0});
  EXPECT_EQ(run.notices, expected) << Describe(run.notices);
  EXPECT_EQ(RecordsIn(ReadFileBytes(BackupPath())), 250);

  // The first two items give 0 percent. A stop set as item 3's progress is posted ends
  // the job after that turn with only the end notice; the file keeps three records.
  const JobRun stopped = [&] {
    JobOrder job = Export();
    job.stopAtNotice = 1;
    return worker_testing::RunJob(job);
  }();
  const std::vector<Notice> stopSequence = {
      {NotifyStatus, IDS_SAVING}, {NotifyProgress, 1}, {NotifyEnded, 0}};
  EXPECT_EQ(stopped.notices, stopSequence) << Describe(stopped.notices);
  EXPECT_EQ(RecordsIn(ReadFileBytes(BackupPath())), 3);
}

TEST_F(WorkerTest, ExportFaultsStopTheJobWithTheirMessage) {
  worker_testing::SaveNumberedContacts(3, "F");
  const auto notices = [](int32_t error, std::vector<Notice> before) {
    before.insert(before.begin(), {NotifyStatus, IDS_SAVING});
    before.push_back({NotifyError, error});
    before.push_back({NotifyEnded, 0});
    return before;
  };

  // Without a file there before: the second contact cannot be fetched: one record,
  // then 530.
  Arm("item:2");
  JobRun run = worker_testing::RunJob(Export());
  EXPECT_EQ(run.notices, notices(IDS_WORK_ERROR, {{NotifyProgress, 33}})) << Describe(run.notices);
  std::string bytes = ReadFileBytes(BackupPath());
  EXPECT_EQ(RecordsIn(bytes), 1);
  EXPECT_EQ(bytes.size() % 2, 0u);

  // A property of the second contact cannot be read: 609; the file is kept with the
  // first record and the second one's fields before the failed read.
  std::remove(BackupPath().c_str());
  Arm("read:FirstName:2");
  run = worker_testing::RunJob(Export());
  EXPECT_EQ(run.notices, notices(IDS_NO_INFORMATION, {{NotifyProgress, 33}}))
      << Describe(run.notices);
  bytes = ReadFileBytes(BackupPath());
  EXPECT_EQ(RecordsIn(bytes), 1);
  const std::string afterFirst = bytes.substr(bytes.find(std::string("\r\0\n\0", 4)) + 4);
  EXPECT_EQ(afterFirst, handheld::testing::Utf16LeBytes(u"\t", false));  // empty title

  // A failed or short write leaves no file (the byte-order mark is write 1).
  for (const char* fault : {"write:2", "write:40", "shortwrite:3", "shortwrite:120"}) {
    std::remove(BackupPath().c_str());
    Arm(fault);
    run = worker_testing::RunJob(Export());
    ASSERT_FALSE(run.notices.empty());
    EXPECT_EQ(run.notices[run.notices.size() - 2], (Notice{NotifyError, IDS_WRITE_ERROR}))
        << fault << ": " << Describe(run.notices);
    EXPECT_EQ(run.notices.back(), (Notice{NotifyEnded, 0}));
    for (const Notice& notice : run.notices) EXPECT_NE(notice.code, NotifyDone) << fault;
    EXPECT_EQ(GetFileAttributesW(U16(BackupPath()).c_str()), INVALID_FILE_ATTRIBUTES) << fault;
    EXPECT_EQ(handheld::CensusReport(), "") << fault;
  }

  // Over yesterday's backup, every failure leaves it byte for byte, with its
  // permissions, and nothing beside it; a save that goes well or that is stopped takes
  // its place with its permissions.
  const std::string yesterday = handheld::testing::Utf16LeBytes(u"yesterday\t\r\n", true);
  handheld::testing::WriteFileBytes(BackupPath(), yesterday);
  const std::vector<std::string> files = FilesIn(sandbox().path(""));
  for (const char* fault :
       {"item:2", "read:FirstName:2", "write:1", "write:40", "shortwrite:120", "replace:1"}) {
    handheld::testing::WriteFileBytes(BackupPath(), yesterday);
    chmod(BackupPath().c_str(), 0640);
    Arm(fault);
    run = worker_testing::RunJob(Export());
    if (run.launchFailure == 0) {  // the byte-order mark is the launch's to write
      ASSERT_GE(run.notices.size(), 2u) << fault;
      EXPECT_EQ(run.notices[run.notices.size() - 2].code, NotifyError) << fault;
    }
    EXPECT_EQ(ReadFileBytes(BackupPath()), yesterday) << fault;
    EXPECT_EQ(FilesIn(sandbox().path("")), files) << fault;
    EXPECT_EQ(ModeOf(BackupPath()), 0640) << fault;
  }
  handheld::ClearFaults();
  run = worker_testing::RunJob(Export());
  EXPECT_EQ(RecordsIn(ReadFileBytes(BackupPath())), 3);
  EXPECT_EQ(ModeOf(BackupPath()), 0640);
  std::remove(BackupPath().c_str());
  run = worker_testing::RunJob(Export());
  EXPECT_EQ(ModeOf(BackupPath()), 0600);  // a new backup is the owner's alone
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
