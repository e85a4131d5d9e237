// The window system's state and the calls that only read or change it; see
// window_internal.h. The instance registry that FindWindowW asks across processes is in
// window_instances.cpp.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <thread>

#include "handheld/census.h"
#include "handheld/window/window_internal.h"

namespace handheld::window {
namespace {

// A window of another process: its dialog (control 0) or one of the dialog's controls.
struct Proxy : Window {
  std::string path;
  int control = 0;
};

struct State {
  std::recursive_mutex mutex;
  std::set<const ResourceModule*> modules;
  std::vector<std::unique_ptr<Dialog>> dialogs;
  std::map<HWND, Window*> windows;
  std::set<const Menu*> menus;
  std::map<const Font*, std::unique_ptr<Font>> fonts;
  std::map<std::string, std::unique_ptr<Proxy>> proxies;
};

State& TheState() {
  static State* state = new State;
  return *state;
}

void Register(Window* window) {
  std::lock_guard<std::recursive_mutex> lock(TheState().mutex);
  TheState().windows[window->hwnd] = window;
}

void Unregister(Window* window) {
  if (window->destroyed) return;
  window->destroyed = true;
  DetachMessageSink(window->hwnd);
  std::lock_guard<std::recursive_mutex> lock(TheState().mutex);
  TheState().windows.erase(window->hwnd);
}

void RegisterMenus(const Menu* menu, bool add) {
  std::lock_guard<std::recursive_mutex> lock(TheState().mutex);
  if (add) {
    TheState().menus.insert(menu);
  } else {
    TheState().menus.erase(menu);
  }
  for (const MenuItem& item : menu->items) {
    if (item.popup) RegisterMenus(item.popup.get(), add);
  }
}

bool SameClass(const char* a, const char* b) {
  if (!a || !b) return false;
  while (*a && *b) {
    if (std::tolower(static_cast<unsigned char>(*a)) !=
        std::tolower(static_cast<unsigned char>(*b))) {
      return false;
    }
    ++a;
    ++b;
  }
  return *a == *b;
}

LPARAM SizeParam(const RECT& rect) {
  auto width = static_cast<uintptr_t>(rect.right - rect.left) & 0xFFFF;
  auto height = static_cast<uintptr_t>(rect.bottom - rect.top) & 0xFFFF;
  return static_cast<LPARAM>(width | (height << 16));
}

INT_PTR CallProcedure(Dialog& dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!dialog.procedure) return 0;
  return dialog.procedure(dialog.hwnd, message, wParam, lParam);
}

void SendSize(Dialog& dialog) {
  CallProcedure(dialog, WM_SIZE, 0, SizeParam(dialog.rect));
}

std::unique_ptr<Menu> BuildMenu(const MenuItemTemplate* items, int count) {
  auto menu = std::make_unique<Menu>();
  for (int i = 0; i < count; ++i) {
    MenuItem item;
    item.flags = items[i].flags;
    item.command = items[i].command;
    if (items[i].text) item.text = items[i].text;
    if ((items[i].flags & MF_POPUP) != 0) {
      item.popup = BuildMenu(items[i].children, items[i].childCount);
    }
    menu->items.push_back(std::move(item));
  }
  return menu;
}

MenuItem* FindItem(Menu* menu, UINT command) {
  for (MenuItem& item : menu->items) {
    if (item.popup) {
      if (MenuItem* found = FindItem(item.popup.get(), command)) return found;
    } else if ((item.flags & MF_SEPARATOR) == 0 && item.command == command) {
      return &item;
    }
  }
  return nullptr;
}

Menu* LiveMenu(HMENU handle) {
  auto* menu = reinterpret_cast<Menu*>(handle);
  std::lock_guard<std::recursive_mutex> lock(TheState().mutex);
  return TheState().menus.count(menu) ? menu : nullptr;
}

const Font* LiveFont(HFONT handle) {
  auto* font = reinterpret_cast<const Font*>(handle);
  std::lock_guard<std::recursive_mutex> lock(TheState().mutex);
  return TheState().fonts.count(font) ? font : nullptr;
}

MenuBarButton* FindButton(MenuBar& bar, UINT command) {
  for (MenuBarButton& button : bar.buttons) {
    if (button.command == command) return &button;
  }
  return nullptr;
}

void DestroyMenuBar(MenuBar& bar) {
  if (bar.destroyed) return;
  if (bar.menu) RegisterMenus(bar.menu.get(), false);
  bar.visible = false;
  ActiveBackend().Changed(bar, Backend::Change::kShow);
  Unregister(&bar);
}

LRESULT SetFont(Window& window, WPARAM wParam, LPARAM lParam) {
  window.font = LiveFont(reinterpret_cast<HFONT>(wParam));
  ActiveBackend().Changed(window, Backend::Change::kFont);
  if (lParam) {
    ++window.repaints;
    ActiveBackend().Changed(window, Backend::Change::kRepaint);
  }
  return 0;
}

}  // namespace

int DialogUnitsToPixelsX(int units) {
  return (units * kBaseUnitX + 2) / 4;
}
int DialogUnitsToPixelsY(int units) {
  return (units * kBaseUnitY + 4) / 8;
}

Window::~Window() {
  if (!destroyed && hwnd) DetachMessageSink(hwnd);
}

void Window::Deliver(const MSG& message) {
  if (!dialog || kind == Kind::kProxy) return;
  {
    std::lock_guard<std::mutex> lock(dialog->mutex);
    dialog->queue.push_back(message);
  }
  dialog->posted.notify_all();
  ActiveBackend().Woken(*dialog);
}

// ---- The instance registry -----------------------------------------------------------

Dialog::~Dialog() {
  ReleaseTitle(*this);
}

// ---- Model operations ------------------------------------------------------------------

const ResourceModule* FindModule(HINSTANCE instance) {
  auto* module = reinterpret_cast<const ResourceModule*>(instance);
  std::lock_guard<std::recursive_mutex> lock(TheState().mutex);
  return TheState().modules.count(module) ? module : nullptr;
}

Dialog* CreateDialogFromTemplate(HINSTANCE instance, WORD templateId, HWND owner,
                                 DLGPROC procedure) {
  const ResourceModule* module = FindModule(instance);
  if (!module) return nullptr;
  const DialogTemplate* found = nullptr;
  for (int i = 0; i < module->dialogCount; ++i) {
    if (module->dialogs[i].id == templateId) found = &module->dialogs[i];
  }
  if (!found) return nullptr;
  ForgetDialogs();

  auto dialog = std::make_unique<Dialog>();
  Dialog* d = dialog.get();
  d->kind = Kind::kDialog;
  d->dialog = d;
  d->instance = instance;
  d->owner = owner;
  d->procedure = procedure;
  d->style = found->style;
  d->id = found->id;
  if (found->title) d->text = found->title;
  int left = DialogUnitsToPixelsX(found->x);
  int top = DialogUnitsToPixelsY(found->y);
  d->rect = {left, top, left + DialogUnitsToPixelsX(found->cx),
             top + DialogUnitsToPixelsY(found->cy)};
  d->font.face = found->fontFace ? found->fontFace : u"System";
  d->font.height = -((found->fontPoints * 96 + 36) / 72);
  d->hwnd = AttachMessageSink(d);
  Register(d);
  for (int i = 0; i < found->controlCount; ++i) {
    const DialogControlTemplate& t = found->controls[i];
    auto control = std::make_unique<Window>();
    control->kind = SameClass(t.className, PROGRESS_CLASS) ? Kind::kProgress : Kind::kStatic;
    control->dialog = d;
    control->id = t.id;
    control->style = t.style;
    if (t.text) control->text = t.text;
    control->visible = (t.style & WS_VISIBLE) != 0;
    int x = DialogUnitsToPixelsX(t.x);
    int y = DialogUnitsToPixelsY(t.y);
    control->rect = {x, y, x + DialogUnitsToPixelsX(t.cx), y + DialogUnitsToPixelsY(t.cy)};
    control->hwnd = AttachMessageSink(control.get());
    Register(control.get());
    d->controls.push_back(std::move(control));
  }
  {
    std::lock_guard<std::recursive_mutex> lock(TheState().mutex);
    TheState().dialogs.push_back(std::move(dialog));
  }
  ActiveBackend().DialogCreated(*d);
  if (!owner && !d->text.empty()) ClaimTitle(*d);
  return d;
}

void StartDialog(Dialog& dialog, LPARAM initParam) {
  CallProcedure(dialog, WM_INITDIALOG, 0, initParam);
  if (!dialog.ended) SendSize(dialog);
}

bool TakePosted(Dialog& dialog, MSG* message) {
  std::lock_guard<std::mutex> lock(dialog.mutex);
  if (dialog.queue.empty()) return false;
  *message = dialog.queue.front();
  dialog.queue.pop_front();
  return true;
}

void DispatchPosted(Dialog& dialog, const MSG& message) {
  if (message.hwnd == dialog.hwnd) {
    if (!dialog.destroyed) CallProcedure(dialog, message.message, message.wParam, message.lParam);
  } else {
    SendMessageW(message.hwnd, message.message, message.wParam, message.lParam);
  }
}

void DestroyDialog(Dialog& dialog) {
  if (dialog.destroyed) return;
  ReleaseTitle(dialog);
  CallProcedure(dialog, WM_DESTROY, 0, 0);
  if (dialog.menuBar) DestroyMenuBar(*dialog.menuBar);
  // No message can reach the dialog once its windows are detached; only then do its
  // widgets go.
  for (auto& control : dialog.controls) Unregister(control.get());
  Unregister(&dialog);
  ActiveBackend().DialogDestroyed(dialog);
  std::lock_guard<std::mutex> lock(dialog.mutex);
  dialog.queue.clear();
}

void ForgetDialogs() {
  std::vector<std::unique_ptr<Dialog>> old;
  {
    std::lock_guard<std::recursive_mutex> lock(TheState().mutex);
    auto& dialogs = TheState().dialogs;
    for (auto it = dialogs.begin(); it != dialogs.end();) {
      if ((*it)->destroyed) {
        old.push_back(std::move(*it));
        it = dialogs.erase(it);
      } else {
        ++it;
      }
    }
  }
}

Window* FindWindowObject(HWND window) {
  std::lock_guard<std::recursive_mutex> lock(TheState().mutex);
  auto it = TheState().windows.find(window);
  return it == TheState().windows.end() ? nullptr : it->second;
}

Dialog* FindDialog(HWND window) {
  std::lock_guard<std::recursive_mutex> lock(TheState().mutex);
  for (auto& dialog : TheState().dialogs) {
    if (dialog->hwnd == window) return dialog.get();
  }
  return nullptr;
}

Dialog* LastDialog() {
  std::lock_guard<std::recursive_mutex> lock(TheState().mutex);
  return TheState().dialogs.empty() ? nullptr : TheState().dialogs.back().get();
}

Window* FindControl(Dialog& dialog, int id) {
  if (id == 0) return &dialog;
  for (auto& control : dialog.controls) {
    if (control->id == id) return control.get();
  }
  return nullptr;
}

const Font& EffectiveFont(const Window& window) {
  static const Font kSystem{u"System", -11, 0, false};
  if (window.font) return *window.font;
  return window.dialog ? window.dialog->font : kSystem;
}

std::vector<std::pair<std::u16string, std::u16string>> FilterPairs(LPCWSTR filter) {
  std::vector<std::pair<std::u16string, std::u16string>> pairs;
  if (!filter) return pairs;
  const char16_t* p = filter;
  while (*p) {
    std::u16string name = p;
    p += name.size() + 1;
    std::u16string pattern = p;
    bool last = pattern.empty();  // a list cut short: nothing follows its end
    p += pattern.size() + 1;
    pairs.emplace_back(std::move(name), std::move(pattern));
    if (last) break;
  }
  return pairs;
}

BOOL StoreChosenPath(OPENFILENAMEW* request, const std::u16string& path) {
  if (!request->lpstrFile || path.size() + 1 > request->nMaxFile) return FALSE;
  std::copy(path.begin(), path.end(), request->lpstrFile);
  request->lpstrFile[path.size()] = 0;
  size_t slash = path.find_last_of(u'/');
  size_t nameStart = slash == std::u16string::npos ? 0 : slash + 1;
  size_t dot = path.find_last_of(u'.');
  request->nFileOffset = static_cast<WORD>(nameStart);
  request->nFileExtension =
      static_cast<WORD>(dot == std::u16string::npos || dot < nameStart ? path.size() : dot + 1);
  return TRUE;
}

}  // namespace handheld::window

using namespace handheld::window;

// ---- Resources -------------------------------------------------------------------------

HINSTANCE RegisterResources(const ResourceModule* module) {
  if (!module) return nullptr;
  std::lock_guard<std::recursive_mutex> lock(TheState().mutex);
  TheState().modules.insert(module);
  return reinterpret_cast<HINSTANCE>(const_cast<ResourceModule*>(module));
}

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferChars) {
  if (!buffer || bufferChars <= 0) return 0;
  buffer[0] = 0;
  const ResourceModule* module = FindModule(instance);
  if (!module) return 0;
  for (int i = 0; i < module->stringCount; ++i) {
    if (module->strings[i].id != id || !module->strings[i].text) continue;
    std::u16string_view text = module->strings[i].text;
    int count = static_cast<int>(std::min<size_t>(text.size(), bufferChars - 1));
    std::copy(text.begin(), text.begin() + count, buffer);
    buffer[count] = 0;
    return count;
  }
  return 0;
}

// ---- Windows ---------------------------------------------------------------------------

BOOL EndDialog(HWND window, INT_PTR result) {
  Dialog* dialog = FindDialog(window);
  if (!dialog || dialog->destroyed) return FALSE;
  dialog->ended = true;
  dialog->result = result;
  ActiveBackend().EndRequested(*dialog);
  return TRUE;
}

LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
  Window* object = FindWindowObject(window);
  if (object == nullptr || index != DWLP_USER) return 0;
  const LONG_PTR old = object->user;
  object->user = value;
  return old;
}

LONG_PTR GetWindowLongPtrW(HWND window, int index) {
  Window* object = FindWindowObject(window);
  if (object == nullptr || index != DWLP_USER) return 0;
  return object->user;
}

namespace {

// The proxy of `path`'s dialog (control 0) or of one of its controls.
HWND ProxyFor(const std::string& path, std::u16string_view title, int control) {
  std::lock_guard<std::recursive_mutex> lock(TheState().mutex);
  std::unique_ptr<Proxy>& proxy = TheState().proxies[path + "#" + std::to_string(control)];
  if (!proxy) {
    proxy = std::make_unique<Proxy>();
    proxy->kind = Kind::kProxy;
    if (control == 0) proxy->text = title;
    proxy->path = path;
    proxy->control = control;
    proxy->hwnd = AttachMessageSink(proxy.get());
    TheState().windows[proxy->hwnd] = proxy.get();
  }
  return proxy->hwnd;
}

}  // namespace

HWND GetDlgItem(HWND window, int id) {
  Window* object = FindWindowObject(window);
  if (object && object->kind == Kind::kProxy && static_cast<Proxy*>(object)->control == 0) {
    return id == 0 ? nullptr : ProxyFor(static_cast<Proxy*>(object)->path, u"", id);
  }
  if (!object || object->kind != Kind::kDialog) return nullptr;
  for (auto& control : object->dialog->controls) {
    if (control->id == id) return control->destroyed ? nullptr : control->hwnd;
  }
  return nullptr;
}

BOOL SetWindowTextW(HWND window, LPCWSTR text) {
  Window* object = FindWindowObject(window);
  if (!object || object->kind == Kind::kProxy) return FALSE;
  std::u16string previous = std::move(object->text);
  object->text = text ? text : u"";
  ActiveBackend().Changed(*object, Backend::Change::kText);
  if (object->kind == Kind::kDialog && !object->dialog->owner &&
      (previous != object->text || !object->dialog->listener)) {
    ClaimTitle(*object->dialog);
  }
  return TRUE;
}

int GetWindowTextW(HWND window, LPWSTR buffer, int bufferChars) {
  if (!buffer || bufferChars <= 0) return 0;
  buffer[0] = 0;
  Window* object = FindWindowObject(window);
  if (!object) return 0;
  int count = static_cast<int>(std::min<size_t>(object->text.size(), bufferChars - 1));
  std::copy(object->text.begin(), object->text.begin() + count, buffer);
  buffer[count] = 0;
  return count;
}

BOOL ShowWindow(HWND window, int command) {
  Window* object = FindWindowObject(window);
  if (!object || object->kind == Kind::kProxy) return FALSE;
  BOOL was = object->visible ? TRUE : FALSE;
  object->visible = command != SW_HIDE;
  ActiveBackend().Changed(*object, Backend::Change::kShow);
  return was;
}

BOOL IsWindowVisible(HWND window) {
  Window* object = FindWindowObject(window);
  if (object && object->kind == Kind::kProxy) {
    const auto* proxy = static_cast<Proxy*>(object);
    return proxy->control != 0 && AskInstanceShows(proxy->path, proxy->control) ? TRUE : FALSE;
  }
  return object && object->visible ? TRUE : FALSE;
}

BOOL EnableWindow(HWND window, BOOL enable) {
  Window* object = FindWindowObject(window);
  if (!object) return FALSE;
  BOOL wasDisabled = object->enabled ? FALSE : TRUE;
  object->enabled = enable != FALSE;
  ActiveBackend().Changed(*object, Backend::Change::kEnable);
  return wasDisabled;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
  Window* object = FindWindowObject(window);
  if (!object || !rect || object->kind == Kind::kProxy) return FALSE;
  *rect = object->rect;
  return TRUE;
}

BOOL GetClientRect(HWND window, RECT* rect) {
  Window* object = FindWindowObject(window);
  if (!object || !rect || object->kind == Kind::kProxy) return FALSE;
  *rect = {0, 0, object->rect.right - object->rect.left, object->rect.bottom - object->rect.top};
  return TRUE;
}

BOOL SetWindowPos(HWND window, HWND, int x, int y, int cx, int cy, UINT flags) {
  Window* object = FindWindowObject(window);
  if (!object || object->kind == Kind::kProxy) return FALSE;
  RECT& r = object->rect;
  LONG width = r.right - r.left;
  LONG height = r.bottom - r.top;
  if ((flags & SWP_NOMOVE) == 0) {
    r.left = x;
    r.top = y;
  }
  bool resized = false;
  if ((flags & SWP_NOSIZE) == 0) {
    resized = width != std::max(cx, 0) || height != std::max(cy, 0);
    width = std::max(cx, 0);
    height = std::max(cy, 0);
  }
  r.right = r.left + width;
  r.bottom = r.top + height;
  ActiveBackend().Changed(*object, Backend::Change::kMove);
  if (object->kind == Kind::kDialog && resized) SendSize(*object->dialog);
  return TRUE;
}

BOOL MoveWindow(HWND window, int x, int y, int cx, int cy, BOOL) {
  return SetWindowPos(window, nullptr, x, y, cx, cy, SWP_NOZORDER);
}

BOOL UpdateWindow(HWND window) {
  Window* object = FindWindowObject(window);
  if (!object || object->kind == Kind::kProxy) return FALSE;
  ++object->repaints;
  ActiveBackend().Changed(*object, Backend::Change::kRepaint);
  return TRUE;
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Window* object = FindWindowObject(window);
  if (!object) return 0;
  switch (object->kind) {
    case Kind::kDialog:
      if (message == WM_SETFONT) return 0;
      return CallProcedure(*object->dialog, message, wParam, lParam);
    case Kind::kProgress:
      if (message == PBM_SETPOS) {
        int previous = object->position;
        object->position = static_cast<int>(std::min<WPARAM>(wParam, 100));
        ActiveBackend().Changed(*object, Backend::Change::kProgress);
        return previous;
      }
      if (message == PBM_GETPOS) return object->position;
      if (message == WM_SETFONT) return SetFont(*object, wParam, lParam);
      return 0;
    case Kind::kStatic:
      if (message == WM_SETFONT) return SetFont(*object, wParam, lParam);
      return 0;
    case Kind::kMenuBar: {
      auto& bar = static_cast<MenuBar&>(*object);
      if (message == SHCMBM_GETSUBMENU) {
        MenuBarButton* button = FindButton(bar, static_cast<UINT>(lParam));
        return button && button->menu ? reinterpret_cast<LRESULT>(button->menu) : 0;
      }
      if (message == TB_ENABLEBUTTON) {
        MenuBarButton* button = FindButton(bar, static_cast<UINT>(wParam));
        if (!button) return FALSE;
        button->enabled = lParam != 0;
        ActiveBackend().ButtonChanged(bar, *button);
        return TRUE;
      }
      if (message == TB_ISBUTTONENABLED) {
        MenuBarButton* button = FindButton(bar, static_cast<UINT>(wParam));
        return button && button->enabled ? TRUE : FALSE;
      }
      return 0;
    }
    case Kind::kProxy:
      return 0;
  }
  return 0;
}

BOOL DestroyWindow(HWND window) {
  Window* object = FindWindowObject(window);
  if (!object || object->kind == Kind::kProxy) return FALSE;
  switch (object->kind) {
    case Kind::kDialog:
      return EndDialog(window, 0);
    case Kind::kMenuBar:
      DestroyMenuBar(static_cast<MenuBar&>(*object));
      return TRUE;
    default:
      object->visible = false;
      ActiveBackend().Changed(*object, Backend::Change::kShow);
      Unregister(object);
      return TRUE;
  }
}

// ---- Fonts -----------------------------------------------------------------------------

HFONT CreateFontIndirectW(const LOGFONTW* description) {
  if (!description) return nullptr;
  auto font = std::make_unique<Font>();
  const WCHAR* face = description->lfFaceName;
  font->face.assign(face, std::find(face, face + 32, u'\0'));
  font->height = description->lfHeight;
  font->weight = description->lfWeight;
  font->italic = description->lfItalic != 0;
  Font* handle = font.get();
  {
    std::lock_guard<std::recursive_mutex> lock(TheState().mutex);
    TheState().fonts.emplace(handle, std::move(font));
  }
  handheld::CensusAdd("font", 1);
  return reinterpret_cast<HFONT>(handle);
}

BOOL DeleteObject(HGDIOBJ object) {
  auto* font = static_cast<const Font*>(object);
  std::unique_ptr<Font> owned;
  {
    std::lock_guard<std::recursive_mutex> lock(TheState().mutex);
    auto it = TheState().fonts.find(font);
    if (it == TheState().fonts.end()) return FALSE;
    owned = std::move(it->second);
    TheState().fonts.erase(it);
    // A control still holding the font falls back to its dialog's font.
    for (auto& [hwnd, window] : TheState().windows) {
      if (window->font == font) window->font = nullptr;
    }
  }
  handheld::CensusAdd("font", -1);
  return TRUE;
}

// ---- The shell -------------------------------------------------------------------------

BOOL SHInitDialog(SHINITDLGINFO* info) {
  if (!info) return FALSE;
  Dialog* dialog = FindDialog(info->hDlg);
  if (!dialog || dialog->destroyed) return FALSE;
  if ((info->dwMask & SHIDIM_FLAGS) != 0 && (info->dwFlags & SHIDIF_SIZEDLGFULLSCREEN) != 0) {
    dialog->rect = {0, kTitleBarHeight, kScreenWidth, kScreenHeight - kMenuBarHeight};
    ActiveBackend().Changed(*dialog, Backend::Change::kMove);
    SendSize(*dialog);
  }
  return TRUE;
}

BOOL SHCreateMenuBar(SHMENUBARINFO* info) {
  if (!info) return FALSE;
  info->hwndMB = nullptr;
  Dialog* dialog = FindDialog(info->hwndParent);
  const ResourceModule* module = FindModule(info->hInstRes);
  if (!dialog || dialog->destroyed || !module) return FALSE;
  const MenuBarTemplate* description = nullptr;
  for (int i = 0; i < module->menuBarCount; ++i) {
    if (module->menuBars[i].id == info->nToolBarId) description = &module->menuBars[i];
  }
  if (!description) return FALSE;
  const MenuTemplate* menu = nullptr;
  for (int i = 0; i < module->menuCount; ++i) {
    if (module->menus[i].id == description->menuId) menu = &module->menus[i];
  }
  if (!menu) return FALSE;

  auto bar = std::make_unique<MenuBar>();
  bar->kind = Kind::kMenuBar;
  bar->dialog = dialog;
  bar->id = description->id;
  bar->resourceId = description->id;
  bar->rect = {0, kScreenHeight - kMenuBarHeight, kScreenWidth, kScreenHeight};
  bar->menu = BuildMenu(menu->items, menu->count);
  for (int i = 0; i < description->buttonCount; ++i) {
    const MenuBarButtonTemplate& t = description->buttons[i];
    MenuBarButton button;
    button.command = t.command;
    button.enabled = (t.state & TBSTATE_ENABLED) != 0;
    button.dropDown = (t.style & TBSTYLE_DROPDOWN) != 0;
    for (int s = 0; s < module->stringCount; ++s) {
      if (module->strings[s].id == t.labelStringId && module->strings[s].text) {
        button.label = module->strings[s].text;
      }
    }
    if (t.subMenu != NOMENU && t.subMenu >= 0 &&
        t.subMenu < static_cast<int>(bar->menu->items.size())) {
      button.menu = bar->menu->items[t.subMenu].popup.get();
    }
    bar->buttons.push_back(std::move(button));
  }
  RegisterMenus(bar->menu.get(), true);
  bar->hwnd = AttachMessageSink(bar.get());
  Register(bar.get());
  if (dialog->menuBar) DestroyMenuBar(*dialog->menuBar);
  dialog->menuBar = std::move(bar);
  ActiveBackend().MenuBarCreated(*dialog->menuBar);
  info->hwndMB = dialog->menuBar->hwnd;
  return TRUE;
}

DWORD EnableMenuItem(HMENU handle, UINT command, UINT flags) {
  Menu* menu = LiveMenu(handle);
  MenuItem* item = menu ? FindItem(menu, command) : nullptr;
  if (!item) return 0xFFFFFFFFu;
  DWORD previous = item->flags & MF_GRAYED;
  item->flags = (item->flags & ~MF_GRAYED) | (flags & MF_GRAYED);
  ActiveBackend().MenuItemChanged(*item);
  return previous;
}

UINT GetMenuState(HMENU handle, UINT command, UINT) {
  Menu* menu = LiveMenu(handle);
  MenuItem* item = menu ? FindItem(menu, command) : nullptr;
  if (!item) return 0xFFFFFFFFu;
  return item->flags & MF_GRAYED;
}

BOOL SHHandleWMActivate(HWND window, WPARAM wParam, LPARAM, SHACTIVATEINFO*, DWORD) {
  Dialog* dialog = FindDialog(window);
  ActiveBackend().ShellEvent(dialog, true, wParam);
  return TRUE;
}

BOOL SHHandleWMSettingChange(HWND window, WPARAM wParam, LPARAM, SHACTIVATEINFO*) {
  Dialog* dialog = FindDialog(window);
  ActiveBackend().ShellEvent(dialog, false, wParam);
  return TRUE;
}

// ---- The running instance ----------------------------------------------------------------

HWND FindWindowW(LPCWSTR className, LPCWSTR title) {
  if (!title) return nullptr;
  if (className && std::u16string_view(className) != u"#32770" &&
      std::u16string_view(className) != u"Dialog") {
    return nullptr;
  }
  std::u16string_view wanted = title;
  {
    std::lock_guard<std::recursive_mutex> lock(TheState().mutex);
    for (auto& dialog : TheState().dialogs) {
      if (!dialog->destroyed && !dialog->owner && dialog->text == wanted) return dialog->hwnd;
    }
  }
  std::string path = InstanceSocketPath(wanted);
  if (!InstanceListening(path)) return nullptr;
  return ProxyFor(path, wanted, 0);
}

BOOL SetForegroundWindow(HWND window) {
  Window* object = FindWindowObject(window);
  if (!object) return FALSE;
  if (object->kind == Kind::kProxy) {
    const auto* proxy = static_cast<Proxy*>(object);
    return proxy->control == 0 && AskInstanceToRaise(proxy->path) ? TRUE : FALSE;
  }
  if (!object->dialog || object->dialog->destroyed) return FALSE;
  ActiveBackend().Raise(*object->dialog);
  return TRUE;
}
