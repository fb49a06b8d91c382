#include "x11/x11_accessibility_trust.h"

#include <ostream>
#include <vector>

#include "platform/xconn/ewmh.h"

namespace wendrix::x11 {

X11AccessibilityTrust::X11AccessibilityTrust(std::shared_ptr<xconn::Connection> connection,
                                             std::ostream& log)
    : connection_(std::move(connection)), log_(log) {
  if (!connection_) return;
  connection_->addListener(this);
  connection_->selectInput(connection_->root(), PropertyChangeMask);
  watchCheckWindow();
  connection_->flush();
}

X11AccessibilityTrust::~X11AccessibilityTrust() {
  if (connection_) connection_->removeListener(this);
}

bool X11AccessibilityTrust::checkIsProcessTrusted(bool prompt) {
  const bool trusted = connection_ && xconn::windowManagerPresent(*connection_);
  if (!trusted && prompt) {
    log_ << "Wendrix needs an X11 session with an EWMH window manager to see and arrange "
            "windows; none was found.\n";
  }
  return trusted;
}

std::uint64_t X11AccessibilityTrust::addChangeObserver(std::function<void()> observer) {
  const std::uint64_t token = nextToken_++;
  observers_.emplace(token, std::move(observer));
  return token;
}

void X11AccessibilityTrust::removeChangeObserver(std::uint64_t token) {
  observers_.erase(token);
}

// The window manager's check window goes away with it, so its destruction
// tells of the window manager's end even when the root property stays.
void X11AccessibilityTrust::watchCheckWindow() {
  checkWindow_ = xconn::supportingWmCheckWindow(*connection_);
  if (checkWindow_ != None) connection_->selectInput(checkWindow_, StructureNotifyMask);
}

void X11AccessibilityTrust::onEvent(const XEvent& event) {
  if (event.type == PropertyNotify && event.xproperty.window == connection_->root() &&
      event.xproperty.atom == connection_->atoms().netSupportingWmCheck) {
    watchCheckWindow();
    changed();
  } else if (event.type == DestroyNotify && checkWindow_ != None &&
             event.xdestroywindow.window == checkWindow_) {
    connection_->forgetWindow(checkWindow_);
    checkWindow_ = None;
    changed();
  }
}

void X11AccessibilityTrust::onBroken() {
  changed();
}

void X11AccessibilityTrust::changed() {
  std::vector<std::uint64_t> tokens;
  for (const auto& [token, observer] : observers_)
    tokens.push_back(token);
  for (std::uint64_t token : tokens) {
    auto it = observers_.find(token);
    if (it != observers_.end()) {
      auto observer = it->second;
      observer();
    }
  }
}

}  // namespace wendrix::x11
