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
#include "handheld/testing/sandbox.h"
#include "handheld/window/scripted.h"
#include "platform/store.h"
#include "worker/jobcontext.h"

namespace shell_testing {

namespace scripted = handheld::scripted;
using handheld::testing::U16;
using handheld::testing::U8;

// Whether the display was idle when the job was over (see CommandScript).
inline bool idleWhenOver = false;

inline bool DisplayIdle(HWND dialog) {
  return scripted::ControlVisible(dialog, IDC_ABOUT) &&
         !scripted::ControlVisible(dialog, IDC_STATUS) &&
         !scripted::ControlVisible(dialog, IDC_PROGRESS) &&
         scripted::MenuBarButtonEnabled(dialog, IDM_ACTIONS);
}

// A script that posts `command` once the dialog has started, answers the file dialogs
// with `file` (nullopt cancels), and posts the exit command as soon as the job is over
// (the launch gave up, or the worker's end was handled), noting in idleWhenOver whether
// the display was idle again. Questions are answered No.
inline scripted::Script CommandScript(WORD command, std::optional<std::string> file) {
  idleWhenOver = false;
  scripted::Script script;
  script.waitLimit = std::chrono::milliseconds(20000);
  script.onStart = [command](HWND dialog) {
    if (command != 0) PostMessageW(dialog, WM_COMMAND, command, 0);
  };
  script.afterMessage = [command](HWND dialog, const MSG& message) {
    bool over = (message.message == WM_COMMAND && LOWORD(message.wParam) == command &&
                 JobContext.worker == nullptr) ||
                (message.message == WM_JOBNOTIFY && message.wParam == NotifyEnded);
    if (!over) return;
    idleWhenOver = DisplayIdle(dialog);
    PostMessageW(dialog, WM_COMMAND, IDM_EXIT, 0);
  };
  script.onFileDialog = [file](const scripted::FileDialogCall&) -> std::optional<std::u16string> {
    if (!file) return std::nullopt;
    return U16(*file);
  };
  return script;
}

// Runs the program entry with the script; returns its result.
inline int RunShell(scripted::Script script) {
  scripted::SetScript(std::move(script));
  return ProgramEntry(RegisterResources(&QuillmoteResources));
}

inline std::vector<scripted::LogEntry> LogOf(scripted::Event event) {
  std::vector<scripted::LogEntry> found;
  for (const auto& entry : scripted::Log()) {
    if (entry.event == event) found.push_back(entry);
  }
  return found;
}

// The texts of every message box shown, in order.
inline std::vector<std::string> Messages() {
  std::vector<std::string> texts;
  for (const auto& entry : LogOf(scripted::Event::kMessageBox)) texts.push_back(U8(entry.text));
  return texts;
}

inline bool DialogEnded() {
  return !LogOf(scripted::Event::kEndDialog).empty();
}

// Adds `count` items of a store kind (olContactItem, olAppointmentItem, olTaskItem).
inline void AddItems(LONG itemType, int count) {
  ASSERT_TRUE(OpenStore());
  IPOutlookApp* app = GetStoreApp();
  ASSERT_NE(app, nullptr);
  for (int i = 0; i < count; ++i) {
    IDispatch* item = nullptr;
    ASSERT_GE(app->CreateItem(itemType, &item), 0);
    std::u16string name = U16("Item " + std::to_string(i + 1));
    BSTR text = SysAllocString(name.c_str());
    if (itemType == olContactItem) {
      auto* contact = static_cast<IContact*>(item);
      contact->put_FirstName(text);
      contact->Save();
    } else if (itemType == olTaskItem) {
      auto* task = static_cast<ITask*>(item);
      task->put_Subject(text);
      task->Save();
    } else {
      auto* appointment = static_cast<IAppointment*>(item);
      appointment->put_Subject(text);
      appointment->put_Start(39156.5);  // 15 March 2007, noon
      appointment->put_End(39156.5625);
      appointment->Save();
    }
    SysFreeString(text);
    item->Release();
  }
  app->Release();
  CloseStore();
}

inline int CountItems(LONG folderId) {
  EXPECT_TRUE(OpenStore());
  IPOutlookApp* app = GetStoreApp();
  if (app == nullptr) return -1;
  IFolder* folder = nullptr;
  IPOutlookItemCollection* items = nullptr;
  INT count = -1;
  if (app->GetDefaultFolder(folderId, &folder) >= 0 && folder->get_Items(&items) >= 0) {
    items->get_Count(&count);
    items->Release();
  }
  if (folder != nullptr) folder->Release();
  app->Release();
  CloseStore();
  return count;
}

inline void AddCalls(int count) {
  for (int i = 0; i < count; ++i) {
    handheld::CallEntryData call;
    call.number = U16("+7900000000" + std::to_string(i));
    call.startTime = 133000000000000000ull + static_cast<uint64_t>(i) * 600000000ull;
    call.endTime = call.startTime + 300000000ull;
    call.iom = 1;
    call.connected = true;
    call.ended = true;
    std::string error;
    ASSERT_TRUE(handheld::AddCallEntry(call, &error)) << error;
  }
}

// Lines (records) of a backup file: CR LF count after the byte-order mark.
inline int RecordCount(const std::string& bytes) {
  int records = 0;
  for (size_t i = 2; i + 3 < bytes.size(); i += 2) {
    if (bytes[i] == '\r' && bytes[i + 1] == 0 && bytes[i + 2] == '\n' && bytes[i + 3] == 0) {
      ++records;
    }
  }
  return records;
}

}  // namespace shell_testing
