#pragma once

// One connection to the X server, driven by the main loop: it reads and
// dispatches events whenever the connection's fd is readable, turns protocol
// errors about vanished windows into notifications instead of letting Xlib end
// the process, and survives a lost server (the connection is then "broken").

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/result.h"
#include "dispatch/main_loop.h"
#include "x11/xlib.h"

namespace wendrix::x11 {

// The atoms the backend uses, interned once per connection.
struct Atoms {
  Atom netSupportingWmCheck;
  Atom netClientList;
  Atom netClientListStacking;
  Atom netActiveWindow;
  Atom netWmName;
  Atom netWmPid;
  Atom netWmState;
  Atom netWmStateHidden;
  Atom netWmWindowType;
  Atom netWmWindowTypeNormal;
  Atom netWmWindowTypeDialog;
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

// Told about what arrives on a connection. All calls come on the main thread,
// never from inside an Xlib call.
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
  // Opens `displayName` ("" for $DISPLAY) and starts reading it on `loop`.
  static base::Result<std::shared_ptr<Connection>> open(dispatch::MainLoop& loop,
                                                        const std::string& displayName = "");
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  Display* display() const { return display_; }
  ::Window root() const { return root_; }
  const Atoms& atoms() const { return atoms_; }
  dispatch::Queue& queue() { return loop_; }
  dispatch::MainLoop& loop() { return loop_; }
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

  // True when an EWMH window manager runs: the root's
  // _NET_SUPPORTING_WM_CHECK names a window that names itself.
  bool windowManagerPresent();
  // The check window, or None.
  ::Window supportingWmCheckWindow();

  // Xlib error and IO-error hooks (process-wide, installed on first open).
  void recordError(const XErrorEvent& error);
  void markBroken();

 private:
  Connection(dispatch::MainLoop& loop, Display* display);
  void drain();
  void scheduleDrain();
  void dispatchErrors();
  template <class F>
  void forEachListener(F f);

  dispatch::MainLoop& loop_;
  Display* display_;
  ::Window root_;
  Atoms atoms_{};
  dispatch::WatchHandle watch_;
  bool broken_ = false;
  bool brokenReported_ = false;
  bool drainPosted_ = false;
  std::vector<ConnectionListener*> listeners_;
  std::vector<std::pair<::Window, long>> masks_;
  std::vector<::Window> goneWindows_;
};

// Reading properties. Each returns nothing when the property is missing, has
// another type or the window is gone.
std::optional<std::vector<unsigned long>> readCardinals(Display* display, ::Window window,
                                                        Atom property, Atom type);
std::optional<std::vector<::Window>> readWindows(Display* display, ::Window window, Atom property);
std::optional<std::string> readString(Display* display, ::Window window, Atom property, Atom type);
std::optional<std::vector<Atom>> readAtoms(Display* display, ::Window window, Atom property);
// Sends an EWMH client message about `window` to the root window.
void sendRootMessage(Display* display, ::Window root, ::Window window, Atom type,
                     std::vector<long> data);

}  // namespace wendrix::x11
