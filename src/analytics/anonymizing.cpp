#include "analytics/anonymizing.h"

#include "analytics/vocabulary.h"

namespace wendrix {

AnonymizingReplacements anonymizingReplacements(const AppIdentity& app) {
  return {
      {app.displayName, std::string(placeholders::kAppName)},
      {app.bundleId, std::string(placeholders::kAppBundleId)},
      {app.bundleURL, std::string(placeholders::kAppBundleURL)},
  };
}

AnonymizingReplacements anonymizingReplacementsForApps(std::span<const AppIdentity> apps) {
  AnonymizingReplacements result;
  result.reserve(apps.size() * 3);
  for (const auto& app : apps) {
    auto pairs = anonymizingReplacements(app);
    result.insert(result.end(), pairs.begin(), pairs.end());
  }
  return result;
}

AnonymizingReplacements anonymizingReplacementsForLayouts(std::span<const LayoutIdentity> layouts) {
  AnonymizingReplacements result;
  for (const auto& layout : layouts) {
    result.push_back({layout.name, std::string(placeholders::kLayoutName)});
    auto pairs = anonymizingReplacementsForApps(layout.apps);
    result.insert(result.end(), pairs.begin(), pairs.end());
  }
  return result;
}

std::string anonymize(std::string text, const AnonymizingReplacements& replacements) {
  for (const auto& [value, placeholder] : replacements) {
    // An empty value would match everywhere and never advance.
    if (!value || value->empty()) continue;
    std::string out;
    std::size_t from = 0;
    for (auto at = text.find(*value); at != std::string::npos; at = text.find(*value, from)) {
      out.append(text, from, at - from).append(placeholder);
      from = at + value->size();
    }
    if (from == 0) continue;  // no occurrence
    out.append(text, from, std::string::npos);
    text = std::move(out);
  }
  return text;
}

}  // namespace wendrix
