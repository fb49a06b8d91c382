#pragma once

#include <map>
#include <memory>

#include "toolkit/application.h"
#include "toolkit/qt/qt_views.h"

class QObject;
class QWidget;

namespace toolkit::qt {

class MenuMirror;

// Shows a toolkit application on Qt Widgets: each window as a top-level
// widget (its sheets as window-modal dialogs opened without blocking), each
// status item as a tray icon (or, without a tray, a small always-on-top
// window that opens the same menu), popovers as popup windows at their
// anchor, popped-up menus as QMenus; modal alerts run as dialogs and
// terminating ends Qt's loop. Needs the QApplication; make it after the
// application's windows may exist, and keep it for the program's life.
class QtBackend {
 public:
  explicit QtBackend(Application& application);
  ~QtBackend();
  QtBackend(const QtBackend&) = delete;
  QtBackend& operator=(const QtBackend&) = delete;

  // The widget showing a window or a view, or null (for tests and screenshots).
  QWidget* widgetFor(const Window& window) const;
  QWidget* widgetFor(const View* view) const { return registry_.widgetFor(view); }
  // The widget of the open sheet of a window, or null.
  QWidget* sheetWidget(const Window& window) const;
  // The popup widget of a shown popover, or null.
  QWidget* popoverWidget(const Popover& popover) const;
  // The QMenu last popped up for `menu`, or null.
  QWidget* menuWidget(const Menu& menu) const;
  // The fallback window of a status item shown without a tray, or null.
  QWidget* statusFallbackWidget(const StatusItem& item) const;

 private:
  class WindowMirror;
  class StatusMirror;
  class PopoverMirror;

  void addWindow(Window& window);
  void showMenu(Menu& menu, const View* view, Point location);
  // The menu mirror of `menu`, made on first use.
  MenuMirror& mirrorOf(Menu& menu);

  Application& application_;
  WidgetRegistry registry_;
  std::map<const Window*, std::unique_ptr<WindowMirror>> windows_;
  std::map<const StatusItem*, std::unique_ptr<StatusMirror>> statusItems_;
  std::map<const Popover*, std::unique_ptr<PopoverMirror>> popovers_;
  // Popover windows closed by Qt, destroyed on the next turn of the loop.
  std::vector<std::unique_ptr<PopoverMirror>> closing_;
  // Owns the deferred calls, so none outlives the backend.
  std::unique_ptr<QObject> context_;
  std::map<const Menu*, std::unique_ptr<MenuMirror>> menus_;
  std::vector<std::pair<Signal<Window&>*, Signal<Window&>::Id>> windowConnections_;
  Signal<StatusItem&>::Id statusConnection_ = 0;
  Signal<Popover&>::Id popoverShownConnection_ = 0;
  Signal<Popover&>::Id popoverClosedConnection_ = 0;
  Signal<Menu&, const View*, Point>::Id menuConnection_ = 0;
};

}  // namespace toolkit::qt
