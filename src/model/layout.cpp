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

std::optional<Layout> Layout::decodeStored(const coding::PlistObject& object) {
  static constexpr std::string_view kKeys[] = {"name", "apps", "alwaysCloseOtherApps"};
  std::optional<coding::PlistObject> found[3];
  if (!object.members(kKeys, found)) return std::nullopt;
  const auto& [name, apps, close] = found;
  Layout layout;
  if (!name || !name->string(layout.name)) return std::nullopt;
  if (!apps || !apps->isArray()) return std::nullopt;
  const std::size_t count = apps->size();
  std::vector<IApp> list;
  list.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    auto app = IApp::decodeStored((*apps)[i]);
    if (!app) return std::nullopt;
    list.push_back(std::move(*app));
  }
  layout.apps = std::move(list);
  if (close) {
    layout.alwaysCloseOtherApps = close->boolean();
    if (!layout.alwaysCloseOtherApps) return std::nullopt;
  }
  return layout;
}

std::optional<std::vector<Layout>> decodeStoredLayouts(std::span<const std::uint8_t> bytes) {
  const auto view = coding::PlistView::open(bytes);
  if (!view) return std::nullopt;
  const coding::PlistObject records = view->top();
  if (!records.isArray()) return std::nullopt;
  std::vector<Layout> layouts;
  layouts.reserve(records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    auto layout = Layout::decodeStored(records[i]);
    if (!layout) return std::nullopt;
    layouts.push_back(std::move(*layout));
  }
  return layouts;
}

bool sameNames(const std::vector<Layout>& a, const std::vector<Layout>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const Layout& x, const Layout& y) { return x.name == y.name; });
}

}  // namespace wendrix
