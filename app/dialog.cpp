// The main dialog: start-up, layout, commands, exit and JobNotify.
#include <cstdio>
#include <cstring>

#include "app/launch.h"
#include "app/resources.h"
#include "app/shell.h"
#include "handheld/files.h"
#include "handheld/threads.h"
#include "platform/calllog.h"
#include "platform/store.h"
#include "worker/jobcontext.h"

WCHAR completionText[kTextChars];
WCHAR filterList[kTextChars];
HWND menuBar = nullptr;
HFONT creditFont = nullptr;
SHACTIVATEINFO activateInfo;

namespace {

constexpr LONG kCreditFontHeight = -11;

// The exit question is open (the worker held suspended), and whether the worker's
// end-of-job notice came in meanwhile.
bool exitQuestionOpen = false;
bool jobEndedDuringQuestion = false;

// Fields of the running load that were longer than their columns take and were dropped.
uint32_t droppedFields = 0;

// Waits for the worker (which has ended or is ending) and forgets it.
void ForgetWorker() {
  if (JobContext.worker == nullptr) return;
  WaitForSingleObject(JobContext.worker, INFINITE);
  CloseHandle(JobContext.worker);
  JobContext.worker = nullptr;
}

// Formats string `stringId` (one "%d") with `count` and shows it with `icon`.
void ShowCountMessage(HWND dialog, UINT stringId, uint32_t count, UINT icon) {
  LoadStringW(programInstance, stringId, textBuffer, 200);
  FormatCompletionText(completionText, kTextChars, textBuffer, count);
  MessageBoxW(dialog, completionText, productName, icon | MB_OK);
}

void FinishJob(HWND dialog) {
  ForgetWorker();
  SetIdleDisplay(dialog, true);
  // After the completion message: a load never drops a field without saying so.
  if (droppedFields > 0) {
    const uint32_t dropped = droppedFields;
    droppedFields = 0;
    ShowCountMessage(dialog, IDS_FIELDS_DROPPED, dropped, MB_ICONWARNING);
  }
}

// The drop-down of "Действия", which holds the data commands.
HMENU ActionsMenu() {
  return reinterpret_cast<HMENU>(SendMessageW(menuBar, SHCMBM_GETSUBMENU, 0, IDM_ACTIONS));
}

void OnJobEnded(HWND dialog) {
  if (exitQuestionOpen) {
    // The exit command holds the worker suspended; it resumes it first and then does
    // the waiting.
    jobEndedDuringQuestion = true;
    return;
  }
  FinishJob(dialog);
}

void ExitProgram(HWND dialog) {
  if (exitQuestionOpen) return;
  if (JobContext.worker != nullptr) {
    SuspendThread(JobContext.worker);
    exitQuestionOpen = true;
    jobEndedDuringQuestion = false;
    int answer = ShowMessageId(dialog, IDS_EXIT_QUESTION, MB_YESNO | MB_ICONQUESTION);
    exitQuestionOpen = false;
    if (answer != IDYES) {
      ResumeThread(JobContext.worker);
      if (jobEndedDuringQuestion) FinishJob(dialog);
      SetForegroundWindow(dialog);
      return;
    }
    JobContext.stopFlag = 1;
    ResumeThread(JobContext.worker);
    ForgetWorker();
  }
  CloseStore();
  UnloadCallLogLibrary();
  EndDialog(dialog, 0);
  SetForegroundWindow(dialog);
}

bool CommandAvailable(WORD command) {
  if (menuBar == nullptr) return false;
  // The data commands sit in the drop-down of "Действия": not while it is disabled
  // (busy), and not a greyed one.
  if (SendMessageW(menuBar, TB_ISBUTTONENABLED, IDM_ACTIONS, 0) == 0) return false;
  HMENU actions = ActionsMenu();
  if (actions == nullptr) return true;
  UINT state = GetMenuState(actions, command, MF_BYCOMMAND);
  return state == 0xFFFFFFFFu || (state & MF_GRAYED) == 0;
}

void OnCommand(HWND dialog, WORD command) {
  if (command == IDCANCEL || command == IDM_EXIT) {
    ExitProgram(dialog);
  } else if (command >= IDM_FIRST_JOB && command <= IDM_SAVE_CALLS) {
    if (JobContext.worker == nullptr && CommandAvailable(command)) {
      droppedFields = 0;
      LaunchJob(dialog, command - IDM_FIRST_JOB);
    }
  }
}

void OnJobNotify(HWND dialog, WPARAM code, LPARAM value) {
  switch (code) {
    case NotifyEnded:
      OnJobEnded(dialog);
      break;
    case NotifyStatus:
      SetStatusText(dialog, static_cast<int>(value));
      break;
    case NotifyError:
      ShowMessageId(dialog, static_cast<UINT>(value), MB_ICONSTOP | MB_OK);
      break;
    case NotifyProgress:
      SendMessageW(GetDlgItem(dialog, IDC_PROGRESS), PBM_SETPOS, static_cast<WPARAM>(value), 0);
      break;
    case NotifyDone:
      ShowCountMessage(dialog, static_cast<UINT>(DoneStringId(value)), DoneCount(value),
                       MB_ICONINFORMATION);
      break;
    case NotifyFieldDropped:
      ++droppedFields;
      break;
    default:
      break;
  }
}

void OnInitDialog(HWND dialog) {
  LoadStringW(programInstance, IDS_FILTER, filterList, kTextChars);
  for (int i = 0; i < kTextChars; ++i) {
    if (filterList[i] == u'\t') filterList[i] = 0;
  }
  std::memset(&activateInfo, 0, sizeof activateInfo);
  activateInfo.cbSize = 12;

  SHINITDLGINFO setup;
  setup.dwMask = SHIDIM_FLAGS;
  setup.hDlg = dialog;
  setup.dwFlags = SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN;
  SHInitDialog(&setup);

  WCHAR about[kTextChars];
  LoadStringW(programInstance, IDS_ABOUT, about, kTextChars);
  SetWindowTextW(GetDlgItem(dialog, IDC_ABOUT), about);
  SetWindowTextW(dialog, productName);

  if (!OpenStore()) {
    // The message says only that Quillmote cannot work; the store's reason (which file,
    // and what is wrong with it) goes where a person starting it from a terminal sees it.
    std::fprintf(stderr, "Quillmote: cannot open the store: %s\n", StoreOpenFailure().c_str());
    ShowMessageId(nullptr, IDS_CANNOT_RUN, MB_ICONSTOP | MB_OK);
    EndDialog(dialog, 0);
    return;
  }
  menuBar = CreateMainMenuBar(dialog, IDR_MENUBAR);
  LoadCallLogLibrary();
  if (!CallLogLibraryLoaded() && menuBar != nullptr && ActionsMenu() != nullptr) {
    EnableMenuItem(ActionsMenu(), IDM_SAVE_CALLS, MF_BYCOMMAND | MF_GRAYED);
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
  creditFont = CreateFontIndirectW(&description);
  HWND credit = GetDlgItem(dialog, IDC_CREDIT);
  if (creditFont != nullptr) {
    SendMessageW(credit, WM_SETFONT, reinterpret_cast<WPARAM>(creditFont), FALSE);
  }
  SetWindowPos(credit, nullptr, 0, 0, 0, description.lfHeight * -96 / 72,
               SWP_NOMOVE | SWP_NOZORDER);
}

void OnDestroy() {
  if (menuBar != nullptr) {
    DestroyWindow(menuBar);
    menuBar = nullptr;
  }
  if (creditFont != nullptr) {
    DeleteObject(creditFont);
    creditFont = nullptr;
  }
}

LONG HeightOf(HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  return rect.bottom - rect.top;
}

}  // namespace

HWND CreateMainMenuBar(HWND dialog, UINT resourceId) {
  SHMENUBARINFO info;
  std::memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  info.hwndParent = dialog;
  info.dwFlags = 0;
  info.nToolBarId = resourceId;
  info.hInstRes = programInstance;
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
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(dialog);
      return 1;
    case WM_COMMAND:
      OnCommand(dialog, LOWORD(wParam));
      return 0;
    case WM_SIZE:
      LayoutMainDialog(dialog, LOWORD(static_cast<uintptr_t>(lParam)),
                       HIWORD(static_cast<uintptr_t>(lParam)));
      return 0;
    case WM_ACTIVATE:
      SHHandleWMActivate(dialog, wParam, lParam, &activateInfo, 0);
      return 0;
    case WM_SETTINGCHANGE:
      SHHandleWMSettingChange(dialog, wParam, lParam, &activateInfo);
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    case WM_JOBNOTIFY:
      OnJobNotify(dialog, wParam, lParam);
      return 0;
    default:
      return 0;
  }
}
