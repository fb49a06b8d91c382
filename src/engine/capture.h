#pragma once

// Turning the window system's live applications and windows into saved
// records, telling which saved application a running one is, and editing the
// application list of a layout.

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "model/app.h"
#include "model/saved_window.h"
#include "platform/bundle/bundle.h"
#include "winsys/window_system.h"

namespace wendrix {

// What capture needs of an application's addon: the encoded state of one
// window, and the records of an application's windows.
class AddonCapture {
 public:
  virtual ~AddonCapture() = default;
  virtual std::optional<base::Bytes> encodedState(const winsys::Window& window) const = 0;
  virtual std::vector<IWindow> captureWindows(
      const std::vector<winsys::WindowPtr>& windows) const = 0;
};

// Addons by application bundle identifier.
class AddonRegistry {
 public:
  virtual ~AddonRegistry() = default;
  // nullptr when the application has no addon.
  virtual const AddonCapture* addon(std::string_view bundleIdentifier) const = 0;
};

// A registry without addons.
class EmptyAddonRegistry final : public AddonRegistry {
 public:
  const AddonCapture* addon(std::string_view) const override { return nullptr; }
};

Rect toRecordRect(const winsys::Rect& r);
winsys::Rect toWindowRect(const Rect& r);

namespace iwindow {

// Records of the windows that are not minimized, in order, indexed from 0
// among themselves; with an addon each carries the addon's state.
std::vector<IWindow> fromWindows(const std::vector<winsys::WindowPtr>& windows,
                                 const AddonCapture* addon = nullptr);

}  // namespace iwindow

namespace iapp {

// The record of a running application: its identifier and URL, its windows
// (through its addon when the registry has one), and its main window with
// index 0 when it has one.
IApp fromApplication(const winsys::Application& application,
                     const AddonRegistry* registry = nullptr);
std::vector<IApp> fromApplications(const std::vector<winsys::ApplicationPtr>& applications,
                                   const AddonRegistry* registry = nullptr);

// Whether `application` is the saved one: by bundle identifier when the
// record has one (alone, whatever the URLs), else by bundle URL, else never.
bool matchesApplication(const IApp& saved, const winsys::Application& application);
// The same as a predicate holding a copy of the record.
std::function<bool(const winsys::Application&)> matching(IApp saved);

}  // namespace iapp

// The application's bundle: at its bundle URL when there is one there, else by
// its bundle identifier.
std::optional<platform::Bundle> bundleOfApplication(const platform::BundleProvider& bundles,
                                                    const winsys::Application& application);

// Every element equal to `app` replaced in place by it; `app` appended when
// none is.
std::vector<IApp> replaceOrAppendApp(std::vector<IApp> apps, const IApp& app);

// False exactly when the two are the same application.
bool isDifferentApp(const IApp& a, const IApp& b);

// `window` (a record with index 0) appended to every element equal to `app`,
// indexed after its windows; when none is, `app` appended with the record as
// its only window and its main window.
std::vector<IApp> addWindowToLayoutApps(std::vector<IApp> apps, const IApp& app, IWindow window);

}  // namespace wendrix
