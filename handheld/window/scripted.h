// The scripted window backend: in-memory windows driven by a script, for the tests and
// for headless runs. Link handheld_window_scripted instead of handheld_window_qt.
//
// Contract:
// - SetScript (before DialogBoxParamW) supplies the answers that a person would give:
//   message boxes, file dialogs, the overwrite question. It also clears the log.
// - DialogBoxParamW creates the dialog, sends WM_INITDIALOG and then WM_SIZE, calls
//   onStart, and runs the message loop on the calling thread: it dispatches posted
//   messages in order; each time the queue has run empty it calls onIdle (when set) and
//   then waits for the next posted message. If nothing arrives for Script::waitLimit
//   the loop logs "wait-limit" and ends the dialog with -1, so that a broken scenario
//   fails instead of hanging.
// - The screen is 240 x 320 pixels with a 26-pixel title bar and a 26-pixel menu bar,
//   so SHInitDialog's full-screen set-up gives the dialog a 240 x 268 client area.
// - Dialog units become pixels with the fixed base units of an 8-point font at 96 dpi:
//   6 horizontal and 13 vertical pixels per 4 horizontal and 8 vertical dialog units
//   (x * 6 / 4 and y * 13 / 8, rounded to the nearest pixel). A control's default font
//   is the template's face at -(points * 96 / 72) pixels, rounded.
// - Message boxes are modal: while onMessageBox runs, the dialog's posted messages stay
//   queued unless the callback calls PumpPending (as the real platform's message box
//   keeps dispatching them).
// - Everything shown is logged (Log/LogLines), and every entry is also handed to
//   Script::onLog as it happens, on the dialog's thread (a raise requested by another
//   process is logged on a listener thread).
// - The dialog's windows stay queryable after DialogBoxParamW returns, until the next
//   SetScript or DialogBoxParamW.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "handheld/window/window.h"

namespace handheld::scripted {

constexpr int kScreenWidth = 240;
constexpr int kScreenHeight = 320;
constexpr int kTitleBarHeight = 26;
constexpr int kMenuBarHeight = 26;

struct MessageBoxCall {
  HWND owner;  // may be null
  std::u16string text;
  std::u16string caption;
  UINT type;  // MB_OK or MB_YESNO with MB_ICONSTOP, MB_ICONQUESTION or MB_ICONINFORMATION
};

struct FileDialogCall {
  bool save;  // GetSaveFileNameW; false for GetOpenFileNameW
  HWND owner;
  std::u16string title;
  std::vector<std::pair<std::u16string, std::u16string>> filters;  // (name, pattern)
  DWORD filterIndex;                                               // 1-based, as requested
  std::u16string proposedName;  // the request's lpstrFile on entry
  DWORD flags;
};

enum class Event {
  kDialogCreated,   // control 0; text: the title
  kMessageBox,      // text, caption, type; value: the answer
  kFileDialog,      // value 1 save / 0 open; text: title; filters; proposed; type: flags;
                    // path: the answer (empty when cancelled)
  kOverwrite,       // path; value: 1 replace / 0 keep
  kFileRefused,     // path; text: the reason
  kText,            // control (0: the dialog's title); text
  kShow,            // control; value 1 shown / 0 hidden
  kMove,            // control; rect
  kRepaint,         // control
  kFont,            // control; text: face; value: height (lfHeight)
  kProgress,        // control; value: position
  kMenuBarCreated,  // value: the menu-bar description id
  kButton,          // command; value 1 enabled / 0 disabled
  kMenuItem,        // command; value: 1 greyed / 0 enabled
  kActivate,        // value: wParam
  kSettingChange,   // value: wParam
  kRaise,           // control 0: the dialog; else text: the caption of an owned window
  kEndDialog,       // value: the result
  kDestroy,         // control 0: the dialog
  kWaitLimit,       // the loop waited Script::waitLimit for nothing
};

struct LogEntry {
  Event event = Event::kText;
  int control = 0;  // control id, or command for kButton / kMenuItem
  std::u16string text{};
  std::u16string caption{};
  std::u16string path{};
  std::u16string proposed{};
  std::vector<std::pair<std::u16string, std::u16string>> filters{};
  UINT type = 0;
  long value = 0;
  RECT rect{0, 0, 0, 0};
};

struct Script {
  // After WM_INITDIALOG and the WM_SIZE that follows it; may post or send commands.
  std::function<void(HWND dialog)> onStart;
  // Each time the queue has run empty, before the loop waits.
  std::function<void(HWND dialog)> onIdle;
  // Returns IDOK, IDYES or IDNO. Unset: IDOK for MB_OK, IDNO for MB_YESNO.
  std::function<int(const MessageBoxCall& call)> onMessageBox;
  // The chosen path, or nullopt to cancel. Unset: cancel.
  // A save to an existing file with OFN_OVERWRITEPROMPT then asks onOverwrite; an open
  // with OFN_FILEMUSTEXIST of a missing file, or a save with OFN_PATHMUSTEXIST into a
  // missing folder, is refused (logged as "file-refused") and the dialog counts as
  // cancelled, as a person could not have chosen it.
  std::function<std::optional<std::u16string>(const FileDialogCall& call)> onFileDialog;
  // "Replace the existing file?" Unset: false. False: the dialog counts as cancelled.
  std::function<bool(const std::u16string& path)> onOverwrite;
  // Every log entry as it is made (see Describe for its one-line form).
  std::function<void(const LogEntry& entry)> onLog;
  // After each posted message that the loop (or PumpPending) dispatched to the dialog
  // procedure.
  std::function<void(HWND dialog, const MSG& message)> afterMessage;
  std::chrono::milliseconds waitLimit{60000};
  // False: other processes do not find this process's dialogs by their titles (a run
  // without a screen must not stand in for the window that a person starts meanwhile).
  bool listed = true;
};

void SetScript(Script script);

// The log since the last SetScript, and one line per entry in UTF-8, for example
//   messagebox stop OK "Caption": "Ошибка при открытии файла!" -> OK
//   text 105 "Подготовка..."
//   show 106 1
std::vector<LogEntry> Log();
std::vector<std::string> LogLines();
std::string Describe(const LogEntry& entry);

// The dialog that runs now (or ran last), or null.
HWND CurrentDialog();

// Dispatches the dialog's queued posted messages now, those posted meanwhile included,
// until the queue is empty. Returns how many were dispatched.
int PumpPending(HWND dialog);
// Waits until at least one posted message is queued for the dialog (true), or until
// `timeout` has passed (false).
bool WaitForPosted(HWND dialog, std::chrono::milliseconds timeout);
// Posted messages queued for the dialog.
int PendingCount(HWND dialog);

// Queries by control id (0 means the dialog itself where it makes sense).
std::u16string ControlText(HWND dialog, int id);
bool ControlVisible(HWND dialog, int id);
RECT ControlRect(HWND dialog, int id);  // in the dialog's client coordinates
// Immediate repaints: UpdateWindow, and WM_SETFONT with lParam TRUE.
int RepaintCount(HWND dialog, int id);
int ProgressPosition(HWND dialog, int id);
struct FontInfo {
  std::u16string face;
  LONG height;  // lfHeight
};
FontInfo ControlFont(HWND dialog, int id);
// The dialog's client area in pixels (240 x 268 after the full-screen set-up).
int ClientWidth(HWND dialog);
int ClientHeight(HWND dialog);

// The menu bar made by SHCreateMenuBar: whether it exists, a button's state by command
// (false when there is no such button), and a drop-down item's state by command as
// GetMenuState gives it (MF_GRAYED, 0, or 0xFFFFFFFF when there is no such item).
bool HasMenuBar(HWND dialog);
bool MenuBarButtonEnabled(HWND dialog, WORD command);
UINT MenuItemState(HWND dialog, WORD command);
// The texts of the drop-down of a button, in order; separators as "-".
std::vector<std::u16string> MenuItems(HWND dialog, WORD buttonCommand);

}  // namespace handheld::scripted
