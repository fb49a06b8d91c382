#pragma once

// The X11 backend's model of the desktop, and what keeps it current.
//
// The model (applications and windows) is built from the X server's answers
// and kept current from events: _NET_CLIENT_LIST and _NET_ACTIVE_WINDOW
// changes on the root, property, configure and destroy events on each window,
// BadWindow errors, and the exit of each application process (a pidfd on the
// loop). Every change updates the model first and then notifies, in the order
// it happened. Writes send their request and wait, as a list of targets per
// window, for the event that shows the change; a timer on the loop bounds each
// wait, after which the state is read once more and the promise settles on
// that. An event a write call causes itself is queued on the loop before its
// request goes out, so it precedes what the reply brings.
//
// Desktop follows the server; its DesktopWriter makes the changes and
// DesktopEvents sends the notifications.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "platform/bundle/bundle.h"
#include "platform/bundle/bundle_id_resolver.h"
#include "platform/xconn/connection.h"
#include "winsys/event_notifier.h"
#include "winsys/events.h"
#include "x11/desktop_events.h"
#include "x11/desktop_writer.h"
#include "x11/model.h"
#include "x11/window_properties.h"
#include "x11/x11_window_system.h"

namespace wendrix::x11::detail {

class Desktop final : public xconn::ConnectionListener,
                      public std::enable_shared_from_this<Desktop> {
 public:
  // `connection` must be driven by a main loop.
  Desktop(std::shared_ptr<xconn::Connection> connection, const platform::BundleIdResolver& resolver,
          const platform::BundleProvider* bundles, X11WindowSystemOptions options);
  ~Desktop() override;

  dispatch::MainLoop& queue() { return loop_; }

  winsys::Promise<winsys::StatePtr> initialize(winsys::EventNotifier& notifier);
  std::vector<winsys::ApplicationPtr> running() const { return {apps_.begin(), apps_.end()}; }
  std::vector<std::int32_t> processesOf(std::int32_t pid) const;
  winsys::WindowPtr mainWindowOf(const XApplication& app) const;

  // The writes.
  DesktopWriter& writer() { return writer_; }

  // What the connection reports.
  void onEvent(const XEvent& event) override;
  void onWindowGone(::Window window) override;
  void onBroken() override;

 private:
  // The writer follows the state it waits on, and sends the events of its
  // own changes.
  friend class DesktopWriter;

  std::shared_ptr<XWindow> find(::Window xid) const;

  // Following the server.
  void syncClientList();
  void addWindows(const std::vector<::Window>& xids);
  void addWindow(::Window xid, WindowFacts facts);
  std::shared_ptr<XApplication> applicationFor(const platform::WindowOwnerHints& hints);
  void watchProcess(XApplication& app, std::int32_t pid);
  void processExited(XApplication& app, std::int32_t pid);
  void terminateIfIdle(XApplication& app);
  void removeWindow(::Window xid);
  // Drops `xid` from the ignored windows, with its event selection.
  void forgetIgnored(::Window xid);
  void refreshTitle(XWindow& w);
  void refreshFrame(XWindow& w);
  void refreshMinimized(XWindow& w);
  void syncActive();
  void updateFocus(XApplication& app);
  void setFrontmost(std::shared_ptr<XApplication> app);

  std::shared_ptr<xconn::Connection> conn_;
  dispatch::MainLoop& loop_;
  Display* display_;
  const xconn::Atoms& atoms_;
  WindowProperties properties_;
  const platform::BundleIdResolver& resolver_;
  const platform::BundleProvider* bundles_;
  X11WindowSystemOptions options_;
  std::shared_ptr<DesktopEvents> events_;
  DesktopWriter writer_{*this};
  bool started_ = false;
  std::map<::Window, std::shared_ptr<XWindow>> windows_;
  std::vector<::Window> ignored_;
  std::vector<std::shared_ptr<XApplication>> apps_;
  std::shared_ptr<XApplication> frontmost_;
  ::Window active_ = None;
  std::uint64_t nextIdentity_ = 1;
};

}  // namespace wendrix::x11::detail
