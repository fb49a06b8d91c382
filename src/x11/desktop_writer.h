#pragma once

// The X11 desktop's writes: each request goes out at once, and its promise
// settles when the server reports the change, or after the write time-out
// with the state read then. The desktop hands each change it reads to the
// settling calls below.

#include "base/result.h"
#include "winsys/promise.h"
#include "winsys/screen_geometry.h"
#include "x11/model.h"

namespace wendrix::x11::detail {

class Desktop;

// Main thread only; a part of the desktop, which it must not outlive.
class DesktopWriter {
 public:
  explicit DesktopWriter(Desktop& desktop) : desktop_(desktop) {}
  DesktopWriter(const DesktopWriter&) = delete;
  DesktopWriter& operator=(const DesktopWriter&) = delete;

  winsys::Promise<winsys::Rect> setFrame(XWindow& w, winsys::Rect frame);
  winsys::Promise<bool> setMinimized(XWindow& w, bool minimized);
  base::Status close(XWindow& w);
  winsys::Promise<bool> setHidden(XApplication& app, bool hidden);
  void quit(XApplication& app);

  // Whether the frame just read is the written one shifted by the client's
  // border; if so the offset is learnt and the frame written again.
  bool correctPlacement(XWindow& w);
  void reapplyFrame(XWindow& w);
  void finishReapply(XWindow& w);
  void settleMinimized(XWindow& w);
  void settleHide(XApplication& app);
  void unhide(XApplication& app, bool later);

 private:
  void sendMoveResize(XWindow& w, const winsys::Rect& r);
  bool allHiddenIconic(const XApplication& app) const;

  Desktop& desktop_;
};

}  // namespace wendrix::x11::detail
