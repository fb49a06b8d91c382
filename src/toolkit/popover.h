#pragma once

#include <memory>

#include "toolkit/geometry.h"
#include "toolkit/view.h"

namespace toolkit {

class Application;
class Popover;
class Window;

class PopoverDelegate {
 public:
  virtual ~PopoverDelegate() = default;
  virtual void popoverDidShow(Popover& /*popover*/) {}
  virtual void popoverDidClose(Popover& /*popover*/) {}
};

// A panel shown next to an anchor view. A transient popover closes when the
// user clicks outside it. While shown, its content view is in a window of its
// own (not listed by the application), which the popover's delegate may make
// key.
class Popover {
 public:
  enum class Behavior { applicationDefined = 0, transient = 1, semitransient = 2 };

  explicit Popover(Application& application) : application_(application) {}
  ~Popover();
  Popover(const Popover&) = delete;
  Popover& operator=(const Popover&) = delete;

  const std::shared_ptr<ViewController>& contentViewController() const { return content_; }
  void setContentViewController(std::shared_ptr<ViewController> controller) {
    content_ = std::move(controller);
  }
  Behavior behavior() const { return behavior_; }
  void setBehavior(Behavior behavior) { behavior_ = behavior; }
  bool animates() const { return animates_; }
  void setAnimates(bool animates) { animates_ = animates; }
  Size contentSize() const { return contentSize_; }
  void setContentSize(Size size) { contentSize_ = size; }
  std::weak_ptr<PopoverDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<PopoverDelegate> delegate) { delegate_ = std::move(delegate); }

  // Shows the content next to `rect` of `view`, on its `edge` side.
  void show(Rect rect, View& view, RectEdge edge);
  void close();
  bool isShown() const { return shown_; }

  struct Anchor {
    Rect rect;
    const View* view;
    RectEdge edge;
  };
  // Where it was last shown.
  const Anchor& anchor() const { return anchor_; }
  // The window holding the content view while shown, or null.
  Window* window() const { return window_.get(); }

 private:
  Application& application_;
  std::shared_ptr<ViewController> content_;
  Behavior behavior_ = Behavior::applicationDefined;
  bool animates_ = true;
  Size contentSize_;
  std::weak_ptr<PopoverDelegate> delegate_;
  bool shown_ = false;
  Anchor anchor_{};
  std::shared_ptr<Window> window_;
};

}  // namespace toolkit
