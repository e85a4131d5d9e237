// The main dialog on the scripted window backend: start-up, layout, JobNotify, the
// exit command with and without a running job, the end-of-job race with the exit
// question, and the call-log command without its library.
#include <array>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include "app/shell_test_support.h"

namespace {

using namespace shell_testing;
using DialogTest = ShellTest;

constexpr const char* kExitQuestion = "Выйти из программы не дожидаясь окончания действия?";

std::array<LONG, 4> Rect(HWND dialog, int control) {
  RECT r = scripted::ControlRect(dialog, control);
  return {r.left, r.top, r.right, r.bottom};
}

// A store that cannot be logged on to ends the start with message 600, owned by no
// window; then the start proper, and a start without the call-log library.
TEST_F(DialogTest, StartUpLayoutExitWhileIdleAndWithoutTheCallLogLibrary) {
  std::string error;
  ASSERT_TRUE(handheld::ArmFaults("logon", &error)) << error;  // fails once
  scripted::Script script;
  HWND owner = reinterpret_cast<HWND>(1);
  script.onMessageBox = [&owner](const scripted::MessageBoxCall& call) {
    owner = call.owner;
    return IDOK;
  };
  EXPECT_EQ(RunShell(script), 0);
  EXPECT_EQ(owner, nullptr);
  EXPECT_EQ(Messages(), Strings{"stop: Quillmote не может работать на этом устройстве..."});
  EXPECT_EQ(LogOf(scripted::Event::kEndDialog).size(), 1u);

  bool checked = false;
  script.onStart = [&checked](HWND dialog) {
    EXPECT_EQ(U8(scripted::ControlText(dialog, 0)), "Quillmote");
    EXPECT_EQ(U8(scripted::ControlText(dialog, IDC_ABOUT)).substr(0, 20), "Quillmote (0.0.0.4) ");
    EXPECT_EQ(Display(dialog), "idle");
    EXPECT_TRUE(scripted::MenuBarButtonEnabled(dialog, IDM_EXIT));
    EXPECT_EQ(scripted::MenuItems(dialog, IDM_ACTIONS).size(), 10u);  // 7 commands, 3 lines
    EXPECT_EQ(scripted::MenuItemState(dialog, IDM_SAVE_CALLS), 0u);

    // 240 x 268 with a 14-pixel credit line: credit at 4,253 232x14, about 4,4 232x247.
    EXPECT_EQ(scripted::ClientWidth(dialog), 240);
    EXPECT_EQ(scripted::ClientHeight(dialog), 268);
    scripted::FontInfo font = scripted::ControlFont(dialog, IDC_CREDIT);
    EXPECT_EQ(U8(font.face), "Tahoma");
    EXPECT_EQ(font.height, -11);
    EXPECT_EQ(Rect(dialog, IDC_CREDIT), (std::array<LONG, 4>{4, 253, 236, 267}));
    EXPECT_EQ(Rect(dialog, IDC_ABOUT), (std::array<LONG, 4>{4, 4, 236, 251}));
    LONG statusBottom = Rect(dialog, IDC_STATUS)[3];
    EXPECT_EQ(Rect(dialog, IDC_PROGRESS)[1], statusBottom + 8);
    // Another size: the credit line keeps its height at the bottom.
    SendMessageW(dialog, WM_SIZE, 0, (400 << 16) | 300);
    EXPECT_EQ(Rect(dialog, IDC_CREDIT), (std::array<LONG, 4>{4, 385, 296, 399}));
    checked = true;
    PostMessageW(dialog, WM_COMMAND, IDM_EXIT, 0);
  };
  bool instanceFound = true;
  EXPECT_EQ(RunShell(script, &instanceFound), 0);
  EXPECT_TRUE(checked);
  EXPECT_TRUE(Messages().empty());  // no question while idle
  ASSERT_EQ(LogOf(scripted::Event::kEndDialog).size(), 1u);
  EXPECT_FALSE(instanceFound);
  // The dialog's cancel command exits too.
  script.onStart = [](HWND dialog) { PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); };
  EXPECT_EQ(RunShell(script), 0);
  EXPECT_EQ(LogOf(scripted::Event::kEndDialog).size(), 1u);

  // Without the call-log library "save calls" is greyed, and does nothing when given.
  std::filesystem::create_directory(sandbox().path("modules"));
  setenv("HANDHELD_MODULE_DIR", sandbox().path("modules").c_str(), 1);
  AddCall();
  script = CommandScript(IDM_SAVE_CALLS, sandbox().path("calls.txt"));
  script.onStart = [](HWND dialog) {
    EXPECT_EQ(scripted::MenuItemState(dialog, IDM_SAVE_CALLS), MF_GRAYED);
    for (WORD command = IDM_FIRST_JOB; command < IDM_SAVE_CALLS; ++command) {
      EXPECT_EQ(scripted::MenuItemState(dialog, command), 0u) << command;
    }
    PostMessageW(dialog, WM_COMMAND, IDM_SAVE_CALLS, 0);
  };
  EXPECT_EQ(RunShell(script), 0);
  EXPECT_TRUE(LogOf(scripted::Event::kFileDialog).empty());
  EXPECT_TRUE(Messages().empty());
}

TEST_F(DialogTest, JobNotifyCodes) {
  scripted::Script script;
  script.onStart = [](HWND dialog) {
    Shell& shell = *ShellOf(dialog);
    SetIdleDisplay(shell, dialog, false);
    int repaints = scripted::RepaintCount(dialog, IDC_STATUS);
    SetStatusText(shell, dialog, IDS_SAVING);
    SetStatusText(shell, dialog, IDS_SAVING);  // the same text again: no second repaint
    EXPECT_EQ(scripted::RepaintCount(dialog, IDC_STATUS), repaints + 1);
    SendMessageW(dialog, WM_JOBNOTIFY, NotifyStatus, IDS_LOADING + KindCalendar);
    EXPECT_EQ(U8(scripted::ControlText(dialog, IDC_STATUS)), "Загрузка Календаря...");
    SendMessageW(dialog, WM_JOBNOTIFY, NotifyProgress, 42);
    EXPECT_EQ(scripted::ProgressPosition(dialog, IDC_PROGRESS), 42);
    SendMessageW(dialog, WM_JOBNOTIFY, NotifyError, IDS_NO_INFORMATION);
    SendMessageW(dialog, WM_JOBNOTIFY, NotifyError, IDS_WORK_ERROR + KindCalls);
    SendMessageW(dialog, WM_JOBNOTIFY, NotifyDone, MakeDoneValue(IDS_EXPORT_DONE, 70000));
    SendMessageW(dialog, WM_JOBNOTIFY, NotifyStoppedCount,
                 MakeDoneValue(IDS_LOADED_BEFORE_STOP, 619));
    SendMessageW(dialog, WM_JOBNOTIFY, 9, 0);  // unknown: ignored
    // Values a load dropped and values a save could not carry are counted apart.
    for (ValueLoss loss : {LossFieldTooLong, LossSensitivity, LossTextTooLong}) {
      SendMessageW(dialog, WM_JOBNOTIFY, NotifyFieldDropped, MakeDroppedValue(7, 3, loss));
    }
    // No worker recorded: the end of a job only restores the idle display, and tells
    // the counts.
    SendMessageW(dialog, WM_JOBNOTIFY, NotifyEnded, 0);
    EXPECT_EQ(Display(dialog), "idle");
    PostMessageW(dialog, WM_COMMAND, IDM_EXIT, 0);
  };
  EXPECT_EQ(RunShell(script), 0);
  // The completion message shows the full count, beyond 16 bits.
  EXPECT_EQ(Messages(), (Strings{"stop: Не удалось получить информацию. Действие будет прервано.",
                                 "stop: Ошибка при работе со Звонками!",
                                 "info: Экспорт Контактов завершен. Сохранено записей: 70000",
                                 "info: Загружено записей до остановки: 619",
                                 "warning: Не загружено слишком длинных полей: 1",
                                 "warning: Не сохранено в файл значений: 2"}));
}

// Exit while a load or a save runs: the job is held while question 400 is open; No lets
// it finish, Yes stops it after the current step. A save stopped so leaves the chosen
// file as it was and says where its records are.
TEST_F(DialogTest, ExitWhileAJobRuns) {
  const int kRecords = 1000;
  AddItems(olContactItem, 1);
  Run(203, backup());
  std::string bytes = ReadFileBytes(backup()), many = bytes.substr(0, 2);
  for (int i = 0; i < kRecords; ++i) many += bytes.substr(2);
  WriteFileBytes(backup(), many);
  for (auto [command, reply] : {std::pair{204, IDNO}, {204, IDYES}, {203, IDYES}}) {
    const int answer = reply;  // clang 14 cannot capture a structured binding
    SCOPED_TRACE(std::to_string(command) + (answer == IDYES ? " Yes" : " No"));
    scripted::Script script = CommandScript(static_cast<WORD>(command), backup());
    script.onOverwrite = [](const std::u16string&) { return true; };
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
      heldDuringQuestion = JobRunning(scripted::CurrentDialog());
      return answer;
    };
    int before = CountItems(olFolderContacts);
    EXPECT_EQ(RunShell(script), 0);
    EXPECT_TRUE(heldDuringQuestion);
    EXPECT_EQ(handheld::CensusReport(), "");
    Strings expected = {std::string("question: ") + kExitQuestion};
    if (command == 204) expected.insert(expected.begin(), "question: Удалить существующие Контакты?");
    if (answer == IDNO) {
      expected.push_back("info: Импорт Контактов завершен. Загружено записей: 1000");
      EXPECT_EQ(CountItems(olFolderContacts), before + kRecords);
      EXPECT_FALSE(LogOf(scripted::Event::kRaise).empty());
    } else if (command == 204) {
      EXPECT_LT(CountItems(olFolderContacts), before + kRecords);
    } else {
      expected.push_back("warning: Сохранённые записи оставлены в файле " + backup() + ".partial");
      EXPECT_EQ(ReadFileBytes(backup()), many);
      EXPECT_LT(RecordCount(ReadFileBytes(backup() + ".partial")), before);
    }
    EXPECT_EQ(Messages(), expected);
  }
}

// The worker's end notice is handled while the exit question is open (the question's
// message box pumps posted messages): it must not wait for the worker then, and the
// exit path or the No answer finishes the job.
TEST_F(DialogTest, EndOfJobArrivingWhileTheExitQuestionIsOpen) {
  AddItems(olContactItem, 3);
  for (int answer : {IDNO, IDYES}) {
    SCOPED_TRACE(answer);
    scripted::Script script = CommandScript(203, backup());
    script.onOverwrite = [](const std::u16string&) { return true; };
    bool raced = false;
    script.afterMessage = [answer](HWND dialog, const MSG& message) {
      if (message.message != WM_JOBNOTIFY || message.wParam != NotifyDone) return;
      // The worker's next and last notice is its end; have it queued, then exit.
      EXPECT_TRUE(scripted::WaitForPosted(dialog, std::chrono::seconds(20)));
      SendMessageW(dialog, WM_COMMAND, IDM_EXIT, 0);
      if (answer == IDNO) {
        EXPECT_EQ(Display(dialog), "idle");
        EXPECT_FALSE(JobRunning(dialog));
        PostMessageW(dialog, WM_COMMAND, IDM_EXIT, 0);
      }
    };
    script.onMessageBox = [answer, &raced](const scripted::MessageBoxCall& call) {
      if (U8(call.text) != kExitQuestion) return IDOK;
      HWND dialog = scripted::CurrentDialog();
      EXPECT_GE(scripted::PumpPending(dialog), 1);
      // Only noted: still busy, the worker still recorded.
      EXPECT_TRUE(JobRunning(dialog));
      EXPECT_FALSE(scripted::ControlVisible(dialog, IDC_ABOUT));
      raced = true;
      return answer;
    };
    EXPECT_EQ(RunShell(script), 0);
    EXPECT_TRUE(raced);
    EXPECT_EQ(LogOf(scripted::Event::kEndDialog).size(), 1u);
    EXPECT_EQ(RecordCount(ReadFileBytes(backup())), 3);
    EXPECT_EQ(handheld::CensusReport(), "");
  }
}

// A message box keeps dispatching the dialog's messages (the worker's end among them), yet
// the warning about fields not loaded opens only once the completion message is closed.
TEST_F(DialogTest, AFollowUpMessageWaitsForTheMessageBeforeIt) {
  WriteFileBytes(backup(), handheld::testing::Utf16LeBytes(
                               std::u16string(1025, u't') + u"\tSecond\t\r\n", true));
  scripted::Script script = CommandScript(204, backup());
  int open = 0;
  bool overAnother = false;
  script.onMessageBox = [&](const scripted::MessageBoxCall& call) {
    overAnother = overAnother || open > 0;
    ++open;
    while ((call.type & 0xF0) == MB_ICONINFORMATION && JobRunning(call.owner) &&
           scripted::WaitForPosted(call.owner, std::chrono::seconds(20))) {
      scripted::PumpPending(call.owner);
    }
    --open;
    return IDOK;
  };
  EXPECT_EQ(RunShell(script), 0);
  EXPECT_FALSE(overAnother);
  EXPECT_EQ(Messages(), (Strings{"info: Импорт Контактов завершен. Загружено записей: 1",
                                 "warning: Не загружено слишком длинных полей: 1"}));
}

}  // namespace
