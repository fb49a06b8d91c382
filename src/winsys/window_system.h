#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "base/url.h"
#include "winsys/promise.h"
#include "winsys/screen_geometry.h"
#include "winsys/ui_element.h"

namespace wendrix::winsys {

class Application;
class Window;
class State;
class EventNotifier;
using ApplicationPtr = std::shared_ptr<Application>;
using WindowPtr = std::shared_ptr<Window>;
using StatePtr = std::shared_ptr<State>;

// A window of another application. Reads give the current value; a write
// returns a promise fulfilled with the new value once the change is made, or
// rejected. Two objects are equal when they stand for the same window, also
// when a new State handed out a new object for it.
class Window {
 public:
  virtual ~Window() = default;

  // The owning application (nullptr once it is gone).
  virtual ApplicationPtr application() const = 0;
  virtual std::string title() const = 0;
  virtual Rect frame() const = 0;
  virtual Promise<Rect> setFrame(Rect frame) = 0;
  virtual bool isMinimized() const = 0;
  virtual Promise<bool> setMinimized(bool minimized) = 0;
  virtual std::optional<std::string> document() const = 0;
  virtual UIElementPtr uiElement() const = 0;
  // Asks the window to close. Fails when it cannot be closed or is gone.
  virtual base::Status close() = 0;

  // Identity of the underlying window, stable for its life.
  virtual std::uint64_t identity() const = 0;
};

// A running application with its windows.
class Application {
 public:
  virtual ~Application() = default;

  virtual std::optional<std::string> bundleIdentifier() const = 0;
  virtual std::optional<base::Url> bundleURL() const = 0;
  virtual std::int32_t processIdentifier() const = 0;
  // The windows the system knows of, in its order.
  virtual std::vector<WindowPtr> knownWindows() const = 0;
  // nullptr when there is none.
  virtual WindowPtr mainWindow() const = 0;
  virtual bool isHidden() const = 0;
  virtual Promise<bool> setHidden(bool hidden) = 0;
  // Asks the application to quit; nothing tells whether it did.
  virtual void quit() = 0;

  // Identity of the underlying application, stable for its life.
  virtual std::uint64_t identity() const = 0;
};

inline bool operator==(const Window& a, const Window& b) {
  return a.identity() == b.identity();
}
inline bool operator==(const Application& a, const Application& b) {
  return a.identity() == b.identity();
}
// Equality through pointers; two null pointers are equal.
bool sameWindow(const WindowPtr& a, const WindowPtr& b);
bool sameApplication(const ApplicationPtr& a, const ApplicationPtr& b);

// The window system as seen after initialization. Reads are live: each call
// answers from the current state.
class State {
 public:
  virtual ~State() = default;
  virtual std::vector<ApplicationPtr> runningApplications() const = 0;
};

// Entry of the window-system layer.
class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // Starts following the system. The promise gives the State; from then on
  // every change is delivered to `notifier` on the main thread. The notifier
  // must outlive the window system. Called only while accessibility access
  // is granted. Callers initialize again often (each time access is granted
  // or confirmed anew), so a later call must be cheap: it gives a new State
  // over the same live model, in which applications and windows keep their
  // identity, and a State given earlier stays live.
  virtual Promise<StatePtr> initialize(EventNotifier& notifier) = 0;
};

}  // namespace wendrix::winsys
