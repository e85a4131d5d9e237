// The application shell: the program's entry with its single-instance rule, and the main
// dialog (start-up, layout, commands, exit, and the reaction to the worker's JobNotify).
//
// Contract: everything here runs on the dialog thread. The entry returns 0 in every
// case: after the dialog has ended, after the store logon failed (message 600), and when
// another instance was found and brought to the front (instanceFound is then true). The
// exit command never waits for a worker that it holds suspended: a JobNotify code 0 that
// arrives while the exit question is open is only noted, and the exit path, which resumes
// the worker first, waits for it and cleans up.
#pragma once

#include "handheld/window/window.h"

constexpr int kTextChars = 200;  // every string buffer of the shell

// Process-wide state of the shell.
extern HINSTANCE programInstance;
extern WCHAR productName[kTextChars];
extern WCHAR completionText[kTextChars];  // the formatted completion message
extern WCHAR filterList[kTextChars];      // string 403, every TAB turned into a zero
extern HWND menuBar;
extern HFONT creditFont;
extern SHACTIVATEINFO activateInfo;
extern bool instanceFound;  // the entry found a running instance and raised it

// The program entry: registers nothing itself (the caller has registered the resources
// and passes their instance).
int ProgramEntry(HINSTANCE instance);

// The main dialog's event handler: 1 for initialisation, 0 for everything else.
INT_PTR MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Asks the shell for a menu bar built from the menu-bar description `resourceId` of the
// program's resources; null when it cannot be created.
HWND CreateMainMenuBar(HWND dialog, UINT resourceId);

// Places the four controls for a client area of width x height pixels; each keeps its
// current height.
void LayoutMainDialog(HWND dialog, int width, int height);

// Formats `format` (a completion string with one "%d") with `count` into out.
void FormatCompletionText(LPWSTR out, int outChars, LPCWSTR format, uint32_t count);
