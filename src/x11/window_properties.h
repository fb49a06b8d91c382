#pragma once

// What the X11 backend reads of a window: its frame (client area in root
// coordinates), title, minimized state, document, close support, role, type
// and owner. A window seen for the first time is read whole; reading many
// sends every request before awaiting the first reply, so a hundred windows
// cost about as much waiting as one. Main thread only.

#include <optional>
#include <string>
#include <vector>

#include "platform/bundle/bundle_id_resolver.h"
#include "platform/xconn/connection.h"
#include "winsys/screen_geometry.h"

namespace wendrix::x11 {
namespace xconn = ::platform::xconn;
}

namespace wendrix::x11::detail {

// The window types listed as windows.
enum class WindowType { normal, dialog, utility };

// A window as first read.
struct WindowFacts {
  WindowType type = WindowType::normal;
  winsys::Rect frame;
  std::string title;
  bool minimized = false;
  std::optional<std::string> document;
  bool closable = false;
  std::optional<std::string> role;
  // The pid is 0 when the window's process runs on another machine, where
  // its number means nothing here.
  platform::WindowOwnerHints hints;
};

class WindowProperties {
 public:
  explicit WindowProperties(xconn::Connection& connection) : conn_(connection) {}

  // The facts of each of `windows`, in order: nothing for a window that is
  // gone or is not of a listed type.
  std::vector<std::optional<WindowFacts>> readAll(const std::vector<::Window>& windows);

  // One property each, read when its change is announced.
  std::optional<winsys::Rect> frame(::Window window);
  std::string title(::Window window);
  bool minimized(::Window window);
  std::optional<std::string> document(::Window window);
  bool closable(::Window window);

 private:
  xconn::Connection& conn_;
};

}  // namespace wendrix::x11::detail
