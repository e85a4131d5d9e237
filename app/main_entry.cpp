// The program entry shared by the desktop program and quillmote-batch.
#include "app/launch.h"
#include "app/resources.h"
#include "app/shell.h"
#include "worker/jobcontext.h"

HINSTANCE programInstance = nullptr;
WCHAR productName[kTextChars];
bool instanceFound = false;

int ProgramEntry(HINSTANCE instance) {
  programInstance = instance;
  instanceFound = false;
  lastStatusId = 0;
  JobContext.worker = nullptr;
  JobContext.file = INVALID_HANDLE_VALUE;
  LoadStringW(instance, IDS_PRODUCT, productName, kTextChars);

  // Only one instance runs: a second start raises the first and leaves.
  HWND running = FindWindowW(nullptr, productName);
  if (running != nullptr) {
    instanceFound = true;
    SetForegroundWindow(running);
    return 0;
  }
  DialogBoxParamW(instance, IDD_MAIN, nullptr, MainDialogProc, 0);
  return 0;
}
