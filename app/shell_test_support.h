// Test support for the shell: runs the program entry on the scripted window backend
// with a script that posts one command and gives the exit command once the job is over,
// and fills the sandboxed store.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/launch.h"
#include "app/resources.h"
#include "app/shell.h"
#include "handheld/bstr.h"
#include "handheld/callstore.h"
#include "handheld/faults.h"
#include "handheld/testing/sandbox.h"
#include "handheld/window/scripted.h"
#include "platform/store.h"
#include "worker/job.h"
#include "worker/testing/job_harness.h"

namespace shell_testing {

namespace scripted = handheld::scripted;
using handheld::testing::ReadFileBytes;
using handheld::testing::U16;
using handheld::testing::U8;
using handheld::testing::WriteFileBytes;
using Strings = std::vector<std::string>;

// Whether the display was idle when the job was over (see CommandScript).
inline bool idleWhenOver = false;

// Whether the main dialog has a worker running (or not yet waited for).
inline bool JobRunning(HWND dialog) {
  const Shell* shell = ShellOf(dialog);
  return shell != nullptr && shell->link.worker != nullptr;
}

// "idle" (about text, "Действия" enabled) or "busy" (status line and progress bar,
// "Действия" disabled), each with the bar at 0; "mixed" otherwise.
inline std::string Display(HWND dialog) {
  const bool about = scripted::ControlVisible(dialog, IDC_ABOUT),
             status = scripted::ControlVisible(dialog, IDC_STATUS),
             progress = scripted::ControlVisible(dialog, IDC_PROGRESS),
             actions = scripted::MenuBarButtonEnabled(dialog, IDM_ACTIONS),
             atZero = scripted::ProgressPosition(dialog, IDC_PROGRESS) == 0;
  if (about && !status && !progress && actions && atZero) return "idle";
  if (!about && status && progress && !actions && atZero) return "busy";
  return "mixed";
}

// A script that posts `command` once the dialog has started, answers the file dialogs
// with `file` (nullopt cancels), and posts the exit command as soon as the job is over
// (the launch gave up, or the worker's end was handled), noting in idleWhenOver whether
// the display was idle again. Questions are answered No.
inline scripted::Script CommandScript(WORD command, std::optional<std::string> file) {
  idleWhenOver = false;
  scripted::Script script;
  script.waitLimit = std::chrono::milliseconds(20000);
  script.onStart = [command](HWND dialog) { PostMessageW(dialog, WM_COMMAND, command, 0); };
  script.afterMessage = [command](HWND dialog, const MSG& message) {
    bool over = (message.message == WM_COMMAND && LOWORD(message.wParam) == command &&
                 !JobRunning(dialog)) ||
                (message.message == WM_JOBNOTIFY && message.wParam == NotifyEnded);
    if (!over) return;
    idleWhenOver = Display(dialog) == "idle";
    PostMessageW(dialog, WM_COMMAND, IDM_EXIT, 0);
  };
  script.onFileDialog = [file](const scripted::FileDialogCall&) -> std::optional<std::u16string> {
    if (!file) return std::nullopt;
    return U16(*file);
  };
  return script;
}

// Runs the program entry with the script; returns its result.
inline int RunShell(scripted::Script script, bool* instanceFound = nullptr) {
  scripted::SetScript(std::move(script));
  return ProgramEntry(RegisterResources(&QuillmoteResources), instanceFound);
}

inline std::vector<scripted::LogEntry> LogOf(scripted::Event event) {
  std::vector<scripted::LogEntry> found;
  for (const auto& entry : scripted::Log()) {
    if (entry.event == event) found.push_back(entry);
  }
  return found;
}

// Every message box shown, in order, as "stop: text" (stop icon, OK), "question: text"
// (question icon, Yes and No) or "info: text" (information icon, OK); each must have
// the product name as caption.
inline Strings Messages() {
  Strings texts;
  for (const auto& entry : LogOf(scripted::Event::kMessageBox)) {
    EXPECT_EQ(U8(entry.caption), "Quillmote");
    const char* style = entry.type == (MB_ICONSTOP | MB_OK)          ? "stop: "
                        : entry.type == (MB_ICONQUESTION | MB_YESNO) ? "question: "
                        : entry.type == (MB_ICONINFORMATION | MB_OK) ? "info: "
                        : entry.type == (MB_ICONWARNING | MB_OK)     ? "warning: "
                                                                     : "other: ";
    texts.push_back(style + U8(entry.text));
  }
  return texts;
}

using worker_testing::AddItems;
using worker_testing::CountItems;

inline void AddCall() {
  handheld::CallEntryData call;
  call.number = u"+79000000000";
  call.startTime = 133000000000000000ull;
  call.endTime = call.startTime + 300000000ull;
  std::string error;
  ASSERT_TRUE(handheld::AddCallEntry(call, &error)) << error;
}

using worker_testing::RecordCount;

// A sandboxed shell test. Run starts the program with one command (see CommandScript)
// and checks that it ended, idle, with nothing held.
class ShellTest : public handheld::testing::SandboxTest {
 protected:
  // `yes`: the answer to the overwrite question and to the removal prompt.
  void Run(WORD command, std::optional<std::string> file, const char* faults = "",
           bool yes = false) {
    std::string error;
    ASSERT_TRUE(handheld::ArmFaults(faults, &error)) << error;
    scripted::Script script = CommandScript(command, file);
    script.onOverwrite = [yes](const std::u16string&) { return yes; };
    script.onMessageBox = [yes](const scripted::MessageBoxCall& call) {
      return (call.type & MB_YESNO) == 0 ? IDOK : yes ? IDYES : IDNO;
    };
    EXPECT_EQ(RunShell(std::move(script)), 0);
    EXPECT_FALSE(LogOf(scripted::Event::kEndDialog).empty());
    EXPECT_TRUE(idleWhenOver) << "the dialog did not return to the idle display";
    EXPECT_EQ(handheld::CensusReport(), "") << "held after command " << command;
  }
  std::string backup() { return sandbox().path("backup.txt"); }
};

}  // namespace shell_testing
