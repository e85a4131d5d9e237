// The job launch and the shell's display operations.
#include "app/launch.h"

#include <cstring>

#include "app/resources.h"
#include "app/shell.h"
#include "handheld/files.h"
#include "handheld/threads.h"
#include "platform/calllog.h"
#include "platform/store.h"
#include "worker/jobcontext.h"
#include "worker/worker.h"

int lastStatusId = 0;
WCHAR textBuffer[200];

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

// Store folder by kind (Contacts, Calendar, Tasks).
constexpr LONG kFolderIds[3] = {olFolderContacts, olFolderCalendar, olFolderTasks};

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

// Gives back what the launch opened for the job: store references, the file and the call log.
void ReleaseLaunchHolds() {
  ReleaseJobReferences();
}

// What a launch step gives back: 0 to go on, kCancelled when the file dialog was
// cancelled, otherwise the id of the failure's message.
constexpr UINT kCancelled = 1;

// A path a backup file may have: a regular file, or nothing yet (never a directory, a
// device or a pipe).
bool IsRegularOrMissing(LPCWSTR path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes == INVALID_FILE_ATTRIBUTES || attributes == FILE_ATTRIBUTE_NORMAL;
}

// The kind's folder and its items into JobContext, their count into itemCount.
UINT OpenAndCountFolder(ItemKind kind) {
  int opened = OpenKindFolder(kFolderIds[kind]);
  if (opened != 0) return opened == -1 ? IDS_FOLDER_ERROR : IDS_ITEMS_ERROR;
  INT count = 0;
  if (JobContext.items->get_Count(&count) < 0) return IDS_ITEMS_ERROR;
  JobContext.itemCount = count;
  return 0;
}

// Shows the save or open dialog `show` with title string `titleId`; false when cancelled.
bool AskForFile(OPENFILENAMEW* request, UINT titleId, DWORD flags, BOOL (*show)(OPENFILENAMEW*)) {
  WCHAR title[200];
  LoadStringW(programInstance, titleId, title, 200);
  request->lpstrTitle = title;
  request->Flags = flags;
  bool chosen = show(request) != FALSE;
  request->lpstrTitle = nullptr;
  return chosen;
}

UINT PrepareExport(OPENFILENAMEW* request, const SYSTEMTIME& now) {
  ItemKind kind = JobContext.kind;
  if (kind == KindCalls) {
    JobContext.itemCount = CountCallLog();
    if (JobContext.itemCount == -1) return IDS_ITEMS_ERROR;
  } else if (UINT failure = OpenAndCountFolder(kind)) {
    return failure;
  }
  if (JobContext.itemCount <= 0) return IDS_NOTHING_TO_SAVE + kind;

  FormatDefaultFileName(JobContext.path, kPathChars, kKindWords[kind], now);
  if (!AskForFile(request, IDS_SAVE_TITLE, OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST,
                  GetSaveFileNameW)) {
    return kCancelled;
  }
  if (!IsRegularOrMissing(JobContext.path)) return IDS_OPEN_ERROR;
  switch (StartSavedFile()) {
    case SaveStarted:
      return 0;
    case SaveCannotOpen:
      return IDS_OPEN_ERROR;
    default:
      return IDS_WRITE_ERROR;
  }
}

UINT PrepareImport(HWND dialog, OPENFILENAMEW* request) {
  ItemKind kind = JobContext.kind;
  JobContext.path[0] = 0;
  if (!AskForFile(request, IDS_LOAD_TITLE, OFN_FILEMUSTEXIST, GetOpenFileNameW)) {
    return kCancelled;
  }
  if (!IsRegularOrMissing(JobContext.path)) return IDS_OPEN_ERROR;
  JobContext.file = CreateFileW(JobContext.path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (JobContext.file == INVALID_HANDLE_VALUE) return IDS_OPEN_ERROR;
  int64_t size = 0;
  BYTE mark[2] = {0, 0};
  DWORD read = 0;
  if (!GetFileSizeEx(JobContext.file, &size) || size < 0 ||
      !ReadFile(JobContext.file, mark, 2, &read, nullptr)) {
    return IDS_READ_ERROR;
  }
  JobContext.fileSize = static_cast<uint64_t>(size);
  if (read < 2 || mark[0] != 0xFF || mark[1] != 0xFE) return IDS_NOT_UNICODE;
  JobContext.app = GetStoreApp();
  if (JobContext.app == nullptr) return IDS_NO_APP;
  if (UINT failure = OpenAndCountFolder(kind)) return failure;
  if (JobContext.itemCount > 0 &&
      ShowMessageId(dialog, IDS_REMOVE_QUESTION + kind, MB_YESNO | MB_ICONQUESTION) == IDYES) {
    JobContext.nextMode = ModeImport;
    JobContext.mode = ModePurge;
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

void FormatCompletionText(LPWSTR out, int outChars, LPCWSTR format, uint32_t count) {
  if (outChars <= 0) return;
  int at = 0;
  for (const char16_t* p = format; *p != 0 && at < outChars - 1; ++p) {
    if (p[0] == u'%' && p[1] == u'd') {
      at = CopyNumber(out, outChars, at, count, 1);
      ++p;
    } else {
      if (p[0] == u'%' && p[1] == u'%') ++p;
      out[at++] = *p;
    }
  }
  out[at] = 0;
}

int ShowMessageId(HWND owner, UINT stringId, UINT style) {
  LoadStringW(programInstance, stringId, textBuffer, 200);
  return MessageBoxW(owner, textBuffer, productName, style);
}

void SetStatusText(HWND dialog, int stringId) {
  if (stringId == lastStatusId) return;
  lastStatusId = stringId;
  LoadStringW(programInstance, static_cast<UINT>(stringId), textBuffer, 200);
  HWND status = GetDlgItem(dialog, IDC_STATUS);
  SetWindowTextW(status, textBuffer);
  UpdateWindow(status);
}

void SetIdleDisplay(HWND dialog, bool idle) {
  if (menuBar != nullptr) {
    SendMessageW(menuBar, TB_ENABLEBUTTON, IDM_ACTIONS, idle ? TRUE : FALSE);
  }
  ShowWindow(GetDlgItem(dialog, IDC_ABOUT), idle ? SW_SHOW : SW_HIDE);
  if (!idle) SetStatusText(dialog, IDS_PREPARING);
  ShowWindow(GetDlgItem(dialog, IDC_STATUS), idle ? SW_HIDE : SW_SHOW);
  ShowWindow(GetDlgItem(dialog, IDC_PROGRESS), idle ? SW_HIDE : SW_SHOW);
  SendMessageW(GetDlgItem(dialog, IDC_PROGRESS), PBM_SETPOS, 0, 0);
}

int OpenKindFolder(LONG folderId) {
  IPOutlookApp* app = GetStoreApp();
  if (app == nullptr) return -1;
  HRESULT result = app->GetDefaultFolder(folderId, &JobContext.folder);
  app->Release();
  if (result < 0 || JobContext.folder == nullptr) {
    JobContext.folder = nullptr;
    return -1;
  }
  result = JobContext.folder->get_Items(&JobContext.items);
  if (result < 0 || JobContext.items == nullptr) {
    JobContext.items = nullptr;
    return -2;
  }
  return 0;
}

void LaunchJob(HWND dialog, int index) {
  if (index < 0 || index > 6) return;
  SetIdleDisplay(dialog, false);
  ResetJobContext(kCommands[index].kind, kCommands[index].mode);

  OPENFILENAMEW request;
  std::memset(&request, 0, sizeof request);
  request.lStructSize = kOpenFileNameSize;
  request.hwndOwner = dialog;
  request.lpstrFilter = filterList;
  request.nFilterIndex = 1;
  request.lpstrFile = JobContext.path;
  request.nMaxFile = kPathChars;

  SYSTEMTIME now;
  GetLocalTime(&now);

  UINT failure = JobContext.mode == ModeExport ? PrepareExport(&request, now)
                                               : PrepareImport(dialog, &request);
  if (failure == 0) {
    JobContext.stopFlag = 0;
    JobContext.worker = CreateThread(nullptr, 0, WorkerThreadProc, dialog, 0, nullptr);
    if (JobContext.worker != nullptr) return;
    failure = IDS_THREAD_ERROR;
  }
  // The failure exit, and the cancel without a message: nothing stays held, back to idle.
  JobContext.mode = ModeStop;
  JobContext.nextMode = ModeStop;
  // A worker that never started wrote no record: an old file stays, and without one the
  // new file with its byte-order mark takes the chosen name.
  FinishSavedFile(SaveFailed);
  ReleaseLaunchHolds();
  if (failure != kCancelled) ShowMessageId(dialog, failure, MB_ICONSTOP | MB_OK);
  SetIdleDisplay(dialog, true);
}
