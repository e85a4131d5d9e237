// The main dialog on the scripted window backend: start-up, layout, JobNotify, the
// exit command with and without a running job, the end-of-job race with the exit
// question, and the call-log command without its library.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/shell_test_support.h"
#include "handheld/faults.h"

namespace {

using namespace shell_testing;
using handheld::testing::ReadFileBytes;
using handheld::testing::WriteFileBytes;
using Strings = std::vector<std::string>;

constexpr const char* kExitQuestion = "Выйти из программы не дожидаясь окончания действия?";

class DialogTest : public handheld::testing::SandboxTest {
 protected:
  // A contacts backup of `records` records, made by exporting one contact.
  std::string MakeContactsBackup(int records) {
    AddItems(olContactItem, 1);
    std::string one = sandbox().path("one.txt");
    EXPECT_EQ(RunShell(CommandScript(203, one)), 0);
    std::string bytes = ReadFileBytes(one);
    std::string record = bytes.substr(2);
    std::string many = bytes.substr(0, 2);
    for (int i = 0; i < records; ++i) many += record;
    std::string path = sandbox().path("many.txt");
    WriteFileBytes(path, many);
    return path;
  }
};

TEST_F(DialogTest, StartUpLayoutAndExitWhileIdle) {
  scripted::Script script;
  bool checked = false;
  script.onStart = [&checked](HWND dialog) {
    EXPECT_EQ(U8(scripted::ControlText(dialog, 0)), "Quillmote");
    EXPECT_EQ(U8(scripted::ControlText(dialog, IDC_ABOUT)),
              "Quillmote (0.0.0.4) умеет делать экспорт (сохранение) в текстовый файл и импорт "
              "(загрузку) из текстового файла:\r\n  - Контактов\r\n  - Календаря\r\n"
              "  - Задач\r\n  - Звонков (только экспорт)");
    EXPECT_TRUE(scripted::ControlVisible(dialog, IDC_ABOUT));
    EXPECT_FALSE(scripted::ControlVisible(dialog, IDC_STATUS));
    EXPECT_FALSE(scripted::ControlVisible(dialog, IDC_PROGRESS));
    ASSERT_TRUE(scripted::HasMenuBar(dialog));
    EXPECT_TRUE(scripted::MenuBarButtonEnabled(dialog, IDM_EXIT));
    EXPECT_TRUE(scripted::MenuBarButtonEnabled(dialog, IDM_ACTIONS));
    std::vector<std::u16string> items = scripted::MenuItems(dialog, IDM_ACTIONS);
    EXPECT_EQ(items.size(), 10u);
    EXPECT_EQ(scripted::MenuItemState(dialog, IDM_SAVE_CALLS), 0u);

    // 240 x 268 with a 14-pixel credit line: credit at 4,253 232x14, about 4,4 232x247.
    EXPECT_EQ(scripted::ClientWidth(dialog), 240);
    EXPECT_EQ(scripted::ClientHeight(dialog), 268);
    scripted::FontInfo font = scripted::ControlFont(dialog, IDC_CREDIT);
    EXPECT_EQ(U8(font.face), "Tahoma");
    EXPECT_EQ(font.height, -11);
    RECT credit = scripted::ControlRect(dialog, IDC_CREDIT);
    EXPECT_EQ((std::vector<LONG>{credit.left, credit.top, credit.right, credit.bottom}),
              (std::vector<LONG>{4, 253, 236, 267}));
    RECT about = scripted::ControlRect(dialog, IDC_ABOUT);
    EXPECT_EQ((std::vector<LONG>{about.left, about.top, about.right, about.bottom}),
              (std::vector<LONG>{4, 4, 236, 251}));
    RECT progress = scripted::ControlRect(dialog, IDC_PROGRESS);
    LONG statusHeight = scripted::ControlRect(dialog, IDC_STATUS).bottom - 8;
    EXPECT_EQ((std::vector<LONG>{progress.left, progress.top, progress.right}),
              (std::vector<LONG>{8, statusHeight + 16, 232}));
    // Another size: the credit line keeps its height at the bottom.
    SendMessageW(dialog, WM_SIZE, 0, (400 << 16) | 300);
    credit = scripted::ControlRect(dialog, IDC_CREDIT);
    EXPECT_EQ((std::vector<LONG>{credit.left, credit.top, credit.right, credit.bottom}),
              (std::vector<LONG>{4, 385, 296, 399}));
    checked = true;
    PostMessageW(dialog, WM_COMMAND, IDM_EXIT, 0);
  };
  EXPECT_EQ(RunShell(script), 0);
  EXPECT_TRUE(checked);
  EXPECT_TRUE(Messages().empty());  // no question while idle
  auto ends = LogOf(scripted::Event::kEndDialog);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].value, 0);
  EXPECT_FALSE(instanceFound);
  // The dialog's cancel command exits too.
  script = scripted::Script();
  script.onStart = [](HWND dialog) { PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); };
  EXPECT_EQ(RunShell(script), 0);
  EXPECT_TRUE(DialogEnded());
}

TEST_F(DialogTest, StoreLogonFailureEndsWithMessage600) {
  std::string error;
  ASSERT_TRUE(handheld::ArmFaults("logon", &error)) << error;
  scripted::Script script;
  HWND owner = reinterpret_cast<HWND>(1);
  script.onMessageBox = [&owner](const scripted::MessageBoxCall& call) {
    owner = call.owner;
    return IDOK;
  };
  EXPECT_EQ(RunShell(script), 0);
  EXPECT_EQ(owner, nullptr);
  auto boxes = LogOf(scripted::Event::kMessageBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(U8(boxes[0].text), "Quillmote не может работать на этом устройстве...");
  EXPECT_EQ(boxes[0].type, MB_ICONSTOP | MB_OK);
  EXPECT_TRUE(DialogEnded());
  EXPECT_EQ(handheld::CensusReport(), "");
}

TEST_F(DialogTest, JobNotifyCodes) {
  scripted::Script script;
  script.onStart = [](HWND dialog) {
    SetIdleDisplay(dialog, false);
    int repaints = scripted::RepaintCount(dialog, IDC_STATUS);
    SetStatusText(dialog, 500);
    SetStatusText(dialog, 500);  // the same text again: no second repaint
    EXPECT_EQ(scripted::RepaintCount(dialog, IDC_STATUS), repaints + 1);
    EXPECT_EQ(U8(scripted::ControlText(dialog, IDC_STATUS)), "Сохранение Контактов...");
    PostMessageW(dialog, WM_JOBNOTIFY, NotifyStatus, 506);
    PostMessageW(dialog, WM_JOBNOTIFY, NotifyProgress, 42);
    PostMessageW(dialog, WM_JOBNOTIFY, NotifyError, 609);
    PostMessageW(dialog, WM_JOBNOTIFY, NotifyError, 533);
    PostMessageW(dialog, WM_JOBNOTIFY, NotifyDone, MakeDoneValue(515, 70000));
    PostMessageW(dialog, WM_JOBNOTIFY, 9, 0);  // unknown: ignored
  };
  script.afterMessage = [](HWND dialog, const MSG& message) {
    if (message.message != WM_JOBNOTIFY) return;
    if (message.wParam == NotifyStatus) {
      EXPECT_EQ(U8(scripted::ControlText(dialog, IDC_STATUS)), "Загрузка Календаря...");
    } else if (message.wParam == NotifyProgress) {
      EXPECT_EQ(scripted::ProgressPosition(dialog, IDC_PROGRESS), 42);
    } else if (message.wParam == 9) {
      // No worker recorded: the end of a job only restores the idle display.
      PostMessageW(dialog, WM_JOBNOTIFY, NotifyEnded, 0);
    } else if (message.wParam == NotifyEnded) {
      EXPECT_TRUE(scripted::ControlVisible(dialog, IDC_ABOUT));
      EXPECT_TRUE(scripted::MenuBarButtonEnabled(dialog, IDM_ACTIONS));
      EXPECT_EQ(scripted::ProgressPosition(dialog, IDC_PROGRESS), 0);
      PostMessageW(dialog, WM_COMMAND, IDM_EXIT, 0);
    }
  };
  EXPECT_EQ(RunShell(script), 0);
  EXPECT_EQ(Messages(), (Strings{"Не удалось получить информацию. Действие будет прервано.",
                                 "Ошибка при работе со Звонками!",
                                 "Экспорт Контактов завершен. Сохранено записей: 70000"}));
  auto boxes = LogOf(scripted::Event::kMessageBox);
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].type, MB_ICONSTOP | MB_OK);
  EXPECT_EQ(boxes[2].type, MB_ICONINFORMATION | MB_OK);
  EXPECT_EQ(U8(boxes[2].caption), "Quillmote");
}

TEST(CompletionText, CountReplacesTheFormatsNumber) {
  WCHAR out[200];
  FormatCompletionText(out, 200, u"Сохранено записей: %d", 3);
  EXPECT_EQ(std::u16string(out), u"Сохранено записей: 3");
  FormatCompletionText(out, 200, u"%d of 100%%", 4294967295u);
  EXPECT_EQ(std::u16string(out), u"4294967295 of 100%");
  FormatCompletionText(out, 6, u"n: %d", 123456);
  EXPECT_EQ(std::u16string(out), u"n: 12");
}

// Exit while an import runs: the job is held while question 400 is open; No lets it
// finish, Yes stops it after the current step.
TEST_F(DialogTest, ExitWhileAJobRuns) {
  const int kRecords = 1000;
  std::string backup = MakeContactsBackup(kRecords);
  for (int answer : {IDNO, IDYES}) {
    SCOPED_TRACE(answer);
    scripted::Script script = CommandScript(204, backup);
    auto after = script.afterMessage;
    script.afterMessage = [after](HWND dialog, const MSG& message) {
      if (message.message == WM_JOBNOTIFY && message.wParam == NotifyStatus) {
        PostMessageW(dialog, WM_COMMAND, IDM_EXIT, 0);
      }
      after(dialog, message);
    };
    bool heldDuringQuestion = false;
    script.onMessageBox = [answer, &heldDuringQuestion](const scripted::MessageBoxCall& call) {
      if (U8(call.text) != kExitQuestion) return (call.type & MB_YESNO) != 0 ? IDNO : IDOK;
      heldDuringQuestion = JobContext.worker != nullptr;
      return answer;
    };
    int before = CountItems(olFolderContacts);
    EXPECT_EQ(RunShell(script), 0);
    EXPECT_TRUE(heldDuringQuestion);
    EXPECT_TRUE(DialogEnded());
    EXPECT_EQ(JobContext.worker, nullptr);
    int after_count = CountItems(olFolderContacts);
    if (answer == IDNO) {
      EXPECT_EQ(Messages(), (Strings{"Удалить существующие Контакты?", kExitQuestion,
                                     "Импорт Контактов завершен. Загружено записей: 1000"}));
      EXPECT_EQ(after_count, before + kRecords);
      EXPECT_FALSE(LogOf(scripted::Event::kRaise).empty());
    } else {
      EXPECT_EQ(Messages(), (Strings{"Удалить существующие Контакты?", kExitQuestion}));
      EXPECT_LT(after_count, before + kRecords);
    }
    EXPECT_EQ(handheld::CensusReport(), "");
  }
}

// The worker's end notice is handled while the exit question is open (the question's
// message box pumps posted messages): it must not wait for the worker then, and the
// exit path or the No answer finishes the job.
TEST_F(DialogTest, EndOfJobArrivingWhileTheExitQuestionIsOpen) {
  AddItems(olContactItem, 3);
  for (int answer : {IDNO, IDYES}) {
    SCOPED_TRACE(answer);
    std::string backup = sandbox().path("race" + std::to_string(answer) + ".txt");
    scripted::Script script = CommandScript(203, backup);
    bool raced = false;
    script.afterMessage = [answer](HWND dialog, const MSG& message) {
      if (message.message != WM_JOBNOTIFY) return;
      if (message.wParam == NotifyDone) {
        // The worker's next and last notice is its end; have it queued, then exit.
        EXPECT_TRUE(scripted::WaitForPosted(dialog, std::chrono::seconds(20)));
        SendMessageW(dialog, WM_COMMAND, IDM_EXIT, 0);
        if (answer == IDNO) {
          EXPECT_TRUE(scripted::ControlVisible(dialog, IDC_ABOUT));
          EXPECT_EQ(JobContext.worker, nullptr);
          PostMessageW(dialog, WM_COMMAND, IDM_EXIT, 0);
        }
      }
    };
    script.onMessageBox = [answer, &raced](const scripted::MessageBoxCall& call) {
      if (U8(call.text) != kExitQuestion) return IDOK;
      HWND dialog = scripted::CurrentDialog();
      EXPECT_GE(scripted::PumpPending(dialog), 1);
      // Only noted: still busy, the worker still recorded.
      EXPECT_NE(JobContext.worker, nullptr);
      EXPECT_FALSE(scripted::ControlVisible(dialog, IDC_ABOUT));
      raced = true;
      return answer;
    };
    EXPECT_EQ(RunShell(script), 0);
    EXPECT_TRUE(raced);
    EXPECT_TRUE(DialogEnded());
    EXPECT_EQ(JobContext.worker, nullptr);
    EXPECT_EQ(RecordCount(ReadFileBytes(backup)), 3);
    EXPECT_EQ(handheld::CensusReport(), "");
  }
}

TEST_F(DialogTest, SaveCallsIsGreyedWithoutTheCallLogLibrary) {
  std::string empty = sandbox().path("modules");
  std::filesystem::create_directory(empty);
  setenv("HANDHELD_MODULE_DIR", empty.c_str(), 1);
  AddItems(olContactItem, 1);
  AddCalls(1);
  scripted::Script script = CommandScript(209, sandbox().path("calls.txt"));
  script.onStart = [](HWND dialog) {
    EXPECT_EQ(scripted::MenuItemState(dialog, IDM_SAVE_CALLS), MF_GRAYED);
    for (WORD command = 203; command < 209; ++command) {
      EXPECT_EQ(scripted::MenuItemState(dialog, command), 0u) << command;
    }
    PostMessageW(dialog, WM_COMMAND, IDM_SAVE_CALLS, 0);  // a greyed command does nothing
  };
  EXPECT_EQ(RunShell(script), 0);
  EXPECT_TRUE(LogOf(scripted::Event::kFileDialog).empty());
  EXPECT_TRUE(Messages().empty());

  // The other commands work.
  EXPECT_EQ(RunShell(CommandScript(203, sandbox().path("contacts.txt"))), 0);
  EXPECT_EQ(Messages(), Strings{"Экспорт Контактов завершен. Сохранено записей: 1"});
  EXPECT_EQ(handheld::CensusReport(), "");
}

}  // namespace
