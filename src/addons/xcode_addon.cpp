#include "addons/xcode_addon.h"

#include <unordered_set>

#include "addons/addon_window_opener.h"
#include "addons/file_paths.h"
#include "analytics/track.h"
#include "model/shortcut.h"

namespace wendrix {

namespace {

constexpr XcodeWindowTypes kAllTypes[] = {
    XcodeWindowTypes::project,    XcodeWindowTypes::documentation, XcodeWindowTypes::archives,
    XcodeWindowTypes::welcome,    XcodeWindowTypes::devices,       XcodeWindowTypes::touchbar,
    XcodeWindowTypes::unsupported};

constexpr std::string_view kWorkspaceWindow = "Xcode.WorkspaceWindow";

}  // namespace

std::string_view rawValue(XcodeWindowTypes type) {
  switch (type) {
    case XcodeWindowTypes::project:
      return "project";
    case XcodeWindowTypes::documentation:
      return "documentation";
    case XcodeWindowTypes::archives:
      return "archives";
    case XcodeWindowTypes::welcome:
      return "welcome";
    case XcodeWindowTypes::devices:
      return "devices";
    case XcodeWindowTypes::touchbar:
      return "touchbar";
    case XcodeWindowTypes::unsupported:
      return "unsupported";
  }
  return "unsupported";
}

std::optional<XcodeWindowTypes> xcodeWindowTypeFromRawValue(std::string_view raw) {
  for (XcodeWindowTypes type : kAllTypes) {
    if (rawValue(type) == raw) return type;
  }
  return std::nullopt;
}

coding::Value XcodeAddonState::encode() const {
  coding::Dictionary dict;
  dict.set("windowType", coding::Value(rawValue(type_)));
  if (type_ == XcodeWindowTypes::project) dict.set("project", coding::Value(path_));
  return coding::Value(std::move(dict));
}

base::Result<XcodeAddonState> XcodeAddonState::decode(const coding::Reader& reader) {
  coding::Fields f(reader);
  const auto raw = f.required<std::string>("windowType");
  if (!f.ok()) return f.finish(XcodeAddonState::unsupported());
  const auto type = xcodeWindowTypeFromRawValue(raw);
  if (!type) {
    return reader.error(coding::ErrorCode::dataCorrupted,
                        "unknown XcodeWindowTypes \"" + raw + "\"");
  }
  if (*type == XcodeWindowTypes::project) {
    auto path = f.required<std::string>("project");
    return f.finish(XcodeAddonState::project(std::move(path)));
  }
  return f.finish(XcodeAddonState(*type));
}

std::optional<XcodeAddonState> XcodeAddon::classifyWindow(const winsys::UIElementPtr& window) {
  using winsys::UIAttribute;
  if (!window) return std::nullopt;
  const auto identifier = window->attribute(UIAttribute::identifier);
  if (identifier == "Documentation Viewer Window") return XcodeAddonState::documentation();
  if (identifier == "_IDEProductsUI:OrganizerWindow") return XcodeAddonState::archives();

  const auto subrole = window->attribute(UIAttribute::subrole);
  if (subrole == "AXDialog") return XcodeAddonState::welcome();
  if (subrole == "AXSystemFloatingWindow") return XcodeAddonState::touchbar();

  const bool workspace = identifier == kWorkspaceWindow;
  bool splitGroupSeen = false;
  for (const auto& child : window->children().value_or(std::vector<winsys::UIElementPtr>{})) {
    if (!child) continue;
    const auto childIdentifier = child->attribute(UIAttribute::identifier);
    const auto path = child->attribute(UIAttribute::path);
    const auto role = child->attribute(UIAttribute::role);
    if (workspace && childIdentifier == "Workspace window tab content" && path) {
      return XcodeAddonState::project(*path);
    }
    if (role == "AXSplitGroup") splitGroupSeen = true;
  }

  if (workspace) {
    if (auto document = window->attribute(UIAttribute::document)) {
      return XcodeAddonState::project(*document);
    }
  }
  return splitGroupSeen ? XcodeAddonState::devices() : XcodeAddonState::unsupported();
}

std::optional<XcodeAddonState> XcodeAddon::state(const winsys::Window& window) const {
  return classifyWindow(window.uiElement());
}

std::vector<IWindow> XcodeAddon::captureWindows(
    const std::vector<winsys::WindowPtr>& windows) const {
  return captureWindowsWithState(windows, [](const XcodeAddonState& s) {
    return s.windowType() != XcodeWindowTypes::unsupported;
  });
}

std::vector<AddonDisplay> XcodeAddon::displays(const IApp& app) const {
  std::vector<AddonDisplay> out;
  std::unordered_set<XcodeAddonState> shown;
  for (const IWindow& window : app.windows) {
    if (!window.addonState) continue;
    auto decoded = decodeState(*window.addonState);
    if (!decoded || shown.contains(*decoded)) continue;
    auto entry = display(*decoded);
    if (!entry) continue;  // welcome and unsupported
    shown.insert(*decoded);
    out.push_back(std::move(*entry));
  }
  return out;
}

std::optional<AddonDisplay> XcodeAddon::display(const XcodeAddonState& state) const {
  switch (state.windowType()) {
    case XcodeWindowTypes::project:
      return AddonDisplay{addons::lastPathComponent(addons::fileURL(*state.projectPath())),
                          std::nullopt};
    case XcodeWindowTypes::documentation:
      return AddonDisplay{"Docs", std::nullopt};
    case XcodeWindowTypes::archives:
      return AddonDisplay{"Archives", std::nullopt};
    case XcodeWindowTypes::devices:
      return AddonDisplay{"Devices", std::nullopt};
    case XcodeWindowTypes::touchbar:
      return AddonDisplay{"Touch Bar", std::nullopt};
    case XcodeWindowTypes::welcome:
    case XcodeWindowTypes::unsupported:
      return std::nullopt;
  }
  return std::nullopt;
}

namespace {

// The keystroke with which Xcode opens a window of this kind.
std::optional<IShortcut> xcodeShortcut(const std::optional<XcodeAddonState>& state) {
  if (!state) return std::nullopt;
  switch (state->windowType()) {
    case XcodeWindowTypes::documentation:
      return IShortcut{29, kMaskCommand | kMaskShift};
    case XcodeWindowTypes::archives:
      return IShortcut{31, kMaskCommand | kMaskAlternate | kMaskShift};
    case XcodeWindowTypes::welcome:
      return IShortcut{18, kMaskCommand | kMaskShift};
    case XcodeWindowTypes::devices:
      return IShortcut{19, kMaskCommand | kMaskShift};
    case XcodeWindowTypes::touchbar:
      return IShortcut{28, kMaskCommand | kMaskShift};
    case XcodeWindowTypes::project:
    case XcodeWindowTypes::unsupported:
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

rx::Single<MatchedWindows> XcodeAddon::restore(const IApp& app,
                                               const std::shared_ptr<AppLauncher>& launcher) const {
  using Opener = WindowOpener<XcodeAddonState>;
  using State = std::optional<XcodeAddonState>;
  return rx::Single<MatchedWindows>::deferred([addon = sharedAs<XcodeAddon>(), launcher, app] {
    auto opener = Opener::make(addon, launcher, app);
    opener->dropRepeatedStates(
        [name = app.bundleId.value_or("Xcode")](const IWindow&, const XcodeAddonState& state) {
          Track::unsupportedMultipleWindows(name, rawValue(state.windowType()));
        });
    return Opener::run(
        opener,
        {
            [](Opener& o) { return o.recordInitiallyOpenWindows(); },
            [](Opener& o) { return o.matchOpenWindows(); },
            [](Opener& o) {
              return o.matchOpenWindows([](const State& saved, const State&) { return !saved; });
            },
            [](Opener& o) {
              return o.openByURL(
                  [](const IWindow&, const State& state) -> std::optional<base::Url> {
                    if (const std::string* path = state ? state->projectPath() : nullptr) {
                      return base::Url::fromFilePath(*path);
                    }
                    return std::nullopt;
                  });
            },
            [](Opener& o) {
              return o.openByShortcut(
                  [](const IWindow&, const State& state) { return xcodeShortcut(state); });
            },
            [](Opener& o) { return o.tidyUnmatchedWindows(); },
        });
  });
}

}  // namespace wendrix

std::size_t std::hash<wendrix::XcodeAddonState>::operator()(
    const wendrix::XcodeAddonState& state) const noexcept {
  const auto position = static_cast<std::size_t>(state.windowType());
  if (const std::string* path = state.projectPath()) {
    return position ^ (std::hash<std::string>{}(*path) << 1);
  }
  return position;
}
