// Every message that a job's launch or its worker can show, brought about through
// quillmote-batch by an injected fault (HANDHELD_FAULTS) or by a real condition, each in
// a store and folder of its own. Each row checks what the user is told (standard output),
// the exit status, what is left of the backup file, and which items the store holds
// afterwards. (The launch's other refusals, through the same dialog: the launch tests,
// which also see the census.)
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/shell_test_support.h"
#include "tools/tool_test_support.h"

namespace {

using handheld::testing::ReadFileBytes;
using handheld::testing::U16;
using handheld::testing::Utf16LeBytes;
using handheld::testing::WriteFileBytes;
using Names = std::vector<std::string>;

// The property that names an item of each kind in the `handheld` tool's JSON.
std::string NameKey(const std::string& kind) {
  return kind == "contacts" ? "FirstName" : "Subject";
}

Names Items(int count) {
  Names names;
  for (int i = 1; i <= count; ++i) names.push_back("item " + std::to_string(i));
  return names;
}

// A backup file of `kind` with one record per name: the name in the contact's first-name
// column, or in the subject column of an appointment or a task.
std::string Backup(const std::string& kind, const Names& names) {
  std::u16string text;
  for (const std::string& name : names) {
    text += (kind == "contacts" ? u"\t" : u"") + U16(name) + u"\t\r\n";
  }
  return Utf16LeBytes(text, true);
}

// Puts `count` items of `kind` named "item 1", "item 2", ... into the sandbox's store.
void Fill(const std::string& dir, const std::string& kind, int count) {
  if (count == 0) return;
  std::string lines;
  for (const std::string& name : Items(count)) {
    lines += nlohmann::json{{NameKey(kind), name}}.dump() + "\n";
  }
  tool_testing::Result added = tool_testing::RunProgram(dir, "handheld", {"add", kind}, lines);
  ASSERT_EQ(added.status, 0) << added.err;
}

// The names of the store's items of `kind`, sorted.
Names StoredNames(const std::string& dir, const std::string& kind) {
  tool_testing::Result dump = tool_testing::RunProgram(dir, "handheld", {"dump", kind});
  EXPECT_EQ(dump.status, 0) << dump.err;
  Names names;
  for (size_t start = 0, end; start < dump.out.size(); start = end + 1) {
    end = dump.out.find('\n', start);
    names.push_back(nlohmann::json::parse(dump.out.substr(start, end - start))[NameKey(kind)]
                        .get<std::string>());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Where the command's FILE points.
enum class Target {
  kNew,        // a file that does not exist yet
  kFile,       // a file holding `file` (the row's bytes)
  kElsewhere,  // the path `file`, outside the sandbox
};

// What a save that ended early keeps in FILE.partial: nothing (no such file), or the
// first whole lines of what a fault-free save writes: any number, or exactly `partial`.
constexpr int kNoPartial = -1;
constexpr int kWholeLines = -2;

// The number of lines of `kept` when it is the byte-order mark and whole lines of
// `clean`'s start; -1 otherwise.
int WholeLinesOf(const std::string& clean, const std::string& kept) {
  const std::string lineEnd("\r\0\n\0", 4);
  if (kept.size() < 2 || clean.compare(0, kept.size(), kept) != 0) return -1;
  if (kept.size() > 2 && kept.compare(kept.size() - 4, 4, lineEnd) != 0) return -1;
  int lines = 0;
  for (size_t at = 2; at + 4 <= kept.size(); at += 2) lines += kept.compare(at, 4, lineEnd) == 0;
  return lines;
}

struct Row {
  std::string stdoutText;  // the whole standard output (but the partial file's line)
  const char* how;
  std::vector<std::string> args;  // options and command; FILE follows
  std::string faults;             // HANDHELD_FAULTS, or empty
  std::string kind;               // the kind filled before and checked after
  int items;                      // items of `kind` before, named "item 1" ...
  Target target;
  std::string file;
  Names after;  // the names of `kind`'s items afterwards, in any order
  int partial = kNoPartial;
  long fileSizeLimit = 0;
  bool stateIsAFile = false;  // a file where the store's state folder should be
};

void RunRow(const Row& row) {
  SCOPED_TRACE(row.stdoutText + "(" + row.how + ")");
  handheld::testing::Sandbox box;
  setenv("HOME", box.dir().c_str(), 1);
  Fill(box.dir(), row.kind, row.items);
  if (row.stateIsAFile) WriteFileBytes(box.path("state"), "not a folder");

  std::string target = box.path("backup.txt");
  if (row.target == Target::kFile) WriteFileBytes(target, row.file);
  if (row.target == Target::kElsewhere) target = row.file;
  const std::string partial = target + ".partial";
  const bool existed = std::filesystem::exists(target);

  std::string clean;
  if (row.partial != kNoPartial) {
    ASSERT_EQ(tool_testing::RunProgram(box.dir(), "quillmote-batch",
                                       {"save-" + row.kind, box.path("clean.txt")})
                  .status,
              0);
    clean = ReadFileBytes(box.path("clean.txt"));
  }

  // Files the run may add beside the backup, but for the store's own (its state folder
  // too), its output and the partial file (checked below).
  const auto strays = [&] {
    Names names = tool_testing::FilesIn(box.dir());
    std::erase_if(names,
                  [](const std::string& n) { return n == "state" || n == "backup.txt.partial"; });
    return names;
  };
  const Names before = strays();

  std::vector<std::string> args = row.args;
  args.push_back(target);
  const tool_testing::Result run = tool_testing::RunProgram(
      box.dir(), "quillmote-batch", args, "", {"HANDHELD_FAULTS=" + row.faults}, row.fileSizeLimit);
  const std::string& err = run.err;
  EXPECT_EQ(run.status, 1) << err;
  const std::string told =
      row.partial == kNoPartial ? "" : "Сохранённые записи оставлены в файле " + partial + "\n";
  EXPECT_EQ(run.out, row.stdoutText + told) << err;

  // FILE is as it was: never made, or the same bytes.
  if (!existed) {
    EXPECT_FALSE(std::filesystem::exists(target));
  } else if (row.target == Target::kFile) {
    EXPECT_EQ(ReadFileBytes(target), row.file);
  }
  if (row.partial == kNoPartial) {
    EXPECT_FALSE(std::filesystem::exists(partial));
  } else {
    EXPECT_NE(err.find("the records saved are in " + partial + "\n"), std::string::npos) << err;
    const int lines = WholeLinesOf(clean, ReadFileBytes(partial));
    EXPECT_GE(lines, 0) << "the partial file holds the first whole lines of the save";
    if (row.partial >= 0) {
      EXPECT_EQ(lines, row.partial);
    }
  }
  EXPECT_EQ(strays(), before) << "nothing is left beside the backup";
  Names after = row.after;
  std::sort(after.begin(), after.end());
  EXPECT_EQ(StoredNames(box.dir(), row.kind), after);
}

// The rows are kept as a table.
// clang-format off
TEST(FaultMatrixTest, WorkerFailures) {
  const std::string contacts3 = Backup("contacts", {"new 1", "new 2", "new 3"});
  const std::string calendar3 = Backup("calendar", {"new 1", "new 2", "new 3"});
  const std::string tasks3 = Backup("tasks", {"new 1", "new 2", "new 3"});
  const std::vector<Row> rows = {
      // The launch: a folder where no file can be made (the launch's other refusals: the
      // launch tests).
      {"Ошибка при открытии файла!\n", "save into a folder where no file can be made (/proc)",
       {"save-contacts"}, "", "contacts", 1, Target::kElsewhere, "/proc/quillmote-backup.txt",
       Items(1)},
      // Export: whatever fails, FILE stays as it was (none, or yesterday's) and the whole
      // lines written are kept in FILE.partial. (The call log's faults: the call record
      // tests; read faults field by field: the record and writers' tests.)
      {"Ошибка при работе с Контактами!\n", "contact 2 cannot be fetched",
       {"save-contacts"}, "item:2", "contacts", 3, Target::kNew, "", Items(3), 1},
      {"Ошибка при работе с Задачами!\n", "task 1 cannot be fetched",
       {"save-tasks"}, "item:1", "tasks", 3, Target::kNew, "", Items(3), 0},
      // Over yesterday's file, whatever fails leaves it as it was.
      {"Ошибка при записи в файл\n", "the file may not grow past 64 KiB (a full disk)",
       {"--overwrite", "save-contacts"}, "", "contacts", 1000, Target::kFile, "old",
       Items(1000), kWholeLines, 64 * 1024},
      {"Ошибка при работе с Календарем!\n", "appointment 2 cannot be fetched, over a file",
       {"--overwrite", "save-calendar"}, "item:2", "calendar", 3, Target::kFile, calendar3,
       Items(3), 1},
      {"Не удалось получить информацию. Действие будет прервано.\n",
       "Body of task 3 cannot be read, over a file",
       {"--overwrite", "save-tasks"}, "read:Body:3", "tasks", 3, Target::kFile, tasks3,
       Items(3), 2},
      // Purge: what was removed stays removed; the file is not loaded.
      {"Удалить существующие Контакты?\nОшибка при удалении Контакта!\n",
       "the 2nd removal fails",
       {"--replace", "load-contacts"}, "remove:2", "contacts", 3, Target::kFile, contacts3,
       Items(2)},
      {"В Календаре есть записи. Удалить их?\nОшибка при удалении записи Календаря!\n",
       "the 1st removal fails",
       {"--replace", "load-calendar"}, "remove:1", "calendar", 3, Target::kFile, calendar3,
       Items(3)},
      {"Удалить существующие Задачи?\nОшибка при удалении Задачи!\n",
       "the 3rd removal fails",
       {"--replace", "load-tasks"}, "remove:3", "tasks", 3, Target::kFile, tasks3, Items(1)},
      // A purge whose removed items cannot be kept first removes nothing.
      {"Удалить существующие Контакты?\nОшибка при удалении Контакта!\n",
       "the removed contacts cannot be kept first",
       {"--replace", "load-contacts"}, "keep", "contacts", 3, Target::kFile, contacts3, Items(3)},
      {"Удалить существующие Задачи?\nОшибка при удалении Задачи!\n",
       "a file where the removed-items folder should be",
       {"--replace", "load-tasks"}, "", "tasks", 3, Target::kFile, tasks3,
       Items(3), kNoPartial, 0, true},
      // Import: the records saved before the failure stay, and their number is told.
      {"В Календаре есть записи. Удалить их?\nНе удалось создать запись в Календаре!\n"
       "Загружено записей до остановки: 1\n",
       "the 2nd appointment cannot be created, No to the removal",
       {"load-calendar"}, "create:2", "calendar", 2, Target::kFile, calendar3,
       {"item 1", "item 2", "new 1"}},
      {"Не удалось создать Контакт!\nЗагружено записей до остановки: 1\n", "the 2nd contact cannot be saved",
       {"load-contacts"}, "save:2", "contacts", 0, Target::kFile, contacts3,
       {"new 1"}},
      {"Не удалось создать Задачу!\nЗагружено записей до остановки: 2\n", "the 3rd task cannot be created",
       {"load-tasks"}, "create:3", "tasks", 0, Target::kFile, tasks3,
       {"new 1", "new 2"}},
      {"Ошибка при чтении из файла\nЗагружено записей до остановки: 2\n", "a read in the 3rd record fails",
       {"load-contacts"}, "readfile:23", "contacts", 0, Target::kFile, contacts3,
       {"new 1", "new 2"}},
  };
  for (const Row& row : rows) RunRow(row);
}

// clang-format on

}  // namespace
