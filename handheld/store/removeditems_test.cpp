// The removed-items files: one per purge, private, the newest 20 kept (an update's keeps:
// identity_test.cpp).
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "handheld/store/storetest.h"
#include "handheld/testing/sandbox.h"

namespace handheld::store::testing {
namespace {

using handheld::testing::ReadFileBytes;

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

// The names in the folder, oldest first as the store orders them (by name).
std::vector<std::string> Files(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class RemovedItemsTest : public handheld::testing::SandboxTest {};

TEST_F(RemovedItemsTest, PurgesKeepTheNewestTwentyFilesEachPrivate) {
  const std::string folder = sandbox().removedPath();
  std::filesystem::create_directories(folder);
  handheld::testing::WriteFileBytes(folder + "/notes.txt", "the user's own");
  Session session;
  std::string everything;
  for (int purge = 1; purge <= 21; ++purge) {
    SaveContact(session, handheld::testing::U16("P" + std::to_string(purge)));
    Ref<IPOutlookItemCollection> items = session.Items(olFolderContacts);
    ASSERT_EQ(items->Remove(1), S_OK);
  }
  std::vector<std::string> files = Files(folder);
  ASSERT_EQ(files.size(), 21u) << "20 purges' files and the user's own";
  EXPECT_EQ(ModeOf(folder), 0700u);
  for (const std::string& name : files) {
    if (name == "notes.txt") continue;
    EXPECT_TRUE(std::regex_match(name, std::regex("[0-9]{8}-[0-9]{6}-contacts(-[0-9]+)?\\.vcf")))
        << name;
    EXPECT_EQ(ModeOf(folder + "/" + name), 0600u) << name;
    everything += ReadFileBytes(folder + "/" + name);
  }
  // Made within a second or two, the files differ by their numbers; the first purge's
  // (number 1, no number in the name) is the one that went.
  EXPECT_EQ(everything.find("FN:P1\r\n"), std::string::npos);
  for (int purge = 2; purge <= 21; ++purge) {
    EXPECT_NE(everything.find("FN:P" + std::to_string(purge) + "\r\n"), std::string::npos)
        << purge;
  }
}

// The calendar's and the tasks' files hold their series and recipients; the census
// (checked after every test) shows that nothing the writer fetched stays held.
TEST_F(RemovedItemsTest, CalendarAndTaskPurgesKeepSeriesAndRecipients) {
  Session session;
  {
    Ref<IAppointment> meeting = session.Create<IAppointment>(olAppointmentItem);
    meeting->put_Subject(Bstr(u"Weekly"));
    Ref<IRecipients> recipients;
    ASSERT_EQ(meeting->get_Recipients(recipients.Out()), S_OK);
    recipients->Add(Bstr(u"vera@example.org"), nullptr);
    Ref<IRecurrencePattern> pattern;
    ASSERT_EQ(meeting->GetRecurrencePattern(pattern.Out()), S_OK);
    pattern->put_RecurrenceType(olRecursWeekly);
    pattern->put_DayOfWeekMask(2);
    ASSERT_EQ(meeting->Save(), S_OK);
    Ref<ITask> task = session.Create<ITask>(olTaskItem);
    task->put_Subject(Bstr(u"Daily"));
    task->put_StartDate(46000.0);
    task->put_ReminderSet(VARIANT_FALSE);
    ASSERT_EQ(task->GetRecurrencePattern(pattern.Out()), S_OK);
    pattern->put_RecurrenceType(olRecursDaily);
    pattern->put_PatternStartDate(46000.0);
    ASSERT_EQ(task->Save(), S_OK);
  }
  for (LONG folder : {olFolderCalendar, olFolderTasks}) {
    ASSERT_EQ(session.Items(folder)->Remove(1), S_OK);
  }
  std::string both;
  for (const std::string& name : Files(sandbox().removedPath())) {
    both += ReadFileBytes(sandbox().removedPath() + "/" + name);
  }
  for (const char* line : {"SUMMARY:Weekly\r\n", "RRULE:FREQ=WEEKLY;BYDAY=MO",
                           "mailto:vera@example.org\r\n", "SUMMARY:Daily\r\n",
                           "RRULE:FREQ=DAILY"}) {
    EXPECT_NE(both.find(line), std::string::npos) << line << " in\n" << both;
  }
}

}  // namespace
}  // namespace handheld::store::testing
