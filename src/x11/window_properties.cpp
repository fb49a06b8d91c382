#include "x11/window_properties.h"

#include <unistd.h>

#include <algorithm>

#include "base/utf8.h"
#include "platform/xconn/client_process.h"
#include "platform/xconn/ewmh.h"
#include "platform/xconn/property.h"

namespace wendrix::x11::detail {

namespace {

using winsys::Rect;
using xconn::PendingReply;
using xconn::PropertyRead;

std::string latin1ToUtf8(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The client area in root coordinates: its size, and where its origin lies
// on the root (the window manager's frame is its parent). Both requests go
// out together.
class FrameRead {
 public:
  FrameRead(xconn::Connection& connection, ::Window window) {
    if (connection.broken()) return;
    xcb_connection_t* c = connection.xcb();
    const auto xid = static_cast<xcb_window_t>(window);
    geometry_ = PendingReply(connection, xcb_get_geometry(c, xid).sequence);
    position_ = PendingReply(
        connection,
        xcb_translate_coordinates(c, xid, static_cast<xcb_window_t>(connection.root()), 0, 0)
            .sequence);
  }

  std::optional<Rect> take() {
    auto geometry = geometry_.take<xcb_get_geometry_reply_t>();
    auto position = position_.take<xcb_translate_coordinates_reply_t>();
    if (!geometry || !position || !position->same_screen) return std::nullopt;
    return Rect{static_cast<double>(position->dst_x), static_cast<double>(position->dst_y),
                static_cast<double>(geometry->width), static_cast<double>(geometry->height)};
  }

 private:
  PendingReply geometry_;
  PendingReply position_;
};

std::optional<std::string> titleFromNetWmName(std::optional<std::string> name) {
  if (!name) return std::nullopt;
  return base::repairUtf8(*name);
}

// WM_NAME in Latin-1 (STRING) or, as clients do, in UTF-8 under another type.
std::string titleFromWmName(const std::optional<xconn::Property>& name) {
  if (!name || name->format != 8) return "";
  return name->type == XA_STRING ? latin1ToUtf8(name->bytes) : base::repairUtf8(name->bytes);
}

bool hiddenInNetWmState(const std::optional<std::vector<unsigned long>>& states, Atom hidden) {
  return states && std::find(states->begin(), states->end(), hidden) != states->end();
}

std::optional<std::string> documentFrom(std::optional<std::string> document) {
  if (!document || document->empty()) return std::nullopt;
  return base::repairUtf8(*document);
}

bool closableFrom(const std::optional<std::vector<unsigned long>>& protocols, Atom deleteWindow) {
  return protocols &&
         std::find(protocols->begin(), protocols->end(), deleteWindow) != protocols->end();
}

// WM_CLASS holds the instance name and the class name, each ending in a NUL.
void classFrom(const std::optional<std::string>& wmClass, platform::WindowOwnerHints& hints) {
  if (!wmClass) return;
  const std::string& bytes = *wmClass;
  const std::size_t nameEnd = std::min(bytes.find('\0'), bytes.size());
  hints.wmInstance = bytes.substr(0, nameEnd);
  if (nameEnd >= bytes.size()) {
    hints.wmClass = "";
    return;
  }
  const std::size_t classEnd = std::min(bytes.find('\0', nameEnd + 1), bytes.size());
  hints.wmClass = bytes.substr(nameEnd + 1, classEnd - nameEnd - 1);
}

// Whether a WM_CLIENT_MACHINE names this machine (or is missing).
bool isLocal(const std::optional<std::string>& machine, const std::optional<std::string>& host) {
  return !machine || !host || *machine == *host;
}

std::optional<std::string> hostName() {
  char host[256] = {};
  if (::gethostname(host, sizeof(host) - 1) != 0) return std::nullopt;
  return std::string(host);
}

// What every window seen for the first time needs.
struct FirstReads {
  FirstReads(xconn::Connection& c, ::Window w)
      : frame(c, w),
        type(c, w, c.atoms().netWmWindowType, XA_ATOM),
        netWmName(c, w, c.atoms().netWmName, c.atoms().utf8String),
        wmState(c, w, c.atoms().wmState, c.atoms().wmState),
        document(c, w, c.atoms().wendrixDocument, c.atoms().utf8String),
        protocols(c, w, c.atoms().wmProtocols, XA_ATOM),
        role(c, w, c.atoms().wmWindowRole, XA_STRING),
        pid(c, w, c.atoms().netWmPid, XA_CARDINAL),
        wmClass(c, w, XA_WM_CLASS, XA_STRING),
        gtkApplicationId(c, w, c.atoms().gtkApplicationId),
        kdeDesktopFile(c, w, c.atoms().kdeNetWmDesktopFile),
        machine(c, w, c.atoms().wmClientMachine, XA_STRING) {}

  FrameRead frame;
  PropertyRead type, netWmName, wmState, document, protocols, role, pid, wmClass, gtkApplicationId,
      kdeDesktopFile, machine;
};

// What only some windows need: the older property where the newer is
// missing.
struct Fallbacks {
  PropertyRead transientFor;
  PropertyRead wmName;
  PropertyRead netWmState;
};

}  // namespace

std::vector<std::optional<WindowFacts>> WindowProperties::readAll(
    const std::vector<::Window>& windows) {
  const xconn::Atoms& atoms = conn_.atoms();
  // Every request goes out before the first reply is awaited.
  std::vector<FirstReads> reads;
  reads.reserve(windows.size());
  for (::Window window : windows)
    reads.emplace_back(conn_, window);

  const auto host = hostName();
  std::vector<std::optional<WindowFacts>> facts(windows.size());
  std::vector<Fallbacks> fallbacks(windows.size());
  for (std::size_t i = 0; i < windows.size(); ++i) {
    FirstReads& r = reads[i];
    auto frame = r.frame.take();
    if (!frame) continue;  // gone
    // Normal, dialog and utility windows; a window without a type is normal
    // (or a dialog when transient).
    WindowFacts f;
    const auto types = r.type.takeValues();
    if (!types || types->empty()) {
      fallbacks[i].transientFor = PropertyRead(conn_, windows[i], XA_WM_TRANSIENT_FOR, XA_WINDOW);
    } else {
      auto known = std::find_if(types->begin(), types->end(), [&](unsigned long type) {
        return type == atoms.netWmWindowTypeNormal || type == atoms.netWmWindowTypeDialog ||
               type == atoms.netWmWindowTypeUtility;
      });
      if (known == types->end()) continue;
      if (*known == atoms.netWmWindowTypeDialog) f.type = WindowType::dialog;
      if (*known == atoms.netWmWindowTypeUtility) f.type = WindowType::utility;
    }
    f.frame = *frame;
    if (auto title = titleFromNetWmName(r.netWmName.takeText())) {
      f.title = std::move(*title);
    } else {
      fallbacks[i].wmName = PropertyRead(conn_, windows[i], XA_WM_NAME);
    }
    if (auto iconic = xconn::iconicFromWmState(r.wmState.takeValues())) {
      f.minimized = *iconic;
    } else {
      fallbacks[i].netWmState = PropertyRead(conn_, windows[i], atoms.netWmState, XA_ATOM);
    }
    f.document = documentFrom(r.document.takeText());
    f.closable = closableFrom(r.protocols.takeValues(), atoms.wmDeleteWindow);
    f.role = r.role.takeText();
    if (auto pid = xconn::processFromWmPid(r.pid.takeValues())) f.hints.pid = *pid;
    classFrom(r.wmClass.takeText(), f.hints);
    f.hints.gtkApplicationId = r.gtkApplicationId.takeText();
    f.hints.kdeDesktopFile = r.kdeDesktopFile.takeText();
    if (!isLocal(r.machine.takeText(), host)) {
      f.hints.pid = 0;
    } else if (f.hints.pid == 0) {
      // A client that does not name its process (xcalc): the server knows it.
      f.hints.pid = xconn::clientProcessOf(conn_, windows[i]).value_or(0);
    }
    facts[i] = std::move(f);
  }

  for (std::size_t i = 0; i < windows.size(); ++i) {
    if (!facts[i]) continue;
    WindowFacts& f = *facts[i];
    Fallbacks& more = fallbacks[i];
    if (auto owner = more.transientFor.takeValues(); owner && !owner->empty()) {
      if (owner->front() != None) f.type = WindowType::dialog;
    }
    if (auto name = more.wmName.take()) f.title = titleFromWmName(name);
    if (auto states = more.netWmState.takeValues()) {
      f.minimized = hiddenInNetWmState(states, atoms.netWmStateHidden);
    }
  }
  return facts;
}

std::optional<Rect> WindowProperties::frame(::Window window) {
  return FrameRead(conn_, window).take();
}

std::string WindowProperties::title(::Window window) {
  if (auto title = titleFromNetWmName(
          xconn::readText(conn_, window, conn_.atoms().netWmName, conn_.atoms().utf8String))) {
    return *title;
  }
  return titleFromWmName(PropertyRead(conn_, window, XA_WM_NAME).take());
}

bool WindowProperties::minimized(::Window window) {
  const xconn::Atoms& atoms = conn_.atoms();
  if (auto iconic = xconn::iconic(conn_, window)) return *iconic;
  return hiddenInNetWmState(xconn::readAtoms(conn_, window, atoms.netWmState),
                            atoms.netWmStateHidden);
}

std::optional<std::string> WindowProperties::document(::Window window) {
  return documentFrom(
      xconn::readText(conn_, window, conn_.atoms().wendrixDocument, conn_.atoms().utf8String));
}

bool WindowProperties::closable(::Window window) {
  return closableFrom(xconn::readAtoms(conn_, window, conn_.atoms().wmProtocols),
                      conn_.atoms().wmDeleteWindow);
}

}  // namespace wendrix::x11::detail
