#include "x11/model.h"

#include "winsys/errors.h"
#include "x11/desktop.h"

namespace wendrix::x11::detail {

using winsys::ApplicationPtr;
using winsys::Promise;
using winsys::Rect;
using winsys::WindowPtr;
using winsys::WindowSystemError;
using winsys::WindowSystemErrorCode;

base::Error gone() {
  return WindowSystemError::make(WindowSystemErrorCode::invalidObject);
}

base::Error refused() {
  return WindowSystemError::make(WindowSystemErrorCode::failed);
}

// --- the public objects forward to the desktop -----------------------------------

ApplicationPtr XWindow::application() const {
  return app.lock();
}

Promise<Rect> XWindow::setFrame(Rect frame) {
  auto desktop = desktop_.lock();
  if (!desktop) return Promise<Rect>::error(queue_, gone());
  return desktop->writer().setFrame(*this, frame);
}

Promise<bool> XWindow::setMinimized(bool value) {
  auto desktop = desktop_.lock();
  if (!desktop) return Promise<bool>::error(queue_, gone());
  return desktop->writer().setMinimized(*this, value);
}

base::Status XWindow::close() {
  auto desktop = desktop_.lock();
  if (!desktop) return gone();
  return desktop->writer().close(*this);
}

winsys::UIElementPtr XWindow::uiElement() const {
  return std::make_shared<XUIElement>(weak_from_this());
}

WindowPtr XApplication::mainWindow() const {
  auto desktop = desktop_.lock();
  return desktop && running ? desktop->mainWindowOf(*this) : nullptr;
}

Promise<bool> XApplication::setHidden(bool value) {
  auto desktop = desktop_.lock();
  if (!desktop) return Promise<bool>::error(queue_, gone());
  return desktop->writer().setHidden(*this, value);
}

void XApplication::quit() {
  if (auto desktop = desktop_.lock()) desktop->writer().quit(*this);
}

std::vector<ApplicationPtr> LiveState::runningApplications() const {
  auto desktop = desktop_.lock();
  return desktop ? desktop->running() : std::vector<ApplicationPtr>{};
}

std::optional<std::string> XUIElement::attribute(winsys::UIAttribute attribute) const {
  auto w = window_.lock();
  if (!w || !w->alive) return std::nullopt;
  switch (attribute) {
    case winsys::UIAttribute::role:
      return "AXWindow";
    case winsys::UIAttribute::subrole:
      switch (w->type) {
        case WindowType::dialog:
          return "AXDialog";
        case WindowType::utility:
          return "AXSystemFloatingWindow";
        case WindowType::normal:
          return "AXStandardWindow";
      }
      return std::nullopt;
    case winsys::UIAttribute::title:
      return w->title_;
    case winsys::UIAttribute::identifier:
      return w->role;
    case winsys::UIAttribute::document:
      return w->document_;
    case winsys::UIAttribute::path:
      return std::nullopt;
  }
  return std::nullopt;
}

winsys::UIElementPtr XUIElement::parent() const {
  auto w = window_.lock();
  if (!w || !w->alive) return nullptr;
  auto app = w->app.lock();
  return app ? std::make_shared<XApplicationElement>(app) : nullptr;
}

std::optional<std::string> XApplicationElement::attribute(winsys::UIAttribute attribute) const {
  auto app = application_.lock();
  if (!app || !app->running) return std::nullopt;
  if (attribute == winsys::UIAttribute::role) return "AXApplication";
  return std::nullopt;
}

std::optional<std::vector<winsys::UIElementPtr>> XApplicationElement::children() const {
  auto app = application_.lock();
  if (!app || !app->running) return std::nullopt;
  std::vector<winsys::UIElementPtr> out;
  for (const auto& window : app->windows)
    out.push_back(window->uiElement());
  return out;
}

}  // namespace wendrix::x11::detail
