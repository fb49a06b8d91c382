#include "toolkit/qt/qt_backend.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "toolkit/alert.h"
#include "toolkit/file_panels.h"
#include "toolkit/popover.h"
#include "toolkit/qt/qt_images.h"
#include "toolkit/qt/qt_menu.h"
#include "toolkit/status_item.h"

#include <xcb/xcb.h>

namespace toolkit::qt {
namespace {

QString text(const std::string& s) {
  return QString::fromStdString(s);
}

// The width a label's text takes on one line per paragraph, kept between a
// minimum and a readable maximum.
int textWidth(const QLabel& label, int minimum, int maximum) {
  int widest = 0;
  for (const QString& line : label.text().split('\n'))
    widest = std::max(widest, label.fontMetrics().horizontalAdvance(line));
  // A pixel or two of rounding, so that the widest line does not wrap.
  return std::clamp(widest + 2, minimum, maximum);
}

// The dialog of an alert: message, informative text, the accessory view and
// the buttons in order (the first is the default one).
class AlertDialog final : public QDialog {
 public:
  AlertDialog(Application& app, WidgetRegistry& registry, Alert& alert, QWidget* parent,
              std::function<void(ModalResponse)> answered)
      : QDialog(parent) {
    setWindowTitle(text(app.bundleInfo("CFBundleName").value_or("")));
    auto* layout = new QVBoxLayout(this);
    // Room around the text, and lines as long as they are up to a readable
    // width: a wrapping label alone would make the dialog as narrow as Qt's
    // guess, with the text at its edge.
    layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    layout->setSpacing(kSpacing);
    auto* message = new QLabel(text(alert.messageText()), this);
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);
    message->setWordWrap(true);
    message->setMinimumWidth(textWidth(*message, kMinTextWidth, kMaxTextWidth));
    layout->addWidget(message);
    if (!alert.informativeText().empty()) {
      auto* info = new QLabel(text(alert.informativeText()), this);
      info->setWordWrap(true);
      info->setMinimumWidth(textWidth(*info, kMinTextWidth, kMaxTextWidth));
      layout->addWidget(info);
    }
    if (alert.accessoryView()) {
      accessory_ = std::make_unique<ViewMirror>(app, registry, alert.accessoryView(), this);
      // A view laid out by frames has no size of its own to offer the layout.
      const Size size = alert.accessoryView()->frame().size;
      accessory_->widget()->setMinimumSize(static_cast<int>(size.width),
                                           static_cast<int>(size.height));
      layout->addWidget(accessory_->widget());
    }
    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    const auto& titles = alert.buttons();
    for (std::size_t i = 0; i < titles.size(); ++i) {
      auto* button = new QPushButton(text(titles[i]), this);
      button->setDefault(i == 0);
      const ModalResponse response = Alert::responseOfButton(i);
      connect(button, &QPushButton::clicked, this, [this, answered, response] {
        answered_ = true;
        hide();
        answered(response);
      });
      buttons->addWidget(button);
    }
    if (titles.empty()) {
      auto* ok = new QPushButton("OK", this);
      connect(ok, &QPushButton::clicked, this, [this, answered] {
        answered_ = true;
        hide();
        answered(kAlertFirstButtonReturn);
      });
      buttons->addWidget(ok);
    }
    layout->addLayout(buttons);
  }
  bool answered() const { return answered_; }

  static constexpr int kMargin = 20;
  static constexpr int kSpacing = 12;
  static constexpr int kMinTextWidth = 260;
  static constexpr int kMaxTextWidth = 420;

 protected:
  // A text field of the accessory takes the keys, with its text as the
  // program selected it.
  void showEvent(QShowEvent* event) override {
    QDialog::showEvent(event);
    if (!accessory_) return;
    QWidget* field = accessory_->widget();
    if (!qobject_cast<QLineEdit*>(field)) field = field->findChild<QLineEdit*>();
    if (field) field->setFocus(Qt::OtherFocusReason);
  }

 private:
  std::unique_ptr<ViewMirror> accessory_;
  bool answered_ = false;
};

std::unique_ptr<QFileDialog> makeFileDialog(const FilePanel& panel, QWidget* parent) {
  auto dialog = std::make_unique<QFileDialog>(parent, text(panel.options().title));
  // Qt's own dialog: a native one cannot be answered without blocking.
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  const bool save = panel.kind() == FilePanel::Kind::save;
  dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  QStringList patterns;
  for (const auto& type : panel.options().allowedFileTypes)
    patterns << "*." + text(type);
  if (!patterns.isEmpty()) {
    dialog->setNameFilter(patterns.join(' '));
    dialog->setDefaultSuffix(text(panel.options().allowedFileTypes.front()));
  }
  if (!panel.options().nameFieldValue.empty())
    dialog->selectFile(text(panel.options().nameFieldValue));
  return dialog;
}

// Hears a system tray appear on an X display: its manager announces itself
// with a "MANAGER" client message on the root window naming the selection
// "_NET_SYSTEM_TRAY_S<screen>". Qt embeds a tray icon by itself then, but
// says nothing; this tells the status item so its fallback window can go.
class TrayWatch final : public QAbstractNativeEventFilter {
 public:
  explicit TrayWatch(std::function<void()> appeared) : appeared_(std::move(appeared)) {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    connection_ = x11 ? x11->connection() : nullptr;
    if (!connection_) return;
    manager_ = intern("MANAGER");
    selection_ = intern("_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber()));
    // The announcement goes to clients that listen for structure changes of
    // the root window: add that to whatever Qt listens for there.
    const xcb_window_t root = rootWindow();
    auto attributes = xcb_get_window_attributes_reply(
        connection_, xcb_get_window_attributes(connection_, root), nullptr);
    const uint32_t mask =
        (attributes ? attributes->your_event_mask : 0) | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    free(attributes);
    xcb_change_window_attributes(connection_, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
    qApp->installNativeEventFilter(this);
  }
  ~TrayWatch() override {
    if (connection_) qApp->removeNativeEventFilter(this);
  }

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (type != "xcb_generic_event_t") return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) return false;
    auto* client = reinterpret_cast<xcb_client_message_event_t*>(event);
    if (client->type == manager_ && client->format == 32 && client->data.data32[1] == selection_) {
      // After Qt has looked at the same message and embedded its icon.
      QTimer::singleShot(0, qApp, appeared_);
    }
    return false;
  }

 private:
  xcb_atom_t intern(const std::string& name) {
    auto reply = xcb_intern_atom_reply(
        connection_,
        xcb_intern_atom(connection_, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    free(reply);
    return atom;
  }
  // The screen of DISPLAY (":0.1" is screen 1).
  static int screenNumber() {
    const char* display = std::getenv("DISPLAY");
    const char* dot = display ? std::strrchr(display, '.') : nullptr;
    return dot ? std::atoi(dot + 1) : 0;
  }
  xcb_window_t rootWindow() const {
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    auto it = xcb_setup_roots_iterator(setup);
    for (int i = screenNumber(); i > 0 && it.rem; --i)
      xcb_screen_next(&it);
    return it.data ? it.data->root : 0;
  }

  std::function<void()> appeared_;
  xcb_connection_t* connection_ = nullptr;
  xcb_atom_t manager_ = XCB_ATOM_NONE;
  xcb_atom_t selection_ = XCB_ATOM_NONE;
};

}  // namespace

// A top-level window: its frame, title, level (stays-on-top above the
// normal level), visibility, content, toolbar and sheets.
class QtBackend::WindowMirror {
 public:
  WindowMirror(QtBackend& backend, Window& window) : backend_(backend), window_(window) {
    widget_ = std::make_unique<CloseAware>(window_);
    if (window_.style() == WindowStyle::borderless)
      widget_->setWindowFlag(Qt::FramelessWindowHint, true);
    connection_ = window_.changed.connect([this] { sync(); });
    sync();
  }
  ~WindowMirror() {
    window_.changed.disconnect(connection_);
    closeSheet();
    content_.reset();
  }

  QWidget* widget() const { return widget_.get(); }
  QWidget* sheetWidget() const { return sheet_.get(); }

 private:
  // Closing by the title bar asks the model, which hides the window.
  class CloseAware final : public QMainWindow {
   public:
    explicit CloseAware(Window& window) : window_(window) {}

   protected:
    void closeEvent(QCloseEvent* event) override {
      event->ignore();
      window_.userClose();
    }

   private:
    Window& window_;
  };

  void sync() {
    const Rect& f = window_.frame();
    widget_->setWindowTitle(text(window_.title()));
    syncToolbar();
    // The frame is the content's: the toolbar comes on top of it.
    const int toolbarHeight = toolbar_ ? toolbar_->sizeHint().height() : 0;
    widget_->setGeometry(static_cast<int>(f.origin.x), static_cast<int>(f.origin.y),
                         static_cast<int>(f.size.width),
                         static_cast<int>(f.size.height) + toolbarHeight);
    // Qt hides a window whose flags change: show it again when it was shown.
    const bool onTop = window_.level() > platform::kNormalWindowLevel;
    if (widget_->windowFlags().testFlag(Qt::WindowStaysOnTopHint) != onTop)
      widget_->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (window_.contentView() != (content_ ? content_->view().shared_from_this() : nullptr)) {
      content_.reset();
      if (window_.contentView()) {
        content_ = std::make_unique<ViewMirror>(backend_.application_, backend_.registry_,
                                                window_.contentView(), nullptr);
        widget_->setCentralWidget(content_->widget());
        // The central widget is owned by the window now.
        content_->widget()->setParent(widget_.get());
      }
    }
    if (window_.isVisible() != widget_->isVisible()) widget_->setVisible(window_.isVisible());
    if (window_.isKeyWindow() && widget_->isVisible()) widget_->activateWindow();
    syncSheet();
  }

  void syncToolbar() {
    if (window_.toolbarItems().empty() && !toolbar_) return;
    if (!toolbar_) toolbar_ = widget_->addToolBar("toolbar");
    toolbar_->clear();
    for (const auto& item : window_.toolbarItems()) {
      QAction* action =
          toolbar_->addAction(iconFor(backend_.application_, item.image), text(item.label));
      const std::string id = item.identifier;
      QObject::connect(action, &QAction::triggered,
                       [this, id] { window_.userClickToolbarItem(id); });
    }
  }

  void syncSheet() {
    Sheet* attached = window_.attachedSheet();
    if (attached == shownSheet_) return;
    closeSheet();
    shownSheet_ = attached;
    if (!attached) return;
    if (auto* alert = dynamic_cast<Alert*>(attached)) {
      auto dialog = std::make_unique<AlertDialog>(
          backend_.application_, backend_.registry_, *alert, widget_.get(),
          [this](ModalResponse response) { answer(response); });
      dialog->setWindowModality(Qt::WindowModal);
      dialog->open();
      sheet_ = std::move(dialog);
    } else if (auto* panel = dynamic_cast<FilePanel*>(attached)) {
      auto dialog = makeFileDialog(*panel, widget_.get());
      QFileDialog* raw = dialog.get();
      QObject::connect(raw, &QDialog::finished, [this, raw](int result) {
        std::optional<base::Url> url;
        if (result == QDialog::Accepted && !raw->selectedFiles().isEmpty())
          url = base::Url::fromFilePath(raw->selectedFiles().front().toStdString());
        answerPanel(url ? platform::PanelResponse::ok : platform::PanelResponse::cancel, url);
      });
      dialog->setWindowModality(Qt::WindowModal);
      dialog->open();
      sheet_ = std::move(dialog);
    }
  }

  // The user answered the sheet: the dialog goes, then the model hears it
  // (which may attach the next sheet).
  void answer(ModalResponse response) {
    dropSheetLater();
    window_.endSheet(response);
  }
  void answerPanel(platform::PanelResponse response, std::optional<base::Url> url) {
    dropSheetLater();
    WindowFilePanels::answer(window_, response, std::move(url));
  }
  void dropSheetLater() {
    shownSheet_ = nullptr;
    if (sheet_) {
      sheet_->hide();
      sheet_.release()->deleteLater();
    }
  }
  void closeSheet() {
    if (!sheet_) return;
    // The model ended it: close the dialog without answering again.
    QObject::disconnect(sheet_.get(), nullptr, nullptr, nullptr);
    sheet_->hide();
    sheet_.release()->deleteLater();
    shownSheet_ = nullptr;
  }

  QtBackend& backend_;
  Window& window_;
  std::unique_ptr<CloseAware> widget_;
  std::unique_ptr<ViewMirror> content_;
  QToolBar* toolbar_ = nullptr;
  std::unique_ptr<QDialog> sheet_;
  Sheet* shownSheet_ = nullptr;
  Signal<>::Id connection_ = 0;
};

// A status item: a tray icon when the desktop has a tray, else a small
// always-on-top window with the icon. Either opens the item's menu.
class QtBackend::StatusMirror {
 public:
  StatusMirror(QtBackend& backend, StatusItem& item) : backend_(backend), item_(item) {
    // The tray icon always exists: Qt embeds it as soon as a tray is there.
    tray_ = std::make_unique<QSystemTrayIcon>();
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, [this] {
      publishFrame();
      item_.userClick();
    });
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
      makeFallback();
      trayWatch_ = std::make_unique<TrayWatch>([this] { trayAppeared(); });
    }
    connection_ = item_.changed.connect([this] { sync(); });
    sync();
    // The tray embeds the icon a moment after it is shown, and says nothing:
    // look where it went once it had the time.
    QTimer::singleShot(500, &context_, [this] { publishFrame(); });
  }
  ~StatusMirror() { item_.changed.disconnect(connection_); }

  QWidget* fallback() const { return fallback_.get(); }
  // Where the menu opens: under the icon.
  QPoint menuPosition() const {
    if (!fallback_ && !tray_->geometry().isEmpty()) return tray_->geometry().bottomLeft();
    if (fallback_) return fallback_->geometry().bottomLeft();
    return QCursor::pos();
  }

 private:
  void makeFallback() {
    fallback_ = std::make_unique<QWidget>(
        nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    auto* layout = new QHBoxLayout(fallback_.get());
    layout->setContentsMargins(2, 2, 2, 2);
    button_ = new QToolButton(fallback_.get());
    button_->setIconSize(QSize(22, 22));
    button_->setAutoRaise(true);
    QObject::connect(button_, &QToolButton::clicked, [this] {
      publishFrame();
      item_.userClick();
    });
    layout->addWidget(button_);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      fallback_->move(area.right() - 40, area.top() + 4);
    }
  }

  void trayAppeared() {
    if (!fallback_ || !QSystemTrayIcon::isSystemTrayAvailable()) return;
    fallback_.reset();
    button_ = nullptr;
    trayWatch_.reset();
    sync();
    QTimer::singleShot(500, &context_, [this] { publishFrame(); });
  }

  // Tells the model where the icon is on screen, when that is known.
  void publishFrame() {
    const QRect r = fallback_ ? fallback_->geometry() : tray_->geometry();
    if (r.isEmpty()) return;
    item_.setScreenFrame({{static_cast<double>(r.x()), static_cast<double>(r.y())},
                          {static_cast<double>(r.width()), static_cast<double>(r.height())}});
  }

  void sync() {
    const QIcon icon = item_.image() ? iconFor(backend_.application_, *item_.image()) : QIcon();
    tray_->setIcon(icon);
    tray_->setToolTip(text(item_.toolTip()));
    tray_->setVisible(item_.isVisible() && !icon.isNull());
    if (fallback_) {
      button_->setIcon(icon);
      button_->setToolTip(text(item_.toolTip()));
      fallback_->setVisible(item_.isVisible());
    }
    publishFrame();
  }

  QtBackend& backend_;
  StatusItem& item_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  std::unique_ptr<QWidget> fallback_;
  QToolButton* button_ = nullptr;
  std::unique_ptr<TrayWatch> trayWatch_;
  // Owns the deferred calls, so none outlives the mirror.
  QObject context_;
  Signal<>::Id connection_ = 0;
};

// A popover: a popup window (closed by Qt on an outside click, which the
// model then hears) for transient popovers, a tool window otherwise.
class QtBackend::PopoverMirror {
 public:
  PopoverMirror(QtBackend& backend, Popover& popover) : popover_(popover) {
    const bool transient = popover.behavior() != Popover::Behavior::applicationDefined;
    widget_ = std::make_unique<HideAware>(popover_, transient);
    auto* layout = new QVBoxLayout(widget_.get());
    // Room for the border that sets the popover off what lies under it.
    layout->setContentsMargins(kBorder, kBorder, kBorder, kBorder);
    if (popover.contentViewController()) {
      content_ =
          std::make_unique<ViewMirror>(backend.application_, backend.registry_,
                                       popover.contentViewController()->view(), widget_.get());
      layout->addWidget(content_->widget());
    }
    // Without a content size of its own, the popover is as big as its content.
    Size size = popover.contentSize();
    if ((size.width <= 0 || size.height <= 0) && popover.contentViewController())
      size = popover.contentViewController()->view()->frame().size;
    if (size.width > 0 && size.height > 0)
      widget_->resize(static_cast<int>(size.width) + 2 * kBorder,
                      static_cast<int>(size.height) + 2 * kBorder);
    else
      widget_->adjustSize();
    widget_->move(position(backend));
    widget_->show();
  }
  ~PopoverMirror() { content_.reset(); }
  // Hides the window without telling the model (which closed the popover).
  void dismiss() {
    widget_->closing = true;
    widget_->hide();
  }
  QWidget* widget() const { return widget_.get(); }

 private:
  class HideAware final : public QWidget {
   public:
    HideAware(Popover& popover, bool transient)
        : QWidget(nullptr, transient
                               ? Qt::Popup
                               : Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
          popover_(popover) {}
    bool closing = false;

   protected:
    void paintEvent(QPaintEvent*) override {
      QPainter painter(this);
      painter.setPen(palette().color(QPalette::Mid));
      painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    void hideEvent(QHideEvent* event) override {
      QWidget::hideEvent(event);
      // Qt closed the popup (an outside click): the model closes too.
      if (!closing && popover_.isShown()) popover_.close();
    }

   private:
    Popover& popover_;
  };

  QPoint position(QtBackend& backend) const {
    const auto& anchor = popover_.anchor();
    QWidget* host = backend.registry_.widgetFor(anchor.view);
    QRect rect(static_cast<int>(anchor.rect.origin.x), static_cast<int>(anchor.rect.origin.y),
               static_cast<int>(anchor.rect.size.width), static_cast<int>(anchor.rect.size.height));
    QRect global = host ? QRect(host->mapToGlobal(rect.topLeft()), rect.size())
                        : QRect(QCursor::pos(), QSize(1, 1));
    const QSize size = widget_->size();
    QPoint at = global.bottomLeft();
    switch (anchor.edge) {
      case RectEdge::minX:
        at = {global.left() - size.width(), global.top()};
        break;
      case RectEdge::maxX:
        at = {global.right() + 1, global.top()};
        break;
      case RectEdge::minY:
        at = {global.center().x() - size.width() / 2, global.top() - size.height()};
        break;
      case RectEdge::maxY:
        at = {global.center().x() - size.width() / 2, global.bottom() + 1};
        break;
    }
    return keptOnScreen(at, size, global);
  }

  // Moves the popover onto the screen of its anchor: to the other side of
  // the anchor when its side has no room, and sideways within the screen.
  QPoint keptOnScreen(QPoint at, QSize size, const QRect& anchor) const {
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return at;
    const QRect area = screen->availableGeometry();
    switch (popover_.anchor().edge) {
      case RectEdge::maxY:
        if (at.y() + size.height() > area.bottom() + 1) at.setY(anchor.top() - size.height());
        break;
      case RectEdge::minY:
        if (at.y() < area.top()) at.setY(anchor.bottom() + 1);
        break;
      case RectEdge::maxX:
        if (at.x() + size.width() > area.right() + 1) at.setX(anchor.left() - size.width());
        break;
      case RectEdge::minX:
        if (at.x() < area.left()) at.setX(anchor.right() + 1);
        break;
    }
    at.setX(
        std::clamp(at.x(), area.left(), std::max(area.left(), area.right() + 1 - size.width())));
    at.setY(
        std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() + 1 - size.height())));
    return at;
  }

  static constexpr int kBorder = 1;

  Popover& popover_;
  std::unique_ptr<HideAware> widget_;
  std::unique_ptr<ViewMirror> content_;
};

QtBackend::QtBackend(Application& application)
    : application_(application), context_(std::make_unique<QObject>()) {
  QApplication::setQuitOnLastWindowClosed(false);
  application_.setTerminateHandler([] {
    QMetaObject::invokeMethod(
        qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
  });
  application_.setModalRunner([this](Alert& alert) {
    ModalResponse response = kModalResponseAbort;
    AlertDialog dialog(application_, registry_, alert, nullptr,
                       [&](ModalResponse r) { response = r; });
    dialog.exec();
    return response;
  });
  // The program is active while one of its windows has the focus.
  QObject::connect(qApp, &QGuiApplication::applicationStateChanged, context_.get(),
                   [this](Qt::ApplicationState state) {
                     if (state == Qt::ApplicationActive)
                       application_.becomeActive();
                     else
                       application_.resignActive();
                   });
  for (Window* window : application_.windows())
    addWindow(*window);
  windowConnections_.push_back(
      {&application_.windowAdded,
       application_.windowAdded.connect([this](Window& w) { addWindow(w); })});
  windowConnections_.push_back(
      {&application_.windowRemoved,
       application_.windowRemoved.connect([this](Window& w) { windows_.erase(&w); })});
  for (const auto& item : application_.statusItems())
    statusItems_[item.get()] = std::make_unique<StatusMirror>(*this, *item);
  statusConnection_ = application_.statusItemAdded.connect([this](StatusItem& item) {
    statusItems_[&item] = std::make_unique<StatusMirror>(*this, item);
  });
  popoverShownConnection_ = application_.popoverShown.connect([this](Popover& popover) {
    popovers_[&popover] = std::make_unique<PopoverMirror>(*this, popover);
  });
  popoverClosedConnection_ = application_.popoverClosed.connect([this](Popover& popover) {
    auto it = popovers_.find(&popover);
    if (it == popovers_.end()) return;
    // Qt may be inside the popup's own hide event: destroy it afterwards
    // (or with the backend, whichever comes first).
    it->second->dismiss();
    closing_.push_back(std::move(it->second));
    popovers_.erase(it);
    QTimer::singleShot(0, context_.get(), [this] { closing_.clear(); });
  });
  menuConnection_ = application_.menuPoppedUp.connect(
      [this](Menu& menu, const View* view, Point location) { showMenu(menu, view, location); });
}

QtBackend::~QtBackend() {
  for (auto& [signal, id] : windowConnections_)
    signal->disconnect(id);
  application_.statusItemAdded.disconnect(statusConnection_);
  application_.popoverShown.disconnect(popoverShownConnection_);
  application_.popoverClosed.disconnect(popoverClosedConnection_);
  application_.menuPoppedUp.disconnect(menuConnection_);
  application_.setModalRunner(nullptr);
  application_.setTerminateHandler(nullptr);
  context_.reset();
  closing_.clear();
  popovers_.clear();
  menus_.clear();
  windows_.clear();
  statusItems_.clear();
}

void QtBackend::addWindow(Window& window) {
  windows_[&window] = std::make_unique<WindowMirror>(*this, window);
}

MenuMirror& QtBackend::mirrorOf(Menu& menu) {
  // Mirrors of menus nobody else holds any more go.
  std::erase_if(menus_, [&](const auto& entry) {
    return entry.first != &menu && entry.second->menu().use_count() == 1 &&
           !entry.second->qmenu()->isVisible();
  });
  auto& slot = menus_[&menu];
  if (!slot) slot = std::make_unique<MenuMirror>(application_, menu.shared_from_this());
  return *slot;
}

void QtBackend::showMenu(Menu& menu, const View* view, Point location) {
  MenuMirror& mirror = mirrorOf(menu);
  QPoint at = QCursor::pos();
  for (const auto& [item, status] : statusItems_) {
    if (item->button().get() == view) at = status->menuPosition();
  }
  if (QWidget* host = registry_.widgetFor(view))
    at = host->mapToGlobal(QPoint(static_cast<int>(location.x), static_cast<int>(location.y)));
  mirror.popup(at);
}

QWidget* QtBackend::widgetFor(const Window& window) const {
  auto it = windows_.find(&window);
  return it == windows_.end() ? nullptr : it->second->widget();
}

QWidget* QtBackend::sheetWidget(const Window& window) const {
  auto it = windows_.find(&window);
  return it == windows_.end() ? nullptr : it->second->sheetWidget();
}

QWidget* QtBackend::popoverWidget(const Popover& popover) const {
  auto it = popovers_.find(&popover);
  return it == popovers_.end() ? nullptr : it->second->widget();
}

QWidget* QtBackend::menuWidget(const Menu& menu) const {
  auto it = menus_.find(&menu);
  return it == menus_.end() ? nullptr : it->second->qmenu();
}

QWidget* QtBackend::statusFallbackWidget(const StatusItem& item) const {
  auto it = statusItems_.find(&item);
  return it == statusItems_.end() ? nullptr : it->second->fallback();
}

}  // namespace toolkit::qt
