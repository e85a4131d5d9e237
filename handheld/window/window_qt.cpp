// The Qt backend: the dialog is drawn as the handheld's screen, 240 x 320 device pixels
// in portrait at a whole-number zoom: a title bar, the 240 x 268 client area with the
// controls, and the menu bar with its two buttons along the bottom, which Tab reaches.
// Message boxes, file dialogs and menus are Qt's own, in Russian, drawn at the screen's
// zoom (their spacing, separators and arrows included) and no wider than the screen, with
// every text whole (wrapped, or elided in the middle where the folder box shows a path);
// the file dialogs never open the files they list, and nothing is kept in Qt's settings. Messages
// posted from other threads reach the dialog through queued calls on the GUI thread, so
// they are also dispatched while a message box or a file dialog is open, as on the
// handheld.
#include <QAbstractFileIconProvider>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QStyleOption>
#include <QToolButton>
#include <QTranslator>
#include <algorithm>
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

// Qt's own style with the sizes that its dialogs take from it (icons, scroll bars, check
// marks, the margins and spacing of layouts) at the screen's zoom, so that message boxes
// and file dialogs are drawn at the zoom of the screen they belong to.
class ZoomedStyle final : public QProxyStyle {
 public:
  // An icon that comes in fixed sizes also gets its largest one zoomed: icons are never
  // drawn bigger than their biggest picture.
  QIcon standardIcon(StandardPixmap which, const QStyleOption* option,
                     const QWidget* widget) const override {
    QIcon icon = QProxyStyle::standardIcon(which, option, widget);
    QList<QSize> sizes = icon.availableSizes();
    if (g_zoom == 1 || sizes.isEmpty()) return icon;
    QSize largest = *std::max_element(sizes.begin(), sizes.end(),
                                      [](QSize a, QSize b) { return a.width() < b.width(); });
    icon.addPixmap(icon.pixmap(largest).scaled(largest * g_zoom, Qt::KeepAspectRatio,
                                               Qt::SmoothTransformation));
    return icon;
  }

  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    int value = QProxyStyle::pixelMetric(metric, option, widget);
    switch (metric) {
      case PM_SmallIconSize:
      case PM_LargeIconSize:
      case PM_ListViewIconSize:
      case PM_IconViewIconSize:
      case PM_ButtonIconSize:
      case PM_ToolBarIconSize:
      case PM_MessageBoxIconSize:
      case PM_ScrollBarExtent:
      case PM_ScrollBarSliderMin:
      case PM_IndicatorWidth:
      case PM_IndicatorHeight:
      case PM_ExclusiveIndicatorWidth:
      case PM_ExclusiveIndicatorHeight:
      case PM_LayoutLeftMargin:
      case PM_LayoutTopMargin:
      case PM_LayoutRightMargin:
      case PM_LayoutBottomMargin:
      case PM_LayoutHorizontalSpacing:
      case PM_LayoutVerticalSpacing:
      case PM_MenuHMargin:
      case PM_MenuVMargin:
      case PM_MenuPanelWidth:
        return value > 0 ? value * g_zoom : value;  // negative: the style decides elsewhere
      default:
        return value;
    }
  }

  // A menu item's and a combo box's padding around their text (the separators' height
  // included) grows with the zoom as their text does.
  QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contents,
                         const QWidget* widget) const override {
    QSize size = QProxyStyle::sizeFromContents(type, option, contents, widget);
    if (type != CT_MenuItem && type != CT_ComboBox) return size;
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (item && item->menuItemType == QStyleOptionMenuItem::Separator) {
      return QSize(size.width(), size.height() * g_zoom);
    }
    return contents + (size - contents) * g_zoom;
  }

  // The combo box's arrow button, and the room for its text beside it.
  QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                       SubControl part, const QWidget* widget) const override {
    QRect rect = QProxyStyle::subControlRect(control, option, part, widget);
    if (control != CC_ComboBox || (part != SC_ComboBoxArrow && part != SC_ComboBoxEditField)) {
      return rect;
    }
    const int extra =
        QProxyStyle::subControlRect(control, option, SC_ComboBoxArrow, widget).width() *
        (g_zoom - 1);
    if (option->direction == Qt::RightToLeft) {
      return part == SC_ComboBoxArrow ? rect.adjusted(0, 0, extra, 0) : rect.adjusted(extra, 0, 0, 0);
    }
    return part == SC_ComboBoxArrow ? rect.adjusted(-extra, 0, 0, 0) : rect.adjusted(0, 0, -extra, 0);
  }

  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                          QPainter* painter, const QWidget* widget) const override {
    const auto* combo = qstyleoption_cast<const QStyleOptionComboBox*>(option);
    if (control != CC_ComboBox || !combo || g_zoom == 1 ||
        (combo->subControls & SC_ComboBoxArrow) == 0) {
      return QProxyStyle::drawComplexControl(control, option, painter, widget);
    }
    // The style draws its arrow at one size whatever the zoom: the box without it, then the
    // arrow at the zoom.
    QStyleOptionComboBox plain = *combo;
    plain.subControls &= ~SC_ComboBoxArrow;
    QProxyStyle::drawComplexControl(control, &plain, painter, widget);
    const QRect button = subControlRect(control, option, SC_ComboBoxArrow, widget);
    const int width = std::min(button.width() / 2, 7 * g_zoom);
    const QPointF centre = QRectF(button).center();
    const QPointF corners[3] = {centre + QPointF(-width / 2.0, -width / 4.0),
                                centre + QPointF(width / 2.0, -width / 4.0),
                                centre + QPointF(0, width / 4.0)};
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(option->palette.color(QPalette::ButtonText));
    painter->drawPolygon(corners, 3);
    painter->restore();
  }

  // A separator's line as thick as the zoom.
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (element != CE_MenuItem || !item || g_zoom == 1 ||
        item->menuItemType != QStyleOptionMenuItem::Separator || !item->text.isEmpty()) {
      return QProxyStyle::drawControl(element, option, painter, widget);
    }
    const QRect& r = item->rect;
    painter->fillRect(QRect(r.left() + 5 * g_zoom, r.center().y() - g_zoom / 2,
                            r.width() - 10 * g_zoom, g_zoom),
                      option->palette.color(QPalette::Window).darker(130));
  }
};

bool EnsureApplication() {
  if (QCoreApplication::instance()) return true;
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
      !std::getenv("QT_QPA_PLATFORM")) {
    std::fprintf(stderr,
                 "%s: there is no display to show the window on (neither DISPLAY nor "
                 "WAYLAND_DISPLAY is set)\n",
                 program_invocation_short_name);
    return false;
  }
  static int argc = 1;
  static char* argv[] = {program_invocation_short_name, nullptr};
  auto* application = new QApplication(argc, argv);  // lives as long as the process
  // Nothing is remembered from one run to the next: Qt's dialogs keep their history (the
  // folders visited, the store's among them) in the user's QtProject.conf, readable by
  // all; settings have nowhere to go here, so none are read or written.
  for (auto format : {QSettings::NativeFormat, QSettings::IniFormat}) {
    QSettings::setPath(format, QSettings::UserScope, QStringLiteral("/dev/null"));
    QSettings::setPath(format, QSettings::SystemScope, QStringLiteral("/dev/null"));
  }
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
  // Every window that is not the screen itself (menus, message boxes, file dialogs) in
  // the screen's text size and at its zoom.
  QApplication::setStyle(new ZoomedStyle);
  QApplication::setFont(ToQFont(Font{}));
  return true;
}

// The handheld's screen with the dialog on it.
class ScreenView final : public QWidget {
 public:
  explicit ScreenView(Dialog* dialog) : dialog_(dialog) {
    setFixedSize(kScreenWidth * g_zoom, kScreenHeight * g_zoom);
    setAttribute(Qt::WA_DeleteOnClose, false);
    // The screen holds the focus until Tab moves it to a menu-bar button, so that no
    // button is pressed by a key before the user has gone to it.
    setFocusPolicy(Qt::ClickFocus);
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
    // A palette, not a style sheet: that would also colour the drop-down menus it holds.
    QPalette barColours = bar->palette();
    barColours.setColor(QPalette::Window, QColor(0x2d, 0x5c, 0xab));
    bar->setPalette(barColours);
    bar->setAutoFillBackground(true);
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

// A button of the menu bar. The keyboard reaches it with Tab; a dotted frame shows where
// the focus is, and Return or Enter presses it as Space does.
class BarButton final : public QToolButton {
 public:
  explicit BarButton(QWidget* parent) : QToolButton(parent) {
    setFocusPolicy(Qt::TabFocus);
    setStyleSheet(QStringLiteral("QToolButton{color:white; background:transparent; border:none;}"
                                 "QToolButton:focus{border:%1px dotted white;}"
                                 "QToolButton:disabled{color:#9fb3d6;}"
                                 "QToolButton:pressed{background:#1f4e9c;}")
                      .arg(g_zoom));
    QFont bold = font();
    bold.setPixelSize(12 * g_zoom);
    bold.setBold(true);
    setFont(bold);
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
      animateClick();
    } else {
      QToolButton::keyPressEvent(event);
    }
  }
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
      auto* widget = new BarButton(holder);
      widget->setText(Q(button.label));
      widget->setGeometry(i * width, 0, width, view->bar->height());
      widget->setEnabled(button.enabled);
      WORD command = button.command;
      if (button.dropDown && button.menu) {
        auto* menu = new QMenu(widget);
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
          // A minimised screen comes back first.
          view->setWindowState(view->windowState() & ~Qt::WindowMinimized);
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

// Icons and type names by the kind of entry and its name alone. Qt's own provider reads
// the beginning of every file the dialog lists to guess its type; opening and closing the
// store file that way would drop the store connection's locks on it (POSIX record locks
// belong to the process, and any close releases them), and the next program to close the
// store would then take itself for the last user and remove its write-ahead log.
class FileKindIcons final : public QAbstractFileIconProvider {
 public:
  // On the GUI thread: the dialog may ask from its own threads.
  FileKindIcons()
      : folder_(QApplication::style()->standardIcon(QStyle::SP_DirIcon)),
        folderLink_(QApplication::style()->standardIcon(QStyle::SP_DirLinkIcon)),
        file_(QApplication::style()->standardIcon(QStyle::SP_FileIcon)),
        fileLink_(QApplication::style()->standardIcon(QStyle::SP_FileLinkIcon)) {}

  QIcon icon(IconType type) const override {
    return type == File ? file_ : QAbstractFileIconProvider::icon(type);
  }

  QIcon icon(const QFileInfo& info) const override {
    if (info.isDir()) return info.isSymLink() ? folderLink_ : folder_;
    return info.isSymLink() ? fileLink_ : file_;
  }

  QString type(const QFileInfo& info) const override {
    if (info.isDir()) return QStringLiteral("Папка");
    QString suffix = info.suffix();
    return suffix.isEmpty() ? QStringLiteral("Файл") : QStringLiteral("Файл ") + suffix.toUpper();
  }

 private:
  QIcon folder_, folderLink_, file_, fileLink_;
};

QWidget* ParentFor(HWND owner) {
  Dialog* dialog = owner ? FindDialog(owner) : LastDialog();
  return dialog && !dialog->destroyed ? static_cast<QWidget*>(dialog->view) : nullptr;
}

// Makes the window under a closed modal one active again. A window manager does it by
// itself; without one the keyboard would be left with no window.
void GiveBackKeyboard(QWidget* window) {
  if (window && window->isVisible()) window->activateWindow();
}

// `text` with line breaks where a line would be wider than `width` pixels: at a space
// (which goes), after a slash, or inside a word too long for a line of its own, so that
// a long path stays readable to its end.
QString Wrapped(const QString& text, const QFontMetrics& metrics, int width) {
  QStringList lines;
  for (QString rest : text.split(QLatin1Char('\n'))) {
    while (rest.size() > 1 && metrics.horizontalAdvance(rest) > width) {
      int fit = 1;
      while (fit < rest.size() && metrics.horizontalAdvance(rest.left(fit + 1)) <= width) ++fit;
      int cut = fit;
      for (int at = fit; at > 0; --at) {
        if (rest[at] == QLatin1Char(' ') || rest[at - 1] == QLatin1Char('/')) {
          cut = at;
          break;
        }
      }
      if (cut < rest.size() && rest[cut].isLowSurrogate()) --cut;
      lines << rest.left(cut);
      rest = rest.mid(cut);
      while (rest.startsWith(QLatin1Char(' '))) rest.remove(0, 1);
    }
    lines << rest;
  }
  return lines.join(QLatin1Char('\n'));
}

// A message box with Russian buttons ("Да" and "Нет", or "OK"), laid out for the screen:
// as wide as its text asks and no wider than the screen, its text broken into lines that
// fit. (Qt sizes a box by the desktop: up to half of it, at most 500 pixels, whatever the
// zoom, and it cannot break a long path.)
class ScreenBox final : public QMessageBox {
 public:
  ScreenBox(QWidget* parent, Icon icon, const QString& title, const QString& text, bool yesNo,
            bool yesByDefault)
      : QMessageBox(icon, title, text, NoButton, parent), text_(text) {
    setWindowModality(Qt::ApplicationModal);
    if (yesNo) {
      yes_ = addButton(QStringLiteral("Да"), YesRole);
      QPushButton* no = addButton(QStringLiteral("Нет"), NoRole);
      setDefaultButton(yesByDefault ? yes_ : no);
      setEscapeButton(no);
    } else {
      QPushButton* ok = addButton(QStringLiteral("OK"), AcceptRole);
      setDefaultButton(ok);
      setEscapeButton(ok);
    }
  }

  // Shows the box until it is answered; true for "Да".
  bool Run() {
    exec();
    GiveBackKeyboard(parentWidget());
    return yes_ && clickedButton() == yes_;
  }

 protected:
  // Qt sizes the box again on showing, on layout requests and on font or style changes;
  // the screen's layout is applied after it each time.
  bool event(QEvent* event) override {
    bool handled = QMessageBox::event(event);
    switch (event->type()) {
      case QEvent::Show:
      case QEvent::LayoutRequest:
      case QEvent::FontChange:
      case QEvent::StyleChange:
        if (isVisible() && !fitting_) Fit();
        break;
      default:
        break;
    }
    return handled;
  }

 private:
  void Fit() {
    auto* label = findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (!label || !layout()) return;
    fitting_ = true;
    const int limit = kScreenWidth * g_zoom;
    label->setWordWrap(false);
    label->setText(text_);
    layout()->activate();
    const int natural = layout()->totalMinimumSize().width();
    if (natural > limit) {
      // The text is the widest part: what is beside it stays, the text gets the rest.
      const int beside = natural - label->minimumSizeHint().width();
      label->setText(Wrapped(text_, label->fontMetrics(), limit - beside));
      layout()->activate();
    }
    const QSize size = layout()->totalMinimumSize();
    setFixedSize(std::min(size.width(), limit), size.height());
    // What the layout asked for is done; Qt's sizing must not undo it.
    QCoreApplication::removePostedEvents(this, QEvent::LayoutRequest);
    fitting_ = false;
  }

  QString text_;
  QPushButton* yes_ = nullptr;
  bool fitting_ = false;
};

// The file dialog of a request: it checks the chosen name as the request's flags ask and
// stays open, saying why, until the name passes or the user cancels.
class FileChooser final : public QFileDialog {
 public:
  FileChooser(QWidget* parent, const QString& title, DWORD flags, bool save)
      : QFileDialog(parent, title), flags_(flags), save_(save) {}

  void accept() override {
    QStringList files = selectedFiles();
    QFileInfo chosen(files.value(0));
    // A folder name opens that folder.
    if (files.isEmpty() || chosen.isDir()) return QFileDialog::accept();
    QString folder = chosen.absolutePath();
    if ((flags_ & (OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST)) != 0 && !QFileInfo(folder).isDir()) {
      Warn(QStringLiteral("%1\nПапка не существует.\nПроверьте путь.").arg(folder));
      return;
    }
    if ((flags_ & OFN_FILEMUSTEXIST) != 0 && !chosen.exists()) {
      Warn(QStringLiteral("%1\nФайл не найден.\nПроверьте имя файла.").arg(chosen.fileName()));
      return;
    }
    if (save_ && (flags_ & OFN_OVERWRITEPROMPT) != 0 && chosen.exists() &&
        !Ask(QStringLiteral("Файл «%1» уже существует.\nЗаменить его?").arg(chosen.fileName()))) {
      return;
    }
    QFileDialog::accept();
  }

 private:
  void Warn(const QString& text) {
    ScreenBox(this, QMessageBox::Warning, windowTitle(), text, false, false).Run();
  }
  bool Ask(const QString& text) {  // "Нет" unless the user chooses "Да"
    return ScreenBox(this, QMessageBox::Question, windowTitle(), text, true, false).Run();
  }

  DWORD flags_;
  bool save_;
};

// Lays the file dialog out for the screen, as big as it and no wider: the list of files
// with the folder's name and navigation above it and the name and type below, without the
// side bar of places and the view switches that the desktop's width has room for.
void FitScreen(QFileDialog& dialog) {
  dialog.setViewMode(QFileDialog::List);
  dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("Папка:"));
  dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Имя:"));
  dialog.setLabelText(QFileDialog::FileType, QStringLiteral("Тип:"));
  for (const char* name :
       {"sidebar", "backButton", "forwardButton", "listModeButton", "detailModeButton"}) {
    if (auto* widget = dialog.findChild<QWidget*>(QLatin1String(name))) widget->hide();
  }
  // The buttons go below, in a row, so that the name and the type get the dialog's width:
  // a name or a type cut short is not readable. The folder box elides its path itself.
  auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
  auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
  if (grid && buttons) {
    grid->removeWidget(buttons);
    buttons->setOrientation(Qt::Horizontal);
    for (const char* name : {"fileNameEdit", "fileTypeCombo"}) {
      auto* field = dialog.findChild<QWidget*>(QLatin1String(name));
      int index = field ? grid->indexOf(field) : -1;
      if (index < 0) continue;
      int row, column, rows, columns;
      grid->getItemPosition(index, &row, &column, &rows, &columns);
      grid->removeWidget(field);
      grid->addWidget(field, row, column, 1, grid->columnCount() - column);
    }
    grid->addWidget(buttons, grid->rowCount(), 1, 1, grid->columnCount() - 1);
    grid->setColumnStretch(1, 1);  // the width the labels do not need goes to the fields
  }
  if (auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("lookInCombo"))) {
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(4);
    combo->setMinimumWidth(combo->sizeHint().width());
  }
  if (QLayout* layout = dialog.layout()) {
    int margin = 4 * g_zoom;  // the screen's own dialogs' margin
    layout->setContentsMargins(margin, margin, margin, margin);
  }
  dialog.resize(kScreenWidth * g_zoom, kScreenHeight * g_zoom);
  dialog.setMaximumWidth(kScreenWidth * g_zoom);
}

BOOL FileDialog(OPENFILENAMEW* request, bool save) {
  if (!request || !request->lpstrFile || request->nMaxFile == 0) return FALSE;
  if (!EnsureApplication()) return FALSE;
  QString title = request->lpstrTitle ? Q(request->lpstrTitle) : QString();
  FileKindIcons icons;  // outlives the dialog, which does not own it
  FileChooser dialog(ParentFor(request->hwndOwner), title, request->Flags, save);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setIconProvider(&icons);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);  // the chooser asks, in Russian
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
  FitScreen(dialog);

  bool accepted = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
  GiveBackKeyboard(dialog.parentWidget());
  if (!accepted) return FALSE;
  int filter = static_cast<int>(filters.indexOf(dialog.selectedNameFilter()));
  if (filter >= 0) request->nFilterIndex = static_cast<DWORD>(filter + 1);
  return StoreChosenPath(request, U(dialog.selectedFiles().first()));
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
    view->setFocus();
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
  ScreenBox box(ParentFor(owner), icon, Q(title), Q(body), yesNo, true);
  Dialog* dialog = owner ? FindDialog(owner) : LastDialog();
  if (dialog && !dialog->destroyed) {
    std::lock_guard<std::mutex> lock(dialog->mutex);
    dialog->openBoxes.emplace_back(body, title);
  }
  bool yes = box.Run();
  if (dialog) {
    std::lock_guard<std::mutex> lock(dialog->mutex);
    if (!dialog->openBoxes.empty()) dialog->openBoxes.pop_back();
  }
  if (!yesNo) return IDOK;
  return yes ? IDYES : IDNO;
}

BOOL GetSaveFileNameW(OPENFILENAMEW* request) {
  return FileDialog(request, true);
}
BOOL GetOpenFileNameW(OPENFILENAMEW* request) {
  return FileDialog(request, false);
}
