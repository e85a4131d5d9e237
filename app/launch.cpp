// The job launch and the shell's display operations.
#include "app/launch.h"

#include <cstring>
#include <memory>

#include "app/resources.h"
#include "worker/jobprep.h"

namespace {

struct Command {
  ItemKind kind;
  JobMode mode;
};

// Commands 203..209 by index.
constexpr Command kCommands[7] = {
    {KindContacts, ModeExport}, {KindContacts, ModeImport}, {KindCalendar, ModeExport},
    {KindCalendar, ModeImport}, {KindTasks, ModeExport},    {KindTasks, ModeImport},
    {KindCalls, ModeExport},
};

const char16_t* const kKindWords[4] = {u"Contacts", u"Calendar", u"Tasks", u"Calls"};

int CopyText(LPWSTR out, int outChars, int at, LPCWSTR text) {
  for (; *text != 0 && at < outChars - 1; ++text) out[at++] = *text;
  return at;
}

int CopyNumber(LPWSTR out, int outChars, int at, unsigned value, int width) {
  char16_t digits[12];
  int count = 0;
  do {
    digits[count++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count < width && count < 12) digits[count++] = u'0';
  while (count > 0 && at < outChars - 1) out[at++] = digits[--count];
  return at;
}

// What a launch step gives back: 0 to go on, kCancelled when the file dialog was
// cancelled, otherwise the id of the failure's message.
constexpr UINT kCancelled = 1;

// Shows the save or open dialog `show` with title string `titleId`; false when cancelled.
bool AskForFile(const Shell& shell, OPENFILENAMEW* request, UINT titleId, DWORD flags,
                BOOL (*show)(OPENFILENAMEW*)) {
  WCHAR title[kTextChars];
  LoadStringW(shell.programInstance, titleId, title, kTextChars);
  request->lpstrTitle = title;
  request->Flags = flags;
  bool chosen = show(request) != FALSE;
  request->lpstrTitle = nullptr;
  return chosen;
}

UINT PrepareExport(const Shell& shell, Job& job, OPENFILENAMEW* request, const SYSTEMTIME& now) {
  if (UINT failure = OpenExportSource(job, shell.store)) return failure;
  FormatDefaultFileName(job.path, kPathChars, kKindWords[job.kind], now);
  if (!AskForFile(shell, request, IDS_SAVE_TITLE, OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST,
                  GetSaveFileNameW)) {
    return kCancelled;
  }
  return CreateExportFile(job);
}

UINT PrepareImport(Shell& shell, Job& job, HWND dialog, OPENFILENAMEW* request) {
  job.path[0] = 0;
  if (!AskForFile(shell, request, IDS_LOAD_TITLE, OFN_FILEMUSTEXIST, GetOpenFileNameW)) {
    return kCancelled;
  }
  if (UINT failure = OpenImportFile(job)) return failure;
  if (UINT failure = OpenImportTarget(job, shell.store)) return failure;
  if (job.itemCount > 0 && ShowMessageId(shell, dialog, IDS_REMOVE_QUESTION + job.kind,
                                         MB_YESNO | MB_ICONQUESTION) == IDYES) {
    job.nextMode = ModeImport;
    job.mode = ModePurge;
  }
  return 0;
}

}  // namespace

void FormatDefaultFileName(LPWSTR out, int outChars, LPCWSTR kindWord, const SYSTEMTIME& date) {
  if (outChars <= 0) return;
  int at = CopyText(out, outChars, 0, kindWord);
  at = CopyNumber(out, outChars, at, date.wYear, 4);
  at = CopyNumber(out, outChars, at, date.wMonth, 2);
  at = CopyNumber(out, outChars, at, date.wDay, 2);
  out[at] = 0;
}

void FormatCompletionText(LPWSTR out, int outChars, LPCWSTR format, uint32_t count,
                          LPCWSTR text) {
  if (outChars <= 0) return;
  int at = 0;
  for (const char16_t* p = format; *p != 0 && at < outChars - 1; ++p) {
    if (p[0] == u'%' && p[1] == u'd') {
      at = CopyNumber(out, outChars, at, count, 1);
      ++p;
    } else if (p[0] == u'%' && p[1] == u's' && text != nullptr) {
      at = CopyText(out, outChars, at, text);
      ++p;
    } else {
      if (p[0] == u'%' && p[1] == u'%') ++p;
      out[at++] = *p;
    }
  }
  out[at] = 0;
}

namespace {

// Shows the follow-ups once no box of the shell is open; one queued while they are shown
// (a message box keeps dispatching the dialog's messages) joins the end of the line.
void ShowWaitingFollowUps(Shell& shell) {
  while (shell.openMessages == 0 && !shell.followUps.empty()) {
    Shell::FollowUp next = std::move(shell.followUps.front());
    shell.followUps.pop_front();
    ++shell.openMessages;
    MessageBoxW(next.owner, next.text.c_str(), shell.productName, next.style);
    --shell.openMessages;
  }
}

}  // namespace

int ShowMessageText(Shell& shell, HWND owner, LPCWSTR text, UINT style) {
  ++shell.openMessages;
  const int answer = MessageBoxW(owner, text, shell.productName, style);
  --shell.openMessages;
  ShowWaitingFollowUps(shell);
  return answer;
}

void ShowFollowUp(Shell& shell, HWND owner, LPCWSTR text, UINT style) {
  shell.followUps.push_back({owner, text, style});
  ShowWaitingFollowUps(shell);
}

int ShowMessageId(Shell& shell, HWND owner, UINT stringId, UINT style) {
  LoadStringW(shell.programInstance, stringId, shell.textBuffer, kTextChars);
  return ShowMessageText(shell, owner, shell.textBuffer, style);
}

void SetStatusText(Shell& shell, HWND dialog, int stringId) {
  if (stringId == shell.lastStatusId) return;
  shell.lastStatusId = stringId;
  LoadStringW(shell.programInstance, static_cast<UINT>(stringId), shell.textBuffer, kTextChars);
  HWND status = GetDlgItem(dialog, IDC_STATUS);
  SetWindowTextW(status, shell.textBuffer);
  UpdateWindow(status);
}

void SetIdleDisplay(Shell& shell, HWND dialog, bool idle) {
  if (shell.menuBar != nullptr) {
    SendMessageW(shell.menuBar, TB_ENABLEBUTTON, IDM_ACTIONS, idle ? TRUE : FALSE);
  }
  ShowWindow(GetDlgItem(dialog, IDC_ABOUT), idle ? SW_SHOW : SW_HIDE);
  if (!idle) SetStatusText(shell, dialog, IDS_PREPARING);
  ShowWindow(GetDlgItem(dialog, IDC_STATUS), idle ? SW_HIDE : SW_SHOW);
  ShowWindow(GetDlgItem(dialog, IDC_PROGRESS), idle ? SW_HIDE : SW_SHOW);
  SendMessageW(GetDlgItem(dialog, IDC_PROGRESS), PBM_SETPOS, 0, 0);
}

void LaunchJob(Shell& shell, HWND dialog, int index) {
  if (index < 0 || index > 6) return;
  SetIdleDisplay(shell, dialog, false);
  auto job = std::make_unique<Job>();
  job->dialog = dialog;
  job->kind = kCommands[index].kind;
  job->mode = kCommands[index].mode;
  job->callLog.library = shell.callLog.library;

  OPENFILENAMEW request;
  std::memset(&request, 0, sizeof request);
  request.lStructSize = kOpenFileNameSize;
  request.hwndOwner = dialog;
  request.lpstrFilter = shell.filterList;
  request.nFilterIndex = 1;
  request.lpstrFile = job->path;
  request.nMaxFile = kPathChars;

  SYSTEMTIME now;
  GetLocalTime(&now);

  UINT failure = job->mode == ModeExport ? PrepareExport(shell, *job, &request, now)
                                         : PrepareImport(shell, *job, dialog, &request);
  if (failure == 0) {
    std::memcpy(shell.savePartial, job->savePath, sizeof shell.savePartial);
    failure = StartWorker(job, shell.link);
  }
  if (failure == 0) return;  // the worker has the job now
  shell.savePartial[0] = 0;
  // The failure exit, and the cancel without a message: nothing stays held (a save's
  // partial file goes), back to idle.
  ReleaseJob(*job);
  if (failure != kCancelled) ShowMessageId(shell, dialog, failure, MB_ICONSTOP | MB_OK);
  SetIdleDisplay(shell, dialog, true);
}
