#include "addons/sourcetree_addon.h"

#include "addons/addon_window_opener.h"
#include "addons/file_paths.h"
#include "analytics/track.h"
#include "model/shortcut.h"

namespace wendrix {

std::string_view rawValue(SourcetreeWindowTypes type) {
  return type == SourcetreeWindowTypes::repo ? "repo" : "browser";
}

std::optional<SourcetreeWindowTypes> sourcetreeWindowTypeFromRawValue(std::string_view raw) {
  if (raw == "repo") return SourcetreeWindowTypes::repo;
  if (raw == "browser") return SourcetreeWindowTypes::browser;
  return std::nullopt;
}

coding::Value SourcetreeState::encode() const {
  coding::Dictionary dict;
  dict.set("windowType", coding::Value(rawValue(windowType())));
  if (path_) dict.set("path", coding::Value(*path_));
  return coding::Value(std::move(dict));
}

base::Result<SourcetreeState> SourcetreeState::decode(const coding::Reader& reader) {
  coding::Fields f(reader);
  const auto raw = f.required<std::string>("windowType");
  if (!f.ok()) return f.finish(SourcetreeState::browser());
  const auto type = sourcetreeWindowTypeFromRawValue(raw);
  if (!type) {
    return reader.error(coding::ErrorCode::dataCorrupted,
                        "unknown SourcetreeWindowTypes \"" + raw + "\"");
  }
  if (*type == SourcetreeWindowTypes::browser) return SourcetreeState::browser();
  auto member = reader.at("path");
  if (!member) return member.error();
  auto url = member->url();
  if (!url) return url.error();
  return SourcetreeState::repo(std::move(url).value());
}

std::optional<SourcetreeState> SourcetreeAddon::stateOfElement(const winsys::UIElementPtr& window) {
  static constexpr std::string_view kRepoPrefix = "repo:";
  if (!window) return std::nullopt;
  const auto identifier = window->attribute(winsys::UIAttribute::identifier);
  if (!identifier) return std::nullopt;
  if (*identifier == "repobrowser") return SourcetreeState::browser();
  if (identifier->starts_with(kRepoPrefix)) {
    return SourcetreeState::repo(
        addons::fileURL(std::string_view(*identifier).substr(kRepoPrefix.size()), true));
  }
  return std::nullopt;
}

std::optional<SourcetreeState> SourcetreeAddon::state(const winsys::Window& window) const {
  return stateOfElement(window.uiElement());
}

std::optional<AddonDisplay> SourcetreeAddon::display(const SourcetreeState& state) const {
  if (const base::Url* path = state.path()) {
    return AddonDisplay{addons::lastPathComponent(*path), std::nullopt};
  }
  return std::nullopt;
}

rx::Single<MatchedWindows> SourcetreeAddon::restore(
    const IApp& app, const std::shared_ptr<AppLauncher>& launcher) const {
  using Opener = WindowOpener<SourcetreeState>;
  using State = std::optional<SourcetreeState>;
  return rx::Single<MatchedWindows>::deferred([addon = sharedAs<SourcetreeAddon>(), launcher, app] {
    auto opener = Opener::make(addon, launcher, app);
    opener->dropRepeatedStates(
        [name = app.bundleId.value_or("Sourcetree")](const IWindow&, const SourcetreeState& state) {
          Track::unsupportedMultipleWindows(name, rawValue(state.windowType()));
        });
    return Opener::run(
        opener, {
                    [](Opener& o) { return o.recordInitiallyOpenWindows(); },
                    [](Opener& o) { return o.matchOpenWindows(); },
                    [](Opener& o) {
                      return o.openByURL(
                          [](const IWindow&, const State& state) -> std::optional<base::Url> {
                            if (const base::Url* path = state ? state->path() : nullptr)
                              return *path;
                            return std::nullopt;
                          });
                    },
                    [](Opener& o) {
                      return o.openByShortcut(
                          [](const IWindow&, const State& state) -> std::optional<IShortcut> {
                            if (state && state->windowType() == SourcetreeWindowTypes::browser) {
                              return IShortcut{29, kMaskCommand};
                            }
                            return std::nullopt;
                          });
                    },
                    [](Opener& o) { return o.tidyUnmatchedWindows(); },
                });
  });
}

}  // namespace wendrix

std::size_t std::hash<wendrix::SourcetreeState>::operator()(
    const wendrix::SourcetreeState& state) const noexcept {
  if (const base::Url* path = state.path()) return 1 ^ (std::hash<base::Url>{}(*path) << 1);
  return 0;
}
