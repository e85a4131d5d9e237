// The job launch on the scripted window backend: each refusal shows one message and
// holds nothing afterwards; cancelled dialogs, default names, the removal prompt, the
// busy display and what a started job leaves in the file.
#include <filesystem>
#include <string>

#include "app/shell_test_support.h"
#include "handheld/faults.h"

namespace {

using namespace shell_testing;
using handheld::testing::ReadFileBytes;
using handheld::testing::Utf16LeBytes;
using handheld::testing::WriteFileBytes;

class LaunchTest : public handheld::testing::SandboxTest {
 protected:
  // Runs one command; checks that the dialog was idle again right after the launch
  // returned (or after the job's end) and that the program ended.
  void RunCommand(WORD command, scripted::Script script) {
    idleAfterJob_ = false;
    auto after = script.afterMessage;
    script.afterMessage = [this, command, after](HWND dialog, const MSG& message) {
      bool over = (message.message == WM_COMMAND && LOWORD(message.wParam) == command &&
                   JobContext.worker == nullptr) ||
                  (message.message == WM_JOBNOTIFY && message.wParam == NotifyEnded);
      if (over) {
        idleAfterJob_ = scripted::ControlVisible(dialog, IDC_ABOUT) &&
                        !scripted::ControlVisible(dialog, IDC_STATUS) &&
                        !scripted::ControlVisible(dialog, IDC_PROGRESS) &&
                        scripted::MenuBarButtonEnabled(dialog, IDM_ACTIONS);
      }
      after(dialog, message);
    };
    EXPECT_EQ(RunShell(std::move(script)), 0);
    EXPECT_TRUE(DialogEnded());
    EXPECT_TRUE(idleAfterJob_) << "the dialog did not return to the idle display";
    EXPECT_EQ(JobContext.worker, nullptr);
  }

  void Run(WORD command, std::optional<std::string> file) {
    RunCommand(command, CommandScript(command, file));
  }

  void Arm(const char* faults) {
    std::string error;
    ASSERT_TRUE(handheld::ArmFaults(faults, &error)) << error;
  }

  std::string backup() { return sandbox().path("backup.txt"); }

  bool idleAfterJob_ = false;
};

using Strings = std::vector<std::string>;

TEST_F(LaunchTest, StoreFailuresBeforeTheFileDialogShowOneMessage) {
  AddItems(olContactItem, 2);
  Arm("folder");
  Run(203, backup());
  EXPECT_EQ(Messages(), Strings{"Ошибка при доступе к папке!"});
  EXPECT_TRUE(LogOf(scripted::Event::kFileDialog).empty());
  EXPECT_EQ(handheld::CensusReport(), "");

  Arm("items");
  Run(203, backup());
  EXPECT_EQ(Messages(), Strings{"Ошибка при получении элементов!"});
  EXPECT_EQ(handheld::CensusReport(), "");

  Arm("calllog-open");
  Run(209, backup());
  EXPECT_EQ(Messages(), Strings{"Ошибка при получении элементов!"});
  EXPECT_EQ(handheld::CensusReport(), "");
  EXPECT_FALSE(std::filesystem::exists(backup()));

  // The import asks the same store questions after the file checks.
  WriteFileBytes(backup(), Utf16LeBytes(u"", true));
  Arm("folder");
  Run(204, backup());
  EXPECT_EQ(Messages(), Strings{"Ошибка при доступе к папке!"});
  Arm("items");
  Run(208, backup());
  EXPECT_EQ(Messages(), Strings{"Ошибка при получении элементов!"});
  EXPECT_EQ(handheld::CensusReport(), "");
}

TEST_F(LaunchTest, NothingToSaveIsSaidPerKindWithoutAFileDialog) {
  const char* expected[4] = {"Контактов нет, сохранять нечего...",
                             "В Календаре записей нет, сохранять нечего...",
                             "Задач нет, сохранять нечего...", "Звонков нет, сохранять нечего..."};
  const WORD commands[4] = {203, 205, 207, 209};
  for (int kind = 0; kind < 4; ++kind) {
    SCOPED_TRACE(kind);
    Run(commands[kind], backup());
    EXPECT_EQ(Messages(), Strings{expected[kind]});
    auto boxes = LogOf(scripted::Event::kMessageBox);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].type, MB_ICONSTOP | MB_OK);
    EXPECT_EQ(U8(boxes[0].caption), "Quillmote");
    EXPECT_TRUE(LogOf(scripted::Event::kFileDialog).empty());
    EXPECT_EQ(handheld::CensusReport(), "");
  }
}

TEST_F(LaunchTest, SaveTargetsThatAreNoRegularFileAreRefusedBeforeWriting) {
  AddItems(olTaskItem, 1);
  scripted::Script script = CommandScript(207, sandbox().dir());
  script.onOverwrite = [](const std::u16string&) { return true; };
  RunCommand(207, script);
  EXPECT_EQ(Messages(), Strings{"Ошибка при открытии файла!"});
  EXPECT_EQ(handheld::CensusReport(), "");

  if (std::filesystem::exists("/dev/full")) {
    script = CommandScript(207, "/dev/full");
    script.onOverwrite = [](const std::u16string&) { return true; };
    RunCommand(207, script);
    EXPECT_EQ(Messages(), Strings{"Ошибка при открытии файла!"});
    EXPECT_TRUE(std::filesystem::exists("/dev/full"));
  }
  // A folder is no backup file to load either.
  Run(208, sandbox().dir());
  EXPECT_EQ(Messages(), Strings{"Ошибка при открытии файла!"});
  EXPECT_EQ(handheld::CensusReport(), "");
}

TEST_F(LaunchTest, ImportRefusesFilesWithoutTheByteOrderMark) {
  AddItems(olTaskItem, 1);
  const std::string contents[] = {"", "\xFF", std::string("\xFE\xFF" "a\0", 4),
                                  "AB", std::string("\xFF\xFF\x41\x00", 4)};
  for (const std::string& bytes : contents) {
    SCOPED_TRACE(bytes.size());
    WriteFileBytes(backup(), bytes);
    Run(208, backup());
    EXPECT_EQ(Messages(), Strings{"Файл не UNICODE!"});
    EXPECT_EQ(handheld::CensusReport(), "");
    EXPECT_EQ(ReadFileBytes(backup()), bytes);  // left as it was
  }
  WriteFileBytes(backup(), Utf16LeBytes(u"x\t\r\n", true));
  Arm("readfile:1");
  Run(208, backup());
  EXPECT_EQ(Messages(), Strings{"Ошибка при чтении из файла"});
  EXPECT_EQ(CountItems(olFolderTasks), 1);
  EXPECT_EQ(handheld::CensusReport(), "");
}

TEST_F(LaunchTest, FailedMarkWriteLeavesNoFileAndFailedThreadLeavesTheMark) {
  AddItems(olContactItem, 1);
  Arm("write:1");
  Run(203, backup());
  EXPECT_EQ(Messages(), Strings{"Ошибка при записи в файл"});
  EXPECT_FALSE(std::filesystem::exists(backup()));
  EXPECT_EQ(handheld::CensusReport(), "");

  Arm("thread");
  Run(203, backup());
  EXPECT_EQ(Messages(), Strings{"Системная ошибка. Не удалось создать поток."});
  EXPECT_EQ(ReadFileBytes(backup()), "\xFF\xFE");
  EXPECT_EQ(handheld::CensusReport(), "");

  WriteFileBytes(backup(), Utf16LeBytes(u"", true));
  Arm("thread");
  Run(204, backup());
  EXPECT_EQ(Messages(), (Strings{"Удалить существующие Контакты?",
                                 "Системная ошибка. Не удалось создать поток."}));
  EXPECT_EQ(CountItems(olFolderContacts), 1);
  EXPECT_EQ(handheld::CensusReport(), "");
}

TEST_F(LaunchTest, ImportWithoutAnApplicationObjectIsRefused) {
  WriteFileBytes(backup(), Utf16LeBytes(u"", true));
  scripted::Script script = CommandScript(204, backup());
  // The store goes away while the open dialog is up.
  script.onFileDialog = [this](const scripted::FileDialogCall&) -> std::optional<std::u16string> {
    CloseStore();
    return U16(backup());
  };
  RunCommand(204, script);
  EXPECT_EQ(Messages(), Strings{"Не удалось получить объект приложения!"});
  EXPECT_EQ(handheld::CensusReport(), "");
}

TEST_F(LaunchTest, CancelledFileDialogsEndQuietly) {
  AddItems(olContactItem, 1);
  AddCalls(1);
  Run(203, std::nullopt);
  Run(209, std::nullopt);
  EXPECT_TRUE(Messages().empty());
  EXPECT_FALSE(std::filesystem::exists(backup()));
  EXPECT_EQ(handheld::CensusReport(), "");

  Run(204, std::nullopt);
  EXPECT_TRUE(Messages().empty());
  // A save to an existing file that the user does not want replaced.
  WriteFileBytes(backup(), "keep");
  Run(203, backup());
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(ReadFileBytes(backup()), "keep");
  EXPECT_EQ(handheld::CensusReport(), "");
}

TEST_F(LaunchTest, FileDialogRequests) {
  AddItems(olAppointmentItem, 1);
  SYSTEMTIME before;
  GetLocalTime(&before);
  Run(205, std::nullopt);
  SYSTEMTIME after;
  GetLocalTime(&after);
  auto dialogs = LogOf(scripted::Event::kFileDialog);
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].value, 1);
  EXPECT_EQ(U8(dialogs[0].text), "Сохранить в файл...");
  EXPECT_EQ(dialogs[0].type, 2050u);
  WCHAR name1[40], name2[40];
  FormatDefaultFileName(name1, 40, u"Calendar", before);
  FormatDefaultFileName(name2, 40, u"Calendar", after);
  EXPECT_TRUE(dialogs[0].proposed == name1 || dialogs[0].proposed == name2)
      << U8(dialogs[0].proposed);
  using Pair = std::pair<std::u16string, std::u16string>;
  std::vector<Pair> filters = {{u"Текстовые файлы", u"*.txt"},
                               {u"Файлы CSV", u"*.csv"},
                               {u"Все файлы", u"*.*"}};
  EXPECT_EQ(dialogs[0].filters, filters);

  Run(206, std::nullopt);
  dialogs = LogOf(scripted::Event::kFileDialog);
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].value, 0);
  EXPECT_EQ(U8(dialogs[0].text), "Загрузить из файла...");
  EXPECT_EQ(dialogs[0].type, 4096u);
  EXPECT_EQ(dialogs[0].proposed, u"");
  EXPECT_EQ(dialogs[0].filters, filters);
}

TEST(DefaultFileName, KindWordAndDate) {
  WCHAR name[40];
  SYSTEMTIME date{2007, 12, 1, 31, 10, 0, 0, 0};
  FormatDefaultFileName(name, 40, u"Calendar", date);
  EXPECT_EQ(std::u16string(name), u"Calendar20071231");
  date = SYSTEMTIME{2007, 3, 1, 5, 0, 0, 0, 0};
  FormatDefaultFileName(name, 40, u"Calls", date);
  EXPECT_EQ(std::u16string(name), u"Calls20070305");
  date = SYSTEMTIME{987, 1, 1, 9, 0, 0, 0, 0};
  FormatDefaultFileName(name, 40, u"Tasks", date);
  EXPECT_EQ(std::u16string(name), u"Tasks09870109");
  FormatDefaultFileName(name, 8, u"Contacts", date);  // cut to the buffer, still ended
  EXPECT_EQ(std::u16string(name), u"Contact");
}

TEST_F(LaunchTest, BusyDisplayWhileTheSaveDialogIsOpen) {
  AddItems(olContactItem, 1);
  scripted::Script script = CommandScript(203, std::nullopt);
  bool checked = false;
  script.onFileDialog = [&checked](const scripted::FileDialogCall& call)
      -> std::optional<std::u16string> {
    HWND dialog = scripted::CurrentDialog();
    EXPECT_EQ(call.owner, dialog);
    EXPECT_EQ(U8(scripted::ControlText(dialog, IDC_STATUS)), "Подготовка...");
    EXPECT_TRUE(scripted::ControlVisible(dialog, IDC_STATUS));
    EXPECT_TRUE(scripted::ControlVisible(dialog, IDC_PROGRESS));
    EXPECT_EQ(scripted::ProgressPosition(dialog, IDC_PROGRESS), 0);
    EXPECT_FALSE(scripted::ControlVisible(dialog, IDC_ABOUT));
    EXPECT_FALSE(scripted::MenuBarButtonEnabled(dialog, IDM_ACTIONS));
    EXPECT_TRUE(scripted::MenuBarButtonEnabled(dialog, IDM_EXIT));
    checked = true;
    return std::nullopt;
  };
  RunCommand(203, script);
  EXPECT_TRUE(checked);
}

TEST_F(LaunchTest, RemovalPromptYesPurgesFirstNoAddsAlongside) {
  AddItems(olContactItem, 2);
  Run(203, backup());
  ASSERT_EQ(Messages(), Strings{"Экспорт Контактов завершен. Сохранено записей: 2"});

  auto answering = [this](int answer) {
    scripted::Script script = CommandScript(204, backup());
    script.onMessageBox = [answer](const scripted::MessageBoxCall& call) {
      return (call.type & MB_YESNO) != 0 ? answer : IDOK;
    };
    RunCommand(204, script);
  };
  answering(IDNO);
  EXPECT_EQ(Messages(), (Strings{"Удалить существующие Контакты?",
                                 "Импорт Контактов завершен. Загружено записей: 2"}));
  auto boxes = LogOf(scripted::Event::kMessageBox);
  EXPECT_EQ(boxes[0].type, MB_YESNO | MB_ICONQUESTION);
  EXPECT_EQ(boxes[1].type, MB_ICONINFORMATION | MB_OK);
  EXPECT_EQ(CountItems(olFolderContacts), 4);

  answering(IDYES);
  EXPECT_EQ(Messages(), (Strings{"Удалить существующие Контакты?",
                                 "Импорт Контактов завершен. Загружено записей: 2"}));
  EXPECT_EQ(CountItems(olFolderContacts), 2);
  EXPECT_EQ(handheld::CensusReport(), "");

  // Calendar asks its own question; an empty task folder asks nothing.
  AddItems(olAppointmentItem, 1);
  Run(205, sandbox().path("calendar.txt"));
  Run(206, sandbox().path("calendar.txt"));
  EXPECT_EQ(Messages().at(0), "В Календаре есть записи. Удалить их?");
  WriteFileBytes(backup(), Utf16LeBytes(u"", true));
  Run(208, backup());
  EXPECT_EQ(Messages(), Strings{"Импорт Задач завершен. Загружено записей: 0"});
  EXPECT_EQ(handheld::CensusReport(), "");
}

TEST_F(LaunchTest, SaveReplacesAnExistingFileOnlyAfterConfirmation) {
  AddItems(olContactItem, 3);
  WriteFileBytes(backup(), std::string(5000, 'x'));
  scripted::Script script = CommandScript(203, backup());
  script.onOverwrite = [](const std::u16string&) { return true; };
  RunCommand(203, script);
  EXPECT_EQ(Messages(), Strings{"Экспорт Контактов завершен. Сохранено записей: 3"});
  EXPECT_EQ(LogOf(scripted::Event::kOverwrite).size(), 1u);
  std::string bytes = ReadFileBytes(backup());
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(RecordCount(bytes), 3);
  EXPECT_EQ(bytes.find('x'), std::string::npos);
}

TEST_F(LaunchTest, WorkerErrorsAreShownOnceAndTheJobEnds) {
  AddItems(olContactItem, 3);
  Arm("item:2");
  Run(203, backup());
  EXPECT_EQ(Messages(), Strings{"Ошибка при работе с Контактами!"});
  EXPECT_EQ(RecordCount(ReadFileBytes(backup())), 1);

  AddCalls(2);
  Arm("calllog-entry:2");
  Run(209, sandbox().path("calls.txt"));
  EXPECT_EQ(Messages(), Strings{"Ошибка при работе со Звонками!"});
  EXPECT_EQ(handheld::CensusReport(), "");
}

}  // namespace
