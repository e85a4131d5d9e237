// The worker's export, purge and import runs, its notices, faults and stop, driven as
// the launch drives it.
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "handheld/census.h"
#include "handheld/faults.h"
#include "handheld/testing/sandbox.h"
#include "records/contact.h"
#include "worker/job.h"
#include "worker/stringids.h"
#include "worker/testing/job_harness.h"
#include "worker/workerstate.h"

namespace {

using handheld::testing::ReadFileBytes;
using handheld::testing::Utf16LeBytes;
using worker_testing::Arm;
using worker_testing::ContactText;
using worker_testing::Describe;
using worker_testing::JobOrder;
using worker_testing::JobRun;
using worker_testing::Notice;
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
  // (The completion count beyond 16 bits: DialogTest.JobNotifyCodes.)
}

class WorkerTest : public worker_testing::JobTest {
 protected:
  JobOrder Export() { return {KindContacts, ModeExport, false, BackupPath()}; }
  JobOrder PurgeAndImport() { return {KindContacts, ModeImport, true, BackupPath()}; }
  // Loads `bytes` (written as they are) into the Contacts folder.
  JobRun LoadBytes(const std::string& bytes, int stopAtNotice = -1) {
    handheld::testing::WriteFileBytes(BackupPath(), bytes);
    JobRun run =
        worker_testing::RunJob({KindContacts, ModeImport, false, BackupPath(), stopAtNotice});
    EXPECT_EQ(run.launchFailure, 0);
    EXPECT_EQ(handheld::CensusReport(), "");
    return run;
  }
  JobRun Load(std::u16string_view text, int stopAtNotice = -1) {
    return LoadBytes(Utf16LeBytes(text, true), stopAtNotice);
  }

  // The completion count, or -1 when the run did not complete.
  static int64_t Loaded(const JobRun& run) {
    for (const Notice& notice : run.notices) {
      if (notice.code == NotifyDone) {
        EXPECT_EQ(DoneStringId(notice.value), IDS_IMPORT_DONE);
        return DoneCount(notice.value);
      }
    }
    return -1;
  }
  // The error, and the records saved before it as the notice after it says ("605+2").
  static std::string ErrorOf(const JobRun& run) {
    for (size_t i = 0; i + 1 < run.notices.size(); ++i) {
      const Notice& next = run.notices[i + 1];
      if (run.notices[i].code != NotifyError) continue;
      EXPECT_EQ(next.code, NotifyStoppedCount);
      EXPECT_EQ(DoneStringId(next.value), IDS_LOADED_BEFORE_STOP);
      return std::to_string(run.notices[i].value) + "+" + std::to_string(DoneCount(next.value));
    }
    return "";
  }
  static ContactText Named(std::u16string title, std::u16string first) {
    return {std::move(title), std::move(first), u"", u""};
  }
};
using ImportTest = WorkerTest;

TEST_F(WorkerTest, AnExportPostsItsProgressOnlyWhenItGrowsAndWritesInCollectionOrder) {
  worker_testing::AddItems(olContactItem, 250, "C");
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

// Every early end of a save leaves no chosen file (over yesterday's backup: the fault
// matrix) and the whole records written so far in FILE.partial; a partial file left by a
// killed save is replaced by the next save of that name.
TEST_F(WorkerTest, ASaveThatEndsEarlyKeepsItsWholeRecordsBesideTheChosenFile) {
  worker_testing::AddItems(olContactItem, 3, "F");
  const std::string partial = BackupPath() + ".partial";
  struct Row {
    const char* fault;  // or "stop": the user's stop as item 3's progress is posted
    int32_t error;      // 0: no message
    int records;        // whole records in FILE.partial
  };
  const Row rows[] = {
      {"item:2", IDS_WORK_ERROR, 1},     {"read:FirstName:2", IDS_NO_INFORMATION, 1},
      {"write:40", IDS_WRITE_ERROR, 0},  {"shortwrite:120", IDS_WRITE_ERROR, 2},
      {"replace:1", IDS_WRITE_ERROR, 3}, {"stop", 0, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
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
    EXPECT_FALSE(std::filesystem::exists(BackupPath()));
    const std::string kept = ReadFileBytes(partial);
    EXPECT_EQ(kept.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(RecordCount(kept), row.records);
    EXPECT_EQ(kept.size() < 6 || kept.compare(kept.size() - 4, 4, "\r\0\n\0", 4) == 0, true)
        << "only whole records";
    EXPECT_EQ(FileCount(sandbox().dir()), 2u);  // and the store
    EXPECT_EQ(handheld::CensusReport(), "");
  }
  // The next save that ends well takes the name and leaves no partial file.
  handheld::ClearFaults();
  worker_testing::RunJob(Export());
  EXPECT_EQ(RecordCount(ReadFileBytes(BackupPath())), 3);
  EXPECT_EQ(FileCount(sandbox().dir()), 2u);
  EXPECT_FALSE(std::filesystem::exists(partial));
}

// (A failed removal: the fault matrix.)
TEST_F(WorkerTest, PurgeRemovesFromTheTopThenTheImportRunsInTheSameJob) {
  worker_testing::AddItems(olContactItem, 4, "Old");
  WriteBackup(u"Mr\tNew1\t\r\nMs\tNew2\t\r\n");
  const JobRun run = worker_testing::RunJob(PurgeAndImport());
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

}

// ---- The import reader: framing, field limits, record counting, faults and progress.

TEST_F(ImportTest, FileWithOnlyTheMarkCompletesWithNothingLoadedForEachKind) {
  WriteBackup(u"");
  for (const ItemKind kind : {KindContacts, KindCalendar, KindTasks}) {
    const JobRun run = worker_testing::RunJob({kind, ModeImport, false, BackupPath()});
    const std::vector<Notice> expected = {{NotifyStatus, IDS_LOADING + kind},
                                          {NotifyProgress, 100},
                                          {NotifyDone, MakeDoneValue(IDS_IMPORT_DONE + kind, 0)},
                                          {NotifyEnded, 0}};
    EXPECT_EQ(run.notices, expected) << Describe(run.notices);
  }
}

// What each line of a file creates: CR LF, LF alone, a missing TAB before the line end
// and a last line cut short by the end of the file all read alike, and CR is dropped even
// inside a field; empty lines and fields create nothing; columns beyond the last and
// fields over their limit are dropped, the rest of the line still read.
TEST_F(ImportTest, WhatEachLineCreates) {
  std::u16string longLine = u"T\tF\t";
  for (int column = 2; column < 60; ++column) longLine += u"x\t";
  std::u16string only51st(kContactColumns, u'\t');
  only51st += u"extra\t\r\n";
  const std::u16string atLimit(1024, u'a');
  const std::u16string overLimit(1025, u'b');
  // Notes (column 49) take the largest limit, which the line buffer must hold in full.
  const std::u16string notesAtLimit(61440, u'n');
  const std::u16string notesOver(61441, u'o');
  const std::u16string toNotes(49, u'\t');
  const JobRun run = Load(
      u"Dr.\tAnna\t\r\n"
      u"Mr\tBoris\n"
      u"\ta\rb\r\r\tc\r\n"
      u"\r\n\n\t\t\t\t\r\n"
      u"Mr\r\n" +
      longLine + u"\r\n" + only51st +             // creates a contact
      u"T1\t" + atLimit + u"\r\n" +               // accepted
      u"T2\t" + overLimit + u"\tafter\r\n" +      // dropped, line goes on
      overLimit + u"\r\n" +                       // creates nothing
      u"T3" + toNotes + notesAtLimit + u"\r\n" +  //
      u"T4" + toNotes + notesOver + u"\r\n" + u"\r\n\r\nMs\tDora");
  EXPECT_EQ(Loaded(run), 11) << Describe(run.notices);
  const std::vector<ContactText> expected = {
      Named(u"Dr.", u"Anna"), Named(u"Mr", u"Boris"),   Named(u"", u"ab"),
      Named(u"Mr", u""),      {u"T", u"F", u"x", u"x"}, Named(u"", u""),
      Named(u"T1", atLimit),  Named(u"T2", u""),        {u"T3", u"", u"", notesAtLimit},
      Named(u"T4", u""),      Named(u"Ms", u"Dora")};
  EXPECT_TRUE(worker_testing::StoredContacts() == expected);
}

// A failure stops the run; the records before it stay saved, the one it cut is not.
TEST_F(ImportTest, FailuresStopTheRunAfterTheCompleteRecords) {
  const struct {
    const char* fault;
    std::string bytes;
    const char* error;
    std::vector<ContactText> stored;  // in the folder afterwards, from every row so far
  } rows[] = {
      // An odd length: the record cut short by the stray byte is not saved.
      {"", Utf16LeBytes(u"Mr\tA\t\r\nMs\tB", true) + "x", "605+1", {Named(u"Mr", u"A")}},
      // File read 1 is the launch's check of the mark; read 4 is the third code unit.
      {"readfile:4", Utf16LeBytes(u"A\tB\t\r\n", true), "605+0", {Named(u"Mr", u"A")}},
      {"create:1", Utf16LeBytes(u"A\tB\t\r\nC\r\n", true), "545+0", {Named(u"Mr", u"A")}},
      {"create:2",
       Utf16LeBytes(u"A\r\nB\r\n", true),
       "545+1",
       {Named(u"Mr", u"A"), Named(u"A", u"")}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.fault);
    worker_testing::Arm(row.fault);
    const JobRun run = LoadBytes(row.bytes);
    EXPECT_EQ(ErrorOf(run), row.error) << Describe(run.notices);
    EXPECT_EQ(Loaded(run), -1);
    EXPECT_EQ(run.notices.back(), (Notice{NotifyEnded, 0}));
    EXPECT_EQ(worker_testing::StoredContacts(), row.stored);
  }

  // The shortest case: the mark, one code unit, one stray byte. The progress counts the
  // bytes consumed, the mark's among them, after every code unit.
  const JobRun shortest =
      LoadBytes(std::string("\xFF\xFE"
                            "a\0"
                            "z",
                            5));
  const std::vector<Notice> expected = {{NotifyStatus, IDS_LOADING},
                                        {NotifyProgress, 80},
                                        {NotifyError, IDS_READ_ERROR},
                                        {NotifyStoppedCount, IDS_LOADED_BEFORE_STOP},
                                        {NotifyEnded, 0}};
  EXPECT_EQ(shortest.notices, expected) << Describe(shortest.notices);
}

TEST_F(ImportTest, StopMidImportDropsTheRecordUnderConstruction) {
  // Notice 0 is the start; 1.. are progress, one per code unit here (52 bytes): stop
  // while the second record is under construction.
  const JobRun run = Load(u"A\t\r\nB\tlonger text here\t\r\n", 7);
  EXPECT_EQ(run.notices.back(), (Notice{NotifyEnded, 0}));
  EXPECT_EQ(Loaded(run), -1);
  EXPECT_EQ(worker_testing::StoredContacts(), std::vector<ContactText>{Named(u"A", u"")});
}

}  // namespace
