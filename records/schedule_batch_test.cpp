// Calendar and tasks end to end: the `handheld` tool fills the store with an item whose
// every column is set, quillmote-batch saves it, loads the file into the emptied store
// and saves again, and the two files must be the same bytes.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "handheld/testing/sandbox.h"

namespace {

using handheld::testing::BinDir;
using handheld::testing::ReadFileBytes;

class ScheduleBatchTest : public handheld::testing::SandboxTest {
 protected:
  // Runs a program of the bin folder in the sandbox; returns its exit status and puts
  // its standard output into *out.
  int Run(const std::string& program, const std::string& args, const std::string& input,
          std::string* out) {
    handheld::testing::WriteFileBytes(sandbox().path("stdin"), input);
    const std::string line = "cd '" + sandbox().dir() + "' && '" + BinDir() + "/" + program + "' " +
                             args + " <stdin >stdout 2>stderr";
    const int raw = std::system(line.c_str());
    *out = ReadFileBytes(sandbox().path("stdout"));
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
};

TEST_F(ScheduleBatchTest, SavedLoadedIntoTheEmptiedStoreAndSavedAgainGivesTheSameFile) {
  for (const std::string program : {"quillmote-batch", "handheld"}) {
    if (!std::filesystem::exists(BinDir() + "/" + program)) GTEST_SKIP() << program << " not built";
  }
  const struct {
    const char* kind;
    const char* word;  // of the completion messages
    const char* item;
  } kinds[] = {
      {"calendar", "Календаря",
       R"({"Subject":"Planning\r\nround\tone","Location":"Room 4","Start":"2007-05-15T09:00:00",)"
       R"("End":"2007-05-15T12:00:00","AllDayEvent":true,"ReminderSet":true,)"
       R"("ReminderMinutesBeforeStart":30,"Categories":"Work","BusyStatus":3,"Sensitivity":2,)"
       R"("Body":"Agenda:\r\n1. budget","Recipients":[{"Name":"Pat","Address":"p@x.org"},)"
       R"({"Name":"Rob","Address":"r@x.org"}],"Recurrence":{"RecurrenceType":3,"Interval":2,)"
       R"("DayOfWeekMask":4,"Instance":2,"PatternStartDate":"2007-05-15T00:00:00",)"
       R"("NoEndDate":false,"Occurrences":6,"PatternEndDate":"2007-08-06T00:00:00"}})"},
      {"tasks", "Задач",
       R"({"Subject":"File the report","Importance":2,"Complete":true,)"
       R"("StartDate":"2007-05-15T00:00:00","DueDate":"2007-05-29T00:00:00",)"
       R"("ReminderSet":true,"ReminderTime":"2007-05-15T09:30:00","Categories":"Office",)"
       R"("Sensitivity":2,"Body":"first\r\nsecond","Recurrence":{"RecurrenceType":6,)"
       R"("DayOfWeekMask":2,"Instance":1,"MonthOfYear":3,)"
       R"("PatternStartDate":"2007-05-15T00:00:00","NoEndDate":false,"Occurrences":4,)"
       R"("PatternEndDate":"2011-03-07T00:00:00"}})"},
  };
  for (const auto& k : kinds) {
    SCOPED_TRACE(k.kind);
    const std::string kind = k.kind, word = k.word;
    std::string out;
    ASSERT_EQ(Run("handheld", "add " + kind, std::string(k.item) + "\n", &out), 0);
    ASSERT_EQ(Run("quillmote-batch", "save-" + kind + " first.txt", "", &out), 0);
    EXPECT_EQ(out, "Экспорт " + word + " завершен. Сохранено записей: 1\n");
    ASSERT_EQ(Run("quillmote-batch", "--replace load-" + kind + " first.txt", "", &out), 0);
    EXPECT_NE(out.find("Импорт " + word + " завершен. Загружено записей: 1\n"), std::string::npos)
        << out;
    ASSERT_EQ(Run("handheld", "count " + kind, "", &out), 0);
    EXPECT_EQ(out, "1\n");
    ASSERT_EQ(Run("quillmote-batch", "save-" + kind + " second.txt", "", &out), 0);
    const std::string first = ReadFileBytes(sandbox().path("first.txt"));
    EXPECT_GT(first.size(), 100u);
    EXPECT_EQ(ReadFileBytes(sandbox().path("second.txt")), first);
    std::filesystem::remove(sandbox().path("first.txt"));
    std::filesystem::remove(sandbox().path("second.txt"));
  }
}

}  // namespace
