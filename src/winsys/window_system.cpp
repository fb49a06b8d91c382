#include "winsys/window_system.h"

namespace wendrix::winsys {

bool sameWindow(const WindowPtr& a, const WindowPtr& b) {
  if (!a || !b) return !a && !b;
  return *a == *b;
}

bool sameApplication(const ApplicationPtr& a, const ApplicationPtr& b) {
  if (!a || !b) return !a && !b;
  return *a == *b;
}

}  // namespace wendrix::winsys
