#include "engine/capture.h"

#include <utility>

namespace wendrix {

Rect toRecordRect(const winsys::Rect& r) {
  return Rect{r.x, r.y, r.width, r.height};
}
winsys::Rect toWindowRect(const Rect& r) {
  return winsys::Rect{r.x, r.y, r.width, r.height};
}

namespace {

IWindow recordOf(const winsys::Window& window, std::int64_t index, const AddonCapture* addon) {
  IWindow record;
  record.title = window.title();
  record.rect = toRecordRect(window.frame());
  record.index = index;
  record.doc = window.document();
  if (addon) record.addonState = addon->encodedState(window);
  return record;
}

}  // namespace

namespace iwindow {

std::vector<IWindow> fromWindows(const std::vector<winsys::WindowPtr>& windows,
                                 const AddonCapture* addon) {
  std::vector<IWindow> records;
  for (const auto& window : windows) {
    if (!window || window->isMinimized()) continue;
    records.push_back(recordOf(*window, static_cast<std::int64_t>(records.size()), addon));
  }
  return records;
}

}  // namespace iwindow

namespace iapp {

IApp fromApplication(const winsys::Application& application, const AddonRegistry* registry) {
  IApp app;
  app.bundleId = application.bundleIdentifier();
  app.bundleURL = application.bundleURL();
  const AddonCapture* addon = registry && app.bundleId ? registry->addon(*app.bundleId) : nullptr;
  const auto known = application.knownWindows();
  app.windows = addon ? addon->captureWindows(known) : iwindow::fromWindows(known);
  if (auto main = application.mainWindow()) app.mainWindow = recordOf(*main, 0, addon);
  return app;
}

std::vector<IApp> fromApplications(const std::vector<winsys::ApplicationPtr>& applications,
                                   const AddonRegistry* registry) {
  std::vector<IApp> apps;
  apps.reserve(applications.size());
  for (const auto& application : applications) {
    if (application) apps.push_back(fromApplication(*application, registry));
  }
  return apps;
}

bool matchesApplication(const IApp& saved, const winsys::Application& application) {
  if (saved.bundleId) return application.bundleIdentifier() == saved.bundleId;
  if (saved.bundleURL) return application.bundleURL() == saved.bundleURL;
  return false;
}

std::function<bool(const winsys::Application&)> matching(IApp saved) {
  return [saved = std::move(saved)](const winsys::Application& application) {
    return matchesApplication(saved, application);
  };
}

}  // namespace iapp

std::optional<platform::Bundle> bundleOfApplication(const platform::BundleProvider& bundles,
                                                    const winsys::Application& application) {
  if (auto url = application.bundleURL()) {
    if (auto bundle = bundles.bundleAt(*url)) return bundle;
  }
  if (auto id = application.bundleIdentifier()) return bundles.bundleWithIdentifier(*id);
  return std::nullopt;
}

std::vector<IApp> replaceOrAppendApp(std::vector<IApp> apps, const IApp& app) {
  bool replaced = false;
  for (auto& element : apps) {
    if (element == app) {
      element = app;
      replaced = true;
    }
  }
  if (!replaced) apps.push_back(app);
  return apps;
}

bool isDifferentApp(const IApp& a, const IApp& b) {
  return !(a == b);
}

std::vector<IApp> addWindowToLayoutApps(std::vector<IApp> apps, const IApp& app, IWindow window) {
  bool added = false;
  for (auto& element : apps) {
    if (!(element == app)) continue;
    IWindow record = window;
    record.index = static_cast<std::int64_t>(element.windows.size());
    element.windows.push_back(std::move(record));
    added = true;
  }
  if (!added) {
    IApp fresh = app;
    window.index = 0;
    fresh.windows = {window};
    fresh.mainWindow = window;
    apps.push_back(std::move(fresh));
  }
  return apps;
}

}  // namespace wendrix
