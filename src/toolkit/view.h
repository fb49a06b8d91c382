#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/window_level/window_level.h"
#include "toolkit/geometry.h"
#include "toolkit/image.h"
#include "toolkit/signal.h"
#include "toolkit/style.h"

namespace toolkit {

class Window;
class Menu;

// How a view's backing layer is drawn.
struct LayerStyle {
  double cornerRadius = 0;
  double borderWidth = 0;
  Color borderColor = Color::clear;
  Color backgroundColor = Color::clear;
  friend bool operator==(const LayerStyle&, const LayerStyle&) = default;
};

// A rectangle of a window's content. A view owns its subviews; its superview
// and window are known while it is in a tree.
class View : public std::enable_shared_from_this<View> {
 public:
  View() = default;
  explicit View(Rect frame) : frame_(frame) {}
  virtual ~View();
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  // Position in the superview and size.
  const Rect& frame() const { return frame_; }
  void setFrame(Rect frame);
  // The view's own rectangle: origin zero, the frame's size.
  Rect bounds() const { return {{0, 0}, frame_.size}; }

  // An identifier that cell prototypes and tests find views by.
  const std::string& identifier() const { return identifier_; }
  void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }

  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden);
  double alpha() const { return alpha_; }
  void setAlpha(double alpha);
  const LayerStyle& layer() const { return layer_; }
  void setLayer(LayerStyle layer);
  // Asks the backend to draw the view again.
  void setNeedsDisplay() { changed.emit(); }

  // The context menu of the view, or null.
  const std::shared_ptr<Menu>& menu() const { return menu_; }
  void setMenu(std::shared_ptr<Menu> menu) { menu_ = std::move(menu); }

  View* superview() const { return superview_; }
  const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
  // Moves `view` here from wherever it was, on top of the other subviews.
  void addSubview(std::shared_ptr<View> view);
  void removeFromSuperview();
  // The window the view is shown in, or null.
  Window* window() const;
  // Depth-first search of this view and its subviews by identifier.
  View* findByIdentifier(const std::string& identifier);

  // A property of the view changed (for backends that draw it).
  Signal<> changed;

 protected:
  // Called after the view joined or left a window.
  virtual void didMoveToWindow() {}

 private:
  friend class Window;
  void setRootWindow(Window* window);
  void notifyWindowChange();

  Rect frame_;
  std::string identifier_;
  bool hidden_ = false;
  double alpha_ = 1;
  LayerStyle layer_;
  std::shared_ptr<Menu> menu_;
  View* superview_ = nullptr;
  Window* rootWindow_ = nullptr;
  std::vector<std::shared_ptr<View>> subviews_;
};

class Application;

// Owns a view that it makes on first use. Subclasses build the view in
// `loadView` (the default makes an empty view) and finish it in `viewDidLoad`.
class ViewController : public std::enable_shared_from_this<ViewController>,
                       public platform::WindowOwner {
 public:
  ~ViewController() override = default;

  // The window the view is shown in, or null.
  platform::LevelWindow* window() override;

  // The view, loaded on first use.
  const std::shared_ptr<View>& view();
  bool isViewLoaded() const { return view_ != nullptr; }
  void setView(std::shared_ptr<View> view) { view_ = std::move(view); }

  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }

  // Told by windows, tab views and popovers when the view comes on screen or
  // leaves it; an appearance also reaches the application's observers.
  void appear(Application& application);
  void disappear();
  bool isAppeared() const { return appeared_; }

 protected:
  virtual void loadView();
  virtual void viewDidLoad() {}
  virtual void viewDidAppear() {}
  virtual void viewDidDisappear() {}
  // The child controllers whose views are on screen with this one's.
  virtual std::vector<ViewController*> visibleChildren() const { return {}; }

 private:
  std::shared_ptr<View> view_;
  std::string title_;
  bool appeared_ = false;
};

}  // namespace toolkit
