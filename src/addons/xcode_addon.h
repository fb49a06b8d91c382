#pragma once

// The Xcode addon: tells what kind of Xcode window a window is from its
// accessibility element, saves that kind (with a project's path), and labels
// it in the layout details.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "addons/typed_addon.h"
#include "coding/codable.h"
#include "engine/app_launcher.h"
#include "winsys/ui_element.h"

namespace wendrix {

// The tag of a stored Xcode state, coded as its raw value.
enum class XcodeWindowTypes {
  project,
  documentation,
  archives,
  welcome,
  devices,
  touchbar,
  unsupported
};

// "project", "documentation", "archives", "welcome", "devices", "touchbar",
// "unsupported".
std::string_view rawValue(XcodeWindowTypes type);
std::optional<XcodeWindowTypes> xcodeWindowTypeFromRawValue(std::string_view raw);

// The state of one Xcode window: a project window with its path, or one of
// the payload-free kinds. Coded as {"windowType": raw, "project": path}, the
// path only for a project.
class XcodeAddonState {
 public:
  static XcodeAddonState project(std::string path) {
    return XcodeAddonState(XcodeWindowTypes::project, std::move(path));
  }
  static XcodeAddonState documentation() {
    return XcodeAddonState(XcodeWindowTypes::documentation);
  }
  static XcodeAddonState archives() { return XcodeAddonState(XcodeWindowTypes::archives); }
  static XcodeAddonState welcome() { return XcodeAddonState(XcodeWindowTypes::welcome); }
  static XcodeAddonState devices() { return XcodeAddonState(XcodeWindowTypes::devices); }
  static XcodeAddonState touchbar() { return XcodeAddonState(XcodeWindowTypes::touchbar); }
  static XcodeAddonState unsupported() { return XcodeAddonState(XcodeWindowTypes::unsupported); }

  XcodeWindowTypes windowType() const { return type_; }
  // The project's path; nullptr for the other kinds.
  const std::string* projectPath() const {
    return type_ == XcodeWindowTypes::project ? &path_ : nullptr;
  }

  friend bool operator==(const XcodeAddonState&, const XcodeAddonState&) = default;

  coding::Value encode() const;
  static base::Result<XcodeAddonState> decode(const coding::Reader& reader);

 private:
  explicit XcodeAddonState(XcodeWindowTypes type, std::string path = {})
      : type_(type), path_(std::move(path)) {}

  XcodeWindowTypes type_;
  std::string path_;
};

class XcodeAddon final : public TypedAddon<XcodeAddonState> {
 public:
  std::optional<XcodeAddonState> state(const winsys::Window& window) const override;
  // The windows that are neither minimized nor without a state nor
  // `unsupported`, each indexed by its position in the whole list (so
  // indices may have gaps). A state that cannot be encoded drops its window
  // without a report.
  std::vector<IWindow> captureWindows(const std::vector<winsys::WindowPtr>& windows) const override;
  // Each distinct displayable state once, in first-seen order; undecodable
  // states are skipped without a report.
  std::vector<AddonDisplay> displays(const IApp& app) const override;
  // A project's file name, "Docs", "Archives", "Devices" or "Touch Bar";
  // none for `welcome` and `unsupported`.
  std::optional<AddonDisplay> display(const XcodeAddonState& state) const override;

  // Reopens the saved windows with a window opener: repeats dropped and reported, open windows
  // paired by state and then with saved windows without one, projects opened by path, the other
  // kinds by their keystrokes, then the leftovers tidied.
  rx::Single<MatchedWindows> restore(const IApp& app,
                                     const std::shared_ptr<AppLauncher>& launcher) const override;

  // The kind of window whose accessibility element is `window`; none without
  // an element.
  static std::optional<XcodeAddonState> classifyWindow(const winsys::UIElementPtr& window);
};

}  // namespace wendrix

template <>
struct std::hash<wendrix::XcodeAddonState> {
  std::size_t operator()(const wendrix::XcodeAddonState& state) const noexcept;
};
