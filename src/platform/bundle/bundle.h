#pragma once

// Bundle information: what the system knows about an installed application
// (its location, identifier, display name, executable name, whether it is an
// agent without a Dock presence) and about the program itself.
//
// On Linux an application's bundle is its XDG desktop entry: the bundle
// identifier is the desktop-file id, the bundle URL the file URL of the
// .desktop file, Name gives kBundleNameKey, the base name of the Exec program
// kBundleExecutableKey, and X-Wendrix-Agent=true or NoDisplay=true
// kUIElementKey. The program's own information is its AppIdentity
// (app_identity.h), generated at build time.

#include <optional>
#include <string>
#include <string_view>

#include "base/url.h"
#include "coding/value.h"

namespace platform {

// Keys of a bundle's information dictionary.
inline constexpr std::string_view kBundleNameKey = "CFBundleName";
inline constexpr std::string_view kBundleIdentifierKey = "CFBundleIdentifier";
inline constexpr std::string_view kBundleExecutableKey = "CFBundleExecutable";
inline constexpr std::string_view kBundleVersionKey = "CFBundleVersion";
inline constexpr std::string_view kBundleShortVersionKey = "CFBundleShortVersionString";
inline constexpr std::string_view kUIElementKey = "LSUIElement";

struct Bundle {
  base::Url url;
  // Values as the bundle declares them; a key may hold any type.
  coding::Dictionary info;

  // The value under `key` when it is present and a string.
  std::optional<std::string> infoString(std::string_view key) const;
  // The value under `key` when it is present and a boolean.
  std::optional<bool> infoBool(std::string_view key) const;
  std::optional<std::string> identifier() const { return infoString(kBundleIdentifierKey); }
};

// Looks bundles up. Lookups read the system each time; they do not fail, they
// find nothing.
class BundleProvider {
 public:
  virtual ~BundleProvider() = default;

  // The bundle at `url`, when there is one.
  virtual std::optional<Bundle> bundleAt(const base::Url& url) const = 0;
  // A bundle whose identifier is exactly `identifier` (case-sensitive).
  virtual std::optional<Bundle> bundleWithIdentifier(std::string_view identifier) const = 0;
  // The program's own bundle.
  virtual const Bundle& mainBundle() const = 0;
};

}  // namespace platform
