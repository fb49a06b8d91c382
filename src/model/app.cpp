#include "model/app.h"

#include "coding/codable.h"

namespace wendrix {
namespace {

void combine(std::size_t& seed, std::size_t value) {
  seed ^= value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2);
}

}  // namespace

std::size_t IApp::hash() const {
  std::size_t seed = 0;
  if (bundleId) {
    combine(seed, 1);
    combine(seed, std::hash<std::string>{}(*bundleId));
  } else {
    combine(seed, 0);
  }
  if (bundleURL) {
    combine(seed, 1);
    combine(seed, std::hash<base::Url>{}(*bundleURL));
  } else {
    combine(seed, 0);
  }
  return seed;
}

coding::Value IApp::encode() const {
  coding::Dictionary d;
  coding::put(d, "bundleId", bundleId);
  coding::put(d, "bundleURL", bundleURL);
  coding::put(d, "windows", windows);
  coding::put(d, "mainWindow", mainWindow);
  return d;
}

base::Result<IApp> IApp::decode(const coding::Reader& reader) {
  coding::Fields f(reader);
  IApp app;
  app.bundleId = f.optional<std::string>("bundleId");
  app.bundleURL = f.optional<base::Url>("bundleURL");
  app.windows = f.required<std::vector<IWindow>>("windows");
  app.mainWindow = f.optional<IWindow>("mainWindow");
  return f.finish(std::move(app));
}

std::optional<IApp> IApp::decodeStored(const coding::PlistObject& object) {
  static constexpr std::string_view kKeys[] = {"bundleId", "bundleURL", "windows", "mainWindow"};
  std::optional<coding::PlistObject> found[4];
  if (!object.members(kKeys, found)) return std::nullopt;
  const auto& [bundleId, bundleURL, windows, mainWindow] = found;
  IApp app;
  if (!coding::optionalString(bundleId, app.bundleId)) return std::nullopt;
  if (bundleURL) {
    app.bundleURL = bundleURL->url();
    if (!app.bundleURL) return std::nullopt;
  }
  if (!windows || !windows->isArray()) return std::nullopt;
  const std::size_t count = windows->size();
  app.windows.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    auto window = IWindow::decodeStored((*windows)[i]);
    if (!window) return std::nullopt;
    app.windows.push_back(std::move(*window));
  }
  if (mainWindow) {
    app.mainWindow = IWindow::decodeStored(*mainWindow);
    if (!app.mainWindow) return std::nullopt;
  }
  return app;
}

}  // namespace wendrix
