#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace wendrix {

// One step of anonymizing an error text: every occurrence of `value` becomes
// `placeholder`. A pair without a value replaces nothing.
struct AnonymizingReplacement {
  std::optional<std::string> value;
  std::string placeholder;

  friend bool operator==(const AnonymizingReplacement&, const AnonymizingReplacement&) = default;
};

// Applied pair by pair in list order; lists are joined by concatenation.
using AnonymizingReplacements = std::vector<AnonymizingReplacement>;

// What anonymizing needs of a saved or running application.
struct AppIdentity {
  std::optional<std::string> displayName;  // the application's display name, if it has one
  std::optional<std::string> bundleId;
  std::optional<std::string> bundleURL;  // the bundle URL's absolute string
};

// What anonymizing needs of a layout.
struct LayoutIdentity {
  std::string name;
  std::vector<AppIdentity> apps;
};

// (display name, "APP_NAME"), (bundle id, "APP_BUNDLE_ID"), (bundle URL, "APP_BUNDLE_URL").
AnonymizingReplacements anonymizingReplacements(const AppIdentity& app);
// The three pairs of each application, in list order; serves saved and
// running applications alike.
AnonymizingReplacements anonymizingReplacementsForApps(std::span<const AppIdentity> apps);
// Per layout, in list order: (name, "LAYOUT_NAME"), then the pairs of its apps.
AnonymizingReplacements anonymizingReplacementsForLayouts(std::span<const LayoutIdentity> layouts);

// Replaces, pair by pair in list order, every literal case-sensitive
// occurrence of the pair's value by its placeholder. Earlier pairs act first;
// text produced by a placeholder is not searched again by the same pair. A
// pair without a value or with an empty value changes nothing.
std::string anonymize(std::string text, const AnonymizingReplacements& replacements);

}  // namespace wendrix
