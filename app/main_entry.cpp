// The program entry shared by the desktop program and quillmote-batch.
#include <memory>

#include "app/resources.h"
#include "app/shell.h"

namespace {

std::unique_ptr<Shell> NewShell(HINSTANCE instance) {
  auto shell = std::make_unique<Shell>();
  shell->programInstance = instance;
  LoadStringW(instance, IDS_PRODUCT, shell->productName, kTextChars);
  return shell;
}

}  // namespace

int RunMainDialog(HINSTANCE instance) {
  std::unique_ptr<Shell> shell = NewShell(instance);
  DialogBoxParamW(instance, IDD_MAIN, nullptr, MainDialogProc,
                  reinterpret_cast<LPARAM>(shell.get()));
  return 0;
}

int ProgramEntry(HINSTANCE instance, bool* instanceFound) {
  if (instanceFound != nullptr) *instanceFound = false;
  std::unique_ptr<Shell> shell = NewShell(instance);

  // Only one instance runs: a second start raises the first and leaves.
  HWND running = FindWindowW(nullptr, shell->productName);
  if (running != nullptr) {
    if (instanceFound != nullptr) *instanceFound = true;
    SetForegroundWindow(running);
    return 0;
  }
  DialogBoxParamW(instance, IDD_MAIN, nullptr, MainDialogProc,
                  reinterpret_cast<LPARAM>(shell.get()));
  return 0;
}
