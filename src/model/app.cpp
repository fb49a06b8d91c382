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

}  // namespace wendrix
