// The handheld's window system, as the shell uses it: string resources, modal dialogs
// from templates, controls, fonts, message boxes, the shell's full-screen set-up and menu
// bar, file dialogs, and finding the running instance's window across processes.
//
// One API, two backends chosen at link time: window_qt.cpp (Qt 6 Widgets, the desktop
// program) and window_scripted.cpp (in-memory windows driven by a script: tests and
// headless runs; see scripted.h). Every call is made on the thread that runs the
// dialog, except PostMessageW (handheld/messages.h), which any thread may call: posted
// messages reach the dialog procedure in order, from the dialog's message loop.
//
// Resources are data that the program registers (RegisterResources); the window system
// builds windows from them.
#pragma once

#include "handheld/messages.h"
#include "handheld/types.h"

// ---- Resources -------------------------------------------------------------------

struct StringResource {
  UINT id;
  const char16_t* text;
};

// Control classes of dialog templates.
constexpr const char* WC_STATIC = "STATIC";
constexpr const char* PROGRESS_CLASS = "msctls_progress32";

constexpr DWORD WS_CHILD = 0x40000000u;
constexpr DWORD WS_VISIBLE = 0x10000000u;
constexpr DWORD WS_BORDER = 0x00800000u;
constexpr DWORD WS_GROUP = 0x00020000u;
constexpr DWORD WS_CAPTION = 0x00C00000u;
constexpr DWORD WS_SYSMENU = 0x00080000u;
constexpr DWORD DS_MODALFRAME = 0x80u;
constexpr DWORD SS_LEFT = 0x0u;

struct DialogControlTemplate {
  WORD id;
  const char* className;  // WC_STATIC or PROGRESS_CLASS
  const char16_t* text;
  SHORT x, y, cx, cy;  // dialog units
  DWORD style;
};

struct DialogTemplate {
  WORD id;
  SHORT x, y, cx, cy;  // dialog units
  DWORD style;
  const char16_t* title;
  WORD fontPoints;
  const char16_t* fontFace;
  const DialogControlTemplate* controls;  // in tab order
  int controlCount;
};

constexpr UINT MF_STRING = 0x0;
constexpr UINT MF_GRAYED = 0x1;
constexpr UINT MF_ENABLED = 0x0;
constexpr UINT MF_POPUP = 0x10;
constexpr UINT MF_SEPARATOR = 0x800;
constexpr UINT MF_BYCOMMAND = 0x0;

struct MenuItemTemplate {
  UINT flags;  // MF_STRING, MF_POPUP (children), MF_SEPARATOR
  WORD command;
  const char16_t* text;
  const MenuItemTemplate* children;
  int childCount;
};

struct MenuTemplate {
  WORD id;
  const MenuItemTemplate* items;  // top level
  int count;
};

constexpr BYTE TBSTATE_ENABLED = 0x04;
constexpr BYTE TBSTYLE_BUTTON = 0x00;
constexpr BYTE TBSTYLE_DROPDOWN = 0x08;
constexpr BYTE TBSTYLE_AUTOSIZE = 0x10;
constexpr int I_IMAGENONE = -2;
constexpr int NOMENU = 0xFFFF;

struct MenuBarButtonTemplate {
  int image;  // I_IMAGENONE
  WORD command;
  BYTE state;
  BYTE style;
  WORD labelStringId;
  int subMenu;  // index of a top-level popup of the bar's menu, or NOMENU
};

struct MenuBarTemplate {
  WORD id;
  WORD menuId;
  const MenuBarButtonTemplate* buttons;
  int buttonCount;
};

struct IconTemplate {
  WORD id;
  int width, height;        // 16 x 16
  const char* const* rows;  // height strings of width characters: '#' dark, '.' light
};

struct ResourceModule {
  const StringResource* strings;
  int stringCount;
  const DialogTemplate* dialogs;
  int dialogCount;
  const MenuTemplate* menus;
  int menuCount;
  const MenuBarTemplate* menuBars;
  int menuBarCount;
  const IconTemplate* icons;
  int iconCount;
};

// The program's instance: its resources.
HINSTANCE RegisterResources(const ResourceModule* module);

// Copies string `id` into buffer (at most bufferChars - 1 characters and a zero);
// returns the characters copied, 0 when there is no such string.
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferChars);

// ---- Windows, messages and dialogs ---------------------------------------------------

struct RECT {
  LONG left, top, right, bottom;
};

constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_ACTIVATE = 0x0006;
constexpr UINT WM_SETTINGCHANGE = 0x001A;
constexpr UINT WM_SETFONT = 0x0030;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_USER = 0x0400;
constexpr UINT PBM_SETPOS = WM_USER + 2;  // wParam: position; the range is 0..100
constexpr UINT PBM_GETPOS = WM_USER + 8;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;

constexpr UINT SWP_NOSIZE = 0x1;
constexpr UINT SWP_NOMOVE = 0x2;
constexpr UINT SWP_NOZORDER = 0x4;

using DLGPROC = INT_PTR (*)(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

constexpr WORD LOWORD(uintptr_t value) {
  return static_cast<WORD>(value & 0xFFFF);
}
constexpr WORD HIWORD(uintptr_t value) {
  return static_cast<WORD>((value >> 16) & 0xFFFF);
}

// Runs the dialog of template `templateId` modally: sends WM_INITDIALOG (lParam =
// initParam), then delivers messages (posted ones included) until EndDialog. The
// dialog gets WM_SIZE with its client size (low 16 bits width, high 16 bits height)
// after WM_INITDIALOG and on every resize, and WM_DESTROY last. Returns EndDialog's
// result, or -1 when the template is missing.
INT_PTR DialogBoxParamW(HINSTANCE instance, WORD templateId, HWND owner, DLGPROC procedure,
                        LPARAM initParam);
BOOL EndDialog(HWND dialog, INT_PTR result);

HWND GetDlgItem(HWND dialog, int id);
// A dialog's own value for its procedure (DWLP_USER), 0 until set.
constexpr int DWLP_USER = 16;
LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value);  // the old value
LONG_PTR GetWindowLongPtrW(HWND window, int index);
BOOL SetWindowTextW(HWND window, LPCWSTR text);
int GetWindowTextW(HWND window, LPWSTR buffer, int bufferChars);
BOOL ShowWindow(HWND window, int command);
BOOL IsWindowVisible(HWND window);
BOOL EnableWindow(HWND window, BOOL enable);
// Screen rectangle (controls: in their dialog's client coordinates here, which is what
// the layout needs) and client rectangle, in pixels.
BOOL GetWindowRect(HWND window, RECT* rect);
BOOL GetClientRect(HWND window, RECT* rect);
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
BOOL MoveWindow(HWND window, int x, int y, int cx, int cy, BOOL repaint);
// Repaints the window at once.
BOOL UpdateWindow(HWND window);
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL DestroyWindow(HWND window);

// ---- Fonts ---------------------------------------------------------------------------

struct HFONT__;
using HFONT = HFONT__*;
using HGDIOBJ = void*;

constexpr BYTE DEFAULT_CHARSET = 1;
constexpr BYTE OUT_DEFAULT_PRECIS = 0;
constexpr BYTE CLIP_DEFAULT_PRECIS = 0;
constexpr BYTE DEFAULT_QUALITY = 0;
constexpr BYTE DEFAULT_PITCH = 0;
constexpr BYTE FF_DONTCARE = 0;

struct LOGFONTW {
  LONG lfHeight;
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  WCHAR lfFaceName[32];
};

HFONT CreateFontIndirectW(const LOGFONTW* description);
BOOL DeleteObject(HGDIOBJ object);
// WM_SETFONT: wParam the HFONT, lParam whether to repaint at once.

// ---- Message boxes -----------------------------------------------------------------

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_ICONSTOP = 0x10;  // also MB_ICONERROR
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONWARNING = 0x30;  // also MB_ICONEXCLAMATION
constexpr UINT MB_ICONINFORMATION = 0x40;

// Modal; owner may be null. Returns IDOK, IDYES or IDNO.
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// ---- The shell: full-screen set-up, menu bar, activation --------------------------

struct HMENU__;
using HMENU = HMENU__*;

constexpr DWORD SHIDIM_FLAGS = 0x1;
constexpr DWORD SHIDIF_SIPDOWN = 0x8;
constexpr DWORD SHIDIF_SIZEDLGFULLSCREEN = 0x10;

struct SHINITDLGINFO {
  DWORD dwMask;
  HWND hDlg;
  DWORD dwFlags;
};
BOOL SHInitDialog(SHINITDLGINFO* info);

struct SHMENUBARINFO {
  DWORD cbSize;
  HWND hwndParent;
  DWORD dwFlags;
  UINT nToolBarId;  // menu-bar description id
  HINSTANCE hInstRes;
  int nBmpId;
  int cBmpImages;
  HWND hwndMB;  // out: the menu bar window
  DWORD clrBk;
};
BOOL SHCreateMenuBar(SHMENUBARINFO* info);

// Menu-bar messages: SHCMBM_GETSUBMENU (lParam: the button's command) gives the HMENU of
// its drop-down; TB_ENABLEBUTTON (wParam: command, lParam: TRUE/FALSE) enables a button.
constexpr UINT SHCMBM_GETSUBMENU = WM_USER + 401;
constexpr UINT TB_ENABLEBUTTON = WM_USER + 1;
constexpr UINT TB_ISBUTTONENABLED = WM_USER + 9;

// Returns the previous state, or -1 when there is no such item.
DWORD EnableMenuItem(HMENU menu, UINT command, UINT flags);
// MF_GRAYED when greyed, 0 when enabled, -1 (0xFFFFFFFF) when there is no such item.
UINT GetMenuState(HMENU menu, UINT command, UINT flags);

struct SHACTIVATEINFO {
  DWORD cbSize;  // 12 on the handheld
  HWND hwndLastFocus;
  UINT flags;
};
BOOL SHHandleWMActivate(HWND window, WPARAM wParam, LPARAM lParam, SHACTIVATEINFO* info,
                        DWORD flags);
BOOL SHHandleWMSettingChange(HWND window, WPARAM wParam, LPARAM lParam, SHACTIVATEINFO* info);

// ---- File dialogs --------------------------------------------------------------------

constexpr DWORD OFN_OVERWRITEPROMPT = 0x2;
constexpr DWORD OFN_PATHMUSTEXIST = 0x800;
constexpr DWORD OFN_FILEMUSTEXIST = 0x1000;

struct OPENFILENAMEW {
  DWORD lStructSize;
  HWND hwndOwner;
  HINSTANCE hInstance;
  LPCWSTR lpstrFilter;  // pairs of zero-ended name and pattern, ended by an extra zero
  LPWSTR lpstrCustomFilter;
  DWORD nMaxCustFilter;
  DWORD nFilterIndex;  // 1-based
  LPWSTR lpstrFile;    // in: the proposed name; out: the chosen path
  DWORD nMaxFile;      // characters of lpstrFile, the zero included
  LPWSTR lpstrFileTitle;
  DWORD nMaxFileTitle;
  LPCWSTR lpstrInitialDir;
  LPCWSTR lpstrTitle;
  DWORD Flags;
  WORD nFileOffset;
  WORD nFileExtension;
  LPCWSTR lpstrDefExt;
  LPARAM lCustData;
  void* lpfnHook;
  LPCWSTR lpTemplateName;
};
// The request's size on this host (76 on the 32-bit handheld).
constexpr DWORD kOpenFileNameSize = sizeof(OPENFILENAMEW);

// FALSE when the user cancels (or the chosen path does not fit in nMaxFile).
BOOL GetSaveFileNameW(OPENFILENAMEW* request);
BOOL GetOpenFileNameW(OPENFILENAMEW* request);

// ---- The running instance ----------------------------------------------------------

// Finds a top-level window with this title in any process of this user (the registry
// lives in $XDG_RUNTIME_DIR, else a per-user folder under /tmp). className may be null.
// A window of another process comes back as a proxy handle that SetForegroundWindow
// understands, and GetDlgItem, whose control handles IsWindowVisible asks about (FALSE
// when the process does not answer). Null when there is none.
HWND FindWindowW(LPCWSTR className, LPCWSTR title);
// Brings the window, and the windows it owns (an open message box included), to the
// front. Accepts the proxy handles of FindWindowW.
BOOL SetForegroundWindow(HWND window);
