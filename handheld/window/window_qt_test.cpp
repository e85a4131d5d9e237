// The Qt backend, on Qt's offscreen platform: the screen's widgets, posted messages from
// another thread, the keyboard on the menu bar, and the Russian message boxes and file
// dialogs (answered by clicking their buttons from a queued call), their size at the
// screen's zoom, and a file dialog beside an open store.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QComboBox>
#include <QFileSystemModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QProxyStyle>
#include <QStyleOption>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "handheld/store/store_test_support.h"
#include "handheld/window/window.h"
#include "handheld/window/window_test.h"

namespace {

using handheld::testing::U16;
using namespace window_test;

// The tests draw nowhere: Qt's offscreen platform, unless the caller chose another, with a
// screen that has room for the handheld's screen at a zoom of 2.
[[maybe_unused]] const bool kOffscreen =
    ::setenv("QT_QPA_PLATFORM", "offscreen:configfile=" WINDOW_QT_TEST_SCREEN, 0) == 0;

// Runs `act` on the window that `find` finds once it is open (from the event loop it runs
// in).
void WhenOpen(std::function<QWidget*()> find, std::function<void(QWidget*)> act, int tries = 200) {
  QTimer::singleShot(10, [find, act, tries] {
    if (QWidget* window = find()) {
      act(window);
    } else if (tries > 0) {
      WhenOpen(find, act, tries - 1);
    }
  });
}

void WhenModalOpens(std::function<void(QWidget*)> act) {
  WhenOpen(QApplication::activeModalWidget, act);
}

// Runs the event loop until `done` holds (or a long while has passed).
void WaitFor(const std::function<bool()>& done) {
  QElapsedTimer waited;
  waited.start();
  while (!done() && waited.elapsed() < 10000) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
}

// The handheld's screen that `window` is drawn over, and its zoom.
QWidget* ScreenUnder(QWidget* window) {
  while (window->parentWidget()) window = window->parentWidget();
  return window;
}
int ZoomOf(QWidget* screen) {
  return screen->width() / 240;
}

// A window over the screen is drawn at the screen's zoom (with a phone's scale, at least
// two device pixels to a handheld's) and is no wider than it.
void ExpectDrawnForTheScreen(QWidget* window) {
  QWidget* screen = ScreenUnder(window);
  ASSERT_NE(screen, window);
  EXPECT_GE(ZoomOf(screen) * screen->devicePixelRatio(), 2);
  EXPECT_LE(window->frameGeometry().width(), screen->frameGeometry().width())
      << window->metaObject()->className();
  EXPECT_EQ(window->font().pixelSize(), 11 * ZoomOf(screen)) << window->metaObject()->className();
  if (auto* box = qobject_cast<QMessageBox*>(window)) {
    EXPECT_EQ(box->iconPixmap().width(), 32 * ZoomOf(screen));
  }
}

// Qt's own style, unzoomed, under the backend's.
QStyle* Unzoomed() {
  return static_cast<QProxyStyle*>(QApplication::style())->baseStyle();
}

QAbstractButton* ButtonLabelled(QWidget* box, const QString& text) {
  for (QAbstractButton* button : box->findChildren<QAbstractButton*>()) {
    if (button->text() == text) return button;
  }
  return nullptr;
}

// A key pressed and released on `widget`, as the keyboard sends it.
void Press(QWidget* widget, Qt::Key key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QApplication::sendEvent(widget, &release);
}

class WindowQtTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    setenv("HOME", sandbox().dir().c_str(), 1);
    setenv("XDG_CONFIG_HOME", sandbox().path("config").c_str(), 1);
  }

  // Runs the screen with a file dialog over it (the request of FileRequest, changed by
  // `adjust`) and calls `act` with the dialog and its name field once it is open; gives
  // back what GetSaveFileNameW or GetOpenFileNameW returned.
  BOOL WithFileDialog(bool save, char16_t* path,
                      const std::function<void(QFileDialog*, QLineEdit*)>& act,
                      const std::function<void(OPENFILENAMEW&)>& adjust = nullptr) {
    BOOL result = FALSE;
    g_handler = [&](HWND dialog, UINT message, WPARAM, LPARAM) {
      if (message == WM_INITDIALOG) PostMessageW(dialog, WM_APP, 0, 0);
      if (message != WM_APP) return;
      WhenModalOpens([&](QWidget* modal) {
        auto* files = qobject_cast<QFileDialog*>(modal);
        auto* name = files ? files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr;
        EXPECT_TRUE(files && name);
        if (files && name) {
          act(files, name);
        } else if (auto* other = qobject_cast<QDialog*>(modal)) {
          other->reject();
        }
      });
      OPENFILENAMEW request = FileRequest(save, path);
      request.hwndOwner = dialog;
      if (adjust) adjust(request);
      result = save ? GetSaveFileNameW(&request) : GetOpenFileNameW(&request);
      EndDialog(dialog, 0);
    };
    DialogBoxParamW(instance_, 101, nullptr, TestProcedure, 0);
    return result;
  }
};

// The screen, its menu bar and the keyboard on it (Tab moves the focus from the screen to
// the menu bar's buttons and shows where it is; Return, Enter and Space press the button
// that has it), posted messages in order, and a minimised screen raised.
TEST_F(WindowQtTest, TheScreenItsMenuBarKeyboardAndPostedMessages) {
  std::vector<WPARAM> received, commands;
  std::thread poster;
  g_handler = [&](HWND dialog, UINT message, WPARAM w, LPARAM) {
    if (message == WM_COMMAND) commands.push_back(LOWORD(w));
    if (message == WM_INITDIALOG) {
      SHINITDLGINFO info{SHIDIM_FLAGS, dialog, SHIDIF_SIZEDLGFULLSCREEN};
      SHInitDialog(&info);
      SetWindowTextW(dialog, u"Quillmote Qt");
      HWND bar = AddMenuBar(dialog, instance_);
      ASSERT_NE(bar, nullptr);
      auto menu = reinterpret_cast<HMENU>(SendMessageW(bar, SHCMBM_GETSUBMENU, 0, 202));
      EnableMenuItem(menu, 209, MF_BYCOMMAND | MF_GRAYED);
      SendMessageW(GetDlgItem(dialog, 106), PBM_SETPOS, 30, 0);
      poster = std::thread([dialog] {
        for (int i = 0; i < 500; ++i) PostMessageW(dialog, WM_APP, i, 0);
        PostMessageW(dialog, WM_APP + 1, 0, 0);
      });
    }
    if (message == WM_APP) received.push_back(w);
    if (message != WM_APP + 1) return;
    // The checks, then the end of the dialog whatever they found.
    [&] {
      QWidget* screen = nullptr;
      for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->windowTitle() == QStringLiteral("Quillmote Qt")) screen = top;
      }
      ASSERT_NE(screen, nullptr);
      QAbstractButton* exit = ButtonLabelled(screen, QStringLiteral("Выход"));
      QAbstractButton* actions = ButtonLabelled(screen, QStringLiteral("Действия"));
      ASSERT_TRUE(exit && actions);
      const int zoom = ZoomOf(screen);
      EXPECT_EQ(screen->height(), 320 * zoom);
      // The window with its frame fits the screen (a phone's too), and every control the
      // window.
      const QSize room = screen->screen()->availableSize(), frame = screen->frameGeometry().size();
      EXPECT_TRUE(frame.width() <= room.width() && frame.height() <= room.height())
          << frame.width() << "x" << frame.height() << " on " << room.width() << "x" << room.height();
      for (QWidget* control : screen->findChildren<QWidget*>()) {
        EXPECT_TRUE(control->isWindow() ||
                    screen->rect().contains(QRect(control->mapTo(screen, QPoint()), control->size())))
            << control->metaObject()->className();
      }
      QProgressBar* progress = screen->findChild<QProgressBar*>();
      ASSERT_NE(progress, nullptr);
      EXPECT_EQ(progress->value(), 30);
      EXPECT_FALSE(progress->isVisible());
      for (QLabel* label : screen->findChildren<QLabel*>()) {
        if (label->text() == QStringLiteral("about")) {
          EXPECT_EQ(label->geometry(), QRect(6 * zoom, 7 * zoom, 84 * zoom, 44 * zoom));
        }
      }
      QMenu* menu = actions->findChild<QMenu*>();
      ASSERT_NE(menu, nullptr);
      QList<QAction*> items = menu->actions();
      ASSERT_EQ(items.size(), 4);
      EXPECT_TRUE(items[0]->isEnabled());
      EXPECT_TRUE(items[2]->isSeparator());
      EXPECT_FALSE(items[3]->isEnabled());
      // Its spacing and separators grow with the zoom, as its text does.
      QStyleOptionMenuItem separator;
      separator.initFrom(menu);
      separator.menuItemType = QStyleOptionMenuItem::Separator;
      EXPECT_GE(menu->actionGeometry(items[2]).height(),
                zoom * Unzoomed()
                           ->sizeFromContents(QStyle::CT_MenuItem, &separator, QSize(2, 2), menu)
                           .height());
      EXPECT_EQ(menu->style()->pixelMetric(QStyle::PM_MenuVMargin, nullptr, menu),
                zoom * Unzoomed()->pixelMetric(QStyle::PM_MenuVMargin, nullptr, menu));

      WaitFor([&] { return screen->isActiveWindow(); });
      EXPECT_FALSE(exit->hasFocus() || actions->hasFocus());  // no key presses a button yet
      QImage unmarked = exit->grab().toImage();
      Press(screen, Qt::Key_Tab);
      ASSERT_TRUE(exit->hasFocus());
      EXPECT_NE(exit->grab().toImage(), unmarked);
      Press(exit, Qt::Key_Return);
      WaitFor([&] { return commands.size() == 1; });
      Press(exit, Qt::Key_Space);
      WaitFor([&] { return commands.size() == 2; });
      Press(exit, Qt::Key_Tab);
      ASSERT_TRUE(actions->hasFocus());
      WhenOpen(QApplication::activePopupWidget, [](QWidget* popup) {
        Press(popup, Qt::Key_Down);
        Press(popup, Qt::Key_Return);
      });
      Press(actions, Qt::Key_Enter);
      WaitFor([&] { return commands.size() == 3; });

      // A second start brings a minimised screen back.
      screen->showMinimized();
      WaitFor([&] { return screen->isMinimized(); });
      SetForegroundWindow(dialog);
      WaitFor([&] { return !screen->isMinimized(); });
      EXPECT_FALSE(screen->isMinimized());
    }();
    EndDialog(dialog, 5);
  };
  EXPECT_EQ(DialogBoxParamW(instance_, 101, nullptr, TestProcedure, 0), 5);
  poster.join();
  ASSERT_EQ(received.size(), 500u);
  for (WPARAM i = 0; i < 500; ++i) ASSERT_EQ(received[i], i);
  EXPECT_EQ(commands, (std::vector<WPARAM>{201, 201, 203}));
}

// Boxes in Russian, with their icon, fit the screen: long texts fill its width, in lines
// that fit, a long path included. A box keeps dispatching posted messages.
TEST_F(WindowQtTest, RussianMessageBoxesFitTheScreenAndKeepDispatchingPostedMessages) {
  std::vector<std::string> order;
  g_handler = [&](HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) PostMessageW(dialog, WM_APP + 2, 0, 0);
    if (message == WM_APP + 3) order.push_back("posted");
    if (message != WM_APP + 2) return;
    PostMessageW(dialog, WM_APP + 3, 0, 0);
    const struct {
      std::u16string text;
      UINT type;
      QMessageBox::Icon icon;
      int answer;
    } boxes[] = {
        {u"Выйти из программы не дожидаясь окончания действия?", MB_YESNO | MB_ICONQUESTION,
         QMessageBox::Question, IDYES},
        {u"Готово", MB_OK | MB_ICONINFORMATION, QMessageBox::Information, IDOK},
        {u"Экспорт Контактов завершен, но не все поля вошли в файл: у одних записей даты вне "
         u"допустимого диапазона, у других слишком длинный текст.",
         MB_OK | MB_ICONINFORMATION, QMessageBox::Information, IDOK},
        {U16(sandbox().dir()) + u"/очень_длинное_имя_папки_без_пробелов_0123456789/и_ещё_одна"
                                u"/Contacts20261207.txt\nПапка не существует.",
         MB_OK | MB_ICONSTOP, QMessageBox::Critical, IDOK}};
    for (const auto& b : boxes) {
      WhenModalOpens([&](QWidget* box) {
        SCOPED_TRACE(QString::fromStdU16String(b.text).toStdString());
        ExpectDrawnForTheScreen(box);
        EXPECT_EQ(qobject_cast<QMessageBox*>(box)->icon(), b.icon);
        auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        ASSERT_NE(label, nullptr);
        EXPECT_TRUE(box->rect().contains(label->geometry()));
        QString shown;
        for (const QString& line : label->text().split(QLatin1Char('\n'))) {
          EXPECT_LE(label->fontMetrics().horizontalAdvance(line), label->contentsRect().width())
              << line.toStdString();
          shown += line;
        }
        QString given = QString::fromStdU16String(b.text);
        shown.remove(QLatin1Char(' '));
        EXPECT_EQ(shown, given.remove(QLatin1Char(' ')).remove(QLatin1Char('\n')));
        EXPECT_GE(box->width(), b.text.size() > 20 ? ScreenUnder(box)->width() * 4 / 5 : 0);
        EXPECT_EQ(ButtonLabelled(box, QStringLiteral("Нет")) != nullptr, b.answer == IDYES);
        ButtonLabelled(box, b.answer == IDYES ? QStringLiteral("Да") : QStringLiteral("OK"))->click();
      });
      EXPECT_EQ(MessageBoxW(dialog, b.text.c_str(), u"Quillmote", b.type), b.answer);
      if (b.answer == IDYES) order.push_back("yes");
    }
    EndDialog(dialog, 0);
  };
  DialogBoxParamW(instance_, 101, nullptr, TestProcedure, 0);
  EXPECT_EQ(order, (std::vector<std::string>{"posted", "yes"}));
}

// The filters and the proposed name, shown whole at the zoom; a name the request's flags
// refuse (a save into a folder that does not exist, a load of a file that does not exist)
// keeps the dialog open with a warning over it; a save over a file asks first.
TEST_F(WindowQtTest, FileDialogsOfferTheFiltersRefuseWhatTheirFlagsRefuseAndAskBeforeReplacing) {
  const std::string old = sandbox().path("old.txt");
  handheld::testing::WriteFileBytes(old, "x");
  const struct {
    bool save;
    std::string refused;
  } cases[] = {{true, sandbox().path("no/such/dir/x.txt")},
               {false, sandbox().path("missing.txt")},
               {false, sandbox().path("no/such/dir/old.txt")}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refused);
    char16_t path[1024] = u"Contacts20070315";
    QStringList filters;
    QString proposed, warning;
    bool openAfterWarning = false, asked = false;
    BOOL result = WithFileDialog(c.save, path, [&](QFileDialog* files, QLineEdit* name) {
      ExpectDrawnForTheScreen(files);
      filters = files->nameFilters();
      proposed = name->text();
      EXPECT_GT(name->width(), name->fontMetrics().horizontalAdvance(proposed) + 8);
      auto* type = files->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
      ASSERT_NE(type, nullptr);
      QStyleOptionComboBox option;
      option.initFrom(type);
      auto width = [&](QStyle* style, QStyle::SubControl part) {
        return style->subControlRect(QStyle::CC_ComboBox, &option, part, type).width();
      };
      EXPECT_GE(width(type->style(), QStyle::SC_ComboBoxEditField),
                type->fontMetrics().horizontalAdvance(type->currentText()));
      EXPECT_EQ(width(type->style(), QStyle::SC_ComboBoxArrow),
                ZoomOf(ScreenUnder(files)) * width(Unzoomed(), QStyle::SC_ComboBoxArrow));
      name->setText(QString::fromStdString(c.refused));  // typed
      WhenModalOpens([&](QWidget* box) {
        auto* message = qobject_cast<QMessageBox*>(box);
        warning = message ? message->text() : QString();
        ButtonLabelled(box, QStringLiteral("OK"))->click();
      });
      Press(name, Qt::Key_Return);
      openAfterWarning = files->isVisible();
      name->setText(QString::fromStdString(old));
      if (c.save) {
        WhenModalOpens([&](QWidget* question) {
          ExpectDrawnForTheScreen(question);
          asked = ButtonLabelled(question, QStringLiteral("Да")) != nullptr;
          if (asked) ButtonLabelled(question, QStringLiteral("Да"))->click();
        });
      }
      Press(name, Qt::Key_Return);
    });
    EXPECT_EQ(filters, (QStringList{QStringLiteral("Текстовые файлы (*.txt)"),
                                    QStringLiteral("Файлы CSV (*.csv)"),
                                    QStringLiteral("Все файлы (*.*)")}));
    EXPECT_EQ(proposed, QStringLiteral("Contacts20070315"));
    EXPECT_FALSE(warning.isEmpty());
    EXPECT_TRUE(openAfterWarning);
    EXPECT_EQ(asked, c.save);
    EXPECT_TRUE(result);
    EXPECT_EQ(std::u16string(path), U16(old));
  }
  // No history of the folders visited is kept.
  for (auto& entry : std::filesystem::recursive_directory_iterator(sandbox().dir())) {
    EXPECT_NE(entry.path().filename(), "QtProject.conf") << entry.path();
  }
}

// The number of items of `kind` that an outside program (bin/handheld) counts in the
// store; -1 when it fails.
int OutsideCount(const char* kind) {
  std::string command = handheld::testing::BinDir() + "/handheld count " + kind;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  int count = -1;
  if (std::fscanf(pipe, "%d", &count) != 1) count = -1;
  return pclose(pipe) == 0 ? count : -1;
}

// Closing any descriptor of a file drops every POSIX lock the process holds on it, the
// store's own included; an outside program that closes the store next then takes itself
// for the last user and removes the write-ahead log under the open connection.
TEST_F(WindowQtTest, AFileDialogOnTheStoresFolderLeavesTheStoreFilesUnopened) {
  handheld::store::testing::Session session;
  ASSERT_EQ(session.logon(), S_OK);
  handheld::store::testing::SaveContact(session, u"Before");
  const std::string wal = sandbox().storePath() + "-wal";
  ASSERT_TRUE(std::filesystem::exists(wal));
  ASSERT_EQ(OutsideCount("contacts"), 1);

  const QString folder = QString::fromStdString(sandbox().dir());
  const std::u16string initial = U16(sandbox().dir());
  int listed = 0;
  int typed = 0;
  char16_t path[1024] = u"";
  auto listAll = [&](OPENFILENAMEW& request) {
    request.lpstrInitialDir = initial.c_str();
    request.nFilterIndex = 3;  // all files
  };
  BOOL chosen = WithFileDialog(
      false, path,
      [&](QFileDialog* files, QLineEdit*) {
        auto* model = files->findChild<QFileSystemModel*>();
        ASSERT_NE(model, nullptr);
        // Until the folder is listed with everything a view shows of each file, and a
        // while after, for the work the dialog does off the GUI thread.
        QModelIndex root = model->index(folder);
        WaitFor([&] { return model->rowCount(root) >= 3; });
        listed = model->rowCount(root);
        for (int row = 0; row < listed; ++row) {
          for (int column = 0; column < model->columnCount(root); ++column) {
            QModelIndex index = model->index(row, column, root);
            model->data(index, Qt::DecorationRole);
            if (column == 2 && !model->data(index).toString().isEmpty()) ++typed;
          }
        }
        QElapsedTimer waited;
        waited.start();
        WaitFor([&] { return waited.elapsed() >= 500; });
        files->reject();
      },
      listAll);
  EXPECT_FALSE(chosen);
  EXPECT_GE(listed, 3);  // the store, its log and its shared memory
  EXPECT_EQ(typed, listed);

  // An outside program closes the store: the log stays, and what this process writes
  // after it is seen outside.
  EXPECT_EQ(OutsideCount("contacts"), 1);
  EXPECT_TRUE(std::filesystem::exists(wal));
  handheld::store::testing::SaveContact(session, u"After");
  EXPECT_EQ(OutsideCount("contacts"), 2);
}

}  // namespace
