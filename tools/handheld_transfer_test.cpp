// The `handheld` tool's export and import, run as people and scripts run them: what they
// print, their exit statuses and their usage errors, for contacts, the calendar and tasks.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tools/tool_test_support.h"

namespace {

using handheld::testing::ReadFileBytes;
using handheld::testing::WriteFileBytes;
using tool_testing::Result;

using HandheldTransferTest = tool_testing::ToolTest;

TEST_F(HandheldTransferTest, ExportAndImportSayWhatTheyCouldNotKeep) {
  Handheld("add", "contacts", "{\"FirstName\": \"Ann\", \"Email3Address\": \"a@b\"}\n");
  const std::string file = sandbox().path("out.vcf");
  Result exported = Tool({"export", "contacts", file});
  EXPECT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(exported.out + exported.err, "");
  EXPECT_NE(ReadFileBytes(file).find("EMAIL;X-QUILLMOTE-SLOT=3;TYPE=INTERNET:a@b\r\n"),
            std::string::npos)
      << ReadFileBytes(file);

  // Read back in place of the store's contacts, with a photo and an unreadable card.
  WriteFileBytes(file, ReadFileBytes(file) +
                           "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bo\r\nPHOTO:abc\r\nEND:VCARD\r\n"
                           "BEGIN:VCARD\r\nVERSION:3.0\r\nno property here\r\nEND:VCARD\r\n");
  Result imported = Tool({"import", "--replace", "contacts", file});
  EXPECT_EQ(imported.status, 1);
  EXPECT_EQ(imported.err,
            "handheld: " + file +
                ": line 16: a line that does not start with a property name (the card from "
                "line 14 is skipped)\n"
                "not kept: PHOTO on 1 card\n"
                "handheld: 2 contacts imported, 1 skipped\n");
  const std::string dump = Dump("contacts");
  EXPECT_NE(dump.find("\"FirstName\":\"Ann\""), std::string::npos) << dump;
  EXPECT_NE(dump.find("\"Email3Address\":\"a@b\""), std::string::npos);
  EXPECT_NE(dump.find("\"FirstName\":\"Bo\""), std::string::npos);
  EXPECT_EQ(imported.out, "2 added, 0 updated, 0 unchanged\n");
  // A removal that fails stops the import: nothing removed, nothing imported.
  Result stopped =
      Run("handheld", {"import", "--replace", "contacts", file}, "", {"HANDHELD_FAULTS=remove:2"});
  EXPECT_EQ(stopped.status, 1);
  EXPECT_EQ(stopped.out, "");
  EXPECT_NE(stopped.err.find("handheld: removing contact 1 failed"), std::string::npos)
      << stopped.err;
  EXPECT_EQ(Dump("contacts"), dump);
}

// A calendar folder, its files named by their UIDs, read back in place of the store's
// appointments; tasks read from a calendar file. (Updates, kept versions, damaged and
// foreign components: the engine and iCalendar tests of interop/.)
TEST_F(HandheldTransferTest, CalendarFolderAndFile) {
  Handheld("add", "calendar",
           ReadFileBytes(std::string(QUILLMOTE_SOURCE_DIR) + "/examples/calendar.jsonl"));
  const std::string folder = sandbox().path("calendar") + "/";
  Result exported = Tool({"export", "calendar", folder});
  EXPECT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(exported.err, "");
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    // Each file names its item by the UID its name carries.
    const std::string name = entry.path().stem().string();
    EXPECT_NE(ReadFileBytes(entry.path().string()).find("\r\nUID:" + name + "\r\n"),
              std::string::npos);
  }
  Result imported = Tool({"import", "--replace", "calendar", folder});
  EXPECT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(imported.out, "3 added, 0 updated, 0 unchanged\n");
  // Tasks come from the same kind of file; its events are left out and told.
  const std::string file = sandbox().path("calendar.ics");
  ASSERT_EQ(Tool({"export", "calendar", file}).status, 0);
  Result tasks = Tool({"import", "tasks", file});
  EXPECT_EQ(tasks.status, 0) << tasks.err;
  EXPECT_EQ(tasks.err, "handheld: left out 3 VEVENT (appointments: import them as calendar)\n");
}

// A write that fails or falls short leaves no file, says so and exits 1. (A read that
// fails: the engine tests.)
TEST_F(HandheldTransferTest, AFailedExportLeavesNoFile) {
  const struct {
    std::string kind, item, fault;
  } rows[] = {{"contacts", R"({"FirstName": "a"})", "write:1"},
              {"tasks", R"({"Subject": "a"})", "shortwrite:1"}};
  for (const auto& [kind, item, fault] : rows) {
    Handheld("add", kind, item + "\n");
    const std::string path = sandbox().path("items");
    Result run = Run("handheld", {"export", kind, path}, "", {"HANDHELD_FAULTS=" + fault});
    EXPECT_EQ(run.status, 1) << kind;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("cannot write"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(path));
  }
}

TEST_F(HandheldTransferTest, UsageErrors) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"export", "contacts"}, {"import", "--replace", "contacts"},
           {"export", "contacts", "a", "b"}}) {
    EXPECT_EQ(Tool(args).status, 2) << args.size();
  }
  Result calls = Tool({"export", "calls", sandbox().path("calls.vcf")});
  EXPECT_EQ(calls.status, 2);
  EXPECT_NE(calls.err.find("knows only contacts"), std::string::npos) << calls.err;
  Result missing = Tool({"import", "contacts", sandbox().path("missing.vcf")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot read"), std::string::npos) << missing.err;
}

}  // namespace
