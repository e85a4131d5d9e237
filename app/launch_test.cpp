// The job launch on the scripted window backend: every refusal shows exactly one
// message, returns to the idle display and holds nothing; cancelled dialogs, the file
// dialog requests, the busy display and default names. (The answers to the removal
// prompt: the batch tests, which give them from the command line.)
#include <filesystem>
#include <string>

#include "app/shell_test_support.h"

namespace {

using namespace shell_testing;
using handheld::testing::Utf16LeBytes;
using LaunchTest = ShellTest;

struct Refusal {
  WORD command;
  std::string file;
  const char* faults;
  Strings messages;
};

TEST_F(LaunchTest, EveryRefusalShowsItsMessageOnceAndHoldsNothing) {
  auto expect = [this](const std::vector<Refusal>& refusals, bool fileDialog) {
    for (const Refusal& r : refusals) {
      SCOPED_TRACE(r.messages.back() + " " + r.faults);
      Run(r.command, r.file, r.faults, true);
      EXPECT_EQ(Messages(), r.messages);
      EXPECT_EQ(LogOf(scripted::Event::kFileDialog).size(), fileDialog ? 1u : 0u);
    }
  };
  // Before the file dialog.
  expect({{203, backup(), "", {"stop: Контактов нет, сохранять нечего..."}},
          {205, backup(), "", {"stop: В Календаре записей нет, сохранять нечего..."}},
          {207, backup(), "", {"stop: Задач нет, сохранять нечего..."}},
          {209, backup(), "", {"stop: Звонков нет, сохранять нечего..."}},
          {209, backup(), "calllog-open", {"stop: Ошибка при получении элементов!"}},
          {203, backup(), "folder", {"stop: Ошибка при доступе к папке!"}},
          {203, backup(), "items", {"stop: Ошибка при получении элементов!"}}},
         false);
  EXPECT_FALSE(std::filesystem::exists(backup()));

  // After it. A path that is no regular file is refused before anything is written.
  AddItems(olTaskItem, 1);
  const std::string dir = sandbox().dir(), marked = sandbox().path("marked.txt");
  const std::string devFull = std::filesystem::exists("/dev/full") ? "/dev/full" : dir;
  WriteFileBytes(marked, Utf16LeBytes(u"", true));
  expect({{207, dir, "", {"stop: Ошибка при открытии файла!"}},
          {207, devFull, "", {"stop: Ошибка при открытии файла!"}},
          {208, dir, "", {"stop: Ошибка при открытии файла!"}},
          {208, marked, "readfile:1", {"stop: Ошибка при чтении из файла"}},
          {208, marked, "folder", {"stop: Ошибка при доступе к папке!"}},
          {208, marked, "items", {"stop: Ошибка при получении элементов!"}},
          {207, backup(), "write:1", {"stop: Ошибка при записи в файл"}},
          {208,
           marked,
           "thread",
           {"question: Удалить существующие Задачи?",
            "stop: Системная ошибка. Не удалось создать поток."}}},
         true);
  EXPECT_FALSE(std::filesystem::exists(backup()));  // the failed mark write left nothing
  EXPECT_EQ(CountItems(olFolderTasks), 1);

  // A save whose thread cannot start wrote nothing: no file is left, partial or not.
  Run(207, backup(), "thread");
  EXPECT_EQ(Messages(), Strings{"stop: Системная ошибка. Не удалось создать поток."});
  EXPECT_FALSE(std::filesystem::exists(backup()));
  EXPECT_FALSE(std::filesystem::exists(backup() + ".partial"));

  // Files without the byte-order mark FF FE stay as they were.
  for (const std::string bytes : {"", "\xFF", "\xFE\xFF", "AB"}) {
    WriteFileBytes(backup(), bytes);
    Run(208, backup());
    EXPECT_EQ(Messages(), Strings{"stop: Файл не UNICODE!"}) << bytes.size();
    EXPECT_EQ(ReadFileBytes(backup()), bytes);
  }

  // The store goes away while the open dialog is up: no application object.
  scripted::Script script = CommandScript(208, marked);
  script.onFileDialog = [&](const scripted::FileDialogCall& call) -> std::optional<std::u16string> {
    CloseStore(ShellOf(call.owner)->store);
    return U16(marked);
  };
  RunShell(std::move(script));
  EXPECT_TRUE(idleWhenOver);
  EXPECT_EQ(Messages(), Strings{"stop: Не удалось получить объект приложения!"});
}

// Both file dialogs: the busy display behind them, their requests, and a cancel that
// ends quietly (idle, no message, nothing held); a load into an empty folder.
TEST_F(LaunchTest, FileDialogRequestsCancelAndALoadThatAsksNothing) {
  AddItems(olAppointmentItem, 1);
  AddCall();
  SYSTEMTIME before, after;
  GetLocalTime(&before);
  scripted::Script script = CommandScript(205, std::nullopt);
  script.onFileDialog = [](const scripted::FileDialogCall& call) -> std::optional<std::u16string> {
    HWND dialog = scripted::CurrentDialog();
    EXPECT_EQ(call.owner, dialog);
    EXPECT_EQ(Display(dialog), "busy");
    EXPECT_EQ(U8(scripted::ControlText(dialog, IDC_STATUS)), "Подготовка...");
    EXPECT_TRUE(scripted::MenuBarButtonEnabled(dialog, IDM_EXIT));
    return std::nullopt;
  };
  RunShell(std::move(script));
  GetLocalTime(&after);
  EXPECT_TRUE(idleWhenOver);
  EXPECT_TRUE(Messages().empty());
  // Title, filter list, default name and flags (0x802: ask before overwriting, the folder
  // must exist; 0x1000: the file must exist).
  const std::string filters = " filters=Текстовые файлы|*.txt;Файлы CSV|*.csv;Все файлы|*.*";
  const std::string save = scripted::Describe(LogOf(scripted::Event::kFileDialog).at(0));
  WCHAR name[2][40];
  FormatDefaultFileName(name[0], 40, u"Calendar", before);
  FormatDefaultFileName(name[1], 40, u"Calendar", after);
  const std::string expected = "filedialog save \"Сохранить в файл...\"" + filters + " proposed=\"";
  EXPECT_TRUE(save == expected + U8(name[0]) + "\" flags=0x802 -> cancel" ||
              save == expected + U8(name[1]) + "\" flags=0x802 -> cancel")
      << save;
  Run(206, std::nullopt);
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(scripted::Describe(LogOf(scripted::Event::kFileDialog).at(0)),
            "filedialog open \"Загрузить из файла...\"" + filters +
                " proposed=\"\" flags=0x1000 -> cancel");
  Run(209, std::nullopt);  // the call log, opened to count it, is closed again
  EXPECT_TRUE(Messages().empty());
  // A load into an empty folder asks nothing.
  WriteFileBytes(backup(), Utf16LeBytes(u"", true));
  Run(208, backup());
  EXPECT_EQ(Messages(), Strings{"info: Импорт Задач завершен. Загружено записей: 0"});
}

TEST(DefaultFileName, KindWordAndDate) {
  WCHAR name[40];
  FormatDefaultFileName(name, 40, u"Calendar", SYSTEMTIME{2007, 12, 1, 31, 10, 0, 0, 0});
  EXPECT_EQ(std::u16string(name), u"Calendar20071231");
  FormatDefaultFileName(name, 40, u"Calls", SYSTEMTIME{2007, 3, 1, 5, 0, 0, 0, 0});
  EXPECT_EQ(std::u16string(name), u"Calls20070305");
  FormatDefaultFileName(name, 8, u"Contacts", SYSTEMTIME{987, 1, 1, 9, 0, 0, 0, 0});
  EXPECT_EQ(std::u16string(name), u"Contact");  // cut to the buffer, still ended
}

}  // namespace
