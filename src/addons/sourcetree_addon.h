#pragma once

// The Sourcetree addon: tells a repository window (saved with its folder)
// from the repository browser by the window's accessibility identifier.

#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

#include "addons/typed_addon.h"
#include "base/url.h"
#include "coding/codable.h"
#include "engine/app_launcher.h"

namespace wendrix {

// The tag of a stored Sourcetree state, coded as its raw value.
enum class SourcetreeWindowTypes { repo, browser };

// "repo", "browser".
std::string_view rawValue(SourcetreeWindowTypes type);
std::optional<SourcetreeWindowTypes> sourcetreeWindowTypeFromRawValue(std::string_view raw);

// A repository window with its folder's directory URL, or the browser. Coded
// as {"windowType": raw, "path": URL}, the URL only for a repository.
class SourcetreeState {
 public:
  static SourcetreeState repo(base::Url path) { return SourcetreeState(std::move(path)); }
  static SourcetreeState browser() { return SourcetreeState(std::nullopt); }

  SourcetreeWindowTypes windowType() const {
    return path_ ? SourcetreeWindowTypes::repo : SourcetreeWindowTypes::browser;
  }
  // The repository's folder; nullptr for the browser.
  const base::Url* path() const { return path_ ? &*path_ : nullptr; }

  friend bool operator==(const SourcetreeState&, const SourcetreeState&) = default;

  coding::Value encode() const;
  static base::Result<SourcetreeState> decode(const coding::Reader& reader);

 private:
  explicit SourcetreeState(std::optional<base::Url> path) : path_(std::move(path)) {}

  std::optional<base::Url> path_;
};

// Capture and the label list are the base's: every window that is not
// minimized is saved (one without a state without addon data), and labels
// repeat.
class SourcetreeAddon final : public TypedAddon<SourcetreeState> {
 public:
  // "repobrowser" is the browser; "repo:<path>" the repository at <path>;
  // any other identifier, or none, gives no state.
  std::optional<SourcetreeState> state(const winsys::Window& window) const override;
  // A repository's folder name; none for the browser.
  std::optional<AddonDisplay> display(const SourcetreeState& state) const override;

  // Reopens the saved windows with a window opener: repeats dropped and reported, open windows
  // paired by state, repositories opened by folder, the browser by Command-0, then the leftovers
  // tidied.
  rx::Single<MatchedWindows> restore(const IApp& app,
                                     const std::shared_ptr<AppLauncher>& launcher) const override;

  static std::optional<SourcetreeState> stateOfElement(const winsys::UIElementPtr& window);
};

}  // namespace wendrix

template <>
struct std::hash<wendrix::SourcetreeState> {
  std::size_t operator()(const wendrix::SourcetreeState& state) const noexcept;
};
