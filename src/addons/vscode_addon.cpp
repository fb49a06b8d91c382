#include "addons/vscode_addon.h"

#include "addons/addon_window_opener.h"
#include "addons/file_paths.h"
#include "addons/vscode_menu_reader.h"
#include "analytics/track.h"

namespace wendrix {

std::string_view rawValue(VSCodeSourceType type) {
  return type == VSCodeSourceType::url ? "url" : "recent";
}

std::optional<VSCodeSourceType> vscodeSourceTypeFromRawValue(std::string_view raw) {
  if (raw == "url") return VSCodeSourceType::url;
  if (raw == "recent") return VSCodeSourceType::recent;
  return std::nullopt;
}

coding::Value VSCodeState::encode() const {
  coding::Dictionary dict;
  dict.set("sourceType", coding::Value(rawValue(sourceType())));
  if (const base::Url* u = fileURL()) {
    dict.set("url", coding::Value(*u));
  } else {
    dict.set("name", coding::Value(*recentName()));
  }
  return coding::Value(std::move(dict));
}

base::Result<VSCodeState> VSCodeState::decode(const coding::Reader& reader) {
  coding::Fields f(reader);
  const auto raw = f.required<std::string>("sourceType");
  if (!f.ok()) return f.finish(VSCodeState::recent({}));
  const auto type = vscodeSourceTypeFromRawValue(raw);
  if (!type) {
    return reader.error(coding::ErrorCode::dataCorrupted,
                        "unknown VSCodeSourceType \"" + raw + "\"");
  }
  if (*type == VSCodeSourceType::recent) {
    auto name = f.required<std::string>("name");
    return f.finish(VSCodeState::recent(std::move(name)));
  }
  auto member = reader.at("url");
  if (!member) return member.error();
  auto u = member->url();
  if (!u) return u.error();
  return VSCodeState::url(std::move(u).value());
}

std::optional<VSCodeState> VSCodeAddon::stateFor(std::string_view title,
                                                 const winsys::UIElementPtr& window) const {
  const auto entry = vscode::recentEntryForTitle(title, window);
  if (!entry) return std::nullopt;
  const std::string path = addons::expandingTildeInPath(*entry);
  if (const auto isDirectory = addons::isDirectoryAt(path)) {
    return VSCodeState::url(addons::fileURL(path, *isDirectory));
  }
  if (auto workspace = workspaceFileURL(addons::fileURL(path))) {
    return VSCodeState::url(std::move(*workspace));
  }
  return VSCodeState::recent(*entry);
}

std::optional<VSCodeState> VSCodeAddon::state(const winsys::Window& window) const {
  return stateFor(window.title(), window.uiElement());
}

std::optional<base::Url> VSCodeAddon::workspaceFileURL(const base::Url& url) const {
  if (!workspaceRegex_) return std::nullopt;
  const auto path = url.filePath();
  if (!path) return std::nullopt;
  const auto prefix = workspaceRegex_->textBeforeFirstMatch(addons::lastPathComponent(*path));
  if (!prefix) return std::nullopt;
  // The same folder: the path up to its last component.
  std::string folder = *path;
  while (folder.size() > 1 && folder.back() == '/')
    folder.pop_back();
  folder.erase(folder.rfind('/') + 1);
  const std::string candidate = folder + *prefix + ".code-workspace";
  if (!addons::isDirectoryAt(candidate)) return std::nullopt;
  return addons::fileURL(candidate);
}

std::vector<IWindow> VSCodeAddon::captureWindows(
    const std::vector<winsys::WindowPtr>& windows) const {
  return captureWindowsWithState(windows, [](const VSCodeState&) { return true; });
}

std::optional<AddonDisplay> VSCodeAddon::display(const VSCodeState& state) const {
  if (const base::Url* u = state.fileURL()) {
    return AddonDisplay{addons::deletingPathExtension(addons::lastPathComponent(*u)), std::nullopt};
  }
  return std::nullopt;
}

rx::Single<MatchedWindows> VSCodeAddon::restore(
    const IApp& app, const std::shared_ptr<AppLauncher>& launcher) const {
  using Opener = WindowOpener<VSCodeState>;
  using State = std::optional<VSCodeState>;
  return rx::Single<MatchedWindows>::deferred([addon = sharedAs<VSCodeAddon>(), launcher, app] {
    auto opener = Opener::make(addon, launcher, app);
    opener->includeTitleChanges();
    opener->dropRepeatedStates(
        [name = app.bundleId.value_or("VSCode")](const IWindow&, const VSCodeState& state) {
          Track::unsupportedMultipleWindows(name, rawValue(state.sourceType()));
        });
    return Opener::run(
        opener, {
                    [](Opener& o) { return o.recordInitiallyOpenWindows(); },
                    [](Opener& o) { return o.matchOpenWindows(); },
                    [](Opener& o) {
                      return o.openByURL(
                          [](const IWindow&, const State& state) -> std::optional<base::Url> {
                            if (const base::Url* url = state ? state->fileURL() : nullptr)
                              return *url;
                            return std::nullopt;
                          });
                    },
                    [](Opener& o) {
                      return o.matchOpenWindows([](const State&, const State&) { return true; });
                    },
                    [](Opener& o) { return o.openRemainingByDisplay(); },
                    [](Opener& o) { return o.tidyUnmatchedWindows(); },
                });
  });
}

}  // namespace wendrix

std::size_t std::hash<wendrix::VSCodeState>::operator()(
    const wendrix::VSCodeState& state) const noexcept {
  if (const base::Url* u = state.fileURL()) return 0 ^ (std::hash<base::Url>{}(*u) << 1);
  return 1 ^ (std::hash<std::string>{}(*state.recentName()) << 1);
}
