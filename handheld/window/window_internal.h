// The window system's in-memory model, shared by both backends.
//
// Contract: window_common.cpp keeps every window's state (text, visibility, rectangle,
// font, progress position, menu bar and menus) and implements the calls of window.h that
// only read or change that state. A backend (window_qt.cpp or window_scripted.cpp)
// supplies ActiveBackend(), which is told of every change so that it can show or log
// it, and implements the modal parts: DialogBoxParamW's loop, MessageBoxW and the file
// dialogs. All of it runs on the dialog's thread except Deliver (any thread) and the
// instance registry (its own thread), which only call Backend::Woken and
// Backend::Raise.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "handheld/messages.h"
#include "handheld/utf16.h"
#include "handheld/window/window.h"

namespace handheld::window {

// Dialog units to pixels: an 8-point font at 96 dpi has base units of 6 x 13 pixels.
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;
int DialogUnitsToPixelsX(int units);
int DialogUnitsToPixelsY(int units);

constexpr int kScreenWidth = 240;
constexpr int kScreenHeight = 320;
constexpr int kTitleBarHeight = 26;
constexpr int kMenuBarHeight = 26;

struct Font {
  std::u16string face;
  LONG height = 0;
  LONG weight = 0;
  bool italic = false;
};

enum class Kind { kDialog, kStatic, kProgress, kMenuBar, kProxy };

struct Dialog;

struct Window : MessageSink {
  virtual ~Window();
  // Posted messages for a control or a menu bar go to its dialog's queue.
  void Deliver(const MSG& message) override;

  HWND hwnd = nullptr;
  Kind kind = Kind::kStatic;
  Dialog* dialog = nullptr;  // the dialog it belongs to (itself for a dialog)
  int id = 0;
  DWORD style = 0;
  std::u16string text;
  std::atomic<bool> visible{true};  // also read by the instance registry's thread
  bool enabled = true;
  bool destroyed = false;
  RECT rect{0, 0, 0, 0};       // controls: in the dialog's client coordinates
  const Font* font = nullptr;  // null: the dialog's font
  int repaints = 0;
  int position = 0;      // progress bars, 0..100
  LONG_PTR user = 0;     // DWLP_USER
  void* view = nullptr;  // the backend's widget
};

struct Menu;

struct MenuItem {
  UINT flags = 0;  // MF_POPUP, MF_SEPARATOR, MF_GRAYED
  WORD command = 0;
  std::u16string text;
  std::unique_ptr<Menu> popup;
  void* view = nullptr;
};

struct Menu {
  std::vector<MenuItem> items;
};

struct MenuBarButton {
  WORD command = 0;
  bool enabled = true;
  bool dropDown = false;
  std::u16string label;
  Menu* menu = nullptr;  // the drop-down, inside MenuBar::menu
  void* view = nullptr;
};

struct MenuBar : Window {
  WORD resourceId = 0;
  std::unique_ptr<Menu> menu;
  std::vector<MenuBarButton> buttons;
};

struct InstanceListener;

struct Dialog : Window {
  ~Dialog() override;

  HINSTANCE instance = nullptr;
  HWND owner = nullptr;
  DLGPROC procedure = nullptr;
  Font font;  // the template's font: face at -(points * 96 / 72) pixels
  std::vector<std::unique_ptr<Window>> controls;
  std::unique_ptr<MenuBar> menuBar;
  bool ended = false;
  INT_PTR result = 0;

  // Posted messages, filled from any thread.
  std::mutex mutex;
  std::condition_variable posted;
  std::deque<MSG> queue;
  // Message boxes open over the dialog (text, caption), guarded by `mutex`.
  std::vector<std::pair<std::u16string, std::u16string>> openBoxes;

  std::unique_ptr<InstanceListener> listener;
};

class Backend {
 public:
  enum class Change { kText, kShow, kMove, kRepaint, kFont, kProgress, kEnable };
  virtual void DialogCreated(Dialog& dialog) = 0;
  virtual void Changed(Window& window, Change what) = 0;
  virtual void MenuBarCreated(MenuBar& bar) = 0;
  virtual void ButtonChanged(MenuBar& bar, MenuBarButton& button) = 0;
  virtual void MenuItemChanged(MenuItem& item) = 0;
  virtual void ShellEvent(Dialog* dialog, bool activation, WPARAM wParam) = 0;
  // A message was queued for the dialog (any thread).
  virtual void Woken(Dialog& dialog) = 0;
  // Bring the dialog and the windows it owns to the front (any thread).
  virtual void Raise(Dialog& dialog) = 0;
  // EndDialog was called: the loop should stop.
  virtual void EndRequested(Dialog& dialog) = 0;
  // The dialog and its windows are going away (after WM_DESTROY).
  virtual void DialogDestroyed(Dialog& dialog) = 0;
  // Whether a titled dialog of this process is found by FindWindowW in other processes.
  virtual bool ListsTitles() { return true; }

 protected:
  ~Backend() = default;
};

// Defined by the backend library that is linked in.
Backend& ActiveBackend();

// ---- Model operations for the backends -----------------------------------------------

// Builds the dialog of a template (hidden from the procedure until WM_INITDIALOG);
// null when the template is missing. The dialog stays alive (and queryable) until the
// next CreateDialogFromTemplate or ForgetDialogs.
Dialog* CreateDialogFromTemplate(HINSTANCE instance, WORD templateId, HWND owner,
                                 DLGPROC procedure);
// Sends WM_INITDIALOG and, unless the dialog ended during it, WM_SIZE.
void StartDialog(Dialog& dialog, LPARAM initParam);
// Takes the oldest posted message; false when none is queued.
bool TakePosted(Dialog& dialog, MSG* message);
// Hands a posted message to the dialog procedure (or to the control it names).
void DispatchPosted(Dialog& dialog, const MSG& message);
// Sends WM_DESTROY, releases the dialog's title, detaches every window.
void DestroyDialog(Dialog& dialog);
void ForgetDialogs();
Dialog* FindDialog(HWND window);  // a live or ended dialog of this process
Window* FindWindowObject(HWND window);
Dialog* LastDialog();
Window* FindControl(Dialog& dialog, int id);  // id 0: the dialog itself
const Font& EffectiveFont(const Window& window);
const ResourceModule* FindModule(HINSTANCE instance);

// File dialogs: the request's filter pairs, and storing the chosen path (FALSE when it
// does not fit in nMaxFile).
std::vector<std::pair<std::u16string, std::u16string>> FilterPairs(LPCWSTR filter);
BOOL StoreChosenPath(OPENFILENAMEW* request, const std::u16string& path);

// ---- The running instance (window_instances.cpp) ------------------------------------

// A top-level dialog's title is its key in a registry of sockets shared by the
// processes of the user: the dialog listens there for raise requests from others. One
// thread of the process answers the sockets of every claimed title; it starts with the
// first claim and then stays, waiting in poll.
struct InstanceListener {
  int socket = -1;
  std::string path;
  ino_t inode = 0;
  Dialog* dialog = nullptr;
};
void ClaimTitle(Dialog& dialog);
void ReleaseTitle(Dialog& dialog);
// The registry's folder: $XDG_RUNTIME_DIR, else a private /tmp/handheld-<uid>.
std::string InstanceFolder();
std::string InstanceSocketPath(std::u16string_view title);
// Whether a process listens at `path` (a socket left by a process that died is removed).
bool InstanceListening(const std::string& path);
// Asks the process listening at `path` to raise its dialog; true when it answered.
bool AskInstanceToRaise(const std::string& path);
// Whether the dialog of the process listening at `path` shows its control `id`; false
// also when it does not answer.
bool AskInstanceShows(const std::string& path, int id);

}  // namespace handheld::window
