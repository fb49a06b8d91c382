#include "model/layout.h"

#include <algorithm>

#include "coding/codable.h"

namespace wendrix {

Layout Layout::initWithApps(std::string name, const std::vector<IApp>& apps) {
  Layout layout;
  layout.name = std::move(name);
  std::vector<IApp> kept;
  for (const IApp& app : apps) {
    if (!app.windows.empty()) kept.push_back(app);
  }
  layout.apps = std::move(kept);
  layout.alwaysCloseOtherApps = false;
  return layout;
}

coding::Value Layout::encode() const {
  coding::Dictionary d;
  coding::put(d, "name", name);
  coding::put(d, "apps", apps.items());
  coding::put(d, "alwaysCloseOtherApps", alwaysCloseOtherApps);
  return d;
}

base::Result<Layout> Layout::decode(const coding::Reader& reader) {
  coding::Fields f(reader);
  Layout layout;
  layout.name = f.required<std::string>("name");
  layout.apps = f.required<std::vector<IApp>>("apps");
  layout.alwaysCloseOtherApps = f.optional<bool>("alwaysCloseOtherApps");
  return f.finish(std::move(layout));
}

bool sameNames(const std::vector<Layout>& a, const std::vector<Layout>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const Layout& x, const Layout& y) { return x.name == y.name; });
}

}  // namespace wendrix
