// The main dialog: start-up, layout, commands, exit and JobNotify.
#include <cstdio>
#include <cstring>
#include <utility>

#include "app/launch.h"
#include "app/resources.h"
#include "app/shell.h"
#include "handheld/files.h"
#include "handheld/threads.h"

namespace {

constexpr LONG kCreditFontHeight = -11;

Shell* MutableShellOf(HWND dialog) {
  return reinterpret_cast<Shell*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

// Waits for the worker (which has ended or is ending) and forgets it.
void ForgetWorker(Shell& shell) {
  if (shell.link.worker == nullptr) return;
  WaitForSingleObject(shell.link.worker, INFINITE);
  CloseHandle(shell.link.worker);
  shell.link.worker = nullptr;
}

// Formats string `stringId` (one "%d") with `count` into the completion buffer.
LPCWSTR CountMessage(Shell& shell, UINT stringId, uint32_t count) {
  LoadStringW(shell.programInstance, stringId, shell.textBuffer, kTextChars);
  FormatCompletionText(shell.completionText, kTextChars, shell.textBuffer, count);
  return shell.completionText;
}

void FinishJob(Shell& shell, HWND dialog) {
  ForgetWorker(shell);
  SetIdleDisplay(shell, dialog, true);
  // Once the completion message is closed: a load never drops a field, nor a save a
  // value, without saying so.
  for (auto [count, stringId] : {std::pair{&shell.droppedFields, IDS_FIELDS_DROPPED},
                                 std::pair{&shell.unsavedValues, IDS_VALUES_NOT_SAVED}}) {
    const uint32_t values = *count;
    *count = 0;
    if (values > 0) {
      ShowFollowUp(shell, dialog, CountMessage(shell, stringId, values), MB_ICONWARNING | MB_OK);
    }
  }
  TellPartialSave(shell, dialog);
}

// The drop-down of "Действия", which holds the data commands.
HMENU ActionsMenu(const Shell& shell) {
  return reinterpret_cast<HMENU>(SendMessageW(shell.menuBar, SHCMBM_GETSUBMENU, 0, IDM_ACTIONS));
}

void OnJobEnded(Shell& shell, HWND dialog) {
  if (shell.exitQuestionOpen) {
    // The exit command holds the worker suspended; it resumes it first and then does
    // the waiting.
    shell.jobEndedDuringQuestion = true;
    return;
  }
  FinishJob(shell, dialog);
}

void ExitProgram(Shell& shell, HWND dialog) {
  if (shell.exitQuestionOpen) return;
  if (shell.link.worker != nullptr) {
    SuspendThread(shell.link.worker);
    shell.exitQuestionOpen = true;
    shell.jobEndedDuringQuestion = false;
    int answer = ShowMessageId(shell, dialog, IDS_EXIT_QUESTION, MB_YESNO | MB_ICONQUESTION);
    shell.exitQuestionOpen = false;
    if (answer != IDYES) {
      ResumeThread(shell.link.worker);
      if (shell.jobEndedDuringQuestion) FinishJob(shell, dialog);
      SetForegroundWindow(dialog);
      return;
    }
    shell.link.stopFlag = 1;
    ResumeThread(shell.link.worker);
    ForgetWorker(shell);
    TellPartialSave(shell, dialog);
  }
  CloseStore(shell.store);
  UnloadCallLogLibrary(shell.callLog);
  EndDialog(dialog, 0);
  SetForegroundWindow(dialog);
}

bool CommandAvailable(const Shell& shell, WORD command) {
  if (shell.menuBar == nullptr) return false;
  // The data commands sit in the drop-down of "Действия": not while it is disabled
  // (busy), and not a greyed one.
  if (SendMessageW(shell.menuBar, TB_ISBUTTONENABLED, IDM_ACTIONS, 0) == 0) return false;
  HMENU actions = ActionsMenu(shell);
  if (actions == nullptr) return true;
  UINT state = GetMenuState(actions, command, MF_BYCOMMAND);
  return state == 0xFFFFFFFFu || (state & MF_GRAYED) == 0;
}

void OnCommand(Shell& shell, HWND dialog, WORD command) {
  if (command == IDCANCEL || command == IDM_EXIT) {
    ExitProgram(shell, dialog);
  } else if (command >= IDM_FIRST_JOB && command <= IDM_SAVE_CALLS) {
    if (shell.link.worker == nullptr && CommandAvailable(shell, command)) {
      shell.droppedFields = 0;
      shell.unsavedValues = 0;
      LaunchJob(shell, dialog, command - IDM_FIRST_JOB);
    }
  }
}

void OnJobNotify(Shell& shell, HWND dialog, WPARAM code, LPARAM value) {
  switch (code) {
    case NotifyEnded:
      OnJobEnded(shell, dialog);
      break;
    case NotifyStatus:
      SetStatusText(shell, dialog, static_cast<int>(value));
      break;
    case NotifyError:
      ShowMessageId(shell, dialog, static_cast<UINT>(value), MB_ICONSTOP | MB_OK);
      break;
    case NotifyProgress:
      SendMessageW(GetDlgItem(dialog, IDC_PROGRESS), PBM_SETPOS, static_cast<WPARAM>(value), 0);
      break;
    case NotifyDone:
      ShowMessageText(shell, dialog,
                      CountMessage(shell, static_cast<UINT>(DoneStringId(value)), DoneCount(value)),
                      MB_ICONINFORMATION | MB_OK);
      break;
    case NotifyStoppedCount:
      // After the error message that stopped the load.
      ShowFollowUp(shell, dialog,
                   CountMessage(shell, static_cast<UINT>(DoneStringId(value)), DoneCount(value)),
                   MB_ICONINFORMATION | MB_OK);
      break;
    case NotifyFieldDropped:
      ++(DroppedLoss(value) == LossFieldTooLong ? shell.droppedFields : shell.unsavedValues);
      break;
    default:
      break;
  }
}

void OnInitDialog(Shell& shell, HWND dialog) {
  LoadStringW(shell.programInstance, IDS_FILTER, shell.filterList, kTextChars);
  for (WCHAR& unit : shell.filterList) {
    if (unit == u'\t') unit = 0;
  }
  std::memset(&shell.activateInfo, 0, sizeof shell.activateInfo);
  shell.activateInfo.cbSize = 12;

  SHINITDLGINFO setup;
  setup.dwMask = SHIDIM_FLAGS;
  setup.hDlg = dialog;
  setup.dwFlags = SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN;
  SHInitDialog(&setup);

  WCHAR about[kTextChars];
  LoadStringW(shell.programInstance, IDS_ABOUT, about, kTextChars);
  SetWindowTextW(GetDlgItem(dialog, IDC_ABOUT), about);
  SetWindowTextW(dialog, shell.productName);

  if (!OpenStore(shell.store)) {
    // The message says only that Quillmote cannot work; the store's reason (which file,
    // and what is wrong with it) goes where a person starting it from a terminal sees it.
    std::fprintf(stderr, "Quillmote: cannot open the store: %s\n", shell.store.failure.c_str());
    ShowMessageId(shell, nullptr, IDS_CANNOT_RUN, MB_ICONSTOP | MB_OK);
    EndDialog(dialog, 0);
    return;
  }
  shell.menuBar = CreateMainMenuBar(shell, dialog, IDR_MENUBAR);
  LoadCallLogLibrary(shell.callLog);
  if (!CallLogLibraryLoaded(shell.callLog) && shell.menuBar != nullptr &&
      ActionsMenu(shell) != nullptr) {
    EnableMenuItem(ActionsMenu(shell), IDM_SAVE_CALLS, MF_BYCOMMAND | MF_GRAYED);
  }

  LOGFONTW description;
  std::memset(&description, 0, sizeof description);
  description.lfHeight = kCreditFontHeight;
  description.lfCharSet = DEFAULT_CHARSET;
  description.lfOutPrecision = OUT_DEFAULT_PRECIS;
  description.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  description.lfQuality = DEFAULT_QUALITY;
  description.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  const char16_t face[] = u"Tahoma";
  std::memcpy(description.lfFaceName, face, sizeof face);
  shell.creditFont = CreateFontIndirectW(&description);
  HWND credit = GetDlgItem(dialog, IDC_CREDIT);
  if (shell.creditFont != nullptr) {
    SendMessageW(credit, WM_SETFONT, reinterpret_cast<WPARAM>(shell.creditFont), FALSE);
  }
  SetWindowPos(credit, nullptr, 0, 0, 0, description.lfHeight * -96 / 72,
               SWP_NOMOVE | SWP_NOZORDER);
}

void OnDestroy(Shell& shell) {
  if (shell.menuBar != nullptr) {
    DestroyWindow(shell.menuBar);
    shell.menuBar = nullptr;
  }
  if (shell.creditFont != nullptr) {
    DeleteObject(shell.creditFont);
    shell.creditFont = nullptr;
  }
}

LONG HeightOf(HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  return rect.bottom - rect.top;
}

}  // namespace

void TellPartialSave(Shell& shell, HWND dialog) {
  if (shell.savePartial[0] == 0) return;
  // The worker has ended: a partial file is there only when the save ended early.
  if (GetFileAttributesW(shell.savePartial) == FILE_ATTRIBUTE_NORMAL) {
    WCHAR text[kPathChars + kTextChars];
    LoadStringW(shell.programInstance, IDS_PARTIAL_KEPT, shell.textBuffer, kTextChars);
    FormatCompletionText(text, kPathChars + kTextChars, shell.textBuffer, 0, shell.savePartial);
    ShowFollowUp(shell, dialog, text, MB_ICONWARNING | MB_OK);
  }
  shell.savePartial[0] = 0;
}

Shell* ShellOf(HWND dialog) {
  return MutableShellOf(dialog);
}

HWND CreateMainMenuBar(const Shell& shell, HWND dialog, UINT resourceId) {
  SHMENUBARINFO info;
  std::memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  info.hwndParent = dialog;
  info.dwFlags = 0;
  info.nToolBarId = resourceId;
  info.hInstRes = shell.programInstance;
  info.nBmpId = 0;
  info.cBmpImages = 0;
  info.clrBk = 0;
  if (!SHCreateMenuBar(&info)) return nullptr;
  return info.hwndMB;
}

void LayoutMainDialog(HWND dialog, int width, int height) {
  HWND credit = GetDlgItem(dialog, IDC_CREDIT);
  HWND about = GetDlgItem(dialog, IDC_ABOUT);
  HWND status = GetDlgItem(dialog, IDC_STATUS);
  HWND progress = GetDlgItem(dialog, IDC_PROGRESS);
  LONG creditHeight = HeightOf(credit);
  LONG statusHeight = HeightOf(status);
  LONG progressHeight = HeightOf(progress);
  SetWindowPos(credit, nullptr, 4, height - creditHeight - 1, width - 8, creditHeight,
               SWP_NOZORDER);
  SetWindowPos(about, nullptr, 4, 4, width - 8, height - creditHeight - 7, SWP_NOZORDER);
  SetWindowPos(status, nullptr, 8, 8, width - 16, statusHeight, SWP_NOZORDER);
  SetWindowPos(progress, nullptr, 8, statusHeight + 16, width - 16, progressHeight, SWP_NOZORDER);
}

INT_PTR MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    if (Shell* shell = MutableShellOf(dialog)) OnInitDialog(*shell, dialog);
    return 1;
  }
  Shell* shell = MutableShellOf(dialog);
  if (shell == nullptr) return 0;
  switch (message) {
    case WM_COMMAND:
      OnCommand(*shell, dialog, LOWORD(wParam));
      return 0;
    case WM_SIZE:
      LayoutMainDialog(dialog, LOWORD(static_cast<uintptr_t>(lParam)),
                       HIWORD(static_cast<uintptr_t>(lParam)));
      return 0;
    case WM_ACTIVATE:
      SHHandleWMActivate(dialog, wParam, lParam, &shell->activateInfo, 0);
      return 0;
    case WM_SETTINGCHANGE:
      SHHandleWMSettingChange(dialog, wParam, lParam, &shell->activateInfo);
      return 0;
    case WM_DESTROY:
      OnDestroy(*shell);
      return 0;
    case WM_JOBNOTIFY:
      OnJobNotify(*shell, dialog, wParam, lParam);
      return 0;
    default:
      return 0;
  }
}
