// The Qt backend, on Qt's offscreen platform: the screen's widgets, posted messages from
// another thread, and the Russian message boxes and file dialogs (answered by clicking
// their buttons from a queued call).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#include "handheld/testing/sandbox.h"
#include "handheld/window/window.h"
#include "handheld/window/window_test.h"

namespace {

using handheld::testing::U16;
using namespace window_test;

// The tests draw nowhere: Qt's offscreen platform, unless the caller chose another.
[[maybe_unused]] const bool kOffscreen = ::setenv("QT_QPA_PLATFORM", "offscreen", 0) == 0;

// Runs `act` on the modal window once it is open (from the event loop it runs in).
void WhenModalOpens(std::function<void(QWidget*)> act, int tries = 200) {
  QTimer::singleShot(10, [act, tries] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      act(modal);
    } else if (tries > 0) {
      WhenModalOpens(act, tries - 1);
    }
  });
}

QAbstractButton* ButtonLabelled(QWidget* box, const QString& text) {
  for (QAbstractButton* button : box->findChildren<QAbstractButton*>()) {
    if (button->text() == text) return button;
  }
  return nullptr;
}

class WindowQtTest : public handheld::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    instance_ = RegisterResources(&kModule);
  }
  void TearDown() override {
    g_handler = nullptr;
    SandboxTest::TearDown();
  }
  HINSTANCE instance_ = nullptr;
};

TEST_F(WindowQtTest, TheScreenItsMenuBarAndPostedMessagesInOrder) {
  std::vector<WPARAM> received;
  std::thread poster;
  QWidget* screen = nullptr;
  g_handler = [&](HWND dialog, UINT message, WPARAM w, LPARAM) {
    if (message == WM_INITDIALOG) {
      SHINITDLGINFO info{SHIDIM_FLAGS, dialog, SHIDIF_SIZEDLGFULLSCREEN};
      SHInitDialog(&info);
      SetWindowTextW(dialog, u"Quillmote Qt");
      SHMENUBARINFO bar{};
      bar.hwndParent = dialog;
      bar.nToolBarId = 200;
      bar.hInstRes = instance_;
      ASSERT_TRUE(SHCreateMenuBar(&bar));
      auto menu = reinterpret_cast<HMENU>(SendMessageW(bar.hwndMB, SHCMBM_GETSUBMENU, 0, 202));
      EnableMenuItem(menu, 209, MF_BYCOMMAND | MF_GRAYED);
      SendMessageW(GetDlgItem(dialog, 106), PBM_SETPOS, 30, 0);
      poster = std::thread([dialog] {
        for (int i = 0; i < 500; ++i) PostMessageW(dialog, WM_APP, i, 0);
        PostMessageW(dialog, WM_APP + 1, 0, 0);
      });
    }
    if (message == WM_APP) received.push_back(w);
    if (message == WM_APP + 1) {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->windowTitle() == QStringLiteral("Quillmote Qt")) screen = top;
      }
      ASSERT_NE(screen, nullptr);
      int zoom = screen->width() / 240;
      EXPECT_GE(zoom, 1);
      EXPECT_EQ(screen->height(), 320 * zoom);
      QStringList labels;
      for (QToolButton* button : screen->findChildren<QToolButton*>()) {
        labels << button->text();
        if (QMenu* menu = button->findChild<QMenu*>()) {
          QList<QAction*> actions = menu->actions();
          ASSERT_EQ(actions.size(), 4);
          EXPECT_TRUE(actions[0]->isEnabled());
          EXPECT_TRUE(actions[2]->isSeparator());
          EXPECT_FALSE(actions[3]->isEnabled());
        }
      }
      EXPECT_EQ(labels, (QStringList{QStringLiteral("Выход"), QStringLiteral("Действия")}));
      QProgressBar* progress = screen->findChild<QProgressBar*>();
      ASSERT_NE(progress, nullptr);
      EXPECT_EQ(progress->value(), 30);
      EXPECT_FALSE(progress->isVisible());
      for (QLabel* label : screen->findChildren<QLabel*>()) {
        if (label->text() == QStringLiteral("about")) {
          EXPECT_EQ(label->geometry(), QRect(6 * zoom, 7 * zoom, 84 * zoom, 44 * zoom));
        }
      }
      EndDialog(dialog, 5);
    }
  };
  EXPECT_EQ(DialogBoxParamW(instance_, 101, nullptr, TestProcedure, 0), 5);
  poster.join();
  ASSERT_EQ(received.size(), 500u);
  for (WPARAM i = 0; i < 500; ++i) ASSERT_EQ(received[i], i);
}

TEST_F(WindowQtTest, RussianMessageBoxesKeepDispatchingPostedMessages) {
  std::vector<std::string> order;
  QString icon;
  g_handler = [&](HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) PostMessageW(dialog, WM_APP + 2, 0, 0);
    if (message == WM_APP + 2) {
      PostMessageW(dialog, WM_APP + 3, 0, 0);
      WhenModalOpens([&](QWidget* box) {
        ASSERT_NE(ButtonLabelled(box, QStringLiteral("Нет")), nullptr);
        icon = qobject_cast<QMessageBox*>(box)->icon() == QMessageBox::Question ? "question" : "";
        ButtonLabelled(box, QStringLiteral("Да"))->click();
      });
      int answer = MessageBoxW(dialog, u"Выйти?", u"Quillmote", MB_YESNO | MB_ICONQUESTION);
      order.push_back(answer == IDYES ? "yes" : "no");
      WhenModalOpens([](QWidget* box) { ButtonLabelled(box, QStringLiteral("OK"))->click(); });
      EXPECT_EQ(MessageBoxW(dialog, u"Готово", u"Quillmote", MB_OK | MB_ICONINFORMATION), IDOK);
      EndDialog(dialog, 0);
    }
    if (message == WM_APP + 3) order.push_back("posted");
  };
  DialogBoxParamW(instance_, 101, nullptr, TestProcedure, 0);
  EXPECT_EQ(order, (std::vector<std::string>{"posted", "yes"}));
  EXPECT_EQ(icon, QStringLiteral("question"));
}

TEST_F(WindowQtTest, FileDialogsOfferTheFiltersAndAskBeforeReplacing) {
  std::string existing = sandbox().path("old.txt");
  handheld::testing::WriteFileBytes(existing, "x");
  char16_t path[1024] = u"Contacts20070315";
  QStringList filters;
  QString proposed;
  bool asked = false;
  BOOL result = FALSE;
  g_handler = [&](HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) PostMessageW(dialog, WM_APP, 0, 0);
    if (message != WM_APP) return;
    WhenModalOpens([&](QWidget* modal) {
      auto* files = qobject_cast<QFileDialog*>(modal);
      ASSERT_NE(files, nullptr);
      filters = files->nameFilters();
      if (QLineEdit* name = files->findChild<QLineEdit*>()) proposed = name->text();
      files->selectFile(QString::fromStdString(existing));
      WhenModalOpens([&](QWidget* question) {
        asked = ButtonLabelled(question, QStringLiteral("Да")) != nullptr;
        if (asked) ButtonLabelled(question, QStringLiteral("Да"))->click();
      });
      QMetaObject::invokeMethod(files, "accept");
    });
    OPENFILENAMEW request = FileRequest(true, path);
    request.hwndOwner = dialog;
    result = GetSaveFileNameW(&request);
    EndDialog(dialog, 0);
  };
  DialogBoxParamW(instance_, 101, nullptr, TestProcedure, 0);
  EXPECT_EQ(filters,
            (QStringList{QStringLiteral("Текстовые файлы (*.txt)"),
                         QStringLiteral("Файлы CSV (*.csv)"), QStringLiteral("Все файлы (*.*)")}));
  EXPECT_EQ(proposed, QStringLiteral("Contacts20070315"));
  EXPECT_TRUE(asked);
  EXPECT_TRUE(result);
  EXPECT_EQ(std::u16string(path), U16(existing));
}

}  // namespace
