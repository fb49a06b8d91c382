#pragma once

// The one connection layer to the X server, shared by the window system on
// X11 and the platform services that act on other processes' windows.
//
// A protocol error never ends the process: errors about windows that went
// away are reported to the listeners (or counted by `run`), and a lost server
// marks the connection broken instead of exiting. Opened with a main loop, the
// connection reads and dispatches its events there whenever its fd is
// readable; opened without one it serves requests and replies only (select no
// events on it). Each connection is used on one thread (the loop's, when it
// has one); opening and closing are safe on any.

#include <xcb/xcb.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/result.h"
#include "dispatch/main_loop.h"
#include "platform/xconn/xlib.h"

namespace platform::xconn {

// The atoms the desktop layers use, interned once per connection.
struct Atoms {
  Atom netSupportingWmCheck;
  Atom netClientList;
  Atom netClientListStacking;
  Atom netActiveWindow;
  Atom netRestackWindow;
  Atom netWmName;
  Atom netWmPid;
  Atom netWmState;
  Atom netWmStateHidden;
  Atom netWmWindowType;
  Atom netWmWindowTypeNormal;
  Atom netWmWindowTypeDialog;
  Atom netWmWindowTypeUtility;
  Atom netMoveresizeWindow;
  Atom netCloseWindow;
  Atom utf8String;
  Atom wmState;
  Atom wmProtocols;
  Atom wmDeleteWindow;
  Atom wmChangeState;
  Atom wmWindowRole;
  Atom wmClientMachine;
  Atom gtkApplicationId;
  Atom kdeNetWmDesktopFile;
  Atom wendrixDocument;
};

// Told about what arrives on a loop-driven connection. All calls come on the
// main thread, never from inside an Xlib call.
class ConnectionListener {
 public:
  virtual ~ConnectionListener() = default;
  virtual void onEvent(const XEvent& event) = 0;
  // A request failed because the window no longer exists.
  virtual void onWindowGone(::Window window) { (void)window; }
  // The connection to the server was lost; nothing works any more.
  virtual void onBroken() {}
};

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  // Opens `displayName` ("" for $DISPLAY) for requests and replies only.
  static base::Result<std::shared_ptr<Connection>> open(const std::string& displayName = "");
  // Opens `displayName` and reads its events on `loop`, which must outlive it.
  static base::Result<std::shared_ptr<Connection>> open(dispatch::MainLoop& loop,
                                                        const std::string& displayName = "");
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  Display* display() const { return display_; }
  // The XCB connection under Xlib, for requests whose replies are collected
  // later (see PendingReply).
  xcb_connection_t* xcb() const { return xcb_; }
  ::Window root() const { return root_; }
  const Atoms& atoms() const { return atoms_; }
  // The loop the connection reads on; null when opened without one.
  dispatch::MainLoop* loop() const { return loop_; }
  bool broken() const { return broken_; }

  // Listeners are not owned and must remove themselves before they go.
  void addListener(ConnectionListener* listener);
  void removeListener(ConnectionListener* listener);

  // Adds `mask` to the events this connection selects on `window` (Xlib
  // replaces the mask on each call; this keeps the union of all callers').
  void selectInput(::Window window, long mask);
  void forgetWindow(::Window window);

  // Sends what was requested and, when a round trip left events queued inside
  // Xlib (where the fd watch cannot see them), dispatches them on the loop
  // soon. Call after talking to the server outside an event handler.
  void flush();

  // Makes the requests `requests` makes and waits until the server has
  // handled them; false when one failed (such as a window gone meanwhile) or
  // the connection is broken.
  bool run(const std::function<void(Display*)>& requests);

  // Told by the error hooks and by replies that carry an error about the
  // request numbered `serial`.
  void noteError(int code, unsigned long resource, unsigned long serial);
  // Told after waiting for a reply: events that came meanwhile wait in the
  // library, where the fd watch cannot see them.
  void noteReplyWaited();
  void markBroken();

 private:
  Connection(dispatch::MainLoop* loop, Display* display);
  static base::Result<std::shared_ptr<Connection>> openOn(dispatch::MainLoop* loop,
                                                          const std::string& displayName);
  void drain();
  void scheduleDrain();
  void dispatchErrors();
  template <class F>
  void forEachListener(F f);

  dispatch::MainLoop* loop_;
  Display* display_;
  xcb_connection_t* xcb_;
  ::Window root_;
  Atoms atoms_{};
  dispatch::WatchHandle watch_;
  bool broken_ = false;
  bool brokenReported_ = false;
  bool drainPosted_ = false;
  bool trapping_ = false;
  unsigned long trapStart_ = 0;
  int trappedErrors_ = 0;
  std::vector<ConnectionListener*> listeners_;
  std::vector<std::pair<::Window, long>> masks_;
  std::vector<::Window> goneWindows_;
};

}  // namespace platform::xconn
