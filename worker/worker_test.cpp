// The worker's export and purge runs, its notices, faults and stop, driven as the
// launch drives it.
#include <string>
#include <vector>

#include "handheld/callstore.h"
#include "handheld/census.h"
#include "handheld/faults.h"
#include "handheld/testing/sandbox.h"
#include "platform/calllog.h"
#include "worker/jobcontext.h"
#include "worker/testing/job_harness.h"
#include "worker/workerstate.h"

namespace {

using handheld::testing::ReadFileBytes;
using handheld::testing::U16;
using worker_testing::ContactText;
using worker_testing::Describe;
using worker_testing::Job;
using worker_testing::JobRun;
using worker_testing::Notice;

void Arm(const std::string& faults) {
  std::string error;
  ASSERT_TRUE(handheld::ArmFaults(faults, &error)) << error;
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
  const LPARAM done = MakeDoneValue(515, 70'000);
  EXPECT_EQ(DoneStringId(done), 515);
  EXPECT_EQ(DoneCount(done), 70'000u);
}

class WorkerTest : public handheld::testing::SandboxTest {
 protected:
  std::string BackupPath() { return sandbox().path("backup.txt"); }
  Job Export(ItemKind kind = KindContacts) {
    Job job;
    job.kind = kind;
    job.mode = ModeExport;
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
  ASSERT_EQ(run.launchFailure, 0);
  const std::vector<Notice> expected = {{NotifyStatus, 500},           {NotifyProgress, 33},
                                        {NotifyProgress, 66},          {NotifyProgress, 100},
                                        {NotifyDone, 515 + 3 * 65536}, {NotifyEnded, 0}};
  EXPECT_EQ(run.notices, expected) << Describe(run.notices);
  EXPECT_EQ(handheld::CensusReport(), "");

  const std::string bytes = ReadFileBytes(BackupPath());
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(RecordsIn(bytes), 3);
  // Collection order: the first record is the first contact.
  const std::string first = handheld::testing::Utf16LeBytes(u"\tAnna1\t", false);
  EXPECT_EQ(bytes.find(first), 2u);
}

TEST_F(WorkerTest, ProgressIsPostedOnlyWhenItGrows) {
  worker_testing::SaveNumberedContacts(250, "C");
  const JobRun run = worker_testing::RunJob(Export());
  ASSERT_EQ(run.launchFailure, 0);
  std::vector<Notice> expected = {{NotifyStatus, 500}};
  for (int percent = 1; percent <= 100; ++percent) expected.push_back({NotifyProgress, percent});
  expected.push_back({NotifyDone, MakeDoneValue(515, 250)});
  expected.push_back({NotifyEnded, 0});
  EXPECT_EQ(run.notices, expected) << Describe(run.notices);
  EXPECT_EQ(RecordsIn(ReadFileBytes(BackupPath())), 250);

  // The first two items give 0 percent: stopping as item 3's progress is posted leaves
  // three records and a first progress of 1.
  const JobRun stopped = [&] {
    Job job = Export();
    job.stopAtNotice = 1;
    return worker_testing::RunJob(job);
  }();
  const std::vector<Notice> stopSequence = {
      {NotifyStatus, 500}, {NotifyProgress, 1}, {NotifyEnded, 0}};
  EXPECT_EQ(stopped.notices, stopSequence) << Describe(stopped.notices);
  EXPECT_EQ(RecordsIn(ReadFileBytes(BackupPath())), 3);
}

TEST_F(WorkerTest, StopMidExportEndsAfterTheCurrentTurnWithOnlyTheEndNotice) {
  worker_testing::SaveNumberedContacts(40, "S");
  Job job = Export();
  job.stopAtNotice = 5;  // as the fifth progress notice (item 5 of 40) is posted
  const JobRun run = worker_testing::RunJob(job);
  ASSERT_TRUE(run.ended);
  ASSERT_EQ(run.notices.size(), 7u) << Describe(run.notices);
  EXPECT_EQ(run.notices[5], (Notice{NotifyProgress, 12}));
  EXPECT_EQ(run.notices[6], (Notice{NotifyEnded, 0}));
  // The file keeps the records written so far.
  EXPECT_EQ(RecordsIn(ReadFileBytes(BackupPath())), 5);
  EXPECT_EQ(handheld::CensusReport(), "");
}

TEST_F(WorkerTest, ExportFaultsStopTheJobWithTheirMessage) {
  worker_testing::SaveNumberedContacts(3, "F");
  const auto notices = [](int32_t error, std::vector<Notice> before) {
    before.insert(before.begin(), {NotifyStatus, 500});
    before.push_back({NotifyError, error});
    before.push_back({NotifyEnded, 0});
    return before;
  };

  // The second contact cannot be fetched: one record, then 530.
  Arm("item:2");
  JobRun run = worker_testing::RunJob(Export());
  EXPECT_EQ(run.notices, notices(530, {{NotifyProgress, 33}})) << Describe(run.notices);
  std::string bytes = ReadFileBytes(BackupPath());
  EXPECT_EQ(RecordsIn(bytes), 1);
  EXPECT_EQ(bytes.size() % 2, 0u);

  // A property of the second contact cannot be read: 609; the file is kept with the
  // first record and the second one's fields before the failed read.
  Arm("read:FirstName:2");
  run = worker_testing::RunJob(Export());
  EXPECT_EQ(run.notices, notices(609, {{NotifyProgress, 33}})) << Describe(run.notices);
  bytes = ReadFileBytes(BackupPath());
  EXPECT_EQ(RecordsIn(bytes), 1);
  const std::string afterFirst = bytes.substr(bytes.find(std::string("\r\0\n\0", 4)) + 4);
  EXPECT_EQ(afterFirst, handheld::testing::Utf16LeBytes(u"\t", false));  // empty title

  // A failed or short write deletes the file (the byte-order mark is write 1).
  for (const char* fault : {"write:2", "write:40", "shortwrite:3", "shortwrite:120"}) {
    Arm(fault);
    run = worker_testing::RunJob(Export());
    ASSERT_FALSE(run.notices.empty());
    EXPECT_EQ(run.notices[run.notices.size() - 2], (Notice{NotifyError, 607}))
        << fault << ": " << Describe(run.notices);
    EXPECT_EQ(run.notices.back(), (Notice{NotifyEnded, 0}));
    for (const Notice& notice : run.notices) EXPECT_NE(notice.code, NotifyDone) << fault;
    EXPECT_EQ(GetFileAttributesW(U16(BackupPath()).c_str()), INVALID_FILE_ATTRIBUTES) << fault;
    EXPECT_EQ(handheld::CensusReport(), "") << fault;
  }
}

TEST_F(WorkerTest, PurgeRemovesFromTheTopThenTheImportRunsInTheSameJob) {
  worker_testing::SaveNumberedContacts(4, "Old");
  WriteBackup(u"Mr\tNew1\t\r\nMs\tNew2\t\r\n");
  Job job;
  job.mode = ModeImport;
  job.purgeFirst = true;
  job.path = BackupPath();
  const JobRun run = worker_testing::RunJob(job);
  ASSERT_EQ(run.launchFailure, 0);
  ASSERT_GE(run.notices.size(), 9u) << Describe(run.notices);
  const std::vector<Notice> purge = {
      {NotifyStatus, 510},   {NotifyProgress, 25}, {NotifyProgress, 50}, {NotifyProgress, 75},
      {NotifyProgress, 100}, {NotifyProgress, 0},  {NotifyStatus, 505}};
  EXPECT_EQ(std::vector<Notice>(run.notices.begin(), run.notices.begin() + 7), purge)
      << Describe(run.notices);
  EXPECT_EQ(run.notices[run.notices.size() - 2], (Notice{NotifyDone, MakeDoneValue(520, 2)}));
  const std::vector<ContactText> expected = {{u"Mr", u"New1", u"", u""},
                                             {u"Ms", u"New2", u"", u""}};
  EXPECT_EQ(worker_testing::StoredContacts(), expected);
}

TEST_F(WorkerTest, FailedRemovalStopsThePurgeAndNoImportFollows) {
  worker_testing::SaveNumberedContacts(4, "Old");
  WriteBackup(u"Mr\tNew\t\r\n");
  Arm("remove:3");
  Job job;
  job.mode = ModeImport;
  job.purgeFirst = true;
  job.path = BackupPath();
  const JobRun run = worker_testing::RunJob(job);
  const std::vector<Notice> expected = {{NotifyStatus, 510},
                                        {NotifyProgress, 25},
                                        {NotifyProgress, 50},
                                        {NotifyError, 535},
                                        {NotifyEnded, 0}};
  EXPECT_EQ(run.notices, expected) << Describe(run.notices);
  // Items 4 and 3 went first; 1 and 2 stay, and nothing was imported.
  const std::vector<ContactText> left = {{u"", u"Old1", u"", u""}, {u"", u"Old2", u"", u""}};
  EXPECT_EQ(worker_testing::StoredContacts(), left);
}

TEST_F(WorkerTest, ExportedContactsComeBackThroughAPurgeAndImport) {
  worker_testing::SaveContacts({{u"Dr.", u"Anna", u"Berg", u"line one\r\nline\ttwo"},
                                {u"", u"Boris", u"", u""},
                                {u"", u"", u"Only a last name", u""}});
  ASSERT_EQ(worker_testing::RunJob(Export()).launchFailure, 0);
  Job job;
  job.mode = ModeImport;
  job.purgeFirst = true;
  job.path = BackupPath();
  const JobRun run = worker_testing::RunJob(job);
  EXPECT_EQ(run.notices[run.notices.size() - 2], (Notice{NotifyDone, MakeDoneValue(520, 3)}))
      << Describe(run.notices);
  // The tab inside the notes comes back as ",", the line break as a line break.
  const std::vector<ContactText> expected = {{u"Dr.", u"Anna", u"Berg", u"line one\r\nline,two"},
                                             {u"", u"Boris", u"", u""},
                                             {u"", u"", u"Only a last name", u""}};
  EXPECT_EQ(worker_testing::StoredContacts(), expected);
}

TEST_F(WorkerTest, CallLogExportClosesTheLogAtTheEnd) {
  std::string error;
  for (int i = 0; i < 2; ++i) {
    handheld::CallEntryData call;
    call.number = u"+100" + std::u16string(1, static_cast<char16_t>(u'0' + i));
    call.startTime = 130'000'000'000'000'000ull + static_cast<uint64_t>(i) * 600'000'000ull;
    call.endTime = call.startTime + 750'000'000ull;  // 75 s
    ASSERT_TRUE(handheld::AddCallEntry(call, &error)) << error;
  }
  // The library stays loaded across the job, as in the program: the worker itself must
  // close the log.
  LoadCallLogLibrary();
  ASSERT_TRUE(CallLogLibraryLoaded());
  JobRun run = worker_testing::RunJob(Export(KindCalls));
  EXPECT_FALSE(CallLogOpen());
  UnloadCallLogLibrary();
  const std::vector<Notice> expected = {{NotifyStatus, 503},
                                        {NotifyProgress, 50},
                                        {NotifyProgress, 100},
                                        {NotifyDone, MakeDoneValue(518, 2)},
                                        {NotifyEnded, 0}};
  EXPECT_EQ(run.notices, expected) << Describe(run.notices);
  EXPECT_EQ(RecordsIn(ReadFileBytes(BackupPath())), 2);
  EXPECT_EQ(handheld::CensusReport(), "");

  // An entry that cannot be fetched posts 533.
  Arm("calllog-entry:2");
  run = worker_testing::RunJob(Export(KindCalls));
  const std::vector<Notice> failed = {
      {NotifyStatus, 503}, {NotifyProgress, 50}, {NotifyError, 533}, {NotifyEnded, 0}};
  EXPECT_EQ(run.notices, failed) << Describe(run.notices);
  EXPECT_EQ(handheld::CensusReport(), "");
}

TEST_F(WorkerTest, EachKindPostsItsOwnMessageIds) {
  // Nothing to save: the launch refuses with 540 + kind and nothing is left open.
  EXPECT_EQ(worker_testing::RunJob(Export(KindCalendar)).launchFailure, 541);
  EXPECT_EQ(worker_testing::RunJob(Export(KindTasks)).launchFailure, 542);
  EXPECT_EQ(handheld::CensusReport(), "");

  WriteBackup(u"");
  for (const ItemKind kind : {KindCalendar, KindTasks}) {
    Job job;
    job.kind = kind;
    job.mode = ModeImport;
    job.path = BackupPath();
    const JobRun run = worker_testing::RunJob(job);
    const std::vector<Notice> expected = {{NotifyStatus, 505 + kind},
                                          {NotifyProgress, 100},
                                          {NotifyDone, MakeDoneValue(520 + kind, 0)},
                                          {NotifyEnded, 0}};
    EXPECT_EQ(run.notices, expected) << Describe(run.notices);
  }
}

}  // namespace
