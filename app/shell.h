// The application shell: the program's entry with its single-instance rule, and the main
// dialog (start-up, layout, commands, exit, and the reaction to the worker's JobNotify).
//
// Contract: everything here runs on the dialog thread. The entry keeps the shell's state
// (Shell) for the dialog's life and hands it to the dialog, which keeps it as its own
// value (DWLP_USER); nothing of it is process-wide. The entry returns 0 in every case:
// after the dialog has ended, after the store logon failed (message 600), and when
// another instance was found and brought to the front. The exit command never waits for
// a worker that it holds suspended: a JobNotify code 0 that arrives while the exit
// question is open is only noted, and the exit path, which resumes the worker first,
// waits for it and cleans up.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "handheld/window/window.h"
#include "platform/calllog.h"
#include "platform/store.h"
#include "worker/job.h"

constexpr int kTextChars = 200;  // every string buffer of the shell

struct Shell {
  HINSTANCE programInstance = nullptr;
  WCHAR productName[kTextChars] = {};
  // The shared text buffer of ShowMessageId, SetStatusText and the completion message.
  WCHAR textBuffer[kTextChars] = {};
  WCHAR completionText[kTextChars] = {};  // the formatted completion message
  WCHAR filterList[kTextChars] = {};      // string 403, every TAB turned into a zero
  int lastStatusId = 0;                   // the string id last put into the status line
  HWND menuBar = nullptr;
  HFONT creditFont = nullptr;
  SHACTIVATEINFO activateInfo = {};
  StoreSession store;  // logged on from start-up to the exit command
  CallLog callLog;     // the call-log library, loaded at start-up
  WorkerLink link;     // what the running worker and the dialog share
  // The exit question is open (the worker held suspended), and whether the worker's
  // end-of-job notice came in meanwhile.
  bool exitQuestionOpen = false;
  bool jobEndedDuringQuestion = false;
  // Fields of the running load that were longer than their columns take and dropped;
  // values of the running save that the file does not carry.
  uint32_t droppedFields = 0;
  uint32_t unsavedValues = 0;
  // The running save's partial file (see SaveOutcome): still there once the worker has
  // ended, it holds the records of a save that ended early. Empty for other jobs.
  WCHAR savePartial[kPathChars] = {};
  // Message boxes of the shell open now, and the follow-up messages waiting for them to
  // be closed (see ShowFollowUp).
  int openMessages = 0;
  struct FollowUp {
    HWND owner;
    std::u16string text;
    UINT style;
  };
  std::deque<FollowUp> followUps;
};

// The program entry: registers nothing itself (the caller has registered the resources
// and passes their instance). *instanceFound (when given) tells whether another
// instance was found and raised instead.
int ProgramEntry(HINSTANCE instance, bool* instanceFound = nullptr);
// The program entry without the single-instance rule, for quillmote-batch, which runs
// beside an idle window.
int RunMainDialog(HINSTANCE instance);

// The main dialog's event handler: 1 for initialisation, 0 for everything else. The
// initialisation value is the Shell.
INT_PTR MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// The shell of a main dialog, or null; for the batch runner and the tests, which look
// at it from the dialog thread.
Shell* ShellOf(HWND dialog);

// Asks the shell for a menu bar built from the menu-bar description `resourceId` of the
// program's resources; null when it cannot be created.
HWND CreateMainMenuBar(const Shell& shell, HWND dialog, UINT resourceId);

// Places the four controls for a client area of width x height pixels; each keeps its
// current height.
void LayoutMainDialog(HWND dialog, int width, int height);

// Formats `format` (a completion string with one "%d") with `count` into out; a "%s"
// takes `text` (when given).
void FormatCompletionText(LPWSTR out, int outChars, LPCWSTR format, uint32_t count,
                          LPCWSTR text = nullptr);
// Whether the save that ended left a partial file (the chosen file unchanged); it then
// tells the user where, once.
void TellPartialSave(Shell& shell, HWND dialog);
