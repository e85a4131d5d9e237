// The job launch on the scripted window backend: every refusal shows exactly one
// message, returns to the idle display and holds nothing; cancelled dialogs, the file
// dialog requests, the busy display, default names and the removal prompt.
#include <filesystem>
#include <string>

#include "app/shell_test_support.h"
#include "handheld/faults.h"

namespace {

using namespace shell_testing;
using handheld::testing::ReadFileBytes;
using handheld::testing::Utf16LeBytes;
using handheld::testing::WriteFileBytes;
using Strings = std::vector<std::string>;

class LaunchTest : public handheld::testing::SandboxTest {
 protected:
  void Run(WORD command, std::optional<std::string> file, const char* faults = "",
           bool overwrite = false) {
    std::string error;
    ASSERT_TRUE(handheld::ArmFaults(faults, &error)) << error;
    scripted::Script script = CommandScript(command, file);
    script.onOverwrite = [overwrite](const std::u16string&) { return overwrite; };
    EXPECT_EQ(RunShell(std::move(script)), 0);
    EXPECT_TRUE(DialogEnded());
    EXPECT_TRUE(idleWhenOver) << "the dialog did not return to the idle display";
    EXPECT_EQ(JobContext.worker, nullptr);
    EXPECT_EQ(handheld::CensusReport(), "") << "held after command " << command;
  }
  std::string backup() { return sandbox().path("backup.txt"); }
};

struct Refusal {
  WORD command;
  const char* faults;
  const char* message;
};

TEST_F(LaunchTest, RefusalsBeforeTheFileDialog) {
  const Refusal empty[] = {
      {203, "", "Контактов нет, сохранять нечего..."},
      {205, "", "В Календаре записей нет, сохранять нечего..."},
      {207, "", "Задач нет, сохранять нечего..."},
      {209, "", "Звонков нет, сохранять нечего..."},
      {209, "calllog-open", "Ошибка при получении элементов!"},
      {203, "folder", "Ошибка при доступе к папке!"},
      {203, "items", "Ошибка при получении элементов!"},
  };
  for (const Refusal& refusal : empty) {
    SCOPED_TRACE(refusal.message);
    Run(refusal.command, backup(), refusal.faults);
    EXPECT_EQ(Messages(), Strings{refusal.message});
    auto boxes = LogOf(scripted::Event::kMessageBox);
    EXPECT_EQ(boxes.at(0).type, MB_ICONSTOP | MB_OK);
    EXPECT_EQ(U8(boxes.at(0).caption), "Quillmote");
    EXPECT_TRUE(LogOf(scripted::Event::kFileDialog).empty());
  }
  EXPECT_FALSE(std::filesystem::exists(backup()));
}

TEST_F(LaunchTest, RefusalsAfterTheFileDialog) {
  AddItems(olTaskItem, 1);
  std::string marked = sandbox().path("marked.txt");
  WriteFileBytes(marked, Utf16LeBytes(u"", true));
  const std::string dir = sandbox().dir();
  struct Case {
    WORD command;
    std::string file;
    const char* faults;
    Strings messages;
  } cases[] = {
      // Not a regular file: refused before anything is written.
      {207, dir, "", {"Ошибка при открытии файла!"}},
      {208, dir, "", {"Ошибка при открытии файла!"}},
      {208, marked, "readfile:1", {"Ошибка при чтении из файла"}},
      {208, marked, "folder", {"Ошибка при доступе к папке!"}},
      {208, marked, "items", {"Ошибка при получении элементов!"}},
      {207, backup(), "write:1", {"Ошибка при записи в файл"}},
      {208,
       marked,
       "thread",
       {"Удалить существующие Задачи?", "Системная ошибка. Не удалось создать поток."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.messages.back() + " " + c.faults);
    Run(c.command, c.file, c.faults, true);
    EXPECT_EQ(Messages(), c.messages);
  }
  EXPECT_FALSE(std::filesystem::exists(backup()));  // the failed mark write left nothing
  EXPECT_EQ(CountItems(olFolderTasks), 1);

  if (std::filesystem::exists("/dev/full")) {
    Run(207, "/dev/full", "", true);
    EXPECT_EQ(Messages(), Strings{"Ошибка при открытии файла!"});
  }
  // A thread that cannot start leaves the export file with its mark only.
  Run(207, backup(), "thread");
  EXPECT_EQ(Messages(), Strings{"Системная ошибка. Не удалось создать поток."});
  EXPECT_EQ(ReadFileBytes(backup()), "\xFF\xFE");

  // Files without the byte-order mark FF FE stay as they were.
  const std::string contents[] = {"", "\xFF",
                                  std::string("\xFE\xFF"
                                              "a\0",
                                              4),
                                  "AB"};
  for (const std::string& bytes : contents) {
    SCOPED_TRACE(bytes.size());
    WriteFileBytes(backup(), bytes);
    Run(208, backup());
    EXPECT_EQ(Messages(), Strings{"Файл не UNICODE!"});
    EXPECT_EQ(ReadFileBytes(backup()), bytes);
  }
}

TEST_F(LaunchTest, ImportWithoutAnApplicationObjectIsRefused) {
  WriteFileBytes(backup(), Utf16LeBytes(u"", true));
  scripted::Script script = CommandScript(204, backup());
  script.onFileDialog = [this](const scripted::FileDialogCall&) -> std::optional<std::u16string> {
    CloseStore();  // the store goes away while the open dialog is up
    return U16(backup());
  };
  EXPECT_EQ(RunShell(std::move(script)), 0);
  EXPECT_TRUE(idleWhenOver);
  EXPECT_EQ(Messages(), Strings{"Не удалось получить объект приложения!"});
}

TEST_F(LaunchTest, CancelledFileDialogsEndQuietly) {
  AddItems(olContactItem, 1);
  AddCalls(1);
  Run(203, std::nullopt);
  Run(209, std::nullopt);
  Run(204, std::nullopt);
  EXPECT_TRUE(Messages().empty());
  // An existing file that the user does not want replaced.
  WriteFileBytes(backup(), "keep");
  Run(203, backup());
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(ReadFileBytes(backup()), "keep");
  // Replaced after confirmation: emptied, and it starts with the mark.
  Run(203, backup(), "", true);
  EXPECT_EQ(Messages(), Strings{"Экспорт Контактов завершен. Сохранено записей: 1"});
  EXPECT_EQ(ReadFileBytes(backup()).substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(RecordCount(ReadFileBytes(backup())), 1);
}

TEST_F(LaunchTest, FileDialogRequestsAndTheBusyDisplay) {
  AddItems(olAppointmentItem, 1);
  SYSTEMTIME before, after;
  GetLocalTime(&before);
  scripted::Script script = CommandScript(205, std::nullopt);
  script.onFileDialog = [](const scripted::FileDialogCall& call) -> std::optional<std::u16string> {
    HWND dialog = scripted::CurrentDialog();
    EXPECT_EQ(call.owner, dialog);
    EXPECT_EQ(U8(scripted::ControlText(dialog, IDC_STATUS)), "Подготовка...");
    EXPECT_TRUE(scripted::ControlVisible(dialog, IDC_STATUS));
    EXPECT_TRUE(scripted::ControlVisible(dialog, IDC_PROGRESS));
    EXPECT_EQ(scripted::ProgressPosition(dialog, IDC_PROGRESS), 0);
    EXPECT_FALSE(scripted::ControlVisible(dialog, IDC_ABOUT));
    EXPECT_FALSE(scripted::MenuBarButtonEnabled(dialog, IDM_ACTIONS));
    EXPECT_TRUE(scripted::MenuBarButtonEnabled(dialog, IDM_EXIT));
    return std::nullopt;
  };
  RunShell(std::move(script));
  GetLocalTime(&after);
  auto save = LogOf(scripted::Event::kFileDialog).at(0);
  EXPECT_EQ(save.value, 1);
  EXPECT_EQ(U8(save.text), "Сохранить в файл...");
  EXPECT_EQ(save.type, 2050u);
  WCHAR name1[40], name2[40];
  FormatDefaultFileName(name1, 40, u"Calendar", before);
  FormatDefaultFileName(name2, 40, u"Calendar", after);
  EXPECT_TRUE(save.proposed == name1 || save.proposed == name2) << U8(save.proposed);
  using Pair = std::pair<std::u16string, std::u16string>;
  std::vector<Pair> filters = {
      {u"Текстовые файлы", u"*.txt"}, {u"Файлы CSV", u"*.csv"}, {u"Все файлы", u"*.*"}};
  EXPECT_EQ(save.filters, filters);

  Run(206, std::nullopt);
  auto open = LogOf(scripted::Event::kFileDialog).at(0);
  EXPECT_EQ(open.value, 0);
  EXPECT_EQ(U8(open.text), "Загрузить из файла...");
  EXPECT_EQ(open.type, 4096u);
  EXPECT_EQ(open.proposed, u"");
  EXPECT_EQ(open.filters, filters);
}

TEST(DefaultFileName, KindWordAndDate) {
  WCHAR name[40];
  FormatDefaultFileName(name, 40, u"Calendar", SYSTEMTIME{2007, 12, 1, 31, 10, 0, 0, 0});
  EXPECT_EQ(std::u16string(name), u"Calendar20071231");
  FormatDefaultFileName(name, 40, u"Calls", SYSTEMTIME{2007, 3, 1, 5, 0, 0, 0, 0});
  EXPECT_EQ(std::u16string(name), u"Calls20070305");
  FormatDefaultFileName(name, 40, u"Tasks", SYSTEMTIME{987, 1, 1, 9, 0, 0, 0, 0});
  EXPECT_EQ(std::u16string(name), u"Tasks09870109");
  FormatDefaultFileName(name, 8, u"Contacts", SYSTEMTIME{2007, 1, 1, 9, 0, 0, 0, 0});
  EXPECT_EQ(std::u16string(name), u"Contact");  // cut to the buffer, still ended
}

TEST_F(LaunchTest, RemovalPromptYesPurgesFirstNoAddsAlongside) {
  AddItems(olContactItem, 2);
  Run(203, backup());
  ASSERT_EQ(Messages(), Strings{"Экспорт Контактов завершен. Сохранено записей: 2"});
  const Strings asked = {"Удалить существующие Контакты?",
                         "Импорт Контактов завершен. Загружено записей: 2"};
  for (int answer : {IDNO, IDYES}) {
    scripted::Script script = CommandScript(204, backup());
    script.onMessageBox = [answer](const scripted::MessageBoxCall& call) {
      return (call.type & MB_YESNO) != 0 ? answer : IDOK;
    };
    RunShell(std::move(script));
    EXPECT_TRUE(idleWhenOver);
    EXPECT_EQ(Messages(), asked);
    auto boxes = LogOf(scripted::Event::kMessageBox);
    EXPECT_EQ(boxes.at(0).type, MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(boxes.at(1).type, MB_ICONINFORMATION | MB_OK);
    EXPECT_EQ(CountItems(olFolderContacts), answer == IDNO ? 4 : 2);
  }
  // The calendar asks its own question; an empty task folder asks nothing.
  AddItems(olAppointmentItem, 1);
  Run(205, sandbox().path("calendar.txt"));
  Run(206, sandbox().path("calendar.txt"));
  EXPECT_EQ(Messages().at(0), "В Календаре есть записи. Удалить их?");
  WriteFileBytes(backup(), Utf16LeBytes(u"", true));
  Run(208, backup());
  EXPECT_EQ(Messages(), Strings{"Импорт Задач завершен. Загружено записей: 0"});
}

}  // namespace
