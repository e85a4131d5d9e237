// The scripted backend: the dialog loop runs on the caller's thread, and the script
// answers what a person would; everything shown goes to the log. See scripted.h.
#include <sys/stat.h>

#include <cstdio>

#include "handheld/window/scripted.h"
#include "handheld/window/window_internal.h"

namespace handheld::scripted {
namespace {

using window::Dialog;
using window::Kind;
using window::MenuBar;
using window::MenuBarButton;
using window::MenuItem;
using window::Window;

struct State {
  std::mutex mutex;  // guards the log and the script's replacement
  std::vector<LogEntry> log;
  Script script;
};

State& TheState() {
  static State* state = new State;
  return *state;
}

// A copy, so that a callback may call SetScript without pulling the rug.
Script CurrentScript() {
  std::lock_guard<std::mutex> lock(TheState().mutex);
  return TheState().script;
}

void Record(LogEntry entry) {
  std::function<void(const LogEntry&)> observer;
  {
    std::lock_guard<std::mutex> lock(TheState().mutex);
    TheState().log.push_back(entry);
    observer = TheState().script.onLog;
  }
  if (observer) observer(entry);
}

int ControlOf(const Window& window) {
  return window.kind == Kind::kDialog ? 0 : window.id;
}

class ScriptedBackend final : public window::Backend {
 public:
  void DialogCreated(Dialog& dialog) override {
    Record({.event = Event::kDialogCreated, .text = dialog.text});
  }

  void Changed(Window& window, Change what) override {
    LogEntry entry;
    entry.control = ControlOf(window);
    switch (what) {
      case Change::kText:
        entry.event = Event::kText;
        entry.text = window.text;
        break;
      case Change::kShow:
        entry.event = Event::kShow;
        entry.value = window.visible ? 1 : 0;
        break;
      case Change::kMove:
        entry.event = Event::kMove;
        entry.rect = window.rect;
        break;
      case Change::kRepaint:
        entry.event = Event::kRepaint;
        break;
      case Change::kFont: {
        const window::Font& font = window::EffectiveFont(window);
        entry.event = Event::kFont;
        entry.text = font.face;
        entry.value = font.height;
        break;
      }
      case Change::kProgress:
        entry.event = Event::kProgress;
        entry.value = window.position;
        break;
      case Change::kEnable:
        return;
    }
    Record(std::move(entry));
  }

  void MenuBarCreated(MenuBar& bar) override {
    Record({.event = Event::kMenuBarCreated, .value = bar.resourceId});
  }

  void ButtonChanged(MenuBar&, MenuBarButton& button) override {
    Record({.event = Event::kButton, .control = button.command, .value = button.enabled});
  }

  void MenuItemChanged(MenuItem& item) override {
    Record({.event = Event::kMenuItem,
            .control = item.command,
            .value = (item.flags & MF_GRAYED) != 0 ? 1 : 0});
  }

  void ShellEvent(Dialog*, bool activation, WPARAM wParam) override {
    Record({.event = activation ? Event::kActivate : Event::kSettingChange,
            .value = static_cast<long>(wParam)});
  }

  void Woken(Dialog&) override {}  // the loop waits on the dialog's condition variable

  void Raise(Dialog& dialog) override {
    std::vector<std::pair<std::u16string, std::u16string>> boxes;
    {
      std::lock_guard<std::mutex> lock(dialog.mutex);
      boxes = dialog.openBoxes;
    }
    Record({.event = Event::kRaise});
    for (auto& [text, caption] : boxes) {
      Record({.event = Event::kRaise, .text = text, .caption = caption});
    }
  }

  void EndRequested(Dialog& dialog) override {
    Record({.event = Event::kEndDialog, .value = static_cast<long>(dialog.result)});
  }

  void DialogDestroyed(Dialog&) override { Record({.event = Event::kDestroy}); }
  bool ListsTitles() override { return CurrentScript().listed; }
};

Dialog* LiveDialog(HWND handle) {
  Dialog* dialog = window::FindDialog(handle);
  return dialog && !dialog->destroyed ? dialog : nullptr;
}

int DispatchQueued(Dialog& dialog, const Script& script) {
  int count = 0;
  MSG message;
  while (!dialog.destroyed && window::TakePosted(dialog, &message)) {
    window::DispatchPosted(dialog, message);
    ++count;
    if (script.afterMessage) script.afterMessage(dialog.hwnd, message);
  }
  return count;
}

bool Exists(const std::string& path, bool* isFolder) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return false;
  if (isFolder) *isFolder = S_ISDIR(info.st_mode);
  return true;
}

BOOL FileDialog(OPENFILENAMEW* request, bool save) {
  if (!request || !request->lpstrFile || request->nMaxFile == 0) return FALSE;
  FileDialogCall call;
  call.save = save;
  call.owner = request->hwndOwner;
  if (request->lpstrTitle) call.title = request->lpstrTitle;
  call.filters = window::FilterPairs(request->lpstrFilter);
  call.filterIndex = request->nFilterIndex;
  const char16_t* proposed = request->lpstrFile;
  call.proposedName.assign(proposed, std::find(proposed, proposed + request->nMaxFile, u'\0'));
  call.flags = request->Flags;

  Script script = CurrentScript();
  std::optional<std::u16string> answer;
  if (script.onFileDialog) answer = script.onFileDialog(call);
  Record({.event = Event::kFileDialog,
          .text = call.title,
          .path = answer.value_or(u""),
          .proposed = call.proposedName,
          .filters = call.filters,
          .type = call.flags,
          .value = save ? 1 : 0});
  if (!answer || answer->empty()) return FALSE;

  const std::u16string& path = *answer;
  std::string native = Utf8FromUtf16(path);
  auto refuse = [&](const char16_t* reason) {
    Record({.event = Event::kFileRefused, .text = reason, .path = path});
    return FALSE;
  };
  bool isFolder = false;
  bool exists = Exists(native, &isFolder);
  if (save && (call.flags & OFN_PATHMUSTEXIST) != 0) {
    size_t slash = native.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : native.substr(0, slash + 1);
    bool folderIsFolder = false;
    if (!Exists(folder, &folderIsFolder) || !folderIsFolder) {
      return refuse(u"the folder does not exist");
    }
  }
  if (!save && (call.flags & OFN_FILEMUSTEXIST) != 0 && !exists) {
    return refuse(u"the file does not exist");
  }
  if (save && exists && (call.flags & OFN_OVERWRITEPROMPT) != 0) {
    bool replace = script.onOverwrite ? script.onOverwrite(path) : false;
    Record({.event = Event::kOverwrite, .path = path, .value = replace ? 1 : 0});
    if (!replace) return FALSE;
  }
  if (!window::StoreChosenPath(request, path)) return refuse(u"the path is too long");
  return TRUE;
}

const char* IconName(UINT type) {
  switch (type & 0xF0) {
    case MB_ICONSTOP:
      return "stop";
    case MB_ICONQUESTION:
      return "question";
    case MB_ICONWARNING:
      return "warning";
    case MB_ICONINFORMATION:
      return "information";
    default:
      return "none";
  }
}

const char* AnswerName(long answer) {
  switch (answer) {
    case IDOK:
      return "OK";
    case IDYES:
      return "YES";
    case IDNO:
      return "NO";
    case IDCANCEL:
      return "CANCEL";
    default:
      return "?";
  }
}

std::string Quote(const std::u16string& text) {
  std::string out = "\"";
  for (char c : Utf8FromUtf16(text)) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void WalkMenu(const window::Menu& menu, WORD command, UINT* state) {
  for (const MenuItem& item : menu.items) {
    if (item.popup) {
      WalkMenu(*item.popup, command, state);
    } else if ((item.flags & MF_SEPARATOR) == 0 && item.command == command) {
      *state = item.flags & MF_GRAYED;
    }
  }
}

MenuBar* BarOf(HWND dialog) {
  Dialog* d = window::FindDialog(dialog);
  return d ? d->menuBar.get() : nullptr;
}

Window* Control(HWND dialog, int id) {
  Dialog* d = window::FindDialog(dialog);
  return d ? window::FindControl(*d, id) : nullptr;
}

}  // namespace

void SetScript(Script script) {
  {
    std::lock_guard<std::mutex> lock(TheState().mutex);
    TheState().script = std::move(script);
    TheState().log.clear();
  }
  window::ForgetDialogs();  // the dialogs that have ended
}

std::vector<LogEntry> Log() {
  std::lock_guard<std::mutex> lock(TheState().mutex);
  return TheState().log;
}

std::vector<std::string> LogLines() {
  std::vector<std::string> lines;
  for (const LogEntry& entry : Log()) lines.push_back(Describe(entry));
  return lines;
}

std::string Describe(const LogEntry& e) {
  std::string control = std::to_string(e.control);
  switch (e.event) {
    case Event::kDialogCreated:
      return "dialog " + Quote(e.text);
    case Event::kMessageBox:
      return std::string("messagebox ") + IconName(e.type) + " " +
             ((e.type & 0xF) == MB_YESNO ? "YESNO" : "OK") + " " + Quote(e.caption) + ": " +
             Quote(e.text) + " -> " + AnswerName(e.value);
    case Event::kFileDialog: {
      std::string line =
          std::string("filedialog ") + (e.value ? "save " : "open ") + Quote(e.text) + " filters=";
      for (size_t i = 0; i < e.filters.size(); ++i) {
        if (i) line += ";";
        line += Utf8FromUtf16(e.filters[i].first) + "|" + Utf8FromUtf16(e.filters[i].second);
      }
      char flags[16];
      std::snprintf(flags, sizeof flags, "0x%X", e.type);
      line += " proposed=" + Quote(e.proposed) + " flags=" + flags + " -> ";
      return line + (e.path.empty() ? std::string("cancel") : Quote(e.path));
    }
    case Event::kOverwrite:
      return "overwrite " + Quote(e.path) + " -> " + (e.value ? "yes" : "no");
    case Event::kFileRefused:
      return "file-refused " + Quote(e.path) + ": " + Utf8FromUtf16(e.text);
    case Event::kText:
      return "text " + control + " " + Quote(e.text);
    case Event::kShow:
      return "show " + control + " " + std::to_string(e.value);
    case Event::kMove:
      return "move " + control + " " + std::to_string(e.rect.left) + "," +
             std::to_string(e.rect.top) + " " + std::to_string(e.rect.right - e.rect.left) + "x" +
             std::to_string(e.rect.bottom - e.rect.top);
    case Event::kRepaint:
      return "repaint " + control;
    case Event::kFont:
      return "font " + control + " " + Quote(e.text) + " " + std::to_string(e.value);
    case Event::kProgress:
      return "progress " + control + " " + std::to_string(e.value);
    case Event::kMenuBarCreated:
      return "menubar " + std::to_string(e.value);
    case Event::kButton:
      return "button " + control + " " + std::to_string(e.value);
    case Event::kMenuItem:
      return "menuitem " + control + (e.value ? " greyed" : " enabled");
    case Event::kActivate:
      return "activate " + std::to_string(e.value);
    case Event::kSettingChange:
      return "settingchange " + std::to_string(e.value);
    case Event::kRaise:
      if (e.text.empty() && e.caption.empty()) return "raise dialog";
      return "raise messagebox " + Quote(e.caption) + ": " + Quote(e.text);
    case Event::kEndDialog:
      return "enddialog " + std::to_string(e.value);
    case Event::kDestroy:
      return "destroy";
    case Event::kWaitLimit:
      return "wait-limit";
  }
  return "?";
}

HWND CurrentDialog() {
  Dialog* dialog = window::LastDialog();
  return dialog ? dialog->hwnd : nullptr;
}

int PumpPending(HWND dialog) {
  Dialog* d = LiveDialog(dialog);
  return d ? DispatchQueued(*d, CurrentScript()) : 0;
}

bool WaitForPosted(HWND dialog, std::chrono::milliseconds timeout) {
  Dialog* d = LiveDialog(dialog);
  if (!d) return false;
  std::unique_lock<std::mutex> lock(d->mutex);
  return d->posted.wait_for(lock, timeout, [d] { return !d->queue.empty(); });
}

int PendingCount(HWND dialog) {
  Dialog* d = window::FindDialog(dialog);
  if (!d) return 0;
  std::lock_guard<std::mutex> lock(d->mutex);
  return static_cast<int>(d->queue.size());
}

std::u16string ControlText(HWND dialog, int id) {
  Window* w = Control(dialog, id);
  return w ? w->text : std::u16string();
}

bool ControlVisible(HWND dialog, int id) {
  Window* w = Control(dialog, id);
  return w && w->visible;
}

RECT ControlRect(HWND dialog, int id) {
  Window* w = Control(dialog, id);
  if (!w) return RECT{0, 0, 0, 0};
  if (w->kind == Kind::kDialog) {
    return RECT{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
  }
  return w->rect;
}

int RepaintCount(HWND dialog, int id) {
  Window* w = Control(dialog, id);
  return w ? w->repaints : 0;
}

int ProgressPosition(HWND dialog, int id) {
  Window* w = Control(dialog, id);
  return w ? w->position : 0;
}

FontInfo ControlFont(HWND dialog, int id) {
  Window* w = Control(dialog, id);
  if (!w) return FontInfo{u"", 0};
  const window::Font& font = window::EffectiveFont(*w);
  return FontInfo{font.face, font.height};
}

int ClientWidth(HWND dialog) {
  RECT r = ControlRect(dialog, 0);
  return r.right - r.left;
}

int ClientHeight(HWND dialog) {
  RECT r = ControlRect(dialog, 0);
  return r.bottom - r.top;
}

bool HasMenuBar(HWND dialog) {
  MenuBar* bar = BarOf(dialog);
  return bar && !bar->destroyed;
}

bool MenuBarButtonEnabled(HWND dialog, WORD command) {
  MenuBar* bar = BarOf(dialog);
  if (!bar) return false;
  for (const MenuBarButton& button : bar->buttons) {
    if (button.command == command) return button.enabled;
  }
  return false;
}

UINT MenuItemState(HWND dialog, WORD command) {
  MenuBar* bar = BarOf(dialog);
  UINT state = 0xFFFFFFFFu;
  if (bar && bar->menu) WalkMenu(*bar->menu, command, &state);
  return state;
}

std::vector<std::u16string> MenuItems(HWND dialog, WORD buttonCommand) {
  std::vector<std::u16string> texts;
  MenuBar* bar = BarOf(dialog);
  if (!bar) return texts;
  for (const MenuBarButton& button : bar->buttons) {
    if (button.command != buttonCommand || !button.menu) continue;
    for (const MenuItem& item : button.menu->items) {
      texts.push_back((item.flags & MF_SEPARATOR) != 0 ? u"-" : item.text);
    }
  }
  return texts;
}

}  // namespace handheld::scripted

namespace handheld::window {
Backend& ActiveBackend() {
  static scripted::ScriptedBackend* backend = new scripted::ScriptedBackend;
  return *backend;
}
}  // namespace handheld::window

using namespace handheld;
using namespace handheld::scripted;

INT_PTR DialogBoxParamW(HINSTANCE instance, WORD templateId, HWND owner, DLGPROC procedure,
                        LPARAM initParam) {
  window::Dialog* dialog = window::CreateDialogFromTemplate(instance, templateId, owner, procedure);
  if (!dialog) return -1;
  Script script = CurrentScript();
  window::StartDialog(*dialog, initParam);
  if (!dialog->ended && script.onStart) script.onStart(dialog->hwnd);
  while (!dialog->ended) {
    if (DispatchQueued(*dialog, script) > 0) continue;
    if (script.onIdle) {
      script.onIdle(dialog->hwnd);
      if (dialog->ended) break;
    }
    bool arrived;
    {
      std::unique_lock<std::mutex> lock(dialog->mutex);
      arrived = dialog->posted.wait_for(lock, script.waitLimit,
                                        [dialog] { return !dialog->queue.empty(); });
    }
    if (!arrived) {
      Record({.event = Event::kWaitLimit});
      EndDialog(dialog->hwnd, -1);
    }
  }
  window::DestroyDialog(*dialog);
  return dialog->result;
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  MessageBoxCall call{owner, text ? text : u"", caption ? caption : u"", type};
  // A box without an owner still belongs to the running dialog's thread.
  window::Dialog* dialog = owner ? window::FindDialog(owner) : window::LastDialog();
  if (dialog && dialog->destroyed) dialog = nullptr;
  if (dialog) {
    std::lock_guard<std::mutex> lock(dialog->mutex);
    dialog->openBoxes.emplace_back(call.text, call.caption);
  }
  Script script = CurrentScript();
  bool yesNo = (type & 0xF) == MB_YESNO;
  int answer = script.onMessageBox ? script.onMessageBox(call) : (yesNo ? IDNO : IDOK);
  if (yesNo && answer != IDYES) answer = IDNO;
  if (!yesNo) answer = IDOK;
  if (dialog) {
    std::lock_guard<std::mutex> lock(dialog->mutex);
    if (!dialog->openBoxes.empty()) dialog->openBoxes.pop_back();
  }
  Record({.event = Event::kMessageBox,
          .text = call.text,
          .caption = call.caption,
          .type = type,
          .value = answer});
  return answer;
}

BOOL GetSaveFileNameW(OPENFILENAMEW* request) {
  return FileDialog(request, true);
}
BOOL GetOpenFileNameW(OPENFILENAMEW* request) {
  return FileDialog(request, false);
}
