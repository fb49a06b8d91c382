// Fixture X client for the X11 tests.
//
//   x11_test_client [--class INSTANCE.CLASS] [--gtk-id ID] [--no-pid]
//                   [--new-title PREFIX] [--exit-when-closed]
//                   (--window TITLE [--document TEXT] [--role ROLE] [--no-close] [--legacy]
//                    [--type normal|dialog|utility] [--geometry WxH+X+Y] [--border N])...
//
// Each --window opens a top-level window; the options after it apply to that
// window. Every window sets WM_CLASS, _NET_WM_PID (unless --no-pid),
// WM_CLIENT_MACHINE, a window type (normal unless --type says otherwise), and
// WM_DELETE_WINDOW in WM_PROTOCOLS unless --no-close. A --legacy window is set up as older
// clients do: its title only in WM_NAME, in Latin-1, no window type, and
// transient for the first window (unless it is the first). Control+N (synthetic events accepted)
// opens one more window titled "<PREFIX> <n>"; WM_DELETE_WINDOW destroys the window, and with
// --exit-when-closed the program ends with its last window. Prints "ready" on stdout once every
// window is mapped.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

struct WindowSetup {
  explicit WindowSetup(std::string t) : title(std::move(t)) {}
  std::string title;
  std::string document;
  std::string role;
  // "_NET_WM_WINDOW_TYPE_" + this.
  std::string type = "NORMAL";
  bool closable = true;
  bool legacy = false;
  int x = 100, y = 100;
  unsigned width = 400, height = 300;
  unsigned border = 0;
};

struct Options {
  std::string instance = "fixture";
  std::string className = "Fixture";
  std::string gtkId;
  bool pid = true;
  std::string newTitle = "New Window";
  bool exitWhenClosed = false;
  std::vector<WindowSetup> windows;
};

Display* display = nullptr;
Window firstWindow = None;
Atom wmProtocols, wmDelete, netWmName, utf8, netWmPid, netWmType, document, gtkId, wmWindowRole;

void setText(Window w, Atom property, Atom type, const std::string& value) {
  XChangeProperty(display, w, property, type, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(value.data()),
                  static_cast<int>(value.size()));
}

void setUtf8(Window w, Atom property, const std::string& value) {
  setText(w, property, utf8, value);
}

// Latin-1 of UTF-8 text whose characters all have a Latin-1 code.
std::string latin1(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0xC0 && i + 1 < text.size()) {
      out += static_cast<char>(((c & 0x1F) << 6) | (static_cast<unsigned char>(text[++i]) & 0x3F));
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

Window open(const Options& options, const WindowSetup& setup) {
  const int screen = DefaultScreen(display);
  XSetWindowAttributes attributes{};
  attributes.background_pixel = WhitePixel(display, screen);
  attributes.event_mask = KeyPressMask | StructureNotifyMask;
  Window w = XCreateWindow(display, RootWindow(display, screen), setup.x, setup.y, setup.width,
                           setup.height, setup.border, CopyFromParent, InputOutput, CopyFromParent,
                           CWBackPixel | CWEventMask, &attributes);
  if (setup.legacy) {
    setText(w, XA_WM_NAME, XA_STRING, latin1(setup.title));
    if (firstWindow != None) XSetTransientForHint(display, w, firstWindow);
  } else {
    XStoreName(display, w, setup.title.c_str());
    setUtf8(w, netWmName, setup.title);
    const Atom type = XInternAtom(display, ("_NET_WM_WINDOW_TYPE_" + setup.type).c_str(), False);
    XChangeProperty(display, w, netWmType, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&type), 1);
  }
  if (!setup.document.empty()) setUtf8(w, document, setup.document);
  if (!setup.role.empty()) setText(w, wmWindowRole, XA_STRING, setup.role);
  if (!options.gtkId.empty()) setUtf8(w, gtkId, options.gtkId);
  XClassHint classHint{const_cast<char*>(options.instance.c_str()),
                       const_cast<char*>(options.className.c_str())};
  XSetClassHint(display, w, &classHint);
  XWMHints hints{};
  hints.flags = InputHint | StateHint;
  hints.input = True;
  hints.initial_state = NormalState;
  XSetWMHints(display, w, &hints);
  // The requested position, and no size constraints the window manager could
  // apply to a frame the tests set.
  XSizeHints size{};
  size.flags = USPosition | USSize;
  size.x = setup.x;
  size.y = setup.y;
  size.width = static_cast<int>(setup.width);
  size.height = static_cast<int>(setup.height);
  XSetWMNormalHints(display, w, &size);
  char host[256] = {};
  gethostname(host, sizeof(host) - 1);
  XTextProperty machine;
  char* hostPtr = host;
  if (XStringListToTextProperty(&hostPtr, 1, &machine)) {
    XSetWMClientMachine(display, w, &machine);
    XFree(machine.value);
  }
  if (options.pid) {
    const unsigned long pid = static_cast<unsigned long>(getpid());
    XChangeProperty(display, w, netWmPid, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
  }
  if (setup.closable) XSetWMProtocols(display, w, &wmDelete, 1);
  XMapWindow(display, w);
  if (firstWindow == None) firstWindow = w;
  return w;
}

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* value = nullptr;
    if (arg == "--class" && (value = next())) {
      const std::string v = value;
      const auto dot = v.find('.');
      if (dot == std::string::npos) return false;
      options.instance = v.substr(0, dot);
      options.className = v.substr(dot + 1);
    } else if (arg == "--gtk-id" && (value = next())) {
      options.gtkId = value;
    } else if (arg == "--no-pid") {
      options.pid = false;
    } else if (arg == "--new-title" && (value = next())) {
      options.newTitle = value;
    } else if (arg == "--exit-when-closed") {
      options.exitWhenClosed = true;
    } else if (arg == "--window" && (value = next())) {
      options.windows.push_back(WindowSetup{value});
    } else if (arg == "--document" && !options.windows.empty() && (value = next())) {
      options.windows.back().document = value;
    } else if (arg == "--role" && !options.windows.empty() && (value = next())) {
      options.windows.back().role = value;
    } else if (arg == "--type" && !options.windows.empty() && (value = next())) {
      const std::string type = value;
      if (type == "normal") {
        options.windows.back().type = "NORMAL";
      } else if (type == "dialog") {
        options.windows.back().type = "DIALOG";
      } else if (type == "utility") {
        options.windows.back().type = "UTILITY";
      } else {
        return false;
      }
    } else if (arg == "--no-close" && !options.windows.empty()) {
      options.windows.back().closable = false;
    } else if (arg == "--legacy" && !options.windows.empty()) {
      options.windows.back().legacy = true;
    } else if (arg == "--border" && !options.windows.empty() && (value = next())) {
      options.windows.back().border = static_cast<unsigned>(std::atoi(value));
    } else if (arg == "--geometry" && !options.windows.empty() && (value = next())) {
      WindowSetup& setup = options.windows.back();
      if (std::sscanf(value, "%ux%u+%d+%d", &setup.width, &setup.height, &setup.x, &setup.y) != 4) {
        return false;
      }
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    std::fprintf(stderr, "x11_test_client: bad arguments\n");
    return 2;
  }
  display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "x11_test_client: cannot open display\n");
    return 1;
  }
  wmProtocols = XInternAtom(display, "WM_PROTOCOLS", False);
  wmDelete = XInternAtom(display, "WM_DELETE_WINDOW", False);
  netWmName = XInternAtom(display, "_NET_WM_NAME", False);
  utf8 = XInternAtom(display, "UTF8_STRING", False);
  netWmPid = XInternAtom(display, "_NET_WM_PID", False);
  netWmType = XInternAtom(display, "_NET_WM_WINDOW_TYPE", False);
  document = XInternAtom(display, "_WENDRIX_DOCUMENT", False);
  gtkId = XInternAtom(display, "_GTK_APPLICATION_ID", False);
  wmWindowRole = XInternAtom(display, "WM_WINDOW_ROLE", False);

  std::vector<Window> windows;
  for (const WindowSetup& setup : options.windows)
    windows.push_back(open(options, setup));
  XSync(display, False);
  std::printf("ready\n");
  std::fflush(stdout);

  int opened = 0;
  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == KeyPress) {
      const KeySym sym = XLookupKeysym(&event.xkey, 0);
      if ((sym == XK_n || sym == XK_N) && (event.xkey.state & ControlMask)) {
        WindowSetup setup{options.newTitle + " " + std::to_string(++opened)};
        windows.push_back(open(options, setup));
        XFlush(display);
      }
    } else if (event.type == ClientMessage && event.xclient.message_type == wmProtocols &&
               static_cast<Atom>(event.xclient.data.l[0]) == wmDelete) {
      XDestroyWindow(display, event.xclient.window);
      std::erase(windows, event.xclient.window);
      XFlush(display);
      if (windows.empty() && options.exitWhenClosed) break;
    }
  }
  XCloseDisplay(display);
  return 0;
}
