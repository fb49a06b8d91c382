#pragma once

#include <map>
#include <memory>
#include <vector>

#include "toolkit/application.h"
#include "toolkit/view.h"

class QWidget;

namespace toolkit::qt {

class MirrorImpl;

// Which Qt widget shows which view, for placing popovers and menus.
class WidgetRegistry {
 public:
  QWidget* widgetFor(const View* view) const {
    auto it = widgets_.find(view);
    return it == widgets_.end() ? nullptr : it->second;
  }
  void add(const View* view, QWidget* widget) { widgets_[view] = widget; }
  void remove(const View* view) { widgets_.erase(view); }

 private:
  std::map<const View*, QWidget*> widgets_;
};

// A Qt widget that shows one view and, through child mirrors, its subviews:
// a line edit or label for a text field, a push button or check box, a
// combo box, a row of tool buttons for a segmented control, a list for an
// outline view, a one-chord recorder... Model changes are applied with Qt's
// signals blocked; the user's input reaches the model through its `user…`
// entry points, so callbacks meant for the user never fire for the
// program's changes.
class ViewMirror {
 public:
  ViewMirror(Application& application, WidgetRegistry& registry, std::shared_ptr<View> view,
             QWidget* parent);
  ~ViewMirror();
  ViewMirror(const ViewMirror&) = delete;
  ViewMirror& operator=(const ViewMirror&) = delete;

  QWidget* widget() const { return widget_.get(); }
  View& view() const { return *view_; }

 private:
  void sync();
  void syncChildren();

  Application& application_;
  WidgetRegistry& registry_;
  std::shared_ptr<View> view_;
  std::unique_ptr<QWidget> widget_;
  std::unique_ptr<MirrorImpl> impl_;
  std::vector<std::unique_ptr<ViewMirror>> children_;
  Signal<>::Id connection_ = 0;
};

}  // namespace toolkit::qt
