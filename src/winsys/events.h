#pragma once

#include <string_view>

#include "winsys/window_system.h"

namespace wendrix::winsys {

// Base of every window-system event. Each concrete type has a static
// `typeName`, unique among event types, by which notifiers tell them apart.
struct EventType {
  virtual ~EventType() = default;
};

// Events that name a window.
struct WindowCreatedEvent final : EventType {
  static constexpr std::string_view typeName = "WindowCreatedEvent";
  explicit WindowCreatedEvent(WindowPtr w) : window(std::move(w)) {}
  WindowPtr window;
};
struct WindowDestroyedEvent final : EventType {
  static constexpr std::string_view typeName = "WindowDestroyedEvent";
  explicit WindowDestroyedEvent(WindowPtr w) : window(std::move(w)) {}
  WindowPtr window;
};
struct WindowTitleChangedEvent final : EventType {
  static constexpr std::string_view typeName = "WindowTitleChangedEvent";
  explicit WindowTitleChangedEvent(WindowPtr w) : window(std::move(w)) {}
  WindowPtr window;
};
struct WindowFrameChangedEvent final : EventType {
  static constexpr std::string_view typeName = "WindowFrameChangedEvent";
  explicit WindowFrameChangedEvent(WindowPtr w) : window(std::move(w)) {}
  WindowPtr window;
};
struct WindowMinimizedChangedEvent final : EventType {
  static constexpr std::string_view typeName = "WindowMinimizedChangedEvent";
  explicit WindowMinimizedChangedEvent(WindowPtr w) : window(std::move(w)) {}
  WindowPtr window;
};

// Events that name an application.
struct ApplicationLaunchedEvent final : EventType {
  static constexpr std::string_view typeName = "ApplicationLaunchedEvent";
  explicit ApplicationLaunchedEvent(ApplicationPtr a) : application(std::move(a)) {}
  ApplicationPtr application;
};
struct ApplicationTerminatedEvent final : EventType {
  static constexpr std::string_view typeName = "ApplicationTerminatedEvent";
  explicit ApplicationTerminatedEvent(ApplicationPtr a) : application(std::move(a)) {}
  ApplicationPtr application;
};
struct ApplicationMainWindowChangedEvent final : EventType {
  static constexpr std::string_view typeName = "ApplicationMainWindowChangedEvent";
  explicit ApplicationMainWindowChangedEvent(ApplicationPtr a) : application(std::move(a)) {}
  ApplicationPtr application;
};
struct ApplicationFocusedWindowChangedEvent final : EventType {
  static constexpr std::string_view typeName = "ApplicationFocusedWindowChangedEvent";
  explicit ApplicationFocusedWindowChangedEvent(ApplicationPtr a) : application(std::move(a)) {}
  ApplicationPtr application;
};
struct ApplicationIsHiddenChangedEvent final : EventType {
  static constexpr std::string_view typeName = "ApplicationIsHiddenChangedEvent";
  explicit ApplicationIsHiddenChangedEvent(ApplicationPtr a) : application(std::move(a)) {}
  ApplicationPtr application;
};

// The new frontmost application; nullptr when none is.
struct FrontmostApplicationChangedEvent final : EventType {
  static constexpr std::string_view typeName = "FrontmostApplicationChangedEvent";
  explicit FrontmostApplicationChangedEvent(ApplicationPtr a) : application(std::move(a)) {}
  ApplicationPtr application;
};

}  // namespace wendrix::winsys
