#pragma once

// The X11 backend's applications and windows as the engine sees them. They
// hold what was last read of the server; every write goes through the
// Desktop, which keeps them current.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/queue.h"
#include "platform/xconn/xlib.h"
#include "winsys/window_system.h"
#include "x11/pending_writes.h"
#include "x11/process_watch.h"
#include "x11/window_properties.h"

namespace wendrix::x11::detail {

class Desktop;
class XApplication;

// What writes fail with: the window or application is gone; the change was
// refused (or did not show in time).
base::Error gone();
base::Error refused();

class XWindow final : public winsys::Window, public std::enable_shared_from_this<XWindow> {
 public:
  XWindow(std::weak_ptr<Desktop> desktop, dispatch::Queue& queue, ::Window window,
          std::uint64_t identity)
      : desktop_(std::move(desktop)), queue_(queue), xid(window), identity_(identity) {}

  winsys::ApplicationPtr application() const override;
  std::string title() const override { return title_; }
  winsys::Rect frame() const override { return pendingFrame.value_or(frame_); }
  winsys::Promise<winsys::Rect> setFrame(winsys::Rect frame) override;
  bool isMinimized() const override { return minimized; }
  winsys::Promise<bool> setMinimized(bool minimized) override;
  std::optional<std::string> document() const override { return document_; }
  winsys::UIElementPtr uiElement() const override;
  base::Status close() override;
  std::uint64_t identity() const override { return identity_; }

  std::weak_ptr<Desktop> desktop_;
  dispatch::Queue& queue_;
  const ::Window xid;
  const std::uint64_t identity_;
  std::weak_ptr<XApplication> app;
  std::string title_;
  winsys::Rect frame_;
  bool minimized = false;
  std::optional<std::string> document_;
  std::optional<std::string> role;
  WindowType type = WindowType::normal;
  bool closable = false;
  bool alive = true;
  // A frame written while minimized, applied again once shown; frame() reads
  // it until the window has it.
  std::optional<winsys::Rect> pendingFrame;
  bool reapplying = false;
  // The frame last written and not yet seen on the window.
  std::optional<winsys::Rect> written;
  // How far the window manager puts the client area from the position
  // written: the client's own X border width, which some window managers add
  // (they take the border off but keep placing as if it were there). Learnt
  // from the first write that comes back off by it, then taken off every write.
  std::optional<int> placementOffset;
  dispatch::TimerHandle reapplyTimer;
  PendingWrites<winsys::Rect> frameWaits;
  PendingWrites<bool> minimizedWaits;
};

class XApplication final : public winsys::Application,
                           public std::enable_shared_from_this<XApplication> {
 public:
  XApplication(std::weak_ptr<Desktop> desktop, dispatch::Queue& queue, std::string appKey,
               std::uint64_t identity)
      : desktop_(std::move(desktop)), queue_(queue), key(std::move(appKey)), identity_(identity) {}

  std::optional<std::string> bundleIdentifier() const override { return bundleId; }
  std::optional<base::Url> bundleURL() const override { return bundleUrl; }
  std::int32_t processIdentifier() const override { return pids.empty() ? 0 : pids.front(); }
  std::vector<winsys::WindowPtr> knownWindows() const override {
    return {windows.begin(), windows.end()};
  }
  winsys::WindowPtr mainWindow() const override;
  bool isHidden() const override { return hidden; }
  winsys::Promise<bool> setHidden(bool hidden) override;
  void quit() override;
  std::uint64_t identity() const override { return identity_; }

  std::weak_ptr<Desktop> desktop_;
  dispatch::Queue& queue_;
  const std::string key;
  const std::uint64_t identity_;
  std::optional<std::string> bundleId;
  std::optional<base::Url> bundleUrl;
  std::vector<std::int32_t> pids;
  std::vector<std::unique_ptr<ProcessWatch>> processes;
  std::vector<std::shared_ptr<XWindow>> windows;
  bool running = true;
  bool hidden = false;
  bool hiding = false;
  std::vector<::Window> hiddenByUs;
  PendingWrites<bool> hideWaits;
  ::Window lastActive = None;
  ::Window lastMain = None;
  ::Window lastFocused = None;
};

// The state initialize() hands out: the desktop's applications, read live.
class LiveState final : public winsys::State {
 public:
  explicit LiveState(std::weak_ptr<Desktop> desktop) : desktop_(std::move(desktop)) {}
  std::vector<winsys::ApplicationPtr> runningApplications() const override;

 private:
  std::weak_ptr<Desktop> desktop_;
};

// A window's few accessibility-like attributes, read live from its X
// properties: role "AXWindow"; subrole "AXDialog", "AXSystemFloatingWindow"
// (utility windows) or "AXStandardWindow"; title; identifier from
// WM_WINDOW_ROLE; document from _WENDRIX_DOCUMENT. No children; its parent is
// its application's element.
class XUIElement final : public winsys::UIElement {
 public:
  explicit XUIElement(std::weak_ptr<const XWindow> window) : window_(std::move(window)) {}

  std::optional<std::string> attribute(winsys::UIAttribute attribute) const override;
  std::optional<std::vector<winsys::UIElementPtr>> children() const override {
    return std::vector<winsys::UIElementPtr>{};
  }
  winsys::UIElementPtr parent() const override;

 private:
  std::weak_ptr<const XWindow> window_;
};

// An application's element: role "AXApplication" and its windows' elements
// as children. X11 has no menu bar to offer, so it has none.
class XApplicationElement final : public winsys::UIElement {
 public:
  explicit XApplicationElement(std::weak_ptr<const XApplication> application)
      : application_(std::move(application)) {}

  std::optional<std::string> attribute(winsys::UIAttribute attribute) const override;
  std::optional<std::vector<winsys::UIElementPtr>> children() const override;
  winsys::UIElementPtr parent() const override { return nullptr; }

 private:
  std::weak_ptr<const XApplication> application_;
};

}  // namespace wendrix::x11::detail
