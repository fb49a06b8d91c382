#pragma once

#include <ostream>

namespace wendrix::winsys {

// A window frame: origin and size in the window system's screen coordinates.
// Frames are stored as read and written back unchanged.
struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  friend bool operator==(const Rect&, const Rect&) = default;
};

inline std::ostream& operator<<(std::ostream& os, const Rect& r) {
  return os << "{" << r.x << ", " << r.y << ", " << r.width << ", " << r.height << "}";
}

}  // namespace wendrix::winsys
