// The `handheld` tool's export and import, run as people and scripts run them: what they
// print, their exit statuses and their usage errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/tool_test_support.h"

namespace {

using handheld::testing::ReadFileBytes;
using handheld::testing::WriteFileBytes;
using tool_testing::Result;

class HandheldTransferTest : public handheld::testing::SandboxTest {
 protected:
  Result Tool(const std::vector<std::string>& args, const std::string& input = "") {
    return tool_testing::RunProgram(sandbox().dir(), "handheld", args, input);
  }
};

TEST_F(HandheldTransferTest, ExportAndImportSayWhatTheyCouldNotKeep) {
  ASSERT_EQ(
      Tool({"add", "contacts"}, "{\"FirstName\": \"Ann\", \"Email3Address\": \"a@b\"}\n").status,
      0);
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
  Result dump = Tool({"dump", "contacts"});
  EXPECT_NE(dump.out.find("\"FirstName\":\"Ann\""), std::string::npos) << dump.out;
  EXPECT_NE(dump.out.find("\"Email3Address\":\"a@b\""), std::string::npos);
  EXPECT_NE(dump.out.find("\"FirstName\":\"Bo\""), std::string::npos);
  EXPECT_EQ(Tool({"count", "contacts"}).out, "2\n");
}

TEST_F(HandheldTransferTest, UsageErrors) {
  EXPECT_EQ(Tool({"export", "contacts"}).status, 2);
  EXPECT_EQ(Tool({"import", "--replace", "contacts"}).status, 2);
  EXPECT_EQ(Tool({"export", "contacts", "a", "b"}).status, 2);
  Result calls = Tool({"export", "calls", sandbox().path("calls.vcf")});
  EXPECT_EQ(calls.status, 2);
  EXPECT_NE(calls.err.find("knows only contacts"), std::string::npos) << calls.err;
  Result missing = Tool({"import", "contacts", sandbox().path("missing.vcf")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot read"), std::string::npos) << missing.err;
}

}  // namespace
