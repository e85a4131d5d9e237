// The Qt backend: the dialog is drawn as the handheld's screen, 240 x 320 device pixels
// in portrait at a whole-number zoom: a title bar, the 240 x 268 client area with the
// controls, and the menu bar with its two buttons along the bottom. Message boxes and
// file dialogs are Qt's own, in Russian. Messages posted from other threads reach the
// dialog through queued calls on the GUI thread, so they are also dispatched while a
// message box or a file dialog is open, as on the handheld.
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>

#include "handheld/window/window_internal.h"

namespace handheld::window {
namespace {

int g_zoom = 1;

QString Q(const std::u16string& text) {
  QString result = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
  result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return result;
}

std::u16string U(const QString& text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                        static_cast<size_t>(text.size()));
}

QRect Scaled(const RECT& rect) {
  return QRect(rect.left * g_zoom, rect.top * g_zoom, (rect.right - rect.left) * g_zoom,
               (rect.bottom - rect.top) * g_zoom);
}

QFont ToQFont(const Font& font) {
  QFont result = font.face == u"System" || font.face.empty()
                     ? QFontDatabase::systemFont(QFontDatabase::GeneralFont)
                     : QFont(Q(font.face));
  int pixels = font.height == 0 ? 11 : std::abs(static_cast<int>(font.height));
  result.setPixelSize(pixels * g_zoom);
  if (font.weight >= 700) result.setBold(true);
  result.setItalic(font.italic);
  return result;
}

bool EnsureApplication() {
  if (QCoreApplication::instance()) return true;
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
      !std::getenv("QT_QPA_PLATFORM")) {
    std::fprintf(stderr,
                 "quillmote: there is no display to show the window on (DISPLAY is not "
                 "set); quillmote-batch runs the same commands without one.\n");
    return false;
  }
  static int argc = 1;
  static char name[] = "quillmote";
  static char* argv[] = {name, nullptr};
  auto* application = new QApplication(argc, argv);  // lives as long as the process
  auto* translator = new QTranslator(application);
  if (translator->load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(translator);
  }
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect room = screen->availableGeometry();
    g_zoom = std::max(
        1, std::min(room.height() * 9 / 10 / kScreenHeight, room.width() * 9 / 10 / kScreenWidth));
  }
  return true;
}

// The handheld's screen with the dialog on it.
class ScreenView final : public QWidget {
 public:
  explicit ScreenView(Dialog* dialog) : dialog_(dialog) {
    setFixedSize(kScreenWidth * g_zoom, kScreenHeight * g_zoom);
    setAttribute(Qt::WA_DeleteOnClose, false);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Qt::white);
    setPalette(colours);
    setAutoFillBackground(true);

    title = new QLabel(this);
    title->setGeometry(0, 0, kScreenWidth * g_zoom, kTitleBarHeight * g_zoom);
    title->setStyleSheet(
        QStringLiteral("background:#1f4e9c; color:white; padding-left:%1px;").arg(4 * g_zoom));
    QFont titleFont = title->font();
    titleFont.setPixelSize(13 * g_zoom);
    titleFont.setBold(true);
    title->setFont(titleFont);

    client = new QWidget(this);
    client->setGeometry(0, kTitleBarHeight * g_zoom, kScreenWidth * g_zoom,
                        (kScreenHeight - kTitleBarHeight - kMenuBarHeight) * g_zoom);

    bar = new QWidget(this);
    bar->setGeometry(0, (kScreenHeight - kMenuBarHeight) * g_zoom, kScreenWidth * g_zoom,
                     kMenuBarHeight * g_zoom);
    bar->setStyleSheet(QStringLiteral("background:#2d5cab;"));
  }

  QLabel* title = nullptr;
  QWidget* client = nullptr;
  QWidget* bar = nullptr;
  QEventLoop* loop = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override {
    // The window's close box is the dialog's cancel command.
    event->ignore();
    PostMessageW(dialog_->hwnd, WM_COMMAND, IDCANCEL, 0);
  }

  void changeEvent(QEvent* event) override {
    if (event->type() == QEvent::ActivationChange) {
      PostMessageW(dialog_->hwnd, WM_ACTIVATE, isActiveWindow() ? 1 : 0, 0);
    }
    QWidget::changeEvent(event);
  }

 private:
  Dialog* dialog_;
};

ScreenView* ViewOf(Dialog& dialog) {
  return static_cast<ScreenView*>(dialog.view);
}

void ApplyFont(Window& window) {
  if (auto* widget = static_cast<QWidget*>(window.view))
    widget->setFont(ToQFont(EffectiveFont(window)));
}

QIcon IconOf(HINSTANCE instance) {
  const ResourceModule* module = FindModule(instance);
  if (!module || module->iconCount == 0) return QIcon();
  const IconTemplate& icon = module->icons[0];
  QImage image(icon.width, icon.height, QImage::Format_RGB32);
  for (int y = 0; y < icon.height; ++y) {
    for (int x = 0; x < icon.width; ++x) {
      bool dark = icon.rows[y][x] == '#';
      image.setPixel(x, y, dark ? qRgb(0x1f, 0x4e, 0x9c) : qRgb(0xff, 0xff, 0xff));
    }
  }
  return QIcon(QPixmap::fromImage(image.scaled(icon.width * 2, icon.height * 2)));
}

// Shows a drop-down upward from its button and sends the chosen command.
void PopUp(Dialog* dialog, QToolButton* button, QMenu* menu) {
  QPoint corner = button->mapToGlobal(QPoint(0, 0));
  QSize size = menu->sizeHint();
  // Upward, its right edge on the button's, as the handheld's soft-key menus open.
  QAction* chosen =
      menu->exec(QPoint(corner.x() + button->width() - size.width(), corner.y() - size.height()));
  if (chosen && !dialog->destroyed) {
    SendMessageW(dialog->hwnd, WM_COMMAND, static_cast<WPARAM>(chosen->data().toUInt()), 0);
  }
}

void BuildMenu(QMenu* target, Menu& menu) {
  for (MenuItem& item : menu.items) {
    if ((item.flags & MF_SEPARATOR) != 0) {
      target->addSeparator();
    } else if (item.popup) {
      BuildMenu(target->addMenu(Q(item.text)), *item.popup);
    } else {
      QAction* action = target->addAction(Q(item.text));
      action->setData(static_cast<unsigned>(item.command));
      action->setEnabled((item.flags & MF_GRAYED) == 0);
      item.view = action;
    }
  }
}

class QtBackend final : public Backend {
 public:
  void DialogCreated(Dialog& dialog) override {
    auto* view = new ScreenView(&dialog);
    dialog.view = view;
    view->title->setText(Q(dialog.text));
    view->setWindowTitle(Q(dialog.text));
    view->setWindowIcon(IconOf(dialog.instance));
    for (auto& control : dialog.controls) {
      QWidget* widget;
      if (control->kind == Kind::kProgress) {
        auto* progress = new QProgressBar(view->client);
        progress->setRange(0, 100);
        progress->setTextVisible(false);
        widget = progress;
      } else {
        auto* label = new QLabel(Q(control->text), view->client);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        if ((control->style & WS_BORDER) != 0) label->setFrameStyle(QFrame::Box | QFrame::Plain);
        widget = label;
      }
      widget->setGeometry(Scaled(control->rect));
      widget->setVisible(control->visible);
      control->view = widget;
      ApplyFont(*control);
    }
  }

  void Changed(Window& window, Change what) override {
    if (window.kind == Kind::kMenuBar) {
      if (what == Change::kShow && !window.visible) DropMenuBar(static_cast<MenuBar&>(window));
      return;
    }
    auto* widget = static_cast<QWidget*>(window.view);
    if (!widget) return;
    if (window.kind == Kind::kDialog) {
      auto* view = static_cast<ScreenView*>(widget);
      if (what == Change::kText) {
        view->title->setText(Q(window.text));
        view->setWindowTitle(Q(window.text));
      }
      return;  // the client area always fills the screen between the bars
    }
    switch (what) {
      case Change::kText:
        if (auto* label = qobject_cast<QLabel*>(widget)) label->setText(Q(window.text));
        break;
      case Change::kShow:
        widget->setVisible(window.visible);
        break;
      case Change::kMove:
        widget->setGeometry(Scaled(window.rect));
        break;
      case Change::kRepaint:
        widget->repaint();
        break;
      case Change::kFont:
        ApplyFont(window);
        break;
      case Change::kProgress:
        if (auto* bar = qobject_cast<QProgressBar*>(widget)) bar->setValue(window.position);
        break;
      case Change::kEnable:
        widget->setEnabled(window.enabled);
        break;
    }
  }

  void MenuBarCreated(MenuBar& bar) override {
    ScreenView* view = ViewOf(*bar.dialog);
    if (!view) return;
    auto* holder = new QWidget(view->bar);
    holder->setGeometry(0, 0, view->bar->width(), view->bar->height());
    bar.view = holder;
    int count = static_cast<int>(bar.buttons.size());
    int width = count > 0 ? view->bar->width() / count : 0;
    Dialog* dialog = bar.dialog;
    for (int i = 0; i < count; ++i) {
      MenuBarButton& button = bar.buttons[i];
      auto* widget = new QToolButton(holder);
      widget->setText(Q(button.label));
      widget->setGeometry(i * width, 0, width, view->bar->height());
      widget->setAutoRaise(true);
      widget->setStyleSheet(
          QStringLiteral("QToolButton{color:white; background:transparent; border:none;}"
                         "QToolButton:disabled{color:#9fb3d6;}"
                         "QToolButton:pressed{background:#1f4e9c;}"));
      QFont font = widget->font();
      font.setPixelSize(12 * g_zoom);
      font.setBold(true);
      widget->setFont(font);
      widget->setEnabled(button.enabled);
      WORD command = button.command;
      if (button.dropDown && button.menu) {
        auto* menu = new QMenu(widget);
        QFont menuFont = menu->font();
        menuFont.setPixelSize(11 * g_zoom);
        menu->setFont(menuFont);
        BuildMenu(menu, *button.menu);
        QObject::connect(widget, &QToolButton::clicked, widget,
                         [dialog, widget, menu] { PopUp(dialog, widget, menu); });
      } else {
        QObject::connect(widget, &QToolButton::clicked, widget, [dialog, command] {
          if (!dialog->destroyed) SendMessageW(dialog->hwnd, WM_COMMAND, command, 0);
        });
      }
      button.view = widget;
    }
    holder->show();
  }

  void ButtonChanged(MenuBar&, MenuBarButton& button) override {
    if (auto* widget = static_cast<QToolButton*>(button.view)) widget->setEnabled(button.enabled);
  }

  void MenuItemChanged(MenuItem& item) override {
    if (auto* action = static_cast<QAction*>(item.view)) {
      action->setEnabled((item.flags & MF_GRAYED) == 0);
    }
  }

  void ShellEvent(Dialog*, bool, WPARAM) override {}

  void Woken(Dialog& dialog) override {
    auto* view = static_cast<QObject*>(dialog.view);
    if (!view) return;
    Dialog* target = &dialog;
    // One queued call per posted message keeps their order; a call whose message was
    // already taken finds nothing.
    QMetaObject::invokeMethod(
        view,
        [target] {
          MSG message;
          if (!target->destroyed && TakePosted(*target, &message)) {
            DispatchPosted(*target, message);
          }
        },
        Qt::QueuedConnection);
  }

  void Raise(Dialog& dialog) override {
    auto* view = static_cast<QWidget*>(dialog.view);
    if (!view) return;
    QMetaObject::invokeMethod(
        view,
        [view] {
          view->show();
          view->raise();
          view->activateWindow();
          // Then the windows it owns: message boxes and file dialogs.
          for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top != view && top->isVisible() && top->isWindow() &&
                (top->parentWidget() == view || top->isModal())) {
              top->raise();
              top->activateWindow();
            }
          }
        },
        Qt::QueuedConnection);
  }

  void EndRequested(Dialog& dialog) override {
    if (ScreenView* view = ViewOf(dialog); view && view->loop) view->loop->exit(0);
  }

  void DialogDestroyed(Dialog& dialog) override {
    ScreenView* view = ViewOf(dialog);
    if (!view) return;
    if (dialog.menuBar) DropMenuBar(*dialog.menuBar);
    for (auto& control : dialog.controls) control->view = nullptr;
    dialog.view = nullptr;
    view->hide();
    delete view;
  }

 private:
  static void ForgetItems(Menu& menu) {
    for (MenuItem& item : menu.items) {
      item.view = nullptr;
      if (item.popup) ForgetItems(*item.popup);
    }
  }

  static void DropMenuBar(MenuBar& bar) {
    if (bar.menu) ForgetItems(*bar.menu);
    for (MenuBarButton& button : bar.buttons) button.view = nullptr;
    if (auto* holder = static_cast<QWidget*>(bar.view)) holder->deleteLater();
    bar.view = nullptr;
  }
};

QWidget* ParentFor(HWND owner) {
  Dialog* dialog = owner ? FindDialog(owner) : LastDialog();
  return dialog && !dialog->destroyed ? static_cast<QWidget*>(dialog->view) : nullptr;
}

BOOL FileDialog(OPENFILENAMEW* request, bool save) {
  if (!request || !request->lpstrFile || request->nMaxFile == 0) return FALSE;
  if (!EnsureApplication()) return FALSE;
  QString title = request->lpstrTitle ? Q(request->lpstrTitle) : QString();
  QFileDialog dialog(ParentFor(request->hwndOwner), title);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);  // asked below, in Russian
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(!save && (request->Flags & OFN_FILEMUSTEXIST) != 0 ? QFileDialog::ExistingFile
                                                                        : QFileDialog::AnyFile);
  QStringList filters;
  for (auto& [name, pattern] : FilterPairs(request->lpstrFilter)) {
    QString patterns = Q(pattern);
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    filters << Q(name) + QStringLiteral(" (") + patterns + QStringLiteral(")");
  }
  if (!filters.isEmpty()) {
    dialog.setNameFilters(filters);
    int index = static_cast<int>(request->nFilterIndex);
    if (index >= 1 && index <= filters.size()) dialog.selectNameFilter(filters[index - 1]);
  }
  if (request->lpstrInitialDir) dialog.setDirectory(Q(request->lpstrInitialDir));
  std::u16string proposed(
      request->lpstrFile,
      std::find(request->lpstrFile, request->lpstrFile + request->nMaxFile, u'\0'));
  if (!proposed.empty()) dialog.selectFile(Q(proposed));
  dialog.setWindowModality(Qt::ApplicationModal);

  QString chosen;
  for (;;) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return FALSE;
    chosen = dialog.selectedFiles().first();
    if (!save || (request->Flags & OFN_OVERWRITEPROMPT) == 0 || !QFileInfo::exists(chosen)) break;
    QMessageBox question(QMessageBox::Question, title,
                         QStringLiteral("Файл «%1» уже существует.\nЗаменить его?")
                             .arg(QFileInfo(chosen).fileName()),
                         QMessageBox::NoButton, &dialog);
    QPushButton* yes = question.addButton(QStringLiteral("Да"), QMessageBox::YesRole);
    QPushButton* no = question.addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
    question.setDefaultButton(no);
    question.setEscapeButton(no);
    question.exec();
    if (question.clickedButton() == yes) break;
    dialog.selectFile(chosen);  // back to the dialog, as on the handheld
  }
  int filter = static_cast<int>(filters.indexOf(dialog.selectedNameFilter()));
  if (filter >= 0) request->nFilterIndex = static_cast<DWORD>(filter + 1);
  return StoreChosenPath(request, U(chosen));
}

}  // namespace

Backend& ActiveBackend() {
  static QtBackend* backend = new QtBackend;
  return *backend;
}

}  // namespace handheld::window

using namespace handheld::window;

INT_PTR DialogBoxParamW(HINSTANCE instance, WORD templateId, HWND owner, DLGPROC procedure,
                        LPARAM initParam) {
  if (!EnsureApplication()) return -1;
  Dialog* dialog = CreateDialogFromTemplate(instance, templateId, owner, procedure);
  if (!dialog) return -1;
  StartDialog(*dialog, initParam);
  if (!dialog->ended) {
    ScreenView* view = ViewOf(*dialog);
    view->show();
    view->raise();
    view->activateWindow();
    QEventLoop loop;
    view->loop = &loop;
    if (!dialog->ended) loop.exec();
    view->loop = nullptr;
  }
  DestroyDialog(*dialog);
  return dialog->result;
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  bool yesNo = (type & 0xF) == MB_YESNO;
  std::u16string body = text ? text : u"";
  std::u16string title = caption ? caption : u"";
  if (!EnsureApplication()) {
    std::fprintf(stderr, "%s: %s\n", handheld::Utf8FromUtf16(title).c_str(),
                 handheld::Utf8FromUtf16(body).c_str());
    return yesNo ? IDNO : IDOK;
  }
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (type & 0xF0) {
    case MB_ICONSTOP:
      icon = QMessageBox::Critical;
      break;
    case MB_ICONQUESTION:
      icon = QMessageBox::Question;
      break;
    case MB_ICONWARNING:
      icon = QMessageBox::Warning;
      break;
    case MB_ICONINFORMATION:
      icon = QMessageBox::Information;
      break;
  }
  QMessageBox box(icon, Q(title), Q(body), QMessageBox::NoButton, ParentFor(owner));
  QPushButton* yes = nullptr;
  if (yesNo) {
    yes = box.addButton(QStringLiteral("Да"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
  } else {
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
  }
  box.setWindowModality(Qt::ApplicationModal);
  QFont font = box.font();  // the screen's text size, at the screen's zoom
  font.setPixelSize(11 * g_zoom);
  box.setFont(font);
  Dialog* dialog = owner ? FindDialog(owner) : LastDialog();
  if (dialog && !dialog->destroyed) {
    std::lock_guard<std::mutex> lock(dialog->mutex);
    dialog->openBoxes.emplace_back(body, title);
  }
  box.exec();
  if (dialog) {
    std::lock_guard<std::mutex> lock(dialog->mutex);
    if (!dialog->openBoxes.empty()) dialog->openBoxes.pop_back();
  }
  if (!yesNo) return IDOK;
  return box.clickedButton() == yes ? IDYES : IDNO;
}

BOOL GetSaveFileNameW(OPENFILENAMEW* request) {
  return FileDialog(request, true);
}
BOOL GetOpenFileNameW(OPENFILENAMEW* request) {
  return FileDialog(request, false);
}
