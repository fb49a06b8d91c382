#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "base/url.h"
#include "coding/plist_view.h"
#include "coding/reader.h"
#include "coding/value.h"
#include "model/saved_window.h"

namespace wendrix {

// One saved application.
struct IApp {
  std::optional<std::string> bundleId;
  std::optional<base::Url> bundleURL;
  // Captured windows in capture order.
  std::vector<IWindow> windows;
  // The main window at capture (index 0).
  std::optional<IWindow> mainWindow;

  // The same application: equal bundleId and equal bundleURL (each both
  // absent or both equal). windows and mainWindow take no part.
  friend bool operator==(const IApp& a, const IApp& b) {
    return a.bundleId == b.bundleId && a.bundleURL == b.bundleURL;
  }

  // Agrees with ==: bundleId then bundleURL, each as marker 1 and the value's
  // hash when set, or marker 0 alone when absent.
  std::size_t hash() const;

  coding::Value encode() const;
  static base::Result<IApp> decode(const coding::Reader& reader);
  // As decode over the Value of `object`, read in place; nullopt where
  // decode would fail, and where it might (the caller then decodes the tree).
  static std::optional<IApp> decodeStored(const coding::PlistObject& object);
};

}  // namespace wendrix

template <>
struct std::hash<wendrix::IApp> {
  std::size_t operator()(const wendrix::IApp& app) const noexcept { return app.hash(); }
};
