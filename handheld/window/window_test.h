// What the window system's tests run on both backends: dialog 101 with its controls,
// menu bar 200 and a few strings, and a dialog procedure that hands every message to
// g_handler.
#pragma once

#include <functional>

#include "handheld/testing/sandbox.h"
#include "handheld/window/window.h"

namespace window_test {

const DialogControlTemplate kControls[] = {
    {104, WC_STATIC, u"credit", 7, 75, 67, 8, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT},
    {103, WC_STATIC, u"about", 4, 4, 56, 27,
     WS_CHILD | WS_VISIBLE | WS_BORDER | WS_GROUP | SS_LEFT},
    {105, WC_STATIC, u"Static", 67, 12, 19, 8, WS_CHILD | WS_GROUP | SS_LEFT},
    {106, PROGRESS_CLASS, u"Progress1", 65, 25, 80, 6, WS_CHILD | WS_BORDER},
};
const DialogTemplate kDialogs[] = {
    {101, 0, 0, 186, 90, WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, u"", 8, u"System", kControls, 4},
};
const MenuItemTemplate kActions[] = {
    {MF_STRING, 203, u"&Сохранить Контакты в файл", nullptr, 0},
    {MF_STRING, 204, u"&Загрузить Контакты из файла", nullptr, 0},
    {MF_SEPARATOR, 0, nullptr, nullptr, 0},
    {MF_STRING, 209, u"Сох&ранить Звонки в файл", nullptr, 0},
};
const MenuItemTemplate kTopLevel[] = {
    {MF_STRING, 201, u"Выход", nullptr, 0},
    {MF_POPUP, 0, u"Действия", kActions, 4},
};
const MenuTemplate kMenus[] = {{200, kTopLevel, 2}};
const MenuBarButtonTemplate kButtons[] = {
    {I_IMAGENONE, 201, TBSTATE_ENABLED, TBSTYLE_BUTTON | TBSTYLE_AUTOSIZE, 301, NOMENU},
    {I_IMAGENONE, 202, TBSTATE_ENABLED, TBSTYLE_DROPDOWN | TBSTYLE_AUTOSIZE, 300, 1},
};
const MenuBarTemplate kMenuBars[] = {{200, 200, kButtons, 2}};
const StringResource kStrings[] = {
    {102, u"Quillmote"},
    {300, u"Действия"},
    {301, u"Выход"},
    {401, u"Static text\r\nsecond line"},
};
const ResourceModule kModule = {kStrings, 4, kDialogs, 1, kMenus, 1, kMenuBars, 1, nullptr, 0};

inline std::function<void(HWND, UINT, WPARAM, LPARAM)> g_handler;

inline INT_PTR TestProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_handler) g_handler(dialog, message, wParam, lParam);
  return message == WM_INITDIALOG ? 1 : 0;
}

// A sandbox with the resources above registered and no handler left behind.
class WindowFixture : public handheld::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    instance_ = RegisterResources(&kModule);
    g_handler = nullptr;
  }
  void TearDown() override {
    g_handler = nullptr;
    SandboxTest::TearDown();
  }
  HINSTANCE instance_ = nullptr;
};

// The menu bar of description `id` for the dialog, or null.
inline HWND AddMenuBar(HWND dialog, HINSTANCE instance, UINT id = 200) {
  SHMENUBARINFO info{};
  info.cbSize = sizeof info;
  info.hwndParent = dialog;
  info.nToolBarId = id;
  info.hInstRes = instance;
  return SHCreateMenuBar(&info) ? info.hwndMB : nullptr;
}

// The launch's file dialog request, for a buffer of 1024 code units.
inline OPENFILENAMEW FileRequest(bool save, char16_t* path) {
  static constexpr char16_t kFilter[] =
      u"Текстовые файлы\0*.txt\0Файлы CSV\0*.csv\0Все файлы\0*.*\0\0";
  OPENFILENAMEW request{};
  request.lStructSize = kOpenFileNameSize;
  request.lpstrFilter = kFilter;
  request.nFilterIndex = 1;
  request.lpstrFile = path;
  request.nMaxFile = 1024;
  request.lpstrTitle = save ? u"Сохранить в файл..." : u"Загрузить из файла...";
  request.Flags = save ? OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST : OFN_FILEMUSTEXIST;
  return request;
}

}  // namespace window_test
