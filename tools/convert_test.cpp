// quillmote-convert end to end: backup files through vCard and iCalendar files and
// folders and back, with quillmote-batch's own messages and exit statuses, and nothing
// left behind.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tools/tool_test_support.h"

namespace {

using handheld::testing::ReadFileBytes;
using handheld::testing::WriteFileBytes;
using tool_testing::Result;

class ConvertTest : public tool_testing::ToolTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    temporary_ = sandbox().path("tmp");
    mkdir(temporary_.c_str(), 0700);
  }
  Result Convert(const std::vector<std::string>& args) {
    return Run("quillmote-convert", args, "", {"TMPDIR=" + temporary_});
  }
  // The records of a backup file, sorted (a folder gives them in its files' order).
  static std::vector<std::string> Records(const std::string& bytes) {
    std::vector<std::string> records;
    for (size_t start = 2, end;
         (end = bytes.find(std::string("\r\0\n\0", 4), start)) != std::string::npos;
         start = end + 4) {
      records.push_back(bytes.substr(start, end - start));
    }
    std::sort(records.begin(), records.end());
    return records;
  }
  // The files of a folder, each with what it holds.
  static std::map<std::string, std::string> Files(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      files[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
    }
    return files;
  }
  bool NothingLeft() const { return std::filesystem::is_empty(temporary_); }

  std::string temporary_;
};

TEST_F(ConvertTest, ABackupThroughVCardGivesBackTheSameBytes) {
  // The sample file, and a backup saved from contacts with every awkward text.
  const std::string sample = std::string(QUILLMOTE_SOURCE_DIR) + "/examples/contacts.txt";
  ASSERT_EQ(Run("handheld", {"add", "contacts"},
                "{\"FirstName\": \"a, b; c\\\\ d\", \"LastName\": \"Ёжик 😀\", "
                "\"Email2Address\": \"two@example.org\", \"Home2TelephoneNumber\": \"2\", "
                "\"Body\": \"line one\\r\\nline two\", \"Categories\": \"x, y,z\", "
                "\"Birthday\": \"1899-12-29T00:00:00\", \"Anniversary\": \"2024-02-29T00:00:00\"}\n"
                "{\"CompanyName\": \"Only a company\", \"OtherAddressCountry\": \"Nowhere\"}\n")
                .status,
            0);
  const std::string made = sandbox().path("made.txt");
  ASSERT_EQ(Batch({"save-contacts", made}).status, 0);
  for (const std::string& backup : {sample, made}) {
    const std::string vcf = sandbox().path("contacts.vcf"), back = sandbox().path("back.txt");
    Result there = Convert({"--overwrite", backup, vcf});
    EXPECT_EQ(there.status, 0) << there.err;
    EXPECT_NE(there.out.find("Импорт Контактов завершен. Загружено записей: "), std::string::npos)
        << there.out;
    EXPECT_EQ(ReadFileBytes(vcf).substr(0, 13), "BEGIN:VCARD\r\n");
    Result back_ = Convert({"--overwrite", vcf, back});
    EXPECT_EQ(back_.status, 0) << back_.err;
    EXPECT_NE(back_.out.find("Экспорт Контактов завершен. Сохранено записей: "), std::string::npos);
    EXPECT_EQ(ReadFileBytes(back), ReadFileBytes(backup)) << backup;

    // Through an address-book folder: the same records, in the folder's order. Converted
    // into it again, the same files: the contacts are named alike.
    const std::string folder = sandbox().path("book") + "/";
    std::filesystem::remove_all(folder);
    EXPECT_EQ(Convert({backup, folder}).status, 0);
    const std::map<std::string, std::string> files = Files(folder);
    EXPECT_EQ(Convert({backup, folder}).status, 0);
    EXPECT_EQ(Files(folder), files);
    EXPECT_EQ(Convert({"--overwrite", folder, back}).status, 0);
    EXPECT_EQ(Records(ReadFileBytes(back)), Records(ReadFileBytes(backup)));
  }
  EXPECT_TRUE(NothingLeft());
  // The handheld's own store was never touched: it holds the two contacts added above.
  EXPECT_EQ(Count("contacts"), "2\n");
}

TEST_F(ConvertTest, CalendarAndTaskBackupsThroughICalendar) {
  const std::string samples = std::string(QUILLMOTE_SOURCE_DIR) + "/examples/";
  // The sample calendar, and a task backup whose repeating task starts on its first
  // occurrence (the sample's starts before it, which iCalendar cannot keep).
  ASSERT_EQ(Run("handheld", {"add", "tasks"},
                "{\"Subject\": \"Report\", \"StartDate\": \"2030-01-20T00:00:00\", "
                "\"DueDate\": \"2030-01-20T00:00:00\", \"ReminderSet\": true, "
                "\"ReminderTime\": \"2030-01-19T09:00:00\", \"Recurrence\": "
                "{\"RecurrenceType\": 2, \"Interval\": 1, \"DayOfMonth\": 20, "
                "\"PatternStartDate\": \"2030-01-20T00:00:00\", \"NoEndDate\": true}}\n"
                "{\"Subject\": \"Plants\", \"Complete\": true, \"Importance\": 2, "
                "\"DueDate\": \"2030-01-05T00:00:00\"}\n")
                .status,
            0);
  const std::string tasks = sandbox().path("tasks.txt");
  ASSERT_EQ(Batch({"save-tasks", tasks}).status, 0);
  for (const auto& [kind, backup] :
       {std::pair<std::string, std::string>{"calendar", samples + "calendar.txt"},
        {"tasks", tasks}}) {
    const std::string ics = sandbox().path(kind + ".ics"), back = sandbox().path("back.txt");
    // A new .ics holds nothing yet to tell its kind by.
    Result unknown = Convert({backup, ics});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("give --kind"), std::string::npos) << unknown.err;
    Result there = Convert({"--kind", kind, backup, ics});
    EXPECT_EQ(there.status, 0) << there.err;
    EXPECT_EQ(ReadFileBytes(ics).substr(0, 17), "BEGIN:VCALENDAR\r\n");
    // Back, the kind is the file's components'.
    Result back_ = Convert({"--overwrite", ics, back});
    EXPECT_EQ(back_.status, 0) << back_.err;
    EXPECT_EQ(back_.err.find("not kept"), std::string::npos) << back_.err;
    EXPECT_EQ(ReadFileBytes(back), ReadFileBytes(backup)) << kind;

    const std::string folder = sandbox().path(kind) + "/";
    EXPECT_EQ(Convert({"--kind", kind, backup, folder}).status, 0);
    const std::map<std::string, std::string> files = Files(folder);
    EXPECT_EQ(Convert({"--kind", kind, backup, folder}).status, 0);
    EXPECT_EQ(Files(folder), files) << kind;
    EXPECT_EQ(Convert({"--overwrite", folder, back}).status, 0);
    EXPECT_EQ(Records(ReadFileBytes(back)), Records(ReadFileBytes(backup))) << kind;
  }
  // The sample task list's repeating task keeps its own start date beside the series'.
  Result sample = Convert({"--kind", "tasks", samples + "tasks.txt", sandbox().path("s.ics")});
  EXPECT_EQ(sample.status, 0);
  EXPECT_EQ(sample.err.find("not kept"), std::string::npos) << sample.err;
  EXPECT_NE(ReadFileBytes(sandbox().path("s.ics")).find("X-QUILLMOTE-START-DATE:20300101"),
            std::string::npos);
  EXPECT_TRUE(NothingLeft());
}

TEST_F(ConvertTest, StatusesAsQuillmoteBatchGivesThem) {
  const std::string vcf = sandbox().path("in.vcf"), out = sandbox().path("out.txt");
  WriteFileBytes(vcf,
                 "BEGIN:VCARD\r\nVERSION:3.0\r\nN:One;;;;\r\nPHOTO;VALUE=uri:http://x/y\r\n"
                 "END:VCARD\r\n"
                 "BEGIN:VCARD\r\nVERSION:3.0\r\nbroken\r\nEND:VCARD\r\n");
  // A card skipped: the others are saved, and the status says so.
  Result skipped = Convert({vcf, out});
  EXPECT_EQ(skipped.status, 1);
  EXPECT_EQ(skipped.out,
            "1 added, 0 updated, 0 unchanged\nЭкспорт Контактов завершен. Сохранено записей: 1\n");
  EXPECT_NE(skipped.err.find("quillmote-convert: " + vcf + ": line 8: "), std::string::npos)
      << skipped.err;
  EXPECT_NE(skipped.err.find("not kept: PHOTO on 1 card\n"), std::string::npos) << skipped.err;

  // An existing OUT needs --overwrite; a missing IN; a kind without a format.
  const std::string before = ReadFileBytes(out);
  EXPECT_EQ(Convert({vcf, out}).status, 3);
  EXPECT_EQ(ReadFileBytes(out), before);
  EXPECT_EQ(Convert({sandbox().path("missing.vcf"), out}).status, 3);
  EXPECT_EQ(Convert({"--kind", "calls", out, sandbox().path("x.vcf")}).status, 2);
  EXPECT_EQ(Convert({out}).status, 2);
  // Neither side a backup file nor a file of a known kind.
  WriteFileBytes(sandbox().path("not-unicode.txt"), "plain text");
  Result refused = Convert({sandbox().path("not-unicode.txt"), sandbox().path("y.vcf")});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("give --kind"), std::string::npos);
  EXPECT_TRUE(NothingLeft());
}

}  // namespace
