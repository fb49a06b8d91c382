#include "app/menus/new_feature_highlight.h"

#include <string>

#include "analytics/track.h"
#include "analytics/vocabulary.h"

namespace wendrix {

namespace {

std::string withoutPrefix(std::string_view title) {
  std::string out;
  for (std::size_t at = 0;;) {
    const std::size_t found = title.find(kNewFeaturePrefix, at);
    if (found == std::string_view::npos) {
      out += title.substr(at);
      return out;
    }
    out += title.substr(at, found - at);
    at = found + kNewFeaturePrefix.size();
  }
}

}  // namespace

void showNewFeatureHighlight(toolkit::MenuItem& item, bool used) {
  const std::string& title = item.title();
  const bool prefixed = title.starts_with(kNewFeaturePrefix);
  if (used) {
    if (prefixed) item.setTitle(withoutPrefix(title));
  } else if (!prefixed) {
    Track::newFeatureHighlight();
    item.setTitle(std::string(kNewFeaturePrefix) + title);
  }
}

rx::Observable<rx::Unit> bindNewFeatureHighlight(rx::Observable<bool> flag,
                                                 std::shared_ptr<toolkit::MenuItem> item) {
  return flag.distinctUntilChanged().map([item = std::move(item)](const bool& used) {
    showNewFeatureHighlight(*item, used);
    return rx::Unit{};
  });
}

}  // namespace wendrix
