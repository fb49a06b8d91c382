#pragma once

namespace platform {

// Window levels: windows of a higher level float above those of a lower one.
inline constexpr int kNormalWindowLevel = 0;
// The level of status-area windows; keeps a window above normal windows.
inline constexpr int kStatusWindowLevel = 25;

// A top-level window whose level can be set.
class LevelWindow {
 public:
  virtual ~LevelWindow() = default;
  virtual void setLevel(int level) = 0;
};

// What owns a view that may be shown in a window (a view or window
// controller): its window, or none while the view is in no window.
class WindowOwner {
 public:
  virtual ~WindowOwner() = default;
  virtual LevelWindow* window() = 0;
};

}  // namespace platform
