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

void CloseJobFile() {
  if (JobContext.file != INVALID_HANDLE_VALUE) {
    CloseHandle(JobContext.file);
    JobContext.file = INVALID_HANDLE_VALUE;
  }
}

// The failure exit: nothing stays held, one message, back to idle.
void FailLaunch(HWND dialog, UINT stringId) {
  JobContext.mode = ModeStop;
  JobContext.nextMode = ModeStop;
  ReleaseLaunchHolds();
  ShowMessageId(dialog, stringId, MB_ICONSTOP | MB_OK);
  SetIdleDisplay(dialog, true);
}

void CancelLaunch(HWND dialog) {
  JobContext.mode = ModeStop;
  JobContext.nextMode = ModeStop;
  ReleaseLaunchHolds();
  SetIdleDisplay(dialog, true);
}

// A path the save may write to: a regular file, or nothing yet.
bool IsWritableTarget(LPCWSTR path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes == INVALID_FILE_ATTRIBUTES || attributes == FILE_ATTRIBUTE_NORMAL;
}

bool PrepareExport(HWND dialog, OPENFILENAMEW* request, const SYSTEMTIME& now) {
  ItemKind kind = JobContext.kind;
  if (kind == KindCalls) {
    int32_t count = CountCallLog();
    if (count == -1) {
      FailLaunch(dialog, IDS_ITEMS_ERROR);
      return false;
    }
    if (count <= 0) {
      FailLaunch(dialog, IDS_NOTHING_TO_SAVE + kind);
      return false;
    }
    JobContext.itemCount = count;
  } else {
    int opened = OpenKindFolder(kFolderIds[kind]);
    if (opened != 0) {
      FailLaunch(dialog, opened == -1 ? IDS_FOLDER_ERROR : IDS_ITEMS_ERROR);
      return false;
    }
    INT count = 0;
    JobContext.items->get_Count(&count);
    if (count <= 0) {
      FailLaunch(dialog, IDS_NOTHING_TO_SAVE + kind);
      return false;
    }
    JobContext.itemCount = count;
  }

  WCHAR stem[200];
  stem[CopyText(stem, 200, 0, kKindWords[kind])] = 0;
  FormatDefaultFileName(JobContext.path, kPathChars, stem, now);
  WCHAR title[200];
  LoadStringW(programInstance, IDS_SAVE_TITLE, title, 200);
  request->lpstrTitle = title;
  request->Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
  if (!GetSaveFileNameW(request)) {
    CancelLaunch(dialog);
    return false;
  }
  request->lpstrTitle = nullptr;

  if (!IsWritableTarget(JobContext.path)) {
    FailLaunch(dialog, IDS_OPEN_ERROR);
    return false;
  }
  JobContext.file = CreateFileW(JobContext.path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (JobContext.file == INVALID_HANDLE_VALUE) {
    FailLaunch(dialog, IDS_OPEN_ERROR);
    return false;
  }
  static const BYTE kMark[2] = {0xFF, 0xFE};
  DWORD written = 0;
  if (!WriteFile(JobContext.file, kMark, 2, &written, nullptr) || written != 2) {
    CloseJobFile();
    if (GetFileAttributesW(JobContext.path) == FILE_ATTRIBUTE_NORMAL) {
      DeleteFileW(JobContext.path);
    }
    FailLaunch(dialog, IDS_WRITE_ERROR);
    return false;
  }
  return true;
}

bool PrepareImport(HWND dialog, OPENFILENAMEW* request) {
  ItemKind kind = JobContext.kind;
  JobContext.path[0] = 0;
  WCHAR title[200];
  LoadStringW(programInstance, IDS_LOAD_TITLE, title, 200);
  request->lpstrTitle = title;
  request->Flags = OFN_FILEMUSTEXIST;
  if (!GetOpenFileNameW(request)) {
    CancelLaunch(dialog);
    return false;
  }
  request->lpstrTitle = nullptr;

  // A directory or a device is no backup file.
  DWORD attributes = GetFileAttributesW(JobContext.path);
  if (attributes != FILE_ATTRIBUTE_NORMAL && attributes != INVALID_FILE_ATTRIBUTES) {
    FailLaunch(dialog, IDS_OPEN_ERROR);
    return false;
  }
  JobContext.file = CreateFileW(JobContext.path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (JobContext.file == INVALID_HANDLE_VALUE) {
    FailLaunch(dialog, IDS_OPEN_ERROR);
    return false;
  }
  int64_t size = 0;
  if (!GetFileSizeEx(JobContext.file, &size) || size < 0) {
    CloseJobFile();
    FailLaunch(dialog, IDS_READ_ERROR);
    return false;
  }
  JobContext.fileSize = static_cast<uint64_t>(size);
  BYTE mark[2] = {0, 0};
  DWORD read = 0;
  if (!ReadFile(JobContext.file, mark, 2, &read, nullptr)) {
    CloseJobFile();
    FailLaunch(dialog, IDS_READ_ERROR);
    return false;
  }
  if (read < 2 || mark[0] != 0xFF || mark[1] != 0xFE) {
    CloseJobFile();
    FailLaunch(dialog, IDS_NOT_UNICODE);
    return false;
  }
  JobContext.app = GetStoreApp();
  if (JobContext.app == nullptr) {
    CloseJobFile();
    FailLaunch(dialog, IDS_NO_APP);
    return false;
  }
  int opened = OpenKindFolder(kFolderIds[kind]);
  if (opened != 0) {
    CloseJobFile();
    FailLaunch(dialog, opened == -1 ? IDS_FOLDER_ERROR : IDS_ITEMS_ERROR);
    return false;
  }
  INT count = 0;
  JobContext.items->get_Count(&count);
  JobContext.itemCount = count;
  if (count > 0 &&
      ShowMessageId(dialog, IDS_REMOVE_QUESTION + kind, MB_YESNO | MB_ICONQUESTION) == IDYES) {
    JobContext.nextMode = ModeImport;
    JobContext.mode = ModePurge;
  }
  return true;
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
  JobContext.kind = kCommands[index].kind;
  JobContext.mode = kCommands[index].mode;
  JobContext.nextMode = ModeStop;

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
  JobContext.folder = nullptr;
  JobContext.items = nullptr;
  JobContext.app = nullptr;
  JobContext.file = INVALID_HANDLE_VALUE;
  JobContext.itemCount = 0;
  JobContext.fileSize = 0;

  bool ready = JobContext.mode == ModeExport ? PrepareExport(dialog, &request, now)
                                             : PrepareImport(dialog, &request);
  if (!ready) return;

  JobContext.stopFlag = 0;
  JobContext.worker = CreateThread(nullptr, 0, WorkerThreadProc, dialog, 0, nullptr);
  if (JobContext.worker == nullptr) {
    CloseJobFile();
    FailLaunch(dialog, IDS_THREAD_ERROR);
  }
}
