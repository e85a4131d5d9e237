// The sample files of examples/ stay what the tools make: each kind's JSON Lines are
// added to an empty store with `handheld add`, saved with quillmote-batch, and the file
// must equal the committed one byte for byte; the loadable kinds must load back whole
// and save again to the same bytes.
#include <ctime>
#include <string>

#include "tools/tool_test_support.h"

namespace {

using handheld::testing::ReadFileBytes;

const std::string kExamples = QUILLMOTE_EXAMPLES_DIR;

using ExamplesTest = tool_testing::ToolTest;

// A day, month and year as the file writes a date: "6\t12\t2026\t".
std::string DateGroup(std::time_t when) {
  std::tm day{};
  localtime_r(&when, &day);
  const std::string text = std::to_string(day.tm_mday) + "\t" + std::to_string(day.tm_mon + 1) +
                           "\t" + std::to_string(day.tm_year + 1900) + "\t";
  return handheld::testing::Utf16LeBytes(handheld::testing::U16(text), false);
}

TEST_F(ExamplesTest, EachFileIsWhatTheToolsMakeAndLoadsBackWhole) {
  // Call times are stored in UTC and written in local time; the files were made in UTC.
  setenv("TZ", "UTC", 1);
  const std::time_t now = std::time(nullptr);
  for (const std::string kind : {"contacts", "calendar", "tasks", "calls"}) {
    SCOPED_TRACE(kind);
    const std::string committed = ReadFileBytes(kExamples + "/" + kind + ".txt");
    ASSERT_GT(committed.size(), 2u) << kind << ".txt is missing";
    const std::string lines = ReadFileBytes(kExamples + "/" + kind + ".jsonl");
    ASSERT_FALSE(lines.empty()) << kind << ".jsonl is missing";
    Handheld("add", kind, lines);
    const auto save = [&] {
      const tool_testing::Result saved =
          Batch({"--overwrite", "save-" + kind, sandbox().path(kind)});
      EXPECT_EQ(saved.status, 0) << saved.out << saved.err;
      return ReadFileBytes(sandbox().path(kind));
    };
    const std::string made = save();
    EXPECT_TRUE(made == committed) << "examples/" << kind << ".txt differs from what " << kind
                                   << ".jsonl gives; run examples/make.sh";
    // Every date comes from the lines, none from the store's defaults of the day the
    // file was made (a new appointment starts at the next full hour, for instance).
    EXPECT_EQ(made.find(DateGroup(now)), std::string::npos);
    EXPECT_EQ(made.find(DateGroup(now + 24 * 60 * 60)), std::string::npos);
    if (kind == "calls") continue;  // the call log is only ever saved
    const tool_testing::Result loaded =
        Batch({"--replace", "load-" + kind, kExamples + "/" + kind + ".txt"});
    EXPECT_EQ(loaded.status, 0) << loaded.out << loaded.err;
    EXPECT_EQ(Count(kind), "3\n");
    EXPECT_TRUE(save() == committed) << "examples/" << kind << ".txt does not load back whole";
  }
}

}  // namespace
