// The sample files of examples/ stay what the tools make: each kind's JSON Lines are
// added to an empty store with `handheld add`, saved with quillmote-batch, and the file
// must equal the committed one byte for byte; the loadable kinds must load back whole
// and save again to the same bytes.
#include <ctime>
#include <string>

#include "tools/tool_test_support.h"

namespace {

using handheld::testing::ReadFileBytes;
using tool_testing::Result;

const std::string kExamples = QUILLMOTE_EXAMPLES_DIR;

class ExamplesTest : public tool_testing::ToolTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    // Call times are stored in UTC and written in local time; the files were made in UTC.
    setenv("TZ", "UTC", 1);
  }

  // Adds the kind's JSON Lines to the store and saves the kind into the sandbox file
  // `name`; the file's bytes, or "" after a failure.
  std::string AddAndSave(const std::string& kind, const std::string& name) {
    const std::string lines = ReadFileBytes(kExamples + "/" + kind + ".jsonl");
    EXPECT_FALSE(lines.empty()) << kind << ".jsonl is missing";
    Handheld("add", kind, lines);
    return Save(kind, name);
  }

  std::string Save(const std::string& kind, const std::string& name) {
    const Result saved = Batch({"--overwrite", "save-" + kind, sandbox().path(name)});
    EXPECT_EQ(saved.status, 0) << saved.out << saved.err;
    return saved.status == 0 ? ReadFileBytes(sandbox().path(name)) : "";
  }
};

// A day, month and year as the file writes a date: "6\t12\t2026\t".
std::string DateGroup(const std::tm& day) {
  const std::string text = std::to_string(day.tm_mday) + "\t" + std::to_string(day.tm_mon + 1) +
                           "\t" + std::to_string(day.tm_year + 1900) + "\t";
  return handheld::testing::Utf16LeBytes(handheld::testing::U16(text), false);
}

TEST_F(ExamplesTest, EachFileIsWhatTheToolsMakeFromItsLines) {
  const std::time_t now = std::time(nullptr);
  std::tm today{};
  std::tm tomorrow{};
  localtime_r(&now, &today);
  const std::time_t later = now + 24 * 60 * 60;
  localtime_r(&later, &tomorrow);
  for (const std::string kind : {"contacts", "calendar", "tasks", "calls"}) {
    SCOPED_TRACE(kind);
    const std::string committed = ReadFileBytes(kExamples + "/" + kind + ".txt");
    ASSERT_GT(committed.size(), 2u) << kind << ".txt is missing";
    const std::string made = AddAndSave(kind, kind + ".txt");
    EXPECT_TRUE(made == committed) << "examples/" << kind << ".txt differs from what " << kind
                                   << ".jsonl gives; run examples/make.sh";
    // Every date comes from the lines, none from the store's defaults of the day the
    // file was made (a new appointment starts at the next full hour, for instance).
    EXPECT_EQ(made.find(DateGroup(today)), std::string::npos);
    EXPECT_EQ(made.find(DateGroup(tomorrow)), std::string::npos);
  }
}

TEST_F(ExamplesTest, LoadableFilesLoadBackWhole) {
  const struct {
    std::string kind, done;
  } kCases[] = {
      {"contacts", "Импорт Контактов завершен. Загружено записей: 3\n"},
      {"calendar", "Импорт Календаря завершен. Загружено записей: 3\n"},
      {"tasks", "Импорт Задач завершен. Загружено записей: 3\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.kind);
    const std::string file = kExamples + "/" + c.kind + ".txt";
    const Result loaded = Batch({"load-" + c.kind, file});
    EXPECT_EQ(loaded.status, 0) << loaded.out << loaded.err;
    EXPECT_EQ(loaded.out, c.done);
    EXPECT_EQ(Count(c.kind), "3\n");
    // What was loaded saves to the same bytes: nothing of the samples is lost on the way.
    EXPECT_TRUE(Save(c.kind, c.kind + "-again.txt") == ReadFileBytes(file));
  }
}

}  // namespace
