#pragma once

// The code editor's addon: works out which folder or workspace an editor
// window shows from its title and the editor's recent-items submenu, saves it
// as a file URL (or the recent entry's text when nothing of that name is on
// disk), and labels it in the layout details.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "addons/regex.h"
#include "addons/typed_addon.h"
#include "base/url.h"
#include "coding/codable.h"
#include "engine/app_launcher.h"

namespace wendrix {

// The tag of a stored editor state, coded as its raw value.
enum class VSCodeSourceType { url, recent };

// "url", "recent".
std::string_view rawValue(VSCodeSourceType type);
std::optional<VSCodeSourceType> vscodeSourceTypeFromRawValue(std::string_view raw);

// A file or folder (or workspace file) on disk as a file URL, or the text of a
// recent entry that names nothing on disk. Coded as {"sourceType": raw,
// "url": URL} or {"sourceType": raw, "name": text}.
class VSCodeState {
 public:
  static VSCodeState url(base::Url url) { return VSCodeState(std::move(url)); }
  static VSCodeState recent(std::string name) { return VSCodeState(std::move(name)); }

  VSCodeSourceType sourceType() const {
    return std::holds_alternative<base::Url>(value_) ? VSCodeSourceType::url
                                                     : VSCodeSourceType::recent;
  }
  // The URL of a `url` state; nullptr otherwise.
  const base::Url* fileURL() const { return std::get_if<base::Url>(&value_); }
  // The entry text of a `recent` state; nullptr otherwise.
  const std::string* recentName() const { return std::get_if<std::string>(&value_); }

  friend bool operator==(const VSCodeState&, const VSCodeState&) = default;

  coding::Value encode() const;
  static base::Result<VSCodeState> decode(const coding::Reader& reader);

 private:
  explicit VSCodeState(std::variant<base::Url, std::string> value) : value_(std::move(value)) {}

  std::variant<base::Url, std::string> value_;
};

class VSCodeAddon final : public TypedAddon<VSCodeState> {
 public:
  // The registry compiles the two expressions; either may be missing. Only
  // `workspaceRegex` is used.
  VSCodeAddon(std::optional<addons::Regex> sshRegex, std::optional<addons::Regex> workspaceRegex)
      : sshRegex_(std::move(sshRegex)), workspaceRegex_(std::move(workspaceRegex)) {}

  // The recent entry the window's title names: `url` of what is on disk at
  // its path (a folder as a directory URL), else `url` of its workspace file,
  // else `recent` of the entry's text; none without an entry.
  std::optional<VSCodeState> state(const winsys::Window& window) const override;
  // The windows that are neither minimized nor without a state, each indexed
  // by its position in the whole list. A state that cannot be encoded drops
  // its window without a report.
  std::vector<IWindow> captureWindows(const std::vector<winsys::WindowPtr>& windows) const override;
  // The URL's last path component without its extension; none for `recent`.
  std::optional<AddonDisplay> display(const VSCodeState& state) const override;

  // Reopens the saved windows with a window opener: retitled windows count as new, repeats dropped
  // and reported, open windows paired by state, folders and workspaces opened by URL, remaining
  // open windows paired with any saved one, the rest opened by "New Window" and paired by document,
  // then the leftovers tidied.
  rx::Single<MatchedWindows> restore(const IApp& app,
                                     const std::shared_ptr<AppLauncher>& launcher) const override;

  // A workspace file beside the path of `url` whose last component ends in a
  // blank and a parenthesised suffix: the component up to the match, plus
  // ".code-workspace", when that file exists.
  std::optional<base::Url> workspaceFileURL(const base::Url& url) const;

  // The state for a window titled `title` whose accessibility element is
  // `window`.
  std::optional<VSCodeState> stateFor(std::string_view title,
                                      const winsys::UIElementPtr& window) const;

  bool hasSshRegex() const { return sshRegex_.has_value(); }
  bool hasWorkspaceRegex() const { return workspaceRegex_.has_value(); }

 private:
  std::optional<addons::Regex> sshRegex_;
  std::optional<addons::Regex> workspaceRegex_;
};

}  // namespace wendrix

template <>
struct std::hash<wendrix::VSCodeState> {
  std::size_t operator()(const wendrix::VSCodeState& state) const noexcept;
};
